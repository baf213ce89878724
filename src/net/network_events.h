// The network events a socket reports, in the layer's own names. The values are the Windows event
// bits, so a report reads the same on both platforms; on POSIX they are derived from poll results
// and from a receive that finds the peer gone.
#ifndef VEXIL_NET_NETWORK_EVENTS_H_
#define VEXIL_NET_NETWORK_EVENTS_H_

namespace vexil {

enum NetworkEventBit : int {
  kNetRead = 1 << 0,
  kNetWrite = 1 << 1,
  kNetOutOfBand = 1 << 2,
  kNetAccept = 1 << 3,
  kNetConnect = 1 << 4,
  kNetClose = 1 << 5,
  kNetQos = 1 << 6,
  kNetGroupQos = 1 << 7,
  kNetRoutingInterfaceChange = 1 << 8,
  kNetAddressListChange = 1 << 9,
};
constexpr int kNetworkEventCount = 10;
constexpr long kAllNetworkEvents = (1L << kNetworkEventCount) - 1;

// The events found on one socket and the error code of each, indexed by bit number.
struct NetworkEventReport {
  long events = 0;
  int errors[kNetworkEventCount] = {};
};

}  // namespace vexil

#endif  // VEXIL_NET_NETWORK_EVENTS_H_
