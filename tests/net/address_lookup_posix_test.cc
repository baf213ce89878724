// A name lookup the resolver never answers, through a stand-in for the C library's asynchronous
// requests: the owner's stop is seen at once and the abandoned request is cancelled, or left to
// the resolver when it is being worked on.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "net/address_lookup.h"
#include "net/name_resolver_posix.h"

namespace vexil {
namespace {

// What the stand-in resolver saw; like the real one it keeps the requests it was given.
struct HangingResolverLog {
  gaicb* started = nullptr;
  gaicb* cancelled = nullptr;
  int cancel_answer = EAI_NOTCANCELED;
};
HangingResolverLog g_log;

int StartHanging(gaicb* request) {
  g_log.started = request;
  return 0;
}
int StillInProgress(gaicb*) { return EAI_INPROGRESS; }
int CancelHanging(gaicb* request) {
  g_log.cancelled = request;
  return g_log.cancel_answer;
}

class HangingLookupTest : public ::testing::Test {
 protected:
  HangingLookupTest()
      : previous_(
            ReplaceNameResolver(NameResolver{&StartHanging, &StillInProgress, &CancelHanging})) {
    g_log = HangingResolverLog();
  }
  ~HangingLookupTest() override { ReplaceNameResolver(previous_); }

  NameResolver previous_;
};

TEST_F(HangingLookupTest, AStopEndsTheWaitAndTheRequestIsCancelled) {
  SignalEvent stop;
  for (int cancel_answer : {EAI_CANCELED, EAI_NOTCANCELED}) {
    g_log.cancel_answer = cancel_answer;
    stop.Reset();
    {
      AddressLookup lookup(L"agent.example");
      ASSERT_NE(nullptr, g_log.started);
      EXPECT_EQ(std::string("agent.example"), g_log.started->ar_name);
      EXPECT_FALSE(lookup.WaitUnlessStopped(stop, 50));

      auto waited =
          std::async(std::launch::async, [&] { return lookup.WaitUnlessStopped(stop, kInfinite); });
      stop.Set();
      ASSERT_EQ(std::future_status::ready, waited.wait_for(std::chrono::seconds(1)));
      EXPECT_FALSE(waited.get());
    }
    // Freed when withdrawn; kept readable for a resolver still working on it. ASan's leak and
    // use-after-free checks watch both answers.
    EXPECT_EQ(g_log.started, g_log.cancelled);
    if (cancel_answer == EAI_NOTCANCELED) {
      EXPECT_EQ(std::string("agent.example"), g_log.cancelled->ar_name);
    }
  }
}

}  // namespace
}  // namespace vexil
