#!/usr/bin/env bash
# The real 32-bit VexilConn.dll, once, on a machine that cannot run 32-bit x86 programs natively:
# 32-bit Wine, its server included, runs under qemu-user's i386 emulator, registered as a
# binfmt_misc handler for this test only, in a 32-bit prefix of its own. The sample host (x86)
# loads the DLL and meets the native ha-agent: Register, a check and a counts request answered, a
# warning, and a clean stop at the end of its input.
#
# All of 32-bit Wine runs under the emulator, though that is slow: a 32-bit program in a 64-bit
# prefix (server and services native, only the program emulated) starts quicker, but there the
# connector's worker never made its first connect (5 minutes after "connector started"), although
# the same prefix without emulation serves the whole exchange.
#   x86_smoke.sh [--prefix-only] MINGW_X86_BUILD_DIR NATIVE_BUILD_DIR
# --prefix-only makes the 32-bit prefix and ends (scripts/test runs it in the background while the
# native tests run, which mostly wait); a later run without it uses that prefix, or reports at once
# that it could not be made.
#
# Where the kernel gives each user namespace its own binfmt_misc (Linux 6.7 and later), the test
# runs in a user and mount namespace of its own, so the handler is never seen by any other process
# on the machine. Otherwise it registers the handler globally and removes it on every way out.
#
# Emulation is slow: making the prefix takes minutes, and so may the host's start.
# Every step is bounded. When emulation cannot be set up the test says so loudly and passes; when
# the DLL misbehaves it fails. The emulator itself has been seen to crash a host process ("qemu:
# uncaught target signal"): the test judges the exchange the agent saw, and runs it once more when
# the emulator crashed before the exchange was complete (a crash every time is the emulator's, and
# said loudly, not a failure).
set -euo pipefail
if [ "${1:-}" = --prefix-only ]; then
  export VEXIL_SMOKE_PREFIX_ONLY=1
  shift
fi
prefix_only=${VEXIL_SMOKE_PREFIX_ONLY:-0}
x86_build=$(cd "$1" && pwd)
native_build=$(cd "$2" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
handler=vexil-i386
address=127.0.0.88

warn_loudly() {
  echo "!!"
  echo "!! x86 smoke test gave no verdict: $*"
  echo "!! the 32-bit DLL was checked statically only in this run"
  echo "!!"
  exit 0
}

if [ "${VEXIL_SMOKE_INSIDE:-}" != 1 ]; then
  command -v qemu-i386-static >/dev/null || warn_loudly "qemu-i386-static is not installed"
  [ "$(id -u)" -eq 0 ] || warn_loudly "registering a binfmt_misc handler needs root"
  # A private binfmt_misc in a user and mount namespace of our own, where the kernel has them.
  if unshare --user --map-root-user --mount \
      sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null; then
    exec env VEXIL_SMOKE_INSIDE=1 VEXIL_SMOKE_PRIVATE=1 \
      unshare --user --map-root-user --mount bash "$0" "$@"
  fi
  export VEXIL_SMOKE_INSIDE=1 VEXIL_SMOKE_PRIVATE=0
fi

entry=/proc/sys/fs/binfmt_misc/$handler
mounted_here=0
work=$(mktemp -d)
agent_pid=
host_pid=
prefix=$x86_build/wineprefix-emulated
wine_run=("$source/scripts/wine-run" --arch x86 --prefix "$prefix")
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  "${wine_run[@]}" --stop-server 2>/dev/null || true
  # The handler goes first, so that nothing after this test mistakes emulation for native support.
  if [ -e "$entry" ]; then
    echo -1 >"$entry" || echo "!! x86 smoke test: could not remove the binfmt_misc handler $entry"
  fi
  [ "$mounted_here" -eq 1 ] && umount /proc/sys/fs/binfmt_misc 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
    warn_loudly "binfmt_misc cannot be mounted at /proc/sys/fs/binfmt_misc"
  mounted_here=1
fi
[ -e "$entry" ] && echo -1 >"$entry" # left over from a run that was killed
# i386 ELF programs (static and dynamic), matched as qemu-user's own handler matches them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf '%s' ":$handler:M::$magic:$mask:$(command -v qemu-i386-static):F" \
  >/proc/sys/fs/binfmt_misc/register 2>/dev/null ||
  warn_loudly "the i386 binfmt_misc handler could not be registered"
if [ "$VEXIL_SMOKE_PRIVATE" = 1 ]; then
  echo "x86 smoke test: i386 handler registered in this test's own binfmt_misc"
else
  echo "x86 smoke test: i386 handler registered machine-wide until this test ends"
fi
# The probe itself, not the variable that forces its answer.
finding=$(env -u VEXIL_NO_NATIVE_32BIT bash "$source/scripts/arch-probe" 2>&1 >/dev/null)
echo "$finding"
case $finding in
  *"binfmt_misc handler"*) ;;
  *) warn_loudly "the i386 handler did not take effect" ;;
esac

started=$SECONDS
# A prefix is only kept once it was made whole: one cut short by the time limit is made afresh by
# the next run. Made in the background, it may take longer: the machine is busy with other work.
prefix_minutes=8
[ "$prefix_only" = 1 ] && prefix_minutes=12
if [ "$prefix_only" = 1 ]; then
  rm -f "$prefix.failed"
  [ -f "$prefix.made" ] && exit 0
elif [ -f "$prefix.failed" ]; then
  rm -f "$prefix.failed"
  warn_loudly "32-bit Wine did not make its prefix under the emulator (in the background)"
fi
if [ ! -f "$prefix.made" ]; then
  rm -rf "$prefix"
  echo "x86 smoke test: making the 32-bit prefix under emulation (at most $prefix_minutes minutes)"
  if ! timeout $((prefix_minutes * 60)) "${wine_run[@]}" --server-only; then
    "${wine_run[@]}" --stop-server 2>/dev/null || true
    rm -rf "$prefix"
    [ "$prefix_only" = 1 ] && touch "$prefix.failed"
    warn_loudly "32-bit Wine did not make its prefix under the emulator within $prefix_minutes minutes"
  fi
  touch "$prefix.made"
  if [ "$prefix_only" = 1 ]; then
    echo "x86 smoke test: 32-bit prefix made after $((SECONDS - started)) s"
    exit 0
  fi
else
  timeout 300 "${wine_run[@]}" --server-only ||
    warn_loudly "32-bit Wine did not start under the emulator within 5 minutes"
fi
prefix_seconds=$((SECONDS - started))
echo "x86 smoke test: 32-bit Wine ready after $prefix_seconds s"

cat >"$work/agent.script" <<'SCRIPT'
expect Register 300000 gsid=7
check 5
expect CheckReply 60000 value=5
counts
expect CountsReply 60000
expect Warning 60000 "low memory"
quit
SCRIPT

# exchange ATTEMPT: 0 when the agent saw the whole exchange and the host stopped cleanly.
exchange() {
  local attempt=$1
  "$native_build/bin/ha-agent" --listen "$address" --script "$work/agent.script" \
    >"$work/agent-$attempt.txt" 2>&1 &
  agent_pid=$!
  rm -f "$work/host-input"
  mkfifo "$work/host-input"
  (cd "$x86_build/bin" && exec timeout 420 "${wine_run[@]}" sample-host.exe -GSID:7 \
    -HAPORT:8990 "-HAIP:$address" --warn-seconds 2 --run-seconds 400 \
    <"$work/host-input" >"$work/host-$attempt.txt" 2>&1) &
  host_pid=$!
  exec 3>"$work/host-input"
  local agent_status=0 host_status=0
  wait "$agent_pid" || agent_status=$?
  agent_pid=
  exec 3>&- # end of input: the host stops
  wait "$host_pid" || host_status=$?
  host_pid=
  echo "---- agent (attempt $attempt, status $agent_status)"
  cat "$work/agent-$attempt.txt"
  echo "---- host (attempt $attempt, status $host_status)"
  tr -d '\r' <"$work/host-$attempt.txt"
  [ "$agent_status" -eq 0 ] || return 1
  grep -q '^stopped, status ' <(tr -d '\r' <"$work/host-$attempt.txt") || return 1
  [ "$host_status" -eq 0 ] && return 0
  # The exchange and the stop are what the DLL does; a crash of the emulator at exit is not.
  grep -q 'qemu: uncaught target signal' "$work/host-$attempt.txt" || return 1
  echo "x86 smoke test: the emulator crashed the host after it had stopped (counted, not failed)"
}

for attempt in 1 2; do
  # A second attempt only when the prefix was there already: the whole test stays within 16 minutes.
  if [ "$attempt" -eq 2 ] && [ "$prefix_seconds" -gt 120 ]; then
    warn_loudly "the emulator crashed the host before the exchange was complete, and no time is left to retry"
  fi
  if exchange "$attempt"; then
    echo "x86 smoke test passed on attempt $attempt after $((SECONDS - started)) s"
    exit 0
  fi
  if ! grep -q 'qemu: uncaught target signal' "$work/host-$attempt.txt"; then
    echo "x86 smoke test FAILED: the 32-bit DLL did not complete the exchange"
    exit 1
  fi
  echo "x86 smoke test: the emulator crashed the host (attempt $attempt)"
done
warn_loudly "the emulator crashed the host on both attempts before the exchange was complete"
