// Another run of this program, started with a sub-command, owned for its whole life. Windows only.
#ifndef VEXIL_TOOLS_WINDOWS_CHECK_CHILD_PROCESS_H_
#define VEXIL_TOOLS_WINDOWS_CHECK_CHILD_PROCESS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vexil::tools {

class ChildProcess {
 public:
  // Starts this program's own file with the given arguments. inherit_handles is CreateProcess's
  // bInheritHandles: TRUE gives the child every inheritable handle of this process, as a game
  // server starting a helper often does.
  ChildProcess(const std::wstring& arguments, bool inherit_handles);
  // A child still running is ended: no check leaves a process behind.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  // The system's error code when the start failed.
  uint32_t start_error() const { return start_error_; }
  bool Running() const;
  // Waits at most timeout_ms for the child to end; its exit code, or nothing while it runs.
  std::optional<uint32_t> Wait(uint32_t timeout_ms) const;

 private:
  struct HandleClose {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, HandleClose> process_;
  uint32_t start_error_ = 0;
};

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_WINDOWS_CHECK_CHILD_PROCESS_H_
