#!/usr/bin/env bash
# Checks a release made by scripts/release from its files alone, as its users meet it:
#
# - SHA256SUMS holds for every file; with --again, a second release of the same commit (made in
#   other build folders) is byte-identical to the first;
# - no file in any archive or package names the repository's folder (no build paths);
# - each archive is unpacked into an empty folder outside the repository, and a host project of
#   its own (the package consumer, copied out) is built from it alone and run against the
#   archive's ha-agent: the Linux tarball through CMake and pkg-config, in C++ and in C, and the
#   C# sample host with the tarball's binding and library; each Windows zip through its CMake
#   package with the MinGW toolchain of its architecture, run under Wine where this machine runs
#   that architecture (otherwise built only), and a C host linked by an MSVC-ABI linker (lld-link)
#   against its VexilConn.lib, which must import the plain names;
# - the Debian packages are installed with dpkg -i, a host is built against the installed files
#   and run against the installed ha-agent, and both are removed again without a trace. That needs
#   root and packages of the same names not installed already; otherwise it is skipped, loudly.
#
#   check_release.sh SOURCE_DIR RELEASE_DIR [--again RELEASE_DIR2] [--wine-arches "x86 x64"]
#                    [--archives | --packages]
#
# --archives checks all but the Debian packages, --packages only them: installing them for real
# puts a VexilConn package and ha-agent in the system's folders, so scripts/test does it alone,
# after every other suite has ended.
#
# The agents listen on 127.0.0.162 to 127.0.0.166. Wine runs in prefixes of this check's own.
set -euo pipefail
source=$(cd "$1" && pwd)
release=$(cd "$2" && pwd)
shift 2
again=
wine_arches="x86 x64"
archives=1
packages=1
while [ $# -gt 0 ]; do
  case $1 in
    --again) again=$(cd "$2" && pwd); shift 2 ;;
    --wine-arches) wine_arches=$2; shift 2 ;;
    --archives) packages=0; shift ;;
    --packages) archives=0; shift ;;
    *) echo "check_release: unexpected argument $1" >&2; exit 2 ;;
  esac
done

version=$(sed -n 's/^project(VexilConn VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
scratch=$(mktemp -d /tmp/vexilconn-release-check.XXXXXX)
installed_packages=0
cleanup() {
  if [ "$installed_packages" -eq 1 ]; then
    dpkg -r libvexilconn-dev libvexilconn0 >/dev/null 2>&1 || true
  fi
  for arch in x86 x64; do
    [ -d "$scratch/wineprefix-$arch" ] &&
      "$source/scripts/wine-run" --arch "$arch" --prefix "$scratch/wineprefix-$arch" --stop-server
  done
  rm -rf "$scratch"
}
trap cleanup EXIT
section() { echo "== check_release: $*"; }
fail() { echo "check_release: FAILED: $*" >&2; exit 1; }

section "checksums"
(cd "$release" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not hold"
mapfile -t files < <(awk '{ print $2 }' "$release/SHA256SUMS")
[ ${#files[@]} -eq 5 ] || fail "SHA256SUMS lists ${#files[@]} files, not the release's 5"
if [ -n "$again" ]; then
  cmp "$release/SHA256SUMS" "$again/SHA256SUMS" ||
    { diff "$release/SHA256SUMS" "$again/SHA256SUMS" || true; fail "two releases of one commit differ"; }
  echo "a second release of this commit, built in other folders, is byte-identical"
fi

if [ "$archives" -eq 1 ]; then
  section "unpacked, nothing names $source"
  for file in "${files[@]}"; do
    mkdir -p "$scratch/unpacked/$file"
    case $file in
      *.zip) unzip -q "$release/$file" -d "$scratch/unpacked/$file" ;;
      *.tar.gz) tar -xzf "$release/$file" -C "$scratch/unpacked/$file" ;;
      *.deb) dpkg-deb -x "$release/$file" "$scratch/unpacked/$file" ;;
    esac
  done
  named=$(grep -rlF "$source" "$scratch/unpacked" || true)
  [ -z "$named" ] || fail "these files name the build's folder: $named"
  tree_of() { echo "$scratch/unpacked/$1/${1%.*}" | sed 's/\.tar$//'; }

  section "Linux tarball: C++ and C hosts through CMake and pkg-config"
  linux=$(tree_of "vexilconn-$version-linux-x86_64.tar.gz")
  bash "$source/tests/package/run_consumer.sh" "$scratch" "$source" native --tree "$linux" \
    --work "$scratch/linux-consumer" --with-agent --check-version --address 127.0.0.162 \
    --compiler g++ --c-compiler gcc

  section "Linux tarball: the C# host with the tarball's binding and library"
  csharp_status=0
  bash "$source/tests/csharp/run_csharp_host.sh" --binding "$linux/include/vexilconn/VexilConn.cs" \
    --address 127.0.0.165 "$source" "$linux/bin" "$linux/lib" "$scratch/csharp" || csharp_status=$?
  # 77: mono missing, said loudly above; scripts/setup installs it.
  [ "$csharp_status" -eq 0 ] || [ "$csharp_status" -eq 77 ] || fail "the C# host failed"

  for arch in x64 x86; do
    windows=$(tree_of "vexilconn-$version-windows-$arch.zip")
    section "Windows $arch zip: a MinGW host through the CMake package"
    case $arch in
      x64) address=127.0.0.163 target=x86_64-pc-windows-msvc machine=x64 ;;
      x86) address=127.0.0.164 target=i686-pc-windows-msvc machine=x86 ;;
    esac
    run=(--with-agent)
    if [[ " $wine_arches " != *" $arch "* ]]; then
      run=(--no-run)
    fi
    bash "$source/tests/package/run_consumer.sh" "$scratch" "$source" "$arch" --tree "$windows" \
      --work "$scratch/windows-$arch-consumer" --wine-prefix "$scratch/wineprefix-$arch" \
      --check-version --address "$address" "${run[@]}"

    section "Windows $arch zip: a C host linked by lld-link against VexilConn.lib"
    if ! command -v clang >/dev/null || ! command -v lld-link >/dev/null; then
      echo "SKIPPED: clang or lld-link missing (packages clang, lld-14): VexilConn.lib not tried"
      continue
    fi
    probe=$scratch/msvc-$arch
    mkdir -p "$probe"
    cat >"$probe/probe.c" <<'C'
#include <vexilconn/vexilconn.h>
int VexilProbe(void);
int VexilProbe(void) { return VexilGetStatus() + VexilInitConn(0, 0) + VexilGetConfigFileName(); }
C
    clang --target="$target" -ffreestanding -Wall -Werror -c "$probe/probe.c" \
      -I "$windows/include" -o "$probe/probe.obj"
    lld-link /nologo /dll /noentry "/machine:$machine" "/out:$probe/probe.dll" /export:VexilProbe \
      "$probe/probe.obj" "$windows/lib/VexilConn.lib"
    imports=$(objdump -p "$probe/probe.dll" | awk '/DLL Name: VexilConn.dll/ { on = 1; next }
      on && NF == 0 { exit } on && $2 ~ /^[0-9]+$/ { print $3 }' | sort | tr '\n' ' ')
    [ "$imports" = "VexilGetConfigFileName VexilGetStatus VexilInitConn " ] ||
      fail "the MSVC-linked host imports \"$imports\" from VexilConn.dll, not the plain names"
    echo "ok: imports $imports"
  done
fi

if [ "$packages" -eq 1 ]; then
  section "Debian packages: installed, a host built and run against them, removed"
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: not root; dpkg -i of the packages was not tried"
  elif dpkg-query -W libvexilconn0 libvexilconn-dev >/dev/null 2>&1; then
    echo "SKIPPED: libvexilconn0 or libvexilconn-dev is installed on this machine already; it is" \
      "left alone and the packages were not tried"
  else
    installed_packages=1
    dpkg -i "$release/libvexilconn0_${version}_amd64.deb" \
      "$release/libvexilconn-dev_${version}_amd64.deb" >"$scratch/dpkg-install.log" 2>&1 ||
      { cat "$scratch/dpkg-install.log"; fail "dpkg -i failed"; }
    mapfile -t owned < <(dpkg-query -L libvexilconn0 libvexilconn-dev | sort -u)
    bash "$source/tests/package/run_consumer.sh" "$scratch" "$source" native --tree /usr \
      --work "$scratch/deb-consumer" --with-agent --check-version --address 127.0.0.166 \
      --compiler g++ --c-compiler gcc
    dpkg -r libvexilconn-dev libvexilconn0 >"$scratch/dpkg-remove.log" 2>&1 ||
      { cat "$scratch/dpkg-remove.log"; fail "dpkg -r failed"; }
    installed_packages=0
    left=()
    for path in "${owned[@]}"; do
      # Folders the system shares (/usr, /usr/lib, ...) stay; files and our own folders go.
      if [ -e "$path" ] && { [ ! -d "$path" ] || [[ $path == */vexilconn* ]] ||
        [[ $path == */VexilConn* ]] || [[ $path == */libvexilconn* ]]; }; then
        left+=("$path")
      fi
    done
    [ ${#left[@]} -eq 0 ] || fail "dpkg -r left ${left[*]}"
    [ ! -e /usr/lib/libvexilconn.so.0 ] || fail "the library's soname link is still there"
    echo "ok: installed, used and removed; nothing of the packages is left"
  fi
fi

section "passed"
