#include "orvel/frame.h"

#include <cstdint>
#include <cstring>

#include "sync/last_error.h"

namespace vexil {

namespace {

constexpr unsigned kLengthWidth = 4;

template <typename Message>
bool ReadAnyFrame(Message& message, BufferPtr& buffer) {
  const unsigned held = buffer.Size();
  uint32_t length = 0;
  if (held < kLengthWidth) {
    SetLastErrorCode(kErrorIncompleteFrame);
    return false;
  }
  std::memcpy(&length, buffer.Data(), kLengthWidth);
  if (length > kMaxFrameLength) {
    SetLastErrorCode(kErrorMalformedFrame);
    return false;
  }
  if (held < length) {
    SetLastErrorCode(kErrorIncompleteFrame);
    return false;
  }
  // The message is read from the bytes behind the length; the buffer then loses exactly what the
  // length and the message used, as if each field had consumed its own bytes.
  FieldReader in(buffer.Data() + kLengthWidth, held - kLengthWidth);
  const bool decoded = message.Decode(in);
  buffer.Consume(kLengthWidth + in.Consumed());
  if (!decoded || kLengthWidth + in.Consumed() != length) {
    SetLastErrorCode(kErrorMalformedFrame);
    return false;
  }
  return true;
}

}  // namespace

bool WriteFrame(BufferPtr& buffer, const ConnectorMsg& message) {
  return WriteFrameWith(buffer, [&message](FieldWriter& out) { return message.Encode(out); });
}
bool WriteFrame(BufferPtr& buffer, const AgentMsg& message) {
  return WriteFrameWith(buffer, [&message](FieldWriter& out) { return message.Encode(out); });
}
bool ReadFrame(AgentMsg& message, BufferPtr& buffer) { return ReadAnyFrame(message, buffer); }
bool ReadFrame(ConnectorMsg& message, BufferPtr& buffer) { return ReadAnyFrame(message, buffer); }

}  // namespace vexil
