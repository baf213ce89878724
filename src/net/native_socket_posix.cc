#include "net/native_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vexil {
namespace {

// The socket's pending error, cleared by the read; errno when it cannot be read.
int PendingSocketError(SOCKET handle) {
  int error = 0;
  socklen_t length = sizeof(error);
  if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int BitIndex(int bit) {
  int index = 0;
  while ((1 << index) != bit) ++index;
  return index;
}

}  // namespace

int StartupSockets(uint16_t) { return 1; }

int CleanupSockets() { return 1; }

SOCKET OpenNativeSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

int CloseNativeSocket(SOCKET handle) { return ::close(handle) == 0 ? 1 : 0; }

int ShutdownNativeSend(SOCKET handle) { return ::shutdown(handle, SHUT_WR) == 0 ? 1 : 0; }

int SetSocketBlocking(SOCKET handle, bool blocking) {
  const int flags = ::fcntl(handle, F_GETFL);
  if (flags < 0) return 0;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(handle, F_SETFL, wanted) == 0 ? 1 : 0;
}

int PendingByteCount(SOCKET handle, unsigned* count) {
  int pending = 0;
  if (::ioctl(handle, FIONREAD, &pending) != 0) return 0;
  *count = static_cast<unsigned>(pending);
  return 1;
}

int GatherSend(SOCKET handle, const SendPiece* pieces, unsigned count, unsigned long* sent) {
  constexpr unsigned kMostPieces = 64;
  iovec vectors[kMostPieces];
  if (count > kMostPieces) count = kMostPieces;
  for (unsigned i = 0; i < count; ++i) {
    vectors[i].iov_base = const_cast<uint8_t*>(pieces[i].data);
    vectors[i].iov_len = pieces[i].size;
  }
  msghdr message = {};
  message.msg_iov = vectors;
  message.msg_iovlen = count;
  *sent = 0;
  const ssize_t n = ::sendmsg(handle, &message, kSendFlags);
  if (n < 0) return 0;
  *sent = static_cast<unsigned long>(n);
  return 1;
}

int SelectNetworkEvents(SOCKET handle, const SignalEvent&, long mask) {
  return SetSocketBlocking(handle, mask == 0);
}

int SetEventMask(SOCKET socket, void*, long mask) { return SetSocketBlocking(socket, mask == 0); }

WaitSource NetworkWaitSource(SOCKET handle, const SignalEvent&, bool want_write) {
  return WaitSource{handle, kReadable | (want_write ? kWritable : 0u)};
}

int EnumerateNetworkEvents(SOCKET handle, const SignalEvent*, bool want_write, bool connect_pending,
                           NetworkEventReport* report) {
  *report = NetworkEventReport();
  pollfd descriptor = {handle, static_cast<short>(POLLIN | POLLRDHUP | (want_write ? POLLOUT : 0)),
                       0};
  int ready;
  do {
    ready = ::poll(&descriptor, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return 0;
  if (descriptor.revents & POLLNVAL) {
    errno = EBADF;
    return 0;
  }
  if (connect_pending) {
    if ((descriptor.revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return 1;
    const int error = PendingSocketError(handle);
    report->events = kNetConnect | (error == 0 ? kNetWrite : 0);
    report->errors[BitIndex(kNetConnect)] = error;
    return 1;
  }
  if (descriptor.revents & POLLIN) report->events |= kNetRead;
  if (descriptor.revents & POLLOUT) report->events |= kNetWrite;
  // The peer's FIN (input ends) or a reset. Reported after the read event, and the close reads
  // what that one left before it ends the connection.
  if (descriptor.revents & (POLLRDHUP | POLLHUP | POLLERR)) {
    report->events |= kNetClose;
    report->errors[BitIndex(kNetClose)] = PendingSocketError(handle);
  }
  return 1;
}

void KeepNetworkEventSignalled(SignalEvent&) {}

}  // namespace vexil
