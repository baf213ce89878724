#!/usr/bin/env bash
# The agent check between two processes: ha-agent and a host with the library, the profile naming
# the agent's executable. Named rightly, the host registers and is served; named otherwise, the
# agent sees a connection but not one byte, and the host says why it refused.
#   agent_check_exchange.sh BIN_DIR ADDRESS PROFILE [WINE_RUN_COMMAND...]
# PROFILE is the file the library reads its profile from: natively any path (given to the host as
# VEXILCONN_PROFILE); under Wine the prefix's Windows folder's VexilConnConfig.INI, which this test
# writes and removes again (so it runs alone).
set -euo pipefail
bin=$(cd "$1" && pwd)
address=$2
profile=$3
shift 3
wine_run=("$@")
if [ ${#wine_run[@]} -gt 0 ]; then
  agent=ha-agent.exe
  host=sample-host.exe
  # Wine names the program by its drive Z: path.
  agent_path="Z:$(printf '%s' "$bin/$agent" | tr / '\\')"
  run() { "${wine_run[@]}" "$@"; }
else
  agent=ha-agent
  host=sample-host
  agent_path=$bin/$agent
  export VEXILCONN_PROFILE=$profile
  run() { "./$1" "${@:2}"; }
fi
work=$(mktemp -d)
agent_pid=
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
  rm -f "$profile"
  rm -rf "$work"
}
trap cleanup EXIT
cd "$bin"

# exchange NAME AGENT_EXE SCRIPT_LINES...: runs the agent with the script and the host for 9 s
# (one attempt after its first 5 s wait) with AgentExe=AGENT_EXE.
exchange() {
  local name=$1 expected_exe=$2
  shift 2
  printf '[AGENT]\r\nAgentExe=%s\r\n' "$expected_exe" >"$profile"
  printf '%s\n' "$@" >"$work/$name.script"
  local script=$work/$name.script
  [ ${#wine_run[@]} -gt 0 ] && script="Z:$script"
  run "$agent" --listen "$address" --script "$script" </dev/null >"$work/$name.agent" 2>&1 &
  agent_pid=$!
  # The host stops at the end of its input: it is kept open until the run ends.
  sleep 12 | run "$host" -GSID:7 -HAPORT:8990 "-HAIP:$address" --run-seconds 9 \
    >"$work/$name.host" 2>&1 || true
  wait "$agent_pid" || true
  agent_pid=
  echo "--- $name: agent"
  tr -d '\r' <"$work/$name.agent"
  echo "--- $name: host"
  tr -d '\r' <"$work/$name.host"
}

fail() { echo "FAIL: $*"; exit 1; }

if [ ${#wine_run[@]} -gt 0 ]; then
  # Wine's TCP table names no owning process for any connection: there even the named agent is
  # unknown, and refused.
  exchange unknown "$agent_path" "wait 8000" "quit"
  grep -q "<- " "$work/unknown.agent" && fail "an agent of unknown owner received a message"
  grep -q "Agent refused at $address:8990: found executable unknown; expected executable" \
    "$work/unknown.host" || fail "the host did not say the owner is unknown"
  echo "NOTE: under Wine the named agent is refused as unknown; Windows itself names the owner"
else
  exchange admitted "$agent_path" "expect Register 20000 gsid=7" "check 3" \
    "expect CheckReply 5000 value=3" "quit"
  grep -q "<- Register" "$work/admitted.agent" || fail "the named agent was not registered with"
  grep -q "<- CheckReply" "$work/admitted.agent" || fail "the named agent was not answered"
  grep -q "Agent check passed at $address:8990" "$work/admitted.host" ||
    fail "the host did not say the check passed"
fi

exchange refused "${agent_path}.other" "wait 8000" "quit"
grep -q "<- " "$work/refused.agent" && fail "a refused agent received a message"
grep -q "Agent refused at $address:8990: found executable .*; expected executable .*\.other" \
  "$work/refused.host" || fail "the host did not say why it refused"
echo "PASS"
