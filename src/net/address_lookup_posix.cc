#include "net/address_lookup.h"

#include "net/socket.h"
#include "sync/last_error.h"

namespace vexil {

// The outcome, known when the constructor returns.
struct AddressLookup::State {
  SignalEvent done;
  int succeeded = 0;
  uint32_t address = 0;
};

// A name is resolved here, on the caller's thread: a thread left running after its owner gave up
// could not be kept from returning into a library already unloaded (see docs/integration.md).
AddressLookup::AddressLookup(const std::wstring& host) : state_(new State()) {
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  state_->succeeded =
      !host.empty() && Socket::ResolveAddress(host, &sockAddr, sizeof(sockAddr), 1) ? 1 : 0;
  state_->address = sockAddr.sin_addr.s_addr;
  state_->done.Set();
}

AddressLookup::~AddressLookup() { delete state_; }

SignalEvent& AddressLookup::Done() { return state_->done; }

int AddressLookup::Result(uint32_t* address) {
  if (!state_->succeeded) {
    SetLastErrorCode(kSocketErrorInvalid);
    return 0;
  }
  *address = state_->address;
  return 1;
}

}  // namespace vexil
