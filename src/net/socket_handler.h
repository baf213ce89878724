// EventSelector owns the event that sockets' network events are bound to (Windows; on POSIX the
// descriptor's own readiness is waited on); SocketHandler serves the one attached
// StreamBufferedSocket: it enumerates the socket's network events, receives, cuts frames out of
// the received bytes, hands each AgentMsg to OnAgentMessage, sends, and reports every error
// through OnSocketError. Everything runs on the thread that waits on NetworkWaitSource, and
// nothing here locks.
#ifndef VEXIL_NET_SOCKET_HANDLER_H_
#define VEXIL_NET_SOCKET_HANDLER_H_

#include <memory>

#include "net/buffered_socket.h"
#include "orvel/messages.h"
#include "sync/ordered_wait.h"
#include "sync/signal_event.h"

namespace vexil {

class EventSelector {
 public:
  EventSelector() = default;
  EventSelector(const EventSelector&) = delete;
  EventSelector& operator=(const EventSelector&) = delete;

  // Slot 0: the event was signalled.
  virtual void OnSignaled();

  // Selects the network events in mask (kAllNetworkEvents and the like) of handle, which becomes
  // non-blocking; a mask of 0 deselects them and makes it blocking again. 1 on success.
  int EventSelect(SOCKET handle, long mask);
  // Windows: the event that attached sockets signal; the enumeration in OnSignaled resets it, so
  // the waiter does not. POSIX: never signalled by a socket.
  SignalEvent& NetworkEvent() { return event_; }
  const SignalEvent& NetworkEvent() const { return event_; }

 protected:
  // Not deleted through this class: slot 0 stays OnSignaled.
  ~EventSelector() = default;

 private:
  SignalEvent event_;
};

// Enumerates the socket's network events (Windows: and resets event in the same request; POSIX:
// from its readiness, see EnumerateNetworkEvents in native_socket.h); 1 on success, 0 with the
// cause in the last error. The handler calls it through a pointer, so that a test can make the
// enumeration fail.
using EnumerateSocketEventsFn = int (*)(StreamBufferedSocket* socket, SignalEvent& event,
                                        NetworkEventReport* report);
// The system's enumeration, the handler's default.
int EnumerateSocketEvents(StreamBufferedSocket* socket, SignalEvent& event,
                          NetworkEventReport* report);

class SocketHandler : public EventSelector {
 public:
  SocketHandler() = default;

  // The virtual operations keep this order. Each returns 0 to stop dispatching for this signal.
  // Slot 0: serves the attached socket, if any.
  void OnSignaled() override;
  // Slot 1: enumerates the socket's events (resetting the event) and handles each
  // reported bit in index order; stops at the first 0 result and after any error notification.
  // A failed enumeration is an error of the connection: the event is reset and OnSocketError
  // gets (0, the enumeration's error), so the waiter is never woken again for nothing.
  virtual void HandleNetworkEvents(StreamBufferedSocket* socket);
  // Slot 2: maps one event bit to slots 3 to 12; event 0 gives 1.
  virtual int HandleEvent(StreamBufferedSocket* socket, int event, int error);
  // Slot 3: receives what is waiting, at most what one receive takes (ReceiveAvailable; more shows
  // as another read event, so that one busy connection cannot hold the thread), then delivers
  // every complete frame; an incomplete tail stays in the receive buffer.
  virtual int OnRead(StreamBufferedSocket* socket, int error);
  // Slot 4: sends queued buffers, twice.
  virtual int OnWrite(StreamBufferedSocket* socket, int error);
  // Slots 5 to 12: a nonzero error is reported, error 0 gives 1; OnClose always reports
  // (kNetClose, error), error 0 meaning a graceful close. Before a graceful close is reported,
  // OnClose receives until the socket is empty and delivers every complete frame; a failed
  // receive is reported as the close's error instead. A 0 from OnAgentMessage ends the dispatch
  // there: the rest and the close come with the next one, for which the event is kept signalled.
  virtual int OnOutOfBand(StreamBufferedSocket* socket, int error);
  virtual int OnAccept(StreamBufferedSocket* socket, int error);
  virtual int OnConnect(StreamBufferedSocket* socket, int error);
  virtual int OnClose(StreamBufferedSocket* socket, int error);
  virtual int OnQos(StreamBufferedSocket* socket, int error);
  virtual int OnGroupQos(StreamBufferedSocket* socket, int error);
  virtual int OnRoutingInterfaceChange(StreamBufferedSocket* socket, int error);
  virtual int OnAddressListChange(StreamBufferedSocket* socket, int error);
  // Slot 13: the error notification, final for the socket in this dispatch. An override may
  // detach and delete the socket: the handler touches it no more once this returns.
  virtual int OnSocketError(StreamBufferedSocket* socket, int event, int error);
  // Slot 14: one decoded message, owned by the handler and valid only during the call.
  virtual int OnAgentMessage(StreamBufferedSocket* socket, AgentMsg& message) = 0;
  // Deletes an attached socket (its events stay selected), then closes the event.
  virtual ~SocketHandler();

  // Selects mask on the socket's handle with this handler's event; on success the handler owns
  // the socket (a different one held before is deleted first) and 1 is returned. On failure the
  // socket stays the caller's and the attached one stays attached. A null socket fails.
  int AttachSocket(StreamBufferedSocket* socket, long mask);
  // Deselects the attached socket's events and gives it to the caller, who then owns it (it stays
  // in non-blocking mode); internal check when none is attached.
  StreamBufferedSocket* DetachSocket();
  StreamBufferedSocket* AttachedSocket() const { return attached_.get(); }
  // What the serving thread waits on for the attached socket's events, as one WaitForFirst
  // source; ready means OnSignaled has work. POSIX: room to write is asked for only while the
  // socket holds unsent bytes, and a handler with nothing attached gives a source never ready.
  WaitSource NetworkWaitSource() const;
  // Replaces the enumeration HandleNetworkEvents uses; null restores the system's.
  void SetEventEnumerator(EnumerateSocketEventsFn enumerate) {
    enumerate_ = enumerate != nullptr ? enumerate : &EnumerateSocketEvents;
  }

 protected:
  // The one way this class calls OnSocketError: marks the dispatch as finished first, so that
  // nothing touches the socket once the notification returns. Overrides of the slots above that
  // report an error should call this rather than OnSocketError.
  int ReportSocketError(StreamBufferedSocket* socket, int event, int error);

 private:
  // The per-event rule of slots 5 to 12.
  int ReportIfError(StreamBufferedSocket* socket, int event, int error);
  // Delivers every complete frame in the receive buffer.
  int DeliverFrames(StreamBufferedSocket* socket);

  std::unique_ptr<StreamBufferedSocket> attached_;  // Null when none is attached.
  bool error_reported_ = false;  // Set once OnSocketError ran in the current dispatch.
  // A graceful close whose delivery the handler stopped; reported with the next dispatch.
  bool close_pending_ = false;
  EnumerateSocketEventsFn enumerate_ = &EnumerateSocketEvents;
};

}  // namespace vexil

#endif  // VEXIL_NET_SOCKET_HANDLER_H_
