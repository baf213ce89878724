// The stand-in agent run in-process on its own thread with a script, against a fake connector in
// the test that speaks the connector's side of the protocol through the codec. Every test uses
// its own loopback address, so the tests never share a listening port.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "ha-agent/agent_session.h"
#include "ha-agent/agent_socket.h"
#include "ha-agent/command_parser.h"
#include "ha-agent/line_source.h"
#include "orvel/frame.h"
#include "support/running_agent.h"
#include "sync/last_error.h"

namespace vexil::tools {
namespace {

constexpr uint16_t kPort = 8990;
constexpr int kLivenessMs = 5000;

// The connector's side of one connection: sends ConnectorMsg frames, reads AgentMsg frames.
class FakeConnector {
 public:
  explicit FakeConnector(const std::string& address) {
    std::string error;
    connected_ = stream_.Connect(address, kPort, &error);
    EXPECT_TRUE(connected_) << error;
  }

  bool connected() const { return connected_; }

  void SendBytes(const std::vector<uint8_t>& bytes, size_t chunk = 0) {
    for (size_t at = 0; at < bytes.size();) {
      const size_t n = chunk == 0 ? bytes.size() - at : std::min(chunk, bytes.size() - at);
      ASSERT_EQ(IoResult::kDone, stream_.SendAll(bytes.data() + at, n));
      at += n;
    }
  }
  // Encodes each message as a frame; all of them go out in one send unless chunk is given.
  void Send(const std::vector<ConnectorMsg>& messages, size_t chunk = 0) {
    BufferPtr frames;
    for (const ConnectorMsg& message : messages) WriteFrame(frames, message);
    SendBytes(std::vector<uint8_t>(frames.Data(), frames.Data() + frames.Size()), chunk);
  }
  void SendRegister(uint32_t gsid, const std::string& exe, size_t chunk = 0) {
    Register body;
    body.magic = kRegisterMagic;
    body.gsid = gsid;
    body.processId = 4660;
    body.nsapList.push_back({kConnectorNsapId, kPort});
    body.exeName = exe;
    Send({ConnectorMsg(ConnectorTag::kRegister, body)}, chunk);
  }

  // The next request from the agent; false if none comes within the liveness bound.
  bool Read(AgentMsg* message) {
    for (int waited = 0; waited < kLivenessMs; waited += 50) {
      if (ReadFrame(*message, inbox_)) return true;
      if (LastErrorCode() != kErrorIncompleteFrame) return false;
      if (!ReceiveSome(50)) return false;
    }
    return false;
  }
  // True when the agent closes the connection within the liveness bound.
  bool WaitClosed() {
    for (int waited = 0; waited < kLivenessMs; waited += 50) {
      if (!ReceiveSome(50)) return true;
    }
    return false;
  }

 private:
  // False when the connection has ended.
  bool ReceiveSome(int timeout_ms) {
    uint8_t bytes[4096];
    size_t n = 0;
    const IoResult result = stream_.Receive(bytes, sizeof bytes, timeout_ms, &n);
    if (result == IoResult::kDone) inbox_.Append(bytes, static_cast<unsigned>(n));
    return result == IoResult::kDone || result == IoResult::kTimedOut;
  }

  TcpStream stream_;
  BufferPtr inbox_;
  bool connected_ = false;
};

// A new connector registers; the agent's script answers with "check 1".
void ExpectCheckRequestAfterRegister(const std::string& address, uint32_t gsid,
                                     const std::string& exe) {
  FakeConnector connector(address);
  connector.SendRegister(gsid, exe);
  AgentMsg request;
  ASSERT_TRUE(connector.Read(&request));
  EXPECT_EQ(AgentTag::kCheckRequest, request.tag());
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class HaAgentTest : public ::testing::Test {
 protected:
  SocketService service_;
};

TEST_F(HaAgentTest, ScriptSendsEachRequestWithItsFieldsAndReadsTheReplies) {
  RunningAgent agent("127.0.0.60", {
                                       "expect Register",
                                       "counts",
                                       "check -9",
                                       "stat  # statistics",
                                       "region",
                                       "command 4 0x10 kick \"bob the \\\"tall\\\"\"",
                                       "order change-map \"a b|c\" serial=7 option=-2 "
                                       "context=ctx ids=1/2/3",
                                       "raw 08 00 00 00 0400 0000",
                                       "expect CheckReply 5000 value=-9",
                                       "expect StatListReply 5000",
                                       "quit",
                                   });
  ASSERT_TRUE(agent.listening());
  FakeConnector connector("127.0.0.60");
  ASSERT_TRUE(connector.connected());
  // One byte per send: the agent must reassemble the frame.
  connector.SendRegister(7, "game", 1);

  AgentMsg request;
  ASSERT_TRUE(connector.Read(&request));
  EXPECT_EQ(AgentTag::kCountsRequest, request.tag());
  ASSERT_TRUE(connector.Read(&request));
  ASSERT_NE(nullptr, request.As<CheckRequest>());
  EXPECT_EQ(-9, request.As<CheckRequest>()->value);
  ASSERT_TRUE(connector.Read(&request));
  EXPECT_EQ(AgentTag::kStatRequest, request.tag());
  ASSERT_TRUE(connector.Read(&request));
  EXPECT_EQ(AgentTag::kRegionRequest, request.tag());
  ASSERT_TRUE(connector.Read(&request));
  const Command* command = request.As<Command>();
  ASSERT_NE(nullptr, command);
  EXPECT_EQ(4u, command->ids.idA);
  EXPECT_EQ(16u, command->ids.idB);
  EXPECT_EQ("kick bob the \"tall\"", command->text);
  ASSERT_TRUE(connector.Read(&request));
  const Order* order = request.As<Order>();
  ASSERT_NE(nullptr, order);
  EXPECT_EQ("change-map", order->name);
  EXPECT_EQ("a b|c", order->argument);
  EXPECT_EQ(7u, order->serial);
  EXPECT_EQ(-2, order->option);
  EXPECT_EQ("ctx", order->context);
  EXPECT_EQ(1u, order->ids.idA);
  EXPECT_EQ(2u, order->ids.gsid);
  EXPECT_EQ(3u, order->ids.idB);
  ASSERT_TRUE(connector.Read(&request));
  EXPECT_EQ(AgentTag::kRegionRequest, request.tag());

  // Two replies pipelined in one send; a reply that does not match comes first.
  StatListReply stats;
  stats.stats.resize(2);
  stats.stats[0].ids = {1, 7, 2};
  stats.stats[0].text = "players";
  connector.Send({ConnectorMsg(ConnectorTag::kCheckReply, CheckReply{-8, 7}),
                  ConnectorMsg(ConnectorTag::kCheckReply, CheckReply{-9, 7}),
                  ConnectorMsg(ConnectorTag::kStatListReply, stats)});
  EXPECT_EQ(kExitOk, agent.Join());
  const std::string out = agent.Output();
  EXPECT_TRUE(Contains(out, "<- Register gsid=7 pid=4660 nsap=[88888:8990] exe=\"game\"\n")) << out;
  EXPECT_TRUE(Contains(out, "<- CheckReply value=-9 gsid=7\n")) << out;
  EXPECT_TRUE(
      Contains(out, "<- StatListReply stats=2 [(1/7/2 0,0,0,0 \"players\") (0/0/0 0,0,0,0 \"\")]"))
      << out;
  EXPECT_TRUE(Contains(out, "-> raw 8 bytes: 08 00 00 00 04 00 00 00\n")) << out;
}

TEST_F(HaAgentTest, ExpectFailsTheRunWhenTheMessageOrItsTextDoesNotCome) {
  {
    RunningAgent agent("127.0.0.61", {"expect Register 200", "quit"});
    ASSERT_TRUE(agent.listening());
    EXPECT_EQ(kExitFailed, agent.Join());
    EXPECT_TRUE(Contains(agent.Output(), "!! expected Register within 200 ms")) << agent.Output();
  }
  {
    RunningAgent agent("127.0.0.62", {"expect Register", "expect Warning 300 \"code=5\"", "quit"});
    ASSERT_TRUE(agent.listening());
    FakeConnector connector("127.0.0.62");
    connector.SendRegister(7, "game");
    Warning warning;
    warning.code = 4;
    connector.Send({ConnectorMsg(ConnectorTag::kWarning, warning)});
    EXPECT_EQ(kExitFailed, agent.Join());
    EXPECT_TRUE(Contains(agent.Output(), "<- Warning ids=0/0/0 code=4")) << agent.Output();
  }
}

TEST_F(HaAgentTest, MalformedInputDropsTheConnectionAndTheNextConnectorIsServed) {
  RunningAgent agent("127.0.0.63", {"expect Register 5000 first", "expect Register 5000 second",
                                    "check 1", "quit"});
  ASSERT_TRUE(agent.listening());
  {
    FakeConnector connector("127.0.0.63");
    connector.SendRegister(7, "first");
    connector.SendBytes({8, 0, 0, 0, 99, 0, 0, 0});  // an unknown tag
    EXPECT_TRUE(connector.WaitClosed());
  }
  {
    // A length that would make the agent wait for (and buffer) 4 GB.
    FakeConnector connector("127.0.0.63");
    connector.SendBytes({0xF0, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0});
    EXPECT_TRUE(connector.WaitClosed());
  }
  {
    // A text count running past the end of its frame.
    FakeConnector connector("127.0.0.63");
    connector.SendBytes({12, 0, 0, 0, 9, 0, 0, 0, 0xFF, 0, 0, 0});
    EXPECT_TRUE(connector.WaitClosed());
  }
  ExpectCheckRequestAfterRegister("127.0.0.63", 8, "second");
  EXPECT_EQ(kExitOk, agent.Join());
  const std::string out = agent.Output();
  EXPECT_TRUE(Contains(out, "!! malformed frame from the connector (error 11): 08 00 00 00 63"))
      << out;
  EXPECT_TRUE(Contains(out, "!! frame of 4294967280 bytes announced")) << out;
}

// Well-formed frames of every tag with one byte changed now and then, some cut short, over many
// connections: the agent keeps serving, and the next well-formed connector is answered.
TEST_F(HaAgentTest, DamagedFramesNeverStopTheAgent) {
  RunningAgent agent("127.0.0.68", {"expect Register 10000 survivor", "check 1", "quit"});
  ASSERT_TRUE(agent.listening());
  std::mt19937 random(6);
  for (int connection = 0; connection < 60; ++connection) {
    FakeConnector connector("127.0.0.68");
    BufferPtr frames;
    for (int frame = 0; frame < 3; ++frame) {
      WriteFrame(frames, ConnectorMsg(static_cast<ConnectorTag>(1 + random() % 11)));
    }
    std::vector<uint8_t> bytes(frames.Data(), frames.Data() + frames.Size());
    if (random() % 2 == 0) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    bytes.resize(bytes.size() - random() % 6);
    connector.SendBytes(bytes);
  }
  ExpectCheckRequestAfterRegister("127.0.0.68", 7, "survivor");
  EXPECT_EQ(kExitOk, agent.Join());
}

TEST_F(HaAgentTest, ExpectNoneFailsOnlyWhenTheMessageComes) {
  {
    RunningAgent agent("127.0.0.151", {"expect Register", "expect-none Warning 300",
                                       "expect-none CheckReply 300 "
                                       "value=9",
                                       "quit"});
    ASSERT_TRUE(agent.listening());
    FakeConnector connector("127.0.0.151");
    connector.SendRegister(7, "game");
    CheckReply other;
    other.value = 8;
    connector.Send({ConnectorMsg(ConnectorTag::kCheckReply, other)});
    EXPECT_EQ(kExitOk, agent.Join());
    EXPECT_TRUE(Contains(agent.Output(), "-- no Warning within 300 ms\n")) << agent.Output();
    EXPECT_TRUE(Contains(agent.Output(), "-- no CheckReply containing \"value=9\" within 300 ms\n"))
        << agent.Output();
  }
  {
    // A message that came before the command and that no expect took counts as well.
    RunningAgent agent("127.0.0.152",
                       {"expect Register", "wait 300", "expect-none Warning 5000", "quit"});
    ASSERT_TRUE(agent.listening());
    FakeConnector connector("127.0.0.152");
    connector.SendRegister(7, "game");
    Warning warning;
    warning.code = 4;
    connector.Send({ConnectorMsg(ConnectorTag::kWarning, warning)});
    EXPECT_EQ(kExitFailed, agent.Join());
    EXPECT_TRUE(Contains(
        agent.Output(), "!! expected no Warning within 5000 ms; it came: Warning ids=0/0/0 code=4"))
        << agent.Output();
  }
}

TEST_F(HaAgentTest, CloseEndsTheConnectionAndTheReconnectRegistersAgain) {
  RunningAgent agent("127.0.0.64",
                     {"expect Register", "close", "expect Register 5000 gsid=31", "quit"});
  ASSERT_TRUE(agent.listening());
  {
    FakeConnector connector("127.0.0.64");
    connector.SendRegister(7, "game");
    EXPECT_TRUE(connector.WaitClosed());
  }
  FakeConnector connector("127.0.0.64");
  connector.SendRegister(31, "game");
  EXPECT_EQ(kExitOk, agent.Join());
  EXPECT_TRUE(Contains(agent.Output(), "-- connection closed by the agent\n")) << agent.Output();
}

TEST_F(HaAgentTest, SendingWithoutAConnectorFailsAStrictRun) {
  RunningAgent agent("127.0.0.65", {"check 1", "quit"});
  ASSERT_TRUE(agent.listening());
  EXPECT_EQ(kExitFailed, agent.Join());
  EXPECT_TRUE(Contains(agent.Output(), "!! no connector is connected")) << agent.Output();
}

TEST_F(HaAgentTest, JsonOutputCarriesEveryFieldAndEscapesTextBytes) {
  RunningAgent agent("127.0.0.66", {"expect Register", "expect RegionListReply", "quit"},
                     /*json=*/true);
  ASSERT_TRUE(agent.listening());
  FakeConnector connector("127.0.0.66");
  connector.SendRegister(7, std::string("g\"\x01\xE9", 4));
  RegionListReply regions;
  regions.regions.resize(1);
  regions.regions[0].ids = {3, 7, 1};
  regions.regions[0].values.assign(238, 5);
  connector.Send({ConnectorMsg(ConnectorTag::kRegionListReply, regions)});
  EXPECT_EQ(kExitOk, agent.Join());
  const std::string out = agent.Output();
  EXPECT_TRUE(Contains(out,
                       "{\"event\":\"received\",\"message\":\"Register\",\"magic\":65537,"
                       "\"gsid\":7,\"processId\":4660,\"nsapList\":[{\"nsapId\":88888,"
                       "\"port\":8990}],\"reserved\":0,\"exeName\":\"g\\u0022\\u0001\\u00E9\"}\n"))
      << out;
  // JSON keeps every value; only the readable line cuts long lists.
  size_t fives = 0;
  for (size_t at = out.find("\"values\":["); at != std::string::npos && out[at] != ']'; ++at) {
    fives += out[at] == '5';
  }
  EXPECT_EQ(238u, fives) << out;
}

TEST(HaAgentCommands, BadLinesAreRefusedWithTheirUsage) {
  const struct {
    const char* line;
    const char* error;
  } kCases[] = {
      {"check", "usage: check VALUE"},
      {"check 2147483648", "usage: check VALUE"},
      {"check 12abc", "usage: check VALUE"},
      {"command 1", "usage: command IDA IDB"},
      {"command -1 2 x", "usage: command IDA IDB"},
      {"order name", "usage: order NAME ARGUMENT"},
      {"order name arg serial=x", "usage: order NAME ARGUMENT"},
      {"order name arg ids=1/2", "usage: order NAME ARGUMENT"},
      {"order name arg colour=red", "usage: order NAME ARGUMENT"},
      {"raw 0", "usage: raw HEX..."},
      {"raw 0g", "usage: raw HEX..."},
      {"raw", "usage: raw HEX..."},
      {"wait -1", "usage: wait MS"},
      {"expect CheckRequest", "usage: expect MESSAGE"},
      {"expect-none Warning", "usage: expect-none MESSAGE TIMEOUT_MS"},
      {"expect-none Warning soon", "usage: expect-none MESSAGE TIMEOUT_MS"},
      {"counts 1", "usage: counts"},
      {"order \"unterminated", "unterminated quote"},
      {"frobnicate", "unknown command \"frobnicate\""},
  };
  for (const auto& c : kCases) {
    AgentCommand command;
    std::string error;
    EXPECT_FALSE(ParseCommand(c.line, &command, &error)) << c.line;
    EXPECT_EQ(0u, error.find(c.error)) << c.line << " gave " << error;
    EXPECT_EQ(CommandKind::kNothing, command.kind) << c.line;
  }
  AgentCommand command;
  std::string error;
  EXPECT_TRUE(ParseCommand("   # only a comment", &command, &error));
  EXPECT_EQ(CommandKind::kNothing, command.kind);
  EXPECT_TRUE(ParseCommand("expect OrderReply 0x20 map is now", &command, &error)) << error;
}

TEST(HaAgentCommands, TheShippedExampleScriptsParse) {
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(HA_AGENT_EXAMPLES "/demo.script", &lines));
  ASSERT_FALSE(lines.empty());
  for (size_t i = 0; i < lines.size(); ++i) {
    AgentCommand command;
    std::string error;
    EXPECT_TRUE(ParseCommand(lines[i], &command, &error)) << "line " << (i + 1) << ": " << error;
  }
}

TEST(HaAgentProgram, ABadScriptIsRefusedWholeWithLineNumbers) {
  const std::string script = ::testing::TempDir() + "ha_agent_bad_script.txt";
  const std::string errors = ::testing::TempDir() + "ha_agent_bad_script.err";
  std::ofstream(script) << "counts\ncheck x\nstat\nwait\n";
  const std::string command = std::string(HA_AGENT_PROGRAM) + " --listen 127.0.0.67 --script " +
                              script + " >/dev/null 2>" + errors;
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(kExitBadUsage, WEXITSTATUS(status));
  std::ifstream in(errors);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(Contains(text, script + ":2: usage: check VALUE")) << text;
  EXPECT_TRUE(Contains(text, script + ":4: usage: wait MS")) << text;
  std::remove(script.c_str());
  std::remove(errors.c_str());
}

TEST(HaAgentProgram, StandardInputGoesOnAfterAFailureButTheStatusTellsIt) {
  const struct {
    const char* input;
    int status;
    const char* output;
  } kCases[] = {
      {"chek 1\\nquit\\n", kExitBadUsage, "!! unknown command \"chek\""},
      {"check 1\\nhelp\\nquit\\n", kExitFailed, "!! no connector is connected"},
      {"check 1\\nchek 1\\n", kExitFailed, "!! unknown command \"chek\""},
      {"help\\nquit\\n", kExitOk, "expect-none MESSAGE TIMEOUT_MS"},
  };
  const std::string output = ::testing::TempDir() + "ha_agent_stdin.out";
  for (const auto& c : kCases) {
    const std::string command = std::string("printf '") + c.input + "' | " + HA_AGENT_PROGRAM +
                                " --listen 127.0.0.153 >" + output + " 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.input;
    EXPECT_EQ(c.status, WEXITSTATUS(status)) << c.input;
    std::ifstream in(output);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Contains(text, c.output)) << c.input << text;
    // The run went on after the failure: help was carried out.
    if (Contains(c.input, "help")) {
      EXPECT_TRUE(Contains(text, "  quit\n")) << text;
    }
  }
  std::remove(output.c_str());
}

}  // namespace
}  // namespace vexil::tools
