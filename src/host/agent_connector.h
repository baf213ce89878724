// The one connector object per process: its lock, status and settings, the worker thread that
// connects to the HA agent and serves it, and the outgoing queue. Every export forwards to it.
#ifndef VEXIL_HOST_AGENT_CONNECTOR_H_
#define VEXIL_HOST_AGENT_CONNECTOR_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/callback_table.h"
#include "agent/request_handler.h"
#include "host/agent_check.h"
#include "host/conn_counters.h"
#include "host/send_queue.h"
#include "host/startup_options.h"
#include "log/conn_log.h"
#include "net/socket_handler.h"
#include "sync/critical_section.h"
#include "sync/lockable.h"
#include "sync/signal_event.h"
#include "sync/thread_annotations.h"
#include "sync/thread_checker.h"
#include "sync/worker_thread.h"
#include "vexilconn/vexilconn.h"

namespace vexil {

// What tests may shorten or move; the library uses the defaults.
struct ConnectorTiming {
  uint32_t retry_delay_ms = 5000;  // the wait on StopEvent before every connect attempt
  uint16_t agent_port = 8990;
};

class AgentConnector : public SocketHandler, public Lockable, private RequestContext {
 public:
  // log is borrowed and must outlive the connector (the library constructs its ConnLog first).
  // The agent check is the one log's profile asks for, answered by the operating system; its
  // load lines are written here.
  explicit AgentConnector(ConnLog* log, ConnectorTiming timing = ConnectorTiming());
  AgentConnector(ConnLog* log, ConnectorTiming timing, AgentCheck check);
  AgentConnector(const AgentConnector&) = delete;
  AgentConnector& operator=(const AgentConnector&) = delete;

  // SocketHandler: called by the worker while it serves the attached socket. While an attempt
  // waits for its connect, OnConnect gives it the outcome and OnSocketError ends it (without a
  // reconnect of its own).
  int OnConnect(StreamBufferedSocket* socket, int error) override;
  int OnSocketError(StreamBufferedSocket* socket, int event, int error) override;
  int OnAgentMessage(StreamBufferedSocket* socket, AgentMsg& message) override;

  // The connector lock: re-entrant for the owning thread. Take it with a ScopedLock. To the
  // thread-safety analysis the connector itself is the lock (GUARDED_BY(this)). Its re-entries
  // cannot be expressed there: the calls that take it carry no EXCLUDES, as a holder may call
  // them again (RunConn with a callback table calls RunConn).
  void Lock() override ACQUIRE();
  void Unlock() override RELEASE();
  // Destroys the members only. The host must have called StopConn: a worker still running would
  // use a destroyed object, and waiting for it here could hang the unload.
  ~AgentConnector() override;

  // VexilInitConn: reads the options under the connector lock; returns kInitOk or kInitBadOptions.
  // argv must hold argc non-null elements: a null argv (with argc above 1) or element raises the
  // internal check before the lock is taken and, if resumed, returns kInitBadOptions.
  int InitConn(int argc, const wchar_t* const* argv);
  // VexilRunConn: starts the one worker. A null callback raises the internal check before the
  // lock is taken and, if resumed, starts nothing (kRunThreadFailed). After StopConn nothing can
  // start again: kRunAlreadyRunning while the status shows a worker ran, else kRunThreadFailed.
  int RunConn(HostCallback* callback);
  // VexilRunConnCallbacks: RunConn with a host the connector owns from then on; it is destroyed
  // with the connector when a worker started, at once otherwise.
  int RunConn(std::unique_ptr<CallbackTableHost> callback);
  // VexilStopConn: ends the worker (which closes the connection), waits for it, closes the events.
  // Safe to call again, without RunConn, and from inside a host callback (then it only asks the
  // worker to stop; the worker ends once the callback returns).
  void StopConn();
  // VexilSendWarningMsg: queues a Warning when connected. A null text raises the internal check
  // before the lock is taken and, if resumed, returns kWarningNotConnected. Never waits behind a
  // reconnect. A warning whose frame would exceed kMaxFrameLength is refused (kWarningNotConnected)
  // with a log line giving its size.
  int SendWarningMsg(int32_t code, const char* text, const char* extraText, uint32_t idA,
                     uint32_t idB);

  // One aligned 32-bit read; never blocks.
  int32_t GetStatus() const { return status_.load(std::memory_order_acquire); }

  // A copy taken under the connector lock.
  ConnSettings settings();

  // VexilGetCounters: the counters' Fill, with the queue's bytes; takes no lock.
  int GetCounters(VexilConnCounters* out) const {
    return counters_.Fill(out, send_queue_.QueuedBytes());
  }

 private:
  enum class ConnectOutcome { kConnected, kFailed, kStopped };

  // The exports' boundary: runs call and returns its result; a C++ exception it throws (an
  // allocation failure, say) is logged with name and gives failure, never reaching the host.
  template <typename Result, typename Call>
  Result Guarded(const wchar_t* name, Result failure, Call call);
  // The bodies of InitConn, RunConn and SendWarningMsg.
  int ReadOptions(int argc, const wchar_t* const* argv);
  int StartWorker(HostCallback* callback);
  int QueueWarning(int32_t code, const char* text, const char* extraText, uint32_t idA,
                   uint32_t idB);
  // A warning refused because the queue holds its most: counted, and logged now and then. Any
  // thread.
  void CountFullRefusal();

  // Runs on the worker thread (on Windows one that holds the module); catches every C++
  // exception.
  static void WorkerMain(void* connector);
  // After an exception on the worker: logs it, drops the connection and the queue (status 1).
  void DropAfterFailure(const char* what);
  // The worker's last act before its socket service goes: sends what is queued, then closes the
  // connection, if any.
  void CloseAtStop();
  // Waits, connects, registers and attaches until registered (true) or stopped (false).
  bool ConnectLoop();
  // Serves the three events until StopEvent.
  void EventLoop();
  // One attempt: true once registered and attached (status 2), else false with the failure logged
  // (a stop ends it without a line).
  bool ConnectOnce();
  // Sends the Register message for gsid on the attached, admitted connection and opens the queue
  // to it (status 2). False with the failure logged leaves the socket to the caller.
  bool SendRegister(int32_t gsid);
  // Whether the attached socket, connected to address, reaches the agent the check names (always,
  // when the check is off). Writes the verdict when it differs from the last one. Worker only
  // (checked).
  bool AdmitAgent(const std::wstring& address);
  // Attaches a new socket and connects it to agent (network byte order), waiting for the outcome
  // together with StopEvent. kFailed leaves the cause as the last error and the socket, if any,
  // attached. Worker only (checked).
  ConnectOutcome Connect(uint32_t agent);
  // Takes every queued buffer and sends them to the attached socket in as few system calls as
  // possible (dropped when none is attached). Worker only (checked).
  void SendQueued();
  // Detaches the attached socket, if any, and destroys it.
  void DestroyAttachedSocket() REQUIRES(this);
  // StopConn's wait for the worker, without the lock, which the worker takes.
  // Unchecked: once stopped_ is set, StopConn alone touches worker_, which GUARDED_BY cannot say.
  void JoinStoppedWorker() NO_THREAD_SAFETY_ANALYSIS;
  void SetStatus(ConnStatus status) { status_.store(status, std::memory_order_release); }
  // Counts the end of the attached connection under cause when it was registered.
  void CountEnd(ConnCounters::Counter cause) REQUIRES(this);
  // Writes line to the log and, as its twin, to standard output.
  void Tell(const std::wstring& line);

  // RequestContext, used by the request handlers on the worker.
  int32_t CurrentGsid() override;
  void SetGsid(int32_t gsid) override;
  void QueueMessage(const ConnectorMsg& message) override;
  void QueueCheckReply(const CheckReply& reply) override;

  // From construction to destruction, which the library's static storage makes load to unload.
  ConnCounters counters_;
  CriticalSection lock_;
  // Written under lock_, read without it.
  std::atomic<int32_t> status_;
  // Both manual-reset; created in the constructor and closed by StopConn, after which nothing
  // uses them (stopped_). Guarded by lock_ except for the worker's waits, which StopConn outlives:
  // an exception GUARDED_BY cannot express, so they carry none.
  std::unique_ptr<SignalEvent> send_event_;
  std::unique_ptr<SignalEvent> stop_event_;
  WorkerThread worker_ GUARDED_BY(this);  // Joined without it by StopConn alone, once stopped_.
  ConnSettings settings_ GUARDED_BY(this);
  // settings_.gsid, for readers without lock_ (warnings and replies); written with it.
  std::atomic<int32_t> gsid_{0};
  // Warnings refused because the queue held its most, since the start.
  std::atomic<uint64_t> full_refusals_{0};
  // Borrowed from the host; set under lock_ before the worker runs, which reads it without: not
  // GUARDED_BY, which cannot say so.
  HostCallback* callback_ = nullptr;
  // The callback table's host, when the worker was started with one; callback_ points to it.
  std::unique_ptr<CallbackTableHost> owned_callback_ GUARDED_BY(this);
  // Wakes the worker through send_event_; stopped, by StopConn, before the events close.
  SendQueue send_queue_;
  ConnLog* log_;
  const ConnectorTiming timing_;
  // StopConn ran; nothing starts or queues again.
  bool stopped_ GUARDED_BY(this) = false;
  AgentCheck agent_check_ GUARDED_BY(worker_mark_);  // Judged by the worker only.
  // The worker thread while it runs: calls made on it (from host callbacks) take other paths.
  // The members that are the worker's alone are GUARDED_BY it: touched after worker_mark_.Check().
  ThreadChecker worker_mark_;
  // Worker only: the last finding written, so that a squatter refused every 5 s gives one line.
  std::wstring last_verdict_ GUARDED_BY(worker_mark_);
  // Worker only: an attempt waits for its connect event; the outcome once it came.
  bool connecting_ GUARDED_BY(worker_mark_) = false;
  bool connect_done_ GUARDED_BY(worker_mark_) = false;
  int connect_error_ GUARDED_BY(worker_mark_) = 0;
  // Worker only: the connection is being dropped at the outgoing limit.
  bool limit_reached_ GUARDED_BY(worker_mark_) = false;
};

}  // namespace vexil

#endif  // VEXIL_HOST_AGENT_CONNECTOR_H_
