// The operator's check of who the agent is: the [AGENT] keys of the profile, read once at load,
// and the verdict on the far end of each new connection before anything is sent on it. Off, the
// check asks the system nothing. What the system says about a connection comes through
// PeerSystem, so that the verdicts are platform-free and testable with a stand-in.
#ifndef VEXIL_HOST_AGENT_CHECK_H_
#define VEXIL_HOST_AGENT_CHECK_H_

#include <string>
#include <vector>

#include "net/peer_identity.h"

namespace vexil {

class ConnLog;

// The [AGENT] keys; an absent key is empty.
struct AgentKeys {
  std::wstring user;     // AgentUser: POSIX a user name or uid; Windows a SID string or account
  std::wstring exe;      // AgentExe: the full path of the agent's executable
  std::wstring service;  // AgentService: Windows only, the service the agent runs as
  bool any() const { return !user.empty() || !exe.empty() || !service.empty(); }
};

// What the check asks of the system. The library's is SystemPeers(); tests give a stand-in.
class PeerSystem {
 public:
  virtual ~PeerSystem() = default;
  virtual void LookUp(SOCKET handle, const PeerQuery& query, PeerIdentity* identity) = 0;
  virtual bool CanonicalUser(const std::wstring& name, std::wstring* canonical,
                             std::wstring* problem) = 0;
  virtual std::wstring CanonicalExecutable(const std::wstring& path) = 0;
  virtual bool SameExecutable(const std::wstring& found, const std::wstring& expected) = 0;
  virtual bool ServiceCheckable() const = 0;
};

// The operating system's answers (net/peer_identity.h). Lives as long as the process.
PeerSystem& SystemPeers();

// The verdict on one connection, with the text the log gives it.
struct AgentVerdict {
  bool admitted = false;
  // Admitted: what was found ("user 1000, executable /usr/bin/ha-agent"). Refused: what was
  // found and what was expected.
  std::wstring finding;
  // Why anything asked is unknown, as the system said it; it may name the connection's own port,
  // so a refusal is the same finding whatever this says.
  std::wstring unknown_why;
};

// Built at load; judged on the connector's worker only (not thread-safe). Borrows system.
class AgentCheck {
 public:
  // Off: admits every connection without asking anything.
  AgentCheck() = default;
  // keys as the profile gave them. untrusted_why, when not empty, says why the profile may not be
  // trusted with them: then, as when a key cannot be checked on this platform, every connection
  // is refused. With no key at all the check is off whatever the rest says.
  AgentCheck(AgentKeys keys, const std::wstring& untrusted_why, PeerSystem* system);
  // The [AGENT] keys of log's profile, trusted as the profile's ownership allows.
  static AgentCheck FromProfile(const ConnLog& log, PeerSystem* system);

  bool on() const { return on_; }
  // The lines the load writes: what is checked, or why every connection will be refused. Empty
  // when off.
  std::vector<std::wstring> LoadLines() const;
  // Whether the far end of handle, a connected socket nothing was sent on yet, is the agent the
  // keys name. Every key given must match; what cannot be found refuses. Call only when on().
  AgentVerdict Judge(SOCKET handle);

 private:
  // The user to compare with, resolved on first use (a name lookup may be slow and must not run
  // at load); false with *problem while the name names no user.
  bool ExpectedUser(std::wstring* problem);
  std::wstring DescribeExpected() const;

  bool on_ = false;
  AgentKeys keys_;
  // Why every connection is refused (a key this platform cannot check, an untrusted profile).
  std::wstring misconfigured_why_;
  PeerSystem* system_ = nullptr;
  std::wstring expected_user_;  // resolved from keys_.user; empty until then
  std::wstring expected_exe_;   // keys_.exe in canonical form
};

}  // namespace vexil

#endif  // VEXIL_HOST_AGENT_CHECK_H_
