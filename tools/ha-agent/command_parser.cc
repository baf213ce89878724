#include "ha-agent/command_parser.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "orvel/frame.h"

#include "orvel/message_text.h"

namespace vexil::tools {
namespace {

using Words = std::vector<std::string>;  // the command's arguments, without its name

constexpr long long kMaxWaitMs = 3600 * 1000;
// Bounds of the fault commands: large enough for any fault, small enough to fit in memory.
constexpr long long kMaxFaultBytes = 256ll << 20;
constexpr long long kMaxFloodRequests = 1000000;
constexpr int kCloseNowRequests = 200;

// Whole-word numbers only: decimal, or hexadecimal after 0x.
bool ParseNumber(const std::string& word, long long min, long long max, long long* value) {
  if (word.empty()) return false;
  const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  const char* digits = word.c_str() + (hex ? 2 : 0);
  if (*digits == '+' || *digits == ' ' || (hex && *digits == '-')) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(digits, &end, hex ? 16 : 10);
  if (errno != 0 || end == digits || *end != '\0' || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

bool ParseUint32(const std::string& word, uint32_t* value) {
  long long parsed = 0;
  if (!ParseNumber(word, 0, std::numeric_limits<uint32_t>::max(), &parsed)) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

bool ParseInt32(const std::string& word, int32_t* value) {
  long long parsed = 0;
  if (!ParseNumber(word, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                   &parsed)) {
    return false;
  }
  *value = static_cast<int32_t>(parsed);
  return true;
}

// idA/gsid/idB, as the compact output shows identifier triples.
bool ParseIds(const std::string& word, IdTriple* ids) {
  const size_t first = word.find('/');
  const size_t second = first == std::string::npos ? first : word.find('/', first + 1);
  if (second == std::string::npos) return false;
  return ParseUint32(word.substr(0, first), &ids->idA) &&
         ParseUint32(word.substr(first + 1, second - first - 1), &ids->gsid) &&
         ParseUint32(word.substr(second + 1), &ids->idB);
}

std::string Joined(const Words& words, size_t from) {
  std::string out;
  for (size_t i = from; i < words.size(); ++i) {
    if (i != from) out += ' ';
    out += words[i];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// ---- One parser per command; each returns false for arguments that do not fit its usage ----

template <typename Body>
bool ParseBare(const Words& args, AgentCommand* command) {
  if (!args.empty()) return false;
  command->kind = CommandKind::kSend;
  command->messages.emplace_back(static_cast<AgentTag>(AgentMsg::TagOf<Body>()), Body{});
  return true;
}

bool ParseCheck(const Words& args, AgentCommand* command) {
  CheckRequest body;
  if (args.size() != 1 || !ParseInt32(args[0], &body.value)) return false;
  command->kind = CommandKind::kSend;
  command->messages.emplace_back(AgentTag::kCheckRequest, body);
  return true;
}

bool ParseCommandRequest(const Words& args, AgentCommand* command) {
  Command body;
  if (args.size() < 2 || !ParseUint32(args[0], &body.ids.idA) ||
      !ParseUint32(args[1], &body.ids.idB)) {
    return false;
  }
  body.text = Joined(args, 2);
  command->kind = CommandKind::kSend;
  command->messages.emplace_back(AgentTag::kCommand, std::move(body));
  return true;
}

bool ParseOrder(const Words& args, AgentCommand* command) {
  Order body;
  if (args.size() < 2) return false;
  body.name = args[0];
  body.argument = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const size_t equals = args[i].find('=');
    if (equals == std::string::npos) return false;
    const std::string key = args[i].substr(0, equals);
    const std::string value = args[i].substr(equals + 1);
    bool ok = false;
    if (key == "serial") {
      ok = ParseUint32(value, &body.serial);
    } else if (key == "option") {
      ok = ParseInt32(value, &body.option);
    } else if (key == "context") {
      body.context = value;
      ok = true;
    } else if (key == "ids") {
      ok = ParseIds(value, &body.ids);
    }
    if (!ok) return false;
  }
  command->kind = CommandKind::kSend;
  command->messages.emplace_back(AgentTag::kOrder, std::move(body));
  return true;
}

// Hexadecimal bytes, in one word or many: "raw 08 00 00 00 01 00 00 00" or "raw 0800000001000000".
bool ParseRaw(const Words& args, AgentCommand* command) {
  const std::string digits = Joined(args, 0);
  std::vector<uint8_t> bytes;
  int high = -1;
  for (const char c : digits) {
    if (c == ' ') continue;
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0 || bytes.empty()) return false;
  command->kind = CommandKind::kRaw;
  command->bytes = std::move(bytes);
  return true;
}

bool ParseWait(const Words& args, AgentCommand* command) {
  long long ms = 0;
  if (args.size() != 1 || !ParseNumber(args[0], 0, kMaxWaitMs, &ms)) return false;
  command->kind = CommandKind::kWait;
  command->milliseconds = static_cast<int>(ms);
  return true;
}

bool IsConnectorMessageName(const std::string& name) {
  for (uint32_t tag = 1; tag < ConnectorMsg::kTagCount; ++tag) {
    if (TagName(static_cast<ConnectorTag>(tag)) == name) return true;
  }
  return false;
}

// expect NAME [TIMEOUT_MS] [TEXT...]: the text, when given, must appear in the message's line.
bool ParseExpect(const Words& args, AgentCommand* command) {
  if (args.empty() || !IsConnectorMessageName(args[0])) return false;
  command->kind = CommandKind::kExpect;
  command->name = args[0];
  command->milliseconds = kDefaultExpectMs;
  size_t text_from = 1;
  long long ms = 0;
  if (args.size() > 1 && ParseNumber(args[1], 0, kMaxWaitMs, &ms)) {
    command->milliseconds = static_cast<int>(ms);
    text_from = 2;
  }
  command->contains = Joined(args, text_from);
  return true;
}

// expect-none NAME TIMEOUT_MS [TEXT...]: the time is required, a negative expectation has no
// sensible default.
bool ParseExpectNone(const Words& args, AgentCommand* command) {
  long long ms = 0;
  if (args.size() < 2 || !IsConnectorMessageName(args[0]) ||
      !ParseNumber(args[1], 0, kMaxWaitMs, &ms)) {
    return false;
  }
  command->kind = CommandKind::kExpectNone;
  command->name = args[0];
  command->milliseconds = static_cast<int>(ms);
  command->contains = Joined(args, 2);
  return true;
}

// ---- Fault commands ----

bool ParseCount(const Words& args, long long max, long long* count) {
  return args.size() == 1 && ParseNumber(args[0], 1, max, count);
}

std::vector<uint8_t> FrameBytes(const AgentMsg& message) {
  BufferPtr frame;
  WriteFrame(frame, message);
  return std::vector<uint8_t>(frame.Data(), frame.Data() + frame.Size());
}

bool ParseGarbage(const Words& args, AgentCommand* command) {
  long long count = 0;
  if (!ParseCount(args, kMaxFaultBytes, &count)) return false;
  // A fixed seed: a script that finds a fault finds it again.
  static std::mt19937 random(20061);
  command->kind = CommandKind::kRaw;
  command->bytes.resize(static_cast<size_t>(count));
  for (uint8_t& byte : command->bytes) byte = static_cast<uint8_t>(random());
  command->summary = "garbage, " + std::to_string(count) + " random bytes";
  return true;
}

bool ParseFrameLength(const Words& args, AgentCommand* command) {
  if (args.size() != 1 || args[0].size() < 2 || (args[0][0] != '+' && args[0][0] != '-')) {
    return false;
  }
  long long offset = 0;
  if (!ParseNumber(args[0].substr(1), 1, std::numeric_limits<int32_t>::max(), &offset)) {
    return false;
  }
  command->kind = CommandKind::kFrameLength;
  command->offset = static_cast<int>(args[0][0] == '-' ? -offset : offset);
  return true;
}

// A Command whose text announces more bytes than its frame holds; the frame length is right.
bool ParseTextPastFrame(const Words& args, AgentCommand* command) {
  if (!args.empty()) return false;
  Command body;
  body.text = "past the frame";
  command->kind = CommandKind::kRaw;
  command->bytes = FrameBytes(AgentMsg(AgentTag::kCommand, body));
  const uint32_t announced = static_cast<uint32_t>(body.text.size() + 64);
  const size_t count_at = command->bytes.size() - body.text.size() - sizeof announced;
  std::memcpy(command->bytes.data() + count_at, &announced, sizeof announced);
  return true;
}

// A frame with no body and any tag, known or not.
bool ParseTag(const Words& args, AgentCommand* command) {
  uint32_t tag = 0;
  if (args.size() != 1 || !ParseUint32(args[0], &tag)) return false;
  command->kind = CommandKind::kRaw;
  const uint32_t words[] = {8, tag};
  command->bytes.resize(sizeof words);
  std::memcpy(command->bytes.data(), words, sizeof words);
  return true;
}

// N CheckRequests with the values 1 to N, all in one send.
bool ParseFlood(const Words& args, AgentCommand* command) {
  long long count = 0;
  if (!ParseCount(args, kMaxFloodRequests, &count)) return false;
  command->kind = CommandKind::kSend;
  for (long long i = 1; i <= count; ++i) {
    CheckRequest body;
    body.value = static_cast<int32_t>(i);
    command->messages.emplace_back(AgentTag::kCheckRequest, body);
  }
  command->summary = "flood, " + std::to_string(count) + " CheckRequests (values 1 to " +
                     std::to_string(count) + ")";
  return true;
}

bool ParseBigOrder(const Words& args, AgentCommand* command) {
  long long size = 0;
  if (!ParseCount(args, kMaxFaultBytes, &size)) return false;
  Order body;
  body.name = "big-order";
  body.argument.assign(static_cast<size_t>(size), 'x');
  command->kind = CommandKind::kSend;
  command->messages.emplace_back(AgentTag::kOrder, std::move(body));
  command->summary = "Order(name=\"big-order\", argument of " + std::to_string(size) + " bytes)";
  return true;
}

bool ParseCloseNow(const Words& args, AgentCommand* command) {
  if (!args.empty()) return false;
  command->kind = CommandKind::kCloseNow;
  for (int i = 1; i <= kCloseNowRequests; ++i) {
    CheckRequest body;
    body.value = i;
    command->messages.emplace_back(AgentTag::kCheckRequest, body);
  }
  return true;
}

template <CommandKind kKind>
bool ParseNoArguments(const Words& args, AgentCommand* command) {
  command->kind = kKind;
  return args.empty();
}

struct CommandRow {
  const char* name;
  const char* usage;
  const char* meaning;
  bool (*parse)(const Words& args, AgentCommand* command);
};

const CommandRow kCommands[] = {
    {"counts", "counts", "send a CountsRequest", ParseBare<CountsRequest>},
    {"check", "check VALUE", "send a CheckRequest", ParseCheck},
    {"stat", "stat", "send a StatRequest", ParseBare<StatRequest>},
    {"region", "region", "send a RegionRequest", ParseBare<RegionRequest>},
    {"command", "command IDA IDB [TEXT...]", "send a Command", ParseCommandRequest},
    {"order", "order NAME ARGUMENT [serial=N] [option=N] [context=TEXT] [ids=IDA/GSID/IDB]",
     "send an Order", ParseOrder},
    {"raw", "raw HEX...", "send these bytes as they are", ParseRaw},
    {"wait", "wait MS", "serve the connection for MS milliseconds", ParseWait},
    {"expect", "expect MESSAGE [TIMEOUT_MS] [TEXT...]",
     "wait for a message (containing TEXT) from the connector; fail after the timeout "
     "(default 10000)",
     ParseExpect},
    {"expect-none", "expect-none MESSAGE TIMEOUT_MS [TEXT...]",
     "fail if a message (containing TEXT) from the connector arrives within the timeout, or has "
     "arrived and no expect has taken it",
     ParseExpectNone},
    {"close", "close", "close the connection; the connector reconnects",
     ParseNoArguments<CommandKind::kClose>},
    {"reset", "reset", "forget received messages that no expect has taken",
     ParseNoArguments<CommandKind::kReset>},
    {"garbage", "garbage N", "send N random bytes", ParseGarbage},
    {"drip", "drip", "send the next command's bytes one per send, with a pause between them",
     ParseNoArguments<CommandKind::kDrip>},
    {"frame-length", "frame-length +K|-K", "announce the next frame K bytes longer or shorter",
     ParseFrameLength},
    {"text-past-frame", "text-past-frame",
     "send a Command whose text count runs past the end of its frame", ParseTextPastFrame},
    {"tag", "tag N", "send an empty frame with tag N", ParseTag},
    {"flood", "flood N", "send N CheckRequests back to back in one send", ParseFlood},
    {"big-order", "big-order BYTES", "send an Order whose argument has BYTES bytes", ParseBigOrder},
    {"stall", "stall", "stop reading: the connector's writes pile up in the kernel",
     ParseNoArguments<CommandKind::kStall>},
    {"resume", "resume", "read again after a stall", ParseNoArguments<CommandKind::kResume>},
    {"rst", "rst", "close the connection with an abortive reset",
     ParseNoArguments<CommandKind::kAbortiveClose>},
    {"half-close", "half-close", "stop sending (shutdown) but keep reading",
     ParseNoArguments<CommandKind::kHalfClose>},
    {"close-now", "close-now",
     "send 200 CheckRequests and close at once, while their replies are coming", ParseCloseNow},
    {"restart", "restart", "close the listener and the connection, then listen again",
     ParseNoArguments<CommandKind::kRestart>},
    {"quit", "quit", "close and exit", ParseNoArguments<CommandKind::kQuit>},
    {"help", "help", "list the commands", ParseNoArguments<CommandKind::kHelp>},
};

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string word;
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          ++i;
        }
        word += line[i];
      }
      if (i >= line.size()) {
        *error = "unterminated quote";
        return false;
      }
      ++i;
      words->push_back(std::move(word));
    } else {
      const size_t end = line.find_first_of(" \t", i);
      words->push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
      i = end == std::string::npos ? line.size() : end;
    }
  }
  return true;
}

bool ParseCommand(const std::string& line, AgentCommand* command, std::string* error) {
  *command = AgentCommand();
  Words words;
  if (!SplitWords(line, &words, error)) return false;
  if (words.empty()) return true;
  const Words args(words.begin() + 1, words.end());
  for (const CommandRow& row : kCommands) {
    if (words[0] != row.name) continue;
    if (row.parse(args, command)) return true;
    *command = AgentCommand();
    *error = std::string("usage: ") + row.usage;
    return false;
  }
  *error = "unknown command \"" + words[0] + "\" (help lists the commands)";
  return false;
}

std::string CommandHelp() {
  std::string out;
  for (const CommandRow& row : kCommands) {
    out += std::string("  ") + row.usage + "\n      " + row.meaning + "\n";
  }
  return out;
}

}  // namespace vexil::tools
