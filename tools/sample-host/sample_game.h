// The sample host's answers to the HA agent: a small game server with players, map regions and
// statistics. Its state is made up but changes over time, so that repeated requests show it.
#ifndef VEXIL_TOOLS_SAMPLE_HOST_SAMPLE_GAME_H_
#define VEXIL_TOOLS_SAMPLE_HOST_SAMPLE_GAME_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "vexilconn/vexilconn.h"

namespace sample {

// Called only by the connector's worker thread, one call at a time; the counters it shares with
// the main thread are atomic.
class SampleGame final : public vexil::HostCallback {
 public:
  // Checks below this value are answered; the others are declined (no answer is sent).
  static constexpr int32_t kLargestAnsweredCheck = 1000;

  int OnCheckRequest(int32_t value) override;
  int OnOrder(const char* name, const char* argument, char* result, int32_t* resultLength,
              uint32_t idA, uint32_t idB) override;
  int OnCommand(uint32_t idA, uint32_t idB, const char* text) override;
  int OnCountsRequest(vexil::CountsSink* sink) override;
  int OnRegionRequest(vexil::RegionSink* sink) override;
  int OnStatRequest(vexil::StatSink* sink) override;
  int OnRegionRequestExtra(vexil::RegionExtraSink* sink) override;
  int OnStatRequestExtra(vexil::StatExtraSink* sink) override;

  // How many requests the connector has passed on so far.
  int calls() const { return calls_.load(); }
  // Moves the simulated game on by one second: players come and go.
  void Tick();

 private:
  // Prints one line for a callback, so the console shows what the host was asked.
  void Report(const std::string& line);

  std::atomic<int> calls_{0};
  std::atomic<int32_t> players_{12};
  std::atomic<int32_t> ticks_{0};
  std::string map_ = "harbour";  // only touched by the worker thread (OnOrder, OnStatRequest)
};

}  // namespace sample

#endif  // VEXIL_TOOLS_SAMPLE_HOST_SAMPLE_GAME_H_
