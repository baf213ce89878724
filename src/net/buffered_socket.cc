#include "net/buffered_socket.h"

namespace vexil {

namespace {

// The read and write notifications of both buffered classes: the base rule for a reported error,
// then the buffer transfer, whose failure goes to OnError with the event's own error code.
template <typename Buffered>
int ReadIntoBuffer(Buffered& socket, int error) {
  if (!socket.Socket::OnRead(error)) return 0;
  if (socket.FillReceiveBuffer()) return 1;
  return socket.OnError(kNetRead, error);
}

template <typename Buffered>
int WriteFromBuffer(Buffered& socket, int error) {
  if (!socket.Socket::OnWrite(error)) return 0;
  if (socket.FlushSend()) return 1;
  return socket.OnError(kNetWrite, error);
}

}  // namespace

void StreamBufferedSocket::Close() {
  receive_buffer_.Clear();
  send_buffers_.clear();
  unsent_bytes_ = 0;
  Socket::Close();
}

int StreamBufferedSocket::OnRead(int error) { return ReadIntoBuffer(*this, error); }

int StreamBufferedSocket::OnWrite(int error) { return WriteFromBuffer(*this, error); }

int StreamBufferedSocket::FillReceiveBuffer() {
  const unsigned before = receive_buffer_.Size();
  const int result = ReceiveAvailable(handle(), receive_buffer_);
  if (traffic_ != nullptr && receive_buffer_.Size() > before) {
    traffic_->received.fetch_add(receive_buffer_.Size() - before, std::memory_order_relaxed);
  }
  return result;
}

int StreamBufferedSocket::FlushSend() {
  size_t sent = 0;
  const int result = FlushSendQueue(handle(), send_buffers_, &sent);
  // Bytes pushed onto SendBuffers directly may be sent without having been counted.
  unsent_bytes_ = sent < unsent_bytes_ ? unsent_bytes_ - sent : 0;
  if (traffic_ != nullptr) traffic_->sent.fetch_add(sent, std::memory_order_relaxed);
  return result;
}

void StreamBufferedSocket::Queue(const BufferPtr& data) {
  send_buffers_.push_back(data);
  unsent_bytes_ += data.Size();
}

void StreamBufferedSocket::QueueFirstOf(SendBufferList* from) {
  unsent_bytes_ += from->front().Size();
  send_buffers_.splice(send_buffers_.end(), *from, from->begin());
}

int StreamBufferedSocket::Send(const BufferPtr& data) {
  Queue(data);
  return FlushSend();
}

void StringBufferedSocket::Close() {
  receive_text_.clear();
  send_text_.clear();
  Socket::Close();
}

int StringBufferedSocket::OnRead(int error) { return ReadIntoBuffer(*this, error); }

int StringBufferedSocket::OnWrite(int error) { return WriteFromBuffer(*this, error); }

int StringBufferedSocket::FillReceiveBuffer() { return ReceivePending(handle(), receive_text_); }

int StringBufferedSocket::FlushSend() { return SendPending(handle(), send_text_); }

int StringBufferedSocket::Send(const std::string& data) {
  send_text_.append(data);
  return FlushSend();
}

}  // namespace vexil
