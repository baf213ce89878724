#include "ha-agent/message_format.h"

#include <type_traits>
#include <variant>

#include "orvel/message_text.h"

namespace vexil::tools {
namespace {

// Lists longer than these show only their first elements and the total count.
constexpr size_t kShownNumbers = 8;
constexpr size_t kShownRecords = 4;

std::string Escaped(const std::string& text, const char* escape_format) {
  std::string out;
  AppendQuoted(out, text, escape_format);
  return out;
}

std::string Quoted(const std::string& text) { return Escaped(text, "\\x%02X"); }

// ---- Compact values ----

template <typename T>
std::enable_if_t<std::is_integral<T>::value, std::string> Compact(T value) {
  return std::to_string(value);
}
std::string Compact(const std::string& text) { return Quoted(text); }
std::string Compact(const IdTriple& ids) {
  return std::to_string(ids.idA) + "/" + std::to_string(ids.gsid) + "/" + std::to_string(ids.idB);
}
std::string Compact(const Nsap& nsap) {
  return std::to_string(nsap.nsapId) + ":" + std::to_string(nsap.port);
}
std::string Compact(const std::vector<int32_t>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size() && i < kShownNumbers; ++i) {
    if (i != 0) out += ' ';
    out += std::to_string(values[i]);
  }
  if (values.size() > kShownNumbers) out += " ... " + std::to_string(values.size()) + " values";
  return out + "]";
}
std::string Compact(const StatInfo& stat) {
  return "(" + Compact(stat.ids) + " " + std::to_string(stat.value1) + "," +
         std::to_string(stat.value2) + "," + std::to_string(stat.value3) + "," +
         std::to_string(stat.value4) + " " + Quoted(stat.text) + ")";
}
std::string Compact(const RegionInfo& region) {
  return "(" + Compact(region.ids) + " " + Compact(region.values) + ")";
}
// Lists of records: the count first, so that an empty answer reads stats=0 [].
template <typename Record>
std::string Compact(const std::vector<Record>& list) {
  std::string out = std::to_string(list.size()) + " [";
  for (size_t i = 0; i < list.size() && i < kShownRecords; ++i) {
    if (i != 0) out += ' ';
    out += Compact(list[i]);
  }
  if (list.size() > kShownRecords) out += " ...";
  return out + "]";
}

template <typename Body>
void AppendCompactFields(std::string* out, const Body& body) {
  Body::Fields(body, [out](const char* name, const auto& field) {
    *out += ' ';
    *out += name;
    *out += '=';
    *out += Compact(field);
    return true;
  });
}

// Register reads as the line a host developer looks for first; magic and reserved appear only
// when they are not the constants every connector sends.
void AppendCompactFields(std::string* out, const Register& body) {
  if (body.magic != kRegisterMagic) *out += " magic=" + std::to_string(body.magic);
  *out +=
      " gsid=" + std::to_string(body.gsid) + " pid=" + std::to_string(body.processId) + " nsap=[";
  for (size_t i = 0; i < body.nsapList.size(); ++i) {
    if (i != 0) *out += ' ';
    *out += Compact(body.nsapList[i]);
  }
  *out += "]";
  if (body.reserved != 0) *out += " reserved=" + std::to_string(body.reserved);
  *out += " exe=" + Quoted(body.exeName);
}

template <typename Message>
std::string CompactMessage(const Message& message) {
  std::string out = TagName(message.tag());
  message.VisitBody([&out](const auto& body) {
    if constexpr (!std::is_same_v<std::decay_t<decltype(body)>, std::monostate>) {
      AppendCompactFields(&out, body);
    }
  });
  return out;
}

// ---- JSON values ----

template <typename T>
std::enable_if_t<std::is_integral<T>::value, std::string> Json(T value) {
  return std::to_string(value);
}
std::string Json(const std::string& text) { return JsonString(text); }
template <typename Record>
std::enable_if_t<orvel_detail::IsRecord<Record>::value, std::string> Json(const Record& record);
template <typename T>
std::string Json(const std::vector<T>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) {
    if (i != 0) out += ',';
    out += Json(list[i]);
  }
  return out + "]";
}

template <typename Record>
void AppendJsonFields(std::string* out, const Record& record) {
  Record::Fields(record, [out](const char* name, const auto& field) {
    *out += ",\"";
    *out += name;
    *out += "\":";
    *out += Json(field);
    return true;
  });
}

template <typename Record>
std::enable_if_t<orvel_detail::IsRecord<Record>::value, std::string> Json(const Record& record) {
  std::string members;
  AppendJsonFields(&members, record);
  // Drop the comma before the first member.
  return "{" + (members.empty() ? members : members.substr(1)) + "}";
}

template <typename Message>
std::string JsonMessage(const Message& message) {
  std::string out = "\"message\":" + JsonString(TagName(message.tag()));
  message.VisitBody([&out](const auto& body) {
    if constexpr (!std::is_same_v<std::decay_t<decltype(body)>, std::monostate>) {
      AppendJsonFields(&out, body);
    }
  });
  return out;
}

}  // namespace

std::string CompactText(const ConnectorMsg& message) { return CompactMessage(message); }
std::string CompactText(const AgentMsg& message) { return CompactMessage(message); }
std::string JsonMembers(const ConnectorMsg& message) { return JsonMessage(message); }
std::string JsonMembers(const AgentMsg& message) { return JsonMessage(message); }

std::string JsonString(const std::string& text) { return Escaped(text, "\\u%04X"); }

}  // namespace vexil::tools
