// The agent's fault commands, seen from the connector's end of the connection: the exact bytes
// each one puts on the wire, and what each connection fault looks like to the peer.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "ha-agent/agent_socket.h"
#include "orvel/frame.h"
#include "support/running_agent.h"

namespace vexil::tools {
namespace {

constexpr uint16_t kPort = 8990;
constexpr int kLivenessMs = 5000;

std::vector<uint8_t> FrameOf(const AgentMsg& message) {
  BufferPtr frame;
  WriteFrame(frame, message);
  return std::vector<uint8_t>(frame.Data(), frame.Data() + frame.Size());
}

AgentMsg Check(int32_t value) {
  CheckRequest body;
  body.value = value;
  return AgentMsg(AgentTag::kCheckRequest, body);
}

void Append(std::vector<uint8_t>* to, const std::vector<uint8_t>& bytes) {
  to->insert(to->end(), bytes.begin(), bytes.end());
}

// A connector's end that registers, then collects every byte until the agent's side ends.
class Peer {
 public:
  explicit Peer(const std::string& address) {
    // The agent may be between closing and listening again (restart): retry for a bounded time.
    std::string error;
    bool connected = false;
    for (int attempt = 0; attempt < 50 && !connected; ++attempt) {
      connected = stream_.Connect(address, kPort, &error);
      if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(connected) << error;
    Register body;
    body.magic = kRegisterMagic;
    BufferPtr frame;
    WriteFrame(frame, ConnectorMsg(ConnectorTag::kRegister, body));
    EXPECT_EQ(IoResult::kDone, stream_.SendAll(frame.Data(), frame.Size()));
  }
  // Receives until the agent closes or resets; returns how the connection ended.
  IoResult ReadToEnd(std::vector<uint8_t>* bytes) {
    for (int waited = 0; waited < kLivenessMs * 4; waited += 50) {
      uint8_t chunk[65536];
      size_t n = 0;
      const IoResult result = stream_.Receive(chunk, sizeof chunk, 50, &n);
      if (result == IoResult::kDone) bytes->insert(bytes->end(), chunk, chunk + n);
      if (result == IoResult::kClosed || result == IoResult::kFailed) return result;
    }
    return IoResult::kTimedOut;
  }
  TcpStream& stream() { return stream_; }

 private:
  TcpStream stream_;
};

class HaAgentFaultTest : public ::testing::Test {
 protected:
  SocketService service_;
};

TEST_F(HaAgentFaultTest, FrameFaultsPutExactlyTheirBytesOnTheWire) {
  RunningAgent agent("127.0.0.30", {"expect Register", "frame-length +3", "check 1",
                                    "frame-length -2", "check 2", "text-past-frame", "tag 99",
                                    "drip", "flood 3", "big-order 70000", "garbage 10", "quit"});
  ASSERT_TRUE(agent.listening());
  Peer peer("127.0.0.30");
  std::vector<uint8_t> bytes;
  EXPECT_EQ(IoResult::kClosed, peer.ReadToEnd(&bytes));
  EXPECT_EQ(kExitOk, agent.Join()) << agent.Output();

  std::vector<uint8_t> expected = FrameOf(Check(1));
  expected[0] += 3;
  std::vector<uint8_t> shorter = FrameOf(Check(2));
  shorter[0] -= 2;
  Append(&expected, shorter);
  Command command;
  command.text = "past the frame";
  std::vector<uint8_t> past = FrameOf(AgentMsg(AgentTag::kCommand, command));
  const uint32_t count = static_cast<uint32_t>(command.text.size() + 64);
  std::memcpy(past.data() + past.size() - command.text.size() - 4, &count, 4);
  Append(&expected, past);
  Append(&expected, {8, 0, 0, 0, 99, 0, 0, 0});
  for (int value = 1; value <= 3; ++value) Append(&expected, FrameOf(Check(value)));
  Order order;
  order.name = "big-order";
  order.argument.assign(70000, 'x');
  Append(&expected, FrameOf(AgentMsg(AgentTag::kOrder, order)));
  ASSERT_EQ(expected.size() + 10, bytes.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
  const std::string out = agent.Output();
  EXPECT_NE(std::string::npos, out.find("-> flood, 3 CheckRequests")) << out;
  EXPECT_NE(std::string::npos, out.find("garbage, 10 random bytes")) << out;
}

TEST_F(HaAgentFaultTest, ConnectionFaultsEndTheConnectionAsTheirNamesSay) {
  RunningAgent agent(
      "127.0.0.31",
      {"expect Register", "rst", "expect Register", "half-close", "expect CheckReply 5000 value=4",
       "close", "expect Register", "close-now", "expect Register", "stall", "wait 300", "resume",
       "expect CheckReply 5000 value=8", "restart", "expect Register 5000", "quit"});
  ASSERT_TRUE(agent.listening());
  CheckReply reply;
  reply.value = 4;
  BufferPtr frame;
  WriteFrame(frame, ConnectorMsg(ConnectorTag::kCheckReply, reply));
  {
    Peer peer("127.0.0.31");
    std::vector<uint8_t> bytes;
    EXPECT_EQ(IoResult::kFailed, peer.ReadToEnd(&bytes)) << "a reset, not an orderly close";
  }
  {
    // After half-close the agent still reads.
    Peer peer("127.0.0.31");
    std::vector<uint8_t> bytes;
    EXPECT_EQ(IoResult::kClosed, peer.ReadToEnd(&bytes));
    EXPECT_EQ(IoResult::kDone, peer.stream().SendAll(frame.Data(), frame.Size()));
    EXPECT_EQ(IoResult::kClosed, peer.ReadToEnd(&bytes));
  }
  {
    Peer peer("127.0.0.31");
    std::vector<uint8_t> bytes;
    peer.ReadToEnd(&bytes);
    BufferPtr burst;
    for (int value = 1; value <= 200; ++value) WriteFrame(burst, Check(value));
    EXPECT_EQ(burst.Size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), burst.Data()));
  }
  {
    // Sent during the stall, read after it; then restart drops the connection.
    Peer peer("127.0.0.31");
    reply.value = 8;
    BufferPtr late;
    WriteFrame(late, ConnectorMsg(ConnectorTag::kCheckReply, reply));
    EXPECT_EQ(IoResult::kDone, peer.stream().SendAll(late.Data(), late.Size()));
    std::vector<uint8_t> bytes;
    EXPECT_EQ(IoResult::kClosed, peer.ReadToEnd(&bytes));
  }
  Peer after_restart("127.0.0.31");
  EXPECT_EQ(kExitOk, agent.Join()) << agent.Output();
  EXPECT_NE(std::string::npos, agent.Output().find("-- listening again on 127.0.0.31:8990"));
}

TEST(HaAgentFaultCommands, BadArgumentsAreRefused) {
  for (const char* line :
       {"garbage", "garbage 0", "frame-length 3", "frame-length +x", "frame-length +0", "tag",
        "flood 0", "big-order", "stall now", "rst 1", "text-past-frame 2"}) {
    AgentCommand command;
    std::string error;
    EXPECT_FALSE(ParseCommand(line, &command, &error)) << line;
    EXPECT_EQ(0u, error.find("usage: ")) << line;
  }
}

}  // namespace
}  // namespace vexil::tools
