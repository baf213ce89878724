#!/usr/bin/env bash
# Installs a VexilConn build, builds the consumer project against the installed tree and runs it
# (with the installed ha-agent when --with-agent is given, and then the consumer's C host too).
# Hosts the package does not fit must be refused at find_package with a message that says what to
# do.
#
# A Windows build (ARCH x86 or x64): the consumer is built with the MinGW toolchain of the build's
# architecture and run under Wine of that architecture; hosts of the other architecture, and Linux
# hosts, are refused.
# A Linux build (ARCH native): the consumer is built natively with the build's compilers, once
# through find_package and once by hand with the flags pkg-config gives, and both are run; Windows
# hosts are refused. --flags gives the compile and link flags every consumer needs: those of the
# sanitizer the library was built with, whose runtime must come first in the process.
#
# --tree PREFIX takes a tree made elsewhere instead of installing BUILD_DIR: an unpacked release
# archive, or /usr after the Debian packages were installed. Then the consumer project and the
# toolchain files are copied out of SOURCE_DIR into WORK_DIR first, as a host developer's own
# project would be, and the run fails if any file of the consumer's builds names SOURCE_DIR or the
# tree's builder: what the tree holds must be enough. --no-run builds but runs nothing (a 32-bit
# Windows tree on a machine that runs no 32-bit programs). --wine-prefix chooses the Wine prefix.
#
#   run_consumer.sh BUILD_DIR SOURCE_DIR ARCH [--with-agent] [--check-version] [--address ADDRESS]
#                   [--compiler CXX] [--c-compiler CC] [--flags "FLAGS"]
#                   [--tree PREFIX --work WORK_DIR [--wine-prefix DIR] [--no-run]]
# ADDRESS: the agent's loopback address (127.0.0.1 unless given).
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
arch=$3
shift 3
case $arch in
  x86) other=x64 bits=32 ;;
  x64) other=x86 bits=64 ;;
  native) ;;
  *) echo "run_consumer: ARCH must be x86, x64 or native" >&2; exit 2 ;;
esac
with_agent=OFF
check_version=OFF
address=127.0.0.1
compiler=c++
c_compiler=cc
flags=
tree=
work=
wine_prefix=
run_programs=1
while [ $# -gt 0 ]; do
  case $1 in
    --with-agent) with_agent=ON ;;
    --check-version) check_version=ON ;;
    --address) address=$2; shift ;;
    --compiler) compiler=$2; shift ;;
    --c-compiler) c_compiler=$2; shift ;;
    --flags) flags=$2; shift ;;
    --tree) tree=$2; shift ;;
    --work) work=$2; shift ;;
    --wine-prefix) wine_prefix=$2; shift ;;
    --no-run) run_programs=0 ;;
    *) echo "run_consumer: unexpected argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ -n "$tree" ]; then
  [ -n "$work" ] || { echo "run_consumer: --tree needs --work" >&2; exit 2; }
  prefix=$(cd "$tree" && pwd)
else
  work=$build/tests/package/work
  prefix=$work/install
fi
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
wine_prefix=${wine_prefix:-$build/wineprefix}
if [ -n "$tree" ]; then
  # The host developer's own project and toolchain files, away from this repository.
  cp -r "$source/tests/package/consumer" "$work/consumer"
  mkdir -p "$work/toolchains"
  cp "$source"/cmake/mingw-x86.cmake "$source"/cmake/mingw-x64.cmake \
    "$source"/cmake/mingw-toolchain.cmake "$work/toolchains/"
  consumer=$work/consumer
  toolchains=$work/toolchains
else
  consumer=$source/tests/package/consumer
  toolchains=$source/cmake
fi

fail() {
  echo "run_consumer: $*" >&2
  shopt -s nullglob
  for log in "$work"/*.log "$work"/connector/*.log; do
    echo "---- $log" >&2
    cat "$log" >&2
  done
  exit 1
}

# The consumer looks for the package in the tree under test alone: not in the system's folders
# (also reached through PATH, /usr/bin giving /usr) unless the tree is /usr, nor in a registry. A
# VexilConn package installed there must not answer for the tree.
find_only_prefix=(-DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
                  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
if [ "$prefix" != /usr ]; then
  find_only_prefix+=("-DCMAKE_IGNORE_PREFIX_PATH=/usr;/usr/local")
fi

# refused NAME PATTERN CMAKE_ARGS...: configuring the consumer with those arguments must fail at
# find_package, with a message that matches PATTERN (line breaks and runs of spaces folded).
refused() {
  local name=$1 pattern=$2
  shift 2
  if cmake -S "$consumer" -B "$work/$name" "${find_only_prefix[@]}" "$@" \
      >"$work/$name.log" 2>&1; then
    fail "the $name consumer accepted the package"
  fi
  tr -d '\n' <"$work/$name.log" | tr -s ' ' | grep -q "$pattern" ||
    fail "the $name consumer was refused without saying what to do"
  rm "$work/$name.log"
}

if [ -z "$tree" ]; then
  cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    fail "cmake --install failed"
fi

if [ "$arch" = native ]; then
  echo "run_consumer: the Linux package, its consumer built natively with $compiler ${flags:-}"
  for file in include/vexilconn/vexilconn.h lib/libvexilconn.so lib/libvexilconn.so.0 \
              lib/cmake/VexilConn/VexilConnConfig.cmake \
              lib/cmake/VexilConn/VexilConnConfigVersion.cmake lib/pkgconfig/vexilconn.pc; do
    [ -e "$prefix/$file" ] || fail "the installed tree lacks $file"
  done

  # A Windows host is refused at find_package (by the version file) and told which package it
  # needs, whatever its architecture; each toolchain that is there is tried.
  for cross in x86 x64; do
    case $cross in
      x86) triple=i686-w64-mingw32 ;;
      x64) triple=x86_64-w64-mingw32 ;;
    esac
    if ! command -v "$triple-g++-posix" >/dev/null; then
      echo "run_consumer: no $triple-g++-posix here: the $cross Windows host's refusal is not tried"
      continue
    fi
    refused "windows-$cross" \
      "Linux library libvexilconn.so: a Windows host needs VexilConn's Windows package" \
      -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchains/mingw-$cross.cmake"
  done

  cmake -S "$consumer" -B "$work/build" -G Ninja "${find_only_prefix[@]}" \
    -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_COMPILER="$c_compiler" -DCMAKE_C_FLAGS="$flags" \
    -DCONSUMER_WITH_AGENT=$with_agent -DCONSUMER_CHECK_VERSION=$check_version \
    >"$work/configure.log" 2>&1 || fail "configuring the consumer failed"
  cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "building the consumer failed"
  game=$work/build/game
  game_c=$work/build/game-c

  # The same source by hand, with nothing but what pkg-config says; the version check takes the
  # version from the .pc file.
  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  pc_version=$(pkg-config --modversion vexilconn) || fail "pkg-config does not know vexilconn"
  read -ra pc_cflags <<<"$(pkg-config --cflags vexilconn)"
  read -ra pc_libs <<<"$(pkg-config --libs vexilconn)"
  pc_libdir=$(pkg-config --variable=libdir vexilconn)
  read -ra flag_words <<<"$flags"
  "$compiler" -std=c++17 -Wall -Wextra -Werror "${flag_words[@]}" "${pc_cflags[@]}" \
    -DCONSUMER_CHECK_VERSION "-DCONSUMER_PACKAGE_VERSION=\"$pc_version\"" "$consumer/game.cc" \
    "${pc_libs[@]}" "-Wl,-rpath,$pc_libdir" -o "$work/game-pc" >"$work/build-pc.log" 2>&1 ||
    fail "building the consumer with pkg-config's flags failed"
  export VEXILCONN_LOG_DIR=$work/connector
  "$work/game-pc" -GSID:7 -HAPORT:8990 "-HAIP:$address" -CNFGFILE:game.ini </dev/null \
    >"$work/game-pc.log" 2>&1 || fail "the consumer built with pkg-config's flags failed"
  # Each consumer must run with the installed library, found through its run path.
  loaded="loaded $(realpath "$prefix")/lib/libvexilconn.so.$pc_version"
  grep -qx "$loaded" "$work/game-pc.log" ||
    fail "the consumer built with pkg-config's flags did not load the installed library"
  cat "$work/game-pc.log"

  if [ $with_agent = ON ]; then
    agent=$(cat "$work/build/ha-agent-path")
    [ "$agent" = "$prefix/bin/ha-agent" ] ||
      fail "the package's VexilConn::ha-agent is $agent, not the installed bin/ha-agent"
  fi
  runner=()
else
  echo "run_consumer: the $arch package, its consumer under Wine $arch"
  for file in include/vexilconn/vexilconn.h bin/VexilConn.dll bin/Zoth.dll \
              lib/cmake/VexilConn/VexilConnConfig.cmake \
              lib/cmake/VexilConn/VexilConnConfigVersion.cmake; do
    [ -f "$prefix/$file" ] || fail "the installed tree lacks $file"
  done
  compgen -G "$prefix/lib/*VexilConn*.a" >/dev/null ||
    fail "the installed tree lacks VexilConn's import library"

  # A host of the other architecture, and a Linux host, are refused at find_package (by the
  # version file); each is told what the package needs.
  refused "$other" \
    "the $bits-bit Windows DLL: build a $bits-bit host with the MinGW-w64 .*toolchain" \
    -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchains/mingw-$other.cmake"
  refused native "a Linux host needs VexilConn's Linux package.*MinGW-w64 .*toolchain"

  cmake -S "$consumer" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchains/mingw-$arch.cmake" "${find_only_prefix[@]}" \
    -DCONSUMER_WITH_AGENT=$with_agent -DCONSUMER_CHECK_VERSION=$check_version \
    >"$work/configure.log" 2>&1 || fail "configuring the consumer failed"
  cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "building the consumer failed"
  [ -f "$work/build/VexilConn.dll" ] && [ -f "$work/build/Zoth.dll" ] ||
    fail "the DLLs were not copied beside game.exe"
  game=$work/build/game.exe
  game_c=$work/build/game-c.exe
  agent=$prefix/bin/ha-agent.exe
  runner=("$source/scripts/wine-run" --arch "$arch" --prefix "$wine_prefix")
fi

if [ -n "$tree" ]; then
  # Nothing the consumer's builds used may come from this repository: only the tree.
  named=$(grep -rlF "$source" "$work/build" "$work/consumer" "$work/toolchains" 2>/dev/null || true)
  [ -z "$named" ] || fail "the consumer's build names $source, not only the tree: $named"
fi
if [ $run_programs -eq 0 ]; then
  echo "run_consumer: built against $prefix; not run on this machine (--no-run)"
  exit 0
fi

# run_host NAME PROGRAM: runs the host PROGRAM (against the agent with --with-agent), its output
# in $work/NAME.log.
run_host() {
  local name=$1 program=$2 agent_pid= host_status=0 agent_status=0
  # Wine's programs get files, never this script's output pipes: a Wine service started here
  # and left running would otherwise hold ctest's pipe open.
  if [ $with_agent = ON ]; then
    [ -f "$agent" ] || fail "the installed tree lacks $agent"
    timeout 90 "${runner[@]}" "$agent" --listen "$address" --script "$work/agent.script" \
      </dev/null >"$work/agent-$name.log" 2>&1 &
    agent_pid=$!
  fi
  # VexilInitConn wants at least four options: it refuses a shorter command line.
  timeout 90 "${runner[@]}" "$program" -GSID:7 -HAPORT:8990 "-HAIP:$address" \
    -CNFGFILE:game.ini </dev/null >"$work/$name.log" 2>&1 || host_status=$?
  if [ -n "$agent_pid" ]; then
    wait "$agent_pid" || agent_status=$?
  fi
  [ $host_status -eq 0 ] || fail "the consumer $name exited with $host_status"
  [ $agent_status -eq 0 ] || fail "ha-agent exited with $agent_status after $name"
}

cat >"$work/agent.script" <<'SCRIPT'
expect Register 30000 gsid=7
stat
expect StatListReply 10000 "players"
expect Warning 10000 "consumer warning"
check 9
wait 2000
quit
SCRIPT

if [ "$arch" != native ]; then
  # One persistent server for the prefix across the hosts and their agents: a program started
  # while the previous program's server is shutting down loses its connection to it ("wine client
  # error: recvmsg: Connection reset by peer") and never runs.
  timeout 300 "${runner[@]}" --server-only || fail "Wine's server for $wine_prefix did not start"
  trap '"${runner[@]}" --stop-server' EXIT
fi
run_host game "$game"
if [ "$arch" = native ]; then
  grep -qx "$loaded" "$work/game.log" || fail "the consumer did not load the installed library"
  compgen -G "$work/connector/game_*.log" >/dev/null ||
    fail "the connector wrote no log into VEXILCONN_LOG_DIR"
fi
cat "$work/game.log"
if [ $with_agent = ON ]; then
  run_host game-c "$game_c"
  cat "$work/game-c.log"
fi
