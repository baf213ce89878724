// The POSIX derivation of network events from poll: what the connector's handler reacts to.
#include "net/native_socket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "net/socket.h"

namespace vexil {
namespace {

constexpr uint32_t kLoopback50 = 0x7F000032;  // 127.0.0.50, which nothing listens on
// Report error slots: an event's bit number.
constexpr int kConnectSlot = 4;  // kNetConnect == 1 << 4
constexpr int kCloseSlot = 5;    // kNetClose == 1 << 5

// Enumerates until some event shows, within a few seconds.
NetworkEventReport Await(SOCKET handle, bool want_write, bool connect_pending) {
  NetworkEventReport report;
  for (int i = 0; i < 500; ++i) {
    EXPECT_EQ(1, EnumerateNetworkEvents(handle, nullptr, want_write, connect_pending, &report));
    if (report.events != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return report;
}

class Listener {
 public:
  Listener() {
    handle_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback50);
    ::bind(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(handle_, 1);
    socklen_t length = sizeof address;
    ::getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { ::close(handle_); }
  uint16_t port() const { return port_; }
  int Accept() { return ::accept(handle_, nullptr, nullptr); }

 private:
  int handle_;
  uint16_t port_ = 0;
};

TEST(NativeSocketPosix, ARefusedConnectIsAConnectEventWithItsError) {
  Socket socket;
  ASSERT_EQ(1, socket.Create(0, kStreamSocket, L""));
  ASSERT_EQ(1, SetSocketBlocking(socket.handle(), false));
  ASSERT_EQ(1, socket.StartConnect(htonl(kLoopback50), 9));
  EXPECT_TRUE(socket.connect_pending());
  const NetworkEventReport report = Await(socket.handle(), true, true);
  EXPECT_EQ(kNetConnect, report.events) << "no close or read for a connect that failed";
  EXPECT_EQ(ECONNREFUSED, report.errors[kConnectSlot]);
}

TEST(NativeSocketPosix, ConnectedThenPeerInputThenPeerClose) {
  Listener listener;
  Socket socket;
  ASSERT_EQ(1, socket.Create(0, kStreamSocket, L""));
  ASSERT_EQ(1, SetSocketBlocking(socket.handle(), false));
  ASSERT_EQ(1, socket.StartConnect(htonl(kLoopback50), listener.port()));
  NetworkEventReport report = Await(socket.handle(), true, true);
  EXPECT_EQ(kNetConnect | kNetWrite, report.events);
  EXPECT_EQ(0, report.errors[kConnectSlot]);
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);

  ASSERT_EQ(1, EnumerateNetworkEvents(socket.handle(), nullptr, false, false, &report));
  EXPECT_EQ(0, report.events) << "nothing to read, room to write not asked for";
  ASSERT_EQ(2, ::send(peer, "hi", 2, 0));
  EXPECT_EQ(kNetRead, Await(socket.handle(), false, false).events);
  ::close(peer);
  report = Await(socket.handle(), false, false);
  EXPECT_EQ(kNetRead | kNetClose, report.events) << "the pending bytes are read before the close";
  EXPECT_EQ(0, report.errors[kCloseSlot]) << "a graceful close";
}

TEST(NativeSocketPosix, AResetIsACloseWithItsError) {
  Listener listener;
  Socket socket;
  ASSERT_EQ(1, socket.Create(0, kStreamSocket, L""));
  ASSERT_EQ(1, socket.Connect(std::string("127.0.0.50"), listener.port()));
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);
  const linger abortive = {1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  ::close(peer);
  const NetworkEventReport report = Await(socket.handle(), false, false);
  EXPECT_NE(0, report.events & kNetClose);
  EXPECT_EQ(ECONNRESET, report.errors[kCloseSlot]);
}

}  // namespace
}  // namespace vexil
