// The library's exports and its two process-wide objects.
#include <memory>

#include "agent/callback_table.h"
#include "host/agent_connector.h"
#include "log/conn_log.h"
#include "log/process_info.h"
#include "sync/check.h"
#include "vexilconn/vexilconn.h"

namespace {

// Defined together so that their order is fixed: the log first, then the connector that writes
// to it; destroyed in the reverse order at unload.
vexil::ConnLog g_conn_log;
vexil::AgentConnector g_connector(&g_conn_log);

// Writes the first line of every load: the library's version, the program and its process, so
// that two processes of one program started in the same minute, which share a log file, can be
// told apart.
struct LoadLine {
  explicit LoadLine(vexil::ConnLog* log) {
    log->Write(1, L"VexilConn %ls loaded by %ls, process %u", L"" VEXILCONN_VERSION,
               vexil::ExecutablePath().c_str(), static_cast<unsigned>(vexil::CurrentProcessId()));
  }
};
const LoadLine g_load_line(&g_conn_log);

#ifndef _WIN32
// POSIX: a host that unloads the library (dlclose) or exits without VexilStopConn would leave the
// worker running into the objects above as they are destroyed, and into unmapped code. Destroyed
// before them, this stops the worker and waits for it to end, as VexilStopConn does. (Windows
// ends the process's other threads before a library's destructors run at exit, and a wait there
// would hold the loader lock.)
struct StopAtUnload {
  ~StopAtUnload() { g_connector.StopConn(); }
} g_stop_at_unload;
#endif

}  // namespace

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

}  // extern "C"
