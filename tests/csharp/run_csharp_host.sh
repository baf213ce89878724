#!/usr/bin/env bash
# Compiles the C# binding with the C# sample host (mono's mcs, warnings as errors), then runs the
# sample host against ha-agent with the example agent script: every request, an order,
# __ISOLATE__, a warning and a reconnect. Exits 77 (skipped) when mono is not installed, or when
# the Linux library libvexilconn.so has not been built, saying so loudly.
#   run_csharp_host.sh [--binding FILE] [--address ADDRESS] SOURCE_DIR BIN_DIR LIB_DIR WORK_DIR
# FILE: the binding to compile (the repository's include/vexilconn/VexilConn.cs unless given, such
# as a release's); ADDRESS: the agent's (127.0.0.157 unless given).
set -euo pipefail
binding=
address=127.0.0.157
while [ $# -gt 0 ]; do
  case $1 in
    --binding) binding=$2; shift 2 ;;
    --address) address=$2; shift 2 ;;
    *) break ;;
  esac
done
source=$1
bin=$2
lib=$3
work=$4
binding=${binding:-$source/include/vexilconn/VexilConn.cs}
skip() {
  echo "************************************************************************"
  echo "SKIPPED: $*"
  echo "************************************************************************"
  exit 77
}
command -v mcs >/dev/null && command -v mono >/dev/null ||
  skip "mono is not installed (packages mono-mcs, mono-runtime): the C# binding was not tested"

mkdir -p "$work"
mcs -warnaserror -warn:4 -out:"$work/sample-host-cs.exe" \
  "$binding" "$source/tests/csharp/SampleHost.cs"
echo "compiled the C# binding and sample host: $work/sample-host-cs.exe"

library=$lib/libvexilconn.so
[ -f "$library" ] ||
  skip "$library is not built: the C# host compiled but did not run against ha-agent"
export LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
# A library built with AddressSanitizer needs its runtime loaded before mono.
asan=$(ldd "$library" | awk '/libasan/ { print $3 }')
if [ -n "$asan" ]; then
  export LD_PRELOAD=$asan ASAN_OPTIONS=detect_leaks=0
fi
status=0
bash "$source/tests/tools/sample_host_exchange.sh" --host "$work/sample-host-cs.exe" \
  --address "$address" "$bin" "$source/tools/ha-agent/examples/demo.script" |
  tee "$work/exchange.out" || status=$?
[ "$status" -eq 0 ] || exit "$status"
grep -q 'sample-host-cs: a kept list is refused after its call' "$work/exchange.out" ||
  { echo "FAIL: a reply list kept past its call was not refused"; exit 1; }
# The demo's two registered connections, both ended by the time the host has stopped (the second
# by the agent's quit or by the stop, whichever the connector sees first).
grep -q 'sample-host-cs: counters: 136 bytes, 2 registrations, 2 ended' "$work/exchange.out" ||
  { echo "FAIL: the counters do not show the demo's two connections"; exit 1; }
