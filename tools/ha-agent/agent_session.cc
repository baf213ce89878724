#include "ha-agent/agent_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ha-agent/message_format.h"
#include "orvel/frame.h"
#include "orvel/message_text.h"
#include "sync/last_error.h"

namespace vexil::tools {
namespace {

// A frame announcing more than this is taken as garbage rather than waited for.
constexpr uint32_t kMaxFrameBytes = 64u << 20;
// Received messages kept for expect; the oldest are forgotten beyond this.
constexpr size_t kMaxArrivals = 10000;
// How long one network wait lasts while the input has nothing for us.
constexpr int kServeSliceMs = 20;
constexpr size_t kReceiveChunk = 64 * 1024;
// The pause between the single-byte sends of drip.
constexpr auto kDripPause = std::chrono::milliseconds(2);

std::string HexBytes(const uint8_t* data, size_t size, size_t shown) {
  std::string out;
  for (size_t i = 0; i < size && i < shown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", i == 0 ? "" : " ", data[i]);
    out += hex;
  }
  if (size > shown) out += " ...";
  return out;
}

}  // namespace

AgentSession::AgentSession(AgentOptions options, std::ostream* out)
    : options_(std::move(options)), out_(out) {}

bool AgentSession::Start() {
  if (!service_.started()) {
    Error("the socket service did not start");
    return false;
  }
  std::string error;
  if (!listener_.Listen(options_.address, options_.port, &error)) {
    Error("cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " +
          error);
    return false;
  }
  Event("listening", "-- listening on " + options_.address + ":" + std::to_string(port()),
        "\"address\":" + JsonString(options_.address) + ",\"port\":" + std::to_string(port()));
  return true;
}

int AgentSession::Run(LineSource* input) {
  for (;;) {
    ServeOnce(0);
    std::string line;
    const NextLine next = input->Next(kServeSliceMs, &line);
    if (next == NextLine::kEnd) return exit_status_;
    if (next == NextLine::kNone) continue;
    AgentCommand command;
    std::string error;
    if (!ParseCommand(line, &command, &error)) {
      Error(error);
      if (options_.strict) return kExitBadUsage;
      if (exit_status_ == kExitOk) exit_status_ = kExitBadUsage;
      continue;
    }
    const Outcome outcome = Execute(command);
    if (outcome == Outcome::kQuit) return exit_status_;
    if (outcome == Outcome::kFailed) return kExitFailed;
  }
}

AgentSession::Outcome AgentSession::CommandFailed() {
  if (options_.strict) return Outcome::kFailed;
  if (exit_status_ == kExitOk) exit_status_ = kExitFailed;
  return Outcome::kNext;
}

AgentSession::Outcome AgentSession::Execute(const AgentCommand& command) {
  switch (command.kind) {
    case CommandKind::kNothing:
      return Outcome::kNext;
    case CommandKind::kSend:
      return SendFrames(command.messages, command.summary);
    case CommandKind::kRaw:
      return SendRaw(command.bytes, command.summary);
    case CommandKind::kWait:
      ServeUntil(Clock::now() + std::chrono::milliseconds(command.milliseconds));
      return Outcome::kNext;
    case CommandKind::kExpect:
      return Expect(command) ? Outcome::kNext : Outcome::kFailed;
    case CommandKind::kExpectNone:
      return ExpectNone(command) ? Outcome::kNext : Outcome::kFailed;
    case CommandKind::kClose:
      if (stream_.is_open()) DropConnection("connection closed by the agent", "agent");
      return Outcome::kNext;
    case CommandKind::kReset:
      arrivals_.clear();
      return Outcome::kNext;
    case CommandKind::kQuit:
      if (stream_.is_open()) DropConnection("connection closed by the agent", "agent");
      return Outcome::kQuit;
    case CommandKind::kHelp:
      *out_ << CommandHelp() << std::flush;
      return Outcome::kNext;
    case CommandKind::kDrip:
      drip_next_ = true;
      return Outcome::kNext;
    case CommandKind::kFrameLength:
      length_offset_next_ = command.offset;
      return Outcome::kNext;
    case CommandKind::kStall:
      stalled_ = true;
      Event("stalled", "-- not reading", "");
      return Outcome::kNext;
    case CommandKind::kResume:
      stalled_ = false;
      Event("resumed", "-- reading again", "");
      return Outcome::kNext;
    case CommandKind::kAbortiveClose:
      if (!NeedConnection()) return CommandFailed();
      stream_.Reset();
      DropConnection("connection reset by the agent", "agent");
      return Outcome::kNext;
    case CommandKind::kHalfClose:
      if (!NeedConnection()) return CommandFailed();
      stream_.ShutdownSend();
      Event("half-closed", "-- the agent sends no more; still reading", "");
      return Outcome::kNext;
    case CommandKind::kCloseNow: {
      const Outcome sent = SendFrames(command.messages, "");
      if (stream_.is_open()) DropConnection("connection closed by the agent", "agent");
      return sent;
    }
    case CommandKind::kRestart:
      return Restart() ? Outcome::kNext : Outcome::kFailed;
  }
  return Outcome::kNext;
}

bool AgentSession::NeedConnection() {
  if (stream_.is_open()) return true;
  Error("no connector is connected (expect Register waits for one)");
  return false;
}

bool AgentSession::Transmit(const uint8_t* data, size_t size) {
  const bool drip = drip_next_;
  drip_next_ = false;
  bool sent = true;
  if (!drip) {
    sent = stream_.SendAll(data, size) == IoResult::kDone;
  } else {
    for (size_t i = 0; i < size && sent; ++i) {
      if (i != 0) std::this_thread::sleep_for(kDripPause);
      sent = stream_.SendAll(data + i, 1) == IoResult::kDone;
    }
  }
  if (!sent) DropConnection("send failed: " + TcpStream::LastErrorText(), "error");
  return sent;
}

AgentSession::Outcome AgentSession::SendFrames(const std::vector<AgentMsg>& messages,
                                               const std::string& summary) {
  if (!NeedConnection()) return CommandFailed();
  // Requests of one command go out in one send, as one agent write.
  BufferPtr frames;
  for (const AgentMsg& message : messages) WriteFrame(frames, message);
  const int offset = length_offset_next_;
  length_offset_next_ = 0;
  if (offset != 0 && frames.Size() >= 4) {
    uint32_t length = 0;
    std::memcpy(&length, frames.Data(), sizeof length);
    length += static_cast<uint32_t>(offset);
    std::memcpy(frames.Data(), &length, sizeof length);
    Event("length-changed", "-- the next frame announces " + std::to_string(length) + " bytes",
          "\"length\":" + std::to_string(length));
  }
  if (!Transmit(frames.Data(), frames.Size())) {
    return CommandFailed();
  }
  if (!summary.empty()) {
    Event("sent", "-> " + summary, "\"summary\":" + JsonString(summary));
    return Outcome::kNext;
  }
  for (const AgentMsg& message : messages) {
    Event("sent", "-> " + CompactText(message), JsonMembers(message));
  }
  return Outcome::kNext;
}

AgentSession::Outcome AgentSession::SendRaw(const std::vector<uint8_t>& bytes,
                                            const std::string& summary) {
  if (!NeedConnection()) return CommandFailed();
  if (!Transmit(bytes.data(), bytes.size())) {
    return CommandFailed();
  }
  const std::string shown = summary.empty()
                                ? HexBytes(bytes.data(), bytes.size(), bytes.size())
                                : summary + ": " + HexBytes(bytes.data(), bytes.size(), 16);
  Event("sent-raw", "-> raw " + std::to_string(bytes.size()) + " bytes: " + shown,
        "\"bytes\":" + JsonString(shown));
  return Outcome::kNext;
}

bool AgentSession::Restart() {
  // The listener closes first: a peer that sees its connection end and connects at once must find
  // no listener, or the new one, never the old one's backlog, where its connection would be reset
  // unread when the old listener closed.
  const uint16_t port = listener_.port();
  listener_.Close();
  if (stream_.is_open()) DropConnection("connection closed by the agent", "agent");
  std::string error;
  if (!listener_.Listen(options_.address, port, &error)) {
    Error("cannot listen again on " + options_.address + ":" + std::to_string(port) + ": " + error);
    return false;
  }
  Event("restarted", "-- listening again on " + options_.address + ":" + std::to_string(port),
        "\"port\":" + std::to_string(port));
  return true;
}

std::deque<AgentSession::Arrival>::iterator AgentSession::FindArrival(const AgentCommand& command) {
  return std::find_if(arrivals_.begin(), arrivals_.end(), [&](const Arrival& a) {
    return TagName(a.message.tag()) == command.name &&
           a.line.find(command.contains) != std::string::npos;
  });
}

std::string AgentSession::Described(const AgentCommand& command) {
  return command.name +
         (command.contains.empty() ? "" : " containing \"" + command.contains + "\"") + " within " +
         std::to_string(command.milliseconds) + " ms";
}

bool AgentSession::Expect(const AgentCommand& command) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(command.milliseconds);
  for (;;) {
    // Expectations follow arrival order: what came before the match is taken with it.
    const auto match = FindArrival(command);
    if (match != arrivals_.end()) {
      arrivals_.erase(arrivals_.begin(), match + 1);
      return true;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    ServeOnce(static_cast<int>(std::min<long long>(left.count() + 1, kServeSliceMs)));
  }
  Error("expected " + Described(command) + "; it did not come");
  return false;
}

bool AgentSession::ExpectNone(const AgentCommand& command) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(command.milliseconds);
  for (;;) {
    const auto match = FindArrival(command);
    if (match != arrivals_.end()) {
      Error("expected no " + Described(command) + "; it came: " + match->line);
      return false;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    ServeOnce(static_cast<int>(std::min<long long>(left.count() + 1, kServeSliceMs)));
  }
  Event("absent", "-- no " + Described(command),
        "\"name\":" + JsonString(command.name) + ",\"ms\":" + std::to_string(command.milliseconds));
  return true;
}

void AgentSession::ServeUntil(Clock::time_point deadline) {
  for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    ServeOnce(static_cast<int>(std::min<long long>(left.count() + 1, kServeSliceMs)));
  }
}

void AgentSession::ServeOnce(int timeout_ms) {
  if (stream_.is_open() && stalled_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return;
  }
  if (!stream_.is_open()) {
    if (listener_.Accept(timeout_ms, &stream_) == IoResult::kDone) {
      inbox_.Clear();
      Event("connected", "-- connection from " + stream_.peer(),
            "\"peer\":" + JsonString(stream_.peer()));
    }
    return;
  }
  inbox_.Reserve(kReceiveChunk);
  size_t received = 0;
  switch (stream_.Receive(inbox_.Data() + inbox_.Size(), kReceiveChunk, timeout_ms, &received)) {
    case IoResult::kDone:
      inbox_.Append(nullptr, static_cast<unsigned>(received));
      HandleFrames();
      break;
    case IoResult::kTimedOut:
      break;
    case IoResult::kClosed:
      DropConnection("connection closed by the connector", "connector");
      break;
    case IoResult::kFailed:
      DropConnection("connection failed: " + TcpStream::LastErrorText(), "error");
      break;
  }
}

void AgentSession::HandleFrames() {
  for (;;) {
    if (inbox_.Size() >= 4) {
      uint32_t length = 0;
      std::copy(inbox_.Data(), inbox_.Data() + 4, reinterpret_cast<uint8_t*>(&length));
      if (length > kMaxFrameBytes) {
        Error("frame of " + std::to_string(length) +
              " bytes announced; taken as garbage: " + HexBytes(inbox_.Data(), inbox_.Size(), 16));
        DropConnection("connection closed by the agent after a malformed frame", "agent");
        return;
      }
    }
    // Shown when the frame turns out malformed: the bytes as they were before the reader ran.
    const std::string head = HexBytes(inbox_.Data(), inbox_.Size(), 16);
    ConnectorMsg message;
    if (!ReadFrame(message, inbox_)) {
      if (LastErrorCode() == kErrorIncompleteFrame) return;
      Error("malformed frame from the connector (error " + std::to_string(LastErrorCode()) +
            "): " + head);
      DropConnection("connection closed by the agent after a malformed frame", "agent");
      return;
    }
    std::string line = CompactText(message);
    Event("received", "<- " + line, JsonMembers(message));
    if (arrivals_.size() >= kMaxArrivals) arrivals_.pop_front();
    arrivals_.push_back({std::move(message), std::move(line)});
  }
}

void AgentSession::DropConnection(const std::string& reason, const char* by) {
  stream_.Close();
  inbox_.Clear();
  Event("closed", "-- " + reason,
        std::string("\"by\":\"") + by + "\",\"reason\":" + JsonString(reason));
}

void AgentSession::Event(const std::string& kind, const std::string& text,
                         const std::string& json_members) {
  if (options_.json) {
    *out_ << "{\"event\":\"" << kind << "\"" << (json_members.empty() ? "" : ",") << json_members
          << "}\n";
  } else {
    *out_ << text << '\n';
  }
  out_->flush();
}

void AgentSession::Error(const std::string& text) {
  Event("error", "!! " + text, "\"text\":" + JsonString(text));
}

}  // namespace vexil::tools
