#include "log/log_platform.h"
#include "log/process_info.h"
#include "sync/win32.h"

namespace vexil::log_platform {
namespace {

constexpr wchar_t kLogRoot[] = L"C:\\Log\\";
constexpr wchar_t kLogDirectory[] = L"C:\\Log\\VexilConn\\";
// The folder as the file path spells it.
constexpr wchar_t kLogPathPrefix[] = L"c:\\LOG\\VexilConn\\";
// Looked up where the system looks a bare profile name up: the Windows directory.
constexpr wchar_t kProfileName[] = L"VexilConnConfig.INI";
constexpr int kProfileValueSize = 256;

}  // namespace

const wchar_t kPathSeparator = L'\\';

LogTime SystemLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LogTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                 now.wMinute, now.wSecond, now.wMilliseconds};
}

std::wstring DefaultProfilePath() { return kProfileName; }

std::wstring PrepareLogDirectory() {
  // Both fail harmlessly when the folders exist; when they cannot be made, every line is dropped
  // at open.
  ::CreateDirectoryW(kLogRoot, nullptr);
  ::CreateDirectoryW(kLogDirectory, nullptr);
  return kLogPathPrefix;
}

std::wstring ModulePath() { return ExecutablePath(); }

bool ReadProfileValue(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                      std::wstring* value) {
  wchar_t text[kProfileValueSize] = {};
  const DWORD length = ::GetPrivateProfileStringW(section, key, L"", text, kProfileValueSize, path);
  if (length == 0) return false;
  *value = text;
  return true;
}

std::wstring ProfileUntrustedWhy(const wchar_t*) { return std::wstring(); }

// Text mode: each line feed reaches the disk as CR LF (no other byte of UTF-8 text is a line feed).
// "N": the handle is not inherited by programs the host starts.
FILE* OpenForAppend(const std::wstring& path) { return ::_wfopen(path.c_str(), L"aN"); }

}  // namespace vexil::log_platform
