#include "orvel/frame.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "orvel/message_text.h"
#include "support/check_recorder.h"
#include "support/wire.h"
#include "sync/last_error.h"

namespace vexil {
namespace {

using testing::AppendBytes;
using testing::Bytes;
using testing::HeldBytes;

// A 12-byte frame: CheckRequest with value 5.
const Bytes kCheckFrame = {12, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0};

// ReadFrame's result, with the last error on failure (set to a sentinel first).
uint32_t ReadResult(AgentMsg& message, BufferPtr& buffer) {
  SetLastErrorCode(0xDEAD);
  return ReadFrame(message, buffer) ? 0 : LastErrorCode();
}

TEST(Frame, RegisterIsTheFortyFourByteFrame) {
  ConnectorMsg message(ConnectorTag::kRegister);
  Register& body = *message.As<Register>();
  body.magic = kRegisterMagic;
  body.gsid = 7;
  body.processId = 4660;
  body.nsapList.push_back(Nsap{kConnectorNsapId, 8990});
  body.exeName = "game";
  BufferPtr buffer;
  ASSERT_TRUE(WriteFrame(buffer, message));
  // clang-format off
  const Bytes expected = {
      0x2C, 0, 0, 0,  1, 0, 0, 0,  1, 0, 1, 0,  7, 0, 0, 0,  0x34, 0x12, 0, 0,  1, 0, 0, 0,
      0x38, 0x5B, 1, 0,  0x1E, 0x23, 0, 0,  0, 0, 0, 0,  4, 0, 0, 0, 'g', 'a', 'm', 'e'};
  // clang-format on
  EXPECT_EQ(HeldBytes(buffer), expected);
}

TEST(Frame, TagZeroAndBodylessRequestsAreEightBytes) {
  BufferPtr buffer;
  ASSERT_TRUE(WriteFrame(buffer, ConnectorMsg()));
  EXPECT_EQ(HeldBytes(buffer), (Bytes{8, 0, 0, 0, 0, 0, 0, 0}));
  for (const AgentTag tag :
       {AgentTag::kCountsRequest, AgentTag::kStatRequest, AgentTag::kRegionRequest}) {
    BufferPtr request;
    ASSERT_TRUE(WriteFrame(request, AgentMsg(tag)));
    EXPECT_EQ(HeldBytes(request), (Bytes{8, 0, 0, 0, static_cast<uint8_t>(tag), 0, 0, 0}));
  }
  AgentMsg received(AgentTag::kOrder);
  ASSERT_EQ(ReadResult(received, buffer), 0u);
  EXPECT_EQ(received.tag(), AgentTag::kNone);
}

TEST(Frame, AppendsAfterHeldBytesAndCountsOnlyItself) {
  BufferPtr buffer;
  AppendBytes(buffer, {9, 9, 9, 9, 9});
  ConnectorMsg reply(ConnectorTag::kCheckReply, CheckReply{5, 7});
  ASSERT_TRUE(WriteFrame(buffer, reply));
  EXPECT_EQ(HeldBytes(buffer),
            (Bytes{9, 9, 9, 9, 9, 16, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 7, 0, 0, 0}));
}

TEST(Frame, IncompleteFrameConsumesNothingUntilWhole) {
  BufferPtr buffer;
  AgentMsg message;
  AppendBytes(buffer, Bytes(kCheckFrame.begin(), kCheckFrame.begin() + 3));
  EXPECT_EQ(ReadResult(message, buffer), kErrorIncompleteFrame);
  EXPECT_EQ(buffer.Size(), 3u);
  AppendBytes(buffer, Bytes(kCheckFrame.begin() + 3, kCheckFrame.begin() + 10));
  EXPECT_EQ(ReadResult(message, buffer), kErrorIncompleteFrame);
  EXPECT_EQ(buffer.Size(), 10u);
  AppendBytes(buffer, Bytes(kCheckFrame.begin() + 10, kCheckFrame.end()));
  ASSERT_EQ(ReadResult(message, buffer), 0u);
  EXPECT_EQ(ToText(message), "CheckRequest(value=5)");
  EXPECT_EQ(buffer.Size(), 0u);
}

TEST(Frame, LengthOneTooLargeWaitsThenFailsOnTheNextByte) {
  Bytes frame = kCheckFrame;
  frame[0] = 13;
  BufferPtr buffer;
  AppendBytes(buffer, frame);
  AgentMsg message;
  EXPECT_EQ(ReadResult(message, buffer), kErrorIncompleteFrame);
  EXPECT_EQ(buffer.Size(), 12u);
  AppendBytes(buffer, {8});
  EXPECT_EQ(ReadResult(message, buffer), kErrorMalformedFrame);
}

// An announced length beyond the cap is malformed from its first four bytes on, in both
// directions, while the largest allowed length still waits for its bytes.
TEST(Frame, LengthAboveTheCapIsMalformedAtOnce) {
  for (const uint32_t length : {kMaxFrameLength + 1, 0xFFFFFFF0u}) {
    BufferPtr buffer;
    buffer.Append(&length, sizeof length);
    AgentMsg request;
    EXPECT_EQ(ReadResult(request, buffer), kErrorMalformedFrame) << length;
    ConnectorMsg reply;
    EXPECT_FALSE(ReadFrame(reply, buffer));
    EXPECT_EQ(LastErrorCode(), kErrorMalformedFrame);
  }
  BufferPtr buffer;
  const uint32_t largest = kMaxFrameLength;
  buffer.Append(&largest, sizeof largest);
  AgentMsg message;
  EXPECT_EQ(ReadResult(message, buffer), kErrorIncompleteFrame);
}

TEST(Frame, MalformedFramesReportBadFormat) {
  const Bytes cases[] = {
      {8, 0, 0, 0, 7, 0, 0, 0},                           // tag past the set
      {8, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},               // tag far past it
      {11, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0},                 // body one byte short of its field
      {16, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0},  // trailing bytes inside the frame
      {4, 0, 0, 0, 1, 0, 0, 0},                           // length below 8: the tag lies outside
      {0, 0, 0, 0, 3, 0, 0, 0},                           // length 0
  };
  for (const Bytes& frame : cases) {
    BufferPtr buffer;
    AppendBytes(buffer, frame);
    AgentMsg message;
    EXPECT_EQ(ReadResult(message, buffer), kErrorMalformedFrame) << frame.size();
  }
}

TEST(Frame, TextCountPastItsFrameIsMalformedWithOrWithoutFollowingBytes) {
  // Command: ids (12 bytes), then a text whose count, 20, runs past the 28-byte frame.
  const Bytes frame = {28, 0, 0, 0, 5, 0, 0,  0, 1, 0, 0,   0,   2,   0,
                       0,  0, 3, 0, 0, 0, 20, 0, 0, 0, 'a', 'b', 'c', 'd'};
  BufferPtr alone;
  AppendBytes(alone, frame);
  AgentMsg message;
  EXPECT_EQ(ReadResult(message, alone), kErrorMalformedFrame);

  BufferPtr followed;
  AppendBytes(followed, frame);
  for (int i = 0; i < 3; ++i) AppendBytes(followed, kCheckFrame);
  EXPECT_EQ(ReadResult(message, followed), kErrorMalformedFrame);
}

TEST(Frame, EveryTruncationOfAnOrderIsIncompleteAndUntouched) {
  AgentMsg order(AgentTag::kOrder);
  Order& body = *order.As<Order>();
  body.serial = 3;
  body.name = "__ISOLATE__";
  body.ids = IdTriple(1, 2, 3);
  body.argument = "12|x";
  body.context = "ctx";
  BufferPtr whole;
  ASSERT_TRUE(WriteFrame(whole, order));
  const Bytes bytes = HeldBytes(whole);
  for (size_t n = 0; n < bytes.size(); ++n) {
    BufferPtr buffer;
    AppendBytes(buffer, Bytes(bytes.begin(), bytes.begin() + n));
    AgentMsg message;
    ASSERT_EQ(ReadResult(message, buffer), kErrorIncompleteFrame) << n;
    ASSERT_EQ(buffer.Size(), n);
  }
}

TEST(Frame, BackToBackFramesDecodeInOrder) {
  BufferPtr buffer;
  for (int32_t value = 0; value < 50; ++value) {
    ASSERT_TRUE(WriteFrame(buffer, AgentMsg(AgentTag::kCheckRequest, CheckRequest{value})));
  }
  AgentMsg message;
  for (int32_t value = 0; value < 50; ++value) {
    ASSERT_EQ(ReadResult(message, buffer), 0u);
    ASSERT_EQ(message.As<CheckRequest>()->value, value);
  }
  EXPECT_EQ(ReadResult(message, buffer), kErrorIncompleteFrame);
}

// A warning written from borrowed texts, into a buffer or into counted memory, is the frame of the
// Warning message with the same fields.
TEST(Frame, BorrowedWarningIsTheWarningFrame) {
  Warning warning;
  warning.ids = IdTriple(1, 7, 2);
  warning.code = -3;
  warning.text = "overrun";
  warning.extraText = "";
  BufferPtr expected;
  ASSERT_TRUE(WriteFrame(expected, ConnectorMsg(ConnectorTag::kWarning, warning)));
  WarningRef borrowed;
  borrowed.ids = warning.ids;
  borrowed.code = warning.code;
  borrowed.text = warning.text;
  borrowed.extraText = warning.extraText;
  BufferPtr written;
  ASSERT_TRUE(WriteFrame(written, ConnectorTag::kWarning, borrowed));
  EXPECT_EQ(HeldBytes(written), HeldBytes(expected));
  Bytes counted(expected.Size(), 0xEE);
  ASSERT_TRUE(WriteFrameInto(counted.data(), expected.Size(), ConnectorTag::kWarning, borrowed));
  EXPECT_EQ(counted, HeldBytes(expected));
}

// Counted memory is never written beyond: a frame longer than counted raises the check and throws
// with the bytes past the count untouched; one shorter than counted is refused.
TEST(Frame, CountedFrameOfTheWrongLength) {
  const CheckReply reply{5, 7};
  Bytes memory(32, 0xEE);
  {
    testing::CheckRecorder checks;
    EXPECT_THROW(WriteFrameInto(memory.data(), 12, ConnectorTag::kCheckReply, reply),
                 std::length_error);
    EXPECT_EQ(1, checks.count());
  }
  EXPECT_EQ(Bytes(memory.begin() + 12, memory.end()), Bytes(20, 0xEE));
  EXPECT_FALSE(WriteFrameInto(memory.data(), 20, ConnectorTag::kCheckReply, reply));
  EXPECT_TRUE(WriteFrameInto(memory.data(), 16, ConnectorTag::kCheckReply, reply));
  EXPECT_EQ(Bytes(memory.begin(), memory.begin() + 16),
            (Bytes{16, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 7, 0, 0, 0}));
}

}  // namespace
}  // namespace vexil
