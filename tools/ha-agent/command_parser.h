// The simulator's command language: one command per line, words separated by blanks, double
// quotes around a word that holds blanks (\" and \\ inside them), '#' starting a comment.
//
// Every command is one row of a table (name, usage, parser), so a new command is one parser
// function and one row. Parsing checks everything it can, so that a script file is refused as a
// whole before the agent starts listening.
#ifndef VEXIL_TOOLS_HA_AGENT_COMMAND_PARSER_H_
#define VEXIL_TOOLS_HA_AGENT_COMMAND_PARSER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "orvel/messages.h"

namespace vexil::tools {

// Waits for a connector message: how long when no timeout is given.
constexpr int kDefaultExpectMs = 10000;

enum class CommandKind {
  kNothing,     // a blank or comment line
  kSend,        // messages: encode each as a frame and send them
  kRaw,         // bytes: send exactly these
  kWait,        // milliseconds: serve the connection for this long
  kExpect,      // name, milliseconds, contains: wait for a message
  kExpectNone,  // name, milliseconds, contains: fail if such a message arrives in that time
  kClose,       // close the connection; the connector will reconnect
  kReset,       // forget every received message that no expect has taken yet
  kQuit,
  kHelp,
  // Faults.
  kDrip,           // send the next command's bytes one at a time, with a pause between them
  kFrameLength,    // offset: add it to the length field of the next frame sent
  kStall,          // stop reading the connection; the connector's writes pile up
  kResume,         // read again after a stall
  kAbortiveClose,  // close with an abortive reset (rst)
  kHalfClose,      // shut down the sending direction; keep reading
  kCloseNow,       // send a burst of requests and close at once, while their replies are coming
  kRestart,        // close the listener and the connection, then listen again on the same port
};

struct AgentCommand {
  CommandKind kind = CommandKind::kNothing;
  std::vector<AgentMsg> messages;
  std::vector<uint8_t> bytes;
  int milliseconds = 0;
  std::string name;      // a ConnectorMsg name ("CheckReply")
  std::string contains;  // text the message's compact line must contain; empty matches any
  int offset = 0;        // kFrameLength
  // When set, printed for the whole send instead of one line per message or the bytes (for
  // sends too large to show).
  std::string summary;
};

// Splits a line into words; false with *error for an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

// Parses one line; false with a one-line *error that names the command's usage.
bool ParseCommand(const std::string& line, AgentCommand* command, std::string* error);

// One line per command: its usage and what it does.
std::string CommandHelp();

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_HA_AGENT_COMMAND_PARSER_H_
