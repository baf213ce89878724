// The C interface's side of the host callbacks: a HostCallback that calls the functions of a
// host's VexilHostCallbacks table, and the list functions that fill a reply through the sink the
// connector handed to a table entry. Platform-free.
#ifndef VEXIL_AGENT_CALLBACK_TABLE_H_
#define VEXIL_AGENT_CALLBACK_TABLE_H_

#include <cstddef>
#include <cstdint>

#include "vexilconn/vexilconn.h"

namespace vexil {

// The size of the first version of the table. Hosts compiled against it pass this size for ever,
// so it must not grow when entries are added to VexilHostCallbacks.
constexpr size_t kHostCallbacksFirstSize = 2 * sizeof(void*) + 8 * sizeof(void (*)());
static_assert(sizeof(VexilHostCallbacks) == kHostCallbacksFirstSize,
              "the first version of VexilHostCallbacks has eight entries");

// Called by the worker like any HostCallback. A null entry, or one beyond the host's size, gives
// the answer the header documents for it.
class CallbackTableHost final : public HostCallback {
 public:
  // Copies the first table.size bytes of table (at most the entries known here); the entries
  // beyond them are null. The export refuses a size below kHostCallbacksFirstSize before this
  // runs. The context is borrowed.
  explicit CallbackTableHost(const VexilHostCallbacks& table);
  ~CallbackTableHost() = default;

  int OnCheckRequest(int32_t value) override;
  int OnOrder(const char* name, const char* argument, char* result, int32_t* resultLength,
              uint32_t idA, uint32_t idB) override;
  int OnCommand(uint32_t idA, uint32_t idB, const char* text) override;
  int OnCountsRequest(CountsSink* sink) override;
  int OnRegionRequest(RegionSink* sink) override;
  int OnStatRequest(StatSink* sink) override;
  int OnRegionRequestExtra(RegionExtraSink* sink) override;
  int OnStatRequestExtra(StatExtraSink* sink) override;

 private:
  VexilHostCallbacks table_;
};

// The work of the exported list functions. Each returns VEXIL_LIST_ADDED, or VEXIL_LIST_REFUSED
// for a null list, null values with a non-zero count, a negative count or a failed allocation;
// none lets an exception out. list must be the one the connector passed to the running entry.
int SetCountsList(VexilCountsList* list, const int32_t* values, int32_t count) noexcept;
int AddRegionList(VexilRegionList* list, uint32_t idA, uint32_t idB, const int32_t* values,
                  int32_t count) noexcept;
int AddRegionExtraList(VexilRegionExtraList* list, uint32_t idA, uint32_t idB,
                       const int32_t* values, int32_t count) noexcept;
int AddStatList(VexilStatList* list, uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2,
                uint32_t value3, uint32_t value4, const char* text) noexcept;
int AddStatExtraList(VexilStatExtraList* list, uint32_t idA, uint32_t idB, uint32_t value1,
                     uint32_t value2, uint32_t value3, uint32_t value4, const char* text) noexcept;

}  // namespace vexil

#endif  // VEXIL_AGENT_CALLBACK_TABLE_H_
