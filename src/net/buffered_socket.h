// The buffered sockets: StreamBufferedSocket keeps its received bytes in a ByteBuffer and its
// outgoing bytes as a list of ByteBuffers; StringBufferedSocket keeps both as narrow strings.
// One thread at a time (the connection worker) uses an object.
#ifndef VEXIL_NET_BUFFERED_SOCKET_H_
#define VEXIL_NET_BUFFERED_SOCKET_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "net/socket.h"
#include "net/transfer.h"
#include "util/buffer_ptr.h"

namespace vexil {

// Running totals of the bytes one or more sockets sent and received, read by any thread.
struct TrafficTotals {
  std::atomic<uint64_t> sent{0};
  std::atomic<uint64_t> received{0};
};

class StreamBufferedSocket : public Socket {
 public:
  StreamBufferedSocket() = default;

  // From now on the bytes the system takes from this socket and those it receives are added to
  // *totals (null: to none), which must outlive the socket.
  void CountTrafficIn(TrafficTotals* totals) { traffic_ = totals; }

  // Drops every buffered byte in both directions, then closes the handle.
  void Close() override;
  // The base rule for a reported error; then receives what is pending. A failed receive (the peer
  // closing included) gives OnError (kNetRead, error).
  int OnRead(int error) override;
  // The base rule for a reported error; then sends queued buffers. A failed send gives
  // OnError (kNetWrite, error).
  int OnWrite(int error) override;
  // Slot 19: appends the bytes waiting on the socket to the receive buffer (ReceiveAvailable:
  // the socket must be non-blocking, as an event selection leaves it).
  virtual int FillReceiveBuffer();
  // Slot 20: sends queued buffers until the system would block.
  virtual int FlushSend();
  // Slot 21: queues a second reference to data, then flushes. The caller may release its own
  // holder as soon as this returns; the queue keeps the bytes until they are sent, also when the
  // flush failed.
  virtual int Send(const BufferPtr& data);
  using Socket::Send;
  // Queues a second reference to data without sending: a caller with several buffers queues them
  // all, then flushes once, so they leave in as few system calls as possible.
  void Queue(const BufferPtr& data);
  // Queues the first buffer of *from itself, moved without copying its bytes; *from must not be
  // empty.
  void QueueFirstOf(SendBufferList* from);

  // Received bytes not yet consumed; the frame reader consumes from the front.
  BufferPtr& ReceiveBuffer() { return receive_buffer_; }
  // Buffers added here directly, not through Send, are not counted by UnsentBytes.
  SendBufferList& SendBuffers() { return send_buffers_; }
  // Bytes given to Send that the system has not taken yet; kept as a count, so reading it costs
  // nothing however long the list has grown.
  size_t UnsentBytes() const { return unsent_bytes_; }

 private:
  BufferPtr receive_buffer_;
  SendBufferList send_buffers_;
  size_t unsent_bytes_ = 0;
  TrafficTotals* traffic_ = nullptr;
};

class StringBufferedSocket : public Socket {
 public:
  StringBufferedSocket() = default;

  void Close() override;
  int OnRead(int error) override;
  int OnWrite(int error) override;
  virtual int FillReceiveBuffer();
  virtual int FlushSend();
  // Appends data to the send text, then flushes.
  virtual int Send(const std::string& data);
  using Socket::Send;

  std::string& ReceiveBuffer() { return receive_text_; }
  std::string& SendBuffers() { return send_text_; }

 private:
  std::string receive_text_;
  std::string send_text_;
};

}  // namespace vexil

#endif  // VEXIL_NET_BUFFERED_SOCKET_H_
