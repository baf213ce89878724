#include "net/address_lookup.h"

#include "sync/win32.h"

#include <atomic>
#include <utility>

#include "net/native_socket.h"
#include "net/socket.h"
#include "sync/begin_thread.h"

namespace vexil {

// Written by the lookup thread before it sets done; read by the owner only after done.
struct AddressLookup::State {
  explicit State(std::wstring text) : host(std::move(text)) {}

  // The owner and, while it runs, the lookup thread each hold one reference.
  void Release() {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // The outcome, then the signal; the order matters to the owner reading after done.
  void Finish(int ok, uint32_t resolved) {
    succeeded = ok;
    address = resolved;
    done.Set();
  }

  const std::wstring host;
  SignalEvent done;
  std::atomic<int> references{1};
  int succeeded = 0;
  uint32_t address = 0;
};

namespace {

// The lookup thread's body; raw: the State, one reference of which it owns.
unsigned __stdcall LookUp(void* raw) {
  auto* state = static_cast<AddressLookup::State*>(raw);
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  int ok = 0;
  {
    // A use of the socket service of its own: an abandoned lookup outlives the worker that started
    // it, and with it the worker's use.
    const SocketServiceUse sockets(kSocketVersion20);
    ok = Socket::ResolveAddress(state->host, &sockAddr, sizeof(sockAddr), 1);
  }
  state->Finish(ok, sockAddr.sin_addr.s_addr);
  state->Release();
  return 0;
}

}  // namespace

AddressLookup::AddressLookup(const std::wstring& host) : state_(new State(host)) {
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  if (host.empty() || Socket::ResolveAddress(host, &sockAddr, sizeof(sockAddr), 0)) {
    state_->Finish(host.empty() ? 0 : 1, sockAddr.sin_addr.s_addr);
    return;
  }
  state_->references.fetch_add(1, std::memory_order_relaxed);
  const uintptr_t thread = BeginModuleThread(&LookUp, state_);
  if (thread == 0) {
    state_->references.fetch_sub(1, std::memory_order_relaxed);
    state_->Finish(0, 0);
    return;
  }
  // Never joined: the thread owns its reference to the state and the module.
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

AddressLookup::~AddressLookup() { state_->Release(); }

bool AddressLookup::WaitUnlessStopped(SignalEvent& stop, uint32_t timeout) {
  const WaitSource sources[] = {stop.Source(), state_->done.Source()};
  return WaitForFirst(sources, 2, timeout) == kWaitObject0 + 1;
}

int AddressLookup::Result(uint32_t* address) {
  if (!state_->succeeded) {
    ::WSASetLastError(WSAEINVAL);
    return 0;
  }
  *address = state_->address;
  return 1;
}

}  // namespace vexil
