#include "windows-check/checks.h"

#include "sync/win32.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "support/dll_library.h"
#include "support/running_agent.h"
#include "support/test_platform.h"
#include "windows-check/child_process.h"

namespace vexil::tools {
namespace {

using Clock = std::chrono::steady_clock;
using testing::AgreeingHost;
using testing::Library;

// One loopback address per check, so that no check meets another's connection or a leftover
// listener; none of them is used by a test of the build.
const std::string kLoadUnloadAddress = "127.0.0.171";
const std::string kExitAddress = "127.0.0.172";
const std::string kInheritAddress = "127.0.0.173";
const std::string kRetryAddress = "127.0.0.174";
const std::string kClosedPortAddress = "127.0.0.175";  // nothing listens here
constexpr uint16_t kAgentPort = 8990;

// Exit statuses of the children beyond what their sub-command reports.
constexpr int kChildExitedConnected = 0;
constexpr int kChildNoLibrary = 1;
constexpr int kChildNotStarted = 2;
constexpr int kChildNeverConnected = 3;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The library writes its progress to the C runtime's standard output, which it shares with this
// program: while a check runs that output goes to NUL, so that only the check lines are printed.
class QuietConsole {
 public:
  QuietConsole() : saved_(testing::RedirectStdout(L"NUL")) {}
  ~QuietConsole() { testing::RestoreStdout(saved_); }
  QuietConsole(const QuietConsole&) = delete;
  QuietConsole& operator=(const QuietConsole&) = delete;

 private:
  int saved_;
};

CheckResult Failed(const char* name, const std::string& figures) {
  return CheckResult{Verdict::kFail, name, figures};
}

// Receives and drops what arrives until the connection ends or timeout_ms pass: the result of
// the last receive, and the socket error when it failed.
IoResult ReadUntilEnd(TcpStream* stream, int timeout_ms, int* error) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  IoResult last = IoResult::kTimedOut;
  *error = 0;
  while (Clock::now() < deadline) {
    uint8_t buffer[4096];
    size_t received = 0;
    last = stream->Receive(buffer, sizeof buffer, 100, &received);
    if (last == IoResult::kFailed) *error = ::WSAGetLastError();
    if (last == IoResult::kClosed || last == IoResult::kFailed) break;
  }
  return last;
}

// Starts the loaded library against the agent at address: empty when it runs, else why not.
std::string StartAgainst(Library& library, const std::string& address, AgreeingHost* host) {
  if (!library.loaded()) {
    return "VexilConn.dll did not load (error " + std::to_string(::GetLastError()) + ")";
  }
  if (!testing::StartLibrary(library, Wide(address).c_str(), host)) {
    return "VexilInitConn or VexilRunConn refused to start";
  }
  return std::string();
}

// One round of load-unload; empty when it went through, else what went wrong.
std::string LoadConnectUnload(AgreeingHost* host) {
  RunningAgent agent(kLoadUnloadAddress, {"expect Register 15000", "quit"});
  if (!agent.listening()) return "the agent cannot listen on " + kLoadUnloadAddress + ":8990";
  Library library;
  if (const std::string failure = StartAgainst(library, kLoadUnloadAddress, host);
      !failure.empty()) {
    return failure;
  }
  const int agent_status = agent.Join();
  library.StopConn();
  library.Unload();
  return agent_status == kExitOk ? "" : "the agent saw no Register within 15 s";
}

// The process's open handles, and how they were counted. Windows keeps the count
// (GetProcessHandleCount); Wine's reports 0, so there every handle value up to a bound is asked
// for, which counts the handles a leak leaves wherever in the table they sit.
struct HandleCount {
  unsigned long count = 0;
  bool scanned = false;
};
HandleCount CountHandles() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return {count, false};
  // Handle values step by 4; a Wine process of this size stays far below the bound.
  constexpr uintptr_t kScanEnd = 0x10000;
  HandleCount scanned{0, true};
  for (uintptr_t value = 4; value < kScanEnd; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++scanned.count;
  }
  return scanned;
}

}  // namespace

CheckResult CheckLoadUnload() {
  constexpr int kRounds = 30;
  // Handles the system may open for itself on the way (a thread pool's, a helper DLL's): a leak
  // of the library grows by at least one handle each round, 29 over the judged rounds.
  constexpr unsigned long kSlack = 4;
  // 32-bit only: the static thread library each of our DLLs carries makes a record of the loading
  // thread (a thread handle and an event) when the C runtime registers the DLL's unwind tables at
  // load, and no unload frees it. A known leak of the toolchain's runtime, allowed for here and
  // named in the line, so that any further growth still fails.
  constexpr unsigned long kRuntimeRecordPerRound = sizeof(void*) == 4 ? 2 : 0;
  const unsigned long allowed = kSlack + kRuntimeRecordPerRound * (kRounds - 1);
  const char* name = "load-unload";
  const HandleCount before = CountHandles();
  std::vector<HandleCount> rounds;
  AgreeingHost host;
  {
    QuietConsole quiet;
    for (int round = 1; round <= kRounds; ++round) {
      const std::string failure = LoadConnectUnload(&host);
      if (!failure.empty()) {
        return Failed(name, "round " + std::to_string(round) + " of " + std::to_string(kRounds) +
                                ": " + failure);
      }
      rounds.push_back(CountHandles());
    }
  }
  // The first round loads what stays for the process's life (the system's socket helpers), so the
  // last round is compared with the first, not with the start.
  const unsigned long first = rounds.front().count;
  const unsigned long last = rounds.back().count;
  const std::string how = before.scanned ? "open handle values found by GetHandleInformation, "
                                           "as GetProcessHandleCount reports 0 here"
                                         : "GetProcessHandleCount";
  const std::string allowance =
      kRuntimeRecordPerRound == 0
          ? std::to_string(kSlack)
          : std::to_string(allowed) + ": " + std::to_string(kSlack) + ", and " +
                std::to_string(kRuntimeRecordPerRound) +
                " a round for the 32-bit runtime's record of the loading thread";
  return CheckResult{StaysFlat(first, last, allowed) ? Verdict::kPass : Verdict::kFail, name,
                     std::to_string(kRounds) +
                         " rounds of load, connect (Register seen by the agent), stop and "
                         "unload; handles " +
                         std::to_string(before.count) + " before, " + std::to_string(first) +
                         " after round 1, " + std::to_string(last) + " after round " +
                         std::to_string(kRounds) + " (" + how + "; allowed growth " + allowance +
                         ")"};
}

CheckResult CheckExitWithoutStop() {
  const char* name = "exit-without-stop";
  TcpListener listener;
  std::string error_text;
  if (!listener.Listen(kExitAddress, kAgentPort, &error_text)) {
    return Failed(name, "cannot listen on " + kExitAddress + ":8990: " + error_text);
  }
  ChildProcess child(L"--child-exit-connected " + Wide(kExitAddress), false);
  if (!child.started()) {
    return Failed(name,
                  "cannot start the child (error " + std::to_string(child.start_error()) + ")");
  }
  TcpStream stream;
  // The connector's first attempt comes 5 s after its start.
  if (listener.Accept(20000, &stream) != IoResult::kDone) {
    const std::optional<uint32_t> code = child.Wait(0);
    return Failed(name, "the child's connector did not connect within 20 s" +
                            (code ? " (child exit status " + std::to_string(*code) + ")" : ""));
  }
  int error = 0;
  const IoResult last = ReadUntilEnd(&stream, 20000, &error);
  const std::optional<uint32_t> code = child.Wait(5000);
  const ConnectionEnd end = ConnectionEndOf(last, error);
  const std::string seen = "the agent saw " + ConnectionEndText(end, error);
  if (!code || *code != static_cast<uint32_t>(kChildExitedConnected)) {
    return Failed(name, seen + ", but the child did not end by ExitProcess while connected (" +
                            (code ? "exit status " + std::to_string(*code) : "still running") +
                            "): nothing judged");
  }
  const bool wine = testing::RunningUnderWine();
  const Verdict verdict = ExitCloseVerdict(end, wine);
  std::string figures = seen +
                        " when the host process called ExitProcess while connected, "
                        "without VexilStopConn";
  if (verdict == Verdict::kNotJudged) {
    figures +=
        "; not judged under Wine, whose sockets need not end as Windows' do at process "
        "exit: run this on Windows";
  } else if (wine) {
    // Wine leaves an exiting process's sockets to the host system to close, so its orderly close
    // tells nothing of what Windows does with the same DLL.
    figures += " (under Wine; only Windows tells how its own sockets end at process exit)";
  }
  return CheckResult{verdict, name, figures};
}

CheckResult CheckChildInheritsNothing() {
  const char* name = "child-inherits-nothing";
  constexpr double kPromptly = 2.0;
  TcpListener listener;
  std::string error_text;
  if (!listener.Listen(kInheritAddress, kAgentPort, &error_text)) {
    return Failed(name, "cannot listen on " + kInheritAddress + ":8990: " + error_text);
  }
  QuietConsole quiet;
  Library library;
  AgreeingHost host;
  if (const std::string failure = StartAgainst(library, kInheritAddress, &host); !failure.empty()) {
    return Failed(name, failure);
  }
  TcpStream stream;
  if (listener.Accept(15000, &stream) != IoResult::kDone ||
      !testing::WaitForStatus(library, StatusConnected, 5000)) {
    library.StopConn();
    return Failed(name, "the connector did not connect and register within 20 s");
  }
  // Started while the host is connected, with every inheritable handle of this process.
  ChildProcess child(L"--child-sleep 10000", true);
  if (!child.started()) {
    library.StopConn();
    return Failed(name,
                  "cannot start the child (error " + std::to_string(child.start_error()) + ")");
  }
  const Clock::time_point stop = Clock::now();
  library.StopConn();
  int error = 0;
  const IoResult last = ReadUntilEnd(&stream, 5000, &error);
  const double seconds = SecondsSince(stop);
  const bool child_runs = child.Running();
  const bool ended = last == IoResult::kClosed || last == IoResult::kFailed;
  if (!child_runs) {
    return Failed(name, "the child ended before the close was seen: nothing judged");
  }
  if (!ended) {
    return Failed(name,
                  "no close within 5 s of VexilStopConn while a child started with "
                  "bInheritHandles TRUE runs: the child holds the connection");
  }
  const std::string figures = "the agent saw " +
                              ConnectionEndText(ConnectionEndOf(last, error), error) + " " +
                              Duration(seconds) +
                              " after VexilStopConn, while a child started "
                              "with bInheritHandles TRUE still ran (limit " +
                              Duration(kPromptly) + ")";
  return CheckResult{seconds <= kPromptly ? Verdict::kPass : Verdict::kFail, name, figures};
}

CheckResult CheckRetryInterval() {
  const char* name = "retry-interval";
  TcpListener listener;
  std::string error_text;
  if (!listener.Listen(kRetryAddress, kAgentPort, &error_text)) {
    return Failed(name, "cannot listen on " + kRetryAddress + ":8990: " + error_text);
  }
  double first_after_start = 0, next_after_close = 0;
  {
    QuietConsole quiet;
    Library library;
    AgreeingHost host;
    const Clock::time_point start = Clock::now();
    if (const std::string failure = StartAgainst(library, kRetryAddress, &host); !failure.empty()) {
      return Failed(name, failure);
    }
    TcpStream first, next;
    if (listener.Accept(15000, &first) != IoResult::kDone) {
      library.StopConn();
      return Failed(name, "no connect attempt within 15 s of VexilRunConn");
    }
    first_after_start = SecondsSince(start);
    // An orderly close by the agent: the connector waits its retry delay and connects again.
    first.Close();
    const Clock::time_point closed = Clock::now();
    if (listener.Accept(15000, &next) != IoResult::kDone) {
      library.StopConn();
      return Failed(name, "no second connect attempt within 15 s of the agent's close");
    }
    next_after_close = SecondsSince(closed);
    library.StopConn();
  }
  // Where nothing listens, each attempt also lasts as long as the system takes to give up on a
  // refused connect, which Windows retries for about 2 s.
  TcpStream probe;
  const Clock::time_point probe_start = Clock::now();
  if (probe.Connect(kClosedPortAddress, kAgentPort, &error_text)) {
    return Failed(name, "something listens on " + kClosedPortAddress +
                            ":8990, so the refused connect cannot be timed");
  }
  const double refused = SecondsSince(probe_start);
  return CheckResult{Verdict::kPass, name,
                     "first attempt " + Duration(first_after_start) +
                         " after VexilRunConn; next attempt " + Duration(next_after_close) +
                         " after the agent closed the connection; a refused connect to a closed "
                         "port took " +
                         Duration(refused) + " (" + error_text +
                         "); so with no agent listening an attempt starts about every " +
                         Duration(next_after_close + refused)};
}

CheckResult CheckNoWinsockAtLoad() {
  const char* name = "no-winsock-under-loader-lock";
  ChildProcess child(L"--child-winsock-at-load", false);
  if (!child.started()) {
    return Failed(name,
                  "cannot start the child (error " + std::to_string(child.start_error()) + ")");
  }
  const std::optional<uint32_t> code = child.Wait(20000);
  if (!code) return Failed(name, "the child did not end within 20 s");
  if (*code == static_cast<uint32_t>(WSANOTINITIALISED)) {
    return CheckResult{Verdict::kPass, name,
                       "loading VexilConn.dll did not start Winsock: WSACleanup in a fresh process "
                       "that only loaded it failed with WSANOTINITIALISED"};
  }
  if (*code == 0) {
    return Failed(name,
                  "loading VexilConn.dll started Winsock (WSAStartup in its entry point, "
                  "under the loader lock): WSACleanup in a fresh process that only loaded "
                  "it succeeded");
  }
  if (*code == static_cast<uint32_t>(kChildNoLibrary))
    return Failed(name, "the child could not load VexilConn.dll");
  return Failed(name, "WSACleanup in the child failed with error " + std::to_string(*code));
}

int ChildExitConnected(const std::string& address) {
  // Nobody restores the output: the process ends inside this function.
  testing::RedirectStdout(L"NUL");
  // Never destroyed once connected: ExitProcess ends the process with both in place.
  AgreeingHost host;
  Library library;
  if (!library.loaded()) return kChildNoLibrary;
  if (!testing::StartLibrary(library, Wide(address).c_str(), &host)) return kChildNotStarted;
  if (!testing::WaitForStatus(library, StatusConnected, 20000)) {
    library.StopConn();
    return kChildNeverConnected;
  }
  ::ExitProcess(kChildExitedConnected);
}

int ChildSleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return 0;
}

int ChildWinsockAtLoad() {
  testing::RedirectStdout(L"NUL");
  Library library;
  if (!library.loaded()) return kChildNoLibrary;
  // Nothing in this process has called WSAStartup: only the library's load could have.
  if (::WSACleanup() == 0) return 0;
  return ::WSAGetLastError();
}

std::string Environment() {
  std::string text = "vexil-windows-check: " + std::to_string(sizeof(void*) * 8) + "-bit, ";
  // RtlGetVersion tells the system's real version; GetVersionEx tells a program without a
  // manifest that it runs on Windows 8.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto rtl_get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
  if (rtl_get_version != nullptr && rtl_get_version(&version) == 0) {
    text += "Windows " + std::to_string(version.dwMajorVersion) + "." +
            std::to_string(version.dwMinorVersion) + " build " +
            std::to_string(version.dwBuildNumber);
  } else {
    text += "Windows of unknown version";
  }
  if (testing::RunningUnderWine()) text += " (Wine)";
  const std::wstring dll = testing::ProgramDirectory() + L"VexilConn.dll";
  char path[MAX_PATH * 3] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, dll.c_str(), -1, path, sizeof path, nullptr, nullptr);
  return text + "; checking " + path;
}

}  // namespace vexil::tools
