#!/bin/sh
# Builds the product a second time from a copy of the source tree in another
# folder and compares it with the first build: the same sources must give the
# same bytes whatever the folder, the time or the user.
# usage: check_reproducible.sh SOURCE_DIR PRESET EXE
set -eu
source_dir=$1 preset=$2 exe=$3

# A longer, different path than the original, so an embedded path shows.
scratch=$(mktemp -d /tmp/quorin-reproducible-check.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/another/source/folder
mkdir -p "$copy"
(cd "$source_dir" && tar -cf - --exclude=./build --exclude=./dist --exclude=./.git .) | (cd "$copy" && tar -xf -)

cd "$copy"
cmake --preset "$preset" > "$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log"; exit 1; }
cmake --build --preset "$preset" --target quorin -j 2 > "$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }

first=$(sha256sum < "$exe" | cut -d' ' -f1)
second=$(sha256sum < "$copy/build/$preset/quorin.exe" | cut -d' ' -f1)
if [ "$first" != "$second" ]; then
    echo "FAIL: $preset quorin.exe differs between two builds of the same sources"
    echo "  $first  $exe"
    echo "  $second  $copy/build/$preset/quorin.exe"
    exit 1
fi
echo "ok: $preset quorin.exe rebuilt in $copy is identical: $first"
