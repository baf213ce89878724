#!/usr/bin/env bash
# Compares the binary interface of three builds (Linux GCC, Windows x86, Windows x64) with the
# baselines recorded in tests/abi/baseline/, or records them anew from those builds (--update,
# which scripts/abi-baseline runs). The same checkers run as ctest tests in each ordinary build
# (tests/abi/CMakeLists.txt); this runs them together, for the release suite and for updates:
#
# - Linux: libvexilconn.so's ABI, the exports and the public header's types, by abidw and abidiff
#   (library_abi.py): an incompatible change fails with abidiff's report, a compatible one (a
#   function added) passes and says so;
# - Windows: the export table of VexilConn.dll and Zoth.dll of each architecture, by name and
#   ordinal (export_table.py);
# - every architecture: the header's struct layouts and C++ interfaces' slot orders as each
#   compiler lays them out (header_layout.py).
#
#   check_interface.sh [--update] LINUX_BUILD_DIR WINDOWS_X86_BUILD_DIR WINDOWS_X64_BUILD_DIR
# for example build/native build/mingw-x86 build/mingw-x64, or the release's
# build/release-work/{linux,windows-x86,windows-x64}.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
update_flag=()
if [ "${1:-}" = --update ]; then
  update_flag=(--update)
  shift
fi
usage="usage: check_interface.sh [--update] LINUX_BUILD_DIR WINDOWS_X86_BUILD_DIR WINDOWS_X64_BUILD_DIR"
[ $# -eq 3 ] || { echo "$usage" >&2; exit 2; }
linux=$(cd "$1" && pwd)
baseline=$here/baseline
status=0

echo "== Linux: libvexilconn.so's ABI"
python3 "$here/library_abi.py" --library "$linux/lib/libvexilconn.so" \
  --headers "$source/include/vexilconn" --baseline "$baseline/libvexilconn.abi" \
  "${update_flag[@]}" || status=1

for arch in x86 x64; do
  case $arch in
    x86) triple=i686-w64-mingw32 dir=$2 ;;
    x64) triple=x86_64-w64-mingw32 dir=$3 ;;
  esac
  for dll in VexilConn Zoth; do
    echo "== Windows $arch: $dll.dll's exports"
    # One baseline for both architectures: the x86 build writes it, the x64 build is held to it.
    flag=()
    [ "$arch" = x86 ] && flag=("${update_flag[@]}")
    python3 "$here/export_table.py" --objdump "$triple-objdump" \
      --dll "$dir/bin/$dll.dll" --baseline "$baseline/$dll.exports" "${flag[@]}" || status=1
  done
done

for target in linux-x86_64:g++ windows-x86:i686-w64-mingw32-g++-posix \
              windows-x64:x86_64-w64-mingw32-g++-posix; do
  echo "== ${target%%:*}: the header's layouts"
  python3 "$here/header_layout.py" --cxx "${target#*:}" --include "$source/include" \
    --baseline "$baseline/layout-${target%%:*}.txt" "${update_flag[@]}" || status=1
done
exit $status
