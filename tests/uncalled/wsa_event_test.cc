#include "uncalled/net/wsa_event.h"

#include <gtest/gtest.h>

#include <string>

#include "net/native_socket.h"
#include "net/network_events.h"
#include "net/socket.h"

namespace vexil {
namespace {

TEST(WsaEventTest, StaysSetUntilResetAndWaitingTakesNothing) {
  WsaEvent event;
  ASSERT_NE(nullptr, event.GetHandle());
  EXPECT_EQ(0, event.Lock(0));
  ASSERT_TRUE(event.Set());
  // Manual reset: every wait finds it set, and giving it back changes nothing.
  EXPECT_EQ(1, event.Lock(0));
  EXPECT_EQ(1, event.Unlock());
  EXPECT_EQ(1, event.Lock(0));
  ASSERT_TRUE(event.Reset());
  EXPECT_EQ(0, event.Lock(0));
}

TEST(WsaEventTest, ASocketsSelectedEventSetsIt) {
  ASSERT_EQ(1, StartupSockets(kSocketVersion20));
  {
    WsaEvent event;
    Socket receiver;
    Socket sender;
    std::string address;
    uint16_t port = 0;
    ASSERT_EQ(1, receiver.Create(0, SOCK_DGRAM, std::string("127.0.0.27")));
    ASSERT_EQ(1, receiver.GetSockName(address, port));
    ASSERT_EQ(1, sender.Create(0, SOCK_DGRAM, std::string("127.0.0.27")));
    ASSERT_EQ(1, SetEventMask(receiver.handle(), event.GetHandle(), kNetRead));
    EXPECT_EQ(0, event.Lock(0));
    ASSERT_EQ(4, sender.SendTo("ping", 4, std::string("127.0.0.27"), port, 0));
    EXPECT_EQ(1, event.Lock(5000));
    EXPECT_EQ(1, SetEventMask(receiver.handle(), nullptr, 0));
  }
  CleanupSockets();
}

}  // namespace
}  // namespace vexil
