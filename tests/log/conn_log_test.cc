#include "log/conn_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/file_bytes.h"
#include "sync/win32.h"

namespace vexil {
namespace {

// Loaded on 2024-03-05 at 07:09; every line is written at 07:09:03.045 on the 5th.
LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

std::wstring ExecutableBaseName() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path);
  name = name.substr(name.rfind(L'\\') + 1);
  return name.substr(0, name.rfind(L'.'));
}

// A profile file of this test program's own, removed again at the end of each test; the log file
// of the fixed load time starts empty in each test.
class ConnLogTest : public ::testing::Test {
 protected:
  ConnLogTest() {
    wchar_t directory[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, directory);
    profile_ = std::wstring(directory) + L"conn_log_test_profile.ini";
    ::DeleteFileW(profile_.c_str());
    log_path_ = L"c:\\LOG\\VexilConn\\" + ExecutableBaseName() + L"_20240305_0709.log";
    ::DeleteFileW(log_path_.c_str());
  }
  ~ConnLogTest() override {
    ::DeleteFileW(profile_.c_str());
    ::DeleteFileW(log_path_.c_str());
  }

  void WriteProfile(const char* text) {
    FILE* file = ::_wfopen(profile_.c_str(), L"wb");
    ASSERT_NE(nullptr, file);
    std::fputs(text, file);
    std::fclose(file);
  }

  std::wstring profile_;
  std::wstring log_path_;
};

TEST_F(ConnLogTest, NamesTheFileAfterExecutableAndLoadTime) {
  ConnLog log(&FixedTime, profile_.c_str());
  EXPECT_EQ(log_path_, log.path());
  EXPECT_EQ(2, log.level()) << "no profile file";
}

TEST_F(ConnLogTest, WritesTimestampedLinesWithCrLf) {
  ConnLog log(&FixedTime, profile_.c_str());
  log.Write(1, L"Error code : %d Connect IP: %ls Port:%u  \n", 10061, L"127.0.0.1", 8990u);
  log.Write(2, L"%ls", L"second");
  log.Write(3, L"above the level");
  EXPECT_EQ(
      "VexilConn[05_07:09:03:045] = Error code : 10061 Connect IP: 127.0.0.1 Port:8990  \r\n\r\n"
      "VexilConn[05_07:09:03:045] = second\r\n",
      testing::FileBytes(log_path_.c_str()));
}

TEST_F(ConnLogTest, CutsLongMessagesAt1023Characters) {
  ConnLog log(&FixedTime, profile_.c_str());
  const std::wstring exact(1023, L'a');
  log.Write(1, L"%ls", exact.c_str());
  log.Write(1, L"%ls", (std::wstring(1023, L'b') + L"cut").c_str());
  const std::string prefix = "VexilConn[05_07:09:03:045] = ";
  EXPECT_EQ(prefix + std::string(1023, 'a') + "\r\n" + prefix + std::string(1023, 'b') + "\r\n",
            testing::FileBytes(log_path_.c_str()));
}

TEST_F(ConnLogTest, LevelComesFromTheProfile) {
  const struct {
    const char* profile;
    int32_t level;
  } cases[] = {
      {"[LOG]\r\nERRLEVEL=0\r\n", 0},   {"[LOG]\r\nERRLEVEL=1\r\n", 1},
      {"[LOG]\r\nERRLEVEL=\r\n", 2},    {"[LOG]\r\nERRLEVEL=high\r\n", 0},
      {"[LOG]\r\nERRLEVEL=-3\r\n", -3}, {"[OTHER]\r\nERRLEVEL=0\r\n", 2},
      {"[LOG]\r\nERRLEVEL=7x\r\n", 7},
  };
  for (const auto& c : cases) {
    WriteProfile(c.profile);
    EXPECT_EQ(c.level, ConnLog(&FixedTime, profile_.c_str()).level()) << c.profile;
  }
}

TEST_F(ConnLogTest, LevelZeroWritesNothing) {
  WriteProfile("[LOG]\r\nERRLEVEL=0\r\n");
  ConnLog log(&FixedTime, profile_.c_str());
  log.Write(1, L"dropped");
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(log_path_.c_str()));
}

TEST_F(ConnLogTest, LinesFromManyThreadsStayWhole) {
  ConnLog log(&FixedTime, profile_.c_str());
  constexpr int kThreads = 4;
  constexpr int kLines = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.Write(1, L"thread %d line %03d %ls", t, i, L"end");
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::string bytes = testing::FileBytes(log_path_.c_str());
  std::vector<int> next(kThreads, 0);
  size_t start = 0;
  int lines = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find("\r\n", start);
    ASSERT_NE(std::string::npos, end);
    int thread = -1;
    int line = -1;
    char tail[8] = {};
    ASSERT_EQ(
        3, std::sscanf(bytes.c_str() + start, "VexilConn[05_07:09:03:045] = thread %d line %d %7s",
                       &thread, &line, tail));
    ASSERT_GE(thread, 0);
    ASSERT_LT(thread, kThreads);
    EXPECT_EQ(next[thread]++, line) << "each thread's lines arrive in order";
    EXPECT_STREQ("end", tail);
    start = end + 2;
    ++lines;
  }
  EXPECT_EQ(kThreads * kLines, lines);
}

}  // namespace
}  // namespace vexil
