#include "net/loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "net/native_socket.h"
#include "sync/last_error.h"
#ifdef _WIN32
#include "sync/win32.h"
#endif

namespace vexil::testing {
namespace {

class SocketServiceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(1, StartupSockets(kSocketVersion20)); }
  void TearDown() override { CleanupSockets(); }
};

// gtest owns and deletes the environment.
const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new SocketServiceEnvironment);

}  // namespace

int SocketError() { return static_cast<int>(LastErrorCode()); }

bool ConnectPair(const char* address, Socket& client, Socket& peer) {
  Socket listener;
  uint16_t port = 0;
  std::string bound;
  if (!listener.Create(0, SOCK_STREAM, std::string(address)) || !listener.Listen(1) ||
      !listener.GetSockName(bound, port)) {
    ADD_FAILURE() << "listener on " << address << ": " << SocketError();
    return false;
  }
  if (!client.OpenSocket(SOCK_STREAM, 0, AF_INET) || !client.Connect(std::string(address), port)) {
    ADD_FAILURE() << "connect to " << address << ":" << port << ": " << SocketError();
    return false;
  }
  if (!peer.Attach(listener.Accept(nullptr, nullptr))) {
    ADD_FAILURE() << "accept: " << SocketError();
    return false;
  }
  return true;
}

bool WaitPending(SOCKET handle, unsigned count) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    unsigned pending = 0;
    if (!PendingByteCount(handle, &pending)) return false;
    if (pending >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << count << " bytes never arrived";
  return false;
}

bool SendBytes(Socket& from, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const int n = from.Send(bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0) {
      ADD_FAILURE() << "send: " << SocketError();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveBytes(Socket& on, unsigned count) {
  std::vector<char> chunk(65536);
  while (count > 0) {
    const int n =
        on.Receive(chunk.data(), static_cast<int>(std::min<size_t>(count, chunk.size())), 0);
    if (n <= 0) {
      ADD_FAILURE() << "receive: " << SocketError() << " with " << count << " bytes to go";
      return false;
    }
    count -= static_cast<unsigned>(n);
  }
  return true;
}

void SetAbortiveClose(Socket& socket) {
  const linger option = {1, 0};
  EXPECT_EQ(1, socket.SetOption(SO_LINGER, &option, sizeof(option)));
}

}  // namespace vexil::testing
