// The Windows lookup's second half, on its own so that tests can run it where the TCP table gives
// no owning process (Wine's does not).
#ifndef VEXIL_NET_PEER_IDENTITY_WIN_H_
#define VEXIL_NET_PEER_IDENTITY_WIN_H_

#include <cstdint>

#include "net/peer_identity.h"

namespace vexil {

// Fills identity->process_id and what query asks about process, a handle to process process_id
// opened with PROCESS_QUERY_LIMITED_INFORMATION and held by the caller throughout, so that
// neither that process id nor the service's can name another process meanwhile. Appends a clause
// to identity->unknown_why for everything asked and not found, and when is_service is false.
void DescribePeerProcess(void* process, uint32_t process_id, const PeerQuery& query,
                         PeerIdentity* identity);

}  // namespace vexil

#endif  // VEXIL_NET_PEER_IDENTITY_WIN_H_
