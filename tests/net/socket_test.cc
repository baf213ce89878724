#include "net/socket.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/loopback.h"
#include "net/native_socket.h"
#include "net/socket_service.h"
#include "support/check_recorder.h"
#include "support/test_platform.h"
#include "sync/last_error.h"
#include "sync/signal_event.h"
#include "sync/wait_result.h"

namespace vexil {
namespace {

// A single label longer than 63 characters: the resolver refuses it without sending a query.
const std::string kUnresolvableName(70, 'q');

sockaddr_in FreshRecord() {
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  return sockAddr;
}

uint32_t Resolved(const std::string& host, int allowLookup) {
  sockaddr_in sockAddr = FreshRecord();
  SetLastErrorCode(0);
  if (!Socket::ResolveAddress(host, &sockAddr, sizeof(sockAddr), allowLookup)) return 0;
  return ::ntohl(sockAddr.sin_addr.s_addr);
}

TEST(SocketErrorText, KeepsTheTableWordForWordAndNamesEveryOtherCodeUnknown) {
  EXPECT_STREQ(L"<No Error>", SocketErrorText(0));
  EXPECT_STREQ(L"WSAECONNRESET: The virtual circuit was reset by the remote side.",
               SocketErrorText(10054));
  EXPECT_STREQ(L"TARNETE_NOPROTOCOL: no specified orvel procotol.", SocketErrorText(20005));
  EXPECT_STREQ(L"TARNETE_DOSENDMSG: failure to send msg.", SocketErrorText(20007));
  for (int code : {10042, 10046, 10049, 10059, 20000, 20008, -1, 1}) {
    EXPECT_STREQ(L"<UNKNOWN ERROR>", SocketErrorText(code)) << code;
  }
}

TEST(ResolveAddress, TakesDottedTextAndLooksNamesUpOnlyWhenAllowed) {
  EXPECT_EQ(0x7F00000Au, Resolved("127.0.0.10", 0));
  EXPECT_EQ(0u, Resolved("localhost", 0));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  // The broadcast text equals INADDR_NONE, so it is no literal: only a lookup accepts it.
  EXPECT_EQ(0u, Resolved("255.255.255.255", 0));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  if (testing::kSystemNameLookupTestable) {
    EXPECT_EQ(0x7Fu, Resolved("localhost", 1) >> 24);
    EXPECT_EQ(0xFFFFFFFFu, Resolved("255.255.255.255", 1));
  }
}

TEST(ResolveAddress, ReplacesTheLookupErrorWithInvalidArgument) {
  if (!testing::kSystemNameLookupTestable) GTEST_SKIP() << "no system name lookup in this build";
  EXPECT_EQ(0u, Resolved(kUnresolvableName, 1));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
}

TEST(ResolveAddress, EmptyHostOrForeignFamilyIsACheckThenInvalidArgument) {
  testing::CheckRecorder recorder;
  EXPECT_EQ(0u, Resolved("", 1));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET6;
  EXPECT_EQ(0, Socket::ResolveAddress(std::wstring(L"127.0.0.1"), &sockAddr, 16, 0));
  EXPECT_EQ(0, Socket::ResolveAddress(L"", &sockAddr, 16, 0));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  EXPECT_EQ(3, recorder.count());
}

TEST(ResolveAddress, WidePointerFormTakesAtMost31Characters) {
  // Leading zeros make an octal 1, so both texts name 127.0.0.1.
  const std::wstring text31 = L"127.0.0." + std::wstring(22, L'0') + L"1";
  const std::wstring text32 = L"127.0.0." + std::wstring(23, L'0') + L"1";
  ASSERT_EQ(31u, text31.size());
  sockaddr_in sockAddr = FreshRecord();
  EXPECT_EQ(1, Socket::ResolveAddress(text31.c_str(), &sockAddr, 16, 0));
  EXPECT_EQ(::htonl(0x7F000001), sockAddr.sin_addr.s_addr);
  sockAddr = FreshRecord();
  EXPECT_EQ(0, Socket::ResolveAddress(text32.c_str(), &sockAddr, 16, 1));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  EXPECT_EQ(1, Socket::ResolveAddress(text32, &sockAddr, 16, 0));
  EXPECT_EQ(::htonl(0x7F000001), sockAddr.sin_addr.s_addr);
}

TEST(Socket, CreateWithoutAddressBindsAnyAddressAndAnEphemeralPort) {
  Socket socket;
  ASSERT_EQ(1, socket.Create(0, SOCK_STREAM, static_cast<const wchar_t*>(nullptr)));
  std::wstring address;
  uint16_t port = 0;
  ASSERT_EQ(1, socket.GetSockName(address, port));
  EXPECT_EQ(L"0.0.0.0", address);
  EXPECT_NE(0, port);
}

TEST(Socket, FailedBindClosesTheSocketAndKeepsTheBindError) {
  Socket first;
  ASSERT_EQ(1, first.Create(0, SOCK_STREAM, std::string("127.0.0.11")));
  std::string address;
  uint16_t port = 0;
  ASSERT_EQ(1, first.GetSockName(address, port));
  Socket second;
  EXPECT_EQ(0, second.Create(port, SOCK_STREAM, L"127.0.0.11"));
  EXPECT_EQ(testing::kErrorAddressInUse, testing::SocketError());
  EXPECT_EQ(0, second.IsOpen());
  // Binding never looks a name up.
  EXPECT_EQ(0, second.Create(0, SOCK_STREAM, std::wstring(L"localhost")));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  EXPECT_EQ(0, second.IsOpen());
}

TEST(Socket, ConnectRefusesAnEmptyOrUnresolvableHostBeforeAnySocketCall) {
  // No handle is held: reaching the system would fail with WSAENOTSOCK instead.
  Socket socket;
  EXPECT_EQ(0, socket.Connect(std::string(), 9));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  EXPECT_EQ(0, socket.Connect(static_cast<const wchar_t*>(nullptr), 9));
  EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  if (testing::kSystemNameLookupTestable) {
    EXPECT_EQ(0, socket.Connect(kUnresolvableName, 9));
    EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  }
}

TEST(Socket, ReportsBothEndsOfAConnection) {
  Socket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.12", client, peer));
  std::wstring peerAddress;
  uint16_t peerPort = 0;
  ASSERT_EQ(1, client.GetPeerName(peerAddress, peerPort));
  std::string localAddress;
  uint16_t localPort = 0;
  ASSERT_EQ(1, peer.GetSockName(localAddress, localPort));
  EXPECT_EQ(L"127.0.0.12", peerAddress);
  EXPECT_EQ("127.0.0.12", localAddress);
  EXPECT_EQ(localPort, peerPort);
}

TEST(Socket, AttachAndDetachGuardTheHandle) {
  testing::CheckRecorder recorder;
  Socket socket;
  EXPECT_EQ(0, socket.Attach(INVALID_SOCKET));
  EXPECT_EQ(INVALID_SOCKET, socket.Detach());
  EXPECT_EQ(2, recorder.count());
  ASSERT_EQ(1, socket.OpenSocket(SOCK_DGRAM, 0, AF_INET));
  EXPECT_EQ(0, socket.OpenSocket(SOCK_DGRAM, 0, AF_INET));
  EXPECT_EQ(3, recorder.count());
  const SOCKET handle = socket.Detach();
  EXPECT_EQ(0, socket.IsOpen());
  EXPECT_EQ(1, socket.Attach(handle));
  EXPECT_EQ(handle, SocketHandle(&socket));
  EXPECT_EQ(INVALID_SOCKET, SocketHandle(nullptr));
}

class RecordingSocket : public Socket {
 public:
  int OnError(int event, int error) override {
    errors.emplace_back(event, error);
    return error == 0 ? 0 : 7;
  }
  std::vector<std::pair<int, int>> errors;
};

TEST(Socket, PerEventRuleSendsErrorsAndEveryCloseToOnError) {
  Socket plain;
  EXPECT_EQ(0, plain.OnClose(0));
  EXPECT_EQ(1, plain.OnRead(0));
  EXPECT_EQ(0, plain.OnRead(10054));

  testing::CheckRecorder recorder;
  RecordingSocket socket;
  EXPECT_EQ(1, socket.HandleEvent(0, 0));
  EXPECT_EQ(1, socket.HandleEvent(kNetOutOfBand, 0));
  EXPECT_EQ(7, socket.HandleEvent(kNetRead, 10054));
  EXPECT_EQ(7, socket.HandleEvent(kNetAddressListChange, 10050));
  EXPECT_EQ(0, socket.HandleEvent(kNetClose, 0));
  EXPECT_EQ(0, recorder.count());
  EXPECT_EQ(1, socket.HandleEvent(kNetRead | kNetWrite, 0));
  EXPECT_EQ(1, recorder.count());
  const std::vector<std::pair<int, int>> expected = {
      {kNetRead, 10054}, {kNetAddressListChange, 10050}, {kNetClose, 0}};
  EXPECT_EQ(expected, socket.errors);
}

TEST(Socket, ProcessNetworkEventsDispatchesInBitOrderUntilAZero) {
  RecordingSocket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.14", client, peer));
  // Windows: the events signal this event; POSIX: the descriptor's readiness is waited on.
  SignalEvent event;
  void* const native = reinterpret_cast<void*>(event.Source().native);
  ASSERT_EQ(1, SetEventMask(client.handle(), native, kNetRead | kNetClose));
  testing::SetAbortiveClose(peer);
  peer.Close();
  const WaitSource source = NetworkWaitSource(client.handle(), event, false);
  ASSERT_EQ(kWaitObject0, WaitForFirst(&source, 1, 5000));
  // Windows and POSIX report the reset with the close; Wine reports a reset close as a graceful
  // one. Only a close without an error makes OnError give the 0 that ends the dispatch.
  const int reset = testing::RunningUnderWine() ? 0 : testing::kErrorConnectionReset;
  EXPECT_EQ(reset == 0 ? 0 : 1, client.ProcessNetworkEvents());
  ASSERT_FALSE(client.errors.empty());
  EXPECT_EQ(kNetClose, client.errors.back().first);
  EXPECT_EQ(reset, client.errors.back().second);
  EXPECT_EQ(1, SetEventMask(client.handle(), native, 0));
}

TEST(Socket, DatagramsTravelBetweenTextAddresses) {
  Socket receiver;
  Socket sender;
  ASSERT_EQ(1, receiver.Create(0, SOCK_DGRAM, std::string("127.0.0.13")));
  ASSERT_EQ(1, sender.Create(0, SOCK_DGRAM, std::string("127.0.0.13")));
  std::string address;
  uint16_t receiverPort = 0;
  uint16_t senderPort = 0;
  ASSERT_EQ(1, receiver.GetSockName(address, receiverPort));
  ASSERT_EQ(1, sender.GetSockName(address, senderPort));
  ASSERT_EQ(4, sender.SendTo("ping", 4, std::wstring(L"127.0.0.13"), receiverPort, 0));
  char data[16] = {};
  std::string from;
  uint16_t fromPort = 0;
  ASSERT_EQ(4, receiver.ReceiveFrom(data, sizeof(data), from, fromPort, 0));
  EXPECT_EQ("ping", std::string(data, 4));
  // Wine reports every loopback source as 127.0.0.1.
  EXPECT_EQ(testing::RunningUnderWine() ? "127.0.0.1" : "127.0.0.13", from);
  EXPECT_EQ(senderPort, fromPort);
  if (testing::kSystemNameLookupTestable) {
    EXPECT_EQ(SOCKET_ERROR, sender.SendTo("x", 1, kUnresolvableName, receiverPort, 0));
    EXPECT_EQ(kSocketErrorInvalid, testing::SocketError());
  }
}

TEST(Socket, EmptySendTargetIsTheBroadcastAddress) {
  sockaddr_in sockAddr = {};
  ASSERT_EQ(1, Socket::ResolveSendTarget("", 4000, &sockAddr));
  EXPECT_EQ(INADDR_BROADCAST, sockAddr.sin_addr.s_addr);
  EXPECT_EQ(::htons(4000), sockAddr.sin_port);
  ASSERT_EQ(1, Socket::ResolveSendTarget(std::wstring(L"127.0.0.13"), 4000, &sockAddr));
  EXPECT_EQ(::htonl(0x7F00000D), sockAddr.sin_addr.s_addr);
  ASSERT_EQ(1, Socket::ResolveSendTarget(std::wstring(), 4000, &sockAddr));
  EXPECT_EQ(INADDR_BROADCAST, sockAddr.sin_addr.s_addr);
}

TEST(PickLocalAddress, PrefersTheFirstAddressOutsideTen) {
  char ten[] = {10, 1, 2, 3};
  char other[] = {static_cast<char>(192), static_cast<char>(168), 0, 5};
  char* onlyTen[] = {ten, nullptr};
  char* both[] = {ten, other, nullptr};
  char* none[] = {nullptr};
  std::string out = "stale";
  EXPECT_EQ(1, PickLocalAddress(onlyTen, 1, out));
  EXPECT_EQ("10.1.2.3", out);
  EXPECT_EQ(1, PickLocalAddress(both, 1, out));
  EXPECT_EQ("192.168.0.5", out);
  EXPECT_EQ(1, PickLocalAddress(both, 0, out));
  EXPECT_EQ("10.1.2.3", out);
  EXPECT_EQ(0, PickLocalAddress(none, 1, out));
  EXPECT_EQ("", out);
  EXPECT_EQ(0, PickLocalAddress(nullptr, 0, out));
}

#ifdef _WIN32
bool Inheritable(SOCKET handle) {
  DWORD flags = 0;
  EXPECT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags)) << ::GetLastError();
  return (flags & HANDLE_FLAG_INHERIT) != 0;
}

// A process the host starts with handle inheritance on must not hold our connection open.
TEST(Socket, HandlesAreNotInheritable) {
  Socket bound;
  ASSERT_EQ(1, bound.Create(0, SOCK_STREAM, std::string("127.0.0.14")));
  EXPECT_FALSE(Inheritable(bound.handle()));
  Socket opened;
  ASSERT_EQ(1, opened.OpenSocket(SOCK_DGRAM, 0, AF_INET));
  EXPECT_FALSE(Inheritable(opened.handle()));
  Socket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.14", client, peer));
  EXPECT_FALSE(Inheritable(client.handle()));
}

// POSIX has no socket service to start: its start-up always succeeds.
TEST(StartupSockets, FailsAndUndoesAGrantOtherThanTheRequestedVersion) {
  EXPECT_EQ(1, StartupSockets(kSocketVersion20));
  EXPECT_EQ(1, CleanupSockets());
  // Version 3.0 does not exist: the grant is a lower version, which is refused and undone.
  EXPECT_EQ(0, StartupSockets(0x0003));
  Socket socket;
  EXPECT_EQ(1, socket.OpenSocket(SOCK_STREAM, 0, AF_INET));
}
#endif

}  // namespace
}  // namespace vexil
