#include "uncalled/net/overlapped_datagram.h"

#include <gtest/gtest.h>

#include <string>

#include "net/native_socket.h"
#include "support/test_platform.h"

namespace vexil {
namespace {

constexpr char kAddress[] = "127.0.0.26";
constexpr uint32_t kAddressValue = 0x7F00001A;

class OverlappedDatagramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(1, StartupSockets(kSocketVersion20)); }
  static void TearDownTestSuite() { CleanupSockets(); }
};

// Binds a datagram socket to the test's address; its port is returned.
uint16_t BindDatagram(Socket& socket) {
  std::string address;
  uint16_t port = 0;
  EXPECT_EQ(1, socket.Create(0, SOCK_DGRAM, std::string(kAddress)));
  EXPECT_EQ(1, socket.GetSockName(address, port));
  return port;
}

TEST_F(OverlappedDatagramTest, GatheredPiecesArriveAsOneDatagramWithTheirSource) {
  Socket receiver;
  Socket sender;
  const uint16_t receiverPort = BindDatagram(receiver);
  const uint16_t senderPort = BindDatagram(sender);

  char ping[] = "pi";
  char ng[] = "ng";
  WSABUF outgoing[] = {{2, ping}, {2, ng}};
  ASSERT_EQ(
      4, SendToEx(sender, outgoing, 2, ::htonl(kAddressValue), receiverPort, 0, nullptr, nullptr));
  char data[16] = {};
  WSABUF incoming = {sizeof(data), data};
  DWORD flags = 0;
  std::string from;
  uint16_t fromPort = 0;
  ASSERT_EQ(4, ReceiveFromEx(receiver, &incoming, 1, &flags, from, fromPort, nullptr, nullptr));
  EXPECT_EQ("ping", std::string(data, 4));
  // Wine reports every loopback source as 127.0.0.1.
  EXPECT_EQ(testing::RunningUnderWine() ? "127.0.0.1" : kAddress, from);
  EXPECT_EQ(senderPort, fromPort);

  char pong[] = "pong";
  WSABUF reply = {4, pong};
  ASSERT_EQ(4,
            SendToEx(receiver, &reply, 1, ::htonl(kAddressValue), senderPort, 0, nullptr, nullptr));
  uint32_t rawFrom = 0;
  flags = 0;
  ASSERT_EQ(4, ReceiveFromEx(sender, &incoming, 1, &flags, rawFrom, fromPort, nullptr, nullptr));
  EXPECT_EQ("pong", std::string(data, 4));
  EXPECT_EQ(::htonl(testing::RunningUnderWine() ? 0x7F000001 : kAddressValue), rawFrom);
  EXPECT_EQ(receiverPort, fromPort);
}

// The text form converts the (empty) source after the failed call: the call's error must survive.
TEST_F(OverlappedDatagramTest, AFailedReceiveKeepsItsError) {
  Socket unopened;
  char data[4] = {};
  WSABUF incoming = {sizeof(data), data};
  DWORD flags = 0;
  std::string from = "stale";
  uint16_t fromPort = 1;
  EXPECT_EQ(SOCKET_ERROR,
            ReceiveFromEx(unopened, &incoming, 1, &flags, from, fromPort, nullptr, nullptr));
  EXPECT_EQ(WSAENOTSOCK, ::WSAGetLastError());
  EXPECT_EQ("0.0.0.0", from);
  EXPECT_EQ(0, fromPort);
}

}  // namespace
}  // namespace vexil
