#include "orvel/message_text.h"

#include <cstdio>
#include <iterator>
#include <type_traits>
#include <variant>

namespace vexil {

namespace {

const char* const kConnectorNames[] = {
    "None",       "Register",      "IdValue",         "CountsReply",
    "CheckReply", "StatListReply", "RegionListReply", "CommandReply",
    "OrderReply", "Warning",       "StatListExtra",   "RegionListExtra"};
const char* const kAgentNames[] = {"None",          "CountsRequest", "CheckRequest", "StatRequest",
                                   "RegionRequest", "Command",       "Order"};
static_assert(std::size(kConnectorNames) == ConnectorMsg::kTagCount);
static_assert(std::size(kAgentNames) == AgentMsg::kTagCount);

// Shared records are named by type; message bodies by the tag they travel under.
const char* NameOf(const IdTriple&) { return "IdTriple"; }
const char* NameOf(const Nsap&) { return "Nsap"; }
const char* NameOf(const StatInfo&) { return "StatInfo"; }
const char* NameOf(const RegionInfo&) { return "RegionInfo"; }

template <typename Record>
void AppendRecord(std::string& out, const char* name, const Record& record);
template <typename Record>
std::enable_if_t<orvel_detail::IsRecord<Record>::value> AppendValue(std::string& out,
                                                                    const Record& record);

void AppendValue(std::string& out, const std::string& text) { AppendQuoted(out, text, "\\x%02X"); }

template <typename T>
std::enable_if_t<std::is_integral<T>::value> AppendValue(std::string& out, T value) {
  out += std::to_string(value);
}

template <typename T>
void AppendValue(std::string& out, const std::vector<T>& list) {
  out += '[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i != 0) out += ", ";
    AppendValue(out, list[i]);
  }
  out += ']';
}

template <typename Record>
std::enable_if_t<orvel_detail::IsRecord<Record>::value> AppendValue(std::string& out,
                                                                    const Record& record) {
  AppendRecord(out, NameOf(record), record);
}

template <typename Record>
void AppendRecord(std::string& out, const char* name, const Record& record) {
  out += name;
  out += '(';
  bool first = true;
  Record::Fields(record, [&out, &first](const char* field_name, const auto& field) {
    if (!first) out += ", ";
    first = false;
    out += field_name;
    out += '=';
    AppendValue(out, field);
    return true;
  });
  out += ')';
}

template <typename Record>
std::string Render(const Record& record) {
  std::string out;
  AppendValue(out, record);
  return out;
}

template <typename Message, size_t kCount>
std::string MessageText(const Message& message, const char* const (&names)[kCount]) {
  const char* name = names[static_cast<uint32_t>(message.tag())];
  return message.VisitBody([name](const auto& body) {
    std::string out;
    if constexpr (std::is_same_v<std::decay_t<decltype(body)>, std::monostate>) {
      out = std::string(name) + "()";
    } else {
      AppendRecord(out, name, body);
    }
    return out;
  });
}

template <size_t kCount>
std::string NameOfTag(uint32_t tag, const char* const (&names)[kCount]) {
  if (tag >= kCount) return "Tag" + std::to_string(tag);
  return names[tag];
}

}  // namespace

std::string ToText(const ConnectorMsg& message) { return MessageText(message, kConnectorNames); }
std::string ToText(const AgentMsg& message) { return MessageText(message, kAgentNames); }
std::string ToText(const IdTriple& record) { return Render(record); }
std::string ToText(const Nsap& record) { return Render(record); }
std::string ToText(const StatInfo& record) { return Render(record); }
std::string ToText(const RegionInfo& record) { return Render(record); }
void AppendQuoted(std::string& out, const std::string& text, const char* escape_format) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, escape_format, static_cast<unsigned>(byte));
      out += escaped;
    }
  }
  out += '"';
}

std::string TagName(ConnectorTag tag) {
  return NameOfTag(static_cast<uint32_t>(tag), kConnectorNames);
}
std::string TagName(AgentTag tag) { return NameOfTag(static_cast<uint32_t>(tag), kAgentNames); }

}  // namespace vexil
