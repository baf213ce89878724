#include "net/socket_service.h"

#include <cstring>

#include "net/socket.h"

namespace vexil {

namespace {

struct ErrorText {
  int code;
  const wchar_t* text;
};

// The texts are kept word for word, so that log lines read the same on every build.
constexpr ErrorText kErrorTexts[] = {
    {0, L"<No Error>"},
    {10013,
     L"WSAEACCES: The requested address is a broadcast address, but the appropriate flag was not "
     L"set."},
    {10014,
     L"WSAEFAULT: The lpSockAddrLen argument is too small (less than the size of a SOCKADDR "
     L"structure)."},
    {10022, L"WSAEINVAL: The socket has not been bound with Bind or is already connected."},
    {10024, L"WSAEMFILE: No more file descriptors are available."},
    {10035,
     L"WSAEWOULDBLOCK: The socket is marked as nonblocking and no connections are present to be "
     L"accepted."},
    {10036, L"WSAEINPROGRESS: A blocking Windows Sockets operation is in progress."},
    {10038, L"WSAENOTSOCK: The descriptor is not a socket."},
    {10040,
     L"WSAEMSGSIZE: The socket is of type SOCK_DGRAM, and the datagram is larger than the maximum "
     L"supported by the Windows Sockets implementation."},
    {10041, L"WSAEPROTOTYPE: The specified port is the wrong type for this socket."},
    {10043, L"WSAEPROTONOSUPPORT: The specified port is not supported."},
    {10044,
     L"WSAESOCKTNOSUPPORT: The specified socket type is not supported in this address family."},
    {10045,
     L"WSAEOPNOTSUPP: The referenced socket is not of a type that supports the Listen operation."},
    {10047, L"WSAEAFNOSUPPORT: The specified address family is not supported."},
    {10048, L"WSAEADDRINUSE: An attempt has been made to listen on an address in use."},
    {10050,
     L"WSAENETDOWN: The Windows Sockets implementation detected that the network subsystem "
     L"failed."},
    {10052,
     L"WSAENETRESET: The connection must be reset because the Windows Sockets implementation "
     L"dropped it."},
    {10053, L"WSAECONNABORTED: The virtual circuit was aborted due to timeout or other failure."},
    {10054, L"WSAECONNRESET: The virtual circuit was reset by the remote side."},
    {10055, L"WSAENOBUFS: No buffer space is available."},
    {10056, L"WSAEISCONN: The socket is already connected."},
    {10057, L"WSAENOTCONN: The socket is not connected."},
    {10058,
     L"WSAESHUTDOWN: The socket has been shut down; it is not possible to call Send on a socket "
     L"after ShutDown has been invoked with nHow set to 1 or 2."},
    {10060, L"WSAETIMEDOUT: Connection timed out."},
    {10093, L"WSANOTINITIALISED: A successful AfxSocketInit must occur before using this API."},
    {TARNETE_INVALIDSOCKET, L"TARNETE_INVALIDSOCKET: pSocket was NULL."},
    {TARNETE_TRYRECEIVE, L"TARNETE_TRYRECEIVE: fail to try receive."},
    {TARNETE_ORVELLOADMSG, L"TARNETE_ORVELLOADMSG: fail to load orvel msg."},
    {TARNETE_NOHANDLER, L"TARNETE_NOHANDLER: no specified socket handler."},
    {TARNETE_NOPROTOCOL, L"TARNETE_NOPROTOCOL: no specified orvel procotol."},
    {TARNETE_ONRCVMSG, L"TARNETE_ONRCVMSG: failure on rcv msg."},
    {TARNETE_DOSENDMSG, L"TARNETE_DOSENDMSG: failure to send msg."},
};

}  // namespace

const wchar_t* SocketErrorText(int code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return L"<UNKNOWN ERROR>";
}

int PickLocalAddress(char* const* addressList, int preferNon10, std::string& out) {
  out.clear();
  if (addressList == nullptr) return 0;
  const char* chosen = nullptr;
  for (int i = 0; preferNon10 && addressList[i] != nullptr; ++i) {
    in_addr address;
    std::memcpy(&address, addressList[i], sizeof(address));
    if (std::strncmp(::inet_ntoa(address), "10.", 3) != 0) {
      chosen = addressList[i];
      break;
    }
  }
  if (chosen == nullptr) chosen = addressList[0];
  if (chosen == nullptr) return 0;
  in_addr address;
  std::memcpy(&address, chosen, sizeof(address));
  out = ::inet_ntoa(address);
  return 1;
}

int GetLocalAddress(std::string& out, int preferNon10) {
  out.clear();
  char szHostName[1024] = {};
  if (::gethostname(szHostName, sizeof(szHostName)) != 0) return 0;
  const hostent* host = ::gethostbyname(szHostName);
  if (host == nullptr) return 0;
  return PickLocalAddress(host->h_addr_list, preferNon10, out);
}

SOCKET SocketHandle(const Socket* socket) {
  return socket != nullptr ? socket->handle() : INVALID_SOCKET;
}

}  // namespace vexil
