// EventSelector owns the event that sockets' network events are bound to (Windows; on POSIX the
// descriptor's own readiness is waited on); SocketHandler serves the one attached
// StreamBufferedSocket: it enumerates the socket's network events, receives, cuts frames out of
// the received bytes, hands each AgentMsg to OnAgentMessage, sends, and reports every error
// through OnSocketError. Everything runs on the thread that waits on NetworkWaitSource, and
// nothing here locks. Internal classes: a function is virtual where a subclass overrides it (the
// connector, or a test), and nothing outside this library depends on the table's layout.
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

  // Selects the network events in mask (kAllNetworkEvents and the like) of handle, which becomes
  // non-blocking; a mask of 0 deselects them and makes it blocking again. 1 on success.
  int EventSelect(SOCKET handle, long mask);
  // Windows: the event that attached sockets signal; the enumeration in OnSignaled resets it, so
  // the waiter does not. POSIX: never signalled by a socket.
  SignalEvent& NetworkEvent() { return event_; }
  const SignalEvent& NetworkEvent() const { return event_; }

 protected:
  // Only a base: never deleted through this class.
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

  // Deletes an attached socket (its events stay selected), then closes the event.
  virtual ~SocketHandler();

  // The event was signalled: serves the attached socket, if any.
  void OnSignaled();
  // Enumerates the socket's events (resetting the event) and handles each reported bit in index
  // order; stops at the first 0 result and after any error notification. A failed enumeration is
  // an error of the connection: the event is reset and OnSocketError gets (0, the enumeration's
  // error), so the waiter is never woken again for nothing.
  void HandleNetworkEvents(StreamBufferedSocket* socket);
  // Handles one event bit. It and every notification below return 0 to stop dispatching for this
  // signal. Event 0 gives 1; a value that is no event bit is an internal check (then 1). Read,
  // write, connect and close have their own handling; every other event is reported when it
  // carries an error and gives 1 when it does not.
  int HandleEvent(StreamBufferedSocket* socket, int event, int error);
  // Sends queued buffers, twice.
  virtual int OnWrite(StreamBufferedSocket* socket, int error);
  // The outcome of a connect under way: a nonzero error is reported, error 0 gives 1.
  virtual int OnConnect(StreamBufferedSocket* socket, int error);
  // The error notification, final for the socket in this dispatch. An override may detach and
  // delete the socket: the handler touches it no more once this returns. This one returns 0.
  virtual int OnSocketError(StreamBufferedSocket* socket, int event, int error);
  // One decoded message, owned by the handler and valid only during the call.
  virtual int OnAgentMessage(StreamBufferedSocket* socket, AgentMsg& message) = 0;

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
  // nothing touches the socket once the notification returns. Overrides of the notifications
  // above that report an error should call this rather than OnSocketError.
  int ReportSocketError(StreamBufferedSocket* socket, int event, int error);

 private:
  // Receives what is waiting, at most what one receive takes (ReceiveAvailable; more shows as
  // another read event, so that one busy connection cannot hold the thread), then delivers every
  // complete frame; an incomplete tail stays in the receive buffer.
  int OnRead(StreamBufferedSocket* socket, int error);
  // Always reports (kNetClose, error), error 0 meaning a graceful close. Before a graceful close
  // is reported, receives until the socket is empty and delivers every complete frame; a failed
  // receive is reported as the close's error instead. A 0 from OnAgentMessage ends the dispatch
  // there: the rest and the close come with the next one, for which the event is kept signalled.
  int OnClose(StreamBufferedSocket* socket, int error);
  // The rule of every other event: a nonzero error is reported, error 0 gives 1.
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
