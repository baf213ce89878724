#!/usr/bin/env bash
# The sample host under Wine meets every expectation of the example agent script run by
# ha-agent.exe: registration, each request answered, the GSID change, a warning, the reconnect
# with a new Register, and a clean stop at the end of its input.
#   sample_host_exchange.sh BIN_DIR SCRIPT WINE_RUN_COMMAND...
# WINE_RUN_COMMAND is scripts/wine-run with its architecture and prefix options.
set -euo pipefail
bin=$1
script=$2
shift 2
wine_run=("$@")
address=127.0.0.79
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

# Wine reaches the Unix file system through drive Z:.
"${wine_run[@]}" ha-agent.exe --listen "$address" --script "Z:$script" \
  </dev/null >"$work/agent.out" 2>&1 &
agent_pid=$!
mkfifo "$work/host-input"
"${wine_run[@]}" sample-host.exe -GSID:7 -HAPORT:8990 "-HAIP:$address" \
  --run-seconds 100 <"$work/host-input" >"$work/host.out" 2>&1 &
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
[ "$host_status" -eq 0 ] || { echo "FAIL: the sample host ended with status $host_status"; exit 1; }
grep -q 'sample-host: stopped, status' "$work/host.out" || { echo "FAIL: no clean stop"; exit 1; }
echo "PASS"
