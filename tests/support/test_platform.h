// What the connector's tests need of the platform they run on, so that the same test sources run
// under Wine against the Windows build and natively on Linux. Header only: the library-level tests
// link none of our libraries.
#ifndef VEXIL_TESTS_SUPPORT_TEST_PLATFORM_H_
#define VEXIL_TESTS_SUPPORT_TEST_PLATFORM_H_

#ifdef _WIN32
#include <winsock2.h>  // before <windows.h>
#include <windows.h>

// After <windows.h>.
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#endif

#include <cstdint>
#include <cstdio>
#include <string>

// Defined when the program runs under ThreadSanitizer, which GCC tells by __SANITIZE_THREAD__ and
// Clang by __has_feature(thread_sanitizer).
#if defined(__SANITIZE_THREAD__)
#define VEXIL_TESTS_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEXIL_TESTS_THREAD_SANITIZER 1
#endif
#endif

namespace vexil::testing {

// The local wall-clock time to the minute, as the system reports it.
struct LocalMinute {
  int year;
  int month;
  int day;
  int hour;
  int minute;
};

// Whether a test may start one of the C library's own name lookups. ThreadSanitizer cannot follow
// the thread glibc's asynchronous resolver starts for itself, and crashes in it: the
// ThreadSanitizer run leaves those lookups to the AddressSanitizer and Windows runs.
#if defined(VEXIL_TESTS_THREAD_SANITIZER)
constexpr bool kSystemNameLookupTestable = false;
#else
constexpr bool kSystemNameLookupTestable = true;
#endif

#ifdef _WIN32

// How a line of text ends in a file the platform's text output wrote.
constexpr char kTextLineEnd[] = "\r\n";

// Sends standard output (descriptor 1) to the file at path (text mode, as a console is) and
// returns the descriptor it had, for RestoreStdout.
inline int RedirectStdout(const std::wstring& path) {
  std::fflush(stdout);
  const int saved = ::_dup(1);
  const int file = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, 0600);
  ::_dup2(file, 1);
  ::_close(file);
  return saved;
}
inline void RestoreStdout(int saved) {
  std::fflush(stdout);
  ::_dup2(saved, 1);
  ::_close(saved);
}

inline uint32_t TestProcessId() { return ::GetCurrentProcessId(); }
// True when the program runs under Wine, whose sockets and tables differ from Windows' in a few
// reports.
inline bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
inline LocalMinute LocalMinuteNow() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalMinute{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute};
}
// Holds the C runtime's lock on stdout, which a library built with the same runtime shares.
inline void LockStdout() { ::_lock_file(stdout); }
inline void UnlockStdout() { ::_unlock_file(stdout); }

// The plain socket calls a test makes without our network layer.
using TestSocket = SOCKET;
constexpr TestSocket kNoTestSocket = INVALID_SOCKET;
constexpr int kTestSendFlags = 0;
inline void CloseTestSocket(TestSocket socket) { ::closesocket(socket); }
inline int LastSocketError() { return ::WSAGetLastError(); }
// The socket service, started for the object's lifetime.
class TestSocketService {
 public:
  TestSocketService() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 0), &data);
  }
  TestSocketService(const TestSocketService&) = delete;
  TestSocketService& operator=(const TestSocketService&) = delete;
  ~TestSocketService() { ::WSACleanup(); }
};
inline void RemoveFile(const wchar_t* path) { ::DeleteFileW(path); }
// The threads of this process.
inline int ThreadCount() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  }
  ::CloseHandle(snapshot);
  return count;
}
inline FILE* OpenFile(const wchar_t* path, const wchar_t* mode) { return ::_wfopen(path, mode); }
// The folder for a test's own files, with a trailing separator.
inline std::wstring TempDirectory() {
  wchar_t directory[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, directory);
  return directory;
}

#else

// A wide path as the file system takes it: UTF-8.
inline std::string NarrowPath(const wchar_t* path) {
  std::string narrow;
  for (; *path != L'\0'; ++path) {
    const uint32_t c = static_cast<uint32_t>(*path);
    if (c < 0x80) {
      narrow += static_cast<char>(c);
    } else if (c < 0x800) {
      narrow += static_cast<char>(0xC0 | (c >> 6));
      narrow += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      narrow += static_cast<char>(0xE0 | (c >> 12));
      narrow += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      narrow += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      narrow += static_cast<char>(0xF0 | (c >> 18));
      narrow += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      narrow += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      narrow += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return narrow;
}

constexpr char kTextLineEnd[] = "\n";

inline int RedirectStdout(const std::wstring& path) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int file = ::open(NarrowPath(path.c_str()).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(file, 1);
  ::close(file);
  return saved;
}
inline void RestoreStdout(int saved) {
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
}

inline uint32_t TestProcessId() { return static_cast<uint32_t>(::getpid()); }
inline bool RunningUnderWine() { return false; }
inline LocalMinute LocalMinuteNow() {
  const time_t now = std::time(nullptr);
  tm local;
  ::localtime_r(&now, &local);
  return LocalMinute{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min};
}
inline void LockStdout() { ::flockfile(stdout); }
inline void UnlockStdout() { ::funlockfile(stdout); }

using TestSocket = int;
constexpr TestSocket kNoTestSocket = -1;
// A peer that went away fails the send rather than raising SIGPIPE.
constexpr int kTestSendFlags = MSG_NOSIGNAL;
inline void CloseTestSocket(TestSocket socket) { ::close(socket); }
inline int LastSocketError() { return errno; }
// There is no socket service to start.
class TestSocketService {};
inline void RemoveFile(const wchar_t* path) { std::remove(NarrowPath(path).c_str()); }
inline int ThreadCount() {
  int count = 0;
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(tasks)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(tasks);
  }
  return count;
}
inline FILE* OpenFile(const wchar_t* path, const wchar_t* mode) {
  return std::fopen(NarrowPath(path).c_str(), NarrowPath(mode).c_str());
}
inline std::wstring TempDirectory() {
  const char* directory = std::getenv("TMPDIR");
  std::wstring wide = L"/tmp/";
  if (directory != nullptr && directory[0] == '/') {
    wide.assign(directory, directory + std::char_traits<char>::length(directory));
    wide += L'/';
  }
  return wide;
}

#endif

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_TEST_PLATFORM_H_
