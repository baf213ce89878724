// Feeds arbitrary bytes to the ReadFrame loop as a socket would: in chunks whose sizes follow from
// the first input byte. Every decoded message must re-encode to exactly the bytes of its frame; an
// incomplete frame must leave the buffer untouched; a malformed one ends the stream, as it ends a
// connection. Both directions read the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvel/frame.h"
#include "sync/last_error.h"
#include "util/buffer_ptr.h"

namespace vexil {
namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "orvel_frame_fuzz: %s\n", what);
  std::abort();
}

// The frame at the front of buffer if the buffer holds all of it, else empty.
std::vector<uint8_t> FrontFrame(const BufferPtr& buffer) {
  if (buffer.Size() < 4) return {};
  uint32_t length = 0;
  std::memcpy(&length, buffer.Data(), 4);
  if (length > buffer.Size()) return {};
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + length);
}

template <typename Message>
void ReadStream(const uint8_t* data, size_t size, uint8_t chunk_seed) {
  BufferPtr buffer;
  Message message;
  uint32_t state = chunk_seed * 2654435761u + 1;
  size_t offset = 0;
  while (offset < size) {
    state = state * 1103515245u + 12345u;
    const size_t chunk = std::min<size_t>(size - offset, 1 + (state >> 16) % 97);
    buffer.Append(data + offset, static_cast<unsigned>(chunk));
    offset += chunk;
    for (;;) {
      const unsigned held = buffer.Size();
      const std::vector<uint8_t> frame = FrontFrame(buffer);
      if (ReadFrame(message, buffer)) {
        if (frame.empty() || held - buffer.Size() != frame.size()) Fail("consumed != frame length");
        BufferPtr again;
        if (!WriteFrame(again, message)) Fail("re-encoding failed");
        if (again.Size() != frame.size() || std::memcmp(again.Data(), frame.data(), frame.size()))
          Fail("re-encoding differs from the frame");
        continue;
      }
      const uint32_t error = LastErrorCode();
      if (error == kErrorIncompleteFrame) {
        if (buffer.Size() != held) Fail("incomplete frame consumed bytes");
        break;
      }
      if (error != kErrorMalformedFrame) Fail("unexpected last error");
      return;
    }
  }
}

}  // namespace
}  // namespace vexil

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  vexil::ReadStream<vexil::AgentMsg>(data + 1, size - 1, data[0]);
  vexil::ReadStream<vexil::ConnectorMsg>(data + 1, size - 1, data[0]);
  return 0;
}
