#!/usr/bin/env python3
"""Runs the release packaging twice into WORK_DIR and checks what a Windows
user gets: the zip's members, the executable's bytes, CRLF text files, a
SHA256SUMS that sha256sum itself accepts, and the same zip from the second run
even when the inputs carry other times and permissions.

usage: check_package.py PACKAGER VERSION CHANGELOG EXE ICON README LICENSE WORK_DIR
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

packager, version, changelog, exe, icon, readme, licence, work = sys.argv[1:]
inputs = [changelog, exe, icon, readme, licence]
folder = f"quorin-{version}"
zip_name = f"{folder}-win32.zip"
failures = []


def check(case, expected, got):
    if expected != got:
        failures.append(f"{case}: expected {expected!r}, got {got!r}")


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def sha256(path):
    return hashlib.sha256(read_bytes(path)).hexdigest()


def package(input_paths, out_dir):
    subprocess.run([sys.executable, packager, version, *input_paths, out_dir],
                   check=True, stdout=subprocess.DEVNULL)
    return read_bytes(os.path.join(out_dir, zip_name)), read_bytes(os.path.join(out_dir, "SHA256SUMS"))


shutil.rmtree(work, ignore_errors=True)
first_dir = os.path.join(work, "first")
first_zip, first_sums = package(inputs, first_dir)

with zipfile.ZipFile(os.path.join(first_dir, zip_name)) as archive:
    check("member list", [f"{folder}/{name}" for name in ("quorin.exe", "Quorin.ico", "README.txt", "LICENSE.txt")],
          archive.namelist())
    archive.extractall(first_dir)
extracted = os.path.join(first_dir, folder)
for name, source in (("quorin.exe", exe), ("Quorin.ico", icon)):
    check(f"{name} in the zip is {source} (SHA-256)", sha256(source), sha256(os.path.join(extracted, name)))
for name in ("README.txt", "LICENSE.txt"):
    text = read_bytes(os.path.join(extracted, name))
    check(f"{name} lines ending in LF alone", 0, len(re.findall(rb"(?<!\r)\n", text)))
    check(f"{name} ends with CRLF", True, text.endswith(b"\r\n"))
check("LICENSE.txt is LICENSE", read_bytes(licence), read_bytes(os.path.join(extracted, "LICENSE.txt")).replace(b"\r\n", b"\n"))
check("README.txt names the version", True, f"Quorin {version}".encode() in read_bytes(os.path.join(extracted, "README.txt")))

# sha256sum itself judges the format; the names are the two files a user checks.
verified = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=first_dir,
                          capture_output=True, text=True)
check("sha256sum --check SHA256SUMS", f"{zip_name}: OK\n{folder}/quorin.exe: OK\n", verified.stdout + verified.stderr)

# Second run: inputs copied with other times and permissions, under another
# umask, more than the zip format's two-second time step later.
copies = os.path.join(work, "inputs")
os.makedirs(copies)
copied_inputs = []
for index, path in enumerate(inputs):
    copy = os.path.join(copies, f"{index}-{os.path.basename(path)}")
    shutil.copyfile(path, copy)
    os.chmod(copy, 0o600)
    os.utime(copy, (1_000_000_000, 1_000_000_000))
    copied_inputs.append(copy)
time.sleep(2.1)
os.umask(0o077)
second_zip, second_sums = package(copied_inputs, os.path.join(work, "second"))
check("second run gives the same zip (SHA-256)", hashlib.sha256(first_zip).hexdigest(),
      hashlib.sha256(second_zip).hexdigest())
check("second run gives the same SHA256SUMS", first_sums.decode(), second_sums.decode())

for failure in failures:
    print("FAIL:", failure)
if not failures:
    print(f"ok: {zip_name} and SHA256SUMS\n{first_sums.decode()}", end="")
sys.exit(1 if failures else 0)
