// What the connector does with each message from the HA agent: asks the host and queues the
// answer. Platform-free; runs on the connector's worker thread, one message at a time.
#ifndef VEXIL_AGENT_REQUEST_HANDLER_H_
#define VEXIL_AGENT_REQUEST_HANDLER_H_

#include <cstdint>

#include "orvel/messages.h"
#include "vexilconn/vexilconn.h"

namespace vexil {

// The connector as the handlers see it.
class RequestContext {
 public:
  // The GSID that replies, warnings and list entries carry now.
  virtual int32_t CurrentGsid() = 0;
  // The order "__ISOLATE__": every message built afterwards carries gsid.
  virtual void SetGsid(int32_t gsid) = 0;
  // Encodes message and hands it to the worker; messages leave in the order queued.
  virtual void QueueMessage(const ConnectorMsg& message) = 0;
  // The same for the most frequent reply, which a context may encode without building a message
  // value around it (an allocation per request).
  virtual void QueueCheckReply(const CheckReply& reply) {
    QueueMessage(ConnectorMsg(ConnectorTag::kCheckReply, reply));
  }

 protected:
  ~RequestContext() = default;
};

// The name of the order the connector carries out itself.
constexpr char kIsolateOrder[] = "__ISOLATE__";

// Dispatches one message by tag: calls host (no lock may be held) and queues its answers through
// context. Returns 1 when the tag was handled, 0 for tag 0 (nothing is sent). A null host raises
// the internal check and, if resumed, handles nothing.
int HandleAgentMessage(const AgentMsg& message, HostCallback* host, RequestContext* context);

}  // namespace vexil

#endif  // VEXIL_AGENT_REQUEST_HANDLER_H_
