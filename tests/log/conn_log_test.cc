#include "log/conn_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/file_bytes.h"
#include "support/test_platform.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cstdlib>
#endif

namespace vexil {
namespace {

// Loaded on 2024-03-05 at 07:09; every line is written at 07:09:03.045 on the 5th.
LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

using testing::kTextLineEnd;

#ifdef _WIN32
std::wstring ExecutableBaseName() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path);
  name = name.substr(name.rfind(L'\\') + 1);
  return name.substr(0, name.rfind(L'.'));
}

std::wstring LogFolder() { return L"c:\\LOG\\VexilConn\\"; }
#else
// The test build sets VEXILCONN_LOG_DIR; this program has no extension.
std::wstring ExecutableBaseName() { return L"log_conn_log_test"; }

std::wstring LogFolder() {
  const char* folder = std::getenv("VEXILCONN_LOG_DIR");
  const std::string narrow = folder != nullptr ? folder : "/tmp";
  return std::wstring(narrow.begin(), narrow.end()) + L"/";
}
#endif

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + kTextLineEnd;
  return text;
}

// A profile file of this test program's own, removed again at the end of each test; the log file
// of the fixed load time starts empty in each test.
class ConnLogTest : public ::testing::Test {
 protected:
  ConnLogTest() {
    profile_ = testing::TempDirectory() + L"conn_log_test_profile.ini";
    testing::RemoveFile(profile_.c_str());
    log_path_ = LogFolder() + ExecutableBaseName() + L"_20240305_0709.log";
    testing::RemoveFile(log_path_.c_str());
  }
  ~ConnLogTest() override {
    testing::RemoveFile(profile_.c_str());
    testing::RemoveFile(log_path_.c_str());
  }

  void WriteProfile(const char* text) {
    FILE* file = testing::OpenFile(profile_.c_str(), L"wb");
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

TEST_F(ConnLogTest, WritesTimestampedLinesWithThePlatformsLineEnd) {
  ConnLog log(&FixedTime, profile_.c_str());
  log.Write(1, L"Error code : %d Connect IP: %ls Port:%u  \n", 10061, L"127.0.0.1", 8990u);
  log.Write(2, L"%ls", L"second");
  log.Write(3, L"above the level");
  EXPECT_EQ(
      Lines({"VexilConn[05_07:09:03:045] = Error code : 10061 Connect IP: 127.0.0.1 Port:8990  ",
             "", "VexilConn[05_07:09:03:045] = second"}),
      testing::FileBytes(log_path_.c_str()));
}

// Text beyond Latin-1 (a Korean program path, a Cyrillic message) and a Latin-1 letter all arrive
// whole, in UTF-8, with the line end: the C runtime's conversion in the "C" locale lost them.
TEST_F(ConnLogTest, WritesEveryCharacterInUtf8) {
  ConnLog log(&FixedTime, profile_.c_str());
  log.Write(1, L"VexilConn %ls loaded by %ls, process %u", L"0.1.0", L"C:\\서버\\게임.exe", 42u);
  log.Write(1, L"%ls \n", L"Сервер café остановлен");
  log.Write(1, L"after");
  EXPECT_EQ(
      Lines(
          {"VexilConn[05_07:09:03:045] = VexilConn 0.1.0 loaded by C:\\서버\\게임.exe, process 42",
           "VexilConn[05_07:09:03:045] = Сервер café остановлен ", "",
           "VexilConn[05_07:09:03:045] = after"}),
      testing::FileBytes(log_path_.c_str()));
}

TEST_F(ConnLogTest, CutsLongMessagesAt1023Characters) {
  ConnLog log(&FixedTime, profile_.c_str());
  const std::wstring exact(1023, L'a');
  log.Write(1, L"%ls", exact.c_str());
  log.Write(1, L"%ls", (std::wstring(1023, L'b') + L"cut").c_str());
  const std::string prefix = "VexilConn[05_07:09:03:045] = ";
  EXPECT_EQ(Lines({prefix + std::string(1023, 'a'), prefix + std::string(1023, 'b')}),
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
  EXPECT_EQ(nullptr, testing::OpenFile(log_path_.c_str(), L"rb")) << "no file was made";
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
    const size_t end = bytes.find(kTextLineEnd, start);
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
    start = end + sizeof(kTextLineEnd) - 1;
    ++lines;
  }
  EXPECT_EQ(kThreads * kLines, lines);
}

#ifndef _WIN32
// The folder comes from the environment at load; one that cannot be made or written means no log
// at all, and nothing else changes.
class LogFolderTest : public ::testing::Test {
 protected:
  LogFolderTest() {
    const char* folder = std::getenv("VEXILCONN_LOG_DIR");
    saved_ = folder != nullptr ? folder : "";
  }
  ~LogFolderTest() override { ::setenv("VEXILCONN_LOG_DIR", saved_.c_str(), 1); }
  std::string saved_;
};

TEST_F(LogFolderTest, IsMadeWithItsParentsWhereMissing) {
  const std::string folder = "/tmp/vexilconn_log_folder_test_" + std::to_string(::getpid());
  ::setenv("VEXILCONN_LOG_DIR", (folder + "/a/b/").c_str(), 1);
  {
    ConnLog log(&FixedTime, L"/nonexistent/profile.ini");
    const std::wstring path = log.path();
    EXPECT_EQ(
        std::wstring(folder.begin(), folder.end()) + L"/a/b/log_conn_log_test_20240305_0709.log",
        path);
    log.Write(1, L"kept");
    EXPECT_EQ(Lines({"VexilConn[05_07:09:03:045] = kept"}), testing::FileBytes(path.c_str()));
    testing::RemoveFile(path.c_str());
  }
  ::rmdir((folder + "/a/b").c_str());
  ::rmdir((folder + "/a").c_str());
  ::rmdir(folder.c_str());
}

TEST_F(LogFolderTest, AFolderThatCannotBeMadeMeansNoLog) {
  // A regular file where a parent folder would have to be.
  const std::string blocker = "/tmp/vexilconn_log_blocker_" + std::to_string(::getpid());
  FILE* file = std::fopen(blocker.c_str(), "w");
  ASSERT_NE(nullptr, file);
  std::fclose(file);
  for (const std::string& folder : {blocker + "/logs", std::string()}) {
    ::setenv("VEXILCONN_LOG_DIR", folder.c_str(), 1);
    const char* home = std::getenv("HOME");
    const std::string saved_home = home != nullptr ? home : "";
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string saved_state = state != nullptr ? state : "";
    if (folder.empty()) {
      // Nothing names a folder at all.
      ::unsetenv("HOME");
      ::unsetenv("XDG_STATE_HOME");
    }
    ConnLog log(&FixedTime, L"/nonexistent/profile.ini");
    EXPECT_STREQ(L"", log.path()) << folder;
    log.Write(1, L"dropped without a word");
    if (folder.empty()) {
      ::setenv("HOME", saved_home.c_str(), 1);
      if (!saved_state.empty()) ::setenv("XDG_STATE_HOME", saved_state.c_str(), 1);
    }
  }
  std::remove(blocker.c_str());
}

// Another user could read or redirect what is written into a folder they own: no log at all, and
// one line on standard error. Made as root, handed to another user.
TEST_F(LogFolderTest, AFolderAnotherUserOwnsMeansNoLog) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  const std::string folder = "/tmp/vexilconn_log_foreign_" + std::to_string(::getpid());
  ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
  ASSERT_EQ(0, ::chown(folder.c_str(), 12345, 12345));
  ::setenv("VEXILCONN_LOG_DIR", folder.c_str(), 1);
  ::testing::internal::CaptureStderr();
  const std::wstring path = ConnLog(&FixedTime, L"/nonexistent/profile.ini").path();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(L"", path);
  EXPECT_EQ("VexilConn: no log: the log folder " + folder +
                " is owned by uid 12345, neither root nor this process's user\n",
            said);
  ::rmdir(folder.c_str());
}

// The folder and the file are made for the host's user and group only, and a link planted at the
// file's name is not followed: the line is dropped and the link's target stays as it was.
TEST_F(LogFolderTest, FilesAreNotSharedAndLinksAreNotFollowed) {
  const std::string folder = "/tmp/vexilconn_log_modes_" + std::to_string(::getpid());
  ::setenv("VEXILCONN_LOG_DIR", (folder + "/logs").c_str(), 1);
  const mode_t saved_mask = ::umask(0);
  ConnLog log(&FixedTime, L"/nonexistent/profile.ini");
  log.Write(1, L"private");
  ::umask(saved_mask);
  const std::string path = testing::NarrowPath(log.path());
  struct stat status;
  ASSERT_EQ(0, ::stat((folder + "/logs").c_str(), &status));
  EXPECT_EQ(0750u, status.st_mode & 07777);
  ASSERT_EQ(0, ::stat(path.c_str(), &status));
  EXPECT_EQ(0640u, status.st_mode & 07777);

  const std::string target = folder + "/elsewhere";
  std::remove(path.c_str());
  ASSERT_EQ(0, ::symlink(target.c_str(), path.c_str()));
  log.Write(1, L"redirected?");
  EXPECT_NE(0, ::access(target.c_str(), F_OK)) << "the link was followed";
  std::remove(path.c_str());
  ::rmdir((folder + "/logs").c_str());
  ::rmdir(folder.c_str());
}

TEST_F(ConnLogTest, PosixProfileIsReadAsWindowsReadsOne) {
  WriteProfile("; comment\n[other]\nERRLEVEL=9\n [ log ] \n  errlevel =  5 \nERRLEVEL=7\n");
  EXPECT_EQ(5, ConnLog(&FixedTime, profile_.c_str()).level())
      << "names without regard to case or spaces, the first match";
}
#endif

}  // namespace
}  // namespace vexil
