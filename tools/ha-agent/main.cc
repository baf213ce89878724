// ha-agent: a stand-in HA agent for exercising a host's integration of the connector.
//
//   ha-agent [--listen ADDRESS] [--port PORT] [--json] [--script FILE]
//
// Commands come from the script file, or from standard input line by line. A script file is
// checked whole before the agent listens, and is run strictly: any command that fails ends the
// run with a non-zero status, so a script can serve as a test in a host's own CI. Standard input
// is run leniently: after a command that fails the next one follows, and the run still ends with
// a non-zero status (1 for a failed command, 2 for a bad line, the first one's).
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ha-agent/agent_session.h"
#include "ha-agent/command_parser.h"
#include "ha-agent/line_source.h"

namespace {

using vexil::tools::AgentOptions;

void PrintUsage(std::ostream& out) {
  out << "usage: ha-agent [--listen ADDRESS] [--port PORT] [--json] [--script FILE]\n"
         "  --listen ADDRESS  IPv4 address to listen on (default 127.0.0.1)\n"
         "  --port PORT       TCP port (default 8990)\n"
         "  --json            print one JSON object per line instead of readable lines\n"
         "  --script FILE     run the commands in FILE instead of reading standard input\n"
         "commands:\n"
      << vexil::tools::CommandHelp();
}

bool ParsePort(const std::string& text, uint16_t* port) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// Checks every line of a script; prints each bad one with its line number.
bool CheckScript(const std::string& path, const std::vector<std::string>& lines) {
  bool good = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    vexil::tools::AgentCommand command;
    std::string error;
    if (!vexil::tools::ParseCommand(lines[i], &command, &error)) {
      std::cerr << path << ":" << (i + 1) << ": " << error << "\n";
      good = false;
    }
  }
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  AgentOptions options;
  std::string script;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--listen" && has_value) {
      options.address = argv[++i];
    } else if (arg == "--port" && has_value) {
      if (!ParsePort(argv[++i], &options.port)) {
        std::cerr << "ha-agent: bad port " << argv[i] << "\n";
        return vexil::tools::kExitBadUsage;
      }
    } else if (arg == "--script" && has_value) {
      script = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(std::cout);
      return vexil::tools::kExitOk;
    } else {
      std::cerr << "ha-agent: unexpected argument " << arg << "\n";
      PrintUsage(std::cerr);
      return vexil::tools::kExitBadUsage;
    }
  }

  std::unique_ptr<vexil::tools::LineSource> input;
  if (!script.empty()) {
    std::vector<std::string> lines;
    if (!vexil::tools::ReadLines(script, &lines)) {
      std::cerr << "ha-agent: cannot read " << script << "\n";
      return vexil::tools::kExitBadUsage;
    }
    if (!CheckScript(script, lines)) return vexil::tools::kExitBadUsage;
    options.strict = true;
    input = std::make_unique<vexil::tools::FixedLines>(std::move(lines));
  } else {
    input = std::make_unique<vexil::tools::StreamLines>(&std::cin);
  }

  vexil::tools::AgentSession session(options, &std::cout);
  if (!session.Start()) return vexil::tools::kExitBadUsage;
  return session.Run(input.get());
}
