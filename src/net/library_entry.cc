// The entry point of VexilConn.dll: starts the socket service for the process on load and cleans it
// up on unload. The library's static objects are constructed before the attach notification.
#include "sync/win32.h"

#include "net/socket_service.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ::DisableThreadLibraryCalls(instance);
      // A failed start-up is not fatal here: later socket calls fail with WSANOTINITIALISED.
      vexil::StartupSockets(vexil::kSocketVersion20);
      break;
    case DLL_PROCESS_DETACH:
      vexil::CleanupSockets();
      break;
    case DLL_THREAD_ATTACH:
    case DLL_THREAD_DETACH:
      // Switched off at attach, but the switch can fail (a module with static TLS): a thread's
      // end must never take the process's socket service down with it.
      break;
    default:
      break;
  }
  return TRUE;
}
