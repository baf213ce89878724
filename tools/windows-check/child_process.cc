#include "windows-check/child_process.h"

#include "sync/win32.h"

#include <vector>

#include "support/dll_library.h"

namespace vexil::tools {

void ChildProcess::HandleClose::operator()(void* handle) const { ::CloseHandle(handle); }

ChildProcess::ChildProcess(const std::wstring& arguments, bool inherit_handles) {
  const std::wstring path = testing::ExecutablePath();
  // The program's own path, quoted for spaces; CreateProcessW may write into the command line,
  // so it gets a buffer of its own.
  const std::wstring line = L"\"" + path + L"\" " + arguments;
  std::vector<wchar_t> command(line.begin(), line.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr,
                        inherit_handles ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &info)) {
    start_error_ = ::GetLastError();
    return;
  }
  ::CloseHandle(info.hThread);
  process_.reset(info.hProcess);
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    ::TerminateProcess(process_.get(), 1);
    // TerminateProcess only starts the end; the wait makes it so before the handle goes.
    ::WaitForSingleObject(process_.get(), 5000);
  }
}

bool ChildProcess::Running() const {
  return started() && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<uint32_t> ChildProcess::Wait(uint32_t timeout_ms) const {
  if (!started() || ::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
  return code;
}

}  // namespace vexil::tools
