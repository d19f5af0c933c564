#!/usr/bin/env python3
"""Builds the release zip and its SHA256SUMS from the built executable.

usage: package.py VERSION CHANGELOG EXE ICON README LICENSE OUT_DIR

The zip depends on the inputs' bytes only: fixed member order, the release
date from the changelog as every member's time, fixed permissions. That way
anyone can rebuild it from the same commit and compare the sums.
"""
import hashlib
import os
import re
import sys
import zipfile


def release_date(changelog, version):
    pattern = re.compile(r"^## \[" + re.escape(version) + r"\] - (\d{4})-(\d{2})-(\d{2})$", re.M)
    with open(changelog, encoding="utf-8") as file:
        match = pattern.search(file.read())
    if match is None:
        sys.exit(f"package: {changelog} has no entry '## [{version}] - YYYY-MM-DD'")
    return tuple(int(part) for part in match.groups()) + (0, 0, 0)


# Notepad and friends expect CRLF; the repository keeps LF.
def windows_text(path, version):
    with open(path, "rb") as file:
        text = file.read().decode("ascii")
    text = text.replace("@VERSION@", version).replace("\r\n", "\n").replace("\n", "\r\n")
    return text.encode("ascii")


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def main():
    if len(sys.argv) != 8:
        sys.exit(__doc__.strip().splitlines()[2])
    version, changelog, exe, icon, readme, licence, out_dir = sys.argv[1:]
    folder = f"quorin-{version}"
    zip_name = f"{folder}-win32.zip"
    date = release_date(changelog, version)
    exe_bytes = read_bytes(exe)
    members = [
        ("quorin.exe", exe_bytes),
        ("Quorin.ico", read_bytes(icon)),
        ("README.txt", windows_text(readme, version)),
        ("LICENSE.txt", windows_text(licence, version)),
    ]

    os.makedirs(out_dir, exist_ok=True)
    zip_path = os.path.join(out_dir, zip_name)
    with zipfile.ZipFile(zip_path + ".tmp", "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(f"{folder}/{name}", date_time=date)
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)
    os.replace(zip_path + ".tmp", zip_path)

    sums = (f"{hashlib.sha256(read_bytes(zip_path)).hexdigest()}  {zip_name}\n"
            f"{hashlib.sha256(exe_bytes).hexdigest()}  {folder}/quorin.exe\n")
    with open(os.path.join(out_dir, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as file:
        file.write(sums)
    sys.stdout.write(sums)


if __name__ == "__main__":
    main()
