// What a host compiled against include/vexilconn/vexilconn.h relies on, read out of this file's
// object code by header_layout.py without running it (the same way for every compiler, the
// Windows ones included): the structs' sizes and field offsets as numbers in a section of their
// own, and each C++ interface's slot order as the virtual table of a class that implements it,
// whose relocations name the functions slot by slot.
#include <cstddef>
#include <cstdint>

#include <vexilconn/vexilconn.h>

// NAME, NUMBER for everything the numbers section holds, in this order.
#define VEXIL_LAYOUT(X)                                                                            \
  X("pointer size", sizeof(void*))                                                                 \
  X("VexilHostCallbacks size", sizeof(VexilHostCallbacks))                                         \
  X("VexilHostCallbacks align", alignof(VexilHostCallbacks))                                       \
  X("VexilHostCallbacks.size", offsetof(VexilHostCallbacks, size))                                 \
  X("VexilHostCallbacks.context", offsetof(VexilHostCallbacks, context))                           \
  X("VexilHostCallbacks.onCheckRequest", offsetof(VexilHostCallbacks, onCheckRequest))             \
  X("VexilHostCallbacks.onOrder", offsetof(VexilHostCallbacks, onOrder))                           \
  X("VexilHostCallbacks.onCommand", offsetof(VexilHostCallbacks, onCommand))                       \
  X("VexilHostCallbacks.onCountsRequest", offsetof(VexilHostCallbacks, onCountsRequest))           \
  X("VexilHostCallbacks.onRegionRequest", offsetof(VexilHostCallbacks, onRegionRequest))           \
  X("VexilHostCallbacks.onStatRequest", offsetof(VexilHostCallbacks, onStatRequest))               \
  X("VexilHostCallbacks.onRegionRequestExtra", offsetof(VexilHostCallbacks, onRegionRequestExtra)) \
  X("VexilHostCallbacks.onStatRequestExtra", offsetof(VexilHostCallbacks, onStatRequestExtra))     \
  X("VexilConnCounters size", sizeof(VexilConnCounters))                                           \
  X("VexilConnCounters align", alignof(VexilConnCounters))                                         \
  X("VexilConnCounters.size", offsetof(VexilConnCounters, size))                                   \
  X("VexilConnCounters.reserved", offsetof(VexilConnCounters, reserved))                           \
  X("VexilConnCounters.connectAttempts", offsetof(VexilConnCounters, connectAttempts))             \
  X("VexilConnCounters.connections", offsetof(VexilConnCounters, connections))                     \
  X("VexilConnCounters.registrations", offsetof(VexilConnCounters, registrations))                 \
  X("VexilConnCounters.closedByAgent", offsetof(VexilConnCounters, closedByAgent))                 \
  X("VexilConnCounters.closedByError", offsetof(VexilConnCounters, closedByError))                 \
  X("VexilConnCounters.closedAtOutgoingLimit", offsetof(VexilConnCounters, closedAtOutgoingLimit)) \
  X("VexilConnCounters.closedByStop", offsetof(VexilConnCounters, closedByStop))                   \
  X("VexilConnCounters.warningsQueued", offsetof(VexilConnCounters, warningsQueued))               \
  X("VexilConnCounters.warningsRefused", offsetof(VexilConnCounters, warningsRefused))             \
  X("VexilConnCounters.warningsDropped", offsetof(VexilConnCounters, warningsDropped))             \
  X("VexilConnCounters.framesSent", offsetof(VexilConnCounters, framesSent))                       \
  X("VexilConnCounters.framesReceived", offsetof(VexilConnCounters, framesReceived))               \
  X("VexilConnCounters.bytesSent", offsetof(VexilConnCounters, bytesSent))                         \
  X("VexilConnCounters.bytesReceived", offsetof(VexilConnCounters, bytesReceived))                 \
  X("VexilConnCounters.bytesQueued", offsetof(VexilConnCounters, bytesQueued))                     \
  X("VexilConnCounters.lastSystemError", offsetof(VexilConnCounters, lastSystemError))             \
  X("VexilConnCounters.reserved2", offsetof(VexilConnCounters, reserved2))

#define VEXIL_LAYOUT_NUMBER(name, number) static_cast<uint32_t>(number),
#define VEXIL_LAYOUT_NAME(name, number) name "\0"

// The numbers, little-endian 32-bit each, and their names, each ended by a zero byte: each in a
// section of its own, which header_layout.py copies out of the object file.
extern const uint32_t vexil_layout_numbers[];
__attribute__((section(".vxlay"), used))
const uint32_t vexil_layout_numbers[] = {VEXIL_LAYOUT(VEXIL_LAYOUT_NUMBER)};
extern const char vexil_layout_names[];
__attribute__((section(".vxname"), used)) const char vexil_layout_names[] =
    VEXIL_LAYOUT(VEXIL_LAYOUT_NAME);

// One implementation of each interface, named after it with "Slots"; header_layout.py reads
// their virtual tables. A function added to an interface fails to compile here until it is
// added below, which is the point: the baseline then shows where it went.
namespace vexil {

class CountsSinkSlots final : public CountsSink {
 public:
  void SetCounts(const std::vector<int32_t>*) override {}
  void SetCounts(const int32_t (*)[10]) override {}
};

class RegionSinkSlots final : public RegionSink {
 public:
  void AddRegion(uint32_t, uint32_t, const std::vector<int32_t>*) override {}
  void AddRegion(uint32_t, uint32_t, const int32_t (*)[238]) override {}
  void AddRegion(uint32_t, uint32_t, const uint32_t (*)[238]) override {}
  void AddRegion(uint32_t, uint32_t, const int32_t (*)[272]) override {}
};

class RegionExtraSinkSlots final : public RegionExtraSink {
 public:
  void AddRegion(uint32_t, uint32_t, const std::vector<int32_t>*) override {}
  void AddRegion(uint32_t, uint32_t, const int32_t (*)[238]) override {}
  void AddRegion(uint32_t, uint32_t, const int32_t (*)[272]) override {}
};

class StatSinkSlots final : public StatSink {
 public:
  void AddStat(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char*) override {}
};

class StatExtraSinkSlots final : public StatExtraSink {
 public:
  void AddStat(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char*) override {}
};

class HostCallbackSlots final : public HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 0; }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 0; }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 0; }
  int OnCountsRequest(CountsSink*) override { return 0; }
  int OnRegionRequest(RegionSink*) override { return 0; }
  int OnStatRequest(StatSink*) override { return 0; }
  int OnRegionRequestExtra(RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(StatExtraSink*) override { return 0; }
};

// Each object makes its class's virtual table part of this file.
CountsSinkSlots counts_sink_slots;
RegionSinkSlots region_sink_slots;
RegionExtraSinkSlots region_extra_sink_slots;
StatSinkSlots stat_sink_slots;
StatExtraSinkSlots stat_extra_sink_slots;
HostCallbackSlots host_callback_slots;

}  // namespace vexil
