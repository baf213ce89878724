#include "log/conn_log.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>

#include "sync/win32.h"

namespace vexil {
namespace {

constexpr wchar_t kLogRoot[] = L"C:\\Log\\";
constexpr wchar_t kLogDirectory[] = L"C:\\Log\\VexilConn\\";
constexpr wchar_t kFileNameFormat[] = L"c:\\LOG\\VexilConn\\%ls_%04d%02d%02d_%02d%02d.log";
// What kFileNameFormat adds to the base name, terminator included: 17 + 18 + 1 characters.
constexpr int kFileNameOverhead = 36;
constexpr wchar_t kProfileName[] = L"VexilConnConfig.INI";
constexpr int kProfileValueSize = 256;
constexpr wchar_t kLineFormat[] = L"VexilConn[%02d_%02d:%02d:%02d:%03d] = %ls\n";

LogTime SystemLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LogTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                 now.wMinute, now.wSecond, now.wMilliseconds};
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace

ConnLog::ConnLog() : ConnLog(&SystemLocalTime, kProfileName) {}

ConnLog::ConnLog(LogClock clock, const wchar_t* profile_path)
    : clock_(clock), path_(), module_path_(), level_(kDefaultLevel) {
  const LogTime loaded = clock_();
  // Both fail harmlessly when the directories exist; when they cannot be made, every line is
  // dropped at open.
  ::CreateDirectoryW(kLogRoot, nullptr);
  ::CreateDirectoryW(kLogDirectory, nullptr);

  // A path that fills the buffer is not terminated by every system version.
  ::GetModuleFileNameW(nullptr, module_path_, kModulePathSize);
  module_path_[kModulePathSize - 1] = L'\0';

  // The base name runs from after the last backslash to the last dot that follows it (or to the
  // end), and is cut so that the whole file path fits path_.
  const wchar_t* base = std::wcsrchr(module_path_, L'\\');
  base = base != nullptr ? base + 1 : module_path_;
  const wchar_t* dot = std::wcsrchr(base, L'.');
  int base_length = static_cast<int>(dot != nullptr ? dot - base : std::wcslen(base));
  if (base_length > kPathSize - kFileNameOverhead) base_length = kPathSize - kFileNameOverhead;
  wchar_t base_name[kPathSize];
  std::wmemcpy(base_name, base, base_length);
  base_name[base_length] = L'\0';
  std::swprintf(path_, kPathSize, kFileNameFormat, base_name, loaded.year, loaded.month, loaded.day,
                loaded.hour, loaded.minute);
  path_[kPathSize - 1] = L'\0';

  wchar_t value[kProfileValueSize] = {};
  const DWORD length =
      ::GetPrivateProfileStringW(L"LOG", L"ERRLEVEL", L"", value, kProfileValueSize, profile_path);
  if (length != 0) level_ = static_cast<int32_t>(::_wtoi(value));
}

void ConnLog::Write(int32_t level, const wchar_t* format, ...) {
  if (level > level_) return;
  // Zeroed, so that a formatting failure part-way still leaves a terminated text.
  wchar_t message[kMessageSize] = {};
  va_list arguments;
  va_start(arguments, format);
  std::vswprintf(message, kMessageSize, format, arguments);
  va_end(arguments);
  message[kMessageSize - 1] = L'\0';
  const LogTime now = clock_();

  ScopedLock<ConnLog> guard(this, true);
  // Text mode: each line feed reaches the disk as CR LF, the text as bytes of the current locale.
  UniqueFile file(::_wfopen(path_, L"a"));
  if (!file) return;
  std::fwprintf(file.get(), kLineFormat, now.day, now.hour, now.minute, now.second, now.millisecond,
                message);
}

}  // namespace vexil
