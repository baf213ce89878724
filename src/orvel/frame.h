// MsgFrame: one message on the stream, as a uint32 length (counting its own 4 bytes), the uint32
// tag and the body.
#ifndef VEXIL_ORVEL_FRAME_H_
#define VEXIL_ORVEL_FRAME_H_

#include <cstdint>
#include <cstring>

#include "orvel/messages.h"
#include "util/buffer_ptr.h"

namespace vexil {

// Appends one frame after whatever buffer already holds: a length placeholder, what encode
// (called with a FieldWriter at the end of buffer) writes, then the length patched in place.
// False when encode returned false.
template <typename Encode>
bool WriteFrameWith(BufferPtr& buffer, Encode&& encode) {
  const unsigned start = buffer.Size();
  {
    FieldWriter out(buffer);
    EncodeField(out, uint32_t{0});
    if (!encode(out)) return false;
  }
  const uint32_t length = buffer.Size() - start;
  std::memcpy(buffer.Data() + start, &length, sizeof(length));
  return true;
}

// One frame of the message. False only if a field writer refused a value (no message field type
// does).
bool WriteFrame(BufferPtr& buffer, const ConnectorMsg& message);
bool WriteFrame(BufferPtr& buffer, const AgentMsg& message);

// One frame of body under tag, without building a message value: the bytes of the ConnectorMsg of
// that tag and body. For bodies that borrow their texts (WarningRef).
template <typename Body>
bool WriteFrame(BufferPtr& buffer, ConnectorTag tag, const Body& body) {
  return WriteFrameWith(buffer, [&](FieldWriter& out) {
    EncodeField(out, tag);
    return EncodeField(out, body);
  });
}

// Writes the frame of body under tag into the length bytes at data, length being the frame's size
// as the caller counted it: no buffer call at all. False when a field writer refused a value or the
// frame came out shorter; one longer raises the internal check and throws std::length_error,
// nothing written beyond.
template <typename Body>
bool WriteFrameInto(uint8_t* data, uint32_t length, ConnectorTag tag, const Body& body) {
  SpanWriter out(data, length);
  EncodeField(out, length);
  EncodeField(out, tag);
  return EncodeField(out, body) && out.Size() == length;
}

// The longest frame either side accepts, far above the largest real message. A longer announced
// length is malformed at once rather than waited for, so that a damaged length field cannot make
// the reader buffer without bound.
constexpr uint32_t kMaxFrameLength = 16u << 20;

// Decodes the frame at the front of buffer in place and consumes it. On false the thread's last
// error says why: kErrorIncompleteFrame (1237) when fewer than 4 bytes, or fewer than the announced
// length, are held (nothing is consumed; call again once more bytes have arrived);
// kErrorMalformedFrame (11) when the announced length exceeds kMaxFrameLength, or the message does
// not decode or does not fill exactly its announced length (the buffer is left somewhere inside
// the frame: the stream cannot be resumed).
bool ReadFrame(AgentMsg& message, BufferPtr& buffer);
bool ReadFrame(ConnectorMsg& message, BufferPtr& buffer);

}  // namespace vexil

#endif  // VEXIL_ORVEL_FRAME_H_
