// How the simulator shows messages: one compact readable line per message
// (Register gsid=7 pid=4660 nsap=[88888:8990] exe="game"), or one JSON object with every field.
#ifndef VEXIL_TOOLS_HA_AGENT_MESSAGE_FORMAT_H_
#define VEXIL_TOOLS_HA_AGENT_MESSAGE_FORMAT_H_

#include <string>

#include "orvel/messages.h"

namespace vexil::tools {

// The message name, then its fields as name=value. Identifier triples read idA/gsid/idB, long
// lists are cut to their first elements with the total count, texts are quoted with \xNN for
// every byte outside printable ASCII.
std::string CompactText(const ConnectorMsg& message);
std::string CompactText(const AgentMsg& message);

// The fields of a message as JSON members (no braces): "message":"Register","gsid":7,... Texts
// become JSON strings with each byte outside printable ASCII as \u00NN, so any byte survives.
std::string JsonMembers(const ConnectorMsg& message);
std::string JsonMembers(const AgentMsg& message);

// A JSON string literal for text, escaped as above.
std::string JsonString(const std::string& text);

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_HA_AGENT_MESSAGE_FORMAT_H_
