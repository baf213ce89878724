// The steps of the Linux owner lookup behind LookUpPeer, declared for the tests: which socket the
// kernel has for an address pair (socket diagnostics over netlink, or the /proc/net/tcp table) and
// which process holds that socket. Not for other callers: use LookUpPeer.
#ifndef VEXIL_NET_PEER_IDENTITY_POSIX_H_
#define VEXIL_NET_PEER_IDENTITY_POSIX_H_

#include <cstdint>
#include <string>

#include "net/peer_identity.h"

namespace vexil {

// The two ends of one TCP socket as the socket itself sees them: its own address and port, then
// its far end's. Addresses in network byte order (as in sockaddr_in), ports in host order.
struct TcpEnds {
  uint32_t local_address = 0;
  uint16_t local_port = 0;
  uint32_t remote_address = 0;
  uint16_t remote_port = 0;
};

// What the kernel records for a socket: its owner's uid as this process's user namespace sees it
// (the overflow uid when unmapped) and its inode, which names it in /proc/PID/fd.
struct SocketRecord {
  uint32_t uid = 0;
  uint64_t inode = 0;
};

enum class SocketSearch {
  kFound,   // *record holds a socket that has exactly the ends asked and a process's inode
  kAbsent,  // the source answered: no socket with those ends is held by a process
  // The connection is established but still waits in its listener's queue to be accepted: no
  // process holds it yet, and the listener's owner is the one who will.
  kQueued,
  kUnavailable,  // the source could not answer (refused, unreadable, not understood)
};

// With kListener, ends name a listening socket: its address and port (the far end's are ignored),
// and one listening on every address matches too.
enum class SocketRole { kConnection, kListener };

// Asks socket diagnostics over netlink for the socket with exactly these ends (a lookup by the
// pair, no dump). A kernel without TCP diagnostics answers as for a missing socket, so a missing
// socket is kUnavailable here and the caller must confirm it elsewhere. *failure says why
// when not kFound.
SocketSearch FindSocketByNetlink(const TcpEnds& ends, SocketRecord* record, std::string* failure,
                                 SocketRole role = SocketRole::kConnection);

// Looks for the socket with exactly these ends in a table in the format of /proc/net/tcp at path.
SocketSearch FindSocketInTable(const char* path, const TcpEnds& ends, SocketRecord* record,
                               std::string* failure, SocketRole role = SocketRole::kConnection);

// Finds a process holding the socket with this inode among proc_root's numeric entries (the
// first by the directory's order when several do), with the path its exe link names. False
// when none readable to us does.
bool FindSocketHolder(const char* proc_root, uint64_t inode, uint32_t* process_id,
                      std::string* executable);

// Where LookUpPeerFrom looks. LookUpPeer uses the defaults.
struct PeerLookupSources {
  bool netlink = true;  // false: the table only, as where netlink is refused
  const char* tcp_table = "/proc/net/tcp";
  const char* proc_root = "/proc";
};

void LookUpPeerFrom(const PeerLookupSources& sources, SOCKET handle, const PeerQuery& query,
                    PeerIdentity* identity);

}  // namespace vexil

#endif  // VEXIL_NET_PEER_IDENTITY_POSIX_H_
