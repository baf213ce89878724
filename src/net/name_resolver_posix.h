// The C library's asynchronous name requests (getaddrinfo_a with GAI_NOWAIT, gai_error,
// gai_cancel) as functions a test may replace: a real lookup that never answers cannot be made
// without a name server.
#ifndef VEXIL_NET_NAME_RESOLVER_POSIX_H_
#define VEXIL_NET_NAME_RESOLVER_POSIX_H_

#include <netdb.h>

namespace vexil {

struct NameResolver {
  // Queues one request without waiting and without a notification (no code of ours runs on the
  // resolver's threads): 0, or an EAI_ code.
  int (*start)(gaicb* request);
  // EAI_INPROGRESS while under way, then 0 (the result is in ar_result) or an EAI_ code.
  int (*error)(gaicb* request);
  // EAI_CANCELED, EAI_ALLDONE, or EAI_NOTCANCELED when the resolver is working on it.
  int (*cancel)(gaicb* request);
};

// The system's resolver.
NameResolver SystemNameResolver();
// Replaces the resolver every later lookup uses and returns the one it replaced. Tests only, while
// no lookup is under way.
NameResolver ReplaceNameResolver(NameResolver resolver);

}  // namespace vexil

#endif  // VEXIL_NET_NAME_RESOLVER_POSIX_H_
