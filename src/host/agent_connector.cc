#include "host/agent_connector.h"

#include <cstdio>

#include "sync/check.h"
#include "sync/scoped_lock.h"

namespace vexil {

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "VexilGetStatus must read the status without a lock");

AgentConnector::AgentConnector(ConnLog* log) : status_(StatusIdle), log_(log) {}

AgentConnector::~AgentConnector() = default;

void AgentConnector::Lock() { lock_.Enter(); }

void AgentConnector::Unlock() { lock_.Leave(); }

int AgentConnector::InitConn(int argc, const wchar_t* const* argv) {
  // Checked before the lock: a host that handles the check must not find the lock held.
  if (argc > 1) {
    if (argv == nullptr) {
      CheckFailed();
      return kInitBadOptions;
    }
    for (int i = 0; i < argc; ++i) {
      if (argv[i] == nullptr) {
        CheckFailed();
        return kInitBadOptions;
      }
    }
  }
  ScopedLock<AgentConnector> guard(this, true);
  switch (ReadStartupOptions(argc, argv, &settings_)) {
    case StartupOutcome::kUnchanged:
    case StartupOutcome::kAccepted:
      return kInitOk;
    case StartupOutcome::kDisabled:
      log_->Write(1, L"_NOUSEVEXIL_ ACTIVATED");
      std::wprintf(L"_NOUSEVEXIL_ ACTIVATED\n");
      SetStatus(StatusDisabled);
      return kInitOk;
    case StartupOutcome::kRejected:
      break;
  }
  return kInitBadOptions;
}

ConnSettings AgentConnector::settings() {
  ScopedLock<AgentConnector> guard(this, true);
  return settings_;
}

}  // namespace vexil
