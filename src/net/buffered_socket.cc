#include "net/buffered_socket.h"

namespace vexil {

void StreamBufferedSocket::Close() {
  receive_buffer_.Clear();
  send_buffers_.clear();
  Socket::Close();
}

int StreamBufferedSocket::OnRead(int error) {
  if (!Socket::OnRead(error)) return 0;
  if (FillReceiveBuffer()) return 1;
  return OnError(FD_READ, error);
}

int StreamBufferedSocket::OnWrite(int error) {
  if (!Socket::OnWrite(error)) return 0;
  if (FlushSend()) return 1;
  return OnError(FD_WRITE, error);
}

int StreamBufferedSocket::FillReceiveBuffer() { return ReceivePending(handle(), receive_buffer_); }

int StreamBufferedSocket::FlushSend() { return FlushSendQueue(handle(), send_buffers_); }

int StreamBufferedSocket::Send(const BufferPtr& data) {
  send_buffers_.push_back(data);
  return FlushSend();
}

void StringBufferedSocket::Close() {
  receive_text_.clear();
  send_text_.clear();
  Socket::Close();
}

int StringBufferedSocket::OnRead(int error) {
  if (!Socket::OnRead(error)) return 0;
  if (FillReceiveBuffer()) return 1;
  return OnError(FD_READ, error);
}

int StringBufferedSocket::OnWrite(int error) {
  if (!Socket::OnWrite(error)) return 0;
  if (FlushSend()) return 1;
  return OnError(FD_WRITE, error);
}

int StringBufferedSocket::FillReceiveBuffer() { return ReceivePending(handle(), receive_text_); }

int StringBufferedSocket::FlushSend() { return SendPending(handle(), send_text_); }

int StringBufferedSocket::Send(const std::string& data) {
  send_text_.append(data);
  return FlushSend();
}

}  // namespace vexil
