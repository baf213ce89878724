// The time each call takes on its own thread, for the benchmarks of both platforms: several
// threads started together, each timing each of its calls with the steady clock.
#ifndef VEXIL_BENCH_CALL_LATENCY_H_
#define VEXIL_BENCH_CALL_LATENCY_H_

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace vexil::bench {

// Percentiles of one set of calls, nanoseconds.
struct CallLatency {
  double p50 = 0;
  double p99 = 0;
  double p999 = 0;
  double max = 0;
};

// Times each of call(thread, i) on `threads` threads, calls_each per thread, the threads started
// together; the percentiles over all their calls. A call that returns false is not counted.
template <typename Call>
CallLatency TimeCalls(uint32_t threads, uint32_t calls_each, Call call) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::vector<double>> each(threads);
  std::atomic<uint32_t> ready{0};
  std::vector<std::thread> running;
  for (uint32_t t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      std::vector<double>& mine = each[t];
      mine.reserve(calls_each);
      ready.fetch_add(1);
      // Bounded: every thread of this loop has been started before any waits long.
      while (ready.load() < threads) std::this_thread::yield();
      for (uint32_t i = 0; i < calls_each; ++i) {
        const auto start = Clock::now();
        const bool counted = call(t, i);
        const auto end = Clock::now();
        if (counted) mine.push_back(std::chrono::duration<double, std::nano>(end - start).count());
      }
    });
  }
  for (std::thread& thread : running) thread.join();
  std::vector<double> all;
  for (const std::vector<double>& mine : each) all.insert(all.end(), mine.begin(), mine.end());
  CallLatency latency;
  if (all.empty()) return latency;
  std::sort(all.begin(), all.end());
  const auto at = [&all](double p) { return all[static_cast<size_t>(p * (all.size() - 1))]; };
  latency.p50 = at(0.5);
  latency.p99 = at(0.99);
  latency.p999 = at(0.999);
  latency.max = all.back();
  return latency;
}

// The floor a call is compared with: what the same thread does with the same bytes without the
// library, copying both texts and the ids into a buffer of its own.
inline bool CopyLikeAWarning(const char* text, size_t text_size, const char* extra,
                             size_t extra_size, uint32_t thread, uint32_t i) {
  thread_local char own[256];
  const size_t text_bytes = std::min(text_size, sizeof own / 2);
  const size_t extra_bytes = std::min(extra_size, sizeof own / 2 - 8);
  std::copy(text, text + text_bytes, own);
  std::copy(extra, extra + extra_bytes, own + text_bytes);
  std::copy(reinterpret_cast<const char*>(&thread), reinterpret_cast<const char*>(&thread) + 4,
            own + text_bytes + extra_bytes);
  std::copy(reinterpret_cast<const char*>(&i), reinterpret_cast<const char*>(&i) + 4,
            own + text_bytes + extra_bytes + 4);
  // Keeps the copies: an opaque reader could see them.
  asm volatile("" : : "r"(own) : "memory");
  return true;
}

}  // namespace vexil::bench

#endif  // VEXIL_BENCH_CALL_LATENCY_H_
