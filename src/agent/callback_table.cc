#include "agent/callback_table.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vexil {
namespace {

// A list handle is the address of the connector's sink, under a type of the C interface.
template <typename List, typename Sink>
List* AsList(Sink* sink) {
  return reinterpret_cast<List*>(sink);
}
template <typename Sink, typename List>
Sink* AsSink(List* list) {
  return reinterpret_cast<Sink*>(list);
}

// The values as a vector; false when the arguments cannot describe an array.
bool CopyValues(const int32_t* values, int32_t count, std::vector<int32_t>* copy) {
  if (count < 0 || (values == nullptr && count != 0)) return false;
  if (count != 0) copy->assign(values, values + count);
  return true;
}

template <typename Sink, typename List>
int AddRegionTo(List* list, uint32_t idA, uint32_t idB, const int32_t* values,
                int32_t count) noexcept {
  try {
    std::vector<int32_t> copy;
    if (list == nullptr || !CopyValues(values, count, &copy)) return VEXIL_LIST_REFUSED;
    AsSink<Sink>(list)->AddRegion(idA, idB, &copy);
    return VEXIL_LIST_ADDED;
  } catch (...) {  // no memory for the copy: nothing reaches the host
    return VEXIL_LIST_REFUSED;
  }
}

template <typename Sink, typename List>
int AddStatTo(List* list, uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2,
              uint32_t value3, uint32_t value4, const char* text) noexcept {
  try {
    if (list == nullptr) return VEXIL_LIST_REFUSED;
    AsSink<Sink>(list)->AddStat(idA, idB, value1, value2, value3, value4, text);
    return VEXIL_LIST_ADDED;
  } catch (...) {  // no memory for the copy: nothing reaches the host
    return VEXIL_LIST_REFUSED;
  }
}

}  // namespace

CallbackTableHost::CallbackTableHost(const VexilHostCallbacks& table) : table_() {
  std::memcpy(&table_, &table, std::min<size_t>(table.size, sizeof table_));
}

int CallbackTableHost::OnCheckRequest(int32_t value) {
  return table_.onCheckRequest ? table_.onCheckRequest(table_.context, value) : 0;
}

int CallbackTableHost::OnOrder(const char* name, const char* argument, char* result,
                               int32_t* resultLength, uint32_t idA, uint32_t idB) {
  if (!table_.onOrder) return 1;
  return table_.onOrder(table_.context, name, argument, result, resultLength, idA, idB);
}

int CallbackTableHost::OnCommand(uint32_t idA, uint32_t idB, const char* text) {
  return table_.onCommand ? table_.onCommand(table_.context, idA, idB, text) : 0;
}

int CallbackTableHost::OnCountsRequest(CountsSink* sink) {
  if (!table_.onCountsRequest) return 0;
  return table_.onCountsRequest(table_.context, AsList<VexilCountsList>(sink));
}

int CallbackTableHost::OnRegionRequest(RegionSink* sink) {
  if (!table_.onRegionRequest) return 0;
  return table_.onRegionRequest(table_.context, AsList<VexilRegionList>(sink));
}

int CallbackTableHost::OnStatRequest(StatSink* sink) {
  if (!table_.onStatRequest) return 0;
  return table_.onStatRequest(table_.context, AsList<VexilStatList>(sink));
}

int CallbackTableHost::OnRegionRequestExtra(RegionExtraSink* sink) {
  if (!table_.onRegionRequestExtra) return 0;
  return table_.onRegionRequestExtra(table_.context, AsList<VexilRegionExtraList>(sink));
}

int CallbackTableHost::OnStatRequestExtra(StatExtraSink* sink) {
  if (!table_.onStatRequestExtra) return 0;
  return table_.onStatRequestExtra(table_.context, AsList<VexilStatExtraList>(sink));
}

int SetCountsList(VexilCountsList* list, const int32_t* values, int32_t count) noexcept {
  try {
    std::vector<int32_t> copy;
    if (list == nullptr || !CopyValues(values, count, &copy)) return VEXIL_LIST_REFUSED;
    AsSink<CountsSink>(list)->SetCounts(&copy);
    return VEXIL_LIST_ADDED;
  } catch (...) {  // no memory for the copy: nothing reaches the host
    return VEXIL_LIST_REFUSED;
  }
}

int AddRegionList(VexilRegionList* list, uint32_t idA, uint32_t idB, const int32_t* values,
                  int32_t count) noexcept {
  return AddRegionTo<RegionSink>(list, idA, idB, values, count);
}

int AddRegionExtraList(VexilRegionExtraList* list, uint32_t idA, uint32_t idB,
                       const int32_t* values, int32_t count) noexcept {
  return AddRegionTo<RegionExtraSink>(list, idA, idB, values, count);
}

int AddStatList(VexilStatList* list, uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2,
                uint32_t value3, uint32_t value4, const char* text) noexcept {
  return AddStatTo<StatSink>(list, idA, idB, value1, value2, value3, value4, text);
}

int AddStatExtraList(VexilStatExtraList* list, uint32_t idA, uint32_t idB, uint32_t value1,
                     uint32_t value2, uint32_t value3, uint32_t value4, const char* text) noexcept {
  return AddStatTo<StatExtraSink>(list, idA, idB, value1, value2, value3, value4, text);
}

}  // namespace vexil
