// Readable renderings of messages and records, for tests, logs of the agent simulator and
// diagnostics: "Register(magic=65537, gsid=7, ..., exeName=\"game\")". Texts are quoted, with
// every byte outside printable ASCII (and the quote and backslash) written as \xNN.
#ifndef VEXIL_ORVEL_MESSAGE_TEXT_H_
#define VEXIL_ORVEL_MESSAGE_TEXT_H_

#include <string>

#include "orvel/messages.h"

namespace vexil {

std::string ToText(const ConnectorMsg& message);
std::string ToText(const AgentMsg& message);
std::string ToText(const IdTriple& record);
std::string ToText(const Nsap& record);
std::string ToText(const StatInfo& record);
std::string ToText(const RegionInfo& record);

// text between double quotes, appended to out: every byte outside printable ASCII, the quote and
// the backslash is written with escape_format, a printf format that takes the byte as an unsigned
// int and writes at most 7 characters ("\\x%02X" for the renderings above, "\\u%04X" for JSON).
void AppendQuoted(std::string& out, const std::string& text, const char* escape_format);

// The message name of a tag ("Register", "Order"); "None" for 0, "Tag<n>" outside the set.
std::string TagName(ConnectorTag tag);
std::string TagName(AgentTag tag);

}  // namespace vexil

#endif  // VEXIL_ORVEL_MESSAGE_TEXT_H_
