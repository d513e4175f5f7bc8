-- The Skarvel motion datagram in Wireshark: every UDP datagram to or from port
-- 50001 is shown as the plug-in's 32-byte motion datagram (docs/motion_datagram.md),
-- each field named, with its unit. One of another size, or without the marker
-- 47 00 4D 04, is shown as malformed (an expert item in the "Malformed" group)
-- and its bytes are not read as fields.
--
-- To use it, copy this file into Wireshark's personal Lua plugins folder
-- (Linux: ~/.local/lib/wireshark/plugins/, Windows: %APPDATA%\Wireshark\plugins\;
-- Help > About Wireshark > Folders names it), or load it for one run:
--     tshark -X lua_script:skarvel_motion.lua -r capture.pcapng
-- Display filters: skarvel_motion, skarvel_motion.time_us, skarvel_motion.velocity_x...
--
-- Made for the Skarvel External DLL Sample; MIT licence (its LICENSE).

local motion = Proto("skarvel_motion", "Skarvel motion datagram")

local port = 50001
local size = 32
local marker = "47004d04"

local fields = {
    marker = ProtoField.bytes("skarvel_motion.marker", "Marker"),
    time_us = ProtoField.uint32("skarvel_motion.time_us", "Simulation time", base.UNIT_STRING,
                                {" µs (modulo 2^32)"}),
    time_s = ProtoField.double("skarvel_motion.time_s", "Simulation time in seconds"),
    velocity_x = ProtoField.float("skarvel_motion.velocity_x", "Velocity x", {" m/s"}),
    velocity_y = ProtoField.float("skarvel_motion.velocity_y", "Velocity y", {" m/s"}),
    velocity_z = ProtoField.float("skarvel_motion.velocity_z", "Velocity z", {" m/s"}),
    angular_velocity_x = ProtoField.float("skarvel_motion.angular_velocity_x", "Angular velocity x (roll rate)",
                                          {" rad/s"}),
    angular_velocity_y = ProtoField.float("skarvel_motion.angular_velocity_y", "Angular velocity y (pitch rate)",
                                          {" rad/s"}),
    angular_velocity_z = ProtoField.float("skarvel_motion.angular_velocity_z", "Angular velocity z (yaw rate)",
                                          {" rad/s"}),
    length = ProtoField.uint32("skarvel_motion.length", "Length", base.UNIT_STRING, {" byte", " bytes"}),
}
motion.fields = {fields.marker, fields.time_us, fields.time_s, fields.velocity_x, fields.velocity_y,
                 fields.velocity_z, fields.angular_velocity_x, fields.angular_velocity_y,
                 fields.angular_velocity_z, fields.length}

local wrong_size = ProtoExpert.new("skarvel_motion.wrong_size", "Not a motion datagram: not 32 bytes",
                                   expert.group.MALFORMED, expert.severity.ERROR)
local wrong_marker = ProtoExpert.new("skarvel_motion.wrong_marker",
                                     "Not a motion datagram: its first four bytes are not 47 00 4D 04",
                                     expert.group.MALFORMED, expert.severity.ERROR)
motion.experts = {wrong_size, wrong_marker}

-- The six floats, little-endian, in the datagram's order: field, offset, name and unit.
local layout = {
    {fields.velocity_x, 8, "Velocity x", "m/s"},
    {fields.velocity_y, 12, "Velocity y", "m/s"},
    {fields.velocity_z, 16, "Velocity z", "m/s"},
    {fields.angular_velocity_x, 20, "Angular velocity x (roll rate)", "rad/s"},
    {fields.angular_velocity_y, 24, "Angular velocity y (pitch rate)", "rad/s"},
    {fields.angular_velocity_z, 28, "Angular velocity z (yaw rate)", "rad/s"},
}

function motion.dissector(buffer, pinfo, tree)
    local length = buffer:reported_length_remaining()
    pinfo.cols.protocol = "Skarvel motion"
    local item = tree:add(motion, buffer())
    if length ~= size then
        -- (a datagram of 0 bytes has no range to point at: the item stands for it)
        item:add(fields.length, length):set_generated()
        item:add_proto_expert_info(wrong_size, "Not a motion datagram: " .. length .. " bytes, not 32")
        pinfo.cols.info = "Malformed motion datagram: " .. length .. " bytes, not 32"
        return length
    end
    if buffer:captured_len() < size then
        item:add_proto_expert_info(wrong_size, "Cut short by the capture: " .. buffer:captured_len() .. " of 32 bytes")
        pinfo.cols.info = "Motion datagram, cut short by the capture"
        return length
    end
    local head = buffer(0, 4)
    item:add(fields.marker, head)
    if head:bytes():tohex():lower() ~= marker then
        item:add_proto_expert_info(wrong_marker)
        pinfo.cols.info = "Malformed motion datagram: marker " .. head:bytes():tohex() .. ", not 47004D04"
        return length
    end
    local time = buffer(4, 4)
    item:add_le(fields.time_us, time)
    local seconds = time:le_uint() / 1e6
    item:add(fields.time_s, time, seconds, string.format("Simulation time in seconds: %.6f s", seconds)):set_generated()
    -- Each float with nine significant digits, as many as tell any two floats
    -- apart (Wireshark's own display keeps six).
    for _, field in ipairs(layout) do
        local bytes = buffer(field[2], 4)
        local value = bytes:le_float()
        item:add_le(field[1], bytes, value, string.format("%s: %.9g %s", field[3], value, field[4]))
    end
    pinfo.cols.info = string.format("Motion: time %.6f s, velocity (%.3f, %.3f, %.3f) m/s, "
                                        .. "angular velocity (%.4f, %.4f, %.4f) rad/s",
                                    seconds, buffer(8, 4):le_float(), buffer(12, 4):le_float(),
                                    buffer(16, 4):le_float(), buffer(20, 4):le_float(), buffer(24, 4):le_float(),
                                    buffer(28, 4):le_float())
    return length
end

DissectorTable.get("udp.port"):add(port, motion)

-- UDP hands a datagram of no bytes to no dissector: a post-dissector finds it
-- by its port and shows it as the malformed motion datagram it is.
local udp_length = Field.new("udp.length")
local udp_source = Field.new("udp.srcport")
local udp_destination = Field.new("udp.dstport")
local empty = Proto("skarvel_motion_empty", "Skarvel motion datagram of no bytes")

function empty.dissector(buffer, pinfo, tree)
    local lengths, sources, destinations = {udp_length()}, {udp_source()}, {udp_destination()}
    local last = #lengths
    if last == 0 or lengths[last].value ~= 8 then
        return
    end
    if sources[last].value ~= port and destinations[last].value ~= port then
        return
    end
    pinfo.cols.protocol = "Skarvel motion"
    local item = tree:add(motion, buffer(buffer:len(), 0))
    item:add(fields.length, 0):set_generated()
    item:add_proto_expert_info(wrong_size, "Not a motion datagram: 0 bytes, not 32")
    pinfo.cols.info = "Malformed motion datagram: 0 bytes, not 32"
end

register_postdissector(empty)
