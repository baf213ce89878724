#include "host/agent_connector.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "host/connect_rules.h"
#include "log/console.h"
#include "log/process_info.h"
#include "net/address_lookup.h"
#include "net/native_socket.h"
#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/code_page.h"
#include "sync/last_error.h"
#include "sync/ordered_wait.h"
#include "sync/scoped_lock.h"

namespace vexil {
namespace {

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "VexilGetStatus must read the status without a lock");

const int kNoDelay = 1;
// What one connection may hold unsent while the agent does not read. Beyond it the connection is
// dropped and made again, visibly (log line, status 1 then 5), rather than growing without bound
// or losing frames quietly. A list that holds nothing takes any single frame.
constexpr size_t kMaxUnsentBytes = 8u << 20;
static_assert(SendQueue::kMostQueuedBytes == kMaxUnsentBytes,
              "the queue holds no more warnings than a connection may hold unsent");
constexpr uint32_t kRegisterNsapId = 88888;
// The network events the worker serves: the connect's outcome, input, room to write and the
// peer's close. Any other would only wake it for nothing.
constexpr long kServedEvents = kNetRead | kNetWrite | kNetConnect | kNetClose;

// The Register message of one connection.
ConnectorMsg MakeRegister(int32_t gsid, uint16_t port) {
  Register body;
  body.magic = kRegisterMagic;
  body.gsid = static_cast<uint32_t>(gsid);
  body.processId = CurrentProcessId();
  Nsap nsap;
  nsap.nsapId = kRegisterNsapId;
  nsap.port = port;
  body.nsapList.push_back(nsap);
  body.reserved = 0;
  body.exeName = WideToNarrow(RegisteredExecutableName(ExecutablePath()));
  return ConnectorMsg(ConnectorTag::kRegister, std::move(body));
}

// The length of message's frame. For a Warning whose two texts are empty, each text adds exactly
// its own length; a CheckReply's is always the same.
uint64_t FrameLength(const ConnectorMsg& message) {
  BufferPtr frame;
  WriteFrame(frame, message);
  return frame.Size();
}

// "5 s" for the library's delay; a test's shorter one in milliseconds.
std::wstring RetryDelayText(uint32_t delay_ms) {
  if (delay_ms % 1000 == 0) return std::to_wstring(delay_ms / 1000) + L" s";
  return std::to_wstring(delay_ms) + L" ms";
}

// A Warning's frame with both texts empty (each text adds exactly its length), and a CheckReply's,
// which is always the same. Computed at load rather than as guarded statics at first use: with the
// static thread library a guard's lock leaves a record of the calling host thread behind (a thread
// and an event handle) at every unload.
const uint64_t kEmptyWarningFrame = FrameLength(ConnectorMsg(ConnectorTag::kWarning, Warning()));
const uint64_t kCheckReplyFrame =
    FrameLength(ConnectorMsg(ConnectorTag::kCheckReply, CheckReply()));

// A caught exception's text (narrow, in the system's code page), made wide for the log and the
// console: their formatter would convert narrow text in the "C" locale, which stops beyond ASCII
// and cuts the line. Empty when even this copy cannot be allocated: it runs in catch handlers,
// which must not throw.
std::wstring FailureText(const char* what) {
  try {
    return NarrowToWide(what);
  } catch (const std::bad_alloc&) {
    return std::wstring();
  }
}

// Waits for either source without a time limit: true when done was signalled, false when stop
// was (stop wins when both are) or the wait failed.
bool WaitUnlessStopped(const SignalEvent& stop, WaitSource done) {
  const WaitSource sources[] = {stop.Source(), done};
  const uint32_t result = WaitForFirst(sources, 2, kInfinite);
  if (result == kWaitObject0 + 1) return true;
  if (result != kWaitObject0) CheckFailed();
  return false;
}

}  // namespace

AgentConnector::AgentConnector(ConnLog* log, ConnectorTiming timing)
    : AgentConnector(log, timing, AgentCheck::FromProfile(*log, &SystemPeers())) {}

AgentConnector::AgentConnector(ConnLog* log, ConnectorTiming timing, AgentCheck check)
    : status_(StatusIdle),
      send_event_(std::make_unique<SignalEvent>()),
      stop_event_(std::make_unique<SignalEvent>()),
      send_queue_(send_event_.get()),
      log_(log),
      timing_(timing),
      agent_check_(std::move(check)) {
  for (const std::wstring& line : agent_check_.LoadLines()) log_->Write(1, L"%ls", line.c_str());
}

AgentConnector::~AgentConnector() = default;

void AgentConnector::Lock() { lock_.Enter(); }

void AgentConnector::Unlock() { lock_.Leave(); }

template <typename Result, typename Call>
Result AgentConnector::Guarded(const wchar_t* name, Result failure, Call call) {
  try {
    return call();
  } catch (const std::exception& error) {
    log_->Write(1, L"%ls failed: %ls \n", name, FailureText(error.what()).c_str());
    return failure;
  }
}

int AgentConnector::InitConn(int argc, const wchar_t* const* argv) {
  return Guarded(L"VexilInitConn", kInitBadOptions, [&] { return ReadOptions(argc, argv); });
}

int AgentConnector::ReadOptions(int argc, const wchar_t* const* argv) {
  // Checked before the lock: a host that handles the check must not find the lock held.
  if (argc > 1) {
    if (argv == nullptr) {
      CheckFailed();
      return kInitBadOptions;
    }
    for (int i = 0; i < argc; ++i) {
      if (argv[i] == nullptr) {
        CheckFailed();
        return kInitBadOptions;
      }
    }
  }
  ScopedLock<AgentConnector> guard(this, true);
  const StartupOutcome outcome = ReadStartupOptions(argc, argv, &settings_);
  gsid_.store(settings_.gsid, std::memory_order_release);
  switch (outcome) {
    case StartupOutcome::kUnchanged:
      return kInitOk;
    case StartupOutcome::kAccepted:
      for (const std::wstring& line : DescribeSubstitutions(settings_)) Tell(line);
      if (const std::wstring source = DescribeAgentSource(argc, argv, settings_); !source.empty()) {
        Tell(source);
      }
      return kInitOk;
    case StartupOutcome::kDisabled:
      log_->Write(1, L"_NOUSEVEXIL_ ACTIVATED");
      PrintToConsole(L"_NOUSEVEXIL_ ACTIVATED\n");
      Tell(DescribeDisabling(argc, argv));
      SetStatus(StatusDisabled);
      return kInitOk;
    case StartupOutcome::kRejected:
      break;
  }
  Tell(DescribeRefusal(argc, argv));
  return kInitBadOptions;
}

void AgentConnector::Tell(const std::wstring& line) {
  log_->Write(1, L"%ls", line.c_str());
  PrintToConsole(L"%ls\n", line.c_str());
}

int AgentConnector::RunConn(HostCallback* callback) {
  return Guarded(L"VexilRunConn", kRunThreadFailed, [&] { return StartWorker(callback); });
}

int AgentConnector::StartWorker(HostCallback* callback) {
  if (callback == nullptr) {
    CheckFailed();
    return kRunThreadFailed;
  }
  ScopedLock<AgentConnector> guard(this, true);
  const int32_t status = GetStatus();
  if (status == StatusDisabled) return kRunStarted;
  if (status == StatusConnecting || status == StatusConnected || status == StatusReconnecting) {
    return kRunAlreadyRunning;
  }
  // Stopped before it ever ran: the events are closed, so no worker can start.
  if (stopped_) return kRunThreadFailed;
  callback_ = callback;
  // Set here rather than by the worker, so that a second RunConn taking the lock before the
  // worker runs sees a running connector.
  SetStatus(StatusConnecting);
  // On Windows the worker holds the module while it runs: a host that stops it from inside a
  // callback and unloads at once must not leave it returning into unmapped code.
  if (!worker_.Start(&WorkerMain, this)) {
    SetStatus(static_cast<ConnStatus>(status));
    callback_ = nullptr;
    return kRunThreadFailed;
  }
  return kRunStarted;
}

int AgentConnector::RunConn(std::unique_ptr<CallbackTableHost> callback) {
  ScopedLock<AgentConnector> guard(this, true);
  const int result = RunConn(callback.get());
  if (callback_ == callback.get()) owned_callback_ = std::move(callback);
  return result;
}

void AgentConnector::StopConn() {
  {
    ScopedLock<AgentConnector> guard(this, true);
    if (stopped_) return;
    stop_event_->Set();
    // From inside a host callback: the worker is this thread, and ends once the callback returns.
    if (worker_mark_.IsCurrent()) return;
    stopped_ = true;
    // From here no push sets the send event, which goes below.
    send_queue_.Stop();
  }
  // Waited for without the lock: the worker takes it for status changes and queueing. Only this
  // call touches worker_ and the events now that stopped_ is set.
  JoinStoppedWorker();
  // The worker closed its connection before it ended.
  ScopedLock<AgentConnector> guard(this, true);
  counters_.Add(ConnCounters::kWarningsDropped, send_queue_.Clear());
  send_event_.reset();
  stop_event_.reset();
}

void AgentConnector::JoinStoppedWorker() { worker_.Join(); }

int AgentConnector::SendWarningMsg(int32_t code, const char* text, const char* extraText,
                                   uint32_t idA, uint32_t idB) {
  const int result = Guarded(L"VexilSendWarningMsg", kWarningNotConnected,
                             [&] { return QueueWarning(code, text, extraText, idA, idB); });
  counters_.Add(result == kWarningQueued ? ConnCounters::kWarningsQueued
                                         : ConnCounters::kWarningsRefused);
  return result;
}

int AgentConnector::QueueWarning(int32_t code, const char* text, const char* extraText,
                                 uint32_t idA, uint32_t idB) {
  if (text == nullptr || extraText == nullptr) {
    CheckFailed();
    return kWarningNotConnected;
  }
  // Counted before anything is copied or encoded: a frame the agent would reject as malformed is
  // refused here, visibly.
  const size_t text_length = std::strlen(text);
  const size_t extra_length = std::strlen(extraText);
  const uint64_t frame_length = kEmptyWarningFrame + text_length + extra_length;
  if (frame_length > kMaxFrameLength) {
    log_->Write(1, L"Warning refused: its frame of %llu bytes exceeds the limit of %u bytes \n",
                static_cast<unsigned long long>(frame_length), kMaxFrameLength);
    return kWarningNotConnected;
  }
  // Written from the caller's texts into this thread's lane of the queue, with no lock another
  // thread holds: the queue takes warnings only while a registered connection is up and the
  // connector not stopped.
  WarningRef warning;
  warning.ids = IdTriple(idA, static_cast<uint32_t>(gsid_.load(std::memory_order_acquire)), idB);
  warning.code = code;
  warning.text = std::string_view(text, text_length);
  warning.extraText = std::string_view(extraText, extra_length);
  // From a host callback: behind the replies the worker has staged so far.
  const SendQueue::PushResult result = worker_mark_.IsCurrent()
                                           ? send_queue_.StageWarning(warning, frame_length)
                                           : send_queue_.PushWarning(warning, frame_length);
  if (result == SendQueue::PushResult::kFull) {
    CountFullRefusal();
    return kWarningNotConnected;
  }
  return result == SendQueue::PushResult::kRefused ? kWarningNotConnected : kWarningQueued;
}

void AgentConnector::CountFullRefusal() {
  // One line for the first and one for every kRefusalsPerLine-th after it: a flood of warnings
  // must not become a flood of log lines.
  constexpr uint64_t kRefusalsPerLine = 65536;
  const uint64_t refused = full_refusals_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (refused % kRefusalsPerLine != 1) return;
  log_->Write(1,
              L"Warning refused: %u frames or %llu bytes already wait to be sent; %llu refused "
              L"so far \n",
              SendQueue::kMostQueuedFrames,
              static_cast<unsigned long long>(SendQueue::kMostQueuedBytes),
              static_cast<unsigned long long>(refused));
}

ConnSettings AgentConnector::settings() {
  ScopedLock<AgentConnector> guard(this, true);
  return settings_;
}

void AgentConnector::WorkerMain(void* argument) {
  if (argument == nullptr) {
    CheckFailed();
    return;
  }
  AgentConnector* connector = static_cast<AgentConnector*>(argument);
  connector->worker_mark_.MarkCurrent();
  // The socket service is this thread's from before its first socket to after its last one is
  // closed: started here rather than when the library is loaded, where the first start-up of the
  // process would load the service's providers under the loader lock.
  const SocketServiceUse sockets(kSocketVersion20);
  // No C++ exception leaves the thread (it would end the host's process): one thrown while
  // connecting or serving, an allocation failure for instance, costs the connection, which is
  // logged, dropped and made again.
  for (;;) {
    try {
      if (connector->ConnectLoop()) connector->EventLoop();
      break;
    } catch (const std::exception& failure) {
      connector->DropAfterFailure(failure.what());
    }
  }
  connector->CloseAtStop();
  connector->worker_mark_.Clear();
}

void AgentConnector::CloseAtStop() {
  // What was queued before the stop leaves ahead of the end of the stream, as far as the system
  // takes it without waiting.
  try {
    SendQueued();
  } catch (const std::exception& failure) {
    log_->Write(1, L"Worker failure: %ls, connection dropped \n",
                FailureText(failure.what()).c_str());
  }
  ScopedLock<AgentConnector> guard(this, true);
  CountEnd(ConnCounters::kClosedByStop);
  DestroyAttachedSocket();
}

void AgentConnector::DropAfterFailure(const char* what) {
  worker_mark_.Check();
  ScopedLock<AgentConnector> guard(this, true);
  connecting_ = false;
  const std::wstring reason = FailureText(what);
  log_->Write(1, L"Worker failure: %ls, connection dropped \n", reason.c_str());
  PrintToConsole(L"Worker failure : %ls, connection dropped \n", reason.c_str());
  CountEnd(ConnCounters::kClosedByError);
  DestroyAttachedSocket();
  counters_.Add(ConnCounters::kWarningsDropped, send_queue_.Close());
  SetStatus(StatusReconnecting);
}

bool AgentConnector::ConnectLoop() {
  {
    ScopedLock<AgentConnector> guard(this, true);
    SetStatus(StatusConnecting);
  }
  // The lock is not held while waiting or connecting, so host threads never wait behind a
  // reconnect.
  while (!stop_event_->Wait(timing_.retry_delay_ms)) {
    // A warning whose push straddled the last connection's end is dropped and counted here at the
    // latest.
    counters_.Add(ConnCounters::kWarningsDropped, send_queue_.Sweep());
    if (ConnectOnce()) return true;
  }
  return false;
}

bool AgentConnector::ConnectOnce() {
  const ConnSettings settings = this->settings();
  const std::wstring address = AgentAddress(settings.haip);
  // A name is looked up in the background; a stop abandons the lookup.
  AddressLookup lookup(address);
  if (!lookup.WaitUnlessStopped(*stop_event_, kInfinite)) return false;
  counters_.Add(ConnCounters::kConnectAttempts);
  uint32_t agent = 0;
  const ConnectOutcome outcome = lookup.Result(&agent) ? Connect(agent) : ConnectOutcome::kFailed;
  // A stop ends the attempt without a line.
  if (outcome != ConnectOutcome::kStopped) {
    const bool connected = outcome == ConnectOutcome::kConnected;
    const uint32_t connect_error = connected ? 0 : LastErrorCode();
    counters_.SetLastError(connect_error);
    if (connected) counters_.Add(ConnCounters::kConnections);
    log_->Write(1, L"Error code : %d Connect IP: %ls Port:%u  \n", static_cast<int>(connect_error),
                address.c_str(), static_cast<unsigned>(timing_.agent_port));
    PrintToConsole(L"Error code %d : Connect IP:  %ls Port :%u   \n",
                   static_cast<int>(connect_error), address.c_str(),
                   static_cast<unsigned>(timing_.agent_port));
    if (connected && AdmitAgent(address) && SendRegister(settings.gsid)) return true;
  }
  // Stopped, failed, refused (closed with nothing sent) or not registered: the status stays
  // Connecting and the next attempt follows the usual delay.
  ScopedLock<AgentConnector> guard(this, true);
  DestroyAttachedSocket();
  return false;
}

bool AgentConnector::SendRegister(int32_t gsid) {
  BufferPtr frame;
  if (!WriteFrame(frame, MakeRegister(gsid, timing_.agent_port))) {
    log_->Write(1, L"LStore Failed  \n");
    PrintToConsole(L"LStore Failed  \n");
    return false;
  }
  ScopedLock<AgentConnector> guard(this, true);
  StreamBufferedSocket* socket = AttachedSocket();
  // The first bytes of the connection; what the system does not take at once leaves on the next
  // write notification, ahead of anything queued later.
  if (socket == nullptr || !socket->Send(frame)) {
    const uint32_t error = socket == nullptr ? 0 : LastErrorCode();
    log_->Write(1, L"Blocking Send was Failed Error Code:  %u \n", error);
    PrintToConsole(L"Blocking Send was Failed  Error Code : %u \n", error);
    return false;
  }
  // Small replies and warnings leave at once rather than waiting for the agent's acknowledgement
  // of the previous segment. A failure only costs latency.
  socket->SetOption(kTcpNoDelay, &kNoDelay, sizeof(kNoDelay), kTcpLevel);
  counters_.Add(ConnCounters::kFramesSent);
  send_queue_.Open();
  SetStatus(StatusConnected);
  counters_.Add(ConnCounters::kRegistrations);
  Tell(L"Registered with the HA agent as GSID " + std::to_wstring(gsid) + L", process " +
       std::to_wstring(CurrentProcessId()));
  return true;
}

bool AgentConnector::AdmitAgent(const std::wstring& address) {
  worker_mark_.Check();
  if (!agent_check_.on()) return true;
  StreamBufferedSocket* socket = AttachedSocket();
  if (socket == nullptr) return false;
  const AgentVerdict verdict = agent_check_.Judge(socket->handle());
  const std::wstring at = address + L":" + std::to_wstring(timing_.agent_port);
  // The same finding is written once, however often a squatter is met.
  std::wstring finding = (verdict.admitted ? L"passed: " : L"refused: ") + verdict.finding;
  if (finding == last_verdict_) return verdict.admitted;
  last_verdict_ = std::move(finding);
  if (verdict.admitted) {
    Tell(L"Agent check passed at " + at + L": " + verdict.finding);
  } else {
    const std::wstring why = verdict.unknown_why.empty() ? L"" : L"; " + verdict.unknown_why;
    Tell(L"Agent refused at " + at + L": " + verdict.finding + why +
         L"; closed before sending, next attempt in " + RetryDelayText(timing_.retry_delay_ms));
  }
  return verdict.admitted;
}

AgentConnector::ConnectOutcome AgentConnector::Connect(uint32_t agent) {
  worker_mark_.Check();
  auto socket = std::make_unique<StreamBufferedSocket>();
  socket->CountTrafficIn(counters_.traffic());
  // A failed create shows as a failed attach.
  socket->Create(0, kStreamSocket, L"");
  {
    ScopedLock<AgentConnector> guard(this, true);
    // Attached before the connect: the selection makes the socket non-blocking, and the
    // outcome arrives as its connect event.
    if (!AttachSocket(socket.get(), kServedEvents)) {
      const uint32_t error = LastErrorCode();
      log_->Write(1, L"Attaching Socket was Failed Error Code:  %u \n", error);
      PrintToConsole(L"Attaching Socket was Failed  Error Code : %u \n", error);
      SetLastErrorCode(error);
      return ConnectOutcome::kFailed;
    }
    socket.release();  // the handler owns it now
  }
  if (!AttachedSocket()->StartConnect(agent, timing_.agent_port)) return ConnectOutcome::kFailed;
  connecting_ = true;
  connect_done_ = false;
  connect_error_ = 0;
  // Waited for together with stop: a connect the system takes long to give up on (an agent
  // whose listen queue is full drops the attempts) never holds a stop.
  while (!connect_done_ && AttachedSocket() != nullptr) {
    if (!WaitUnlessStopped(*stop_event_, NetworkWaitSource())) {
      connecting_ = false;
      return ConnectOutcome::kStopped;
    }
    OnSignaled();
  }
  connecting_ = false;
  if (connect_error_ != 0 || AttachedSocket() == nullptr) {
    SetLastErrorCode(static_cast<uint32_t>(connect_error_));
    return ConnectOutcome::kFailed;
  }
  return ConnectOutcome::kConnected;
}

void AgentConnector::EventLoop() {
  for (;;) {
    // Built anew each round: on POSIX the connection's source changes with the socket attached and
    // with whether it holds unsent bytes.
    const WaitSource sources[] = {stop_event_->Source(), NetworkWaitSource(),
                                  send_event_->Source()};
    // Frames already queued are sent at once, after a look at the other sources: the pushes only
    // set the send event while this thread says it waits.
    const bool idle = send_queue_.ReadyToWait();
    const uint32_t woken = WaitForFirst(sources, 3, idle ? kInfinite : 0);
    send_queue_.Awake();
    switch (woken) {
      case kWaitObject0:
        return;
      case kWaitObject0 + 1:
        // The enumeration resets the network event. The replies this dispatch queued leave
        // after it, in one send, without a detour through the send event.
        OnSignaled();
        SendQueued();
        break;
      case kWaitObject0 + 2:
        // Reset before the queue is taken: a push after the take finds this thread waiting again
        // and sets the event anew.
        if (!send_event_->Reset()) CheckFailed();
        SendQueued();
        break;
      case kWaitTimeout:
        SendQueued();
        break;
      default:
        CheckFailed();
        return;
    }
  }
}

void AgentConnector::DestroyAttachedSocket() {
  if (AttachedSocket() == nullptr) return;
  std::unique_ptr<StreamBufferedSocket> detached(DetachSocket());
  // The agent reads the replies and warnings already handed to the system, then the end of the
  // stream.
  detached->CloseAfterSending();
  counters_.SetUnsentBytes(0);
}

void AgentConnector::CountEnd(ConnCounters::Counter cause) {
  if (AttachedSocket() != nullptr && GetStatus() == StatusConnected) counters_.Add(cause);
}

void AgentConnector::SendQueued() {
  worker_mark_.Check();
  SendBufferList batch;
  const SendQueue::Taken taken = send_queue_.TakeAll(&batch);
  counters_.Add(ConnCounters::kWarningsDropped, taken.stale_warnings);
  StreamBufferedSocket* socket = AttachedSocket();
  // Without a socket the messages belonged to a connection that is gone.
  if (socket == nullptr) {
    counters_.Add(ConnCounters::kWarningsDropped, taken.warnings);
    return;
  }
  if (batch.empty()) {
    counters_.SetUnsentBytes(socket->UnsentBytes());
    return;
  }
  // Counted per chunk of frames (at most a few KiB, or one longer frame).
  while (!batch.empty()) {
    const unsigned size = batch.front().Size();
    size_t unsent = socket->UnsentBytes();
    if (unsent != 0 && unsent + size > kMaxUnsentBytes) {
      // Part of what counts may only be queued, not yet offered to the system.
      socket->FlushSend();
      unsent = socket->UnsentBytes();
    }
    if (unsent != 0 && unsent + size > kMaxUnsentBytes) {
      log_->Write(1, L"Outgoing limit reached: %u bytes unsent, connection dropped \n",
                  static_cast<unsigned>(unsent));
      PrintToConsole(L"Outgoing limit reached : %u bytes unsent, connection dropped \n",
                     static_cast<unsigned>(unsent));
      // The agent has stopped reading: this connection, and the rest of the batch, is lost.
      counters_.Add(ConnCounters::kWarningsDropped, taken.warnings);
      limit_reached_ = true;
      OnSocketError(socket, kNetWrite, kSocketErrorNoBuffers);
      return;
    }
    socket->QueueFirstOf(&batch);
  }
  counters_.Add(ConnCounters::kFramesSent, taken.frames);
  // A failed send shows in the socket's next network events, which end the connection.
  socket->FlushSend();
  counters_.SetUnsentBytes(socket->UnsentBytes());
}

int AgentConnector::OnConnect(StreamBufferedSocket*, int error) {
  worker_mark_.Check();
  connect_done_ = true;
  connect_error_ = error;
  // A failed connect ends this dispatch: the attempt's owner destroys the socket.
  return error == 0 ? 1 : 0;
}

int AgentConnector::OnSocketError(StreamBufferedSocket* socket, int event, int error) {
  worker_mark_.Check();
  {
    ScopedLock<AgentConnector> guard(this, true);
    log_->Write(1, L"Error code : %d Event: %d \n", error, event);
    PrintToConsole(L"Error code : %d Event: %d \n", error, event);
    counters_.SetLastError(static_cast<uint32_t>(error));
    const bool at_limit = limit_reached_;
    limit_reached_ = false;
    if (AttachedSocket() == socket && !connecting_) {
      const bool by_agent = event == kNetClose && error == 0;
      CountEnd(at_limit   ? ConnCounters::kClosedAtOutgoingLimit
               : by_agent ? ConnCounters::kClosedByAgent
                          : ConnCounters::kClosedByError);
    }
    if (AttachedSocket() == socket) DestroyAttachedSocket();
    // While an attempt waits for its connect, the attempt itself goes on to the next one.
    if (connecting_) {
      connect_done_ = true;
      connect_error_ = error;
      return 1;
    }
    // Replies and warnings queued for the lost connection must not reach the next one.
    counters_.Add(ConnCounters::kWarningsDropped, send_queue_.Close());
    SetStatus(StatusReconnecting);
  }
  ConnectLoop();
  return 1;
}

int AgentConnector::OnAgentMessage(StreamBufferedSocket*, AgentMsg& message) {
  // A frame without a message (tag 0) gets no answer, but the frames behind it in the same read
  // are still served: ending the dispatch here would leave them unanswered until the agent
  // happened to send again.
  counters_.Add(ConnCounters::kFramesReceived);
  HandleAgentMessage(message, callback_, this);
  return 1;
}

int32_t AgentConnector::CurrentGsid() { return gsid_.load(std::memory_order_acquire); }

void AgentConnector::SetGsid(int32_t gsid) {
  ScopedLock<AgentConnector> guard(this, true);
  settings_.gsid = gsid;
  gsid_.store(gsid, std::memory_order_release);
}

void AgentConnector::QueueMessage(const ConnectorMsg& message) {
  // Refused once stopped. The worker stages its own replies, sent after its dispatch.
  if (worker_mark_.IsCurrent()) {
    send_queue_.StageReply(message);
    return;
  }
  send_queue_.PushReply(message);
}

void AgentConnector::QueueCheckReply(const CheckReply& reply) {
  // The worker's replies are staged until it takes the queue after its dispatch.
  if (worker_mark_.IsCurrent()) {
    send_queue_.StageReply(ConnectorTag::kCheckReply, reply, kCheckReplyFrame);
    return;
  }
  send_queue_.PushReply(ConnectorTag::kCheckReply, reply, kCheckReplyFrame);
}

}  // namespace vexil
