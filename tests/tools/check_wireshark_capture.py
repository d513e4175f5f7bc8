#!/usr/bin/env python3
"""Judges tshark's dissection of a capture against the listener's CSV of the same datagrams.

    check_wireshark_capture.py CAPTURE.pdml LISTENER.csv COUNT

CAPTURE.pdml (tshark -T pdml with the dissector) must hold COUNT motion datagrams whose
time and six floats, as the dissector shows them, equal the CSV's rows in order (floats
compared as the 32-bit floats they are), and shows every other datagram to UDP port 50001
as malformed: a datagram of 0, 31, 33 and 65,507 bytes, one with a wrong marker, random
ones. Prints what differs and exits 1 if anything does.
"""
import csv
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

FLOATS = ["velocity_x", "velocity_y", "velocity_z", "angular_velocity_x", "angular_velocity_y",
          "angular_velocity_z"]
failures = []


def f32(text):
    return struct.unpack("<f", struct.pack("<f", float(text)))[0]


def packets(path):
    """Each UDP datagram of the capture: its payload length and the dissector's fields by name."""
    for packet in ElementTree.parse(path).getroot().iter("packet"):
        fields = {}
        length = None
        for field in packet.iter():  # fields, and protocols such as _ws.malformed
            name = field.get("name", "")
            if name == "udp.length":
                length = int(field.get("show")) - 8
            elif name.startswith("skarvel_motion") or name.startswith("_ws.expert") or name == "_ws.malformed":
                fields.setdefault(name, []).append(field)
        has_proto = any(p.get("name") == "skarvel_motion" for p in packet.iter("proto"))
        if length is not None:
            yield length, has_proto, fields


def flagged_malformed(fields):
    """Whether Wireshark flags the datagram as malformed: an expert item of the group Malformed."""
    groups = [field.get("showname", "") for field in fields.get("_ws.expert.group", [])]
    return "_ws.malformed" in fields and "Group: Malformed" in groups


def shown_number(field):
    """The number in the field's line as shown ("Velocity x: 1.25 m/s")."""
    found = re.match(r"[^:]*: (\S+)", field.get("showname", ""))
    return found.group(1) if found else None


def main(pdml, listener_csv, count):
    with open(listener_csv, newline="") as f:
        rows = list(csv.DictReader(f))
    motion, malformed = [], []
    for length, has_proto, fields in packets(pdml):
        if "skarvel_motion.time_us" in fields:
            motion.append((length, fields))
        elif not has_proto:
            failures.append("a datagram of %d bytes to port 50001 is not shown as a motion datagram" % length)
        else:
            malformed.append((length, fields))
    if len(rows) != count or len(motion) != count:
        failures.append("%d rows in the listener's CSV and %d motion datagrams in the capture, not %d each"
                        % (len(rows), len(motion), count))
    for index, (row, (length, fields)) in enumerate(zip(rows, motion), 1):
        time = fields["skarvel_motion.time_us"][0].get("show")
        if length != 32 or flagged_malformed(fields):
            failures.append("datagram %d: %d bytes, shown as malformed" % (index, length))
        if time != row["time_us"]:
            failures.append("datagram %d: time %s us, the listener's %s" % (index, time, row["time_us"]))
        for name in FLOATS:
            shown = fields.get("skarvel_motion." + name)
            number = shown_number(shown[0]) if shown else None
            if number is None or f32(number) != f32(row[name]):
                failures.append("datagram %d: %s shown as %s, the listener's %s"
                                % (index, name, shown[0].get("showname") if shown else "nothing", row[name]))
    lengths = sorted(length for length, _ in malformed)
    for length, fields in malformed:
        messages = [field.get("show", "") for field in fields.get("_ws.expert.message", [])]
        if not flagged_malformed(fields) or not any("Not a motion datagram" in m for m in messages):
            failures.append("a datagram of %d bytes is not shown as malformed (%s)" % (length, messages))
        if any(name in fields for name in ["skarvel_motion.time_us"] + ["skarvel_motion." + f for f in FLOATS]):
            failures.append("a malformed datagram of %d bytes has its bytes read as fields" % length)
    for length in (0, 31, 33, 65507, 32):
        if length not in lengths:
            failures.append("no malformed datagram of %d bytes in the capture (%s)" % (length, lengths))
    if len(malformed) != 13:
        failures.append("%d malformed datagrams, not the 13 sent" % len(malformed))
    for failure in failures[:40]:
        print("FAIL:", failure)
    if not failures:
        print("wireshark: %d motion datagrams shown as the listener decoded them; %d malformed ones "
              "(%s bytes) flagged" % (len(motion), len(malformed), ", ".join(str(n) for n in lengths)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], int(sys.argv[3])))
