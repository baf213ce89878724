#include "host/agent_connector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "support/agreeing_host.h"
#include "support/check_recorder.h"
#include "support/file_bytes.h"
#include "support/test_platform.h"
#include "sync/check.h"
#include "sync/scoped_lock.h"
#ifdef _WIN32
#include "sync/win32.h"
#endif

namespace vexil {
namespace {

using std::chrono::seconds;

LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

// Sends standard output (descriptor 1) to a file while it lives, and gives back its bytes. On
// Windows text mode, like a console: the connector's lines arrive as UTF-8, line feeds as CR LF.
class StdoutCapture {
 public:
  StdoutCapture() : path_(testing::TempDirectory() + L"agent_connector_test_stdout.txt") {
    saved_ = testing::RedirectStdout(path_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  ~StdoutCapture() {
    Restore();
    testing::RemoveFile(path_.c_str());
  }
  std::string Bytes() {
    Restore();
    return testing::FileBytes(path_.c_str());
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    testing::RestoreStdout(saved_);
    saved_ = -1;
  }
  std::wstring path_;
  int saved_ = -1;
};

class AgentConnectorTest : public ::testing::Test {
 protected:
  AgentConnectorTest() : log_(&FixedTime, L"c:\\no such directory\\none.ini"), connector_(&log_) {
    testing::RemoveFile(log_.path());
  }
  ~AgentConnectorTest() override { testing::RemoveFile(log_.path()); }

  int Init(std::initializer_list<const wchar_t*> args) {
    const std::vector<const wchar_t*> argv(args);
    return connector_.InitConn(static_cast<int>(argv.size()), argv.data());
  }

  ConnLog log_;
  AgentConnector connector_;
};

TEST_F(AgentConnectorTest, ResultCodesAndStoredSettings) {
  EXPECT_EQ(StatusIdle, connector_.GetStatus());
  EXPECT_EQ(kInitOk, Init({L"srv"}));
  EXPECT_EQ(kInitBadOptions, Init({L"srv", L"-GSID:12", L"-HAPORT:8000", L"x", L"y"}));
  EXPECT_EQ(12, connector_.settings().gsid);
  EXPECT_EQ(kInitOk, Init({L"C:\\GSIDsrv\\game.exe", L"-GSID:13", L"-HAPORT:8000",
                           L"-HAIP:10.0.0.1", L"x"}));
  const ConnSettings settings = connector_.settings();
  EXPECT_EQ(13, settings.gsid);
  EXPECT_EQ(8000, settings.haport);
  EXPECT_EQ(L"10.0.0.1", settings.haip);
  EXPECT_EQ(StatusIdle, connector_.GetStatus());
  // The refusal says why; the accepted HAPORT is not the port that is used; the agent's address
  // names the element it came from.
  EXPECT_EQ(std::string("VexilConn[05_07:09:03:045] = VexilInitConn refused the options: HAIP is "
                        "missing (give the HA agent's IPv4 address, for example "
                        "-HAIP:127.0.0.1)") +
                testing::kTextLineEnd +
                "VexilConn[05_07:09:03:045] = HAPORT 8000 is not used: the HA agent is always "
                "reached on port 8990" +
                testing::kTextLineEnd +
                "VexilConn[05_07:09:03:045] = HAIP found in command-line element 3 "
                "\"-HAIP:10.0.0.1\": the HA agent is reached at 10.0.0.1" +
                testing::kTextLineEnd,
            testing::FileBytes(log_.path()));
}

TEST_F(AgentConnectorTest, ARefusalIsLoggedAndPrinted) {
  StdoutCapture console;
  EXPECT_EQ(kInitBadOptions,
            Init({L"minimal-host.exe", L"-GSID:42", L"-HAPORT:8990", L"-HAIP:127.0.0.131"}));
  const std::string line =
      "VexilInitConn refused the options: 4 command-line elements given, at least 5 are needed "
      "(the program, -GSID:N, -HAPORT:8990, -HAIP:ADDRESS and one more of any kind)" +
      std::string(testing::kTextLineEnd);
  EXPECT_EQ(line, console.Bytes());
  EXPECT_EQ("VexilConn[05_07:09:03:045] = " + line, testing::FileBytes(log_.path()));
}

TEST_F(AgentConnectorTest, NoUseVexilLogsPrintsAndDisables) {
  StdoutCapture console;
  EXPECT_EQ(kInitOk, Init({L"srv", L"-NOUSEVEXIL"}));
  const std::string element =
      "NOUSEVEXIL found in command-line element 1 \"-NOUSEVEXIL\": the connector is switched off "
      "for this process";
  // The host's own narrow output still reaches standard output after the connector's lines.
  std::printf("host line\n");
  EXPECT_EQ(std::string("_NOUSEVEXIL_ ACTIVATED") + testing::kTextLineEnd + element +
                testing::kTextLineEnd + "host line" + testing::kTextLineEnd,
            console.Bytes());
  EXPECT_EQ(StatusDisabled, connector_.GetStatus());
  EXPECT_EQ(std::string("VexilConn[05_07:09:03:045] = _NOUSEVEXIL_ ACTIVATED") +
                testing::kTextLineEnd + "VexilConn[05_07:09:03:045] = " + element +
                testing::kTextLineEnd,
            testing::FileBytes(log_.path()));
}

// A command-line element in Korean and Cyrillic is explained whole, with its line end, on standard
// output and in the log alike, in UTF-8.
TEST_F(AgentConnectorTest, NonLatinTextReachesConsoleAndLogWhole) {
  StdoutCapture console;
  EXPECT_EQ(kInitOk, Init({L"C:\\서버\\게임.exe", L"-map:C:\\맵\\NOUSEVEXIL_арена"}));
  std::printf("host line\n");
  const std::string element =
      "NOUSEVEXIL found in command-line element 1 \"-map:C:\\맵\\NOUSEVEXIL_арена\": the "
      "connector is switched off for this process";
  EXPECT_EQ(std::string("_NOUSEVEXIL_ ACTIVATED") + testing::kTextLineEnd + element +
                testing::kTextLineEnd + "host line" + testing::kTextLineEnd,
            console.Bytes());
  EXPECT_EQ(std::string("VexilConn[05_07:09:03:045] = _NOUSEVEXIL_ ACTIVATED") +
                testing::kTextLineEnd + "VexilConn[05_07:09:03:045] = " + element +
                testing::kTextLineEnd,
            testing::FileBytes(log_.path()));
}

TEST_F(AgentConnectorTest, StatusIsReadWhileAnotherThreadHoldsTheLock) {
  ScopedLock<AgentConnector> guard(&connector_, true);
  auto status = std::async(std::launch::async, [this] { return connector_.GetStatus(); });
  ASSERT_EQ(std::future_status::ready, status.wait_for(seconds(10)));
  EXPECT_EQ(StatusIdle, status.get());
}

// Nothing listens at the agent's address: each attempt writes its one line, with the refusal's
// code, to the log and to standard output and closes its socket (the next one attaches afresh);
// the status stays Connecting and the next attempt follows the delay.
TEST_F(AgentConnectorTest, EveryRefusedAttemptGivesOneLineAndTheNextFollows) {
#ifdef _WIN32
  const std::string refused = std::to_string(WSAECONNREFUSED);
#else
  const std::string refused = std::to_string(ECONNREFUSED);
#endif
  AgentConnector connector(&log_, ConnectorTiming{50, 8990});
  const wchar_t* const argv[] = {L"srv", L"-GSID:12", L"-HAPORT:8990", L"-HAIP:127.0.0.185", L"x"};
  ASSERT_EQ(kInitOk, connector.InitConn(5, argv));
  const std::string before = testing::FileBytes(log_.path());
  const std::string line = "VexilConn[05_07:09:03:045] = Error code : " + refused +
                           " Connect IP: 127.0.0.185 Port:8990  " + testing::kTextLineEnd +
                           testing::kTextLineEnd;
  StdoutCapture console;
  testing::AgreeingHost host;
  EXPECT_EQ(kRunStarted, connector.RunConn(&host));
  std::string log;
  size_t attempts = 0;
  for (int i = 0; i < 1000 && attempts < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(StatusConnecting, connector.GetStatus());
    log = testing::FileBytes(log_.path());
    attempts = (log.size() - before.size()) / line.size();
  }
  connector.StopConn();
  EXPECT_EQ(StatusConnecting, connector.GetStatus());
  log = testing::FileBytes(log_.path());
  attempts = (log.size() - before.size()) / line.size();
  EXPECT_GE(attempts, 3u);
  std::string lines;
  std::string printed;
  for (size_t i = 0; i < attempts; ++i) {
    lines += line;
    printed += "Error code " + refused + " : Connect IP:  127.0.0.185 Port :8990   " +
               testing::kTextLineEnd;
  }
  EXPECT_EQ(before + lines, log);
  EXPECT_EQ(printed, console.Bytes());
}

#ifdef _WIN32
// While a check is being raised, whether another thread can take the connector lock.
AgentConnector* g_probed = nullptr;
int g_probes = 0;
bool g_lock_was_free = false;

LONG CALLBACK ProbeLockAtCheck(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != kCheckFailureCode) return EXCEPTION_CONTINUE_SEARCH;
  ++g_probes;
  auto taken =
      std::async(std::launch::async, [] { ScopedLock<AgentConnector> guard(g_probed, true); });
  g_lock_was_free = taken.wait_for(seconds(5)) == std::future_status::ready;
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST_F(AgentConnectorTest, BadArgumentVectorsRaiseTheCheckWithoutTheLock) {
  g_probed = &connector_;
  g_probes = 0;
  void* handler = ::AddVectoredExceptionHandler(1, &ProbeLockAtCheck);
  g_lock_was_free = false;
  EXPECT_EQ(kInitBadOptions, connector_.InitConn(2, nullptr));
  EXPECT_TRUE(g_lock_was_free);
  g_lock_was_free = false;
  const wchar_t* const with_null[] = {L"srv", L"-GSID:1", nullptr, L"-HAIP:h", L"x"};
  EXPECT_EQ(kInitBadOptions, connector_.InitConn(5, with_null));
  EXPECT_TRUE(g_lock_was_free);
  ::RemoveVectoredExceptionHandler(handler);
  EXPECT_EQ(2, g_probes);
  EXPECT_EQ(0, connector_.settings().gsid) << "nothing was read";
}
#endif

}  // namespace
}  // namespace vexil
