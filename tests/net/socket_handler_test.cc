#include "net/socket_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/loopback.h"
#include "orvel/frame.h"
#include "orvel/message_text.h"
#include "support/check_recorder.h"
#include "sync/last_error.h"
#include "sync/wait_result.h"

namespace vexil {
namespace {

constexpr long kAllEvents = kAllNetworkEvents;
// Far more than a loopback connection holds in flight.
constexpr unsigned kFlood = 16u << 20;

// Records every notification; the results and the connector-like deletion on error are set by
// the test.
class RecordingHandler : public SocketHandler {
 public:
  int OnAgentMessage(StreamBufferedSocket*, AgentMsg& message) override {
    calls.push_back(ToText(message));
    return message_result;
  }
  int OnSocketError(StreamBufferedSocket* socket, int event, int error) override {
    calls.push_back("error " + std::to_string(event) + " " + std::to_string(error));
    // As the connector does: the socket is gone when the notification returns.
    if (delete_on_error && socket == AttachedSocket()) delete DetachSocket();
    return error_result;
  }
  int OnWrite(StreamBufferedSocket* socket, int error) override {
    calls.push_back("write");
    return SocketHandler::OnWrite(socket, error);
  }

  std::vector<std::string> calls;
  int message_result = 1;
  int error_result = 1;
  bool delete_on_error = false;
};

std::string Frame(int32_t value) {
  BufferPtr buffer;
  EXPECT_TRUE(WriteFrame(buffer, AgentMsg(AgentTag::kCheckRequest, CheckRequest{value})));
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

std::string Message(int32_t value) { return "CheckRequest(value=" + std::to_string(value) + ")"; }

class SocketHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto client = std::make_unique<StreamBufferedSocket>();
    ASSERT_TRUE(testing::ConnectPair("127.0.0.20", *client, peer_));
    client_ = client.get();
    ASSERT_EQ(1, handler_.AttachSocket(client.release(), kAllEvents));
    // Where the selection signals the connection writable, that first signal is taken here.
    if (testing::kSelectionReportsWritable) Signal();
    handler_.calls.clear();
  }

  // Sends bytes from the peer and waits until they are pending on the attached socket.
  void Deliver(const std::string& bytes) {
    ASSERT_TRUE(testing::SendBytes(peer_, bytes));
    ASSERT_TRUE(testing::WaitPending(client_->handle(), static_cast<unsigned>(bytes.size())));
  }
  // Whether what the connection worker waits on is ready within timeout milliseconds.
  bool Ready(uint32_t timeout) {
    const WaitSource source = handler_.NetworkWaitSource();
    return WaitForFirst(&source, 1, timeout) == kWaitObject0;
  }
  // What the connection worker does on every signal of the event: no reset of its own, the
  // enumeration resets it.
  void Signal() {
    ASSERT_TRUE(Ready(5000));
    handler_.OnSignaled();
  }
  // Signals until an error notification arrived, bounded.
  void SignalUntilError() {
    for (int attempt = 0; attempt < 20; ++attempt) {
      Signal();
      if (!handler_.calls.empty() && handler_.calls.back().rfind("error", 0) == 0) return;
    }
    FAIL() << "no error notification";
  }

  RecordingHandler handler_;
  StreamBufferedSocket* client_ = nullptr;  // Owned by handler_.
  Socket peer_;
};

TEST_F(SocketHandlerTest, DeliversCompleteFramesAndKeepsAnIncompleteTail) {
  const std::string third = Frame(3);
  Deliver(Frame(1) + Frame(2) + third.substr(0, 5));
  Signal();
  EXPECT_EQ((std::vector<std::string>{Message(1), Message(2)}), handler_.calls);
  EXPECT_EQ(5u, client_->ReceiveBuffer().Size());
  // Left signalled, the worker would spin on it.
  EXPECT_FALSE(Ready(0));
  Deliver(third.substr(5));
  Signal();
  EXPECT_EQ((std::vector<std::string>{Message(1), Message(2), Message(3)}), handler_.calls);
  EXPECT_EQ(0u, client_->ReceiveBuffer().Size());
}

TEST_F(SocketHandlerTest, FramesPastOneReceiveChunkAreAllDeliveredInOneSignal) {
  // Large enough that the receive takes several chunks, small enough for any loopback buffer.
  std::string frames;
  int32_t count = 0;
  while (frames.size() < 40000) frames += Frame(count++);
  Deliver(frames);
  Signal();
  ASSERT_EQ(static_cast<size_t>(count), handler_.calls.size());
  EXPECT_EQ(Message(count - 1), handler_.calls.back());
  EXPECT_EQ(0u, client_->ReceiveBuffer().Size());
}

TEST_F(SocketHandlerTest, MoreThanOneSignalTakesIsSignalledAgainUntilAllIsDelivered) {
  // Several times what one signal receives: each receive re-enables the read notification.
  std::string frames;
  int32_t count = 0;
  while (frames.size() < (3u << 20)) frames += Frame(count++);
  std::thread sender([this, &frames] { testing::SendBytes(peer_, frames); });
  for (int signal = 0; signal < 10000 && handler_.calls.size() < static_cast<size_t>(count);
       ++signal) {
    Signal();
  }
  sender.join();
  ASSERT_EQ(static_cast<size_t>(count), handler_.calls.size());
  EXPECT_EQ(Message(count - 1), handler_.calls.back());
}

TEST_F(SocketHandlerTest, AFrameArrivingBytewiseIsDeliveredWithItsLastByte) {
  const std::string frame = Frame(7);
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    Deliver(frame.substr(i, 1));
    Signal();
    ASSERT_TRUE(handler_.calls.empty()) << i;
  }
  Deliver(frame.substr(frame.size() - 1));
  Signal();
  EXPECT_EQ(std::vector<std::string>{Message(7)}, handler_.calls);
}

TEST_F(SocketHandlerTest, ZeroFromTheMessageNotificationLeavesLaterFramesForTheNextRead) {
  handler_.message_result = 0;
  Deliver(Frame(1) + Frame(2));
  Signal();
  EXPECT_EQ(std::vector<std::string>{Message(1)}, handler_.calls);
  EXPECT_EQ(Frame(2).size(), client_->ReceiveBuffer().Size());
  handler_.message_result = 1;
  Deliver(Frame(3));
  Signal();
  EXPECT_EQ((std::vector<std::string>{Message(1), Message(2), Message(3)}), handler_.calls);
}

TEST_F(SocketHandlerTest, FramesAreDeliveredBeforeTheGracefulClose) {
  ASSERT_TRUE(testing::SendBytes(peer_, Frame(1) + Frame(2)));
  peer_.Close();
  SignalUntilError();
  EXPECT_EQ((std::vector<std::string>{Message(1), Message(2), "error 32 0"}), handler_.calls);
}

TEST_F(SocketHandlerTest, AResetCloseCarriesTheResetError) {
  ASSERT_TRUE(testing::SendBytes(*client_, "unread"));
  ASSERT_TRUE(testing::WaitPending(peer_.handle(), 6));
  // Closing with unread bytes resets the connection.
  testing::SetAbortiveClose(peer_);
  peer_.Close();
  handler_.delete_on_error = true;
  SignalUntilError();
  ASSERT_EQ(1u, handler_.calls.size());
  // Wine reports the reset as a graceful close.
  EXPECT_EQ(testing::RunningUnderWine()
                ? "error 32 0"
                : "error 32 " + std::to_string(testing::kErrorConnectionReset),
            handler_.calls[0]);
  EXPECT_EQ(nullptr, handler_.AttachedSocket());
}

TEST_F(SocketHandlerTest, MalformedFrameIsFinalEvenWhenTheNotificationDeletesTheSocket) {
  // The length announces one byte more than the frame holds; the next byte makes it malformed.
  std::string frame = Frame(1);
  frame[0] = static_cast<char>(frame[0] + 1);
  Deliver(frame);
  Signal();
  EXPECT_TRUE(handler_.calls.empty());
  // Fill the send space, then let the peer take what went out, so that writability is reported
  // together with the next read.
  BufferPtr flood;
  flood.Reserve(kFlood);
  flood.Append(nullptr, kFlood);
  ASSERT_EQ(1, client_->Send(flood));
  ASSERT_EQ(1u, client_->SendBuffers().size());
  ASSERT_TRUE(testing::ReceiveBytes(peer_, kFlood - client_->SendBuffers().front().Size()));
  Deliver("x");
  // Time for the system to record both events; were it too slow, the test only proves less.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  handler_.delete_on_error = true;
  Signal();
  // The error returns 1, but nothing runs after it: no write handling, no use of the socket.
  EXPECT_EQ(std::vector<std::string>{"error 1 11"}, handler_.calls);
  EXPECT_EQ(nullptr, handler_.AttachedSocket());
}

class CountedSocket : public StreamBufferedSocket {
 public:
  explicit CountedSocket(int* destroyed) : destroyed_(destroyed) {}
  ~CountedSocket() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST_F(SocketHandlerTest, FailedAttachLeavesTheAttachedSocketAndAnotherReplacesIt) {
  testing::CheckRecorder recorder;
  int destroyed = 0;
  auto unopened = std::make_unique<CountedSocket>(&destroyed);
  EXPECT_EQ(0, handler_.AttachSocket(unopened.get(), kAllEvents));
  EXPECT_EQ(0, handler_.AttachSocket(nullptr, kAllEvents));
  EXPECT_EQ(client_, handler_.AttachedSocket());
  EXPECT_EQ(1, handler_.AttachSocket(client_, kAllEvents));
  EXPECT_EQ(client_, handler_.AttachedSocket());

  auto other = std::make_unique<CountedSocket>(&destroyed);
  Socket otherPeer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.21", *other, otherPeer));
  std::unique_ptr<StreamBufferedSocket> previous(handler_.DetachSocket());
  ASSERT_EQ(1, handler_.AttachSocket(previous.get(), kAllEvents));
  previous.release();
  ASSERT_EQ(1, handler_.AttachSocket(other.release(), kAllEvents));
  EXPECT_EQ(0, destroyed);
  delete handler_.DetachSocket();
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(nullptr, handler_.DetachSocket());
  EXPECT_EQ(1, recorder.count());
  unopened.reset();
  EXPECT_EQ(2, destroyed);
}

TEST_F(SocketHandlerTest, EventBitsFollowThePerEventRule) {
  testing::CheckRecorder recorder;
  EXPECT_EQ(1, handler_.HandleEvent(client_, 0, 0));
  EXPECT_EQ(1, handler_.HandleEvent(client_, kNetOutOfBand, 0));
  EXPECT_EQ(1, handler_.HandleEvent(client_, kNetQos, 10050));
  EXPECT_EQ(1, handler_.HandleEvent(client_, kNetClose, 0));
  EXPECT_EQ(0, recorder.count());
  EXPECT_EQ(1, handler_.HandleEvent(client_, kNetRead | kNetClose, 0));
  handler_.HandleNetworkEvents(nullptr);
  EXPECT_EQ(2, recorder.count());
  EXPECT_EQ((std::vector<std::string>{"error 64 10050", "error 32 0"}), handler_.calls);
}

// A failed enumeration must not leave the manual-reset event signalled with nobody to handle it:
// the worker would wake on it at full speed for ever. It is an error of the connection instead.
int FailingEnumeration(StreamBufferedSocket*, SignalEvent&, NetworkEventReport*) {
  SetLastErrorCode(testing::kErrorNetworkDown);
  return 0;
}

TEST_F(SocketHandlerTest, AFailedEnumerationIsAConnectionErrorAndResetsTheEvent) {
  handler_.delete_on_error = true;
  Deliver(Frame(1));
  handler_.SetEventEnumerator(&FailingEnumeration);
  Signal();
  EXPECT_EQ(std::vector<std::string>{"error 0 " + std::to_string(testing::kErrorNetworkDown)},
            handler_.calls);
  EXPECT_EQ(nullptr, handler_.AttachedSocket());
  EXPECT_FALSE(handler_.NetworkEvent().Wait(0)) << "the event is still signalled";
  handler_.SetEventEnumerator(nullptr);
}

}  // namespace
}  // namespace vexil
