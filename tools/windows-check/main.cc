// vexil-windows-check: run beside VexilConn.dll on a Windows machine, it checks what only a real
// Windows can show about the library (handles, process exit, inheritance, connect timing, the
// start of Winsock) and prints one PASS, FAIL or SKIP line per check and a summary. Exit status 0
// when no check failed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ha-agent/agent_socket.h"
#include "windows-check/check_report.h"
#include "windows-check/checks.h"

namespace {

int Usage() {
  std::fprintf(
      stderr,
      "usage: vexil-windows-check\n"
      "  Run it in the folder of VexilConn.dll and Zoth.dll; it takes about 4 minutes and\n"
      "  uses the loopback addresses 127.0.0.171 to 127.0.0.175, port 8990.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vexil::tools;
  // The sub-commands its own children run.
  if (argc == 3 && std::strcmp(argv[1], "--child-exit-connected") == 0) {
    return ChildExitConnected(argv[2]);
  }
  if (argc == 3 && std::strcmp(argv[1], "--child-sleep") == 0) {
    return ChildSleep(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)));
  }
  if (argc == 2 && std::strcmp(argv[1], "--child-winsock-at-load") == 0) {
    return ChildWinsockAtLoad();
  }
  if (argc != 1) return Usage();

  std::printf("%s\n", Environment().c_str());
  std::fflush(stdout);
  // Winsock stays started for this program's whole run, so that its own start and end are never
  // counted as the library's handles.
  const SocketService sockets;
  if (!sockets.started()) {
    std::printf("Winsock did not start: no check can run\n0 passed, 1 failed\n");
    return 1;
  }
  CheckReport report;
  for (CheckResult (*check)() : {CheckLoadUnload, CheckExitWithoutStop, CheckChildInheritsNothing,
                                 CheckRetryInterval, CheckNoWinsockAtLoad}) {
    report.Add(check());
    std::printf("%s\n", CheckLine(report.results().back()).c_str());
    std::fflush(stdout);
  }
  std::printf("%s\n", report.Summary().c_str());
  return report.ExitStatus();
}
