#include "agent/request_handler.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <string>

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
  const uint32_t gsid = static_cast<uint32_t>(context->CurrentGsid());
  switch (message.tag()) {
    case AgentTag::kCountsRequest: {
      CountsReply reply;
      CountsReplySink sink(&reply.counts);
      host->OnCountsRequest(&sink);
      context->QueueMessage(ConnectorMsg(ConnectorTag::kCountsReply, std::move(reply)));
      return 1;
    }
    case AgentTag::kCheckRequest: {
      const int32_t value = message.As<CheckRequest>()->value;
      if (host->OnCheckRequest(value) != 0) {
        CheckReply reply;
        reply.value = value;
        reply.gsid = gsid;
        context->QueueCheckReply(reply);
      }
      return 1;
    }
    case AgentTag::kStatRequest: {
      StatListReply reply;
      StatReplySink sink(&reply.stats, gsid);
      host->OnStatRequest(&sink);
      // Queued before the host is asked for the extra list, so that it leaves first.
      context->QueueMessage(ConnectorMsg(ConnectorTag::kStatListReply, std::move(reply)));
      StatListExtra extra;
      StatExtraReplySink extra_sink(&extra.stats, gsid);
      if (host->OnStatRequestExtra(&extra_sink) != 0) {
        context->QueueMessage(ConnectorMsg(ConnectorTag::kStatListExtra, std::move(extra)));
      }
      return 1;
    }
    case AgentTag::kRegionRequest: {
      RegionListReply reply;
      RegionReplySink sink(&reply.regions, gsid);
      host->OnRegionRequest(&sink);
      context->QueueMessage(ConnectorMsg(ConnectorTag::kRegionListReply, std::move(reply)));
      RegionListExtra extra;
      RegionExtraReplySink extra_sink(&extra.regions, gsid);
      if (host->OnRegionRequestExtra(&extra_sink) != 0) {
        context->QueueMessage(ConnectorMsg(ConnectorTag::kRegionListExtra, std::move(extra)));
      }
      return 1;
    }
    case AgentTag::kCommand: {
      const Command& command = *message.As<Command>();
      CommandReply reply;
      reply.gsid = gsid;
      reply.result =
          host->OnCommand(command.ids.idA, command.ids.idB, command.text.c_str()) != 0 ? 0 : 1;
      context->QueueMessage(ConnectorMsg(ConnectorTag::kCommandReply, reply));
      return 1;
    }
    case AgentTag::kOrder:
      HandleOrder(*message.As<Order>(), host, context);
      return 1;
    case AgentTag::kNone:
      break;
  }
  return 0;
}

}  // namespace vexil
