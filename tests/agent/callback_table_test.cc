#include "agent/callback_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "agent/request_handler.h"
#include "orvel/message_text.h"

namespace vexil {
namespace {

class RecordingContext final : public RequestContext {
 public:
  int32_t CurrentGsid() override { return 7; }
  void SetGsid(int32_t) override {}
  void QueueMessage(const ConnectorMsg& message) override { queued.push_back(ToText(message)); }
  std::vector<std::string> queued;
};

// A C host's state, reached only through the context pointer.
struct CHost {
  int answer = 1;
  std::vector<std::string> calls;
};

CHost* Host(void* context) { return static_cast<CHost*>(context); }

int VEXILCONN_CALLBACK HostCheck(void* context, int32_t value) {
  Host(context)->calls.push_back("check " + std::to_string(value));
  return Host(context)->answer;
}
int VEXILCONN_CALLBACK HostOrder(void* context, const char* name, const char* argument,
                                 char* result, int32_t* resultLength, uint32_t idA, uint32_t idB) {
  Host(context)->calls.push_back(std::string("order ") + name + " " + argument + " " +
                                 std::to_string(idA) + "/" + std::to_string(idB) + " length " +
                                 std::to_string(*resultLength));
  std::memcpy(result, "done", 4);
  *resultLength = 4;
  return 0;
}
int VEXILCONN_CALLBACK HostCommand(void* context, uint32_t, uint32_t, const char* text) {
  Host(context)->calls.push_back(std::string("command ") + text);
  return Host(context)->answer;
}
int VEXILCONN_CALLBACK HostCounts(void*, VexilCountsList* list) {
  const int32_t first[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  SetCountsList(list, first, 10);
  const int32_t counts[3] = {3, 4, 5};
  return SetCountsList(list, counts, 3);
}
int VEXILCONN_CALLBACK HostRegions(void*, VexilRegionList* list) {
  const int32_t values[2] = {5, -6};
  AddRegionList(list, 1, 2, values, 2);
  return AddRegionList(list, 3, 4, nullptr, 0);
}
int VEXILCONN_CALLBACK HostStats(void*, VexilStatList* list) {
  return AddStatList(list, 1, 2, 3, 4, 5, 6, "s");
}
int VEXILCONN_CALLBACK HostRegionsExtra(void* context, VexilRegionExtraList* list) {
  const int32_t values[1] = {8};
  AddRegionExtraList(list, 5, 6, values, 1);
  return Host(context)->answer;
}
int VEXILCONN_CALLBACK HostStatsExtra(void* context, VexilStatExtraList* list) {
  AddStatExtraList(list, 7, 8, 0, 0, 0, 0, nullptr);
  return Host(context)->answer;
}

VexilHostCallbacks FullTable(CHost* host) {
  VexilHostCallbacks table = {sizeof(VexilHostCallbacks),
                              host,
                              HostCheck,
                              HostOrder,
                              HostCommand,
                              HostCounts,
                              HostRegions,
                              HostStats,
                              HostRegionsExtra,
                              HostStatsExtra};
  return table;
}

using Frames = std::vector<std::string>;

Frames Handle(HostCallback* host, const AgentMsg& message) {
  RecordingContext context;
  EXPECT_EQ(1, HandleAgentMessage(message, host, &context));
  return context.queued;
}

AgentMsg MakeOrder() {
  Order order;
  order.serial = 5;
  order.name = "save";
  order.ids = IdTriple(11, 7, 12);
  order.argument = "now";
  return AgentMsg(AgentTag::kOrder, order);
}

TEST(CallbackTable, EveryRequestReachesTheTableAndItsListsFillTheReplies) {
  CHost c_host;
  CallbackTableHost host(FullTable(&c_host));
  CheckRequest check;
  check.value = 9;
  EXPECT_EQ(Frames{"CheckReply(value=9, gsid=7)"},
            Handle(&host, AgentMsg(AgentTag::kCheckRequest, check)));
  EXPECT_EQ(Frames{"CountsReply(counts=[3, 4, 5])"},
            Handle(&host, AgentMsg(AgentTag::kCountsRequest)));
  EXPECT_EQ((Frames{"RegionListReply(regions=[RegionInfo(ids=IdTriple(idA=1, gsid=7, idB=2), "
                    "values=[5, -6]), RegionInfo(ids=IdTriple(idA=3, gsid=7, idB=4), values=[])])",
                    "RegionListExtra(regions=[RegionInfo(ids=IdTriple(idA=5, gsid=7, idB=6), "
                    "values=[8])])"}),
            Handle(&host, AgentMsg(AgentTag::kRegionRequest)));
  EXPECT_EQ((Frames{"StatListReply(stats=[StatInfo(ids=IdTriple(idA=1, gsid=7, idB=2), value1=3, "
                    "value2=4, value3=5, value4=6, text=\"s\")])",
                    "StatListExtra(stats=[StatInfo(ids=IdTriple(idA=7, gsid=7, idB=8), value1=0, "
                    "value2=0, value3=0, value4=0, text=\"\")])"}),
            Handle(&host, AgentMsg(AgentTag::kStatRequest)));
  const Frames order = Handle(&host, MakeOrder());
  ASSERT_EQ(1u, order.size());
  EXPECT_NE(std::string::npos, order[0].find("resultText=\"done\"")) << order[0];

  c_host.answer = 0;
  EXPECT_EQ(Frames{}, Handle(&host, AgentMsg(AgentTag::kCheckRequest, check)));
  EXPECT_EQ(1u, Handle(&host, AgentMsg(AgentTag::kRegionRequest)).size()) << "no extra list";
  Command command;
  command.text = "kick 3";
  EXPECT_EQ(Frames{"CommandReply(gsid=7, result=1)"},
            Handle(&host, AgentMsg(AgentTag::kCommand, command)));
  EXPECT_EQ((std::vector<std::string>{"check 9", "order save now 11/12 length 1024", "check 9",
                                      "command kick 3"}),
            c_host.calls);
}

TEST(CallbackTable, NullEntriesAndEntriesBeyondTheSizeGiveTheDefaultAnswers) {
  CHost c_host;
  VexilHostCallbacks table = FullTable(&c_host);
  // A host that knows only the first two entries; whatever lies behind them is not read.
  table.size = static_cast<uint32_t>(offsetof(VexilHostCallbacks, onCommand));
  table.onOrder = nullptr;
  CallbackTableHost host(table);
  CheckRequest check;
  check.value = 2;
  EXPECT_EQ(Frames{"CheckReply(value=2, gsid=7)"},
            Handle(&host, AgentMsg(AgentTag::kCheckRequest, check)));
  const Frames order = Handle(&host, MakeOrder());
  ASSERT_EQ(1u, order.size());
  EXPECT_NE(std::string::npos, order[0].find("resultText=\"\"")) << order[0];
  EXPECT_EQ(Frames{"CommandReply(gsid=7, result=1)"},
            Handle(&host, AgentMsg(AgentTag::kCommand, Command())));
  EXPECT_EQ(Frames{"CountsReply(counts=[])"}, Handle(&host, AgentMsg(AgentTag::kCountsRequest)));
  EXPECT_EQ(Frames{"RegionListReply(regions=[])"},
            Handle(&host, AgentMsg(AgentTag::kRegionRequest)));
  EXPECT_EQ(Frames{"StatListReply(stats=[])"}, Handle(&host, AgentMsg(AgentTag::kStatRequest)));
  EXPECT_EQ(std::vector<std::string>{"check 2"}, c_host.calls);
}

int VEXILCONN_CALLBACK BadLists(void*, VexilRegionList* list) {
  const int32_t values[1] = {1};
  const bool refused = AddRegionList(nullptr, 1, 1, values, 1) == VEXIL_LIST_REFUSED &&
                       AddRegionList(list, 1, 1, values, -1) == VEXIL_LIST_REFUSED &&
                       AddRegionList(list, 1, 1, nullptr, 1) == VEXIL_LIST_REFUSED &&
                       SetCountsList(nullptr, values, 1) == VEXIL_LIST_REFUSED &&
                       AddRegionExtraList(nullptr, 1, 1, values, 1) == VEXIL_LIST_REFUSED &&
                       AddStatList(nullptr, 1, 1, 1, 1, 1, 1, "x") == VEXIL_LIST_REFUSED &&
                       AddStatExtraList(nullptr, 1, 1, 1, 1, 1, 1, "x") == VEXIL_LIST_REFUSED;
  // What was refused left nothing behind; the one good call shows that.
  return refused ? AddRegionList(list, 2, 2, values, 1) : 0;
}

TEST(CallbackTable, ListFunctionsRefuseWhatCannotBeAnArray) {
  VexilHostCallbacks table = {};
  table.size = sizeof table;
  table.onRegionRequest = BadLists;
  CallbackTableHost host(table);
  EXPECT_EQ(Frames{"RegionListReply(regions=[RegionInfo(ids=IdTriple(idA=2, gsid=7, idB=2), "
                   "values=[1])])"},
            Handle(&host, AgentMsg(AgentTag::kRegionRequest)));
}

}  // namespace
}  // namespace vexil
