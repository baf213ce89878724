#include "host/conn_counters.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

namespace vexil {
namespace {

constexpr uint64_t kUntouched = 0xA5A5A5A5A5A5A5A5u;

// A host built with a later header: the library's struct and a field it does not know.
struct LaterCounters {
  VexilConnCounters known;
  uint64_t unknown;
};

// Every counter lands in its own field, and the current figures add up.
TEST(ConnCounters, EachCounterFillsItsOwnField) {
  ConnCounters counters;
  for (int counter = 0; counter < ConnCounters::kCounterCount; ++counter) {
    counters.Add(static_cast<ConnCounters::Counter>(counter), 100 + counter);
  }
  counters.traffic()->sent += 200;
  counters.traffic()->received += 201;
  counters.SetUnsentBytes(30);
  counters.SetLastError(10054);
  counters.SetLastError(0);
  VexilConnCounters out;
  std::memset(&out, 0xA5, sizeof out);
  out.size = sizeof out;
  ASSERT_EQ(VEXIL_COUNTERS_FILLED, counters.Fill(&out, 12));
  EXPECT_EQ(sizeof out, out.size);
  EXPECT_EQ(0u, out.reserved);
  const uint64_t expected[] = {100, 101, 102, 103, 104, 105, 106, 107,
                               108, 109, 110, 111, 200, 201, 42};
  const uint64_t* field = &out.connectAttempts;
  for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
    EXPECT_EQ(expected[i], field[i]) << "field " << i;
  }
  EXPECT_EQ(10054u, out.lastSystemError);
  EXPECT_EQ(0u, out.reserved2);
}

// The size rule: too small for the header is refused with nothing written; an older host's size
// is filled up to its last whole field; a later host's size comes back as ours, its own field
// untouched.
TEST(ConnCounters, FillsWhatBothSidesKnowAndSaysHowMuch) {
  ConnCounters counters;
  counters.Add(ConnCounters::kConnectAttempts, 1);
  counters.Add(ConnCounters::kConnections, 2);
  counters.Add(ConnCounters::kRegistrations, 3);

  for (uint32_t size : {0u, 1u, uint32_t{VEXIL_COUNTERS_HEADER_SIZE - 1}}) {
    VexilConnCounters out;
    std::memset(&out, 0xA5, sizeof out);
    out.size = size;
    EXPECT_EQ(VEXIL_COUNTERS_REFUSED, counters.Fill(&out, 0)) << size;
    EXPECT_EQ(size, out.size);
    EXPECT_EQ(kUntouched, out.connectAttempts);
  }
  EXPECT_EQ(VEXIL_COUNTERS_REFUSED, counters.Fill(nullptr, 0));

  // An older header that ended after connections; then one whose size cuts registrations.
  for (uint32_t size : {uint32_t{offsetof(VexilConnCounters, registrations)},
                        uint32_t{offsetof(VexilConnCounters, registrations) + 5}}) {
    VexilConnCounters out;
    std::memset(&out, 0xA5, sizeof out);
    out.size = size;
    ASSERT_EQ(VEXIL_COUNTERS_FILLED, counters.Fill(&out, 0));
    EXPECT_EQ(offsetof(VexilConnCounters, registrations), out.size);
    EXPECT_EQ(1u, out.connectAttempts);
    EXPECT_EQ(2u, out.connections);
    EXPECT_EQ(kUntouched, out.registrations);
  }

  VexilConnCounters header_only;
  header_only.size = VEXIL_COUNTERS_HEADER_SIZE;
  header_only.connectAttempts = kUntouched;
  ASSERT_EQ(VEXIL_COUNTERS_FILLED, counters.Fill(&header_only, 0));
  EXPECT_EQ(VEXIL_COUNTERS_HEADER_SIZE, header_only.size);
  EXPECT_EQ(kUntouched, header_only.connectAttempts);

  LaterCounters later;
  std::memset(&later, 0xA5, sizeof later);
  later.known.size = sizeof later;
  ASSERT_EQ(VEXIL_COUNTERS_FILLED, counters.Fill(&later.known, 0));
  EXPECT_EQ(sizeof(VexilConnCounters), later.known.size);
  EXPECT_EQ(3u, later.known.registrations);
  EXPECT_EQ(0u, later.known.reserved2);
  EXPECT_EQ(kUntouched, later.unknown);
}

// Threads counting at once while another reads lose no increment (and, under ThreadSanitizer,
// race on nothing).
TEST(ConnCounters, ConcurrentAddsAreAllCounted) {
  ConnCounters counters;
  constexpr int kThreads = 4;
  constexpr int kAdds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&counters] {
      for (int i = 0; i < kAdds; ++i) {
        counters.Add(ConnCounters::kWarningsQueued);
        counters.Add(ConnCounters::kFramesSent, 2);
        counters.traffic()->sent.fetch_add(3, std::memory_order_relaxed);
      }
    });
  }
  VexilConnCounters seen{};
  for (int i = 0; i < 1000; ++i) {
    seen.size = sizeof seen;
    ASSERT_EQ(VEXIL_COUNTERS_FILLED, counters.Fill(&seen, 0));
    ASSERT_LE(seen.warningsQueued, uint64_t{kThreads} * kAdds);
  }
  for (std::thread& thread : threads) thread.join();
  seen.size = sizeof seen;
  ASSERT_EQ(VEXIL_COUNTERS_FILLED, counters.Fill(&seen, 0));
  EXPECT_EQ(uint64_t{kThreads} * kAdds, seen.warningsQueued);
  EXPECT_EQ(uint64_t{kThreads} * kAdds * 2, seen.framesSent);
  EXPECT_EQ(uint64_t{kThreads} * kAdds * 3, seen.bytesSent);
}

}  // namespace
}  // namespace vexil
