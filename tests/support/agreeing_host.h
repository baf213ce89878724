// A host that agrees to every check and adds nothing to any list: for tests where the host's
// answers do not matter.
#ifndef VEXIL_TESTS_SUPPORT_AGREEING_HOST_H_
#define VEXIL_TESTS_SUPPORT_AGREEING_HOST_H_

#include <cstdint>

#include "vexilconn/vexilconn.h"

namespace vexil::testing {

class AgreeingHost : public vexil::HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 1; }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 1; }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 1; }
  int OnCountsRequest(vexil::CountsSink*) override { return 0; }
  int OnRegionRequest(vexil::RegionSink*) override { return 0; }
  int OnStatRequest(vexil::StatSink*) override { return 0; }
  int OnRegionRequestExtra(vexil::RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(vexil::StatExtraSink*) override { return 0; }
};

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_AGREEING_HOST_H_
