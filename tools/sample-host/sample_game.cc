#include "sample_game.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace sample {
namespace {

constexpr int32_t kMaxPlayers = 64;
constexpr uint32_t kRegionCount = 3;

// Copies text into the connector's result buffer (at most *resultLength bytes, which is its
// capacity on entry) and stores how many bytes were written.
void WriteResult(const std::string& text, char* result, int32_t* resultLength) {
  const size_t capacity = *resultLength > 0 ? static_cast<size_t>(*resultLength) : 0;
  const size_t n = text.size() < capacity ? text.size() : capacity;
  std::memcpy(result, text.data(), n);
  *resultLength = static_cast<int32_t>(n);
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

int SampleGame::OnCheckRequest(int32_t value) {
  ++calls_;
  const int answer = value <= kLargestAnsweredCheck ? 1 : 0;
  Report("check " + std::to_string(value) + (answer ? ": healthy" : ": declined"));
  return answer;
}

int SampleGame::OnOrder(const char* name, const char* argument, char* result, int32_t* resultLength,
                        uint32_t idA, uint32_t idB) {
  ++calls_;
  const std::string order = name;
  Report("order " + order + " \"" + argument + "\" for " + std::to_string(idA) + "/" +
         std::to_string(idB));
  if (order == "change-map") {
    map_ = argument;
    WriteResult("map is now " + map_, result, resultLength);
    return 0;
  }
  if (order == "save") {
    WriteResult("saved " + std::to_string(players_.load()) + " players", result, resultLength);
    return 0;
  }
  // An order this server does not know: the reply carries no result text.
  return 1;
}

int SampleGame::OnCommand(uint32_t idA, uint32_t idB, const char* text) {
  ++calls_;
  const bool known = StartsWith(text, "kick ") || StartsWith(text, "broadcast ");
  if (StartsWith(text, "kick ") && players_.load() > 0) --players_;
  Report("command \"" + std::string(text) + "\" for " + std::to_string(idA) + "/" +
         std::to_string(idB) + (known ? ": done" : ": unknown"));
  return known ? 1 : 0;
}

int SampleGame::OnCountsRequest(vexil::CountsSink* sink) {
  ++calls_;
  const int32_t players = players_.load();
  // Players online, slots, then players per region and spare counters, as ten values.
  const int32_t counts[10] = {
      players, kMaxPlayers, players / 2, players / 3, players - players / 2 - players / 3,
      0,       0,           0,           0,           ticks_.load()};
  sink->SetCounts(&counts);
  Report("counts: " + std::to_string(players) + " players");
  return 1;
}

int SampleGame::OnRegionRequest(vexil::RegionSink* sink) {
  ++calls_;
  for (uint32_t region = 0; region < kRegionCount; ++region) {
    // Per region: players, creatures, load in percent.
    const std::vector<int32_t> values = {players_.load() / static_cast<int32_t>(region + 2),
                                         static_cast<int32_t>(10 * (region + 1)),
                                         static_cast<int32_t>(20 + 15 * region)};
    sink->AddRegion(region + 1, 0, &values);
  }
  Report("regions: " + std::to_string(kRegionCount));
  return 1;
}

int SampleGame::OnStatRequest(vexil::StatSink* sink) {
  ++calls_;
  sink->AddStat(1, 0, static_cast<uint32_t>(players_.load()), kMaxPlayers, 0, 0, "players");
  sink->AddStat(2, 0, static_cast<uint32_t>(ticks_.load()), 0, 0, 0, "uptime seconds");
  sink->AddStat(3, 0, 16, 33, 0, 0, ("map " + map_).c_str());
  Report("statistics: 3");
  return 1;
}

int SampleGame::OnRegionRequestExtra(vexil::RegionExtraSink* sink) {
  // The keep has a detailed grid of 238 cells; the other regions have none.
  int32_t cells[238] = {};
  for (int32_t i = 0; i < 238; ++i) cells[i] = (i * 7 + ticks_.load()) % 10;
  sink->AddRegion(3, 1, &cells);
  Report("extra regions: 1 grid");
  return 1;
}

int SampleGame::OnStatRequestExtra(vexil::StatExtraSink*) {
  // No extra statistics: the agent gets only the first list.
  Report("extra statistics: none");
  return 0;
}

void SampleGame::Tick() {
  const int32_t tick = ++ticks_;
  // Someone joins every third second and someone leaves every fifth, within the slots.
  if (tick % 3 == 0 && players_.load() < kMaxPlayers) ++players_;
  if (tick % 5 == 0 && players_.load() > 0) --players_;
}

void SampleGame::Report(const std::string& line) {
  std::printf("sample-host: %s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace sample
