-- Wireshark dissector for the VexilConn agent protocol on TCP port 8990.
--
-- Load it with `wireshark -X lua_script:tools/wireshark/vexilconn.lua` (or tshark), or copy it
-- into the personal Lua plugins folder. A host and an agent on one machine talk over loopback;
-- on Linux (programs under Wine included) capture with
--   tshark -i lo -f "tcp port 8990" -w agent.pcapng
-- and read it with
--   tshark -X lua_script:tools/wireshark/vexilconn.lua -r agent.pcapng -O vexilconn
-- Filters: vexilconn.message == "Register", vexilconn.gsid == 7, and for rejected frames
-- _ws.malformed or vexilconn.length_mismatch, vexilconn.unknown_tag, vexilconn.text_overrun.
--
-- Each message travels in one frame: uint32 length L (the whole frame, these 4 bytes included),
-- uint32 tag, then the body. Integers are little-endian; a text is a uint32 byte count and the
-- bytes; a list is a uint32 element count and the elements. Records are their fields in order,
-- with nothing between them. The direction fixes the message set: segments towards port 8990
-- carry ConnectorMsg (connector to agent), segments from it AgentMsg (agent to connector).
--
-- A frame is marked malformed exactly where the connector's reader rejects it: its body does not
-- use exactly L - 4 bytes after the length, its tag is not in the set, or a text count runs past
-- the end of the frame. The connector abandons the connection after such a frame; the dissector
-- still steps over L bytes so that whatever follows in the capture stays readable.

local AGENT_PORT = 8990

local proto = Proto("vexilconn", "VexilConn agent protocol")

-- Field types of the catalogue. A record type names a table in RECORDS; a list is {list = type}.
local U32, I32, TEXT = "uint32", "int32", "text"

local RECORDS = {
  IdTriple = { { "idA", U32 }, { "gsid", U32 }, { "idB", U32 } },
  Nsap = { { "nsapId", U32 }, { "port", I32 } },
  StatInfo = {
    { "ids", "IdTriple" }, { "value1", U32 }, { "value2", U32 }, { "value3", U32 },
    { "value4", U32 }, { "text", TEXT },
  },
  RegionInfo = { { "ids", "IdTriple" }, { "values", { list = I32 } } },
}

-- Message sets: index = tag, {name, body fields}. Tag 0 carries no body.
local CONNECTOR_MSGS = {
  [0] = { "None", {} },
  { "Register", {
    { "magic", I32 }, { "gsid", U32 }, { "processId", U32 }, { "nsapList", { list = "Nsap" } },
    { "reserved", U32 }, { "exeName", TEXT },
  } },
  { "IdValue", { { "ids", "IdTriple" }, { "value", I32 } } },
  { "CountsReply", { { "counts", { list = I32 } } } },
  { "CheckReply", { { "value", I32 }, { "gsid", U32 } } },
  { "StatListReply", { { "stats", { list = "StatInfo" } } } },
  { "RegionListReply", { { "regions", { list = "RegionInfo" } } } },
  { "CommandReply", { { "gsid", U32 }, { "result", I32 } } },
  { "OrderReply", {
    { "name", TEXT }, { "ids", "IdTriple" }, { "serial", U32 }, { "option", I32 },
    { "resultText", TEXT }, { "context", TEXT }, { "argument", TEXT },
  } },
  { "Warning", {
    { "ids", "IdTriple" }, { "code", I32 }, { "text", TEXT }, { "extraText", TEXT },
  } },
  { "StatListExtra", { { "stats", { list = "StatInfo" } } } },
  { "RegionListExtra", { { "regions", { list = "RegionInfo" } } } },
}

local AGENT_MSGS = {
  [0] = { "None", {} },
  { "CountsRequest", {} },
  { "CheckRequest", { { "value", I32 } } },
  { "StatRequest", {} },
  { "RegionRequest", {} },
  { "Command", { { "ids", "IdTriple" }, { "text", TEXT } } },
  { "Order", {
    { "serial", U32 }, { "name", TEXT }, { "ids", "IdTriple" }, { "option", I32 },
    { "argument", TEXT }, { "context", TEXT },
  } },
}

-- Protocol fields. A catalogue field name has one type wherever it occurs, so every field is
-- registered once as vexilconn.<name>; a list's field holds its element count and its number
-- elements are vexilconn.<name>.element. Record-typed fields and record list elements are
-- subtrees (vexilconn.<name> and vexilconn.<RecordType>).
local pf = {
  length = ProtoField.uint32("vexilconn.length", "length"),
  tag = ProtoField.uint32("vexilconn.tag", "tag"),
  set = ProtoField.string("vexilconn.set", "set"),
  message = ProtoField.string("vexilconn.message", "message"),
}
local element_fields = {}

local function register_field(name, kind)
  if pf[name] then return end
  if kind == U32 then
    pf[name] = ProtoField.uint32("vexilconn." .. name, name)
  elseif kind == I32 then
    pf[name] = ProtoField.int32("vexilconn." .. name, name)
  elseif kind == TEXT then
    pf[name] = ProtoField.string("vexilconn." .. name, name)
  elseif type(kind) == "table" then
    pf[name] = ProtoField.uint32("vexilconn." .. name, name)
    if not RECORDS[kind.list] then
      element_fields[name] = ProtoField.int32("vexilconn." .. name .. ".element", "element")
    end
  else
    pf[name] = ProtoField.none("vexilconn." .. name, name)
  end
end

for record_name, fields in pairs(RECORDS) do
  pf[record_name] = ProtoField.none("vexilconn." .. record_name, record_name)
  for _, field in ipairs(fields) do register_field(field[1], field[2]) end
end
for _, set in ipairs({ CONNECTOR_MSGS, AGENT_MSGS }) do
  for tag = 0, #set do
    for _, field in ipairs(set[tag][2]) do register_field(field[1], field[2]) end
  end
end

local field_list = {}
for _, field in pairs(pf) do field_list[#field_list + 1] = field end
for _, field in pairs(element_fields) do field_list[#field_list + 1] = field end
proto.fields = field_list

local ex = {
  length = ProtoExpert.new("vexilconn.length_mismatch", "Frame length disagrees with its content",
    expert.group.MALFORMED, expert.severity.ERROR),
  tag = ProtoExpert.new("vexilconn.unknown_tag", "Unknown message tag",
    expert.group.MALFORMED, expert.severity.ERROR),
  text = ProtoExpert.new("vexilconn.text_overrun", "Text runs past the end of the frame",
    expert.group.MALFORMED, expert.severity.ERROR),
  refused = ProtoExpert.new("vexilconn.refused_tag", "Tag 0: the connector refuses this message",
    expert.group.PROTOCOL, expert.severity.WARN),
}
proto.experts = { ex.length, ex.tag, ex.text, ex.refused }

-- Renders text bytes as the library's message dumps do: printable ASCII as is, quote, backslash
-- and every other byte as \xNN.
local function escape_text(raw)
  return (raw:gsub(".", function(c)
    local byte = c:byte()
    if byte >= 0x20 and byte < 0x7F and c ~= '"' and c ~= "\\" then return c end
    return string.format("\\x%02X", byte)
  end))
end

-- Decodes fields from tvb between cursor.pos and cursor.stop (the end of the frame). Every
-- decoder returns true, or false after adding the expert error that explains the rejection.
local decode_fields

local function decode_value(tvb, tree, cursor, name, kind, item_field)
  local left = cursor.stop - cursor.pos
  if kind == U32 or kind == I32 then
    if left < 4 then
      tree:add_proto_expert_info(ex.length, "Frame length disagrees with its content: " ..
        name .. " needs 4 bytes, " .. left .. " left in the frame")
      return false
    end
    tree:add_le(item_field or pf[name], tvb(cursor.pos, 4))
    cursor.pos = cursor.pos + 4
    return true
  end
  if kind == TEXT then
    if left < 4 then
      tree:add_proto_expert_info(ex.length, "Frame length disagrees with its content: count of " ..
        name .. " needs 4 bytes, " .. left .. " left in the frame")
      return false
    end
    local count = tvb(cursor.pos, 4):le_uint()
    if count > left - 4 then
      local item = tree:add_le(pf[name], tvb(cursor.pos, 4), "")
      item:append_text(" (count " .. count .. ")")
      item:add_proto_expert_info(ex.text, "Text runs past the end of the frame: " .. name ..
        " counts " .. count .. " bytes, " .. (left - 4) .. " left in the frame")
      return false
    end
    local raw = count > 0 and tvb:raw(cursor.pos + 4, count) or ""
    local item = tree:add(pf[name], tvb(cursor.pos, 4 + count), escape_text(raw))
    item:append_text(" (" .. count .. " bytes)")
    cursor.pos = cursor.pos + 4 + count
    return true
  end
  if type(kind) == "table" then
    if left < 4 then
      tree:add_proto_expert_info(ex.length, "Frame length disagrees with its content: count of " ..
        name .. " needs 4 bytes, " .. left .. " left in the frame")
      return false
    end
    local start = cursor.pos
    local count = tvb(start, 4):le_uint()
    local item = tree:add_le(pf[name], tvb(start, 4))
    local record = RECORDS[kind.list]
    cursor.pos = start + 4
    -- Every element takes at least 4 bytes, so a count larger than the frame ends here with an
    -- error instead of looping over elements that cannot exist.
    for index = 0, count - 1 do
      local ok
      if record then
        local sub = item:add(pf[kind.list], tvb(cursor.pos, 0))
        sub:set_text(kind.list .. " [" .. index .. "]")
        local element_start = cursor.pos
        ok = decode_fields(tvb, sub, cursor, record)
        sub:set_len(cursor.pos - element_start)
      else
        ok = decode_value(tvb, item, cursor, name, kind.list, element_fields[name])
      end
      if not ok then
        item:set_len(cursor.pos - start)
        return false
      end
    end
    item:set_len(cursor.pos - start)
    return true
  end
  -- A record-typed field.
  local start = cursor.pos
  local sub = tree:add(pf[name], tvb(start, 0))
  sub:append_text(": " .. kind)
  local ok = decode_fields(tvb, sub, cursor, RECORDS[kind])
  sub:set_len(cursor.pos - start)
  return ok
end

decode_fields = function(tvb, tree, cursor, fields)
  for _, field in ipairs(fields) do
    if not decode_value(tvb, tree, cursor, field[1], field[2]) then return false end
  end
  return true
end

-- Dissects the frame announcing length at offset; span bytes of it are in tvb (span is length,
-- except for a length below 8, after which the frame boundaries are lost). Returns the name for
-- the Info column.
local function dissect_frame(tvb, tree, offset, length, span, towards_agent)
  local set_name = towards_agent and "ConnectorMsg" or "AgentMsg"
  local set = towards_agent and CONNECTOR_MSGS or AGENT_MSGS
  local frame = tree:add(proto, tvb(offset, span))
  frame:add_le(pf.length, tvb(offset, 4))
  frame:add(pf.set, set_name):set_generated()
  if length < 8 then
    frame:append_text(", " .. set_name .. " (malformed)")
    frame:add_proto_expert_info(ex.length, "Frame length disagrees with its content: " ..
      length .. " is shorter than the length and the tag")
    return "Malformed"
  end
  local tag = tvb(offset + 4, 4):le_uint()
  frame:add_le(pf.tag, tvb(offset + 4, 4))
  local entry = set[tag]
  if not entry then
    local name = "Tag" .. tag
    frame:append_text(", " .. set_name .. " " .. name .. " (malformed)")
    frame:add_proto_expert_info(ex.tag, "Unknown message tag: " .. tag .. " is not a " ..
      set_name .. " tag")
    return name
  end
  local name = entry[1]
  frame:add(pf.message, name):set_generated()
  frame:append_text(", " .. set_name .. " " .. name)
  if tag == 0 and not towards_agent then frame:add_proto_expert_info(ex.refused) end
  local cursor = { pos = offset + 8, stop = offset + length }
  local ok = decode_fields(tvb, frame, cursor, entry[2])
  if ok and cursor.pos ~= cursor.stop then
    frame:add_proto_expert_info(ex.length, "Frame length disagrees with its content: " ..
      (cursor.stop - cursor.pos) .. " bytes after the end of " .. name)
    ok = false
  end
  if not ok then
    frame:append_text(" (malformed)")
    return name .. " (malformed)"
  end
  return name
end

function proto.dissector(tvb, pinfo, tree)
  local towards_agent = pinfo.dst_port == AGENT_PORT
  local total = tvb:len()
  local offset = 0
  local names = {}
  while offset < total do
    local left = total - offset
    if left < 4 then
      pinfo.desegment_offset = offset
      pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
      break
    end
    local length = tvb(offset, 4):le_uint()
    local span = length
    if length < 8 then
      -- The connector cannot find the next frame after this one: show it and the rest as one.
      span = left
    elseif length > left then
      pinfo.desegment_offset = offset
      pinfo.desegment_len = length - left
      break
    end
    names[#names + 1] = dissect_frame(tvb, tree, offset, length, span, towards_agent)
    offset = offset + span
  end
  if #names > 0 then
    pinfo.cols.protocol = "VexilConn"
    pinfo.cols.info = table.concat(names, ", ")
  end
  -- The whole segment is ours: what was not dissected here waits for the next segment. Returning
  -- less would tell TCP that the bytes are not this protocol's.
  return total
end

DissectorTable.get("tcp.port"):add(AGENT_PORT, proto)
