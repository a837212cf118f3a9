-- brassmoor.lua: a Wireshark dissector for Brassmoor's UDP datagrams (pose, snapshot, info query, info answer).
--
-- Every datagram starts with the four bytes "KV01" and a type byte; multi-byte fields are
-- little-endian, reals are IEEE binary32, nothing is padded.
--   1 pose (client -> server), 25 bytes: x, y, z, yaw, pitch
--   2 snapshot (server -> client), 11 + 20 n bytes: selfId u32, peerCount u16, then n entries of
--     peerId u32, x, y, z, yaw
--   3 info query (launcher -> server), at least 24 bytes: nonce u32, padding; a longer query (73
--     bytes from a launcher) asks for the server's name too
--   4 info answer (server -> launcher), 24 bytes: nonce u32, instance u32, players, clients, bots,
--     maxClients (u16 each), version major, minor, patch (u8 each); to a longer query, then
--     nameLength u8 and the name's UTF-8 bytes, cut so the answer is no longer than the query
-- Registered on UDP port 40123, and recognised on any other port by its "KV01" start. Expert
-- information marks what the client or the server rejects or ignores.
--
-- Written for Wireshark 4.0 and its Lua 5.2: no integer division operator, no bit operators.

local brassmoor = Proto("brassmoor", "Brassmoor")

local SERVER_PORT = 40123
local MAGIC = "KV01"
local HEADER_SIZE = 5
local POSE_SIZE = 25
local SNAPSHOT_HEADER_SIZE = 11
local ENTRY_SIZE = 20
local CLIENT_BUFFER_SIZE = 4096
local CLIENT_MOST_ENTRIES = 204
local INFO_SIZE = 24
local NAME_OFFSET = 25
local NAME_MOST_BYTES = 48

local POSE, SNAPSHOT, QUERY, ANSWER = 1, 2, 3, 4
local type_names = { [POSE] = "Pose", [SNAPSHOT] = "Snapshot", [QUERY] = "Info query", [ANSWER] = "Info answer" }

local fields = {
    magic = ProtoField.string("brassmoor.magic", "Magic"),
    type = ProtoField.uint8("brassmoor.type", "Type", base.DEC, type_names),

    pose_x = ProtoField.float("brassmoor.pose.x", "x"),
    pose_y = ProtoField.float("brassmoor.pose.y", "y"),
    pose_z = ProtoField.float("brassmoor.pose.z", "z (eye height)"),
    pose_yaw = ProtoField.float("brassmoor.pose.yaw", "Yaw (radians)"),
    pose_pitch = ProtoField.float("brassmoor.pose.pitch", "Pitch (radians)"),

    self_id = ProtoField.uint32("brassmoor.snapshot.self_id", "Self id (the receiver)", base.DEC),
    peer_count = ProtoField.uint16("brassmoor.snapshot.peer_count", "Peer count (entries announced)", base.DEC),
    entries = ProtoField.uint16("brassmoor.snapshot.entries", "Entries carried", base.DEC),
    entry = ProtoField.uint16("brassmoor.entry", "Entry", base.DEC),
    peer_id = ProtoField.uint32("brassmoor.entry.peer_id", "Peer id", base.DEC),
    entry_x = ProtoField.float("brassmoor.entry.x", "x"),
    entry_y = ProtoField.float("brassmoor.entry.y", "y"),
    entry_z = ProtoField.float("brassmoor.entry.z", "z"),
    entry_yaw = ProtoField.float("brassmoor.entry.yaw", "Yaw (radians)"),

    nonce = ProtoField.uint32("brassmoor.nonce", "Nonce", base.HEX),
    padding = ProtoField.bytes("brassmoor.query.padding", "Padding"),
    instance = ProtoField.uint32("brassmoor.answer.instance", "Instance", base.HEX),
    players = ProtoField.uint16("brassmoor.answer.players", "Players", base.DEC),
    clients = ProtoField.uint16("brassmoor.answer.clients", "Clients", base.DEC),
    bots = ProtoField.uint16("brassmoor.answer.bots", "Bots", base.DEC),
    max_clients = ProtoField.uint16("brassmoor.answer.max_clients", "Most clients", base.DEC),
    version_major = ProtoField.uint8("brassmoor.answer.version_major", "Version major", base.DEC),
    version_minor = ProtoField.uint8("brassmoor.answer.version_minor", "Version minor", base.DEC),
    version_patch = ProtoField.uint8("brassmoor.answer.version_patch", "Version patch", base.DEC),
    name_length = ProtoField.uint8("brassmoor.answer.name_length", "Name length", base.DEC),
    name = ProtoField.string("brassmoor.answer.name", "Name", base.UNICODE),

    trailing = ProtoField.bytes("brassmoor.trailing", "Bytes after the last field"),
}
brassmoor.fields = fields

local group, severity = expert.group, expert.severity
local experts = {
    short_header = ProtoExpert.new("brassmoor.short_header",
        "Shorter than the 5-byte header: rejected", group.MALFORMED, severity.ERROR),
    bad_magic = ProtoExpert.new("brassmoor.bad_magic",
        "Does not start with KV01: rejected", group.MALFORMED, severity.ERROR),
    unknown_type = ProtoExpert.new("brassmoor.unknown_type",
        "Unknown type: rejected", group.MALFORMED, severity.ERROR),
    pose_length = ProtoExpert.new("brassmoor.pose.wrong_length",
        "A pose is exactly 25 bytes: the server ignores this one", group.MALFORMED, severity.ERROR),
    snapshot_short = ProtoExpert.new("brassmoor.snapshot.short",
        "Shorter than the 11-byte snapshot header: the client rejects it", group.MALFORMED, severity.ERROR),
    missing_entries = ProtoExpert.new("brassmoor.snapshot.missing_entries",
        "Announces more entries than it carries: the client uses those carried", group.MALFORMED, severity.WARN),
    trailing_bytes = ProtoExpert.new("brassmoor.snapshot.trailing_bytes",
        "Bytes after the last entry: the client ignores them", group.PROTOCOL, severity.WARN),
    beyond_buffer = ProtoExpert.new("brassmoor.snapshot.beyond_client_buffer",
        "Longer than the client's 4096-byte receive buffer: the client reads 204 entries at most",
        group.PROTOCOL, severity.WARN),
    query_short = ProtoExpert.new("brassmoor.query.short",
        "Query shorter than 24 bytes: the server does not answer it", group.MALFORMED, severity.WARN),
    answer_short = ProtoExpert.new("brassmoor.answer.short",
        "Answer shorter than 24 bytes: rejected", group.MALFORMED, severity.ERROR),
    answer_extra = ProtoExpert.new("brassmoor.answer.extra_bytes",
        "Bytes after the answer's last field: ignored (left for later versions)", group.PROTOCOL, severity.NOTE),
    name_past_end = ProtoExpert.new("brassmoor.answer.name_past_end",
        "The name's length runs past the datagram: the launcher reads the bytes that are there",
        group.MALFORMED, severity.WARN),
}
brassmoor.experts = {}
for _, e in pairs(experts) do
    table.insert(brassmoor.experts, e)
end

-- Adds a field when its bytes are all there; returns whether they were.
local function add_if_there(tree, field, tvb, offset, size)
    if offset + size > tvb:len() then
        return false
    end
    tree:add_le(field, tvb(offset, size))
    return true
end

local function dissect_pose(tvb, tree)
    local length = tvb:len()
    if length ~= POSE_SIZE then
        tree:add_proto_expert_info(experts.pose_length,
            string.format("A pose is exactly 25 bytes, this one %d: the server ignores it", length))
    end
    local names = { fields.pose_x, fields.pose_y, fields.pose_z, fields.pose_yaw, fields.pose_pitch }
    for i, field in ipairs(names) do
        add_if_there(tree, field, tvb, HEADER_SIZE + 4 * (i - 1), 4)
    end
    if length > POSE_SIZE then
        tree:add(fields.trailing, tvb(POSE_SIZE))
    end
    if length < POSE_SIZE then
        return string.format("pose, %d bytes (ignored)", length)
    end
    return string.format("pose x=%.2f y=%.2f yaw=%.2f pitch=%.2f",
        tvb(5, 4):le_float(), tvb(9, 4):le_float(), tvb(17, 4):le_float(), tvb(21, 4):le_float())
end

local function dissect_snapshot(tvb, tree)
    local length = tvb:len()
    if length < SNAPSHOT_HEADER_SIZE then
        tree:add_proto_expert_info(experts.snapshot_short,
            string.format("Snapshot of %d bytes, shorter than its 11-byte header: the client rejects it", length))
        add_if_there(tree, fields.self_id, tvb, 5, 4)
        return string.format("snapshot, %d bytes (rejected)", length)
    end
    tree:add_le(fields.self_id, tvb(5, 4))
    tree:add_le(fields.peer_count, tvb(9, 2))
    local self_id = tvb(5, 4):le_uint()
    local announced = tvb(9, 2):le_uint()
    local room = math.floor((length - SNAPSHOT_HEADER_SIZE) / ENTRY_SIZE)
    local carried = math.min(announced, room)
    tree:add(fields.entries, carried):set_generated()

    for i = 0, carried - 1 do
        local offset = SNAPSHOT_HEADER_SIZE + ENTRY_SIZE * i
        local entry = tree:add(fields.entry, tvb(offset, ENTRY_SIZE), i)
        entry:add_le(fields.peer_id, tvb(offset, 4))
        entry:add_le(fields.entry_x, tvb(offset + 4, 4))
        entry:add_le(fields.entry_y, tvb(offset + 8, 4))
        entry:add_le(fields.entry_z, tvb(offset + 12, 4))
        entry:add_le(fields.entry_yaw, tvb(offset + 16, 4))
        entry:append_text(string.format(": peer %d at (%.2f, %.2f)", tvb(offset, 4):le_uint(),
            tvb(offset + 4, 4):le_float(), tvb(offset + 8, 4):le_float()))
    end

    if announced > carried then
        tree:add_proto_expert_info(experts.missing_entries,
            string.format("Announces %d entries but carries %d: the client uses %d", announced, carried, carried))
    end
    local used = SNAPSHOT_HEADER_SIZE + ENTRY_SIZE * carried
    if length > used then
        tree:add(fields.trailing, tvb(used))
        tree:add_proto_expert_info(experts.trailing_bytes,
            string.format("%d bytes after the last entry: the client ignores them", length - used))
    end
    if length > CLIENT_BUFFER_SIZE then
        tree:add_proto_expert_info(experts.beyond_buffer,
            string.format("%d bytes, longer than the client's 4096-byte receive buffer: it reads %d entries at most",
                length, CLIENT_MOST_ENTRIES))
    end
    local players = announced == 1 and "player" or "players"
    if announced == carried then
        return string.format("snapshot self=%d, %d %s", self_id, carried, players)
    end
    return string.format("snapshot self=%d, %d of %d %s", self_id, carried, announced, players)
end

local function dissect_query(tvb, tree)
    local length = tvb:len()
    add_if_there(tree, fields.nonce, tvb, 5, 4)
    if length > 9 then
        tree:add(fields.padding, tvb(9))
    end
    if length < INFO_SIZE then
        tree:add_proto_expert_info(experts.query_short,
            string.format("Query of %d bytes, shorter than 24: the server does not answer it", length))
        return string.format("info query, %d bytes (not answered)", length)
    end
    local info = string.format("info query nonce=0x%08x", tvb(5, 4):le_uint())
    if length > INFO_SIZE then
        local room = math.min(length - NAME_OFFSET, NAME_MOST_BYTES)
        return info .. string.format(", room for a name of %d bytes", math.max(room, 0))
    end
    return info
end

local function dissect_answer(tvb, tree)
    local length = tvb:len()
    local layout = {
        { fields.nonce, 5, 4 }, { fields.instance, 9, 4 }, { fields.players, 13, 2 }, { fields.clients, 15, 2 },
        { fields.bots, 17, 2 }, { fields.max_clients, 19, 2 }, { fields.version_major, 21, 1 },
        { fields.version_minor, 22, 1 }, { fields.version_patch, 23, 1 },
    }
    for _, item in ipairs(layout) do
        add_if_there(tree, item[1], tvb, item[2], item[3])
    end
    if length < INFO_SIZE then
        tree:add_proto_expert_info(experts.answer_short,
            string.format("Answer of %d bytes, shorter than 24: rejected", length))
        return string.format("info answer, %d bytes (rejected)", length)
    end
    local info = string.format("info answer: %d players (%d clients, %d bots, at most %d clients), version %d.%d.%d",
        tvb(13, 2):le_uint(), tvb(15, 2):le_uint(), tvb(17, 2):le_uint(), tvb(19, 2):le_uint(),
        tvb(21, 1):uint(), tvb(22, 1):uint(), tvb(23, 1):uint())
    if length == INFO_SIZE then
        return info
    end
    -- The answer to a longer query: the name's length, then as much of the name as is there.
    tree:add(fields.name_length, tvb(INFO_SIZE, 1))
    local told = tvb(INFO_SIZE, 1):uint()
    local there = math.min(told, length - NAME_OFFSET)
    local name = ""
    if there > 0 then
        name = tvb(NAME_OFFSET, there):string(ENC_UTF_8)
        tree:add(fields.name, tvb(NAME_OFFSET, there), name)
    end
    if told > there then
        tree:add_proto_expert_info(experts.name_past_end,
            string.format("Name length %d runs past the datagram, which holds %d bytes of it", told, there))
    end
    local used = NAME_OFFSET + there
    if length > used then
        tree:add(fields.trailing, tvb(used))
        tree:add_proto_expert_info(experts.answer_extra,
            string.format("%d bytes after the answer's last field: ignored", length - used))
    end
    return info .. string.format(", name \"%s\"", name)
end

local dissect_body = { [POSE] = dissect_pose, [SNAPSHOT] = dissect_snapshot, [QUERY] = dissect_query,
    [ANSWER] = dissect_answer }

local function starts_with_magic(tvb)
    return tvb:len() >= #MAGIC and tvb(0, #MAGIC):raw() == MAGIC
end

function brassmoor.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    pinfo.cols.protocol = "Brassmoor"
    local root = tree:add(brassmoor, tvb())
    local info
    if not starts_with_magic(tvb) then
        if length < HEADER_SIZE then
            root:add_proto_expert_info(experts.short_header,
                string.format("%d bytes, shorter than the 5-byte header: rejected", length))
            info = string.format("%d bytes, shorter than a header (rejected)", length)
        else
            root:add_proto_expert_info(experts.bad_magic)
            info = "no KV01 magic (rejected)"
        end
    elseif length < HEADER_SIZE then
        root:add(fields.magic, tvb(0, #MAGIC))
        root:add_proto_expert_info(experts.short_header,
            string.format("%d bytes, shorter than the 5-byte header: rejected", length))
        info = "KV01 without a type (rejected)"
    else
        root:add(fields.magic, tvb(0, #MAGIC))
        root:add(fields.type, tvb(4, 1))
        local kind = tvb(4, 1):uint()
        local body = dissect_body[kind]
        if body then
            info = body(tvb, root)
        else
            root:add_proto_expert_info(experts.unknown_type,
                string.format("Unknown type %d: rejected", kind))
            info = string.format("unknown type %d (rejected)", kind)
        end
    end
    pinfo.cols.info = info
    root:append_text(", " .. info)
    return length
end

-- On other ports a datagram is ours when it starts with the magic. The conversation then comes
-- to this dissector first, even if one of its ports belongs to another protocol.
local function heuristic(tvb, pinfo, tree)
    if not starts_with_magic(tvb) then
        return false
    end
    brassmoor.dissector(tvb, pinfo, tree)
    pinfo.conversation = brassmoor
    return true
end

DissectorTable.get("udp.port"):add(SERVER_PORT, brassmoor)
brassmoor:register_heuristic("udp", heuristic)
