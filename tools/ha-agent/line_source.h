// Where the simulator's commands come from: a script file read at once, or standard input read
// by a thread of its own so that the network keeps being served while the user types.
#ifndef VEXIL_TOOLS_HA_AGENT_LINE_SOURCE_H_
#define VEXIL_TOOLS_HA_AGENT_LINE_SOURCE_H_

#include <condition_variable>
#include <deque>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexil::tools {

enum class NextLine { kLine, kNone, kEnd };

class LineSource {
 public:
  virtual ~LineSource() = default;
  // Waits at most timeout_ms for the next line: kLine with *line set, kNone when nothing came
  // in time, kEnd when the input is exhausted.
  virtual NextLine Next(int timeout_ms, std::string* line) = 0;
};

// Lines given up front (a script file); never waits.
class FixedLines : public LineSource {
 public:
  explicit FixedLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  NextLine Next(int timeout_ms, std::string* line) override;

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

// Lines of a stream read on a background thread. The thread is detached because a blocking
// read cannot be interrupted portably; it owns a share of the queue, so it may outlive this
// object safely and ends at end of input.
class StreamLines : public LineSource {
 public:
  explicit StreamLines(std::istream* in);
  NextLine Next(int timeout_ms, std::string* line) override;

 private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::string> lines;  // guarded by mutex
    bool ended = false;             // guarded by mutex
  };
  std::shared_ptr<Queue> queue_;
};

// Splits a file into lines (a trailing CR is dropped); false if it cannot be read.
bool ReadLines(const std::string& path, std::vector<std::string>* lines);

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_HA_AGENT_LINE_SOURCE_H_
