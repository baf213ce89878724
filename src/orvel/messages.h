// The two Orvel message sets: ConnectorMsg (connector to HA agent, tags 0 to 11) and AgentMsg
// (HA agent to connector, tags 0 to 6), their body records and the shared records they use.
//
// Every record lists its fields once, in wire order, in its Fields template (see field_codec.h);
// encoding, decoding, reset and text rendering all follow that list. Constructors set every number
// to 0 and every text and list to empty.
#ifndef VEXIL_ORVEL_MESSAGES_H_
#define VEXIL_ORVEL_MESSAGES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "orvel/field_codec.h"
#include "sync/check.h"
#include "util/buffer_ptr.h"

namespace vexil {

// Values the connector always sends in Register.
constexpr int32_t kRegisterMagic = 65537;  // 0x00010001
constexpr uint32_t kConnectorNsapId = 88888;

// ---- Shared records ----

// The three identifiers that head most messages (12 bytes on the wire).
struct IdTriple final {
  IdTriple() = default;
  IdTriple(uint32_t id_a, uint32_t gs_id, uint32_t id_b) : idA(id_a), gsid(gs_id), idB(id_b) {}
  virtual void ClearFields();

  uint32_t idA = 0;
  uint32_t gsid = 0;
  uint32_t idB = 0;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("idA", self.idA) && visit("gsid", self.gsid) && visit("idB", self.idB);
  }
};

struct Nsap {
  uint32_t nsapId = 0;
  int32_t port = 0;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("nsapId", self.nsapId) && visit("port", self.port);
  }
};

struct StatInfo final {
  virtual void ClearFields();

  IdTriple ids;
  uint32_t value1 = 0;
  uint32_t value2 = 0;
  uint32_t value3 = 0;
  uint32_t value4 = 0;
  std::string text;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("ids", self.ids) && visit("value1", self.value1) && visit("value2", self.value2) &&
           visit("value3", self.value3) && visit("value4", self.value4) && visit("text", self.text);
  }
};

struct RegionInfo final {
  virtual void ClearFields();

  IdTriple ids;
  std::vector<int32_t> values;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("ids", self.ids) && visit("values", self.values);
  }
};

// ---- ConnectorMsg bodies (connector to HA agent) ----

enum class ConnectorTag : uint32_t {
  kNone = 0,
  kRegister = 1,
  kIdValue = 2,
  kCountsReply = 3,
  kCheckReply = 4,
  kStatListReply = 5,
  kRegionListReply = 6,
  kCommandReply = 7,
  kOrderReply = 8,
  kWarning = 9,
  kStatListExtra = 10,
  kRegionListExtra = 11,
};

struct Register {
  int32_t magic = 0;
  uint32_t gsid = 0;
  uint32_t processId = 0;
  std::vector<Nsap> nsapList;
  uint32_t reserved = 0;
  std::string exeName;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("magic", self.magic) && visit("gsid", self.gsid) &&
           visit("processId", self.processId) && visit("nsapList", self.nsapList) &&
           visit("reserved", self.reserved) && visit("exeName", self.exeName);
  }
};

struct IdValue {
  IdTriple ids;
  int32_t value = 0;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("ids", self.ids) && visit("value", self.value);
  }
};

struct CountsReply {
  std::vector<int32_t> counts;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("counts", self.counts);
  }
};

struct CheckReply {
  int32_t value = 0;
  uint32_t gsid = 0;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("value", self.value) && visit("gsid", self.gsid);
  }
};

struct StatListReply {
  std::vector<StatInfo> stats;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("stats", self.stats);
  }
};

struct RegionListReply {
  std::vector<RegionInfo> regions;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("regions", self.regions);
  }
};

struct CommandReply {
  uint32_t gsid = 0;
  int32_t result = 0;  // 0 when the host accepted the command, 1 when it refused it

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("gsid", self.gsid) && visit("result", self.result);
  }
};

struct OrderReply {
  std::string name;
  IdTriple ids;
  uint32_t serial = 0;
  int32_t option = 0;
  std::string resultText;
  std::string context;
  std::string argument;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("name", self.name) && visit("ids", self.ids) && visit("serial", self.serial) &&
           visit("option", self.option) && visit("resultText", self.resultText) &&
           visit("context", self.context) && visit("argument", self.argument);
  }
};

// Text is std::string in the message (Warning); WarningRef borrows the caller's texts instead, so
// that a warning is written straight into a frame without copying them: the same fields and wire
// form. A WarningRef is only written, never decoded.
template <typename Text>
struct WarningOf {
  IdTriple ids;
  int32_t code = 0;
  Text text;
  Text extraText;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("ids", self.ids) && visit("code", self.code) && visit("text", self.text) &&
           visit("extraText", self.extraText);
  }
};
using Warning = WarningOf<std::string>;
using WarningRef = WarningOf<std::string_view>;

struct StatListExtra {
  std::vector<StatInfo> stats;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("stats", self.stats);
  }
};

struct RegionListExtra {
  std::vector<RegionInfo> regions;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("regions", self.regions);
  }
};

// ---- AgentMsg bodies (HA agent to connector) ----

enum class AgentTag : uint32_t {
  kNone = 0,
  kCountsRequest = 1,
  kCheckRequest = 2,
  kStatRequest = 3,
  kRegionRequest = 4,
  kCommand = 5,
  kOrder = 6,
};

struct CountsRequest {
  template <typename Self, typename Visit>
  static bool Fields(Self&, Visit&&) {
    return true;
  }
};

struct CheckRequest {
  int32_t value = 0;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("value", self.value);
  }
};

struct StatRequest {
  template <typename Self, typename Visit>
  static bool Fields(Self&, Visit&&) {
    return true;
  }
};

struct RegionRequest {
  template <typename Self, typename Visit>
  static bool Fields(Self&, Visit&&) {
    return true;
  }
};

struct Command {
  IdTriple ids;
  std::string text;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("ids", self.ids) && visit("text", self.text);
  }
};

struct Order {
  uint32_t serial = 0;
  std::string name;
  IdTriple ids;
  int32_t option = 0;
  std::string argument;
  std::string context;

  template <typename Self, typename Visit>
  static bool Fields(Self& self, Visit&& visit) {
    return visit("serial", self.serial) && visit("name", self.name) && visit("ids", self.ids) &&
           visit("option", self.option) && visit("argument", self.argument) &&
           visit("context", self.context);
  }
};

// ---- Tagged message values ----

// A message tag and the body it owns. The body's type is fixed by the tag (the tag is the position
// of the body type in Bodies, counting from 1); tag 0 means no body. A default-constructed or
// reset value has tag 0. Copying a value copies its body.
template <typename TagT, typename... Bodies>
class TaggedValue {
 public:
  using Tag = TagT;
  static constexpr uint32_t kTagCount = 1 + sizeof...(Bodies);

  TaggedValue() = default;
  // A default body for tag; a tag outside the set is a caller's bug and leaves tag 0.
  explicit TaggedValue(Tag tag) {
    const auto tag_value = static_cast<uint32_t>(tag);
    if (tag_value >= kTagCount) {
      CheckFailed();
      return;
    }
    body_ = Table<>::kNew[tag_value]();
    tag_ = tag_value;
  }
  // A copy of body under tag (moved from it, when given an rvalue); a body that is not tag's
  // type is a caller's bug and leaves tag 0.
  template <typename Body, typename Plain = std::decay_t<Body>,
            typename = std::enable_if_t<(std::is_same_v<Plain, Bodies> || ...)>>
  TaggedValue(Tag tag, Body&& body) {
    if (static_cast<uint32_t>(tag) != TagOf<Plain>()) {
      CheckFailed();
      return;
    }
    body_ = new Plain(std::forward<Body>(body));
    tag_ = TagOf<Plain>();
  }
  TaggedValue(const TaggedValue& other)
      : tag_(other.tag_), body_(Table<>::kCopy[other.tag_](other.body_)) {}
  TaggedValue(TaggedValue&& other) noexcept : tag_(other.tag_), body_(other.body_) {
    other.tag_ = 0;
    other.body_ = nullptr;
  }
  TaggedValue& operator=(TaggedValue other) noexcept {
    std::swap(tag_, other.tag_);
    std::swap(body_, other.body_);
    return *this;
  }
  ~TaggedValue() { Reset(); }

  Tag tag() const { return static_cast<Tag>(tag_); }
  // The body when the tag is Body's, else null.
  template <typename Body>
  Body* As() {
    return tag_ != 0 && tag_ == TagOf<Body>() ? static_cast<Body*>(body_) : nullptr;
  }
  template <typename Body>
  const Body* As() const {
    return tag_ != 0 && tag_ == TagOf<Body>() ? static_cast<const Body*>(body_) : nullptr;
  }
  // Releases the body; the tag becomes 0.
  void Reset() {
    Table<>::kDelete[tag_](body_);
    tag_ = 0;
    body_ = nullptr;
  }

  // Writes the tag, then the body.
  bool Encode(FieldWriter& out) const {
    EncodeField(out, tag_);
    return Table<>::kEncode[tag_](body_, out);
  }
  // Resets, reads the tag, allocates the body for it and decodes the body. An unknown tag fails;
  // a body allocated before a failure stays in this value. A body of the same tag already held is
  // cleared and reused rather than released and allocated again, which comes to the same value.
  bool Decode(FieldReader& in) {
    uint32_t tag_value = 0;
    if (!DecodeField(in, tag_value) || tag_value >= kTagCount) {
      Reset();
      return false;
    }
    if (tag_value == tag_) {
      Table<>::kClear[tag_](body_);
    } else {
      Reset();
      body_ = Table<>::kNew[tag_value]();
      tag_ = tag_value;
    }
    return Table<>::kDecode[tag_](body_, in);
  }
  bool Encode(BufferPtr& buffer) const {
    return WriteWith(buffer, [this](FieldWriter& out) { return Encode(out); });
  }
  bool Decode(BufferPtr& buffer) {
    return ReadWith(buffer, [this](FieldReader& in) { return Decode(in); });
  }

  // The tag whose body type is Body; 0 for a type that is not a body of this set.
  template <typename Body>
  static constexpr uint32_t TagOf() {
    constexpr bool kMatches[] = {std::is_same_v<Body, Bodies>...};
    for (uint32_t i = 0; i < sizeof...(Bodies); ++i) {
      if (kMatches[i]) return i + 1;
    }
    return 0;
  }

  // Calls visit with the body (a std::monostate for tag 0) and returns its result.
  template <typename Visit>
  decltype(auto) VisitBody(Visit&& visit) const {
    using Result = decltype(visit(std::declval<const std::monostate&>()));
    return VisitAt<Result>(visit, std::make_index_sequence<kTagCount>());
  }

 private:
  template <size_t I>
  using BodyAt = std::tuple_element_t<I, std::tuple<std::monostate, Bodies...>>;

  template <size_t I>
  static void* NewAt() {
    if constexpr (I == 0) {
      return nullptr;
    } else {
      return new BodyAt<I>();
    }
  }
  template <size_t I>
  static void* CopyAt(const void* body) {
    if constexpr (I == 0) {
      return nullptr;
    } else {
      return new BodyAt<I>(*static_cast<const BodyAt<I>*>(body));
    }
  }
  template <size_t I>
  static void DeleteAt(void* body) {
    if constexpr (I != 0) delete static_cast<BodyAt<I>*>(body);
  }
  template <size_t I>
  static void ClearAt(void* body) {
    if constexpr (I != 0) ResetFields(*static_cast<BodyAt<I>*>(body));
  }
  template <size_t I>
  static bool EncodeAt(const void* body, FieldWriter& out) {
    if constexpr (I == 0) {
      return true;
    } else {
      return EncodeField(out, *static_cast<const BodyAt<I>*>(body));
    }
  }
  template <size_t I>
  static bool DecodeAt(void* body, FieldReader& in) {
    if constexpr (I == 0) {
      return true;
    } else {
      return DecodeField(in, *static_cast<BodyAt<I>*>(body));
    }
  }
  template <typename Result, typename Visit, size_t... I>
  Result VisitAt(Visit& visit, std::index_sequence<I...>) const {
    using Call = Result (*)(const void*, Visit&);
    static constexpr Call kCalls[] = {&VisitOne<I, Result, Visit>...};
    return kCalls[tag_](body_, visit);
  }
  template <size_t I, typename Result, typename Visit>
  static Result VisitOne(const void* body, Visit& visit) {
    if constexpr (I == 0) {
      return visit(std::monostate{});
    } else {
      return visit(*static_cast<const BodyAt<I>*>(body));
    }
  }

  // One function per tag for each operation on the type-erased body. A template so that the
  // tables are defined in the header for every instantiation.
  template <typename Indices = std::make_index_sequence<kTagCount>>
  struct Table;
  template <size_t... I>
  struct Table<std::index_sequence<I...>> {
    static constexpr void* (*kNew[])() = {&NewAt<I>...};
    static constexpr void* (*kCopy[])(const void*) = {&CopyAt<I>...};
    static constexpr void (*kDelete[])(void*) = {&DeleteAt<I>...};
    static constexpr void (*kClear[])(void*) = {&ClearAt<I>...};
    static constexpr bool (*kEncode[])(const void*, FieldWriter&) = {&EncodeAt<I>...};
    static constexpr bool (*kDecode[])(void*, FieldReader&) = {&DecodeAt<I>...};
  };

  uint32_t tag_ = 0;
  void* body_ = nullptr;  // Owned: a BodyAt<tag_>, made by kNew or kCopy; null for tag 0.
};

// Connector to HA agent.
class ConnectorMsg : public TaggedValue<ConnectorTag, Register, IdValue, CountsReply, CheckReply,
                                        StatListReply, RegionListReply, CommandReply, OrderReply,
                                        Warning, StatListExtra, RegionListExtra> {
 public:
  using TaggedValue::TaggedValue;
};

// HA agent to connector.
class AgentMsg : public TaggedValue<AgentTag, CountsRequest, CheckRequest, StatRequest,
                                    RegionRequest, Command, Order> {
 public:
  using TaggedValue::TaggedValue;
};

}  // namespace vexil

#endif  // VEXIL_ORVEL_MESSAGES_H_
