#include "agent/request_handler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orvel/message_text.h"
#include "support/check_recorder.h"

namespace vexil {
namespace {

// Records every queued message as text and keeps the GSID.
class RecordingContext final : public RequestContext {
 public:
  int32_t CurrentGsid() override { return gsid; }
  void SetGsid(int32_t value) override { gsid = value; }
  void QueueMessage(const ConnectorMsg& message) override { queued.push_back(ToText(message)); }

  int32_t gsid = 7;
  std::vector<std::string> queued;
};

// A host whose answers each test sets.
class ScriptedHost final : public HostCallback {
 public:
  int OnCheckRequest(int32_t value) override {
    calls.push_back("check " + std::to_string(value));
    return answer;
  }
  int OnOrder(const char* name, const char* argument, char* result, int32_t* resultLength,
              uint32_t idA, uint32_t idB) override {
    calls.push_back(std::string("order ") + name + " " + argument + " " + std::to_string(idA) +
                    " " + std::to_string(idB) + " length " + std::to_string(*resultLength));
    std::memcpy(result, order_text.data(), order_text.size());
    *resultLength = order_length;
    return answer;
  }
  int OnCommand(uint32_t idA, uint32_t idB, const char* text) override {
    calls.push_back("command " + std::to_string(idA) + " " + std::to_string(idB) + " " + text);
    return answer;
  }
  int OnCountsRequest(CountsSink* sink) override {
    const std::vector<int32_t> counts{3, 4};
    sink->SetCounts(&counts);
    return 0;
  }
  int OnRegionRequest(RegionSink* sink) override {
    const std::vector<int32_t> values{5};
    sink->AddRegion(1, 2, &values);
    if (gsid_during_list != 0) context->SetGsid(gsid_during_list);
    return 0;
  }
  int OnStatRequest(StatSink* sink) override {
    if (add_stats) sink->AddStat(1, 2, 3, 4, 5, 6, "s");
    if (gsid_during_list != 0) context->SetGsid(gsid_during_list);
    return 1;
  }
  int OnRegionRequestExtra(RegionExtraSink* sink) override {
    const std::vector<int32_t> values{6};
    sink->AddRegion(3, 4, &values);
    // The first reply is already queued when the extra list is asked for.
    queued_before_extra = context->queued.size();
    return answer;
  }
  int OnStatRequestExtra(StatExtraSink* sink) override {
    sink->AddStat(7, 8, 0, 0, 0, 0, nullptr);
    queued_before_extra = context->queued.size();
    return answer;
  }

  RecordingContext* context = nullptr;
  int answer = 1;
  bool add_stats = true;
  // When not 0, the GSID the host switches to while it fills a list (as VexilInitConn from inside
  // the call would).
  int32_t gsid_during_list = 0;
  std::string order_text;
  int32_t order_length = 0;
  size_t queued_before_extra = 0;
  std::vector<std::string> calls;
};

class RequestHandlerTest : public ::testing::Test {
 protected:
  RequestHandlerTest() { host_.context = &context_; }

  std::vector<std::string> Handle(const AgentMsg& message, int expected_result = 1) {
    context_.queued.clear();
    EXPECT_EQ(expected_result, HandleAgentMessage(message, &host_, &context_));
    return context_.queued;
  }
  static AgentMsg MakeOrder(const std::string& name, const std::string& argument) {
    Order order;
    order.serial = 5;
    order.name = name;
    order.ids = IdTriple(11, 99, 12);
    order.option = -1;
    order.argument = argument;
    order.context = "ctx";
    return AgentMsg(AgentTag::kOrder, order);
  }

  RecordingContext context_;
  ScriptedHost host_;
};

using Frames = std::vector<std::string>;

TEST_F(RequestHandlerTest, CountsAndChecks) {
  EXPECT_EQ(Frames{"CountsReply(counts=[3, 4])"}, Handle(AgentMsg(AgentTag::kCountsRequest)));

  CheckRequest check;
  check.value = 9;
  EXPECT_EQ(Frames{"CheckReply(value=9, gsid=7)"},
            Handle(AgentMsg(AgentTag::kCheckRequest, check)));
  host_.answer = 0;
  EXPECT_EQ(Frames{}, Handle(AgentMsg(AgentTag::kCheckRequest, check)));
  EXPECT_EQ((std::vector<std::string>{"check 9", "check 9"}), host_.calls);
}

TEST_F(RequestHandlerTest, ListRepliesThenExtrasOnlyWhenTheHostAgrees) {
  EXPECT_EQ((Frames{"RegionListReply(regions=[RegionInfo(ids=IdTriple(idA=1, gsid=7, idB=2), "
                    "values=[5])])",
                    "RegionListExtra(regions=[RegionInfo(ids=IdTriple(idA=3, gsid=7, idB=4), "
                    "values=[6])])"}),
            Handle(AgentMsg(AgentTag::kRegionRequest)));
  EXPECT_EQ(1u, host_.queued_before_extra);
  host_.queued_before_extra = 0;
  EXPECT_EQ((Frames{"StatListReply(stats=[StatInfo(ids=IdTriple(idA=1, gsid=7, idB=2), value1=3, "
                    "value2=4, value3=5, value4=6, text=\"s\")])",
                    "StatListExtra(stats=[StatInfo(ids=IdTriple(idA=7, gsid=7, idB=8), value1=0, "
                    "value2=0, value3=0, value4=0, text=\"\")])"}),
            Handle(AgentMsg(AgentTag::kStatRequest)));
  EXPECT_EQ(1u, host_.queued_before_extra);

  host_.answer = 0;
  host_.add_stats = false;
  EXPECT_EQ(Frames{"StatListReply(stats=[])"}, Handle(AgentMsg(AgentTag::kStatRequest)));
  EXPECT_EQ(1u, Handle(AgentMsg(AgentTag::kRegionRequest)).size());
}

// Both lists carry the GSID the request arrived with, although the host changes it meanwhile.
TEST_F(RequestHandlerTest, ListsKeepTheGsidOfTheirRequest) {
  host_.gsid_during_list = 40;
  for (const AgentTag tag : {AgentTag::kRegionRequest, AgentTag::kStatRequest}) {
    context_.gsid = 7;
    const Frames frames = Handle(AgentMsg(tag));
    ASSERT_EQ(2u, frames.size());
    for (const std::string& frame : frames) {
      EXPECT_NE(std::string::npos, frame.find("gsid=7,")) << frame;
      EXPECT_EQ(std::string::npos, frame.find("gsid=40")) << frame;
    }
    EXPECT_EQ(40, context_.gsid);
  }
}

TEST_F(RequestHandlerTest, CommandResultIsInverted) {
  Command command;
  command.ids = IdTriple(1, 50, 2);
  command.text = "restart";
  EXPECT_EQ(Frames{"CommandReply(gsid=7, result=0)"},
            Handle(AgentMsg(AgentTag::kCommand, command)));
  host_.answer = 0;
  EXPECT_EQ(Frames{"CommandReply(gsid=7, result=1)"},
            Handle(AgentMsg(AgentTag::kCommand, command)));
  EXPECT_EQ("command 1 2 restart", host_.calls.back());
}

TEST_F(RequestHandlerTest, OrderResultTextFollowsTheHostsLength) {
  host_.answer = 0;
  host_.order_text = "done!";
  host_.order_length = 3;
  EXPECT_EQ(Frames{"OrderReply(name=\"drain\", ids=IdTriple(idA=11, gsid=99, idB=12), serial=5, "
                   "option=-1, resultText=\"don\", context=\"ctx\", argument=\"a b\")"},
            Handle(MakeOrder("drain", "a b")));
  EXPECT_EQ("order drain a b 11 12 length 1024", host_.calls.back());

  // The whole buffer when the host leaves the length (or more); nothing for a negative one.
  host_.order_length = 1024;
  const std::string whole = Handle(MakeOrder("drain", ""))[0];
  EXPECT_NE(std::string::npos, whole.find("resultText=\"done!\\x00\\x00")) << whole;
  host_.order_length = 5000;
  EXPECT_EQ(whole, Handle(MakeOrder("drain", ""))[0]);
  for (const int32_t length : {-1, 0}) {
    host_.order_length = length;
    EXPECT_NE(std::string::npos, Handle(MakeOrder("drain", ""))[0].find("resultText=\"\","));
  }
  // A refusal sends an empty text whatever was written.
  host_.answer = 1;
  host_.order_length = 3;
  EXPECT_NE(std::string::npos, Handle(MakeOrder("drain", ""))[0].find("resultText=\"\","));
}

TEST_F(RequestHandlerTest, IsolateSetsTheGsidWithoutTheHost) {
  EXPECT_EQ(Frames{"OrderReply(name=\"__ISOLATE__\", ids=IdTriple(idA=11, gsid=99, idB=12), "
                   "serial=5, option=-1, resultText=\"\", context=\"ctx\", argument=\"31|drain\")"},
            Handle(MakeOrder("__ISOLATE__", "31|drain")));
  EXPECT_EQ(31, context_.gsid);
  EXPECT_TRUE(host_.calls.empty());
  EXPECT_EQ(Frames{"CommandReply(gsid=31, result=0)"},
            Handle(AgentMsg(AgentTag::kCommand, Command())));

  const struct {
    const char* argument;
    int32_t gsid;
  } cases[] = {{"abc", 0}, {" -4x|9", -4}, {"12", 12}, {"|5", 0}, {"99999999999", 2147483647}};
  for (const auto& c : cases) {
    Handle(MakeOrder("__ISOLATE__", c.argument));
    EXPECT_EQ(c.gsid, context_.gsid) << c.argument;
  }
  Handle(MakeOrder("__isolate__", "3"));
  EXPECT_EQ(2147483647, context_.gsid) << "the name is case-sensitive";
  EXPECT_EQ("order __isolate__ 3 11 12 length 1024", host_.calls.back());
}

TEST_F(RequestHandlerTest, TagZeroAndANullHostAreRefused) {
  EXPECT_EQ(Frames{}, Handle(AgentMsg(), 0));
  testing::CheckRecorder checks;
  EXPECT_EQ(0, HandleAgentMessage(AgentMsg(AgentTag::kCountsRequest), nullptr, &context_));
  EXPECT_EQ(1, checks.count());
}

}  // namespace
}  // namespace vexil
