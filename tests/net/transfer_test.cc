#include "net/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/buffered_socket.h"
#include "net/loopback.h"
#include "net/native_socket.h"
#include "support/check_recorder.h"
#include "sync/last_error.h"

namespace vexil {
namespace {

// Far more than a loopback connection with small socket buffers holds in flight.
constexpr unsigned kFlood = 8u << 20;

std::string Pattern(unsigned size) {
  std::string text(size, '\0');
  for (unsigned i = 0; i < size; ++i) text[i] = static_cast<char>(i * 7 + i / 251);
  return text;
}

BufferPtr BufferOf(const std::string& bytes) {
  BufferPtr buffer;
  buffer.Append(bytes.data(), static_cast<unsigned>(bytes.size()));
  return buffer;
}

std::string Bytes(const BufferPtr& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

void SetNonBlocking(SOCKET handle) { ASSERT_EQ(1, SetSocketBlocking(handle, false)); }

// Everything the peer receives until the sender closes its side.
std::string DrainUntilClosed(Socket& peer) {
  std::string received;
  char chunk[65536];
  for (;;) {
    const int n = peer.Receive(chunk, sizeof(chunk), 0);
    if (n <= 0) return received;
    received.append(chunk, static_cast<size_t>(n));
  }
}

// A connection whose client side is non-blocking and whose send space is small, with a peer that
// reads only when told to.
class FullSendSpace : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::ConnectPair("127.0.0.15", client_, peer_));
    const int small = 4096;
    ASSERT_EQ(1, client_.SetOption(SO_SNDBUF, &small, sizeof(small)));
    ASSERT_EQ(1, peer_.SetOption(SO_RCVBUF, &small, sizeof(small)));
    SetNonBlocking(client_.handle());
  }
  // Closes the client's sending side and returns what the peer received.
  std::string Received() {
    ::shutdown(client_.handle(), testing::kShutdownSend);
    return DrainUntilClosed(peer_);
  }

  StreamBufferedSocket client_;
  Socket peer_;
};

TEST_F(FullSendSpace, TrySendStopsShortAndSendPendingConsumesExactlyWhatWentOut) {
  const std::string flood = Pattern(kFlood);
  unsigned sent = 12345;
  ASSERT_EQ(1, TrySend(client_.handle(), flood.data(), kFlood, &sent));
  ASSERT_GT(sent, 0u);
  ASSERT_LT(sent, kFlood);
  BufferPtr rest = BufferOf(flood.substr(sent));
  ASSERT_EQ(1, SendPending(client_.handle(), rest));
  const unsigned consumed = kFlood - sent - rest.Size();
  EXPECT_EQ(flood.substr(sent + consumed), Bytes(rest));
  EXPECT_EQ(flood.substr(0, sent + consumed), Received());
}

// What is left was refused (a would-block), never merely taken in part: only a refusal brings the
// write notification that sends the rest.
TEST_F(FullSendSpace, FlushKeepsSendingUntilRefusedAndKeepsTheRest) {
  const std::string first = Pattern(100);
  const std::string second = Pattern(kFlood);
  const std::string third = "third";
  SendBufferList& list = client_.SendBuffers();
  list.push_back(BufferOf(first));
  list.push_back(BufferOf(second));
  list.push_back(BufferOf(third));
  size_t sent = 0;
  ASSERT_EQ(1, FlushSendQueue(client_.handle(), list, &sent));
  EXPECT_EQ(kSocketErrorWouldBlock, testing::SocketError());
  ASSERT_EQ(2u, list.size());
  const unsigned left = list.front().Size();
  EXPECT_EQ(first.size() + kFlood - left, sent);
  ASSERT_GT(left, 0u);
  ASSERT_LT(left, kFlood);
  EXPECT_EQ(second.substr(kFlood - left), Bytes(list.front()));
  EXPECT_EQ(third, Bytes(list.back()));
  EXPECT_EQ(first + second.substr(0, kFlood - left), Received());
}

// The count the connector bounds a stalled connection by: what Send was given and the system
// has not taken, however the list is split.
TEST_F(FullSendSpace, UnsentBytesCountsWhatTheSystemHasNotTaken) {
  ASSERT_EQ(1, client_.Send(BufferOf(Pattern(kFlood))));
  ASSERT_EQ(1, client_.Send(BufferOf("tail")));
  ASSERT_EQ(2u, client_.SendBuffers().size());
  EXPECT_EQ(client_.SendBuffers().front().Size() + 4u, client_.UnsentBytes());
  client_.Close();
  EXPECT_EQ(0u, client_.UnsentBytes());
}

TEST_F(FullSendSpace, StringSendKeepsExactlyTheUnsentTail) {
  StringBufferedSocket client;
  client.Attach(client_.Detach());
  const std::string flood = Pattern(kFlood);
  ASSERT_EQ(1, client.Send(flood));
  const size_t left = client.SendBuffers().size();
  ASSERT_GT(left, 0u);
  EXPECT_EQ(flood.substr(kFlood - left), client.SendBuffers());
  ::shutdown(client.handle(), testing::kShutdownSend);
  EXPECT_EQ(flood.substr(0, kFlood - left), DrainUntilClosed(peer_));
}

TEST(FlushSendQueue, EmptyListSucceedsWithLastErrorZero) {
  SendBufferList list;
  SetLastErrorCode(testing::kErrorConnectionReset);
  EXPECT_EQ(1, FlushSendQueue(INVALID_SOCKET, list));
  EXPECT_EQ(0, testing::SocketError());
}

TEST(ReceivePending, AppendsExactlyThePendingBytesAndNothingWhenNoneArePending) {
  StreamBufferedSocket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.16", client, peer));
  BufferPtr& buffer = client.ReceiveBuffer();
  buffer.Append("old", 3);
  ASSERT_EQ(1, ReceivePending(client.handle(), buffer));
  EXPECT_EQ("old", Bytes(buffer));
  ASSERT_TRUE(testing::SendBytes(peer, "0123456789"));
  ASSERT_TRUE(testing::WaitPending(client.handle(), 10));
  ASSERT_EQ(1, client.FillReceiveBuffer());
  EXPECT_EQ("old0123456789", Bytes(buffer));

  std::string text = "x";
  ASSERT_TRUE(testing::SendBytes(peer, "abc"));
  ASSERT_TRUE(testing::WaitPending(client.handle(), 3));
  ASSERT_EQ(1, ReceivePending(client.handle(), text));
  EXPECT_EQ("xabc", text);
}

// A connection whose client side is non-blocking, as an event selection leaves it.
class NonBlockingPair : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::ConnectPair("127.0.0.22", client, peer));
    SetNonBlocking(client.handle());
  }

  StreamBufferedSocket client;
  Socket peer;
};

using ReceiveAvailableTest = NonBlockingPair;
using GatheredFlushTest = NonBlockingPair;

TEST_F(ReceiveAvailableTest, TakesEverythingWaitingAndLeavesTheCloseToTheCloseEvent) {
  BufferPtr& buffer = client.ReceiveBuffer();
  buffer.Append("old", 3);
  // Nothing waiting: at once, nothing added.
  ASSERT_EQ(1, ReceiveAvailable(client.handle(), buffer));
  EXPECT_EQ("old", Bytes(buffer));
  // Exactly one receive chunk, then more than two.
  std::string expected = "old";
  for (unsigned size : {16u << 10, 40000u}) {
    const std::string sent = Pattern(size);
    ASSERT_TRUE(testing::SendBytes(peer, sent));
    ASSERT_TRUE(testing::WaitPending(client.handle(), size));
    ASSERT_EQ(1, ReceiveAvailable(client.handle(), buffer));
    expected += sent;
    ASSERT_EQ(expected, Bytes(buffer)) << size;
  }
  ASSERT_TRUE(testing::SendBytes(peer, "last"));
  ASSERT_TRUE(testing::WaitPending(client.handle(), 4));
  peer.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The bytes before the close, then the close itself, both without a failure.
  EXPECT_EQ(1, ReceiveAvailable(client.handle(), buffer));
  EXPECT_EQ(1, ReceiveAvailable(client.handle(), buffer));
  EXPECT_EQ(expected + "last", Bytes(buffer));
}

TEST_F(GatheredFlushTest, MoreBuffersThanOneCallTakesLeaveInOrder) {
  SendBufferList& list = client.SendBuffers();
  std::string expected;
  for (int i = 0; i < 150; ++i) {
    // Empty buffers on the way are released too.
    const std::string piece = i % 50 == 7 ? std::string() : "<" + std::to_string(i) + ">";
    list.push_back(BufferOf(piece));
    expected += piece;
  }
  size_t sent = 5;
  ASSERT_EQ(1, FlushSendQueue(client.handle(), list, &sent));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(5 + expected.size(), sent);
  ::shutdown(client.handle(), testing::kShutdownSend);
  EXPECT_EQ(expected, DrainUntilClosed(peer));
}

TEST(TryReceive, PeerCloseFailsWithNothingReceived) {
  StreamBufferedSocket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.17", client, peer));
  ASSERT_TRUE(testing::SendBytes(peer, "0123456789"));
  peer.Close();
  ASSERT_TRUE(testing::WaitPending(client.handle(), 10));
  ASSERT_EQ(1, client.OnRead(0));
  char data[16];
  unsigned received = 99;
  EXPECT_EQ(0, TryReceive(client.handle(), data, sizeof(data), &received));
  EXPECT_EQ(0u, received);
  // Unread bytes and queued buffers go with Close.
  client.SendBuffers().push_back(BufferOf("queued"));
  client.Close();
  EXPECT_EQ(0u, client.ReceiveBuffer().Size());
  EXPECT_TRUE(client.SendBuffers().empty());
  EXPECT_EQ(0, client.IsOpen());
}

TEST(StreamBufferedSocket, FailedSendKeepsTheWholeBufferQueued) {
  StreamBufferedSocket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.18", client, peer));
  ASSERT_TRUE(testing::SendBytes(client, "x"));
  ASSERT_TRUE(testing::WaitPending(peer.handle(), 1));
  testing::SetAbortiveClose(peer);
  peer.Close();
  // Wait for the reset. Windows reports it to the receive; Wine at times as a graceful close.
  char data[4];
  ASSERT_LE(client.Receive(data, sizeof(data), 0), 0);
  BufferPtr message = BufferOf("hello");
  EXPECT_EQ(0, client.Send(message));
  ASSERT_EQ(1u, client.SendBuffers().size());
  EXPECT_EQ("hello", Bytes(client.SendBuffers().front()));
  EXPECT_EQ(0, client.OnWrite(0));
}

TEST(BlockingTransfers, MoveWholeBuffersAndFailOnAClosedConnection) {
  Socket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.19", client, peer));
  const std::string payload = Pattern(1u << 20);
  BufferPtr outgoing = BufferOf(payload);
  BufferPtr incoming = BufferOf("head");
  int received = 0;
  std::thread reader(
      [&] { received = ReceiveBufferBlocking(peer.handle(), incoming.Get(), 1u << 20); });
  EXPECT_EQ(1, SendBufferBlocking(client.handle(), outgoing.Get()));
  reader.join();
  EXPECT_EQ(1, received);
  EXPECT_EQ(0u, outgoing.Size());
  EXPECT_EQ("head" + payload, Bytes(incoming));

  BufferPtr empty;
  EXPECT_EQ(1, SendBufferBlocking(INVALID_SOCKET, empty.Get()));
  EXPECT_EQ(1, ReceiveBufferBlocking(INVALID_SOCKET, empty.Get(), 0));
  client.Close();
  EXPECT_EQ(0, ReceiveBufferBlocking(peer.handle(), incoming.Get(), 1));
  EXPECT_EQ(0, ReceiveAll(peer.handle(), &received, sizeof(received)));
}

TEST(TransferChecks, NullOutputsAndBuffersAreCaughtThenFail) {
  testing::CheckRecorder recorder;
  char data[4] = {};
  EXPECT_EQ(0, TryReceive(INVALID_SOCKET, data, sizeof(data), nullptr));
  EXPECT_EQ(0, TrySend(INVALID_SOCKET, data, sizeof(data), nullptr));
  EXPECT_EQ(0, SendBufferBlocking(INVALID_SOCKET, nullptr));
  EXPECT_EQ(0, ReceivePending(INVALID_SOCKET, static_cast<ByteBuffer*>(nullptr)));
  EXPECT_EQ(0, SendAll(INVALID_SOCKET, data, sizeof(data)));
  EXPECT_EQ(5, recorder.count());
}

}  // namespace
}  // namespace vexil
