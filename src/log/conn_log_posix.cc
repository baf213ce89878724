#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "log/log_platform.h"
#include "log/process_info.h"
#include "sync/code_page.h"
#include "util/strings.h"

namespace vexil::log_platform {
namespace {

constexpr char kProfilePathVariable[] = "VEXILCONN_PROFILE";
constexpr char kDefaultProfilePath[] = "/etc/vexilconn/VexilConnConfig.INI";
constexpr char kLogDirectoryVariable[] = "VEXILCONN_LOG_DIR";

// A set, non-empty environment variable; empty otherwise.
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// The log folder the environment names, without a trailing slash; empty when none is named.
std::string ChosenLogDirectory() {
  const std::string chosen = Environment(kLogDirectoryVariable);
  if (!chosen.empty()) return chosen;
  const std::string state = Environment("XDG_STATE_HOME");
  if (!state.empty()) return state + "/vexilconn";
  const std::string home = Environment("HOME");
  if (!home.empty()) return home + "/.local/state/vexilconn";
  return std::string();
}

// Creates each missing folder along path; true when path ends up a folder this process can write.
bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         ::access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

const wchar_t kPathSeparator = L'/';

LogTime SystemLocalTime() {
  timeval now;
  ::gettimeofday(&now, nullptr);
  tm local;
  ::localtime_r(&now.tv_sec, &local);
  return LogTime{local.tm_year + 1900,
                 local.tm_mon + 1,
                 local.tm_mday,
                 local.tm_hour,
                 local.tm_min,
                 local.tm_sec,
                 static_cast<int>(now.tv_usec / 1000)};
}

std::wstring DefaultProfilePath() {
  const std::string chosen = Environment(kProfilePathVariable);
  return NarrowToWide(chosen.empty() ? std::string(kDefaultProfilePath) : chosen);
}

std::wstring PrepareLogDirectory() {
  std::string directory = ChosenLogDirectory();
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  if (directory.empty() || !MakeDirectories(directory)) return std::wstring();
  return NarrowToWide(directory + "/");
}

std::wstring ModulePath() { return ExecutablePath(); }

// The profile is read as Windows reads one: section and key names without regard to ASCII case,
// white space around names and values ignored, ';' starting a comment line, the first match wins.
bool ReadProfileValue(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                      std::wstring* value) {
  std::ifstream file(WideToNarrow(path));
  if (!file) return false;
  const std::string wanted_section = WideToNarrow(section);
  const std::string wanted_key = WideToNarrow(key);
  bool in_section = false;
  std::string line;
  while (std::getline(file, line)) {
    Trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t end = line.find(']');
      std::string name = line.substr(1, end == std::string::npos ? std::string::npos : end - 1);
      in_section = CompareNoCase(Trim(name), wanted_section) == 0;
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_section || equals == std::string::npos) continue;
    std::string name = line.substr(0, equals);
    if (CompareNoCase(Trim(name), wanted_key) != 0) continue;
    std::string text = line.substr(equals + 1);
    *value = NarrowToWide(Trim(text));
    return !value->empty();
  }
  return false;
}

// Lines end in a bare line feed, the text in UTF-8, as POSIX tools expect.
FILE* OpenForAppend(const std::wstring& path) {
  return std::fopen(WideToNarrow(path).c_str(), "a");
}

}  // namespace vexil::log_platform
