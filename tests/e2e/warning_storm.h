// A storm of host threads sending warnings, and how the agent's lines report them. Shared by the
// storm tests through the DLL and through the internal connector class.
#ifndef VEXIL_TESTS_E2E_WARNING_STORM_H_
#define VEXIL_TESTS_E2E_WARNING_STORM_H_

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace vexil::testing {

struct StormOutcome {
  // Per thread, the sequence numbers whose call reported the warning queued, in call order.
  std::vector<std::vector<unsigned>> queued;
  // The longest any one call took.
  long long longest_ms = 0;
};

// Runs `threads` threads; thread t calls send(t, seq) for seq = 1..each, and a call that returns
// true counts as queued. With pause_every > 0 each thread sleeps 5 ms after every pause_every
// calls, which spreads the storm over a longer time.
template <typename Send>
StormOutcome RunWarningStorm(unsigned threads, unsigned each, unsigned pause_every, Send send) {
  using Clock = std::chrono::steady_clock;
  StormOutcome outcome;
  outcome.queued.resize(threads);
  std::vector<long long> longest(threads, 0);
  std::vector<std::thread> senders;
  for (unsigned t = 0; t < threads; ++t) {
    senders.emplace_back([&, t] {
      for (unsigned seq = 1; seq <= each; ++seq) {
        const auto start = Clock::now();
        if (send(t, seq)) outcome.queued[t].push_back(seq);
        longest[t] = std::max<long long>(
            longest[t],
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        if (pause_every != 0 && seq % pause_every == 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  outcome.longest_ms = *std::max_element(longest.begin(), longest.end());
  return outcome;
}

// One agent line per received warning: "<- Warning ids=THREAD/GSID/SEQ ...".
inline bool WarningIds(const std::string& line, unsigned* thread, unsigned* seq) {
  unsigned gsid = 0;
  return std::sscanf(line.c_str(), "<- Warning ids=%u/%u/%u", thread, &gsid, seq) == 3;
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_E2E_WARNING_STORM_H_
