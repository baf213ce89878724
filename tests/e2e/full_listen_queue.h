// A listener whose queue of unaccepted connections is full. Windows build only.
#ifndef VEXIL_TESTS_E2E_FULL_LISTEN_QUEUE_H_
#define VEXIL_TESTS_E2E_FULL_LISTEN_QUEUE_H_

#include <winsock2.h>  // before <windows.h>
#include <windows.h>

#include <vector>

namespace vexil::testing {

// A listener on address:8990 whose queue of unaccepted connections is full, so that the system
// drops further connection requests instead of refusing them: a connect to it neither completes
// nor fails for a long time.
class FullListenQueue {
 public:
  explicit FullListenQueue(const char* address) {
    // Its own reference to the socket service: a test may build one before anything else starts
    // it.
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 0), &data) == 0;
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = ::htons(8990);
    where.sin_addr.s_addr = ::inet_addr(address);
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener_, 0) != 0) {
      return;
    }
    // Connections that are never accepted, until one is left unanswered.
    for (int i = 0; i < 16 && !full_; ++i) {
      const SOCKET client = ::socket(AF_INET, SOCK_STREAM, 0);
      u_long non_blocking = 1;
      ::ioctlsocket(client, FIONBIO, &non_blocking);
      ::connect(client, reinterpret_cast<sockaddr*>(&where), sizeof where);
      clients_.push_back(client);
      fd_set writable;
      FD_ZERO(&writable);
      FD_SET(client, &writable);
      fd_set failed = writable;
      timeval limit{0, 300000};
      full_ = ::select(0, nullptr, &writable, &failed, &limit) == 0;
    }
  }
  FullListenQueue(const FullListenQueue&) = delete;
  FullListenQueue& operator=(const FullListenQueue&) = delete;
  ~FullListenQueue() {
    for (SOCKET client : clients_) ::closesocket(client);
    ::closesocket(listener_);
    if (started_) ::WSACleanup();
  }
  bool full() const { return full_; }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  std::vector<SOCKET> clients_;
  bool full_ = false;
  bool started_ = false;
};

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_E2E_FULL_LISTEN_QUEUE_H_
