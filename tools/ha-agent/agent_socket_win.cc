// Winsock behind agent_socket.h.
#include "sync/win32.h"

#include <ws2tcpip.h>

#include <string>

#include "ha-agent/agent_socket.h"

namespace vexil::tools {
namespace {

SOCKET Sock(intptr_t handle) { return static_cast<SOCKET>(handle); }
intptr_t Handle(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s); }

// Fills *addr from a dotted quad; false for anything else (no name lookup ever happens).
bool MakeAddress(const std::string& address, uint16_t port, sockaddr_in* addr) {
  ZeroMemory(addr, sizeof(*addr));
  addr->sin_family = AF_INET;
  addr->sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &addr->sin_addr) == 1;
}

// A new TCP socket and the address it is for; INVALID_SOCKET with a text in *error.
SOCKET OpenSocket(const std::string& address, uint16_t port, sockaddr_in* addr,
                  std::string* error) {
  if (!MakeAddress(address, port, addr)) {
    *error = "not an IPv4 address: " + address;
    return INVALID_SOCKET;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) *error = TcpStream::LastErrorText();
  return s;
}

std::string AddressText(const sockaddr_in& addr) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, const_cast<in_addr*>(&addr.sin_addr), text, sizeof(text));
  return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

// Waits for the socket to become readable: kDone, kTimedOut or kFailed.
IoResult WaitReadable(SOCKET s, int timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int n = select(0, &readable, nullptr, nullptr, &limit);
  if (n > 0) return IoResult::kDone;
  return n == 0 ? IoResult::kTimedOut : IoResult::kFailed;
}

void SetNoDelay(SOCKET s) {
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
}

}  // namespace

SocketService::SocketService() {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketService::~SocketService() {
  if (started_) WSACleanup();
}

bool TcpStream::Connect(const std::string& address, uint16_t port, std::string* error) {
  Close();
  sockaddr_in addr;
  const SOCKET s = OpenSocket(address, port, &addr, error);
  if (s == INVALID_SOCKET) return false;
  if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    *error = LastErrorText();
    closesocket(s);
    return false;
  }
  SetNoDelay(s);
  handle_ = Handle(s);
  peer_ = AddressText(addr);
  return true;
}

IoResult TcpStream::SendAll(const uint8_t* data, size_t size) {
  if (!is_open()) return IoResult::kFailed;
  while (size > 0) {
    const int chunk = size > 0x10000000 ? 0x10000000 : static_cast<int>(size);
    const int n = send(Sock(handle_), reinterpret_cast<const char*>(data), chunk, 0);
    if (n == SOCKET_ERROR) return IoResult::kFailed;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return IoResult::kDone;
}

IoResult TcpStream::Receive(uint8_t* buffer, size_t capacity, int timeout_ms, size_t* received) {
  *received = 0;
  if (!is_open()) return IoResult::kFailed;
  const IoResult ready = WaitReadable(Sock(handle_), timeout_ms);
  if (ready != IoResult::kDone) return ready;
  const int chunk = capacity > 0x10000000 ? 0x10000000 : static_cast<int>(capacity);
  const int n = recv(Sock(handle_), reinterpret_cast<char*>(buffer), chunk, 0);
  if (n == SOCKET_ERROR) return IoResult::kFailed;
  if (n == 0) return IoResult::kClosed;
  *received = static_cast<size_t>(n);
  return IoResult::kDone;
}

void TcpStream::Close() {
  if (!is_open()) return;
  shutdown(Sock(handle_), SD_BOTH);
  closesocket(Sock(handle_));
  handle_ = -1;
}

std::string TcpStream::LastErrorText() {
  const int code = WSAGetLastError();
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, text, sizeof(text), nullptr);
  std::string result(text, n);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return "error " + std::to_string(code) + (result.empty() ? "" : ": " + result);
}

void TcpStream::Reset() {
  if (!is_open()) return;
  const linger abortive = {1, 0};
  setsockopt(Sock(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
             sizeof(abortive));
  closesocket(Sock(handle_));
  handle_ = -1;
}

void TcpStream::ShutdownSend() {
  if (is_open()) shutdown(Sock(handle_), SD_SEND);
}

void TcpListener::Close() {
  if (handle_ == -1) return;
  closesocket(Sock(handle_));
  handle_ = -1;
}

bool TcpListener::Listen(const std::string& address, uint16_t port, std::string* error) {
  sockaddr_in addr;
  const SOCKET s = OpenSocket(address, port, &addr, error);
  if (s == INVALID_SOCKET) return false;
  int length = sizeof(addr);
  if (bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(s, SOMAXCONN) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    *error = TcpStream::LastErrorText();
    closesocket(s);
    return false;
  }
  handle_ = Handle(s);
  port_ = ntohs(addr.sin_port);
  return true;
}

IoResult TcpListener::Accept(int timeout_ms, TcpStream* stream) {
  if (handle_ == -1) return IoResult::kFailed;
  const IoResult ready = WaitReadable(Sock(handle_), timeout_ms);
  if (ready != IoResult::kDone) return ready;
  sockaddr_in addr;
  int length = sizeof(addr);
  const SOCKET s = accept(Sock(handle_), reinterpret_cast<sockaddr*>(&addr), &length);
  if (s == INVALID_SOCKET) return IoResult::kFailed;
  SetNoDelay(s);
  *stream = TcpStream(Handle(s), AddressText(addr));
  return IoResult::kDone;
}

}  // namespace vexil::tools
