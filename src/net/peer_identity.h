// Who owns the far end of a connected TCP socket on this machine, as the operating system tells
// it: the agent's side of the connector's connection. Asked only when the operator turned the
// agent check on, on the connector's worker, before a byte is sent on the connection.
// peer_identity_posix.cc: socket diagnostics over netlink (an exact lookup of the reversed address
// pair), /proc/net/tcp where netlink is refused, /proc/PID for the process. peer_identity_win.cc:
// the TCP table with owning process ids, the process's image name and token, the service manager.
#ifndef VEXIL_NET_PEER_IDENTITY_H_
#define VEXIL_NET_PEER_IDENTITY_H_

#include <cstdint>
#include <string>

#include "net/socket_types.h"

namespace vexil {

// What a lookup should find out. Each costs system calls, so only what a check needs is asked.
struct PeerQuery {
  bool user = false;        // the owning user
  bool executable = false;  // the owning process's executable
  // Windows: the service whose process must own the far end; the service manager is asked while
  // the far end's process is held open, so that neither process id can be reused between the two.
  std::wstring service;
};

// What the system said. An empty text is unknown, and unknown_why then says why.
struct PeerIdentity {
  // POSIX: the decimal uid as this process's user namespace sees it (an unmapped uid, the
  // overflow uid, is unknown, never a user). Windows: the SID string of the process's token.
  std::wstring user;
  // POSIX: the path /proc/PID/exe names. Windows: the process's full Win32 image path.
  std::wstring executable;
  // The far end's process, when found (0: unknown).
  uint32_t process_id = 0;
  // Windows, when query.service was given: whether the far end's process is that service's (when
  // not, unknown_why says why: no such service, not running, another process).
  bool is_service = false;
  // One clause per thing asked and not found, "; " between them, for the log.
  std::wstring unknown_why;
};

// Looks up the owner of the far end of handle, a connected IPv4 TCP socket whose far end is on
// this machine. Fills what query asks for; what cannot be found stays unknown, with its reason.
// Never waits on the network.
void LookUpPeer(SOCKET handle, const PeerQuery& query, PeerIdentity* identity);

// A user named in the profile in the form LookUpPeer reports users. POSIX: a decimal uid as it
// is, a name through the user database. Windows: a SID string normalised, an account name through
// the account lookup. False, with *problem for the log, when it names no user.
bool CanonicalUser(const std::wstring& name, std::wstring* canonical, std::wstring* problem);

// An executable path named in the profile in the form LookUpPeer reports executables. POSIX:
// symbolic links resolved (the path as given when it cannot be resolved). Windows: the full,
// normalised path.
std::wstring CanonicalExecutable(const std::wstring& path);
// Whether two canonical executable paths name the same file: POSIX: equal; Windows: equal without
// regard to case.
bool SameExecutable(const std::wstring& found, const std::wstring& expected);

// Whether this platform can check that the agent is a given service (Windows only).
extern const bool kPeerServiceCheckable;

}  // namespace vexil

#endif  // VEXIL_NET_PEER_IDENTITY_H_
