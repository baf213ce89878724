#include "net/address_lookup.h"

#include <chrono>
#include <mutex>

#include "net/name_resolver_posix.h"
#include "net/socket.h"
#include "sync/code_page.h"
#include "sync/last_error.h"

namespace vexil {

namespace {

int StartSystemRequest(gaicb* request) {
  gaicb* list[] = {request};
  return ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
}
int SystemRequestError(gaicb* request) { return ::gai_error(request); }
int CancelSystemRequest(gaicb* request) { return ::gai_cancel(request); }

NameResolver g_resolver = SystemNameResolver();

// How often a pending request is asked about while the owner waits: the lookup's extra latency
// against the cost of waking.
constexpr uint32_t kPollMs = 10;

}  // namespace

NameResolver SystemNameResolver() {
  return NameResolver{&StartSystemRequest, &SystemRequestError, &CancelSystemRequest};
}

NameResolver ReplaceNameResolver(NameResolver resolver) {
  const NameResolver previous = g_resolver;
  g_resolver = resolver;
  return previous;
}

// The request and everything the resolver reads or writes through it while it works on it.
// Owned by the AddressLookup; once abandoned while queued, by the abandoned list below.
struct AddressLookup::State {
  std::string name;
  addrinfo hints = {};
  gaicb request = {};
  NameResolver resolver = {};
  bool queued = false;  // handed to the resolver, which has not yet said it is done with it
  bool done = false;
  int succeeded = 0;
  uint32_t address = 0;
  State* next_abandoned = nullptr;  // guarded by g_abandoned_lock
};

namespace {

// Requests abandoned while the resolver's own thread was working on them. glibc still writes the
// outcome into such a request block (and reads the name and hints through it) after its owner
// has gone, so the block cannot be freed then: it waits here until the resolver has finished with
// it and is freed by a later lookup. Both are plain globals without destructors, so what is still
// queued at exit or unload stays where the resolver can write into it (and reachable for leak
// checkers); only stops abandon requests, so the list stays short.
std::mutex g_abandoned_lock;
AddressLookup::State* g_abandoned = nullptr;

// True when the resolver answers, under its own lock, that it no longer has the request: then
// everything it wrote is visible and it never touches the block again. A request that was never
// taken up is withdrawn by the same call.
bool ResolverLetGo(AddressLookup::State* state) {
  return state->resolver.cancel(&state->request) != EAI_NOTCANCELED;
}

void FreeState(AddressLookup::State* state) {
  if (state->request.ar_result != nullptr) ::freeaddrinfo(state->request.ar_result);
  delete state;
}

void Abandon(AddressLookup::State* state) {
  std::lock_guard<std::mutex> guard(g_abandoned_lock);
  state->next_abandoned = g_abandoned;
  g_abandoned = state;
}

// Frees the abandoned requests the resolver has finished with.
void ReclaimAbandoned() {
  std::lock_guard<std::mutex> guard(g_abandoned_lock);
  AddressLookup::State** link = &g_abandoned;
  while (*link != nullptr) {
    AddressLookup::State* state = *link;
    if (ResolverLetGo(state)) {
      *link = state->next_abandoned;
      FreeState(state);
    } else {
      link = &state->next_abandoned;
    }
  }
}

// True once the resolver has finished with the request: the address (if any) is taken from its
// result, which is then freed.
bool TakeOutcome(AddressLookup::State* state) {
  if (state->resolver.error(&state->request) == EAI_INPROGRESS) return false;
  if (!ResolverLetGo(state)) return false;  // still between its answer and letting go
  state->queued = false;
  state->done = true;
  const int error = state->resolver.error(&state->request);
  for (const addrinfo* entry = error == 0 ? state->request.ar_result : nullptr;
       entry != nullptr && !state->succeeded; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    state->address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    state->succeeded = 1;
  }
  if (state->request.ar_result != nullptr) ::freeaddrinfo(state->request.ar_result);
  state->request.ar_result = nullptr;
  return true;
}

}  // namespace

AddressLookup::AddressLookup(const std::wstring& host) : state_(new State()) {
  State& state = *state_;
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  if (host.empty() || Socket::ResolveAddress(host, &sockAddr, sizeof(sockAddr), 0)) {
    state.succeeded = host.empty() ? 0 : 1;
    state.address = sockAddr.sin_addr.s_addr;
    state.done = true;
    return;
  }
  ReclaimAbandoned();
  state.name = WideToNarrow(host);
  state.hints.ai_family = AF_INET;
  state.hints.ai_socktype = SOCK_STREAM;
  state.request.ar_name = state.name.c_str();
  state.request.ar_request = &state.hints;
  state.resolver = g_resolver;
  state.queued = state.resolver.start(&state.request) == 0;
  state.done = !state.queued;
}

AddressLookup::~AddressLookup() {
  if (state_->queued && !ResolverLetGo(state_)) {
    Abandon(state_);
    return;
  }
  FreeState(state_);
}

bool AddressLookup::WaitUnlessStopped(SignalEvent& stop, uint32_t timeout) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    // Asked first in every round, so a stop wins and is seen within one slice.
    if (stop.Wait(0)) return false;
    if (state_->done || TakeOutcome(state_)) return true;
    uint32_t slice = kPollMs;
    if (timeout != kInfinite) {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      if (waited.count() >= timeout) return false;
      if (timeout - waited.count() < slice) slice = static_cast<uint32_t>(timeout - waited.count());
    }
    stop.Wait(slice);
  }
}

int AddressLookup::Result(uint32_t* address) {
  if (!state_->succeeded) {
    SetLastErrorCode(kSocketErrorInvalid);
    return 0;
  }
  *address = state_->address;
  return 1;
}

}  // namespace vexil
