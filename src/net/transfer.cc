#include "net/transfer.h"

#include <climits>
#include <vector>

#include "sync/check.h"

namespace vexil {

namespace {

// recv and send take an int count; larger requests go in several calls.
int ClampToInt(unsigned n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

// One receive notification takes at most kReceiveChunks chunks, so a peer that never stops
// sending cannot hold the worker in one notification.
constexpr unsigned kReceiveChunkBytes = 16u << 10;
constexpr int kReceiveChunks = 64;
// Buffers handed to one WSASend.
constexpr DWORD kGatherPieces = 64;

int SwitchToBlocking(SOCKET handle) {
  u_long dwVal = 0;
  if (::ioctlsocket(handle, FIONBIO, &dwVal) != 0) {
    CheckFailed();
    return 0;
  }
  return 1;
}

// The blocking loop of ReceiveAll and SendAll: one call per remaining length, no retry; a closed
// connection or any error fails.
template <typename Bytes, typename Call>
int TransferAll(SOCKET handle, Bytes* rest, unsigned length, Call call) {
  if (!SwitchToBlocking(handle)) return 0;
  while (length > 0) {
    const int n = call(handle, rest, ClampToInt(length), 0);
    if (n <= 0) return 0;
    rest += n;
    length -= static_cast<unsigned>(n);
  }
  return 1;
}

// Releases the buffers that went out whole from the front of list, empty ones on the way
// included, and consumes the part of the next one that went out.
void ConsumeSent(SendBufferList& list, unsigned long sent) {
  while (!list.empty() && sent >= list.front().Size()) {
    sent -= list.front().Size();
    list.pop_front();
  }
  if (sent > 0) list.front().Consume(static_cast<unsigned>(sent));
}

// The number of bytes the socket holds for reading, through FIONREAD.
int PendingCount(SOCKET handle, unsigned* count) {
  u_long dwToRead = 0;
  if (::ioctlsocket(handle, FIONREAD, &dwToRead) != 0) return 0;
  *count = dwToRead;
  return 1;
}

}  // namespace

int TryReceive(SOCKET handle, void* destination, unsigned capacity, unsigned* received) {
  if (received == nullptr) {
    CheckFailed();
    return 0;
  }
  *received = 0;
  if (capacity == 0) return 1;
  const int n = ::recv(handle, static_cast<char*>(destination), ClampToInt(capacity), 0);
  if (n == 0) return 0;
  if (n < 0) return ::WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
  *received += static_cast<unsigned>(n);
  return 1;
}

int TrySend(SOCKET handle, const void* source, unsigned length, unsigned* sent) {
  if (sent == nullptr) {
    CheckFailed();
    return 0;
  }
  *sent = 0;
  const char* rest = static_cast<const char*>(source);
  while (*sent < length) {
    const int n = ::send(handle, rest, ClampToInt(length - *sent), 0);
    if (n == 0) return 0;
    if (n < 0) return ::WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
    rest += n;
    *sent += static_cast<unsigned>(n);
  }
  return 1;
}

int ReceiveAll(SOCKET handle, void* destination, unsigned length) {
  return TransferAll(handle, static_cast<char*>(destination), length, ::recv);
}

int SendAll(SOCKET handle, const void* source, unsigned length) {
  return TransferAll(handle, static_cast<const char*>(source), length, ::send);
}

int ReceivePending(SOCKET handle, ByteBuffer* buffer) {
  if (buffer == nullptr) {
    CheckFailed();
    return 0;
  }
  unsigned dwToRead = 0;
  if (!PendingCount(handle, &dwToRead)) return 0;
  if (dwToRead == 0) return 1;
  buffer->Reserve(dwToRead);
  unsigned dwXfer = 0;
  if (!TryReceive(handle, buffer->Data() + buffer->Size(), dwToRead, &dwXfer)) return 0;
  if (dwXfer > dwToRead) {
    CheckFailed();
    return 0;
  }
  if (dwXfer > 0) buffer->Append(nullptr, dwXfer);
  return 1;
}

int ReceivePending(SOCKET handle, BufferPtr& buffer) {
  return ReceivePending(handle, buffer.Get());
}

int ReceivePending(SOCKET handle, std::string& text) {
  unsigned dwToRead = 0;
  if (!PendingCount(handle, &dwToRead)) return 0;
  if (dwToRead == 0) return 1;
  std::vector<char> pending(dwToRead);
  unsigned dwXfer = 0;
  if (!TryReceive(handle, pending.data(), dwToRead, &dwXfer)) return 0;
  text.append(pending.data(), dwXfer);
  return 1;
}

int ReceiveAvailable(SOCKET handle, BufferPtr& data) {
  ByteBuffer* buffer = data.Get();
  if (buffer == nullptr) {
    CheckFailed();
    return 0;
  }
  // Received in place, chunk by chunk, until one comes back short: that one emptied the socket.
  // No FIONREAD first: under Wine every ioctl is one more server request per notification.
  for (int chunk = 0; chunk < kReceiveChunks; ++chunk) {
    buffer->Reserve(kReceiveChunkBytes);
    const int n = ::recv(handle, reinterpret_cast<char*>(buffer->Data() + buffer->Size()),
                         static_cast<int>(kReceiveChunkBytes), 0);
    if (n < 0) return ::WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
    // The peer closed: FD_CLOSE reports it, after the frames already received are delivered.
    if (n == 0) return 1;
    if (static_cast<unsigned>(n) > kReceiveChunkBytes) {
      CheckFailed();
      return 0;
    }
    buffer->Append(nullptr, static_cast<unsigned>(n));
    if (static_cast<unsigned>(n) < kReceiveChunkBytes) return 1;
  }
  // More is waiting: the receive re-enabled FD_READ, so the next notification takes it.
  return 1;
}

int SendPending(SOCKET handle, ByteBuffer* buffer) {
  if (buffer == nullptr) {
    CheckFailed();
    return 0;
  }
  if (buffer->Size() == 0) return 1;
  unsigned dwXfer = 0;
  if (!TrySend(handle, buffer->Data(), buffer->Size(), &dwXfer)) return 0;
  buffer->Consume(dwXfer);
  return 1;
}

int SendPending(SOCKET handle, BufferPtr& buffer) { return SendPending(handle, buffer.Get()); }

int SendPending(SOCKET handle, std::string& text) {
  unsigned dwXfer = 0;
  if (!TrySend(handle, text.data(), static_cast<unsigned>(text.size()), &dwXfer)) return 0;
  text.erase(0, dwXfer);
  return 1;
}

int FlushSendQueue(SOCKET handle, SendBufferList& list, size_t* sent) {
  ::WSASetLastError(0);
  while (!list.empty()) {
    // Gathered into one WSASend: one system call for everything queued, not one per buffer.
    WSABUF pieces[kGatherPieces];
    DWORD count = 0;
    unsigned long offered = 0;
    for (auto it = list.begin(); it != list.end() && count < kGatherPieces; ++it) {
      if (it->Size() == 0) continue;
      pieces[count].buf = reinterpret_cast<char*>(it->Data());
      pieces[count].len = it->Size();
      offered += it->Size();
      ++count;
    }
    DWORD went_out = 0;
    if (count > 0 && ::WSASend(handle, pieces, count, &went_out, 0, nullptr, nullptr) != 0) {
      return ::WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
    }
    ConsumeSent(list, went_out);
    if (sent != nullptr) *sent += went_out;
    // A send the system took only part of is no refusal: the write notification comes again only
    // after a send failed with WSAEWOULDBLOCK, so the rest is offered until one does. Taking
    // nothing without refusing would repeat for ever; it leaves the rest to the next flush.
    if (went_out == 0 && offered > 0) return 1;
  }
  return 1;
}

int SendBufferBlocking(SOCKET handle, ByteBuffer* buffer) {
  if (buffer == nullptr) {
    CheckFailed();
    return 0;
  }
  const unsigned n = buffer->Size();
  if (n == 0) return 1;
  if (!SendAll(handle, buffer->Data(), n)) return 0;
  buffer->Consume(n);
  return 1;
}

int ReceiveBufferBlocking(SOCKET handle, ByteBuffer* buffer, unsigned n) {
  if (buffer == nullptr) {
    CheckFailed();
    return 0;
  }
  if (n == 0) return 1;
  buffer->Reserve(n);
  if (!ReceiveAll(handle, buffer->Data() + buffer->Size(), n)) return 0;
  buffer->Append(nullptr, n);
  return 1;
}

}  // namespace vexil
