#!/usr/bin/env bash
# The sample host meets every expectation of the example agent script run by ha-agent:
# registration, each request answered, the GSID change, a warning, the reconnect with a new
# Register, and a clean stop at the end of its input. With WINE_RUN and PREFIX both programs are
# the Windows build's, run under Wine; without them, the Linux build's, run natively.
#   sample_host_exchange.sh [--host HOST] [--address ADDRESS] BIN_DIR SCRIPT [WINE_RUN PREFIX]
# HOST is the host program in BIN_DIR without ".exe" (sample-host unless given), or the path of a
# C# host's .exe, which runs with mono; ADDRESS is the agent's (127.0.0.79 unless given).
set -euo pipefail
host=sample-host
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
wine_run=${3:-}
prefix=${4:-}
if [ -n "$wine_run" ]; then
  # Wine reaches the Unix file system through drive Z:.
  run=("$wine_run" --prefix "$prefix")
  suffix=.exe
  script_path="Z:$script"
else
  run=()
  suffix=
  script_path=$script
fi
case $host in
  *.exe) host_command=(mono "$host") ;;
  *) host_command=("${run[@]}" "./$host$suffix") ;;
esac
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

"${run[@]}" "./ha-agent$suffix" --listen "$address" --script "$script_path" \
  </dev/null >"$work/agent.out" 2>&1 &
agent_pid=$!
mkfifo "$work/host-input"
"${host_command[@]}" -GSID:7 -HAPORT:8990 "-HAIP:$address" --run-seconds 100 \
  <"$work/host-input" >"$work/host.out" 2>&1 &
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
grep -q ': stopped, status' "$work/host.out" || { echo "FAIL: no clean stop"; exit 1; }
echo "PASS"
