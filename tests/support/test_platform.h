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
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include <cstdint>
#include <cstdio>
#include <string>

namespace vexil::testing {

// Whether a test may start one of the C library's own name lookups. ThreadSanitizer cannot follow
// the thread glibc's asynchronous resolver starts for itself, and crashes in it: the
// ThreadSanitizer run leaves those lookups to the AddressSanitizer and Windows runs.
#if defined(__SANITIZE_THREAD__)
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
