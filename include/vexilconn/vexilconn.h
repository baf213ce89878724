// VexilConn.dll (Windows) and libvexilconn.so (Linux): the interface a game server (the host)
// compiles against, as C11 or as C++17.
//
// Architectures: VexilConn.dll comes for 32-bit (x86) and for 64-bit (x64) Windows hosts (built
// with MinGW-w64 i686 and x86_64 GCC, posix thread model), libvexilconn.so for x86-64 Linux hosts,
// with the same exports, log and wire. A host cannot load the library of the other architecture.
//
// Which host can use which interface:
// - The C interface (everything outside "#ifdef __cplusplus"): the exports, the status values,
//   the result codes, and the callback table VexilHostCallbacks started by VexilRunConnCallbacks,
//   whose list replies are filled through VexilSetCounts, VexilAddRegion, VexilAddRegionExtra,
//   VexilAddStat and VexilAddStatExtra, and the counters VexilConnCounters filled by
//   VexilGetCounters. It needs only the platform's C calling convention (cdecl; fixed in every
//   declaration on 32-bit Windows), so any compiler can use it: MinGW GCC, MSVC, clang in either
//   Windows ABI, and any language that calls C functions (C# through P/Invoke).
// - The C++ interface (vexil::HostCallback and its sinks, given to VexilRunConn): C++
//   virtual-table interfaces with std::vector in two sink forms. Object layout, the order of the
//   virtual operations, the member-call convention and std::vector must be those of the library's
//   compiler, so the host must be built with the same compiler family and C++ library: on
//   Windows MinGW-w64 GCC of the host's architecture, on Linux GCC or Clang, with libstdc++
//   (C++17). A Windows host built in the MSVC ABI (MSVC, clang-cl, clang
//   --target=*-windows-msvc) cannot use it: that ABI orders overloaded virtual functions
//   differently (CountsSink::SetCounts, RegionSink::AddRegion and RegionExtraSink::AddRegion reach
//   the wrong slot: clang's MSVC ABI puts the array form of SetCounts in slot 0), gives a virtual
//   destructor one slot instead of two, and has its own std::vector; Debian's clang in that ABI
//   has no C++ library, so the C++ part does not even compile there. Such a host uses the C
//   interface.
//
// Order of calls: load the library, VexilInitConn, VexilRunConn or VexilRunConnCallbacks, any
// number of VexilSendWarningMsg and VexilGetStatus, VexilStopConn, unload; VexilGetCounters at
// any point between load and unload. Every export may be called from any host thread. Strings
// handed to or from the host are NUL-terminated and, when narrow, in the system ANSI code page
// (Windows) or UTF-8 (Linux, where wchar_t holds UTF-32).
#ifndef VEXILCONN_VEXILCONN_H_
#define VEXILCONN_VEXILCONN_H_

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <vector>
#else
#include <stddef.h>
#include <stdint.h>
#endif

#if defined(_WIN32) && !defined(VEXILCONN_CALL)
#define VEXILCONN_CALL __cdecl
#elif !defined(VEXILCONN_CALL)
#define VEXILCONN_CALL
#endif

// The calling convention of the host's functions in VexilHostCallbacks.
#if defined(_WIN32) && !defined(VEXILCONN_CALLBACK)
#define VEXILCONN_CALLBACK __cdecl
#elif !defined(VEXILCONN_CALLBACK)
#define VEXILCONN_CALLBACK
#endif

// The connector's state as returned by VexilGetStatus. There is no value 3.
#define VEXIL_STATUS_IDLE 0          // nothing has been started
#define VEXIL_STATUS_RECONNECTING 1  // the connection to the HA agent was lost; reconnecting now
#define VEXIL_STATUS_CONNECTED 2     // connected and registered: requests served, warnings taken
#define VEXIL_STATUS_DISABLED 4      // switched off for this process by the NOUSEVEXIL option
#define VEXIL_STATUS_CONNECTING 5    // the worker runs and is trying to connect

// The structured exception (flags 0, no arguments) that a broken precondition of a call raises in
// the calling thread, for example a null callback. Nothing in the library handles it, and no lock
// of the library is held when it is raised. A handler that continues execution gets the defined
// fallback of the call (its documented result).
// Linux: the check is the signal SIGTRAP, queued to the calling thread with si_code SI_QUEUE and
// si_value.sival_int holding this code. A host that installs a SIGTRAP handler (or sets it to
// SIG_IGN) observes the check; when its handler returns, the call goes on with the same fallback.
// A host that leaves SIGTRAP at its default action gets the line
// "VexilConn: internal check 0xE0000001 failed" on the standard error and the process aborts.
#define VEXIL_INTERNAL_CHECK_CODE 0xE0000001u

// Result codes of VexilInitConn.
#define VEXIL_INIT_OK 0           // options accepted, or the connector was switched off
#define VEXIL_INIT_BAD_OPTIONS 2  // GSID, HAPORT or HAIP missing or invalid (the log says which)
// Result codes of VexilRunConn and VexilRunConnCallbacks.
#define VEXIL_RUN_STARTED 0          // worker started, or the connector is switched off
#define VEXIL_RUN_ALREADY_RUNNING 3  // a worker was started before (also after VexilStopConn)
#define VEXIL_RUN_THREAD_FAILED 4    // the worker could not be created, or VexilStopConn came first
#define VEXIL_RUN_BAD_CALLBACKS 5    // VexilRunConnCallbacks only: the table's size is too small
// Result codes of VexilSendWarningMsg.
#define VEXIL_WARNING_QUEUED 1         // the warning will be sent to the HA agent
#define VEXIL_WARNING_NOT_CONNECTED 0  // status is not VEXIL_STATUS_CONNECTED; nothing was queued
// Result codes of the list functions VexilSetCounts to VexilAddStatExtra.
#define VEXIL_LIST_ADDED 1    // the values were copied into the reply
#define VEXIL_LIST_REFUSED 0  // a null list, null values with a count, a negative count, no memory
// Result codes of VexilGetCounters.
#define VEXIL_COUNTERS_FILLED 1   // the fields both sides know were filled; size says how far
#define VEXIL_COUNTERS_REFUSED 0  // size below VEXIL_COUNTERS_HEADER_SIZE; nothing was written
// The bytes of VexilConnCounters before its first counter: size and reserved.
#define VEXIL_COUNTERS_HEADER_SIZE 8

// Lists: connector-side objects through which a host of the callback table fills a list reply.
// A list is passed to one table entry and is valid only during that call, on that thread: the
// host must not keep it or pass it to another thread. Each call of a list function copies its
// values at once, so the host may reuse or free its arrays as soon as the function returns. The
// connector stamps each region and statistics entry with its own current GSID between the host's
// idA and idB.
typedef struct VexilCountsList VexilCountsList;
typedef struct VexilRegionList VexilRegionList;
typedef struct VexilRegionExtraList VexilRegionExtraList;
typedef struct VexilStatList VexilStatList;
typedef struct VexilStatExtraList VexilStatExtraList;

// The host's functions for the callback table. The connector calls them as it calls a
// vexil::HostCallback: only from its one worker thread, only while connected and registered, one
// call at a time, never nested, with none of its locks held, and it neither reads nor writes the
// agent connection meanwhile, so return promptly. Inside a call the host may use
// VexilSendWarningMsg and VexilGetStatus; VexilStopConn there only asks the worker to stop, and
// the host should still call it from one of its own threads before unloading. Replies leave in the
// order the requests came. Strings passed in are owned by the connector and valid only during the
// call. A null entry gives the answer written beside it.
typedef struct VexilHostCallbacks {
  // sizeof(VexilHostCallbacks) as the host compiled it. Later versions of this header add entries
  // at the end only; entries beyond size count as null.
  uint32_t size;
  // The host's own pointer, passed unchanged as the first argument of every entry.
  void* context;
  // Non-zero: the connector answers the check; zero: no answer is sent. Null: no answer.
  int(VEXILCONN_CALLBACK* onCheckRequest)(void* context, int32_t value);
  // Carry out the order name with its argument. result points to 1025 zero bytes and
  // *resultLength holds 1024 on entry; write at most 1024 bytes of text and store their number in
  // *resultLength. Zero: those bytes are the reply's result text; non-zero: the text is empty.
  // Null: the text is empty.
  int(VEXILCONN_CALLBACK* onOrder)(void* context, const char* name, const char* argument,
                                   char* result, int32_t* resultLength, uint32_t idA, uint32_t idB);
  // Carry out a command. Non-zero reports success to the agent, zero failure. Null: failure.
  int(VEXILCONN_CALLBACK* onCommand)(void* context, uint32_t idA, uint32_t idB, const char* text);
  // Fill the counts with VexilSetCounts; the reply is always sent (empty for null). The result
  // is ignored.
  int(VEXILCONN_CALLBACK* onCountsRequest)(void* context, VexilCountsList* list);
  // Add the regions with VexilAddRegion; the reply is always sent. The result is ignored.
  int(VEXILCONN_CALLBACK* onRegionRequest)(void* context, VexilRegionList* list);
  // Add the statistics with VexilAddStat; the reply is always sent. The result is ignored.
  int(VEXILCONN_CALLBACK* onStatRequest)(void* context, VexilStatList* list);
  // Add the extra regions with VexilAddRegionExtra. Non-zero: the extra reply is sent; zero or
  // null: it is not.
  int(VEXILCONN_CALLBACK* onRegionRequestExtra)(void* context, VexilRegionExtraList* list);
  // Add the extra statistics with VexilAddStatExtra. Non-zero: the extra reply is sent; zero or
  // null: it is not.
  int(VEXILCONN_CALLBACK* onStatRequestExtra)(void* context, VexilStatExtraList* list);
} VexilHostCallbacks;

// What the connector has counted since the library was loaded, for a host's own metrics: filled
// by VexilGetCounters. Every field has a fixed width and lies at the same offset in 32-bit and
// 64-bit Windows and in Linux hosts (8-byte fields at multiples of 8, no pointers). Later versions
// of this header add fields at the end only.
//
// The size rule: the host sets size to sizeof(VexilConnCounters) as it compiled it before the
// call. A size below VEXIL_COUNTERS_HEADER_SIZE is refused. Otherwise the library fills the
// fields that lie wholly within both the host's size and its own struct, sets reserved to 0, and
// sets size to the bytes it filled (a multiple of 8): a host built with an older, smaller
// struct gets just its fields; a host built with a newer, larger one gets size reduced to the
// library's struct, and its fields beyond that are left as they were.
//
// The counters only grow, except bytesQueued, which is a current figure. A connection is the
// TCP connection to the HA agent; its end is counted once, under its cause, when it was
// registered.
typedef struct VexilConnCounters {
  uint32_t size;             // set by the host before the call; the bytes filled after it
  uint32_t reserved;         // 0
  uint64_t connectAttempts;  // attempts to reach the agent, the failed ones included
  uint64_t connections;      // attempts whose TCP connect succeeded
  uint64_t registrations;    // connections registered with the agent (status connected)
  // Ends of registered connections, by cause:
  uint64_t closedByAgent;          // the agent closed the connection
  uint64_t closedByError;          // a receive, send or protocol error, or a failure of the worker
  uint64_t closedAtOutgoingLimit;  // the agent stopped reading: too much unsent (8 MiB)
  uint64_t closedByStop;           // VexilStopConn (or an unload) ended it
  uint64_t warningsQueued;         // VexilSendWarningMsg calls that returned VEXIL_WARNING_QUEUED
  uint64_t warningsRefused;  // VexilSendWarningMsg calls that returned VEXIL_WARNING_NOT_CONNECTED
  // Queued warnings that never reached a connection: it ended, or the connector stopped, first.
  uint64_t warningsDropped;
  uint64_t framesSent;      // frames handed to a connection: registrations, replies, warnings
  uint64_t framesReceived;  // frames received from the agent
  uint64_t bytesSent;       // bytes the system took for sending
  uint64_t bytesReceived;   // bytes received from the agent
  uint64_t bytesQueued;     // now: bytes queued or handed to the connection and not yet sent
  // The last system error code of a connection (Winsock or errno; 11, ERROR_BAD_FORMAT, for a
  // malformed frame from the agent), 0 while none happened.
  uint32_t lastSystemError;
  uint32_t reserved2;  // 0
} VexilConnCounters;

#ifdef __cplusplus
extern "C" {
#endif

// Reads the connector's options from the host's own command line (argv[0] is the program path).
// argc 1: nothing is read. An element containing NOUSEVEXIL with at least one character before it
// (-NOUSEVEXIL, /NOUSEVEXIL) after argv[0] switches the connector off (VEXIL_STATUS_DISABLED),
// and the log names that element. Otherwise at least five elements are needed, GSID and HAPORT
// (non-zero decimal numbers) and HAIP are required and CNFGFILE is optional, each given as one
// element such as -GSID:12 or /HAIP=10.0.0.1. The agent is always reached on port 8990, whatever
// HAPORT says, and at 127.0.0.1 when HAIP has fewer than 8 characters; the log says so. Returns
// VEXIL_INIT_OK or VEXIL_INIT_BAD_OPTIONS, and then the log and the console say which option is
// missing or invalid. argv must hold argc non-null elements: a null argv or element raises the
// exception VEXIL_INTERNAL_CHECK_CODE in the host's call. Never waits behind a reconnect.
int VEXILCONN_CALL VexilInitConn(int argc, const wchar_t* const* argv);

// Starts the worker thread, which connects to the HA agent and then calls the functions of
// *callbacks, as VexilRunConn does with a vexil::HostCallback. The table is copied (size bytes
// of it); the context it carries must stay valid until VexilStopConn has returned on a host
// thread. Returns VEXIL_RUN_STARTED (also when switched off: then nothing starts),
// VEXIL_RUN_ALREADY_RUNNING, VEXIL_RUN_THREAD_FAILED (also when VexilStopConn came first), or
// VEXIL_RUN_BAD_CALLBACKS when size is below the first version's table (then the log says so).
// A null callbacks raises the exception VEXIL_INTERNAL_CHECK_CODE in the host's call.
int VEXILCONN_CALL VexilRunConnCallbacks(const VexilHostCallbacks* callbacks);

// Stops the worker and waits for it to end, then closes the connection and drops what was not
// sent. The worker waits for nothing that a stop does not end (a connect under way and a name
// lookup are abandoned), so this returns promptly unless a host callback is running. Later calls
// do nothing. Inside a host callback it only asks the worker to stop (see VexilHostCallbacks).
// The connector cannot be started again in the same process. Never call it from the host's
// DllMain or from the destructor of a global or static object (in a DLL the C runtime runs those
// under the loader lock): it waits for the worker thread to end, and a thread's end needs that
// lock. Call it from the host's shutdown code.
void VEXILCONN_CALL VexilStopConn(void);

// Queues a warning for the HA agent. Neither text may be null. Returns VEXIL_WARNING_QUEUED, or
// VEXIL_WARNING_NOT_CONNECTED when the status is not VEXIL_STATUS_CONNECTED (before
// registration, while reconnecting, after VexilStopConn). Never waits behind a reconnect. A
// warning queued just before the connection drops is discarded, never sent on the next
// connection. A warning whose frame would exceed 16 MiB (its two texts together a little less)
// is refused with VEXIL_WARNING_NOT_CONNECTED and a log line giving its size; so is one the
// library runs out of memory for. Never waits for another thread: while 65,536 warnings or 8 MiB
// of them already wait to be sent (a burst faster than the worker sends), a warning is refused
// with VEXIL_WARNING_NOT_CONNECTED, and the log says so for the first and every 65,536th.
int VEXILCONN_CALL VexilSendWarningMsg(int32_t code, const char* text, const char* extraText,
                                       uint32_t idA, uint32_t idB);

// Always returns 0.
int VEXILCONN_CALL VexilGetConfigFileName(void);

// The current status, one of VEXIL_STATUS_*. Never blocks, not even while the worker reconnects.
int32_t VEXILCONN_CALL VexilGetStatus(void);

// The list functions, each returning VEXIL_LIST_ADDED or VEXIL_LIST_REFUSED. values may be null
// only when count is 0.
// The counts become the count values (a later call replaces an earlier one).
int VEXILCONN_CALL VexilSetCounts(VexilCountsList* list, const int32_t* values, int32_t count);
// Appends one region entry with count values.
int VEXILCONN_CALL VexilAddRegion(VexilRegionList* list, uint32_t idA, uint32_t idB,
                                  const int32_t* values, int32_t count);
// Appends one extra region entry with count values.
int VEXILCONN_CALL VexilAddRegionExtra(VexilRegionExtraList* list, uint32_t idA, uint32_t idB,
                                       const int32_t* values, int32_t count);
// Appends one statistics entry; a null text is sent as empty.
int VEXILCONN_CALL VexilAddStat(VexilStatList* list, uint32_t idA, uint32_t idB, uint32_t value1,
                                uint32_t value2, uint32_t value3, uint32_t value4,
                                const char* text);
// Appends one extra statistics entry, like VexilAddStat.
int VEXILCONN_CALL VexilAddStatExtra(VexilStatExtraList* list, uint32_t idA, uint32_t idB,
                                     uint32_t value1, uint32_t value2, uint32_t value3,
                                     uint32_t value4, const char* text);

// Fills *counters by the size rule of VexilConnCounters and returns VEXIL_COUNTERS_FILLED, or
// VEXIL_COUNTERS_REFUSED when its size is below VEXIL_COUNTERS_HEADER_SIZE. Any thread, any time
// between load and unload: also before VexilInitConn, after VexilStopConn and inside a host
// callback. Never blocks: each field is read on its own, so fields read together may be a moment
// apart. A null counters raises the exception VEXIL_INTERNAL_CHECK_CODE in the host's call.
int VEXILCONN_CALL VexilGetCounters(VexilConnCounters* counters);

#ifdef __cplusplus
}  // extern "C"
#endif

// Function types for hosts that load the library with LoadLibrary and GetProcAddress.
typedef int(VEXILCONN_CALL* VexilInitConnFn)(int, const wchar_t* const*);
typedef int(VEXILCONN_CALL* VexilRunConnCallbacksFn)(const VexilHostCallbacks*);
typedef void(VEXILCONN_CALL* VexilStopConnFn)(void);
typedef int(VEXILCONN_CALL* VexilSendWarningMsgFn)(int32_t, const char*, const char*, uint32_t,
                                                   uint32_t);
typedef int(VEXILCONN_CALL* VexilGetConfigFileNameFn)(void);
typedef int32_t(VEXILCONN_CALL* VexilGetStatusFn)(void);
typedef int(VEXILCONN_CALL* VexilSetCountsFn)(VexilCountsList*, const int32_t*, int32_t);
typedef int(VEXILCONN_CALL* VexilAddRegionFn)(VexilRegionList*, uint32_t, uint32_t, const int32_t*,
                                              int32_t);
typedef int(VEXILCONN_CALL* VexilAddRegionExtraFn)(VexilRegionExtraList*, uint32_t, uint32_t,
                                                   const int32_t*, int32_t);
typedef int(VEXILCONN_CALL* VexilAddStatFn)(VexilStatList*, uint32_t, uint32_t, uint32_t, uint32_t,
                                            uint32_t, uint32_t, const char*);
typedef int(VEXILCONN_CALL* VexilAddStatExtraFn)(VexilStatExtraList*, uint32_t, uint32_t, uint32_t,
                                                 uint32_t, uint32_t, uint32_t, const char*);
typedef int(VEXILCONN_CALL* VexilGetCountersFn)(VexilConnCounters*);

#ifdef __cplusplus
// The C++ interface: only for hosts built with the library's compiler family (see the top).

namespace vexil {

// The VEXIL_STATUS_* values as returned by VexilGetStatus.
enum ConnStatus : int32_t {
  StatusIdle = VEXIL_STATUS_IDLE,
  StatusReconnecting = VEXIL_STATUS_RECONNECTING,
  StatusConnected = VEXIL_STATUS_CONNECTED,
  StatusDisabled = VEXIL_STATUS_DISABLED,
  StatusConnecting = VEXIL_STATUS_CONNECTING,
};

constexpr uint32_t kInternalCheckCode = VEXIL_INTERNAL_CHECK_CODE;

// The result codes under their C++ names.
constexpr int kInitOk = VEXIL_INIT_OK;
constexpr int kInitBadOptions = VEXIL_INIT_BAD_OPTIONS;
constexpr int kRunStarted = VEXIL_RUN_STARTED;
constexpr int kRunAlreadyRunning = VEXIL_RUN_ALREADY_RUNNING;
constexpr int kRunThreadFailed = VEXIL_RUN_THREAD_FAILED;
constexpr int kRunBadCallbacks = VEXIL_RUN_BAD_CALLBACKS;
constexpr int kWarningQueued = VEXIL_WARNING_QUEUED;
constexpr int kWarningNotConnected = VEXIL_WARNING_NOT_CONNECTED;

// Sinks: connector-side objects through which the host fills a list reply. A sink is passed by
// address to one HostCallback operation and is valid only during that call: the host must not
// keep it, call it from another thread, or delete it. Every entry is copied at once, so the host
// may reuse or free its vectors and arrays as soon as a sink operation returns. The connector
// stamps each region and statistics entry with its own current GSID between the host's idA and
// idB.

// Fills the list of a counts reply.
class CountsSink {
 public:
  // Slot 0: the list becomes a copy of *counts (a later call replaces an earlier one).
  virtual void SetCounts(const std::vector<int32_t>* counts) = 0;
  // Slot 1: the list becomes the 10 values of *counts.
  virtual void SetCounts(const int32_t (*counts)[10]) = 0;

 protected:
  ~CountsSink() = default;
};

// Fills the list of a region reply; each call appends one entry.
class RegionSink {
 public:
  // Slot 0: values is required; a null pointer raises the exception 0xE0000001 in the host's call.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const std::vector<int32_t>* values) = 0;
  // Slot 1: 238 values.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const int32_t (*values)[238]) = 0;
  // Slot 2: 238 values given as unsigned words; they are copied unchanged.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const uint32_t (*values)[238]) = 0;
  // Slot 3: 272 values.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const int32_t (*values)[272]) = 0;

 protected:
  // Slot 4. Only the connector destroys a sink.
  virtual ~RegionSink() = default;
};

// Fills the list of the extra region reply; each call appends one entry.
class RegionExtraSink {
 public:
  // Slot 0: values is required; a null pointer raises the exception 0xE0000001 in the host's call.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const std::vector<int32_t>* values) = 0;
  // Slot 1: 238 values.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const int32_t (*values)[238]) = 0;
  // Slot 2: 272 values.
  virtual void AddRegion(uint32_t idA, uint32_t idB, const int32_t (*values)[272]) = 0;

 protected:
  // Slot 3.
  virtual ~RegionExtraSink() = default;
};

// Fills the list of a statistics reply; each call appends one entry. A null text is sent as empty.
class StatSink {
 public:
  // Slot 0.
  virtual void AddStat(uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2,
                       uint32_t value3, uint32_t value4, const char* text) = 0;

 protected:
  // Slot 1.
  virtual ~StatSink() = default;
};

// Fills the list of the extra statistics reply, like StatSink.
class StatExtraSink {
 public:
  // Slot 0.
  virtual void AddStat(uint32_t idA, uint32_t idB, uint32_t value1, uint32_t value2,
                       uint32_t value3, uint32_t value4, const char* text) = 0;

 protected:
  // Slot 1.
  virtual ~StatExtraSink() = default;
};

// The host's object, given to VexilRunConn. The connector calls it only from its one worker
// thread, only while connected and registered, one call at a time, never nested, and with none of
// its locks held. While a call runs the connector neither reads nor writes the agent connection,
// so return promptly. Inside a call the host may use VexilSendWarningMsg and VexilGetStatus.
// VexilStopConn called inside a call only asks the worker to stop (it cannot wait for itself):
// the worker ends when the call returns, and the host should still call VexilStopConn from one of
// its own threads before unloading. (A host that unloads without it does not crash: the worker
// holds the library until it has left, and the unload completes then.) The connector never
// deletes this object; keep it alive until VexilStopConn has returned on a host thread.
// Strings passed in are owned by the connector and valid only during the call.
class HostCallback {
 public:
  // Slot 0: the agent's yes/no check. Non-zero: the connector answers; zero: no answer is sent.
  virtual int OnCheckRequest(int32_t value) = 0;
  // Slot 1: carry out the order name with its argument. result points to 1025 zero bytes and
  // *resultLength holds 1024 on entry; write at most 1024 bytes of text and store their number in
  // *resultLength. Zero: those bytes are the reply's result text; non-zero: the text is empty.
  virtual int OnOrder(const char* name, const char* argument, char* result, int32_t* resultLength,
                      uint32_t idA, uint32_t idB) = 0;
  // Slot 2: carry out a command. Non-zero reports success to the agent, zero failure.
  virtual int OnCommand(uint32_t idA, uint32_t idB, const char* text) = 0;
  // Slot 3: fill the counts; the reply is always sent. The result is ignored.
  virtual int OnCountsRequest(CountsSink* sink) = 0;
  // Slot 4: add the regions; the reply is always sent. The result is ignored.
  virtual int OnRegionRequest(RegionSink* sink) = 0;
  // Slot 5: add the statistics; the reply is always sent. The result is ignored.
  virtual int OnStatRequest(StatSink* sink) = 0;
  // Slot 6: add the extra regions. Non-zero: the extra reply is sent; zero: it is not.
  virtual int OnRegionRequestExtra(RegionExtraSink* sink) = 0;
  // Slot 7: add the extra statistics. Non-zero: the extra reply is sent; zero: it is not.
  virtual int OnStatRequestExtra(StatExtraSink* sink) = 0;

 protected:
  // Not virtual: the interface has exactly the eight slots above, and the connector never deletes
  // the host's object.
  ~HostCallback() = default;
};

}  // namespace vexil

extern "C" {

// Starts the worker thread, which connects to the HA agent and then calls callback. Returns
// kRunStarted (also when switched off: then nothing starts), kRunAlreadyRunning or
// kRunThreadFailed (also when VexilStopConn came first: nothing can start after it). A null
// callback raises the exception 0xE0000001 in the host's call.
int VEXILCONN_CALL VexilRunConn(vexil::HostCallback* callback);

}  // extern "C"

using VexilRunConnFn = int(VEXILCONN_CALL*)(vexil::HostCallback*);

#endif  // __cplusplus

#endif  // VEXILCONN_VEXILCONN_H_
