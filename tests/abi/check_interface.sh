#!/usr/bin/env bash
# Compares the binary interface of a release build (scripts/release's build folders) with the
# baselines recorded in tests/abi/baseline/, or records them anew (--update, which
# scripts/abi-baseline runs):
#
# - Linux: libvexilconn.so's ABI as abidw describes it from the debug information of the
#   unstripped library (the exported functions and every type they reach), compared by abidiff: an incompatible
#   change fails with abidiff's report, a compatible one (a function added) passes and says so;
# - Windows: the export table of VexilConn.dll and Zoth.dll of each architecture, by name and
#   ordinal (export_table.py);
# - every architecture: the header's struct layouts and C++ interfaces' slot orders as each
#   compiler lays them out (header_layout.py).
#
#   check_interface.sh [--update] RELEASE_WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
update=0
if [ "${1:-}" = --update ]; then
  update=1
  shift
fi
work=$(cd "${1:?usage: check_interface.sh [--update] RELEASE_WORK_DIR}" && pwd)
baseline=$here/baseline
version=$(sed -n 's/^project(VexilConn VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
update_flag=()
[ "$update" -eq 1 ] && update_flag=(--update)
status=0

# abidw's description is large and changes only on purpose: kept xz-compressed.
echo "== Linux: libvexilconn.so.$version against $baseline/libvexilconn.abi.xz"
library=$work/linux/lib/libvexilconn.so.$version
# Every type the exports reach, from the library's debug information (the release build maps the
# source folder to ".", so nothing in it names this machine's folders).
abidw_options=(--no-corpus-path --no-comp-dir-path --no-show-locs --drop-undefined-syms
               --type-id-style hash)
if [ "$update" -eq 1 ]; then
  abidw "${abidw_options[@]}" "$library" | xz -9 -T1 >"$baseline/libvexilconn.abi.xz"
  echo "baseline $baseline/libvexilconn.abi.xz written"
else
  xz -dc "$baseline/libvexilconn.abi.xz" >"$work/libvexilconn-baseline.abi"
  abidiff_status=0
  abidiff --no-show-locs "$work/libvexilconn-baseline.abi" "$library" >"$work/abidiff.txt" 2>&1 ||
    abidiff_status=$?
  # abidiff's status is a bit set: 1 error, 2 usage error, 4 a change, 8 an incompatible change.
  if [ $((abidiff_status & 3)) -ne 0 ]; then
    cat "$work/abidiff.txt"
    echo "libvexilconn.so: abidiff could not compare (status $abidiff_status)"
    status=1
  elif [ $((abidiff_status & 8)) -ne 0 ]; then
    cat "$work/abidiff.txt"
    echo "libvexilconn.so: INCOMPATIBLE with the baseline: a host built against it would break." \
      "Undo the change, or, for a new major version, update the baseline deliberately" \
      "(docs/compatibility.md)."
    status=1
  elif [ $((abidiff_status & 4)) -ne 0 ]; then
    cat "$work/abidiff.txt"
    echo "libvexilconn.so: compatible changes to the baseline (above); record them with" \
      "scripts/abi-baseline when the release that adds them is cut."
  else
    echo "libvexilconn.so: as in the baseline"
  fi
fi

for arch in x86 x64; do
  case $arch in
    x86) triple=i686-w64-mingw32 ;;
    x64) triple=x86_64-w64-mingw32 ;;
  esac
  for dll in VexilConn Zoth; do
    echo "== Windows $arch: $dll.dll's exports"
    # One baseline for both architectures: the x86 build writes it, the x64 build is held to it.
    flag=()
    [ "$arch" = x86 ] && flag=("${update_flag[@]}")
    python3 "$here/export_table.py" --objdump "$triple-objdump" \
      --dll "$work/windows-$arch/bin/$dll.dll" --baseline "$baseline/$dll.exports" "${flag[@]}" ||
      status=1
  done
done

for target in linux-x86_64:g++ windows-x86:i686-w64-mingw32-g++-posix \
              windows-x64:x86_64-w64-mingw32-g++-posix; do
  echo "== ${target%%:*}: the header's layouts"
  python3 "$here/header_layout.py" --cxx "${target#*:}" --include "$source/include" \
    --baseline "$baseline/layout-${target%%:*}.txt" "${update_flag[@]}" || status=1
done
exit $status
