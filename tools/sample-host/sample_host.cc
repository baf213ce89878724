// sample-host: a console program that integrates VexilConn.dll (Windows) or libvexilconn.so
// (Linux) the way a game server does.
//
//   sample-host.exe -GSID:7 -HAPORT:8990 -HAIP:127.0.0.1 [--run-seconds N] [--warn-seconds N]
//   sample-host -GSID:7 -HAPORT:8990 -HAIP:127.0.0.1 [--run-seconds N] [--warn-seconds N]
//
// It hands its whole command line to VexilInitConn (the connector picks out its own options),
// starts the connector with a HostCallback, sends a warning every few seconds while connected,
// and stops cleanly after N seconds or when its standard input ends, whichever comes first.
// Lines typed on standard input: "warn TEXT" sends a warning, "status" prints the status.
#ifdef _WIN32
#include <winsock2.h>  // before <windows.h>
#include <windows.h>
#else
#include <signal.h>

#include <clocale>
#include <cstdlib>
#include <vector>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "sample_game.h"
#include "vexilconn/vexilconn.h"

namespace {

std::atomic<bool> g_stop_requested{false};

void Say(const std::string& line) {
  std::printf("sample-host: %s\n", line.c_str());
  std::fflush(stdout);
}

void SendWarning(int32_t code, const std::string& text, const std::string& extra) {
  const int queued = VexilSendWarningMsg(code, text.c_str(), extra.c_str(), 1, 0);
  Say("warning " + std::to_string(code) + " \"" + text +
      "\": " + (queued == vexil::kWarningQueued ? "queued" : "not connected, dropped"));
}

// Standard input, read on a thread of its own. The thread is detached because a blocking read
// cannot be interrupted; it only touches the flags and the queue below, which live for the
// whole process.
struct InputLines {
  std::mutex mutex;
  std::deque<std::string> pending;  // guarded by mutex: lines not yet handled, oldest first
  std::atomic<bool> ended{false};
};

void ReadInput(InputLines* input) {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::lock_guard<std::mutex> guard(input->mutex);
    input->pending.push_back(line);
  }
  input->ended = true;
}

bool ParseSeconds(const wchar_t* text, int* seconds) {
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  if (end == text || *end != L'\0' || value < 0 || value > 86400) return false;
  *seconds = static_cast<int>(value);
  return true;
}

}  // namespace

// The host proper, given its command line as wide text.
int RunHost(int argc, const wchar_t* const* argv) {
  int run_seconds = -1;
  int warn_seconds = 4;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::wstring arg = argv[i];
    if ((arg == L"--run-seconds" && !ParseSeconds(argv[i + 1], &run_seconds)) ||
        (arg == L"--warn-seconds" && !ParseSeconds(argv[i + 1], &warn_seconds))) {
      Say("bad number after an option; usage: sample-host.exe -GSID:N -HAPORT:8990 "
          "-HAIP:ADDRESS [--run-seconds N] [--warn-seconds N]");
      return 2;
    }
  }

  const int init = VexilInitConn(argc, argv);
  if (init != vexil::kInitOk) {
    Say("VexilInitConn refused the command line (" + std::to_string(init) +
        "); give -GSID:N -HAPORT:8990 -HAIP:ADDRESS");
    return 2;
  }
  static sample::SampleGame game;  // outlives the connector's worker, as the library requires
  const int run = VexilRunConn(&game);
  if (run != vexil::kRunStarted) {
    Say("VexilRunConn failed (" + std::to_string(run) + ")");
    return 1;
  }
  Say("connector started, status " + std::to_string(VexilGetStatus()));

  static InputLines input;
  std::thread(ReadInput, &input).detach();

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point next_second = start + std::chrono::seconds(1);
  int32_t last_status = VexilGetStatus();
  int elapsed = 0;
  int warnings = 0;
  while (!g_stop_requested) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int32_t status = VexilGetStatus();
    if (status != last_status) {
      Say("status " + std::to_string(last_status) + " -> " + std::to_string(status));
      last_status = status;
    }
    // Read before taking the lines: once ended is seen, every line is already queued.
    const bool input_ended = input.ended;
    std::deque<std::string> lines;
    {
      std::lock_guard<std::mutex> guard(input.mutex);
      lines.swap(input.pending);
    }
    for (const std::string& line : lines) {
      if (line.rfind("warn ", 0) == 0) SendWarning(3000, line.substr(5), "typed");
      if (line == "status") Say("status " + std::to_string(status));
    }
    if (input_ended && lines.empty()) break;
    if (Clock::now() < next_second) continue;
    next_second += std::chrono::seconds(1);
    game.Tick();
    ++elapsed;
    if (warn_seconds > 0 && elapsed % warn_seconds == 0 && status == vexil::StatusConnected) {
      SendWarning(1001 + warnings % 2, warnings % 2 ? "tick overrun" : "low memory",
                  "after " + std::to_string(elapsed) + " s");
      ++warnings;
    }
    if (run_seconds >= 0 && elapsed >= run_seconds) break;
  }
  Say("stopping after " + std::to_string(elapsed) + " s, " + std::to_string(game.calls()) +
      " requests served");
  VexilStopConn();
  Say("stopped, status " + std::to_string(VexilGetStatus()));
  return 0;
}

#ifdef _WIN32

BOOL WINAPI OnConsoleControl(DWORD) {
  g_stop_requested = true;
  return TRUE;
}

// wmain: the host passes its own wide command line on, as the library expects.
int wmain(int argc, wchar_t** argv) {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return RunHost(argc, argv);
}

#else

void OnStopSignal(int) { g_stop_requested = true; }

// A Linux host receives its command line as bytes in the locale's encoding (UTF-8 as a rule) and
// converts it to wide text (UTF-32 there) for VexilInitConn. An argument that does not convert is
// passed on empty, which the connector ignores or refuses like any other bad option.
int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  std::vector<std::wstring> wide(argc);
  for (int i = 0; i < argc; ++i) {
    const size_t length = std::mbstowcs(nullptr, argv[i], 0);
    if (length == static_cast<size_t>(-1)) continue;
    wide[i].resize(length);
    std::mbstowcs(wide[i].data(), argv[i], length);
  }
  std::vector<const wchar_t*> wide_argv;
  for (const std::wstring& arg : wide) wide_argv.push_back(arg.c_str());
  struct sigaction action = {};
  action.sa_handler = &OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return RunHost(argc, wide_argv.data());
}

#endif
