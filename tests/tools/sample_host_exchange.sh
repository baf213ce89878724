#!/usr/bin/env bash
# A host meets every expectation of the example agent script run by ha-agent: registration, each
# request answered, the GSID change, a warning, the reconnect with a new Register, and a clean stop
# at the end of its input.
#   sample_host_exchange.sh [--host HOST] [--address ADDRESS] BIN_DIR SCRIPT [WINE_RUN_COMMAND...]
# With a WINE_RUN_COMMAND (scripts/wine-run with its architecture and prefix options) both programs
# are the Windows build's, run under Wine; without one, the Linux build's, run natively, and a HOST
# ending in .exe is a C# host run with mono. HOST is a program in BIN_DIR or a path (sample-host
# unless given; under Wine .exe is added); ADDRESS the agent's (127.0.0.79 unless given).
set -euo pipefail
host=
address=127.0.0.79
while [ $# -gt 0 ]; do
  case $1 in
    --host) host=$2; shift 2 ;;
    --address) address=$2; shift 2 ;;
    *) break ;;
  esac
done
bin=$1
script=$2
shift 2
wine_run=("$@")
if [ ${#wine_run[@]} -gt 0 ]; then
  agent=ha-agent.exe
  host=${host:-sample-host}
  host=${host%.exe}.exe
  # Wine reaches the Unix file system through drive Z:.
  agent_script=Z:$script
  run() { "${wine_run[@]}" "$@"; }
else
  agent=ha-agent
  host=${host:-sample-host}
  agent_script=$script
  run() {
    case $1 in
      *.exe) mono "$@" ;;
      */*) "$@" ;;
      *) "./$1" "${@:2}" ;;
    esac
  }
fi
work=$(mktemp -d)
agent_pid=
host_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$bin"

run "$agent" --listen "$address" --script "$agent_script" </dev/null >"$work/agent.out" 2>&1 &
agent_pid=$!
mkfifo "$work/host-input"
run "$host" -GSID:7 -HAPORT:8990 "-HAIP:$address" --run-seconds 100 <"$work/host-input" \
  >"$work/host.out" 2>&1 &
host_pid=$!
exec 3>"$work/host-input"

agent_status=0
wait "$agent_pid" || agent_status=$?
agent_pid=
exec 3>&-
host_status=0
wait "$host_pid" || host_status=$?
host_pid=

echo "--- agent"
tr -d '\r' <"$work/agent.out"
echo "--- host"
tr -d '\r' <"$work/host.out"
[ "$agent_status" -eq 0 ] || { echo "FAIL: the agent's script ended with status $agent_status"; exit 1; }
[ "$host_status" -eq 0 ] || { echo "FAIL: the host ended with status $host_status"; exit 1; }
grep -q ": stopped, status" "$work/host.out" || { echo "FAIL: no clean stop"; exit 1; }
echo "PASS"
