// The stand-in agent run in-process: listening before the constructor returns, running a strict
// script on a thread of its own. Used by the agent's own tests and by the connector's end-to-end
// tests.
#ifndef VEXIL_TESTS_SUPPORT_RUNNING_AGENT_H_
#define VEXIL_TESTS_SUPPORT_RUNNING_AGENT_H_

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ha-agent/agent_session.h"
#include "ha-agent/line_source.h"

namespace vexil::tools {

class RunningAgent {
 public:
  RunningAgent(const std::string& address, std::vector<std::string> script, bool json = false,
               uint16_t port = 8990)
      : lines_(std::move(script)) {
    AgentOptions options;
    options.address = address;
    options.port = port;
    options.json = json;
    options.strict = true;
    session_ = std::make_unique<AgentSession>(options, &out_);
    listening_ = session_->Start();
    if (listening_) thread_ = std::thread([this] { status_ = session_->Run(&lines_); });
  }
  ~RunningAgent() { Join(); }

  bool listening() const { return listening_; }
  // Waits for the script to end; the output may be read afterwards.
  int Join() {
    if (thread_.joinable()) thread_.join();
    return status_;
  }
  std::string Output() {
    Join();
    return out_.str();
  }

 private:
  std::ostringstream out_;  // written by the agent's thread only, read after Join
  FixedLines lines_;
  std::unique_ptr<AgentSession> session_;
  bool listening_ = false;
  int status_ = -1;
  std::thread thread_;
};

}  // namespace vexil::tools

#endif  // VEXIL_TESTS_SUPPORT_RUNNING_AGENT_H_
