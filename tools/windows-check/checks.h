// The checks of vexil-windows-check, each run against VexilConn.dll beside this program and an
// agent of its own on loopback, and the sub-commands its child processes run. Windows only.
#ifndef VEXIL_TOOLS_WINDOWS_CHECK_CHECKS_H_
#define VEXIL_TOOLS_WINDOWS_CHECK_CHECKS_H_

#include <cstdint>
#include <string>

#include "windows-check/check_report.h"

namespace vexil::tools {

// The parent's checks, in the order they run. Each needs the socket service started.
CheckResult CheckLoadUnload();
CheckResult CheckExitWithoutStop();
CheckResult CheckChildInheritsNothing();
CheckResult CheckRetryInterval();
CheckResult CheckNoWinsockAtLoad();

// Sub-commands: the program's exit status is the child's report to the parent.
// --child-exit-connected ADDRESS: loads the library, connects to ADDRESS and ends the process
// with ExitProcess while connected, without VexilStopConn.
int ChildExitConnected(const std::string& address);
// --child-sleep MS: holds whatever it inherited for MS milliseconds.
int ChildSleep(uint32_t ms);
// --child-winsock-at-load: loads the library, calls no export, and asks WSACleanup whether
// anyone started Winsock.
int ChildWinsockAtLoad();

// One line about this machine and this run: the system's version, the program's architecture,
// Wine when it runs there, and which DLL is checked.
std::string Environment();

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_WINDOWS_CHECK_CHECKS_H_
