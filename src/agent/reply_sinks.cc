#include "agent/reply_sinks.h"

#include "sync/check.h"

namespace vexil {
namespace {

// The host must pass an object wherever the interface takes an address: a null one raises the
// internal check, and if resumed the call changes nothing.
bool Present(const void* pointer) {
  if (pointer != nullptr) return true;
  CheckFailed();
  return false;
}

}  // namespace

void CountsReplySink::SetCounts(const std::vector<int32_t>* counts) {
  if (!Present(counts)) return;
  *counts_ = *counts;
}

void CountsReplySink::SetCounts(const int32_t (*counts)[10]) {
  if (!Present(counts)) return;
  counts_->assign(*counts, *counts + 10);
}

template <typename Interface>
template <typename Value>
void RegionListSink<Interface>::Append(uint32_t idA, uint32_t idB, const Value* values,
                                       size_t count) {
  RegionInfo& region = regions_->emplace_back();
  region.ids = IdTriple(idA, gsid_, idB);
  region.values.reserve(count);
  for (size_t i = 0; i < count; ++i) region.values.push_back(static_cast<int32_t>(values[i]));
}

template <typename Interface>
void RegionListSink<Interface>::AddRegion(uint32_t idA, uint32_t idB,
                                          const std::vector<int32_t>* values) {
  if (!Present(values)) return;
  Append(idA, idB, values->data(), values->size());
}

template <typename Interface>
void RegionListSink<Interface>::AddRegion(uint32_t idA, uint32_t idB,
                                          const int32_t (*values)[238]) {
  if (!Present(values)) return;
  Append(idA, idB, *values, 238);
}

template <typename Interface>
void RegionListSink<Interface>::AddRegion(uint32_t idA, uint32_t idB,
                                          const int32_t (*values)[272]) {
  if (!Present(values)) return;
  Append(idA, idB, *values, 272);
}

void RegionReplySink::AddRegion(uint32_t idA, uint32_t idB, const uint32_t (*values)[238]) {
  if (!Present(values)) return;
  Append(idA, idB, *values, 238);
}

template <typename Interface>
void StatListSink<Interface>::AddStat(uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2,
                                      uint32_t value3, uint32_t value4, const char* text) {
  StatInfo& stat = stats_->emplace_back();
  stat.ids = IdTriple(idA, gsid_, idB);
  stat.value1 = value1;
  stat.value2 = value2;
  stat.value3 = value3;
  stat.value4 = value4;
  if (text != nullptr) stat.text = text;
}

template class RegionListSink<RegionSink>;
template class RegionListSink<RegionExtraSink>;
template class StatListSink<StatSink>;
template class StatListSink<StatExtraSink>;

}  // namespace vexil
