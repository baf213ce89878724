#include "agent/request_handler.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "agent/reply_sinks.h"
#include "sync/check.h"

namespace vexil {
namespace {

// The host's result buffer for an order: its capacity, plus one zero byte that stays.
constexpr int32_t kOrderResultCapacity = 1024;

// Like the runtime's narrow decimal conversion with a 32-bit long, on the text before the first
// "|": leading white space, an optional sign, digits up to the first non-digit (none gives 0).
int32_t IsolateGsid(const std::string& argument) {
  const std::string number = argument.substr(0, argument.find('|'));
  const long long value = std::strtoll(number.c_str(), nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void HandleCountsRequest(HostCallback* host, RequestContext* context) {
  CountsReply reply;
  CountsReplySink sink(&reply.counts);
  host->OnCountsRequest(&sink);
  context->QueueMessage(ConnectorMsg(ConnectorTag::kCountsReply, std::move(reply)));
}

// Answered only when the host agrees.
void HandleCheckRequest(const CheckRequest& request, uint32_t gsid, HostCallback* host,
                        RequestContext* context) {
  if (host->OnCheckRequest(request.value) == 0) return;
  CheckReply reply;
  reply.value = request.value;
  reply.gsid = gsid;
  context->QueueCheckReply(reply);
}

// The tag of a message body the connector sends.
template <typename Body>
constexpr ConnectorTag ConnectorTagOf() {
  return static_cast<ConnectorTag>(ConnectorMsg::TagOf<Body>());
}

// A list request: the host fills the reply through a Sink (ask) and then the extra list through an
// ExtraSink (ask_extra); every entry carries gsid. The reply is queued before the host is asked for
// the extra list, so that it leaves first; the extra list is queued only when the host agrees.
template <typename Sink, typename ExtraSink, typename Interface, typename ExtraInterface,
          typename Reply, typename Extra, typename Entry>
void HandleListRequest(int (HostCallback::*ask)(Interface*), std::vector<Entry> Reply::*entries,
                       int (HostCallback::*ask_extra)(ExtraInterface*),
                       std::vector<Entry> Extra::*extra_entries, uint32_t gsid, HostCallback* host,
                       RequestContext* context) {
  Reply reply;
  Sink sink(&(reply.*entries), gsid);
  (host->*ask)(&sink);
  context->QueueMessage(ConnectorMsg(ConnectorTagOf<Reply>(), std::move(reply)));
  Extra extra;
  ExtraSink extra_sink(&(extra.*extra_entries), gsid);
  if ((host->*ask_extra)(&extra_sink) != 0) {
    context->QueueMessage(ConnectorMsg(ConnectorTagOf<Extra>(), std::move(extra)));
  }
}

void HandleCommand(const Command& command, uint32_t gsid, HostCallback* host,
                   RequestContext* context) {
  CommandReply reply;
  reply.gsid = gsid;
  reply.result =
      host->OnCommand(command.ids.idA, command.ids.idB, command.text.c_str()) != 0 ? 0 : 1;
  context->QueueMessage(ConnectorMsg(ConnectorTag::kCommandReply, reply));
}

void HandleOrder(const Order& order, HostCallback* host, RequestContext* context) {
  std::array<char, kOrderResultCapacity + 1> result{};
  int32_t result_length = kOrderResultCapacity;
  int refused = 1;
  if (order.name == kIsolateOrder) {
    context->SetGsid(IsolateGsid(order.argument));
  } else {
    refused = host->OnOrder(order.name.c_str(), order.argument.c_str(), result.data(),
                            &result_length, order.ids.idA, order.ids.idB);
  }
  OrderReply reply;
  reply.name = order.name;
  reply.ids = order.ids;
  reply.serial = order.serial;
  reply.option = order.option;
  reply.context = order.context;
  reply.argument = order.argument;
  // The host's length is not trusted: a negative one gives an empty text, a larger one the whole
  // buffer.
  if (refused == 0) {
    reply.resultText.assign(result.data(), std::clamp(result_length, 0, kOrderResultCapacity));
  }
  context->QueueMessage(ConnectorMsg(ConnectorTag::kOrderReply, std::move(reply)));
}

}  // namespace

int HandleAgentMessage(const AgentMsg& message, HostCallback* host, RequestContext* context) {
  if (host == nullptr) {
    CheckFailed();
    return 0;
  }
  // Read as the request arrives: a host that changes it meanwhile changes later messages only.
  const uint32_t gsid = static_cast<uint32_t>(context->CurrentGsid());
  switch (message.tag()) {
    case AgentTag::kCountsRequest:
      HandleCountsRequest(host, context);
      return 1;
    case AgentTag::kCheckRequest:
      HandleCheckRequest(*message.As<CheckRequest>(), gsid, host, context);
      return 1;
    case AgentTag::kStatRequest:
      HandleListRequest<StatReplySink, StatExtraReplySink>(
          &HostCallback::OnStatRequest, &StatListReply::stats, &HostCallback::OnStatRequestExtra,
          &StatListExtra::stats, gsid, host, context);
      return 1;
    case AgentTag::kRegionRequest:
      HandleListRequest<RegionReplySink, RegionExtraReplySink>(
          &HostCallback::OnRegionRequest, &RegionListReply::regions,
          &HostCallback::OnRegionRequestExtra, &RegionListExtra::regions, gsid, host, context);
      return 1;
    case AgentTag::kCommand:
      HandleCommand(*message.As<Command>(), gsid, host, context);
      return 1;
    case AgentTag::kOrder:
      HandleOrder(*message.As<Order>(), host, context);
      return 1;
    case AgentTag::kNone:
      break;
  }
  return 0;
}

}  // namespace vexil
