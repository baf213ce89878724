// One run-time load of the library (VexilConn.dll, or libvexilconn.so through dlopen), used only
// through the public header, as a game server built with the same toolchain would.
#ifndef VEXIL_TESTS_SUPPORT_DLL_LIBRARY_H_
#define VEXIL_TESTS_SUPPORT_DLL_LIBRARY_H_

#ifdef _WIN32
#include <winsock2.h>  // before <windows.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/agreeing_host.h"
#include "vexilconn/vexilconn.h"

namespace vexil::testing {

#ifdef _WIN32
inline std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// The directory of this program, where the build puts VexilConn.dll and Zoth.dll.
inline std::wstring ProgramDirectory() {
  const std::wstring path = ExecutablePath();
  return path.substr(0, path.rfind(L'\\') + 1);
}
#else
// The program's path as /proc/self/exe names it, widened byte by byte (the build tree's paths are
// ASCII).
inline std::wstring ExecutablePath() {
  char path[4096] = {};
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::wstring(path, path + length) : std::wstring();
}
#endif

// One load of the library: a fresh connector and log writer, unloaded again at the end.
class Library {
 public:
#ifdef _WIN32
  Library()
      : module_(::LoadLibraryExW((ProgramDirectory() + L"VexilConn.dll").c_str(), nullptr,
                                 LOAD_WITH_ALTERED_SEARCH_PATH)) {}
  // Unloads now; later calls do nothing.
  void Unload() {
    if (module_ != nullptr) ::FreeLibrary(module_);
    module_ = nullptr;
  }
  void* Find(const char* name) const {
    return reinterpret_cast<void*>(::GetProcAddress(module_, name));
  }
#else
  // The build gives the library's path (VEXILCONN_LIBRARY_PATH).
  Library() : module_(::dlopen(VEXILCONN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  void Unload() {
    if (module_ != nullptr) ::dlclose(module_);
    module_ = nullptr;
  }
  void* Find(const char* name) const { return ::dlsym(module_, name); }
#endif
  ~Library() { Unload(); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool loaded() const { return module_ != nullptr; }

  int InitConn(const std::vector<const wchar_t*>& argv) const {
    return Get<VexilInitConnFn>("VexilInitConn")(static_cast<int>(argv.size()), argv.data());
  }
  int32_t GetStatus() const { return Get<VexilGetStatusFn>("VexilGetStatus")(); }
  int GetConfigFileName() const {
    return Get<VexilGetConfigFileNameFn>("VexilGetConfigFileName")();
  }
  int RunConn(vexil::HostCallback* callback) const {
    return Get<VexilRunConnFn>("VexilRunConn")(callback);
  }
  void StopConn() const { Get<VexilStopConnFn>("VexilStopConn")(); }
  int SendWarningMsg(int32_t code, const char* text, const char* extra, uint32_t idA,
                     uint32_t idB) const {
    return Get<VexilSendWarningMsgFn>("VexilSendWarningMsg")(code, text, extra, idA, idB);
  }
  int GetCounters(VexilConnCounters* counters) const {
    return Get<VexilGetCountersFn>("VexilGetCounters")(counters);
  }
  // The counters as this header knows them; all zero when the call is refused.
  VexilConnCounters Counters() const {
    VexilConnCounters counters{};
    counters.size = sizeof counters;
    if (GetCounters(&counters) != VEXIL_COUNTERS_FILLED) counters = VexilConnCounters{};
    return counters;
  }

 private:
  template <typename Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(Find(name));
  }
#ifdef _WIN32
  HMODULE module_;
#else
  void* module_;
#endif
};

// Reads the options with the agent at haip (GSID 12) and starts the worker with host; true when
// both calls succeed.
inline bool StartLibrary(const Library& library, const wchar_t* haip, vexil::HostCallback* host) {
  const std::wstring option = std::wstring(L"-HAIP:") + haip;
  if (library.InitConn({L"srv", L"-GSID:12", L"-HAPORT:1", option.c_str(), L"x"}) != 0) {
    return false;
  }
  return library.RunConn(host) == 0;
}

// Polls the status every 10 ms for at most ms; true as soon as it is status.
inline bool WaitForStatus(const Library& library, int32_t status, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (library.GetStatus() == status) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_DLL_LIBRARY_H_
