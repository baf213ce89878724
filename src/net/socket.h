// Socket: the owner of one IPv4 socket handle, with its create, bind, connect, name, option, stream
// and datagram operations and one virtual notification per network event. Windows (WinSock) and
// POSIX: the same interface over either system's sockets.
//
// Results: 1 for success, 0 for failure with the cause in the thread's last error (WinSock's, or
// errno); the
// raw-result operations (Accept, Receive, Send, ReceiveFrom, SendTo and the Ex forms) return what
// the system call returned. Addresses given as a 32-bit value are in network byte order, as in
// sockaddr_in. A Socket is used by one thread at a time.
#ifndef VEXIL_NET_SOCKET_H_
#define VEXIL_NET_SOCKET_H_

#include "net/network_events.h"
#include "net/socket_types.h"

#include <cstdint>
#include <string>

namespace vexil {

class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // The virtual operations keep this order; subclasses rely on it.
  // Slot 0: closes a held handle.
  virtual ~Socket();
  // Slots 1 to 3: opens a socket of the type (protocol 0, AF_INET) and binds it to the port and
  // dotted address (absent or empty: any local address). A bind failure closes the new socket and
  // leaves the bind's error as the last error.
  virtual int Create(uint16_t port, int type, const std::wstring& address);
  virtual int Create(uint16_t port, int type, const std::string& address);
  virtual int Create(uint16_t port, int type, const wchar_t* address);
  // Slot 4: closes a held handle; nothing when none is held.
  virtual void Close();
  // Slot 5: takes ownership of handle; 0 (after an internal check) when one is already held or
  // handle is INVALID_SOCKET.
  virtual int Attach(SOCKET handle);
  // Slot 6: gives the held handle to the caller, who then owns it; internal check when none is
  // held.
  virtual SOCKET Detach();
  // Slot 7: maps one network-event bit to slots 9 to 18; event 0 gives 1.
  virtual int HandleEvent(int event, int error);
  // Slot 8: an event reported an error; the result 0 stops the dispatch.
  virtual int OnError(int event, int error);
  // Slots 9 to 18: one per event bit. A nonzero error gives OnError (bit, error), error 0 gives 1;
  // OnClose always gives OnError (kNetClose, error).
  virtual int OnRead(int error);
  virtual int OnWrite(int error);
  virtual int OnOutOfBand(int error);
  virtual int OnAccept(int error);
  virtual int OnConnect(int error);
  virtual int OnClose(int error);
  virtual int OnQos(int error);
  virtual int OnGroupQos(int error);
  virtual int OnRoutingInterfaceChange(int error);
  virtual int OnAddressListChange(int error);

  // Shuts a held handle's sending side down, discards the input already received, then closes it
  // (Close): a connected peer reads everything sent before, then the end of the stream. A close
  // with unread input would reset the connection instead, and a peer that had not read the last
  // bytes yet could lose them. Never waits. Nothing when none is held.
  void CloseAfterSending();

  SOCKET handle() const { return handle_; }
  int IsOpen() const { return handle_ != INVALID_SOCKET ? 1 : 0; }

  // socket (family, type, protocol) into this object; internal check (then 0) when one is held.
  int OpenSocket(int type, int protocol, int family);

  // Binds to a dotted address (never a name lookup) or, when absent or empty, to any address.
  int Bind(uint16_t port, const wchar_t* address);
  int Bind(uint16_t port, const std::string& address);
  int Bind(uint16_t port, const std::wstring& address);
  int BindAddress(const sockaddr* sockAddr, int length);

  // Connects to a dotted address or a host name; an empty host fails with kSocketErrorInvalid
  // without any network call. On a blocking socket this waits for the system's outcome.
  int Connect(const wchar_t* host, uint16_t port);
  int Connect(const std::string& host, uint16_t port);
  int Connect(const std::wstring& host, uint16_t port);
  int ConnectAddress(const sockaddr* sockAddr, int length);
  // Starts a connect to an IPv4 address (network byte order) on a non-blocking socket (an event
  // selection makes it so) and returns at once: 1 when it completed or is under way, its outcome
  // then arriving as the connect network event; 0 when it failed outright.
  int StartConnect(uint32_t address, uint16_t port);
  // True from a StartConnect that did not fail outright until its connect event was enumerated.
  bool connect_pending() const { return connect_pending_; }
  void EndConnect() { connect_pending_ = false; }

  int GetPeerName(std::string& address, uint16_t& port);
  int GetPeerName(std::wstring& address, uint16_t& port);
  int GetPeerName(sockaddr* sockAddr, SockLength* length);
  int GetSockName(std::string& address, uint16_t& port);
  int GetSockName(std::wstring& address, uint16_t& port);
  int GetSockName(sockaddr* sockAddr, SockLength* length);

  int SetOption(int name, const void* value, int valueLength, int level = SOL_SOCKET);
  int GetOption(int name, void* value, SockLength* valueLength, int level = SOL_SOCKET);

  int Listen(int backlog);
  SOCKET Accept(sockaddr* sockAddr, SockLength* length);
  int Receive(void* buffer, int size, int flags);
  int Send(const void* data, int length, int flags);

  // recvfrom; the source is given as the caller's record, as dotted text and port, or as the raw
  // address and port. A failed call's WinSock error is kept.
  int ReceiveFrom(void* buffer, int size, sockaddr* sockAddr, SockLength* length, int flags);
  int ReceiveFrom(void* buffer, int size, std::string& address, uint16_t& port, int flags);
  int ReceiveFrom(void* buffer, int size, uint32_t& address, uint16_t& port, int flags);
  // sendto; an empty text address means the broadcast address 255.255.255.255, other text is
  // resolved with a name lookup (failure: kSocketErrorInvalid, SOCKET_ERROR).
  int SendTo(const void* data, int length, const sockaddr* sockAddr, int sockAddrLength, int flags);
  int SendTo(const void* data, int length, const std::string& address, uint16_t port, int flags);
  int SendTo(const void* data, int length, const std::wstring& address, uint16_t port, int flags);
  int SendTo(const void* data, int length, uint32_t address, uint16_t port, int flags);

  // Enumerates this socket's network events (no event object is reset) and calls slots 9 to 18 in
  // bit order; 0 as soon as one of them returns 0, or when the enumeration fails.
  int ProcessNetworkEvents();

  // Fills sockAddr's address from dotted text, or, with allowLookup, from a name lookup. The
  // record must be zero-filled with family AF_INET already; length is not used. Every failure,
  // a lookup's included, is kSocketErrorInvalid. The wide-pointer form takes at most 31 narrow
  // characters.
  static int ResolveAddress(const wchar_t* host, sockaddr_in* sockAddr, int length,
                            int allowLookup);
  static int ResolveAddress(const std::wstring& host, sockaddr_in* sockAddr, int length,
                            int allowLookup);
  static int ResolveAddress(const std::string& host, sockaddr_in* sockAddr, int length,
                            int allowLookup);
  // The record that SendTo with a text address sends to (empty text: broadcast). A wide text that
  // does not convert is kSocketErrorInvalid, never the broadcast address.
  static int ResolveSendTarget(const std::string& address, uint16_t port, sockaddr_in* sockAddr);
  static int ResolveSendTarget(const std::wstring& address, uint16_t port, sockaddr_in* sockAddr);

 private:
  SOCKET handle_ = INVALID_SOCKET;
  bool connect_pending_ = false;
};

}  // namespace vexil

#endif  // VEXIL_NET_SOCKET_H_
