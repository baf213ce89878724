// The simulator's own small socket layer: one listening socket and one connected stream, over
// POSIX sockets natively and over Winsock in the Windows build (agent_socket_posix.cc and
// agent_socket_win.cc). IPv4 only; addresses are literal dotted quads.
#ifndef VEXIL_TOOLS_HA_AGENT_AGENT_SOCKET_H_
#define VEXIL_TOOLS_HA_AGENT_AGENT_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace vexil::tools {

// Starts the socket service for the lifetime of the object (Winsock needs it; POSIX does not).
// Create one before any socket and keep it until every socket is closed.
class SocketService {
 public:
  SocketService();
  ~SocketService();
  SocketService(const SocketService&) = delete;
  SocketService& operator=(const SocketService&) = delete;

  bool started() const { return started_; }

 private:
  bool started_ = false;
};

enum class IoResult { kDone, kTimedOut, kClosed, kFailed };

// Owns one connected TCP socket and closes it when destroyed. Used by one thread at a time.
class TcpStream {
 public:
  TcpStream() = default;
  ~TcpStream();
  TcpStream(TcpStream&& other) noexcept;
  TcpStream& operator=(TcpStream&& other) noexcept;
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  bool is_open() const;
  const std::string& peer() const { return peer_; }

  // Connects to address:port (a client, for tests); false with the system's text in *error.
  bool Connect(const std::string& address, uint16_t port, std::string* error);
  // Sends every byte, looping over short sends. kFailed when the peer has gone.
  IoResult SendAll(const uint8_t* data, size_t size);
  // Waits at most timeout_ms for bytes, then reads what is there (at most capacity) into
  // *received. kClosed is the peer's orderly close.
  IoResult Receive(uint8_t* buffer, size_t capacity, int timeout_ms, size_t* received);
  // Shuts down both directions and closes; a no-op when not open.
  void Close();
  // Closes with an abortive reset (linger zero): the peer sees a reset, not an orderly close.
  void Reset();
  // Shuts down the sending direction only; the stream stays open for receiving.
  void ShutdownSend();
  // The system's text for the last failure on this thread.
  static std::string LastErrorText();

 private:
  friend class TcpListener;
  TcpStream(intptr_t handle, std::string peer) : handle_(handle), peer_(std::move(peer)) {}

  intptr_t handle_ = -1;  // the socket descriptor or SOCKET; -1 when not open
  std::string peer_;      // "address:port" of the other end
};

// Owns one listening socket. Used by one thread at a time.
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener() { Close(); }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds address:port (port 0 picks a free one) and listens; false with a text in *error.
  bool Listen(const std::string& address, uint16_t port, std::string* error);
  // The port actually bound.
  uint16_t port() const { return port_; }
  // Waits at most timeout_ms for one connection; kDone moves it into *stream.
  IoResult Accept(int timeout_ms, TcpStream* stream);
  // Stops listening; a later Listen may bind again. A no-op when not listening.
  void Close();

 private:
  intptr_t handle_ = -1;
  uint16_t port_ = 0;
};

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_HA_AGENT_AGENT_SOCKET_H_
