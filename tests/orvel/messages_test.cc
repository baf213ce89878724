#include "orvel/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvel/frame.h"
#include "orvel/message_text.h"
#include "support/check_recorder.h"
#include "sync/last_error.h"

namespace vexil {
namespace {

IdTriple Ids(uint32_t seed) { return IdTriple(seed, seed + 1, seed + 2); }

std::vector<StatInfo> SomeStats() {
  std::vector<StatInfo> stats(2);
  stats[0].ids = Ids(10);
  stats[0].value1 = 1;
  stats[0].value4 = 0xFFFFFFFF;
  stats[0].text = "cpu";
  stats[1] = stats[0];  // duplicates are kept
  return stats;
}

std::vector<RegionInfo> SomeRegions() {
  std::vector<RegionInfo> regions(2);
  regions[0].ids = Ids(20);
  regions[0].values.assign(272, -3);
  regions[1].ids = Ids(30);
  return regions;
}

// A non-default value of every connector message.
std::vector<ConnectorMsg> EveryConnectorMsg() {
  Register reg;
  reg.magic = kRegisterMagic;
  reg.gsid = 7;
  reg.processId = 4660;
  reg.nsapList = {Nsap{kConnectorNsapId, 8990}, Nsap{1, -1}};
  reg.reserved = 5;
  reg.exeName = "game";
  OrderReply order;
  order.name = "n";
  order.ids = Ids(40);
  order.serial = 9;
  order.option = -4;
  order.resultText = std::string("r\0s", 3);
  order.context = "c";
  order.argument = "a";
  Warning warning;
  warning.ids = Ids(50);
  warning.code = 3;
  warning.text = "hot";
  warning.extraText = "";
  return {
      ConnectorMsg(),
      ConnectorMsg(ConnectorTag::kRegister, reg),
      ConnectorMsg(ConnectorTag::kIdValue, IdValue{Ids(1), -9}),
      ConnectorMsg(ConnectorTag::kCountsReply, CountsReply{{0, 1, 2, 3, 4, 5, 6, 7, 8, -9}}),
      ConnectorMsg(ConnectorTag::kCheckReply, CheckReply{5, 7}),
      ConnectorMsg(ConnectorTag::kStatListReply, StatListReply{SomeStats()}),
      ConnectorMsg(ConnectorTag::kRegionListReply, RegionListReply{SomeRegions()}),
      ConnectorMsg(ConnectorTag::kCommandReply, CommandReply{7, 1}),
      ConnectorMsg(ConnectorTag::kOrderReply, order),
      ConnectorMsg(ConnectorTag::kWarning, warning),
      ConnectorMsg(ConnectorTag::kStatListExtra, StatListExtra{{}}),
      ConnectorMsg(ConnectorTag::kRegionListExtra, RegionListExtra{SomeRegions()}),
  };
}

std::vector<AgentMsg> EveryAgentMsg() {
  Order order;
  order.serial = 1;
  order.name = "__ISOLATE__";
  order.ids = Ids(60);
  order.option = 2;
  order.argument = "12|x";
  order.context = "ctx";
  return {
      AgentMsg(),
      AgentMsg(AgentTag::kCountsRequest),
      AgentMsg(AgentTag::kCheckRequest, CheckRequest{-5}),
      AgentMsg(AgentTag::kStatRequest),
      AgentMsg(AgentTag::kRegionRequest),
      AgentMsg(AgentTag::kCommand, Command{Ids(70), "restart now"}),
      AgentMsg(AgentTag::kOrder, order),
  };
}

// Writes every message into one buffer, reads them back in order, and compares renderings.
template <typename Message>
void ExpectRoundTrip(const std::vector<Message>& messages) {
  ASSERT_EQ(messages.size(), Message::kTagCount);
  BufferPtr buffer;
  for (const Message& message : messages) ASSERT_TRUE(WriteFrame(buffer, message));
  for (const Message& message : messages) {
    Message back;
    ASSERT_TRUE(ReadFrame(back, buffer)) << ToText(message) << " error " << LastErrorCode();
    EXPECT_EQ(ToText(back), ToText(message));
  }
  EXPECT_EQ(buffer.Size(), 0u);
}

TEST(Messages, EveryConnectorMsgRoundTrips) { ExpectRoundTrip(EveryConnectorMsg()); }
TEST(Messages, EveryAgentMsgRoundTrips) { ExpectRoundTrip(EveryAgentMsg()); }

TEST(Messages, TextRenderingNamesMessageAndFields) {
  EXPECT_EQ(ToText(EveryConnectorMsg()[1]),
            "Register(magic=65537, gsid=7, processId=4660, nsapList=[Nsap(nsapId=88888, "
            "port=8990), Nsap(nsapId=1, port=-1)], reserved=5, exeName=\"game\")");
  EXPECT_EQ(ToText(EveryAgentMsg()[5]),
            "Command(ids=IdTriple(idA=70, gsid=71, idB=72), text=\"restart now\")");
  EXPECT_EQ(ToText(ConnectorMsg()), "None()");
  EXPECT_NE(ToText(EveryConnectorMsg()[8]).find(", resultText=\"r\\x00s\", "), std::string::npos);
  EXPECT_EQ(TagName(ConnectorTag::kRegionListExtra), "RegionListExtra");
  EXPECT_EQ(TagName(static_cast<AgentTag>(7)), "Tag7");
}

TEST(Messages, TagConstructorGivesDefaultBody) {
  for (uint32_t tag = 1; tag < ConnectorMsg::kTagCount; ++tag) {
    const ConnectorMsg message(static_cast<ConnectorTag>(tag));
    EXPECT_EQ(static_cast<uint32_t>(message.tag()), tag);
  }
  const ConnectorMsg order(ConnectorTag::kOrderReply);
  ASSERT_NE(order.As<OrderReply>(), nullptr);
  EXPECT_EQ(order.As<Warning>(), nullptr);
  EXPECT_EQ(order.As<OrderReply>()->serial, 0u);
  EXPECT_TRUE(order.As<OrderReply>()->name.empty());
}

TEST(Messages, CopyingConstructorKeepsItsOwnBody) {
  CountsReply counts{{1, 2}};
  ConnectorMsg message(ConnectorTag::kCountsReply, counts);
  counts.counts.push_back(3);
  EXPECT_EQ(message.As<CountsReply>()->counts.size(), 2u);
  ConnectorMsg copy = message;
  copy.As<CountsReply>()->counts.clear();
  EXPECT_EQ(message.As<CountsReply>()->counts.size(), 2u);
  StatListReply stats{SomeStats()};
  const ConnectorMsg moved(ConnectorTag::kStatListReply, std::move(stats));
  EXPECT_EQ(moved.As<StatListReply>()->stats.size(), 2u);
  message.Reset();
  EXPECT_EQ(message.tag(), ConnectorTag::kNone);
  EXPECT_EQ(message.As<CountsReply>(), nullptr);
}

TEST(Messages, MismatchedOrUnknownTagIsACheckFailureLeavingTagZero) {
  testing::CheckRecorder recorder;
  const ConnectorMsg mismatched(ConnectorTag::kWarning, CheckReply{1, 2});
  EXPECT_EQ(recorder.count(), 1);
  EXPECT_EQ(mismatched.tag(), ConnectorTag::kNone);
  const AgentMsg unknown(static_cast<AgentTag>(7));
  EXPECT_EQ(recorder.count(), 2);
  EXPECT_EQ(unknown.tag(), AgentTag::kNone);
}

TEST(Messages, FailedDecodeKeepsTheAllocatedBody) {
  BufferPtr buffer;
  const uint8_t bytes[] = {6, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 'x'};  // Order, name cut short
  buffer.Append(bytes, sizeof bytes);
  AgentMsg message(AgentTag::kCommand);
  EXPECT_FALSE(message.Decode(buffer));
  EXPECT_EQ(message.tag(), AgentTag::kOrder);
  EXPECT_EQ(message.As<Order>()->serial, 1u);
  EXPECT_EQ(buffer.Size(), 1u);  // the name's count was consumed, its one byte was not
}

TEST(Messages, DecodingIntoAHeldBodyLeavesNothingOfTheEarlierMessage) {
  Order first;
  first.serial = 1;
  first.name = "a long order name that is not a small string";
  first.argument = "arg";
  first.context = "ctx";
  BufferPtr buffer;
  WriteFrame(buffer, AgentMsg(AgentTag::kOrder, first));
  Order second;
  second.name = "b";
  WriteFrame(buffer, AgentMsg(AgentTag::kOrder, second));
  // A third Order cut short after its name: the fields behind it must read as defaults.
  const uint8_t cut[] = {19, 0, 0, 0, 6, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 'c', 0, 0};
  buffer.Append(cut, sizeof cut);

  AgentMsg message;
  ASSERT_TRUE(ReadFrame(message, buffer));
  ASSERT_TRUE(ReadFrame(message, buffer));
  EXPECT_EQ(ToText(message), ToText(AgentMsg(AgentTag::kOrder, second)));
  EXPECT_FALSE(ReadFrame(message, buffer));
  Order expected;
  expected.serial = 3;
  expected.name = "c";
  EXPECT_EQ(ToText(message), ToText(AgentMsg(AgentTag::kOrder, expected)));
}

}  // namespace
}  // namespace vexil
