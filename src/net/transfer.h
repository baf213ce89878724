// Free functions that move bytes between a socket handle and a buffer. Windows build only.
//
// All return 1 for success and 0 for failure with the cause in the WinSock last error. The
// non-blocking forms (TryReceive, TrySend, ReceivePending, SendPending, FlushSendQueue) treat
// WSAEWOULDBLOCK as success with a short, possibly zero, count. A receive of 0 bytes (the peer
// closed the connection) is failure and leaves the last error as it was. The blocking forms switch
// the socket to blocking mode, leave it so, and wait without a time limit: never use them on a
// socket that has an event selection.
#ifndef VEXIL_NET_TRANSFER_H_
#define VEXIL_NET_TRANSFER_H_

#include "sync/win32.h"

#include <list>
#include <string>

#include "util/buffer_ptr.h"

namespace vexil {

// Outgoing buffers, oldest first; only the front one can be partly sent.
using SendBufferList = std::list<BufferPtr>;

// One recv of at most capacity bytes; *received counts what arrived.
int TryReceive(SOCKET handle, void* destination, unsigned capacity, unsigned* received);
// send until everything went out or the system would block; *sent counts what went out, also on
// failure.
int TrySend(SOCKET handle, const void* source, unsigned length, unsigned* sent);
// Blocking: exactly length bytes, or failure.
int ReceiveAll(SOCKET handle, void* destination, unsigned length);
int SendAll(SOCKET handle, const void* source, unsigned length);

// Appends exactly the bytes pending on the socket (FIONREAD) to the buffer, received in place.
int ReceivePending(SOCKET handle, ByteBuffer* buffer);
int ReceivePending(SOCKET handle, BufferPtr& buffer);
int ReceivePending(SOCKET handle, std::string& text);
// Non-blocking sockets only (an event selection makes a socket so): appends the bytes waiting
// on the socket to the buffer, received in place in chunks until one comes back short, at most
// 1 MiB a call (the receive re-enables FD_READ for the rest). One system call where there is
// less than a chunk, against two for ReceivePending. A closed connection is success here: the
// FD_CLOSE notification reports it.
int ReceiveAvailable(SOCKET handle, BufferPtr& buffer);
// Sends what the system accepts from the front of the buffer and consumes exactly that.
int SendPending(SOCKET handle, ByteBuffer* buffer);
int SendPending(SOCKET handle, BufferPtr& buffer);
int SendPending(SOCKET handle, std::string& text);
// Sets the last error to 0, then sends buffers from the front, gathered into one WSASend for up to
// 64 of them, releasing each one sent whole, until the list is empty or the system refuses more
// (1, with WSAEWOULDBLOCK as the last error: the next write notification resumes). A send that
// took only part is followed by another. *sent, when given, gains the number of bytes that went
// out, also on failure.
int FlushSendQueue(SOCKET handle, SendBufferList& list, size_t* sent = nullptr);

// Blocking: the whole content, consumed only once all of it went out.
int SendBufferBlocking(SOCKET handle, ByteBuffer* buffer);
// Blocking: exactly n bytes appended to the buffer.
int ReceiveBufferBlocking(SOCKET handle, ByteBuffer* buffer, unsigned n);

}  // namespace vexil

#endif  // VEXIL_NET_TRANSFER_H_
