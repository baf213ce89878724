// The library's exports and its two process-wide objects.
#include "host/agent_connector.h"
#include "log/conn_log.h"
#include "vexilconn/vexilconn.h"

namespace {

// Defined together so that their order is fixed: the log first, then the connector that writes
// to it; destroyed in the reverse order at unload.
vexil::ConnLog g_conn_log;
vexil::AgentConnector g_connector(&g_conn_log);

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

}  // extern "C"
