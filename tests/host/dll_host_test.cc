// A host of the library (VexilConn.dll, or libvexilconn.so): loads it at run time and uses nothing
// but the public header, as a game server built with the same toolchain would.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <future>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "support/dll_library.h"
#include "support/file_bytes.h"
#include "support/test_platform.h"
#include "vexilconn/vexilconn.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

using vexil::testing::AgreeingHost;
using vexil::testing::CloseTestSocket;
using vexil::testing::ExecutablePath;
using vexil::testing::FileBytes;
using vexil::testing::kNoTestSocket;
using vexil::testing::kTestSendFlags;
using vexil::testing::Library;
using vexil::testing::LocalMinute;
using vexil::testing::LocalMinuteNow;
using vexil::testing::TestProcessId;
using vexil::testing::TestSocket;
using vexil::testing::TestSocketService;

#ifdef _WIN32
// Where every load logs.
const std::wstring kLogFolder = L"c:\\LOG\\VexilConn\\";
#else
// The build tree's log folder and profile file, which the fixture names to the library through
// VEXILCONN_LOG_DIR and VEXILCONN_PROFILE before each load.
const std::wstring kLogFolder = L"" VEXIL_TEST_LOG_DIR L"/";
#endif

// The log file a load at time t writes: <log folder><program>_YYYYMMDD_HHMM.log.
std::wstring LogPathAt(const LocalMinute& t) {
  std::wstring name = ExecutablePath();
  name = name.substr(name.find_last_of(L"\\/") + 1);
  name = name.substr(0, name.rfind(L'.'));
  wchar_t file[260];
  std::swprintf(file, 260, L"%ls_%04d%02d%02d_%02d%02d.log", name.c_str(), t.year, t.month, t.day,
                t.hour, t.minute);
  return kLogFolder + file;
}

// Windows: the profile file where the system looks for VexilConnConfig.INI. Linux: the file
// VEXILCONN_PROFILE names, in the build tree. Removed before and after each test, so that the
// library sees no profile unless a test writes one.
class DllHostTest : public ::testing::Test {
 protected:
  DllHostTest() {
#ifdef _WIN32
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    profile_ = std::wstring(windows) + L"\\VexilConnConfig.INI";
#else
    ::setenv("VEXILCONN_LOG_DIR", VEXIL_TEST_LOG_DIR, 1);
    ::setenv("VEXILCONN_PROFILE", VEXIL_TEST_PROFILE, 1);
    profile_ = L"" VEXIL_TEST_PROFILE;
#endif
    RemoveProfile();
  }
  ~DllHostTest() override { RemoveProfile(); }

  void RemoveProfile() {
    vexil::testing::RemoveFile(profile_.c_str());
#ifdef _WIN32
    // Drops the system's cached copy of the profile.
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, L"VexilConnConfig.INI");
#endif
  }

  // Writes [LOG] ERRLEVEL=level into the profile.
  bool WriteErrLevel(const wchar_t* level) {
#ifdef _WIN32
    return ::WritePrivateProfileStringW(L"LOG", L"ERRLEVEL", level, L"VexilConnConfig.INI");
#else
    FILE* file = vexil::testing::OpenFile(profile_.c_str(), L"w");
    if (file == nullptr) return false;
    const bool written = std::fprintf(file, "[LOG]\nERRLEVEL=%ls\n", level) > 0;
    return std::fclose(file) == 0 && written;
#endif
  }

  std::wstring profile_;
};

TEST_F(DllHostTest, ExportsTheSixNamesUndecorated) {
  Library library;
  ASSERT_TRUE(library.loaded());
  for (const char* name : {"VexilInitConn", "VexilRunConn", "VexilStopConn", "VexilSendWarningMsg",
                           "VexilGetConfigFileName", "VexilGetStatus"}) {
    EXPECT_NE(nullptr, library.Find(name)) << name;
  }
  EXPECT_EQ(nullptr, library.Find("_VexilInitConn"));
  EXPECT_EQ(nullptr, library.Find("VexilInitConn@8"));
}

TEST_F(DllHostTest, StartupOptionResults) {
  const struct {
    std::vector<const wchar_t*> argv;
    int result;
  } cases[] = {
      {{L"srv"}, vexil::kInitOk},
      {{L"srv", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"x"}, vexil::kInitOk},
      {{L"srv", L"-GSID:12", L"-HAPORT:8000", L"x", L"y"}, vexil::kInitBadOptions},
      {{L"srv", L"-GSID:0", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"x"}, vexil::kInitBadOptions},
      {{L"srv", L"-GSID:12abc", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"x"}, vexil::kInitOk},
      {{L"C:\\GSIDsrv\\game.exe", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"x"},
       vexil::kInitOk},
      {{L"srv", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1"}, vexil::kInitBadOptions},
      {{L"srv", L"NOUSEVEXIL"}, vexil::kInitBadOptions},
      {{L"srv", L"-CNFGFILE:c:\\vexil.cfg", L"-GSID:1", L"-HAPORT:2", L"-HAIP:h"}, vexil::kInitOk},
  };
  Library library;
  ASSERT_TRUE(library.loaded());
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, library.InitConn(c.argv)) << c.argv[1];
    EXPECT_EQ(vexil::StatusIdle, library.GetStatus()) << c.argv[1];
  }
  EXPECT_EQ(0, library.GetConfigFileName());
}

TEST_F(DllHostTest, NoUseVexilAnywhereAfterTheProgramDisables) {
  const std::vector<std::vector<const wchar_t*>> lines = {
      {L"srv", L"-NOUSEVEXIL"},
      {L"srv", L"-GSID:12", L"/NOUSEVEXIL", L"-HAIP:10.0.0.1", L"x", L"y"},
  };
  for (const auto& argv : lines) {
    Library library;
    ASSERT_TRUE(library.loaded());
    EXPECT_EQ(vexil::StatusIdle, library.GetStatus()) << "a fresh load";
    EXPECT_EQ(vexil::kInitOk, library.InitConn(argv));
    EXPECT_EQ(vexil::StatusDisabled, library.GetStatus());
    EXPECT_EQ(0, library.GetConfigFileName());
  }
}

// What the log file of the library's load time gained by one load and one disabling call.
struct LogProbe {
  std::wstring path;
  std::string added;
};

LogProbe LoadAndDisable() {
  const LocalMinute before = LocalMinuteNow();
  const std::string old_bytes = FileBytes(LogPathAt(before).c_str());
  Library library;
  const LocalMinute after = LocalMinuteNow();
  if (before.minute != after.minute) return LoadAndDisable();  // loaded across a minute
  EXPECT_TRUE(library.loaded());
  EXPECT_EQ(vexil::kInitOk, library.InitConn({L"srv", L"-NOUSEVEXIL"}));
  const std::string bytes = FileBytes(LogPathAt(before).c_str());
  return LogProbe{LogPathAt(before), bytes.substr(std::min(old_bytes.size(), bytes.size()))};
}

// The lines of log text, each with its line end.
std::vector<std::string> LogLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, next - at));
    at = next;
  }
  return lines;
}

TEST_F(DllHostTest, WithoutProfileTheLineIsLogged) {
  const LogProbe probe = LoadAndDisable();
  std::string line;
  for (const std::string& added : LogLines(probe.added)) {
    if (added.find("_NOUSEVEXIL_") != std::string::npos) line = added;
  }
  // VexilConn[DD_HH:MM:SS:mmm] = _NOUSEVEXIL_ ACTIVATED, then the line end.
  const std::string line_end = vexil::testing::kTextLineEnd;
  ASSERT_EQ(51u + line_end.size(), line.size()) << line;
  EXPECT_EQ("VexilConn[", line.substr(0, 10));
  for (size_t i : {10u, 11u, 13u, 14u, 16u, 17u, 19u, 20u, 22u, 23u, 24u}) {
    EXPECT_TRUE(line[i] >= '0' && line[i] <= '9') << i;
  }
  EXPECT_EQ('_', line[12]);
  EXPECT_EQ(':', line[15]);
  EXPECT_EQ(':', line[18]);
  EXPECT_EQ(':', line[21]);
  EXPECT_EQ("] = _NOUSEVEXIL_ ACTIVATED" + line_end, line.substr(25));
}

TEST_F(DllHostTest, ErrLevelZeroWritesNothing) {
  ASSERT_TRUE(WriteErrLevel(L"0"));
  EXPECT_EQ("", LoadAndDisable().added);
}

// The messages that a log file gained since the watch began, without the time stamps. The file
// is the one of the library's load time: begin the watch right before loading, and call Loaded
// right after.
class LogWatch {
 public:
  LogWatch() : start_(LocalMinuteNow()) {
    path_ = LogPathAt(start_);
    old_size_ = FileBytes(path_.c_str()).size();
  }
  void Loaded() {
    const LocalMinute now = LocalMinuteNow();
    if (now.minute == start_.minute) return;
    // Loaded across a minute: the library may have taken either name.
    if (FileBytes(path_.c_str()).size() == old_size_) {
      path_ = LogPathAt(now);
      old_size_ = 0;
    }
  }
  std::vector<std::string> Messages() const {
    const std::string bytes = FileBytes(path_.c_str());
    std::vector<std::string> messages;
    const size_t line_end = std::strlen(vexil::testing::kTextLineEnd);
    for (const std::string& line : LogLines(bytes.substr(std::min(old_size_, bytes.size())))) {
      // VexilConn[DD_HH:MM:SS:mmm] = MESSAGE, then the line end
      const size_t start = line.find("] = ");
      const size_t end = line.size() >= line_end ? line.size() - line_end : 0;
      messages.push_back(start == std::string::npos || end < start + 4
                             ? line
                             : line.substr(start + 4, end - start - 4));
    }
    return messages;
  }

 private:
  LocalMinute start_;
  std::wstring path_;
  size_t old_size_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The first line of every load.
std::string LoadLine() {
  return "VexilConn " VEXILCONN_VERSION " loaded by " + Narrow(ExecutablePath()) + ", process " +
         std::to_string(TestProcessId());
}

TEST_F(DllHostTest, MistakesAndFallbacksAreExplainedInTheLog) {
  const struct {
    std::vector<const wchar_t*> argv;
    std::vector<std::string> lines;
  } cases[] = {
      {{L"minimal-host.exe", L"-GSID:42", L"-HAPORT:8990", L"-HAIP:127.0.0.131"},
       {"VexilInitConn refused the options: 4 command-line elements given, at least 5 are needed "
        "(the program, -GSID:N, -HAPORT:8990, -HAIP:ADDRESS and one more of any kind)"}},
      {{L"srv", L"-GSID:x", L"-HAPORT:8990", L"-HAIP:127.0.0.131", L"x"},
       {"VexilInitConn refused the options: GSID \"x\" is not a non-zero number (give a non-zero "
        "number, for example -GSID:12)"}},
      {{L"srv", L"-GSID:5", L"-HAPORT:8000", L"-HAIP:10.0.1", L"x"},
       {"HAPORT 8000 is not used: the HA agent is always reached on port 8990",
        "HAIP \"10.0.1\" is shorter than 8 characters: the HA agent is reached at 127.0.0.1 "
        "instead"}},
      {{L"srv", L"-GSID:5", L"-HAPORT:8990", L"-HAIP:10.0.0.1", L"x"},
       {"HAIP found in command-line element 3 \"-HAIP:10.0.0.1\": the HA agent is reached at "
        "10.0.0.1"}},
      {{L"srv", L"-GSID:5", L"-map:C:\\maps\\NOUSEVEXIL_arena", L"-HAIP:10.0.0.1", L"x"},
       {"_NOUSEVEXIL_ ACTIVATED",
        "NOUSEVEXIL found in command-line element 2 \"-map:C:\\maps\\NOUSEVEXIL_arena\": the "
        "connector is switched off for this process"}},
  };
  for (const auto& c : cases) {
    LogWatch watch;
    Library library;
    watch.Loaded();
    ASSERT_TRUE(library.loaded());
    library.InitConn(c.argv);
    std::vector<std::string> expected = {LoadLine()};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(expected, watch.Messages()) << c.argv[1];
  }
}

TEST_F(DllHostTest, TheCInterfaceIsExportedAndRefusesAShortTable) {
  Library library;
  ASSERT_TRUE(library.loaded());
  for (const char* name : {"VexilRunConnCallbacks", "VexilSetCounts", "VexilAddRegion",
                           "VexilAddRegionExtra", "VexilAddStat", "VexilAddStatExtra"}) {
    EXPECT_NE(nullptr, library.Find(name)) << name;
  }
  const auto run = reinterpret_cast<VexilRunConnCallbacksFn>(
      reinterpret_cast<void*>(library.Find("VexilRunConnCallbacks")));
  LogWatch watch;
  VexilHostCallbacks callbacks = {};
  callbacks.size = sizeof callbacks - 1;
  EXPECT_EQ(vexil::kRunBadCallbacks, run(&callbacks));
  EXPECT_EQ(vexil::StatusIdle, library.GetStatus());
  const std::vector<std::string> messages = watch.Messages();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ("VexilRunConnCallbacks refused the table: size " +
                std::to_string(sizeof callbacks - 1) + ", at least " +
                std::to_string(sizeof callbacks) +
                " needed (set size to sizeof(VexilHostCallbacks))",
            messages[0]);
  // The list functions refuse a null list rather than crash.
  const auto add =
      reinterpret_cast<VexilAddStatFn>(reinterpret_cast<void*>(library.Find("VexilAddStat")));
  EXPECT_EQ(VEXIL_LIST_REFUSED, add(nullptr, 1, 2, 3, 4, 5, 6, "x"));
}

// Holds the C runtime's lock on stdout, which the library and this program share: a library call
// that prints waits inside the call until the lock is released.
class StdoutHold {
 public:
  StdoutHold() { vexil::testing::LockStdout(); }
  StdoutHold(const StdoutHold&) = delete;
  StdoutHold& operator=(const StdoutHold&) = delete;
  ~StdoutHold() { Release(); }
  void Release() {
    if (held_) vexil::testing::UnlockStdout();
    held_ = false;
  }

 private:
  bool held_ = true;
};

// A thread that runs one call; joined (with a bound) by its owner, and left running past it.
class Call {
 public:
  explicit Call(std::function<int()> function) {
    std::packaged_task<int()> task(std::move(function));
    result_ = task.get_future();
    thread_ = std::thread(std::move(task));
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    if (Finished(10000)) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
  bool Finished(int milliseconds) {
    return result_.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
  }
  // After Finished.
  int result() const { return result_.get(); }

 private:
  std::shared_future<int> result_;
  std::thread thread_;
};

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The counters from load to unload, before VexilInitConn and after VexilStopConn, by the size rule
// of the header: a size too small for the header is refused, an older host's smaller struct is
// filled only as far as it reaches, a later host's larger one only as far as ours, and size says
// how far.
TEST_F(DllHostTest, CountersAreReadAnyTimeByTheSizeRule) {
  Library library;
  ASSERT_TRUE(library.loaded());
  ASSERT_NE(nullptr, library.Find("VexilGetCounters"));
  VexilConnCounters counters = library.Counters();
  EXPECT_EQ(sizeof(VexilConnCounters), counters.size);
  EXPECT_EQ(0u, counters.connectAttempts + counters.warningsRefused + counters.bytesQueued);

  struct Later {
    VexilConnCounters known;
    uint64_t unknown;
  } later;
  for (const uint32_t size : {0u, 7u, 24u, 31u, static_cast<uint32_t>(sizeof later)}) {
    std::memset(&later, 0xA5, sizeof later);
    later.known.size = size;
    const int result = library.GetCounters(&later.known);
    if (size < VEXIL_COUNTERS_HEADER_SIZE) {
      EXPECT_EQ(VEXIL_COUNTERS_REFUSED, result) << size;
      EXPECT_EQ(size, later.known.size);
      EXPECT_EQ(0xA5A5A5A5u, later.known.reserved) << "nothing written";
      continue;
    }
    ASSERT_EQ(VEXIL_COUNTERS_FILLED, result) << size;
    const uint32_t filled =
        size > sizeof(VexilConnCounters) ? sizeof(VexilConnCounters) : size & ~7u;
    EXPECT_EQ(filled, later.known.size);
    EXPECT_EQ(0u, later.known.connections) << "filled up to " << filled;
    EXPECT_EQ(filled > 24 ? 0u : 0xA5A5A5A5A5A5A5A5u, later.known.registrations);
    EXPECT_EQ(0xA5A5A5A5A5A5A5A5u, later.unknown);
  }

  EXPECT_EQ(vexil::kWarningNotConnected, library.SendWarningMsg(1, "early", "", 0, 0));
  ASSERT_EQ(vexil::kInitOk,
            library.InitConn({L"srv", L"-GSID:7", L"-HAPORT:8990", L"-HAIP:127.0.0.54", L"x"}));
  library.StopConn();
  EXPECT_EQ(vexil::kWarningNotConnected, library.SendWarningMsg(2, "late", "", 0, 0));
  counters = library.Counters();
  EXPECT_EQ(sizeof(VexilConnCounters), counters.size);
  EXPECT_EQ(2u, counters.warningsRefused);
  EXPECT_EQ(0u, counters.warningsQueued + counters.connectAttempts + counters.closedByStop);
}

TEST_F(DllHostTest, StatusIsReadWhileAnotherThreadHoldsTheConnectorLock) {
  const LocalMinute loaded = LocalMinuteNow();
  Library library;
  ASSERT_TRUE(library.loaded());
  const std::wstring log_path = LogPathAt(loaded);
  const size_t old_size = FileBytes(log_path.c_str()).size();

  StdoutHold hold;
  // Writes its log line, then waits to print, holding the connector lock all the while.
  Call disabling([&library] { return library.InitConn({L"srv", L"-NOUSEVEXIL"}); });
  bool logged = false;
  for (int i = 0; i < 1000 && !logged; ++i) {
    logged = FileBytes(log_path.c_str()).find("_NOUSEVEXIL_", old_size) != std::string::npos;
    if (!logged) SleepMilliseconds(10);
  }
  ASSERT_TRUE(logged);
  EXPECT_FALSE(disabling.Finished(0));

  Call waiting([&library] { return library.InitConn({L"srv"}); });
  EXPECT_FALSE(waiting.Finished(300)) << "the connector lock is held";
  Call reading([&library] { return library.GetStatus(); });
  ASSERT_TRUE(reading.Finished(10000));
  EXPECT_EQ(vexil::StatusIdle, reading.result());

  hold.Release();
  ASSERT_TRUE(disabling.Finished(10000));
  ASSERT_TRUE(waiting.Finished(10000));
  EXPECT_EQ(vexil::kInitOk, disabling.result());
  EXPECT_EQ(vexil::StatusDisabled, library.GetStatus());
}

// The agent's end on 127.0.0.7:8990, the connector's fixed port (the test runs alone).
class LoopbackAgent {
 public:
  LoopbackAgent() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                 sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(8990);
    address.sin_addr.s_addr = ::htonl(0x7F000007);
    bound_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(listener_, 4) == 0;
  }
  LoopbackAgent(const LoopbackAgent&) = delete;
  LoopbackAgent& operator=(const LoopbackAgent&) = delete;
  ~LoopbackAgent() {
    if (client_ != kNoTestSocket) CloseTestSocket(client_);
    CloseTestSocket(listener_);
  }

  bool bound() const { return bound_; }
  bool Accept(int timeout_ms) {
    if (!Readable(listener_, timeout_ms)) return false;
    client_ = ::accept(listener_, nullptr, nullptr);
    return client_ != kNoTestSocket;
  }
  // One whole frame (length word included), or empty after 10 s or a close.
  std::string NextFrame() {
    std::string frame = Receive(4);
    if (frame.size() < 4) return std::string();
    uint32_t length = 0;
    std::memcpy(&length, frame.data(), 4);
    if (length < 8 || length > 65536) return std::string();
    return frame + Receive(length - 4);
  }
  void Send(const std::string& bytes) {
    ::send(client_, bytes.data(), static_cast<int>(bytes.size()), kTestSendFlags);
  }

 private:
  static bool Readable(TestSocket socket, int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval limit{timeout_ms / 1000, timeout_ms % 1000 * 1000};
    // Windows ignores the count of descriptors.
    return ::select(static_cast<int>(socket) + 1, &set, nullptr, nullptr, &limit) == 1;
  }
  std::string Receive(size_t n) {
    std::string bytes;
    while (bytes.size() < n && Readable(client_, 10000)) {
      char chunk[4096];
      const int got =
          ::recv(client_, chunk, static_cast<int>(std::min(n - bytes.size(), sizeof chunk)), 0);
      if (got <= 0) break;
      bytes.append(chunk, got);
    }
    return bytes;
  }

  [[maybe_unused]] TestSocketService service_;  // held for its life (an empty class on POSIX)
  TestSocket listener_ = kNoTestSocket;
  TestSocket client_ = kNoTestSocket;
  bool bound_ = false;
};

std::string Words(std::initializer_list<uint32_t> words) {
  std::string bytes;
  for (uint32_t word : words) bytes.append(reinterpret_cast<const char*>(&word), 4);
  return bytes;
}

TEST_F(DllHostTest, ConnectsRegistersAnswersAndStops) {
  LoopbackAgent agent;
  ASSERT_TRUE(agent.bound()) << vexil::testing::LastSocketError();
  LogWatch watch;
  Library library;
  watch.Loaded();
  ASSERT_TRUE(library.loaded());
  ASSERT_EQ(vexil::kInitOk,
            library.InitConn({L"srv", L"-GSID:7", L"-HAPORT:1234", L"-HAIP:127.0.0.7", L"x"}));
  AgreeingHost host;
  EXPECT_EQ(vexil::kWarningNotConnected, library.SendWarningMsg(1, "early", "", 0, 0));
  ASSERT_EQ(vexil::kRunStarted, library.RunConn(&host));
  EXPECT_EQ(vexil::kRunAlreadyRunning, library.RunConn(&host));

  // The first attempt comes after the 5-second wait.
  ASSERT_TRUE(agent.Accept(20000));
  const std::string registration = agent.NextFrame();
  const std::string exe = "host_dll_test";
  ASSERT_EQ(40 + exe.size(), registration.size());
  EXPECT_EQ(Words({static_cast<uint32_t>(registration.size()), 1, 65537, 7, TestProcessId(), 1,
                   88888, 8990, 0, static_cast<uint32_t>(exe.size())}) +
                exe,
            registration);
  for (int i = 0; i < 1000 && library.GetStatus() != vexil::StatusConnected; ++i)
    SleepMilliseconds(10);
  ASSERT_EQ(vexil::StatusConnected, library.GetStatus());
  const std::string registered =
      "Registered with the HA agent as GSID 7, process " + std::to_string(TestProcessId());
  bool logged = false;
  for (int i = 0; i < 1000 && !logged; ++i) {
    const std::vector<std::string> messages = watch.Messages();
    logged = std::find(messages.begin(), messages.end(), registered) != messages.end();
    if (!logged) SleepMilliseconds(10);
  }
  EXPECT_TRUE(logged) << registered;

  agent.Send(Words({12, 2, 9}));
  EXPECT_EQ(Words({16, 4, 9, 7}), agent.NextFrame());
  EXPECT_EQ(vexil::kWarningQueued, library.SendWarningMsg(5, "ab", "", 1, 2));
  EXPECT_EQ(Words({34, 9, 1, 7, 2, 5, 2}) + "ab" + Words({0}), agent.NextFrame());

  library.StopConn();
  library.StopConn();
  EXPECT_EQ(vexil::StatusConnected, library.GetStatus());
  EXPECT_EQ(vexil::kRunAlreadyRunning, library.RunConn(&host));
  EXPECT_EQ(vexil::kWarningNotConnected, library.SendWarningMsg(5, "late", "", 1, 2));
}

#ifdef _WIN32
// Whether this process holds the socket service: WSACleanup fails with WSANOTINITIALISED when no
// WSAStartup stands. A successful probe gives up the reference it found.
bool SocketServiceHeld() { return ::WSACleanup() == 0 || ::WSAGetLastError() != WSANOTINITIALISED; }

// The socket service is the worker's alone: a load starts none (its start-up would run under the
// loader lock), the worker starts it before its first socket (its connects fail as refused, not
// as WSANOTINITIALISED) and ends its use once stopped.
TEST_F(DllHostTest, TheWorkerStartsAndEndsTheSocketService) {
  ASSERT_FALSE(SocketServiceHeld()) << "the test program starts none of its own";
  LogWatch watch;
  Library library;
  watch.Loaded();
  ASSERT_TRUE(library.loaded());
  EXPECT_FALSE(SocketServiceHeld()) << "the load started the socket service";
  ASSERT_EQ(vexil::kInitOk,
            library.InitConn({L"srv", L"-GSID:7", L"-HAPORT:8990", L"-HAIP:127.0.0.52", L"x"}));
  AgreeingHost host;
  ASSERT_EQ(vexil::kRunStarted, library.RunConn(&host));
  // Nothing listens there: the first attempt, 5 s after the start, is refused.
  std::string attempt;
  for (int i = 0; i < 2000 && attempt.empty(); ++i) {
    for (const std::string& message : watch.Messages()) {
      if (message.rfind("Error code", 0) == 0) attempt = message;
    }
    if (attempt.empty()) SleepMilliseconds(10);
  }
  library.StopConn();
  EXPECT_EQ("Error code : 10061 Connect IP: 127.0.0.52 Port:8990  ", attempt);
  EXPECT_FALSE(SocketServiceHeld()) << "the worker left its use of the socket service standing";
}
#endif

// Counts the library's checks and resumes after them, as a host's handler may: Windows: the
// exception 0xE0000001; Linux: the signal SIGTRAP queued with that value.
std::atomic<int> g_checks{0};

#ifdef _WIN32
LONG CALLBACK CountCheck(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != vexil::kInternalCheckCode) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ++g_checks;
  return EXCEPTION_CONTINUE_EXECUTION;
}
#else
void CountCheck(int, siginfo_t* info, void*) {
  if (info->si_code == SI_QUEUE &&
      static_cast<uint32_t>(info->si_value.sival_int) == vexil::kInternalCheckCode) {
    ++g_checks;
  }
}
#endif

// The count's handler, installed for the object's lifetime.
class CheckCount {
 public:
  CheckCount() {
    g_checks = 0;
#ifdef _WIN32
    handler_ = ::AddVectoredExceptionHandler(1, &CountCheck);
#else
    struct sigaction action = {};
    action.sa_sigaction = &CountCheck;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTRAP, &action, &previous_);
#endif
  }
  CheckCount(const CheckCount&) = delete;
  CheckCount& operator=(const CheckCount&) = delete;
  ~CheckCount() {
#ifdef _WIN32
    ::RemoveVectoredExceptionHandler(handler_);
#else
    ::sigaction(SIGTRAP, &previous_, nullptr);
#endif
  }
  int count() const { return g_checks; }

 private:
#ifdef _WIN32
  void* handler_;
#else
  struct sigaction previous_;
#endif
};

TEST_F(DllHostTest, NullArgumentsRaiseTheCheckWithNothingLocked) {
  Library library;
  ASSERT_TRUE(library.loaded());
  int checks = 0;
  {
    CheckCount count;
    library.RunConn(nullptr);
    library.SendWarningMsg(0, nullptr, "", 0, 0);
    library.SendWarningMsg(0, "", nullptr, 0, 0);
    EXPECT_EQ(VEXIL_COUNTERS_REFUSED, library.GetCounters(nullptr));
    checks = count.count();
  }
  EXPECT_EQ(4, checks);
  EXPECT_EQ(vexil::StatusIdle, library.GetStatus()) << "nothing started";
  Call other([&library] { return library.InitConn({L"srv"}); });
  ASSERT_TRUE(other.Finished(10000)) << "the connector lock is free";
  library.StopConn();
}

}  // namespace
