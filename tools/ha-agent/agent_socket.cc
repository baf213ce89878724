// The parts of agent_socket.h that are the same on every platform.
#include "ha-agent/agent_socket.h"

namespace vexil::tools {

TcpStream::~TcpStream() { Close(); }

TcpStream::TcpStream(TcpStream&& other) noexcept
    : handle_(other.handle_), peer_(std::move(other.peer_)) {
  other.handle_ = -1;
}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    peer_ = std::move(other.peer_);
    other.handle_ = -1;
  }
  return *this;
}

bool TcpStream::is_open() const { return handle_ != -1; }

}  // namespace vexil::tools
