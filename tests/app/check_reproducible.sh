#!/usr/bin/env bash
# Copies the sources to another folder, builds the programs there and compares
# them and the installer package byte for byte with the build's own: no time
# stamp, path or folder name may reach them.
#
#   check_reproducible.sh SOURCE_DIR TOOLCHAIN_FILE MIMALLOC_DIR teldial.exe dial-service.exe ... teldial-*.msi
set -uo pipefail
source_dir=$1 toolchain=$2 mimalloc=$3
shift 3
again=$(mktemp -d /tmp/teldial-again.XXXXXX)
trap 'rm -rf "$again"' EXIT

mkdir -p "$again/other sources"
tar -C "$source_dir" --exclude=./build --exclude=./.deps --exclude=./.git -cf - . | tar -C "$again/other sources" -xf -
cmake -S "$again/other sources" -B "$again/other folder" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTELDIAL_MIMALLOC_SOURCE_DIR="$mimalloc" >/dev/null || exit 1
cmake --build "$again/other folder" --target teldial dial-service dial-service-tray release-msi >/dev/null || exit 1

failed=0
for program in "$@"; do
  name=$(basename "$program")
  rebuilt=$(find "$again/other folder" -name "$name" -type f | head -n 1)
  if [ -n "$rebuilt" ] && cmp "$program" "$rebuilt"; then
    echo "PASS: $name is byte-identical from two folders ($(stat -c %s "$program") bytes)"
  else
    echo "FAIL: $name differs when built in another folder"
    failed=1
  fi
done
exit "$failed"
