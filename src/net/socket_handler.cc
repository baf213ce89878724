#include "net/socket_handler.h"

#include "net/socket_service.h"
#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/last_error.h"

namespace vexil {

namespace {

// The send queue is flushed twice per writability notification: the second pass catches what the
// system accepted while the first was being handled. The receive needs no second pass: it reads
// until the socket is empty.
constexpr int kSendPasses = 2;

}  // namespace

int EnumerateNetworkEvents(StreamBufferedSocket* socket, WsaEvent& event,
                           NetworkEventReport* report) {
  WSANETWORKEVENTS wsaEvents = {};
  // Given the event, the enumeration resets it in the same request: no separate reset before it.
  if (::WSAEnumNetworkEvents(SocketHandle(socket), event.GetHandle(), &wsaEvents) != 0) return 0;
  report->events = wsaEvents.lNetworkEvents;
  for (int index = 0; index < FD_MAX_EVENTS; ++index) {
    report->errors[index] = wsaEvents.iErrorCode[index];
  }
  return 1;
}

void EventSelector::OnSignaled() {}

int EventSelector::EventSelect(SOCKET handle, long mask) {
  return ::WSAEventSelect(handle, event_.GetHandle(), mask) == 0 ? 1 : 0;
}

SocketHandler::~SocketHandler() = default;

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
    const int error = ::WSAGetLastError();
    // The manual-reset event stays signalled after a failed enumeration: reset it here, or the
    // waiter would wake on it for ever.
    NetworkEvent().Reset();
    ReportSocketError(socket, 0, error);
    return;
  }
  for (int index = 0; index < FD_MAX_EVENTS; ++index) {
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
    case FD_READ:
      return OnRead(socket, error);
    case FD_WRITE:
      return OnWrite(socket, error);
    case FD_OOB:
      return OnOutOfBand(socket, error);
    case FD_ACCEPT:
      return OnAccept(socket, error);
    case FD_CONNECT:
      return OnConnect(socket, error);
    case FD_CLOSE:
      return OnClose(socket, error);
    case FD_QOS:
      return OnQos(socket, error);
    case FD_GROUP_QOS:
      return OnGroupQos(socket, error);
    case FD_ROUTING_INTERFACE_CHANGE:
      return OnRoutingInterfaceChange(socket, error);
    case FD_ADDRESS_LIST_CHANGE:
      return OnAddressListChange(socket, error);
    default:
      CheckFailed();
      return 1;
  }
}

int SocketHandler::OnRead(StreamBufferedSocket* socket, int error) {
  if (error != 0) return ReportSocketError(socket, FD_READ, error);
  if (!socket->OnRead(0)) return ReportSocketError(socket, FD_READ, ::WSAGetLastError());
  return DeliverFrames(socket);
}

int SocketHandler::OnWrite(StreamBufferedSocket* socket, int error) {
  if (error != 0) return ReportSocketError(socket, FD_WRITE, error);
  for (int pass = 0; pass < kSendPasses; ++pass) {
    if (!socket->OnWrite(0)) {
      return ReportSocketError(socket, FD_WRITE, ::WSAGetLastError());
    }
  }
  return 1;
}

int SocketHandler::OnOutOfBand(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_OOB, error);
}
int SocketHandler::OnAccept(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_ACCEPT, error);
}
int SocketHandler::OnConnect(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_CONNECT, error);
}
int SocketHandler::OnClose(StreamBufferedSocket* socket, int error) {
  return ReportSocketError(socket, FD_CLOSE, error);
}
int SocketHandler::OnQos(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_QOS, error);
}
int SocketHandler::OnGroupQos(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_GROUP_QOS, error);
}
int SocketHandler::OnRoutingInterfaceChange(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_ROUTING_INTERFACE_CHANGE, error);
}
int SocketHandler::OnAddressListChange(StreamBufferedSocket* socket, int error) {
  return ReportIfError(socket, FD_ADDRESS_LIST_CHANGE, error);
}

int SocketHandler::OnSocketError(StreamBufferedSocket*, int, int) { return 0; }

int SocketHandler::AttachSocket(StreamBufferedSocket* socket, long mask) {
  if (!EventSelect(SocketHandle(socket), mask)) return 0;
  if (socket != attached_.get()) attached_.reset(socket);
  return 1;
}

StreamBufferedSocket* SocketHandler::DetachSocket() {
  if (attached_ == nullptr) {
    CheckFailed();
    return nullptr;
  }
  EventSelect(attached_->handle(), 0);
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
  // Every frame read consumes at least its 4-byte length, so the loop ends with the buffer.
  for (;;) {
    AgentMsg msg;
    if (!ReadFrame(msg, buffer)) {
      const uint32_t error = LastErrorCode();
      if (error == kErrorIncompleteFrame) return 1;
      return ReportSocketError(socket, FD_READ, static_cast<int>(error));
    }
    if (!OnAgentMessage(socket, msg)) return 0;
  }
}

}  // namespace vexil
