// The connector's side of the sinks handed to the host: each copies what the host adds at once
// into the reply being built. Platform-free.
#ifndef VEXIL_AGENT_REPLY_SINKS_H_
#define VEXIL_AGENT_REPLY_SINKS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "orvel/messages.h"
#include "vexilconn/vexilconn.h"

namespace vexil {

// Each sink borrows the list it fills; the list must outlive the sink. gsid is the connector's
// GSID when the request arrived, stamped between the host's idA and idB of every entry. A null
// vector or array address raises the internal check and, if resumed, changes nothing.

class CountsReplySink final : public CountsSink {
 public:
  explicit CountsReplySink(std::vector<int32_t>* counts) : counts_(counts) {}
  void SetCounts(const std::vector<int32_t>* counts) override;
  void SetCounts(const int32_t (*counts)[10]) override;

 private:
  std::vector<int32_t>* counts_;
};

// The region forms that RegionSink and RegionExtraSink share.
template <typename Interface>
class RegionListSink : public Interface {
 public:
  RegionListSink(std::vector<RegionInfo>* regions, uint32_t gsid)
      : regions_(regions), gsid_(gsid) {}
  void AddRegion(uint32_t idA, uint32_t idB, const std::vector<int32_t>* values) override;
  void AddRegion(uint32_t idA, uint32_t idB, const int32_t (*values)[238]) override;
  void AddRegion(uint32_t idA, uint32_t idB, const int32_t (*values)[272]) override;

 protected:
  // Appends one entry of count values; unsigned words keep their 32 bits.
  template <typename Value>
  void Append(uint32_t idA, uint32_t idB, const Value* values, size_t count);

 private:
  std::vector<RegionInfo>* regions_;
  uint32_t gsid_;
};

class RegionReplySink final : public RegionListSink<RegionSink> {
 public:
  using RegionListSink::AddRegion;
  using RegionListSink::RegionListSink;
  void AddRegion(uint32_t idA, uint32_t idB, const uint32_t (*values)[238]) override;
};

using RegionExtraReplySink = RegionListSink<RegionExtraSink>;

// StatSink and StatExtraSink: one entry per AddStat; a null text is empty.
template <typename Interface>
class StatListSink final : public Interface {
 public:
  StatListSink(std::vector<StatInfo>* stats, uint32_t gsid) : stats_(stats), gsid_(gsid) {}
  void AddStat(uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2, uint32_t value3,
               uint32_t value4, const char* text) override;

 private:
  std::vector<StatInfo>* stats_;
  uint32_t gsid_;
};

using StatReplySink = StatListSink<StatSink>;
using StatExtraReplySink = StatListSink<StatExtraSink>;

extern template class RegionListSink<RegionSink>;
extern template class RegionListSink<RegionExtraSink>;
extern template class StatListSink<StatSink>;
extern template class StatListSink<StatExtraSink>;

}  // namespace vexil

#endif  // VEXIL_AGENT_REPLY_SINKS_H_
