// POSIX sockets behind agent_socket.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ha-agent/agent_socket.h"

namespace vexil::tools {
namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// Fills *addr from a dotted quad; false for anything else (no name lookup ever happens).
bool MakeAddress(const std::string& address, uint16_t port, sockaddr_in* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sin_family = AF_INET;
  addr->sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &addr->sin_addr) == 1;
}

// A new TCP socket and the address it is for; -1 with a text in *error.
int OpenSocket(const std::string& address, uint16_t port, sockaddr_in* addr, std::string* error) {
  if (!MakeAddress(address, port, addr)) {
    *error = "not an IPv4 address: " + address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) *error = std::strerror(errno);
  return fd;
}

std::string AddressText(const sockaddr_in& addr) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof(text));
  return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

// Waits for the descriptor to become readable: kDone, kTimedOut or kFailed.
IoResult WaitReadable(int fd, int timeout_ms) {
  pollfd entry = {fd, POLLIN, 0};
  for (;;) {
    const int n = poll(&entry, 1, timeout_ms);
    if (n > 0) return IoResult::kDone;
    if (n == 0) return IoResult::kTimedOut;
    if (errno != EINTR) return IoResult::kFailed;
  }
}

}  // namespace

SocketService::SocketService() : started_(true) {}
SocketService::~SocketService() = default;

bool TcpStream::Connect(const std::string& address, uint16_t port, std::string* error) {
  Close();
  sockaddr_in addr;
  const int fd = OpenSocket(address, port, &addr, error);
  if (fd < 0) return false;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    *error = LastErrorText();
    close(fd);
    return false;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  handle_ = fd;
  peer_ = AddressText(addr);
  return true;
}

IoResult TcpStream::SendAll(const uint8_t* data, size_t size) {
  if (!is_open()) return IoResult::kFailed;
  while (size > 0) {
    // MSG_NOSIGNAL: a peer that has gone must give an error, not kill the process.
    const ssize_t n = send(Fd(handle_), data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoResult::kFailed;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return IoResult::kDone;
}

IoResult TcpStream::Receive(uint8_t* buffer, size_t capacity, int timeout_ms, size_t* received) {
  *received = 0;
  if (!is_open()) return IoResult::kFailed;
  const IoResult ready = WaitReadable(Fd(handle_), timeout_ms);
  if (ready != IoResult::kDone) return ready;
  for (;;) {
    const ssize_t n = recv(Fd(handle_), buffer, capacity, 0);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return IoResult::kDone;
    }
    if (n == 0) return IoResult::kClosed;
    if (errno != EINTR) return IoResult::kFailed;
  }
}

void TcpStream::Close() {
  if (!is_open()) return;
  shutdown(Fd(handle_), SHUT_RDWR);
  close(Fd(handle_));
  handle_ = -1;
}

void TcpStream::Reset() {
  if (!is_open()) return;
  const linger abortive = {1, 0};
  setsockopt(Fd(handle_), SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  close(Fd(handle_));
  handle_ = -1;
}

void TcpStream::ShutdownSend() {
  if (is_open()) shutdown(Fd(handle_), SHUT_WR);
}

std::string TcpStream::LastErrorText() { return std::strerror(errno); }

void TcpListener::Close() {
  if (handle_ == -1) return;
  close(Fd(handle_));
  handle_ = -1;
}

bool TcpListener::Listen(const std::string& address, uint16_t port, std::string* error) {
  sockaddr_in addr;
  const int fd = OpenSocket(address, port, &addr, error);
  if (fd < 0) return false;
  // A restarted agent must be able to listen again while old connections sit in TIME_WAIT.
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  socklen_t length = sizeof(addr);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    *error = TcpStream::LastErrorText();
    close(fd);
    return false;
  }
  handle_ = fd;
  port_ = ntohs(addr.sin_port);
  return true;
}

IoResult TcpListener::Accept(int timeout_ms, TcpStream* stream) {
  if (handle_ == -1) return IoResult::kFailed;
  const IoResult ready = WaitReadable(Fd(handle_), timeout_ms);
  if (ready != IoResult::kDone) return ready;
  sockaddr_in addr;
  socklen_t length = sizeof(addr);
  const int fd = accept(Fd(handle_), reinterpret_cast<sockaddr*>(&addr), &length);
  if (fd < 0) return errno == EINTR || errno == EAGAIN ? IoResult::kTimedOut : IoResult::kFailed;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  *stream = TcpStream(fd, AddressText(addr));
  return IoResult::kDone;
}

}  // namespace vexil::tools
