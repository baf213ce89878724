#include "net/socket.h"

#include <cstring>

#include "net/native_socket.h"
#include "sync/check.h"
#include "sync/code_page.h"
#include "sync/last_error.h"

namespace vexil {

namespace {

constexpr SockLength kSockAddrLength = static_cast<SockLength>(sizeof(sockaddr_in));

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
  SetLastErrorCode(kSocketErrorInvalid);
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

// What a close after sending reads and drops at most, in chunks of 4 KiB: more than a peer that
// waits for replies has in flight.
constexpr int kDiscardRounds = 64;

// Create for every text form: a bind failure closes the new socket but keeps the bind's error.
template <typename Text>
int CreateBound(Socket& socket, uint16_t port, int type, const Text& address) {
  if (!socket.OpenSocket(type, 0, AF_INET)) return 0;
  if (socket.Bind(port, address)) return 1;
  const uint32_t error = LastErrorCode();
  socket.Close();
  SetLastErrorCode(error);
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
  CloseNativeSocket(Detach());
}

void Socket::CloseAfterSending() {
  if (handle_ == INVALID_SOCKET) return;
  // Fails on a socket that never connected or whose connection is gone: then there is nothing
  // left to deliver, and the close follows all the same.
  ShutdownNativeSend(handle_);
  // Only what is already there is read, so that the receive never waits, whatever the socket's
  // mode; bounded, so that a peer sending without pause cannot hold the close.
  char discarded[4096];
  unsigned pending = 0;
  for (int round = 0; round < kDiscardRounds && PendingByteCount(handle_, &pending) && pending > 0;
       ++round) {
    const int size = static_cast<int>(pending < sizeof discarded ? pending : sizeof discarded);
    if (Receive(discarded, size, 0) <= 0) break;
  }
  Close();
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
    case kNetRead:
      return OnRead(error);
    case kNetWrite:
      return OnWrite(error);
    case kNetOutOfBand:
      return OnOutOfBand(error);
    case kNetAccept:
      return OnAccept(error);
    case kNetConnect:
      return OnConnect(error);
    case kNetClose:
      return OnClose(error);
    case kNetQos:
      return OnQos(error);
    case kNetGroupQos:
      return OnGroupQos(error);
    case kNetRoutingInterfaceChange:
      return OnRoutingInterfaceChange(error);
    case kNetAddressListChange:
      return OnAddressListChange(error);
    default:
      CheckFailed();
      return 1;
  }
}

int Socket::OnError(int, int) { return 0; }

int Socket::OnRead(int error) { return error != 0 ? OnError(kNetRead, error) : 1; }
int Socket::OnWrite(int error) { return error != 0 ? OnError(kNetWrite, error) : 1; }
int Socket::OnOutOfBand(int error) { return error != 0 ? OnError(kNetOutOfBand, error) : 1; }
int Socket::OnAccept(int error) { return error != 0 ? OnError(kNetAccept, error) : 1; }
int Socket::OnConnect(int error) { return error != 0 ? OnError(kNetConnect, error) : 1; }
int Socket::OnClose(int error) { return OnError(kNetClose, error); }
int Socket::OnQos(int error) { return error != 0 ? OnError(kNetQos, error) : 1; }
int Socket::OnGroupQos(int error) { return error != 0 ? OnError(kNetGroupQos, error) : 1; }
int Socket::OnRoutingInterfaceChange(int error) {
  return error != 0 ? OnError(kNetRoutingInterfaceChange, error) : 1;
}
int Socket::OnAddressListChange(int error) {
  return error != 0 ? OnError(kNetAddressListChange, error) : 1;
}

int Socket::OpenSocket(int type, int protocol, int family) {
  if (handle_ != INVALID_SOCKET) {
    CheckFailed();
    return 0;
  }
  const SOCKET handle = OpenNativeSocket(family, type, protocol);
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
  if (::connect(handle_, sockAddr, length) != 0) return 0;
  // A success reads as error 0 on both platforms: POSIX leaves errno as it was.
  SetLastErrorCode(0);
  return 1;
}

int Socket::StartConnect(uint32_t address, uint16_t port) {
  const sockaddr_in sockAddr = MakeSockAddr(address, port);
  // Pending also when it completed at once (POSIX may, over loopback): the connect event reports
  // it.
  connect_pending_ = ConnectAddress(AsSockAddr(&sockAddr), kSockAddrLength) ||
                     LastErrorCode() == static_cast<uint32_t>(kSocketErrorConnectPending);
  return connect_pending_ ? 1 : 0;
}

int Socket::GetPeerName(std::string& address, uint16_t& port) {
  sockaddr_in sockAddr = {};
  SockLength length = kSockAddrLength;
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

int Socket::GetPeerName(sockaddr* sockAddr, SockLength* length) {
  return ::getpeername(handle_, sockAddr, length) == 0 ? 1 : 0;
}

int Socket::GetSockName(std::string& address, uint16_t& port) {
  sockaddr_in sockAddr = {};
  SockLength length = kSockAddrLength;
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

int Socket::GetSockName(sockaddr* sockAddr, SockLength* length) {
  return ::getsockname(handle_, sockAddr, length) == 0 ? 1 : 0;
}

int Socket::SetOption(int name, const void* value, int valueLength, int level) {
  return ::setsockopt(handle_, level, name, static_cast<const char*>(value), valueLength) == 0 ? 1
                                                                                               : 0;
}

int Socket::GetOption(int name, void* value, SockLength* valueLength, int level) {
  return ::getsockopt(handle_, level, name, static_cast<char*>(value), valueLength) == 0 ? 1 : 0;
}

int Socket::Listen(int backlog) { return ::listen(handle_, backlog) == 0 ? 1 : 0; }

SOCKET Socket::Accept(sockaddr* sockAddr, SockLength* length) {
  return ::accept(handle_, sockAddr, length);
}

int Socket::Receive(void* buffer, int size, int flags) {
  return ::recv(handle_, static_cast<char*>(buffer), size, flags);
}

int Socket::Send(const void* data, int length, int flags) {
  return ::send(handle_, static_cast<const char*>(data), length, flags | kSendFlags);
}

int Socket::ReceiveFrom(void* buffer, int size, sockaddr* sockAddr, SockLength* length, int flags) {
  return ::recvfrom(handle_, static_cast<char*>(buffer), size, flags, sockAddr, length);
}

int Socket::ReceiveFrom(void* buffer, int size, std::string& address, uint16_t& port, int flags) {
  sockaddr_in sockAddr = {};
  SockLength length = kSockAddrLength;
  const int result = ReceiveFrom(buffer, size, AsSockAddr(&sockAddr), &length, flags);
  const uint32_t error = LastErrorCode();
  DescribeSockAddr(sockAddr, address, port);
  SetLastErrorCode(error);
  return result;
}

int Socket::ReceiveFrom(void* buffer, int size, uint32_t& address, uint16_t& port, int flags) {
  sockaddr_in sockAddr = {};
  SockLength length = kSockAddrLength;
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

int Socket::ProcessNetworkEvents() {
  if (!IsOpen()) {
    CheckFailed();
    return 0;
  }
  NetworkEventReport report;
  if (!EnumerateNetworkEvents(handle_, nullptr, false, connect_pending_, &report)) return 0;
  for (int index = 0; index < kNetworkEventCount; ++index) {
    const int bit = 1 << index;
    if ((report.events & bit) == 0) continue;
    if (!HandleEvent(bit, report.errors[index])) return 0;
  }
  return 1;
}

int Socket::ResolveAddress(const wchar_t* host, sockaddr_in* sockAddr, int, int allowLookup) {
  if (!ResolveArgumentsValid(sockAddr, IsEmptyText(host))) return FailInvalid();
  // At most 31 narrow characters, as a dotted address or a short name needs.
  constexpr size_t kMostNarrowCharacters = 31;
  const std::string narrow = WideToNarrow(host);
  if (narrow.empty() || narrow.size() > kMostNarrowCharacters) return FailInvalid();
  return ResolveNarrow(narrow.c_str(), sockAddr, allowLookup);
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
