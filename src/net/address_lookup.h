// AddressLookup: the IPv4 address of the agent's host text without holding its caller hostage.
// Dotted text is converted at once; a name is looked up on a thread of its own, which the caller
// waits for together with its stop event and may abandon at any time. Windows build only.
#ifndef VEXIL_NET_ADDRESS_LOOKUP_H_
#define VEXIL_NET_ADDRESS_LOOKUP_H_

#include <cstdint>
#include <string>

#include "sync/waitable_object.h"

namespace vexil {

class AddressLookup {
 public:
  // Starts resolving host. Dotted text (and a failure to start the lookup) is done at once.
  explicit AddressLookup(const std::wstring& host);
  AddressLookup(const AddressLookup&) = delete;
  AddressLookup& operator=(const AddressLookup&) = delete;
  // Abandons a lookup under way: its thread finishes on its own and frees what it used. The
  // thread holds the module, so an unload while it runs completes once it leaves.
  ~AddressLookup();

  // Signalled once the outcome is known; wait on it together with the stop event.
  WaitableObject& Done();
  // After Done: 1 with the address in network byte order, or 0 with WSAEINVAL as the last error
  // (empty text, a name that does not resolve, a lookup that could not start).
  int Result(uint32_t* address);

 private:
  struct State;
  // The lookup thread's body; argument: the State, one reference of which it owns.
  static unsigned __stdcall LookUp(void* state);

  State* state_;  // Shared with the lookup thread; the last of the two to let go deletes it.
};

}  // namespace vexil

#endif  // VEXIL_NET_ADDRESS_LOOKUP_H_
