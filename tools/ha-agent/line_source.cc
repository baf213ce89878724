#include "ha-agent/line_source.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace vexil::tools {
namespace {

void DropCarriageReturn(std::string* line) {
  if (!line->empty() && line->back() == '\r') line->pop_back();
}

}  // namespace

NextLine FixedLines::Next(int, std::string* line) {
  if (next_ >= lines_.size()) return NextLine::kEnd;
  *line = lines_[next_++];
  return NextLine::kLine;
}

StreamLines::StreamLines(std::istream* in) : queue_(std::make_shared<Queue>()) {
  std::thread([queue = queue_, in] {
    std::string line;
    while (std::getline(*in, line)) {
      DropCarriageReturn(&line);
      std::lock_guard<std::mutex> guard(queue->mutex);
      queue->lines.push_back(line);
      queue->ready.notify_one();
    }
    std::lock_guard<std::mutex> guard(queue->mutex);
    queue->ended = true;
    queue->ready.notify_one();
  }).detach();
}

NextLine StreamLines::Next(int timeout_ms, std::string* line) {
  std::unique_lock<std::mutex> guard(queue_->mutex);
  queue_->ready.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                         [this] { return !queue_->lines.empty() || queue_->ended; });
  if (!queue_->lines.empty()) {
    *line = std::move(queue_->lines.front());
    queue_->lines.pop_front();
    return NextLine::kLine;
  }
  return queue_->ended ? NextLine::kEnd : NextLine::kNone;
}

bool ReadLines(const std::string& path, std::vector<std::string>* lines) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    DropCarriageReturn(&line);
    lines->push_back(line);
  }
  return !file.bad();
}

}  // namespace vexil::tools
