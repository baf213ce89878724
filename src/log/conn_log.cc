#include "log/conn_log.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "log/log_platform.h"
#include "log/wide_format.h"
#include "sync/code_page.h"

namespace vexil {
namespace {

constexpr wchar_t kFileNameFormat[] = L"%ls_%04d%02d%02d_%02d%02d.log";
// The longest base name kept in the file name, so that a Windows path fits kPathSize.
constexpr size_t kMostBaseNameCharacters = 64;
constexpr char kLinePrefixFormat[] = "VexilConn[%02d_%02d:%02d:%02d:%03d] = ";

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// The base name runs from after the last separator to the last dot that follows it (or to the
// end), cut to kMostBaseNameCharacters.
std::wstring LogBaseName(const std::wstring& module_path) {
  const size_t separator = module_path.rfind(log_platform::kPathSeparator);
  std::wstring base =
      separator == std::wstring::npos ? module_path : module_path.substr(separator + 1);
  const size_t dot = base.rfind(L'.');
  if (dot != std::wstring::npos) base.resize(dot);
  if (base.size() > kMostBaseNameCharacters) base.resize(kMostBaseNameCharacters);
  return base;
}

}  // namespace

ConnLog::ConnLog()
    : ConnLog(&log_platform::SystemLocalTime, log_platform::DefaultProfilePath().c_str()) {}

ConnLog::ConnLog(LogClock clock, const wchar_t* profile_path)
    : clock_(clock), profile_path_(profile_path), level_(kDefaultLevel) {
  const LogTime loaded = clock_();
  const std::wstring directory = log_platform::PrepareLogDirectory();
  if (!directory.empty()) {
    wchar_t name[kPathSize] = {};
    std::swprintf(name, kPathSize, kFileNameFormat, LogBaseName(log_platform::ModulePath()).c_str(),
                  loaded.year, loaded.month, loaded.day, loaded.hour, loaded.minute);
    path_ = directory + name;
  }
  std::wstring value;
  if (ProfileValue(L"LOG", L"ERRLEVEL", &value)) {
    level_ = static_cast<int32_t>(std::wcstol(value.c_str(), nullptr, 10));
  }
}

bool ConnLog::ProfileValue(const wchar_t* section, const wchar_t* key, std::wstring* value) const {
  return log_platform::ReadProfileValue(profile_path_.c_str(), section, key, value);
}

std::wstring ConnLog::ProfileUntrustedWhy() const {
  return log_platform::ProfileUntrustedWhy(profile_path_.c_str());
}

void ConnLog::Write(int32_t level, const wchar_t* format, ...) {
  if (level > level_ || path_.empty()) return;
  wchar_t message[kMessageSize];
  va_list arguments;
  va_start(arguments, format);
  FormatWide(message, kMessageSize, format, arguments);
  va_end(arguments);
  const LogTime now = clock_();
  // The line is written as UTF-8 bytes, converted here: the C runtime's wide output converts in
  // the "C" locale and stops at the first character it cannot represent, line feed and all.
  char prefix[80];  // room for any int values
  std::snprintf(prefix, sizeof prefix, kLinePrefixFormat, now.day, now.hour, now.minute, now.second,
                now.millisecond);
  std::string line;
  try {
    line = prefix + WideToUtf8(message) + '\n';
  } catch (const std::bad_alloc&) {
    // Written from catch handlers too, which must not throw: the line is dropped, as when the
    // file cannot be opened.
    return;
  }

  ScopedLock<ConnLog> guard(this, true);
  Append(line);
}

void ConnLog::Append(const std::string& line) {
  UniqueFile file(log_platform::OpenForAppend(path_));
  if (!file) return;
  std::fwrite(line.data(), 1, line.size(), file.get());
}

}  // namespace vexil
