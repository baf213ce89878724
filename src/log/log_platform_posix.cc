#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "log/log_platform.h"
#include "log/process_info.h"
#include "sync/code_page.h"
#include "util/strings.h"

namespace vexil::log_platform {
namespace {

constexpr char kProfilePathVariable[] = "VEXILCONN_PROFILE";
constexpr char kDefaultProfilePath[] = "/etc/vexilconn/VexilConnConfig.INI";
constexpr char kLogDirectoryVariable[] = "VEXILCONN_LOG_DIR";

// What this load creates: the log folder (and any folder missing on the way to it) and the file.
constexpr mode_t kFolderMode = 0750;
constexpr mode_t kFileMode = 0640;

// A set, non-empty environment variable; empty otherwise, and always empty in a process that runs
// with more privilege than its caller (setuid, setgid, file capabilities): such a host must not
// let whoever starts it choose where it writes or what it trusts.
std::string Environment(const char* name) {
  const char* value = ::secure_getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Why the file or folder described by status is not this process's to trust: empty when root or
// this process's user owns it and neither group nor others may write it (a shared folder with the
// sticky bit, such as /tmp, passes when allow_sticky_shared: others cannot replace what is ours).
std::string UntrustedWhy(const struct stat& status, bool allow_sticky_shared) {
  char why[96];
  if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
    std::snprintf(why, sizeof why, "owned by uid %u, neither root nor this process's user",
                  static_cast<unsigned>(status.st_uid));
    return why;
  }
  const bool shared = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  if (shared && !(allow_sticky_shared && (status.st_mode & S_ISVTX) != 0)) {
    std::snprintf(why, sizeof why, "writable by others (mode %04o)",
                  static_cast<unsigned>(status.st_mode & 07777));
    return why;
  }
  return std::string();
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
    if (::mkdir(prefix.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
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
  // A folder another user owns is theirs to fill with links and files: no log rather than lines
  // written where they can read or redirect them.
  struct stat status;
  if (::stat(directory.c_str(), &status) == 0) {
    const std::string why = UntrustedWhy(status, true);
    if (!why.empty()) {
      std::fprintf(stderr, "VexilConn: no log: the log folder %s is %s\n", directory.c_str(),
                   why.c_str());
      return std::wstring();
    }
  }
  return NarrowToWide(directory + "/");
}

std::wstring ModulePath() { return ExecutablePath(); }

// One line of file without its line feed; false at the end of the file.
bool ReadLine(FILE* file, std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(file)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

// The profile is read as Windows reads one: section and key names without regard to ASCII case,
// white space around names and values ignored, ';' starting a comment line, the first match wins.
bool ReadProfileValue(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                      std::wstring* value) {
  const std::unique_ptr<FILE, FileCloser> file(std::fopen(WideToNarrow(path).c_str(), "re"));
  if (!file) return false;
  const std::string wanted_section = WideToNarrow(section);
  const std::string wanted_key = WideToNarrow(key);
  bool in_section = false;
  std::string line;
  while (ReadLine(file.get(), &line)) {
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

std::wstring ProfileUntrustedWhy(const wchar_t* path) {
  const std::string file = WideToNarrow(path);
  struct stat status;
  if (::stat(file.c_str(), &status) != 0) return std::wstring();
  std::string why = UntrustedWhy(status, false);
  if (why.empty()) {
    // Whoever may write the folder may put another file in its place.
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    if (::stat(folder.c_str(), &status) == 0) {
      why = UntrustedWhy(status, true);
      if (!why.empty()) why = "in a folder " + why;
    }
  }
  return NarrowToWide(why);
}

// Lines end in a bare line feed, the text in UTF-8, as POSIX tools expect. A symbolic link at the
// file's name is not followed (someone who could write the folder would choose where lines go);
// the descriptor is not inherited by programs the host starts.
FILE* OpenForAppend(const std::wstring& path) {
  const int descriptor = ::open(WideToNarrow(path).c_str(),
                                O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (descriptor < 0) return nullptr;
  FILE* file = ::fdopen(descriptor, "a");
  if (file == nullptr) ::close(descriptor);
  return file;
}

}  // namespace vexil::log_platform
