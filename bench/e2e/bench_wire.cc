#include "bench_wire.h"

#include <cstdio>
#include <cstdlib>

namespace vexil::bench {

SocketHolder& SocketHolder::operator=(SocketHolder&& other) noexcept {
  if (this != &other) {
    if (valid()) closesocket(socket_);
    socket_ = other.socket_;
    other.socket_ = INVALID_SOCKET;
  }
  return *this;
}

SocketHolder::~SocketHolder() {
  if (valid()) closesocket(socket_);
}

HandleHolder::~HandleHolder() {
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

WinsockSession::WinsockSession() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) Fail("WSAStartup");
}

WinsockSession::~WinsockSession() { WSACleanup(); }

void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s failed (error %lu)\n", what.c_str(), GetLastError());
  std::fflush(stderr);
  std::exit(1);
}

sockaddr_in Address(const std::string& ip, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = inet_addr(ip.c_str());
  if (address.sin_addr.s_addr == INADDR_NONE) Fail("address " + ip);
  return address;
}

SocketHolder Listen(const std::string& ip, uint16_t port) {
  SocketHolder listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener.valid()) Fail("socket");
  BOOL reuse = TRUE;
  setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
             sizeof(reuse));
  const sockaddr_in address = Address(ip, port);
  if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    Fail("bind " + ip + ":" + std::to_string(port));
  }
  if (listen(listener.get(), 4) != 0) Fail("listen");
  return listener;
}

SocketHolder Accept(const SocketHolder& listener, DWORD timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener.get(), &readable);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &limit) != 1) Fail("accept within the time limit");
  SocketHolder accepted(accept(listener.get(), nullptr, nullptr));
  if (!accepted.valid()) Fail("accept");
  TuneStream(accepted);
  return accepted;
}

SocketHolder Connect(const std::string& ip, uint16_t port) {
  SocketHolder connected(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!connected.valid()) Fail("socket");
  const sockaddr_in address = Address(ip, port);
  if (connect(connected.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    Fail("connect " + ip + ":" + std::to_string(port));
  }
  TuneStream(connected);
  return connected;
}

void TuneStream(const SocketHolder& socket) {
  BOOL noDelay = TRUE;
  setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
             sizeof(noDelay));
  DWORD timeout = kReceiveTimeoutMs;
  setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));
}

namespace {

// Calls transfer (one send or one receive) until size bytes have gone; a failure or a closed
// connection fails the run.
template <typename Byte, typename Transfer>
void TransferAll(Byte* next, size_t size, const char* what, Transfer&& transfer) {
  while (size > 0) {
    const int moved = transfer(next, static_cast<int>(size));
    if (moved <= 0) Fail(what);
    next += moved;
    size -= static_cast<size_t>(moved);
  }
}

}  // namespace

void SendAll(const SocketHolder& socket, const void* data, size_t size) {
  TransferAll(static_cast<const char*>(data), size, "send",
              [&socket](const char* next, int n) { return send(socket.get(), next, n, 0); });
}

void ReceiveExact(const SocketHolder& socket, void* data, size_t size) {
  TransferAll(static_cast<char*>(data), size, "recv",
              [&socket](char* next, int n) { return recv(socket.get(), next, n, 0); });
}

void SendSignal(const SocketHolder& control) {
  const int32_t signal = 1;
  SendAll(control, &signal, sizeof(signal));
}

void ReceiveSignal(const SocketHolder& control) {
  int32_t signal = 0;
  ReceiveExact(control, &signal, sizeof(signal));
  if (signal != 1) Fail("control signal");
}

}  // namespace vexil::bench
