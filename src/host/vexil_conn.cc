// The library's exports, its two process-wide objects and, on Windows, its entry point.
#ifdef _WIN32
#include "sync/win32.h"
#endif

#include <memory>
#include <new>

#include "agent/callback_table.h"
#include "host/agent_connector.h"
#include "log/conn_log.h"
#include "log/process_info.h"
#include "sync/check.h"
#include "vexilconn/vexilconn.h"

namespace {

// The library's two process-wide objects: the log first, then the connector that writes to it,
// destroyed in the reverse order. Constructed at load, after which the first line of every load
// is written: the library's version, the program and its process, so that two processes of one
// program started in the same minute, which share a log file, can be told apart.
struct LibraryObjects {
  LibraryObjects() : connector(&log) {
    log.Write(1, L"VexilConn %ls loaded by %ls, process %u", L"" VEXILCONN_VERSION,
              vexil::ExecutablePath().c_str(), static_cast<unsigned>(vexil::CurrentProcessId()));
  }
  vexil::ConnLog log;
  vexil::AgentConnector connector;
};

// Constructed in place at load and never registered for destruction at exit: on Windows the C
// runtime runs a library's registered destructors at every detach, the one of process exit
// included, when the system has already ended the other threads wherever they were (the worker
// perhaps inside the connector lock or a send). Destroyed only where that cannot be: see below.
alignas(LibraryObjects) unsigned char g_storage[sizeof(LibraryObjects)];
LibraryObjects& g_objects = *new (g_storage) LibraryObjects;
vexil::ConnLog& g_conn_log = g_objects.log;
vexil::AgentConnector& g_connector = g_objects.connector;

#ifndef _WIN32
// POSIX: a host that unloads the library (dlclose) or exits without VexilStopConn would leave the
// worker running into the objects above as they are destroyed, and into unmapped code. This stops
// the worker and waits for it to end, as VexilStopConn does, then destroys them.
struct DestroyAtUnload {
  ~DestroyAtUnload() {
    g_connector.StopConn();
    g_objects.~LibraryObjects();
  }
} g_destroy_at_unload;
#endif

}  // namespace

#ifdef _WIN32
// Does nothing at load, and nothing at process exit (reserved not null): then the system has
// ended the library's threads wherever they were and reclaims what they held; a clean-up could
// only trip over it. At an unload by FreeLibrary (reserved null) no thread of the library runs
// any more (the worker and a host-name lookup each hold the library until they end), so the
// objects go, as on POSIX. Runs under the loader lock: nothing here waits, starts the socket
// service or loads a library.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) g_objects.~LibraryObjects();
  return TRUE;
}
#endif

extern "C" {

int VEXILCONN_CALL VexilInitConn(int argc, const wchar_t* const* argv) {
  return g_connector.InitConn(argc, argv);
}

int VEXILCONN_CALL VexilRunConn(vexil::HostCallback* callback) {
  return g_connector.RunConn(callback);
}

void VEXILCONN_CALL VexilStopConn(void) { g_connector.StopConn(); }

int VEXILCONN_CALL VexilSendWarningMsg(int32_t code, const char* text, const char* extraText,
                                       uint32_t idA, uint32_t idB) {
  return g_connector.SendWarningMsg(code, text, extraText, idA, idB);
}

int VEXILCONN_CALL VexilGetConfigFileName(void) { return 0; }

int32_t VEXILCONN_CALL VexilGetStatus(void) { return g_connector.GetStatus(); }

int VEXILCONN_CALL VexilRunConnCallbacks(const VexilHostCallbacks* callbacks) {
  if (callbacks == nullptr) {
    vexil::CheckFailed();
    return vexil::kRunThreadFailed;
  }
  if (callbacks->size < vexil::kHostCallbacksFirstSize) {
    g_conn_log.Write(1,
                     L"VexilRunConnCallbacks refused the table: size %u, at least %u needed "
                     L"(set size to sizeof(VexilHostCallbacks))",
                     static_cast<unsigned>(callbacks->size),
                     static_cast<unsigned>(vexil::kHostCallbacksFirstSize));
    return vexil::kRunBadCallbacks;
  }
  try {
    return g_connector.RunConn(std::make_unique<vexil::CallbackTableHost>(*callbacks));
  } catch (...) {  // no memory for the table's host: nothing started
    return vexil::kRunThreadFailed;
  }
}

int VEXILCONN_CALL VexilSetCounts(VexilCountsList* list, const int32_t* values, int32_t count) {
  return vexil::SetCountsList(list, values, count);
}

int VEXILCONN_CALL VexilAddRegion(VexilRegionList* list, uint32_t idA, uint32_t idB,
                                  const int32_t* values, int32_t count) {
  return vexil::AddRegionList(list, idA, idB, values, count);
}

int VEXILCONN_CALL VexilAddRegionExtra(VexilRegionExtraList* list, uint32_t idA, uint32_t idB,
                                       const int32_t* values, int32_t count) {
  return vexil::AddRegionExtraList(list, idA, idB, values, count);
}

int VEXILCONN_CALL VexilAddStat(VexilStatList* list, uint32_t idA, uint32_t idB, uint32_t value1,
                                uint32_t value2, uint32_t value3, uint32_t value4,
                                const char* text) {
  return vexil::AddStatList(list, idA, idB, value1, value2, value3, value4, text);
}

int VEXILCONN_CALL VexilAddStatExtra(VexilStatExtraList* list, uint32_t idA, uint32_t idB,
                                     uint32_t value1, uint32_t value2, uint32_t value3,
                                     uint32_t value4, const char* text) {
  return vexil::AddStatExtraList(list, idA, idB, value1, value2, value3, value4, text);
}

int VEXILCONN_CALL VexilGetCounters(VexilConnCounters* counters) {
  if (counters == nullptr) {
    vexil::CheckFailed();
    return VEXIL_COUNTERS_REFUSED;
  }
  return g_connector.GetCounters(counters);
}

}  // extern "C"
