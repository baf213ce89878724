#include "net/socket.h"

#include <cstring>

#include "sync/check.h"
#include "sync/code_page.h"

namespace vexil {

namespace {

constexpr int kSockAddrLength = static_cast<int>(sizeof(sockaddr_in));

// The zero-filled IPv4 record every operation starts from.
sockaddr_in EmptySockAddr() {
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  return sockAddr;
}

sockaddr_in MakeSockAddr(uint32_t address, uint16_t port) {
  sockaddr_in sockAddr = EmptySockAddr();
  sockAddr.sin_port = ::htons(port);
  sockAddr.sin_addr.s_addr = address;
  return sockAddr;
}

sockaddr* AsSockAddr(sockaddr_in* sockAddr) { return reinterpret_cast<sockaddr*>(sockAddr); }
const sockaddr* AsSockAddr(const sockaddr_in* sockAddr) {
  return reinterpret_cast<const sockaddr*>(sockAddr);
}

int FailInvalid() {
  ::WSASetLastError(WSAEINVAL);
  return 0;
}

// Internal checks on the arguments every ResolveAddress form shares.
int ResolveArgumentsValid(const sockaddr_in* sockAddr, bool hostEmpty) {
  if (sockAddr == nullptr || sockAddr->sin_family != AF_INET || hostEmpty) {
    CheckFailed();
    return 0;
  }
  return 1;
}

int ResolveNarrow(const char* text, sockaddr_in* sockAddr, int allowLookup) {
  if (text[0] == '\0') return FailInvalid();
  const unsigned long address = ::inet_addr(text);
  if (address != INADDR_NONE) {
    sockAddr->sin_addr.s_addr = address;
    return 1;
  }
  if (!allowLookup) return FailInvalid();
  const hostent* host = ::gethostbyname(text);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
    return FailInvalid();
  }
  std::memcpy(&sockAddr->sin_addr, host->h_addr_list[0], 4);
  return 1;
}

// The address and port of a record as dotted text.
void DescribeSockAddr(const sockaddr_in& sockAddr, std::string& address, uint16_t& port) {
  address = ::inet_ntoa(sockAddr.sin_addr);
  port = ::ntohs(sockAddr.sin_port);
}

bool IsEmptyText(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }
bool IsEmptyText(const std::string& text) { return text.empty(); }
bool IsEmptyText(const std::wstring& text) { return text.empty(); }

// Bind for every text form of the address: dotted text only, or any address when empty.
template <typename Text>
int BindText(Socket& socket, uint16_t port, const Text& address) {
  sockaddr_in sockAddr = EmptySockAddr();
  if (IsEmptyText(address)) {
    sockAddr.sin_addr.s_addr = ::htonl(INADDR_ANY);
  } else if (!Socket::ResolveAddress(address, &sockAddr, kSockAddrLength, 0)) {
    return 0;
  }
  sockAddr.sin_port = ::htons(port);
  return socket.BindAddress(AsSockAddr(&sockAddr), kSockAddrLength);
}

// Connect for every text form of the host; an empty host never reaches the network.
template <typename Text>
int ConnectText(Socket& socket, const Text& host, uint16_t port) {
  if (IsEmptyText(host)) return FailInvalid();
  sockaddr_in sockAddr = EmptySockAddr();
  if (!Socket::ResolveAddress(host, &sockAddr, kSockAddrLength, 1)) return 0;
  sockAddr.sin_port = ::htons(port);
  return socket.ConnectAddress(AsSockAddr(&sockAddr), kSockAddrLength);
}

// The destination of SendTo for every text form: the emptiness test comes before any conversion,
// so only a text that is empty as given means broadcast.
template <typename Text>
int SendTargetOf(const Text& address, uint16_t port, sockaddr_in* sockAddr) {
  *sockAddr = MakeSockAddr(INADDR_BROADCAST, port);
  if (IsEmptyText(address)) return 1;
  return Socket::ResolveAddress(address, sockAddr, kSockAddrLength, 1);
}

// Create for every text form: a bind failure closes the new socket but keeps the bind's error.
template <typename Text>
int CreateBound(Socket& socket, uint16_t port, int type, const Text& address) {
  if (!socket.OpenSocket(type, 0, AF_INET)) return 0;
  if (socket.Bind(port, address)) return 1;
  const int error = ::WSAGetLastError();
  socket.Close();
  ::WSASetLastError(error);
  return 0;
}

}  // namespace

Socket::~Socket() { Close(); }

int Socket::Create(uint16_t port, int type, const std::wstring& address) {
  return CreateBound(*this, port, type, address);
}

int Socket::Create(uint16_t port, int type, const std::string& address) {
  return CreateBound(*this, port, type, address);
}

int Socket::Create(uint16_t port, int type, const wchar_t* address) {
  return CreateBound(*this, port, type, address);
}

void Socket::Close() {
  if (handle_ == INVALID_SOCKET) return;
  ::closesocket(Detach());
}

int Socket::Attach(SOCKET handle) {
  if (handle_ != INVALID_SOCKET || handle == INVALID_SOCKET) {
    CheckFailed();
    return 0;
  }
  handle_ = handle;
  return 1;
}

SOCKET Socket::Detach() {
  if (handle_ == INVALID_SOCKET) CheckFailed();
  const SOCKET handle = handle_;
  handle_ = INVALID_SOCKET;
  return handle;
}

int Socket::HandleEvent(int event, int error) {
  switch (event) {
    case 0:
      return 1;
    case FD_READ:
      return OnRead(error);
    case FD_WRITE:
      return OnWrite(error);
    case FD_OOB:
      return OnOutOfBand(error);
    case FD_ACCEPT:
      return OnAccept(error);
    case FD_CONNECT:
      return OnConnect(error);
    case FD_CLOSE:
      return OnClose(error);
    case FD_QOS:
      return OnQos(error);
    case FD_GROUP_QOS:
      return OnGroupQos(error);
    case FD_ROUTING_INTERFACE_CHANGE:
      return OnRoutingInterfaceChange(error);
    case FD_ADDRESS_LIST_CHANGE:
      return OnAddressListChange(error);
    default:
      CheckFailed();
      return 1;
  }
}

int Socket::OnError(int, int) { return 0; }

int Socket::OnRead(int error) { return error != 0 ? OnError(FD_READ, error) : 1; }
int Socket::OnWrite(int error) { return error != 0 ? OnError(FD_WRITE, error) : 1; }
int Socket::OnOutOfBand(int error) { return error != 0 ? OnError(FD_OOB, error) : 1; }
int Socket::OnAccept(int error) { return error != 0 ? OnError(FD_ACCEPT, error) : 1; }
int Socket::OnConnect(int error) { return error != 0 ? OnError(FD_CONNECT, error) : 1; }
int Socket::OnClose(int error) { return OnError(FD_CLOSE, error); }
int Socket::OnQos(int error) { return error != 0 ? OnError(FD_QOS, error) : 1; }
int Socket::OnGroupQos(int error) { return error != 0 ? OnError(FD_GROUP_QOS, error) : 1; }
int Socket::OnRoutingInterfaceChange(int error) {
  return error != 0 ? OnError(FD_ROUTING_INTERFACE_CHANGE, error) : 1;
}
int Socket::OnAddressListChange(int error) {
  return error != 0 ? OnError(FD_ADDRESS_LIST_CHANGE, error) : 1;
}

int Socket::OpenSocket(int type, int protocol, int family) {
  if (handle_ != INVALID_SOCKET) {
    CheckFailed();
    return 0;
  }
  const SOCKET handle = ::socket(family, type, protocol);
  if (handle == INVALID_SOCKET) return 0;
  return Attach(handle);
}

int Socket::Bind(uint16_t port, const wchar_t* address) { return BindText(*this, port, address); }

int Socket::Bind(uint16_t port, const std::string& address) {
  return BindText(*this, port, address);
}

int Socket::Bind(uint16_t port, const std::wstring& address) {
  return BindText(*this, port, address);
}

int Socket::BindAddress(const sockaddr* sockAddr, int length) {
  return ::bind(handle_, sockAddr, length) == 0 ? 1 : 0;
}

int Socket::Connect(const wchar_t* host, uint16_t port) { return ConnectText(*this, host, port); }

int Socket::Connect(const std::string& host, uint16_t port) {
  return ConnectText(*this, host, port);
}

int Socket::Connect(const std::wstring& host, uint16_t port) {
  return ConnectText(*this, host, port);
}

int Socket::ConnectAddress(const sockaddr* sockAddr, int length) {
  return ::connect(handle_, sockAddr, length) == 0 ? 1 : 0;
}

int Socket::StartConnect(uint32_t address, uint16_t port) {
  const sockaddr_in sockAddr = MakeSockAddr(address, port);
  if (ConnectAddress(AsSockAddr(&sockAddr), kSockAddrLength)) return 1;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
}

int Socket::GetPeerName(std::string& address, uint16_t& port) {
  sockaddr_in sockAddr = {};
  int length = kSockAddrLength;
  if (!GetPeerName(AsSockAddr(&sockAddr), &length)) return 0;
  DescribeSockAddr(sockAddr, address, port);
  return 1;
}

int Socket::GetPeerName(std::wstring& address, uint16_t& port) {
  std::string sAddress;
  if (!GetPeerName(sAddress, port)) return 0;
  address = NarrowToWide(sAddress);
  return 1;
}

int Socket::GetPeerName(sockaddr* sockAddr, int* length) {
  return ::getpeername(handle_, sockAddr, length) == 0 ? 1 : 0;
}

int Socket::GetSockName(std::string& address, uint16_t& port) {
  sockaddr_in sockAddr = {};
  int length = kSockAddrLength;
  if (!GetSockName(AsSockAddr(&sockAddr), &length)) return 0;
  DescribeSockAddr(sockAddr, address, port);
  return 1;
}

int Socket::GetSockName(std::wstring& address, uint16_t& port) {
  std::string sAddress;
  if (!GetSockName(sAddress, port)) return 0;
  address = NarrowToWide(sAddress);
  return 1;
}

int Socket::GetSockName(sockaddr* sockAddr, int* length) {
  return ::getsockname(handle_, sockAddr, length) == 0 ? 1 : 0;
}

int Socket::SetOption(int name, const void* value, int valueLength, int level) {
  return ::setsockopt(handle_, level, name, static_cast<const char*>(value), valueLength) == 0 ? 1
                                                                                               : 0;
}

int Socket::GetOption(int name, void* value, int* valueLength, int level) {
  return ::getsockopt(handle_, level, name, static_cast<char*>(value), valueLength) == 0 ? 1 : 0;
}

int Socket::Listen(int backlog) { return ::listen(handle_, backlog) == 0 ? 1 : 0; }

SOCKET Socket::Accept(sockaddr* sockAddr, int* length) {
  return ::accept(handle_, sockAddr, length);
}

int Socket::Receive(void* buffer, int size, int flags) {
  return ::recv(handle_, static_cast<char*>(buffer), size, flags);
}

int Socket::Send(const void* data, int length, int flags) {
  return ::send(handle_, static_cast<const char*>(data), length, flags);
}

int Socket::ReceiveFrom(void* buffer, int size, sockaddr* sockAddr, int* length, int flags) {
  return ::recvfrom(handle_, static_cast<char*>(buffer), size, flags, sockAddr, length);
}

int Socket::ReceiveFrom(void* buffer, int size, std::string& address, uint16_t& port, int flags) {
  sockaddr_in sockAddr = {};
  int length = kSockAddrLength;
  const int result = ReceiveFrom(buffer, size, AsSockAddr(&sockAddr), &length, flags);
  const int error = ::WSAGetLastError();
  DescribeSockAddr(sockAddr, address, port);
  ::WSASetLastError(error);
  return result;
}

int Socket::ReceiveFrom(void* buffer, int size, uint32_t& address, uint16_t& port, int flags) {
  sockaddr_in sockAddr = {};
  int length = kSockAddrLength;
  const int result = ReceiveFrom(buffer, size, AsSockAddr(&sockAddr), &length, flags);
  address = sockAddr.sin_addr.s_addr;
  port = ::ntohs(sockAddr.sin_port);
  return result;
}

int Socket::SendTo(const void* data, int length, const sockaddr* sockAddr, int sockAddrLength,
                   int flags) {
  return ::sendto(handle_, static_cast<const char*>(data), length, flags, sockAddr, sockAddrLength);
}

int Socket::SendTo(const void* data, int length, const std::string& address, uint16_t port,
                   int flags) {
  sockaddr_in sockAddr;
  if (!ResolveSendTarget(address, port, &sockAddr)) return SOCKET_ERROR;
  return SendTo(data, length, AsSockAddr(&sockAddr), kSockAddrLength, flags);
}

int Socket::SendTo(const void* data, int length, const std::wstring& address, uint16_t port,
                   int flags) {
  sockaddr_in sockAddr;
  if (!ResolveSendTarget(address, port, &sockAddr)) return SOCKET_ERROR;
  return SendTo(data, length, AsSockAddr(&sockAddr), kSockAddrLength, flags);
}

int Socket::SendTo(const void* data, int length, uint32_t address, uint16_t port, int flags) {
  const sockaddr_in sockAddr = MakeSockAddr(address, port);
  return SendTo(data, length, AsSockAddr(&sockAddr), kSockAddrLength, flags);
}

int Socket::ReceiveFromEx(WSABUF* buffers, DWORD count, DWORD* flags, uint32_t& address,
                          uint16_t& port, WSAOVERLAPPED* overlapped,
                          LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  sockaddr_in sockAddr = {};
  int length = kSockAddrLength;
  DWORD received = 0;
  const int result = ::WSARecvFrom(handle_, buffers, count, &received, flags, AsSockAddr(&sockAddr),
                                   &length, overlapped, completion);
  address = sockAddr.sin_addr.s_addr;
  port = ::ntohs(sockAddr.sin_port);
  return result == 0 ? static_cast<int>(received) : SOCKET_ERROR;
}

int Socket::ReceiveFromEx(WSABUF* buffers, DWORD count, DWORD* flags, std::string& address,
                          uint16_t& port, WSAOVERLAPPED* overlapped,
                          LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  uint32_t rawAddress = 0;
  const int result = ReceiveFromEx(buffers, count, flags, rawAddress, port, overlapped, completion);
  const int error = ::WSAGetLastError();
  in_addr inAddr;
  inAddr.s_addr = rawAddress;
  address = ::inet_ntoa(inAddr);
  ::WSASetLastError(error);
  return result;
}

int Socket::SendToEx(WSABUF* buffers, DWORD count, uint32_t address, uint16_t port, DWORD flags,
                     WSAOVERLAPPED* overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  const sockaddr_in sockAddr = MakeSockAddr(address, port);
  DWORD sent = 0;
  const int result = ::WSASendTo(handle_, buffers, count, &sent, flags, AsSockAddr(&sockAddr),
                                 kSockAddrLength, overlapped, completion);
  return result == 0 ? static_cast<int>(sent) : SOCKET_ERROR;
}

int Socket::ProcessNetworkEvents() {
  if (!IsOpen()) {
    CheckFailed();
    return 0;
  }
  WSANETWORKEVENTS wsaEvents = {};
  if (::WSAEnumNetworkEvents(handle_, nullptr, &wsaEvents) != 0) return 0;
  for (int index = 0; index < FD_MAX_EVENTS; ++index) {
    const int bit = 1 << index;
    if ((wsaEvents.lNetworkEvents & bit) == 0) continue;
    if (!HandleEvent(bit, wsaEvents.iErrorCode[index])) return 0;
  }
  return 1;
}

int Socket::ResolveAddress(const wchar_t* host, sockaddr_in* sockAddr, int, int allowLookup) {
  if (!ResolveArgumentsValid(sockAddr, IsEmptyText(host))) return FailInvalid();
  char szAddr[32] = {};
  if (::WideCharToMultiByte(CP_ACP, 0, host, -1, szAddr, sizeof(szAddr), nullptr, nullptr) == 0) {
    return FailInvalid();
  }
  return ResolveNarrow(szAddr, sockAddr, allowLookup);
}

int Socket::ResolveAddress(const std::wstring& host, sockaddr_in* sockAddr, int, int allowLookup) {
  if (!ResolveArgumentsValid(sockAddr, IsEmptyText(host))) return FailInvalid();
  const std::string sAscii = WideToNarrow(host);
  return ResolveNarrow(sAscii.c_str(), sockAddr, allowLookup);
}

int Socket::ResolveAddress(const std::string& host, sockaddr_in* sockAddr, int, int allowLookup) {
  if (!ResolveArgumentsValid(sockAddr, IsEmptyText(host))) return FailInvalid();
  return ResolveNarrow(host.c_str(), sockAddr, allowLookup);
}

int Socket::ResolveSendTarget(const std::string& address, uint16_t port, sockaddr_in* sockAddr) {
  return SendTargetOf(address, port, sockAddr);
}

int Socket::ResolveSendTarget(const std::wstring& address, uint16_t port, sockaddr_in* sockAddr) {
  return SendTargetOf(address, port, sockAddr);
}

}  // namespace vexil
