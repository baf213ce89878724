// One run-time load of VexilConn.dll, used only through the public header, as a game server built
// with the same toolchain would. Windows build only.
#ifndef VEXIL_TESTS_HOST_DLL_LIBRARY_H_
#define VEXIL_TESTS_HOST_DLL_LIBRARY_H_

#include <winsock2.h>  // before <windows.h>
#include <windows.h>

#include <string>
#include <vector>

#include "vexilconn/vexilconn.h"

namespace vexil::testing {

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

// A host that agrees to every check and adds nothing to any list.
class AgreeingHost : public vexil::HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 1; }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 1; }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 1; }
  int OnCountsRequest(vexil::CountsSink*) override { return 0; }
  int OnRegionRequest(vexil::RegionSink*) override { return 0; }
  int OnStatRequest(vexil::StatSink*) override { return 0; }
  int OnRegionRequestExtra(vexil::RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(vexil::StatExtraSink*) override { return 0; }
};

// One load of the library: a fresh connector and log writer, unloaded again at the end.
class Library {
 public:
  Library()
      : module_(::LoadLibraryExW((ProgramDirectory() + L"VexilConn.dll").c_str(), nullptr,
                                 LOAD_WITH_ALTERED_SEARCH_PATH)) {}
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }

  bool loaded() const { return module_ != nullptr; }
  // Gives up this load now rather than at the end of the scope.
  void Unload() {
    if (module_ != nullptr) ::FreeLibrary(module_);
    module_ = nullptr;
  }
  FARPROC Find(const char* name) const { return ::GetProcAddress(module_, name); }

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

 private:
  template <typename Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(name)));
  }
  HMODULE module_;
};

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_HOST_DLL_LIBRARY_H_
