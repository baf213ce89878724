// VexilConn.dll (Windows) and libvexilconn.so (Linux): the interface a game server (the host)
// compiles against.
//
// Architectures and toolchains: VexilConn.dll comes for 32-bit (x86) and for 64-bit (x64) Windows
// hosts, libvexilconn.so for x86-64 Linux hosts, with the same exports, log and wire. Build the host
// with the same compiler as the library's build of its platform (C++17): MinGW-w64 i686 GCC for
// x86, MinGW-w64 x86_64 GCC for x64 (posix thread model both); on Linux GCC or Clang with
// libstdc++ (the Itanium C++ ABI). HostCallback and the sinks are C++ virtual-table interfaces;
// their object layout, the order of their virtual operations, the member-call convention and the
// layout of std::vector are those of that compiler family and its libstdc++. A host built with
// another will crash on the first callback; a host cannot load the DLL of the other architecture.
//
// Order of calls: load the library, VexilInitConn, VexilRunConn, any number of
// VexilSendWarningMsg and VexilGetStatus, VexilStopConn, unload. Every export may be called from
// any host thread. Strings handed to or from the host are NUL-terminated and, when narrow, in the
// system ANSI code page (Windows) or UTF-8 (Linux, where wchar_t holds UTF-32).
#ifndef VEXILCONN_VEXILCONN_H_
#define VEXILCONN_VEXILCONN_H_

#include <cstdint>
#include <vector>

#if defined(_WIN32) && !defined(VEXILCONN_CALL)
#define VEXILCONN_CALL __cdecl
#elif !defined(VEXILCONN_CALL)
#define VEXILCONN_CALL
#endif

namespace vexil {

// The connector's state as returned by VexilGetStatus. There is no value 3.
enum ConnStatus : int32_t {
  StatusIdle = 0,          // nothing has been started
  StatusReconnecting = 1,  // the connection to the HA agent was lost; reconnecting now
  StatusConnected = 2,     // connected and registered: requests are served, warnings accepted
  StatusDisabled = 4,      // switched off for this process by the NOUSEVEXIL option
  StatusConnecting = 5,    // the worker runs and is trying to connect
};

// The structured exception (flags 0, no arguments) that a broken precondition of a call raises in
// the calling thread, for example a null callback. Nothing in the library handles it, and no lock
// of the library is held when it is raised. A handler that continues execution gets the defined
// fallback of the call (its documented result).
// Linux: the check is the signal SIGTRAP, queued to the calling thread with si_code SI_QUEUE and
// si_value.sival_int holding this code. A host that installs a SIGTRAP handler (or sets it to
// SIG_IGN) observes the check; when its handler returns, the call goes on with the same fallback.
// A host that leaves SIGTRAP at its default action gets the line
// "VexilConn: internal check 0xE0000001 failed" on the standard error and the process aborts.
constexpr uint32_t kInternalCheckCode = 0xE0000001u;

// Result codes of VexilInitConn.
constexpr int kInitOk = 0;          // options accepted, or the connector was switched off
constexpr int kInitBadOptions = 2;  // GSID, HAPORT or HAIP missing or invalid
// Result codes of VexilRunConn.
constexpr int kRunStarted = 0;         // worker started, or the connector is switched off
constexpr int kRunAlreadyRunning = 3;  // a worker was started before (also after VexilStopConn)
constexpr int kRunThreadFailed = 4;    // the worker thread could not be created
// Result codes of VexilSendWarningMsg.
constexpr int kWarningQueued = 1;        // the warning will be sent to the HA agent
constexpr int kWarningNotConnected = 0;  // status is not StatusConnected; nothing was queued

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

// Reads the connector's options from the host's own command line (argv[0] is the program path).
// argc 1: nothing is read. An element containing NOUSEVEXIL with at least one character before it
// (-NOUSEVEXIL, /NOUSEVEXIL) after argv[0] switches the connector off (StatusDisabled). Otherwise
// GSID and HAPORT (non-zero decimal numbers) and HAIP are required and CNFGFILE is optional, each
// given as one element such as -GSID:12 or /HAIP=10.0.0.1. Returns kInitOk or kInitBadOptions.
// argv must hold argc non-null elements: a null argv or element raises the exception
// 0xE0000001 in the host's call. Never waits behind a reconnect.
int VEXILCONN_CALL VexilInitConn(int argc, const wchar_t* const* argv);

// Starts the worker thread, which connects to the HA agent and then calls callback. Returns
// kRunStarted (also when switched off: then nothing starts), kRunAlreadyRunning or
// kRunThreadFailed (also when VexilStopConn came first: nothing can start after it). A null
// callback raises the exception 0xE0000001 in the host's call.
int VEXILCONN_CALL VexilRunConn(vexil::HostCallback* callback);

// Stops the worker and waits for it to end, then closes the connection and drops what was not
// sent. The worker waits for nothing that a stop does not end (a connect under way and a name
// lookup are abandoned), so this returns promptly unless a HostCallback call is running. Later
// calls do nothing. Inside a HostCallback operation it only asks the worker to stop
// (see HostCallback). The connector cannot be started again in the same process.
void VEXILCONN_CALL VexilStopConn(void);

// Queues a warning for the HA agent. Neither text may be null. Returns kWarningQueued, or
// kWarningNotConnected when the status is not StatusConnected (before registration, while
// reconnecting, after VexilStopConn). Never waits behind a reconnect. A warning queued just before
// the connection drops is discarded, never sent on the next connection. A warning whose frame
// would exceed 16 MiB (its two texts together a little less) is refused with kWarningNotConnected
// and a log line giving its size; so is one the library runs out of memory for.
int VEXILCONN_CALL VexilSendWarningMsg(int32_t code, const char* text, const char* extraText,
                                       uint32_t idA, uint32_t idB);

// Always returns 0.
int VEXILCONN_CALL VexilGetConfigFileName(void);

// The current vexil::ConnStatus. Never blocks, not even while the worker reconnects.
int32_t VEXILCONN_CALL VexilGetStatus(void);

}  // extern "C"

// Function types for hosts that load the library with LoadLibrary and GetProcAddress.
using VexilInitConnFn = int(VEXILCONN_CALL*)(int, const wchar_t* const*);
using VexilRunConnFn = int(VEXILCONN_CALL*)(vexil::HostCallback*);
using VexilStopConnFn = void(VEXILCONN_CALL*)(void);
using VexilSendWarningMsgFn = int(VEXILCONN_CALL*)(int32_t, const char*, const char*, uint32_t,
                                                   uint32_t);
using VexilGetConfigFileNameFn = int(VEXILCONN_CALL*)(void);
using VexilGetStatusFn = int32_t(VEXILCONN_CALL*)(void);

#endif  // VEXILCONN_VEXILCONN_H_
