#include "net/socket_handler.h"

#include "net/native_socket.h"
#include "net/socket_service.h"
#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/last_error.h"

namespace vexil {

namespace {

// Only bytes waiting to leave, or a connect under way, make room to write worth waking for.
bool WantsWrite(const StreamBufferedSocket* socket) {
  return socket != nullptr && (socket->UnsentBytes() > 0 || socket->connect_pending());
}

// The send queue is flushed twice per writability notification: the second pass catches what the
// system accepted while the first was being handled. The receive needs no second pass: what one
// read event leaves shows as another.
constexpr int kSendPasses = 2;

}  // namespace

int EnumerateSocketEvents(StreamBufferedSocket* socket, SignalEvent& event,
                          NetworkEventReport* report) {
  return EnumerateNetworkEvents(SocketHandle(socket), &event, WantsWrite(socket),
                                socket != nullptr && socket->connect_pending(), report);
}

void EventSelector::OnSignaled() {}

int EventSelector::EventSelect(SOCKET handle, long mask) {
  return SelectNetworkEvents(handle, event_, mask);
}

SocketHandler::~SocketHandler() = default;

WaitSource SocketHandler::NetworkWaitSource() const {
  const SOCKET handle = SocketHandle(attached_.get());
  return vexil::NetworkWaitSource(handle, NetworkEvent(), WantsWrite(attached_.get()));
}

void SocketHandler::OnSignaled() {
  if (attached_ != nullptr) HandleNetworkEvents(attached_.get());
}

void SocketHandler::HandleNetworkEvents(StreamBufferedSocket* socket) {
  const SOCKET handle = SocketHandle(socket);
  if (handle == INVALID_SOCKET) {
    CheckFailed();
    return;
  }
  NetworkEventReport report;
  if (!enumerate_(socket, NetworkEvent(), &report)) {
    const int error = static_cast<int>(LastErrorCode());
    // The manual-reset event stays signalled after a failed enumeration: reset it here, or the
    // waiter would wake on it for ever.
    NetworkEvent().Reset();
    ReportSocketError(socket, 0, error);
    return;
  }
  // The connect's outcome is its last event.
  if (report.events & kNetConnect) socket->EndConnect();
  if (close_pending_) report.events |= kNetClose;
  for (int index = 0; index < kNetworkEventCount; ++index) {
    const int bit = 1 << index;
    if ((report.events & bit) == 0) continue;
    error_reported_ = false;
    // After an error notification the socket may be gone: read nothing more from it.
    if (!HandleEvent(socket, bit, report.errors[index]) || error_reported_) return;
  }
}

int SocketHandler::HandleEvent(StreamBufferedSocket* socket, int event, int error) {
  switch (event) {
    case 0:
      return 1;
    case kNetRead:
      return OnRead(socket, error);
    case kNetWrite:
      return OnWrite(socket, error);
    case kNetOutOfBand:
      return OnOutOfBand(socket, error);
    case kNetAccept:
      return OnAccept(socket, error);
    case kNetConnect:
      return OnConnect(socket, error);
    case kNetClose:
      return OnClose(socket, error);
    case kNetQos:
      return OnQos(socket, error);
    case kNetGroupQos:
      return OnGroupQos(socket, error);
    case kNetRoutingInterfaceChange:
      return OnRoutingInterfaceChange(socket, error);
    case kNetAddressListChange:
      return OnAddressListChange(socket, error);
    default:
      CheckFailed();
      return 1;
  }
}

int SocketHandler::OnRead(StreamBufferedSocket* socket, int error) {
  if (error != 0) return ReportSocketError(socket, kNetRead, error);
  if (!socket->OnRead(0))
    return ReportSocketError(socket, kNetRead, static_cast<int>(LastErrorCode()));
  return DeliverFrames(socket);
}

int SocketHandler::OnWrite(StreamBufferedSocket* socket, int error) {
  if (error != 0) return ReportSocketError(socket, kNetWrite, error);
  for (int pass = 0; pass < kSendPasses; ++pass) {
    if (!socket->OnWrite(0)) {
      return ReportSocketError(socket, kNetWrite, static_cast<int>(LastErrorCode()));
    }
  }
  return 1;
}

int SocketHandler::OnOutOfBand(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetOutOfBand, error);
}
int SocketHandler::OnAccept(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetAccept, error);
}
int SocketHandler::OnConnect(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetConnect, error);
}
int SocketHandler::OnClose(StreamBufferedSocket* socket, int error) {
  close_pending_ = false;
  // A reset discards what was not read yet: there is nothing left to take.
  if (error != 0) return ReportSocketError(socket, kNetClose, error);
  // The close may come while more is unread than one read event takes (Windows records it once,
  // however much is left), and nothing follows it: what the peer sent before closing is read
  // to its end now, or it is lost with the connection. After the peer's close nothing more can
  // arrive, so the loop ends with what the system holds.
  BufferPtr& buffer = socket->ReceiveBuffer();
  // From here it tells whether a delivery reported an error, after which the socket may be gone.
  error_reported_ = false;
  for (;;) {
    const unsigned before = buffer.Size();
    if (!socket->OnRead(0))
      return ReportSocketError(socket, kNetClose, static_cast<int>(LastErrorCode()));
    const bool received = buffer.Size() > before;
    const int result = DeliverFrames(socket);
    if (error_reported_) return result;
    if (!result) {
      // The handler stopped this dispatch: the rest, and then the close, come with the next one,
      // unless it has let go of this socket.
      if (socket == attached_.get()) {
        close_pending_ = true;
        KeepNetworkEventSignalled(NetworkEvent());
      }
      return 0;
    }
    if (!received) break;
  }
  return ReportSocketError(socket, kNetClose, 0);
}
int SocketHandler::OnQos(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetQos, error);
}
int SocketHandler::OnGroupQos(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetGroupQos, error);
}
int SocketHandler::OnRoutingInterfaceChange(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetRoutingInterfaceChange, error);
}
int SocketHandler::OnAddressListChange(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, kNetAddressListChange, error);
}

int SocketHandler::OnSocketError(StreamBufferedSocket*, int, int) { return 0; }

int SocketHandler::AttachSocket(StreamBufferedSocket* socket, long mask) {
  if (!EventSelect(SocketHandle(socket), mask)) return 0;
  if (socket != attached_.get()) {
    attached_.reset(socket);
    close_pending_ = false;
  }
  return 1;
}

StreamBufferedSocket* SocketHandler::DetachSocket() {
  if (attached_ == nullptr) {
    CheckFailed();
    return nullptr;
  }
  EventSelect(attached_->handle(), 0);
  close_pending_ = false;
  return attached_.release();
}

int SocketHandler::ReportSocketError(StreamBufferedSocket* socket, int event, int error) {
  error_reported_ = true;
  const int result = OnSocketError(socket, event, error);
  // A dispatch nested in the notification (the connector's reconnect waits for its connect event)
  // clears the mark; this one must still end here.
  error_reported_ = true;
  return result;
}

int SocketHandler::ReportIfError(StreamBufferedSocket* socket, int event, int error) {
  return error != 0 ? ReportSocketError(socket, event, error) : 1;
}

int SocketHandler::DeliverFrames(StreamBufferedSocket* socket) {
  BufferPtr& buffer = socket->ReceiveBuffer();
  // One message for the whole read: a frame of the tag before reuses its body.
  AgentMsg msg;
  // Every frame read consumes at least its 4-byte length, so the loop ends with the buffer.
  for (;;) {
    if (!ReadFrame(msg, buffer)) {
      const uint32_t error = LastErrorCode();
      if (error == kErrorIncompleteFrame) return 1;
      return ReportSocketError(socket, kNetRead, static_cast<int>(error));
    }
    if (!OnAgentMessage(socket, msg)) return 0;
  }
}

}  // namespace vexil
