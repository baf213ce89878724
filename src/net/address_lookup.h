// AddressLookup: the IPv4 address of the agent's host text without holding its caller hostage.
// Dotted text is converted at once; a name is looked up in the background, which the caller waits
// for together with its stop event and may abandon at any time. Windows: on a thread of its own
// that holds the module. POSIX: an asynchronous request to the C library's resolver, polled, so no
// thread of ours outlives the owner.
#ifndef VEXIL_NET_ADDRESS_LOOKUP_H_
#define VEXIL_NET_ADDRESS_LOOKUP_H_

#include <cstdint>
#include <string>

#include "sync/signal_event.h"

namespace vexil {

class AddressLookup {
 public:
  // Starts resolving host. Dotted text (and a failure to start the lookup) is done at once.
  explicit AddressLookup(const std::wstring& host);
  AddressLookup(const AddressLookup&) = delete;
  AddressLookup& operator=(const AddressLookup&) = delete;
  // Abandons a lookup under way. Windows: its thread finishes on its own and frees what it used;
  // it holds the module, so an unload while it runs completes once it leaves. POSIX: the request
  // is cancelled; one the resolver is still working on is left to it (see the POSIX body).
  ~AddressLookup();

  // True once the outcome is known; false when stop is set first (stop wins when both are) or
  // timeout milliseconds (kInfinite: no limit) passed. Owner's thread only.
  bool WaitUnlessStopped(SignalEvent& stop, uint32_t timeout);
  // After WaitUnlessStopped returned true: 1 with the address in network byte order, or 0 with an
  // invalid-argument error (WSAEINVAL, EINVAL) as the last error (empty text, a name that does not
  // resolve, a lookup that could not start).
  int Result(uint32_t* address);

  // What the owner and the lookup share; defined with the lookup.
  struct State;

 private:
  // Windows: shared with the lookup thread; the last of the two to let go deletes it.
  // POSIX: owned, except a request the resolver still works on when the owner leaves.
  State* state_;
};

}  // namespace vexil

#endif  // VEXIL_NET_ADDRESS_LOOKUP_H_
