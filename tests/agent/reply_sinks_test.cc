#include "agent/reply_sinks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "support/check_recorder.h"
#include "support/slot_of.h"
#include "vexilconn/vexilconn.h"

namespace vexil {
namespace {

constexpr uint32_t kGsid = 77;

// A host that fills every sink through the public interface only, in each of its forms.
class FakeHost final : public HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 0; }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 1; }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 0; }
  int OnCountsRequest(CountsSink* sink) override {
    int32_t fixed[10];
    std::iota(fixed, fixed + 10, 1);
    sink->SetCounts(&fixed);
    const std::vector<int32_t> last{-5, 6};
    sink->SetCounts(&last);
    return 0;
  }
  int OnRegionRequest(RegionSink* sink) override {
    std::vector<int32_t> list{1, -2, 3};
    sink->AddRegion(1, 2, &list);
    list.clear();  // the sink copied the entry already
    int32_t signed_238[238];
    std::iota(signed_238, signed_238 + 238, -100);
    sink->AddRegion(3, 4, &signed_238);
    uint32_t unsigned_238[238];
    std::iota(unsigned_238, unsigned_238 + 238, 0xFFFFFF00u);
    sink->AddRegion(5, 6, &unsigned_238);
    int32_t values_272[272];
    std::iota(values_272, values_272 + 272, 1000);
    sink->AddRegion(7, 8, &values_272);
    return 0;
  }
  int OnStatRequest(StatSink* sink) override {
    sink->AddStat(1, 2, 10, 20, 30, 40, "first");
    sink->AddStat(3, 4, 0xFFFFFFFFu, 0, 0, 1, nullptr);
    return 0;
  }
  int OnRegionRequestExtra(RegionExtraSink* sink) override {
    const std::vector<int32_t> list{9};
    sink->AddRegion(11, 12, &list);
    int32_t values_238[238] = {};
    values_238[237] = 238;
    sink->AddRegion(13, 14, &values_238);
    int32_t values_272[272] = {};
    values_272[271] = 272;
    sink->AddRegion(15, 16, &values_272);
    return 1;
  }
  int OnStatRequestExtra(StatExtraSink* sink) override {
    sink->AddStat(21, 22, 1, 2, 3, 4, "extra");
    return 1;
  }
};

void ExpectIds(const IdTriple& ids, uint32_t idA, uint32_t idB) {
  EXPECT_EQ(idA, ids.idA);
  EXPECT_EQ(kGsid, ids.gsid);
  EXPECT_EQ(idB, ids.idB);
}

TEST(ReplySinks, LastSetCountsIsTheList) {
  FakeHost host;
  HostCallback* callback = &host;
  std::vector<int32_t> counts{99};
  CountsReplySink sink(&counts);
  callback->OnCountsRequest(&sink);
  EXPECT_EQ((std::vector<int32_t>{-5, 6}), counts);

  int32_t fixed[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, -9};
  sink.SetCounts(&fixed);
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, -9}), counts);
}

TEST(ReplySinks, RegionFormsCopyEveryValueAndStampTheGsid) {
  FakeHost host;
  HostCallback* callback = &host;
  std::vector<RegionInfo> regions;
  RegionReplySink sink(&regions, kGsid);
  callback->OnRegionRequest(&sink);
  ASSERT_EQ(4u, regions.size());
  ExpectIds(regions[0].ids, 1, 2);
  EXPECT_EQ((std::vector<int32_t>{1, -2, 3}), regions[0].values);
  ExpectIds(regions[1].ids, 3, 4);
  ASSERT_EQ(238u, regions[1].values.size());
  EXPECT_EQ(-100, regions[1].values.front());
  EXPECT_EQ(137, regions[1].values.back());
  ExpectIds(regions[2].ids, 5, 6);
  ASSERT_EQ(238u, regions[2].values.size());
  EXPECT_EQ(-256, regions[2].values.front()) << "unsigned words keep their bits";
  EXPECT_EQ(-19, regions[2].values.back());
  ExpectIds(regions[3].ids, 7, 8);
  ASSERT_EQ(272u, regions[3].values.size());
  EXPECT_EQ(1000, regions[3].values.front());
  EXPECT_EQ(1271, regions[3].values.back());

  std::vector<RegionInfo> extra;
  RegionExtraReplySink extra_sink(&extra, kGsid);
  EXPECT_EQ(1, callback->OnRegionRequestExtra(&extra_sink));
  ASSERT_EQ(3u, extra.size());
  ExpectIds(extra[0].ids, 11, 12);
  EXPECT_EQ((std::vector<int32_t>{9}), extra[0].values);
  ExpectIds(extra[1].ids, 13, 14);
  ASSERT_EQ(238u, extra[1].values.size());
  EXPECT_EQ(238, extra[1].values.back());
  ExpectIds(extra[2].ids, 15, 16);
  ASSERT_EQ(272u, extra[2].values.size());
  EXPECT_EQ(272, extra[2].values.back());
}

TEST(ReplySinks, StatsKeepValueOrderAndANullTextIsEmpty) {
  FakeHost host;
  HostCallback* callback = &host;
  std::vector<StatInfo> stats;
  StatReplySink sink(&stats, kGsid);
  callback->OnStatRequest(&sink);
  ASSERT_EQ(2u, stats.size());
  ExpectIds(stats[0].ids, 1, 2);
  EXPECT_EQ(10u, stats[0].value1);
  EXPECT_EQ(20u, stats[0].value2);
  EXPECT_EQ(30u, stats[0].value3);
  EXPECT_EQ(40u, stats[0].value4);
  EXPECT_EQ("first", stats[0].text);
  ExpectIds(stats[1].ids, 3, 4);
  EXPECT_EQ(0xFFFFFFFFu, stats[1].value1);
  EXPECT_EQ(1u, stats[1].value4);
  EXPECT_EQ("", stats[1].text);

  std::vector<StatInfo> extra;
  StatExtraReplySink extra_sink(&extra, kGsid);
  EXPECT_EQ(1, callback->OnStatRequestExtra(&extra_sink));
  ASSERT_EQ(1u, extra.size());
  ExpectIds(extra[0].ids, 21, 22);
  EXPECT_EQ(4u, extra[0].value4);
  EXPECT_EQ("extra", extra[0].text);
}

TEST(ReplySinks, NullAddressesRaiseTheCheckAndAddNothing) {
  testing::CheckRecorder checks;
  std::vector<int32_t> counts{1};
  CountsReplySink counts_sink(&counts);
  counts_sink.SetCounts(static_cast<const std::vector<int32_t>*>(nullptr));
  counts_sink.SetCounts(static_cast<const int32_t(*)[10]>(nullptr));
  EXPECT_EQ((std::vector<int32_t>{1}), counts);

  std::vector<RegionInfo> regions;
  RegionReplySink region_sink(&regions, kGsid);
  RegionSink* region = &region_sink;
  region->AddRegion(1, 2, static_cast<const std::vector<int32_t>*>(nullptr));
  region->AddRegion(1, 2, static_cast<const int32_t(*)[238]>(nullptr));
  region->AddRegion(1, 2, static_cast<const uint32_t(*)[238]>(nullptr));
  region->AddRegion(1, 2, static_cast<const int32_t(*)[272]>(nullptr));
  RegionExtraReplySink extra_sink(&regions, kGsid);
  RegionExtraSink* extra = &extra_sink;
  extra->AddRegion(1, 2, static_cast<const std::vector<int32_t>*>(nullptr));
  extra->AddRegion(1, 2, static_cast<const int32_t(*)[238]>(nullptr));
  extra->AddRegion(1, 2, static_cast<const int32_t(*)[272]>(nullptr));
  EXPECT_TRUE(regions.empty());
  EXPECT_EQ(9, checks.count());

  // An empty vector is an entry with no values, not a missing one.
  const std::vector<int32_t> none;
  region->AddRegion(1, 2, &none);
  ASSERT_EQ(1u, regions.size());
  EXPECT_TRUE(regions[0].values.empty());
  EXPECT_EQ(9, checks.count());
}

using testing::SlotOf;

using Vector = std::vector<int32_t>;

// Hosts are compiled separately against the public header: a reordered declaration there would
// pass every other test and break every host.
TEST(HostInterface, SlotOrderIsTheBinaryInterface) {
  EXPECT_EQ(0u, SlotOf(&HostCallback::OnCheckRequest));
  EXPECT_EQ(1u, SlotOf(&HostCallback::OnOrder));
  EXPECT_EQ(2u, SlotOf(&HostCallback::OnCommand));
  EXPECT_EQ(3u, SlotOf(&HostCallback::OnCountsRequest));
  EXPECT_EQ(4u, SlotOf(&HostCallback::OnRegionRequest));
  EXPECT_EQ(5u, SlotOf(&HostCallback::OnStatRequest));
  EXPECT_EQ(6u, SlotOf(&HostCallback::OnRegionRequestExtra));
  EXPECT_EQ(7u, SlotOf(&HostCallback::OnStatRequestExtra));

  EXPECT_EQ(0u, SlotOf(static_cast<void (CountsSink::*)(const Vector*)>(&CountsSink::SetCounts)));
  EXPECT_EQ(
      1u, SlotOf(static_cast<void (CountsSink::*)(const int32_t(*)[10])>(&CountsSink::SetCounts)));

  using RegionVector = void (RegionSink::*)(uint32_t, uint32_t, const Vector*);
  using Region238 = void (RegionSink::*)(uint32_t, uint32_t, const int32_t(*)[238]);
  using RegionU238 = void (RegionSink::*)(uint32_t, uint32_t, const uint32_t(*)[238]);
  using Region272 = void (RegionSink::*)(uint32_t, uint32_t, const int32_t(*)[272]);
  EXPECT_EQ(0u, SlotOf(static_cast<RegionVector>(&RegionSink::AddRegion)));
  EXPECT_EQ(1u, SlotOf(static_cast<Region238>(&RegionSink::AddRegion)));
  EXPECT_EQ(2u, SlotOf(static_cast<RegionU238>(&RegionSink::AddRegion)));
  EXPECT_EQ(3u, SlotOf(static_cast<Region272>(&RegionSink::AddRegion)));

  using ExtraVector = void (RegionExtraSink::*)(uint32_t, uint32_t, const Vector*);
  using Extra238 = void (RegionExtraSink::*)(uint32_t, uint32_t, const int32_t(*)[238]);
  using Extra272 = void (RegionExtraSink::*)(uint32_t, uint32_t, const int32_t(*)[272]);
  EXPECT_EQ(0u, SlotOf(static_cast<ExtraVector>(&RegionExtraSink::AddRegion)));
  EXPECT_EQ(1u, SlotOf(static_cast<Extra238>(&RegionExtraSink::AddRegion)));
  EXPECT_EQ(2u, SlotOf(static_cast<Extra272>(&RegionExtraSink::AddRegion)));

  EXPECT_EQ(0u, SlotOf(&StatSink::AddStat));
  EXPECT_EQ(0u, SlotOf(&StatExtraSink::AddStat));
}

}  // namespace
}  // namespace vexil
