#include "net/address_lookup.h"

#include <gtest/gtest.h>

#include <string>

#include "net/native_socket.h"
#include "net/socket.h"
#include "support/test_platform.h"
#include "sync/last_error.h"

namespace vexil {
namespace {

class AddressLookupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartupSockets(kSocketVersion20); }
  static void TearDownTestSuite() { CleanupSockets(); }

  SignalEvent never_stopped_;
};

// No name here is ever sent to a name server: a label longer than 63 characters fails at once.
const std::wstring kUnresolvable = std::wstring(70, L'n') + L".invalid";

TEST_F(AddressLookupTest, DottedTextIsDoneAtOnceAndANameInTheBackground) {
  AddressLookup dotted(L"127.0.0.9");
  ASSERT_TRUE(dotted.WaitUnlessStopped(never_stopped_, 0));
  uint32_t address = 0;
  ASSERT_EQ(1, dotted.Result(&address));
  EXPECT_EQ(::inet_addr("127.0.0.9"), address);

  AddressLookup empty(L"");
  ASSERT_TRUE(empty.WaitUnlessStopped(never_stopped_, 0));
  EXPECT_EQ(0, empty.Result(&address));

  if (!testing::kSystemNameLookupTestable) GTEST_SKIP() << "no system name lookup in this build";
  AddressLookup name(kUnresolvable);
  ASSERT_TRUE(name.WaitUnlessStopped(never_stopped_, 10000));
  EXPECT_EQ(0, name.Result(&address));
  EXPECT_EQ(static_cast<uint32_t>(kSocketErrorInvalid), LastErrorCode());
}

// The owner may leave while the lookup runs; what it started finishes alone and frees what it used.
TEST_F(AddressLookupTest, AnAbandonedLookupFinishesAlone) {
  if (!testing::kSystemNameLookupTestable) GTEST_SKIP() << "no system name lookup in this build";
  for (int i = 0; i < 20; ++i) AddressLookup abandoned(kUnresolvable);
  AddressLookup last(kUnresolvable);
  EXPECT_TRUE(last.WaitUnlessStopped(never_stopped_, 10000));
}

// A stop already set wins over an outcome already known.
TEST_F(AddressLookupTest, AStopSetFirstWins) {
  SignalEvent stop;
  stop.Set();
  AddressLookup dotted(L"127.0.0.9");
  EXPECT_FALSE(dotted.WaitUnlessStopped(stop, 10000));
}

}  // namespace
}  // namespace vexil
