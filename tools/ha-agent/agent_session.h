// The simulated HA agent: listens, takes one connector at a time, prints every message it
// receives, and carries out commands. Single-threaded: all socket work happens on the thread
// that calls Run, between and during commands.
#ifndef VEXIL_TOOLS_HA_AGENT_AGENT_SESSION_H_
#define VEXIL_TOOLS_HA_AGENT_AGENT_SESSION_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>

#include "ha-agent/agent_socket.h"
#include "ha-agent/command_parser.h"
#include "ha-agent/line_source.h"
#include "orvel/messages.h"
#include "util/buffer_ptr.h"

namespace vexil::tools {

struct AgentOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 8990;
  bool json = false;
  // Strict: a command that cannot be carried out (a send with no connector connected) ends the
  // run with kExitFailed, a bad line with kExitBadUsage. Otherwise it is reported and the next
  // command follows, and the run still ends with that status. A failed expect or expect-none
  // ends the run either way.
  bool strict = false;
};

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // an expectation failed, or a command could not be carried out
constexpr int kExitBadUsage = 2;  // bad options or command lines, or the address cannot be bound

class AgentSession {
 public:
  // Writes every line of output to *out, which must outlive the session.
  AgentSession(AgentOptions options, std::ostream* out);
  AgentSession(const AgentSession&) = delete;
  AgentSession& operator=(const AgentSession&) = delete;

  // Binds and listens; false (reported on the output) if that fails.
  bool Start();
  // The port listened on (useful when the options asked for port 0).
  uint16_t port() const { return listener_.port(); }
  // Carries out commands until quit, the end of input, or a failure that ends the run; returns
  // the exit status.
  int Run(LineSource* input);

 private:
  enum class Outcome { kNext, kQuit, kFailed };
  struct Arrival {
    ConnectorMsg message;
    std::string line;  // its compact text, which expect's TEXT is matched against
  };
  using Clock = std::chrono::steady_clock;

  Outcome Execute(const AgentCommand& command);
  Outcome SendFrames(const std::vector<AgentMsg>& messages, const std::string& summary);
  Outcome SendRaw(const std::vector<uint8_t>& bytes, const std::string& summary);
  // Sends bytes as one write, or one byte per write after drip; false (connection dropped) when
  // the connector has gone.
  bool Transmit(const uint8_t* data, size_t size);
  bool NeedConnection();
  // Closes the connection and the listener and listens again on the same port; false (reported)
  // if the port cannot be bound again.
  bool Restart();
  // A failure that ends a strict run; a lenient run goes on and ends with kExitFailed.
  Outcome CommandFailed();
  // The oldest received message that no expect has taken and that command's name and text match.
  std::deque<Arrival>::iterator FindArrival(const AgentCommand& command);
  // "NAME containing "TEXT" within MS ms", for the output.
  static std::string Described(const AgentCommand& command);
  bool Expect(const AgentCommand& command);
  // Serves the connection for the command's time; false (reported) as soon as a matching
  // message has arrived, also one that came before the command and no expect has taken.
  bool ExpectNone(const AgentCommand& command);
  // Serves the network until deadline: accepts when no connector is connected, otherwise
  // receives and handles complete frames.
  void ServeUntil(Clock::time_point deadline);
  void ServeOnce(int timeout_ms);
  void HandleFrames();
  void DropConnection(const std::string& reason, const char* by);

  // Output: one line per event, readable or JSON.
  void Event(const std::string& kind, const std::string& text, const std::string& json_members);
  void Error(const std::string& text);

  AgentOptions options_;
  std::ostream* out_;
  SocketService service_;
  TcpListener listener_;
  TcpStream stream_;              // the connector, when one is connected
  BufferPtr inbox_;               // bytes received and not yet cut into frames
  std::deque<Arrival> arrivals_;  // received messages no expect has taken yet, oldest first
  // Faults armed for the next send, and the reading stall.
  bool drip_next_ = false;
  int length_offset_next_ = 0;
  bool stalled_ = false;
  // What Run returns at the end of its input or on quit: the status of the first command that
  // failed without ending the run, kExitOk while none has.
  int exit_status_ = kExitOk;
};

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_HA_AGENT_AGENT_SESSION_H_
