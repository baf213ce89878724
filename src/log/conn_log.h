// The connector's own log file: one file per library load, one timestamped line per Write.
#ifndef VEXIL_LOG_CONN_LOG_H_
#define VEXIL_LOG_CONN_LOG_H_

#include <cstdint>
#include <string>

#include "sync/critical_section.h"
#include "sync/scoped_lock.h"
#include "sync/thread_annotations.h"

namespace vexil {

// A local wall-clock time, as the system reports it.
struct LogTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Returns the current local time. Called on any thread that writes.
using LogClock = LogTime (*)();

// The log is its own lock, taken through a ScopedLock and never re-entered.
class CAPABILITY("mutex") ConnLog {
 public:
  // Buffer sizes in wide characters, terminator included: the file name (without its folder) and
  // one message.
  static constexpr int kPathSize = 100;
  static constexpr int kMessageSize = 1024;
  // The level a missing or empty ERRLEVEL key gives.
  static constexpr int32_t kDefaultLevel = 2;

  // The library's writer: the system's local time and the platform's profile. Windows: the log
  // folder C:\Log\VexilConn\, the profile "VexilConnConfig.INI" where the system looks it up
  // (the Windows directory). POSIX: the folder $VEXILCONN_LOG_DIR, else
  // $XDG_STATE_HOME/vexilconn, else $HOME/.local/state/vexilconn (created where missing; none of
  // them set or creatable means no log), and the profile $VEXILCONN_PROFILE, else
  // /etc/vexilconn/VexilConnConfig.INI.
  ConnLog();
  // The same with a given clock and profile file (a full path), so tests need neither the real time
  // nor the system's profile. The file name is still taken from the process's executable.
  ConnLog(LogClock clock, const wchar_t* profile_path);
  ConnLog(const ConnLog&) = delete;
  ConnLog& operator=(const ConnLog&) = delete;
  ~ConnLog() = default;

  // Appends one line if level is not above the configured level. format is a wide printf format:
  // wide string arguments take %ls, and narrow text must be made wide first (NarrowToWide). The
  // message is cut to kMessageSize - 1 characters; the line is written in UTF-8, whatever the
  // locale or code page. A file that cannot be opened, or no log folder, drops the line silently.
  void Write(int32_t level, const wchar_t* format, ...) EXCLUDES(this);

  // The value of key in [section] of this load's profile; false when absent or empty.
  bool ProfileValue(const wchar_t* section, const wchar_t* key, std::wstring* value) const;
  // Why the profile may not be trusted with settings that protect the process; empty when only
  // root or this process's user can change it, or on Windows.
  std::wstring ProfileUntrustedWhy() const;

  const std::wstring& profile_path() const { return profile_path_; }
  // The full path of this load's log file; empty when there is no log folder.
  const wchar_t* path() const { return path_.c_str(); }
  int32_t level() const { return level_; }

 private:
  friend class ScopedLock<ConnLog>;
  void Lock() ACQUIRE() { lock_.Enter(); }
  void Unlock() RELEASE() { lock_.Leave(); }
  // Opens the file, appends line (whole lines, UTF-8) and closes it. Under the lock, which guards
  // the file rather than a member.
  void Append(const std::string& line) REQUIRES(this);

  LogClock clock_;
  std::wstring profile_path_;
  std::wstring path_;
  int32_t level_;
  // Held only around the open, write and close of one line; innermost lock of the system.
  CriticalSection lock_;
};

}  // namespace vexil

#endif  // VEXIL_LOG_CONN_LOG_H_
