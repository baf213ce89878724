#!/usr/bin/env bash
# Installs a VexilConn build, builds the consumer project against the installed tree with the MinGW
# toolchain of the build's architecture, and runs it under Wine of that architecture (with the
# installed ha-agent when --with-agent is given). Hosts of the other architecture, and Linux hosts,
# must be refused at find_package with a message that says what to do.
#
#   run_consumer.sh BUILD_DIR SOURCE_DIR ARCH [--with-agent] [--check-version]
# ARCH: x86 or x64, the build's architecture.
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
arch=$3
shift 3
case $arch in
  x86) other=x64 bits=32 ;;
  x64) other=x86 bits=64 ;;
  *) echo "run_consumer: ARCH must be x86 or x64" >&2; exit 2 ;;
esac
with_agent=OFF
check_version=OFF
for arg in "$@"; do
  case $arg in
    --with-agent) with_agent=ON ;;
    --check-version) check_version=ON ;;
    *) echo "run_consumer: unexpected argument $arg" >&2; exit 2 ;;
  esac
done

work=$build/tests/package/work
rm -rf "$work"
mkdir -p "$work"
prefix=$work/install
wine_run=("$source/scripts/wine-run" --arch "$arch" --prefix "$build/wineprefix")
echo "run_consumer: the $arch package, its consumer under Wine $arch"

fail() {
  echo "run_consumer: $*" >&2
  for log in "$work"/*.log; do
    echo "---- $log" >&2
    cat "$log" >&2
  done
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  fail "cmake --install failed"
for file in include/vexilconn/vexilconn.h bin/VexilConn.dll bin/Zoth.dll \
            lib/cmake/VexilConn/VexilConnConfig.cmake \
            lib/cmake/VexilConn/VexilConnConfigVersion.cmake; do
  [ -f "$prefix/$file" ] || fail "the installed tree lacks $file"
done
compgen -G "$prefix/lib/*VexilConn*.a" >/dev/null ||
  fail "the installed tree lacks VexilConn's import library"

# A host of the other architecture is refused at find_package (by the version file), and so is a
# Linux host (by the package config); each is told which toolchain the package needs.
if cmake -S "$source/tests/package/consumer" -B "$work/$other" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-$other.cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$work/$other.log" 2>&1; then
  fail "an $other consumer accepted the $arch package"
fi
tr -d '\n' <"$work/$other.log" | tr -s ' ' |
  grep -q "the $bits-bit Windows DLL: build a $bits-bit host with the MinGW-w64 .*toolchain" ||
  fail "the $other consumer was refused without saying which toolchain the package needs"
rm "$work/$other.log"
if cmake -S "$source/tests/package/consumer" -B "$work/native" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$work/native.log" 2>&1; then
  fail "a native configure accepted the Windows package"
fi
tr -d '\n' <"$work/native.log" | tr -s ' ' | grep -q "toolchain" ||
  fail "the native configure failed without naming the toolchain the package needs"
rm "$work/native.log"

cmake -S "$source/tests/package/consumer" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-$arch.cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCONSUMER_WITH_AGENT=$with_agent -DCONSUMER_CHECK_VERSION=$check_version \
  >"$work/configure.log" 2>&1 || fail "configuring the consumer failed"
cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "building the consumer failed"
[ -f "$work/build/VexilConn.dll" ] && [ -f "$work/build/Zoth.dll" ] ||
  fail "the DLLs were not copied beside game.exe"

# Wine's programs get files, never this script's output pipes: a Wine service started here and
# left running would otherwise hold ctest's pipe open.
agent_pid=
if [ $with_agent = ON ]; then
  [ -f "$prefix/bin/ha-agent.exe" ] || fail "the installed tree lacks bin/ha-agent.exe"
  cat >"$work/agent.script" <<'SCRIPT'
expect Register 30000 gsid=7
stat
expect StatListReply 10000 "players"
expect Warning 10000 "consumer warning"
check 9
wait 2000
quit
SCRIPT
  timeout 90 "${wine_run[@]}" "$prefix/bin/ha-agent.exe" --script "$work/agent.script" \
    </dev/null >"$work/agent.log" 2>&1 &
  agent_pid=$!
fi

game_status=0
# VexilInitConn wants at least four options: it refuses a shorter command line.
timeout 90 "${wine_run[@]}" "$work/build/game.exe" -GSID:7 -HAPORT:8990 -HAIP:127.0.0.1 \
  -CNFGFILE:game.ini </dev/null >"$work/game.log" 2>&1 || game_status=$?
agent_status=0
if [ -n "$agent_pid" ]; then
  wait "$agent_pid" || agent_status=$?
fi
[ $game_status -eq 0 ] || fail "game.exe exited with $game_status"
[ $agent_status -eq 0 ] || fail "ha-agent.exe exited with $agent_status"
cat "$work/game.log"
