// The one connector object per process: its lock, its status and its settings. Every export of
// the library forwards to it.
#ifndef VEXIL_HOST_AGENT_CONNECTOR_H_
#define VEXIL_HOST_AGENT_CONNECTOR_H_

#include <atomic>
#include <cstdint>

#include "host/startup_options.h"
#include "log/conn_log.h"
#include "sync/critical_section.h"
#include "sync/lockable.h"
#include "vexilconn/vexilconn.h"

namespace vexil {

class AgentConnector : public Lockable {
 public:
  // log is borrowed and must outlive the connector (the library constructs its ConnLog first).
  explicit AgentConnector(ConnLog* log);
  AgentConnector(const AgentConnector&) = delete;
  AgentConnector& operator=(const AgentConnector&) = delete;
  // Destroys the members only: the host is expected to have stopped the connector.
  virtual ~AgentConnector();

  // The connector lock: re-entrant for the owning thread. Take it with a ScopedLock.
  void Lock() override;
  void Unlock() override;

  // VexilInitConn: reads the options under the connector lock; returns kInitOk or kInitBadOptions.
  // argv must hold argc non-null elements: a null argv (with argc above 1) or element raises the
  // internal check before the lock is taken and, if resumed, returns kInitBadOptions.
  int InitConn(int argc, const wchar_t* const* argv);

  // One aligned 32-bit read; never blocks.
  int32_t GetStatus() const { return status_.load(std::memory_order_acquire); }

  // A copy taken under the connector lock.
  ConnSettings settings();

 private:
  void SetStatus(ConnStatus status) { status_.store(status, std::memory_order_release); }

  CriticalSection lock_;
  // Written under lock_, read without it.
  std::atomic<int32_t> status_;
  ConnSettings settings_;  // Guarded by lock_.
  ConnLog* log_;
};

}  // namespace vexil

#endif  // VEXIL_HOST_AGENT_CONNECTOR_H_
