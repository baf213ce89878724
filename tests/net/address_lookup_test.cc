#include "net/address_lookup.h"

#include <gtest/gtest.h>

#include <string>

#include "net/socket_service.h"
#include "sync/kernel_object.h"

namespace vexil {
namespace {

class AddressLookupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartupSockets(kSocketVersion20); }
  static void TearDownTestSuite() { CleanupSockets(); }
};

// No name here is ever sent to a name server: a label longer than 63 characters fails at once.
const std::wstring kUnresolvable = std::wstring(70, L'n') + L".invalid";

TEST_F(AddressLookupTest, DottedTextIsDoneAtOnceAndANameOnItsOwnThread) {
  AddressLookup dotted(L"127.0.0.9");
  ASSERT_EQ(kWaitObject0, dotted.Done().Wait(0));
  uint32_t address = 0;
  ASSERT_EQ(1, dotted.Result(&address));
  EXPECT_EQ(::inet_addr("127.0.0.9"), address);

  AddressLookup name(kUnresolvable);
  ASSERT_EQ(kWaitObject0, name.Done().Wait(10000));
  EXPECT_EQ(0, name.Result(&address));
  EXPECT_EQ(WSAEINVAL, ::WSAGetLastError());

  AddressLookup empty(L"");
  ASSERT_EQ(kWaitObject0, empty.Done().Wait(0));
  EXPECT_EQ(0, empty.Result(&address));
}

// The owner may leave while the lookup runs; the thread finishes alone and frees what it used.
TEST_F(AddressLookupTest, AnAbandonedLookupFinishesAlone) {
  for (int i = 0; i < 20; ++i) AddressLookup abandoned(kUnresolvable);
  AddressLookup last(kUnresolvable);
  EXPECT_EQ(kWaitObject0, last.Done().Wait(10000));
}

}  // namespace
}  // namespace vexil
