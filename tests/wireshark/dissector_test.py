#!/usr/bin/env python3
"""Checks tools/wireshark/vexilconn.lua by decoding captures made here from known frames.

Each test writes a pcap of one TCP connection between 127.0.0.1:50000 (the connector) and
127.0.0.1:8990 (the agent), runs tshark with the dissector over it and compares the decoded
fields of every packet.

Usage: dissector_test.py DISSECTOR.lua [unittest options]; TSHARK names the tshark binary.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

DISSECTOR = None
TSHARK = os.environ.get("TSHARK", "tshark")
# Prepended to the tshark command line; see find_tshark_command.
TSHARK_PREFIX = []
CONNECTOR_PORT = 50000
AGENT_PORT = 8990
AGGREGATOR = "|"


# ---- Frames: the wire forms the connector writes and reads ----

def u32(value):
    return struct.pack("<I", value)


def i32(value):
    return struct.pack("<i", value)


def text(raw):
    raw = raw.encode("latin-1") if isinstance(raw, str) else raw
    return u32(len(raw)) + raw


def int_list(values):
    return u32(len(values)) + b"".join(i32(v) for v in values)


def ids(id_a, gsid, id_b):
    return u32(id_a) + u32(gsid) + u32(id_b)


def frame(tag, body=b"", length_delta=0):
    """A frame whose length field is the true length plus length_delta."""
    return u32(8 + len(body) + length_delta) + u32(tag) + body


REGISTER = bytes.fromhex(
    "2C000000 01000000 01000100 07000000 34120000 01000000 385B0100 1E230000 00000000"
    " 04000000 67616D65".replace(" ", ""))


# ---- Capture writer ----

def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def tcp_packet(src_port, dst_port, seq, ack, flags, payload):
    address = bytes([127, 0, 0, 1])
    header = struct.pack("!HHIIBBHHH", src_port, dst_port, seq, ack, 5 << 4, flags, 65535, 0, 0)
    pseudo = address + address + struct.pack("!BBH", 0, 6, len(header) + len(payload))
    header = header[:16] + struct.pack("!H", checksum(pseudo + header + payload)) + header[18:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(header) + len(payload), 0, 0x4000, 64, 6,
                     0, address, address)
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    ethernet = b"\0" * 12 + b"\x08\x00"
    return ethernet + ip + header + payload


class Capture:
    """TCP connections to the agent's port, handshakes included; segments in capture order."""

    SYN, ACK, PSH = 0x02, 0x10, 0x08

    def __init__(self):
        self.packets = []
        self.client_port = CONNECTOR_PORT
        self.seq = {}  # next sequence number, keyed by (client port, towards the agent)
        self.connect()

    def connect(self):
        """Starts a new connection from the next client port; later segments travel on it."""
        self.client_port += 1
        self.seq[(self.client_port, True)] = 1000
        self.seq[(self.client_port, False)] = 5000
        self._add(True, self.SYN, b"")
        self._add(False, self.SYN | self.ACK, b"")
        self._add(True, self.ACK, b"")

    def _add(self, towards_agent, flags, payload):
        client = self.client_port
        ports = (client, AGENT_PORT) if towards_agent else (AGENT_PORT, client)
        ack = self.seq[(client, not towards_agent)] if flags & self.ACK else 0
        self.packets.append(tcp_packet(*ports, self.seq[(client, towards_agent)], ack, flags,
                                       payload))
        self.seq[(client, towards_agent)] += len(payload) + (1 if flags & self.SYN else 0)

    def connector(self, payload):
        """A segment from the connector to the agent; returns its packet number."""
        self._add(True, self.PSH | self.ACK, payload)
        return len(self.packets)

    def agent(self, payload):
        self._add(False, self.PSH | self.ACK, payload)
        return len(self.packets)

    def write(self, path):
        with open(path, "wb") as out:
            out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
            for number, packet in enumerate(self.packets):
                out.write(struct.pack("<IIII", 1700000000, number, len(packet), len(packet)))
                out.write(packet)


# ---- Running tshark ----

def decode(capture, fields):
    """Returns {packet number: {field: [values]}} for every packet."""
    with tempfile.TemporaryDirectory() as folder:
        # Readable by the unprivileged user tshark may run as.
        os.chmod(folder, 0o755)
        path = os.path.join(folder, "capture.pcap")
        capture.write(path)
        os.chmod(path, 0o644)
        # A private configuration folder: the user's preferences (a disabled protocol, another
        # port) must not change what the test sees.
        env = dict(os.environ, WIRESHARK_CONFIG_DIR=folder, HOME=folder)
        command = TSHARK_PREFIX + [
            TSHARK, "-n", "-X", "lua_script:" + DISSECTOR, "-r", path, "-T", "fields",
            "-E", "occurrence=a", "-E", "aggregator=" + AGGREGATOR, "-E", "separator=/t",
            "-e", "frame.number"]
        for field in fields:
            command += ["-e", field]
        result = subprocess.run(command, capture_output=True, text=True, env=env, timeout=60)
    if result.returncode != 0:
        raise AssertionError("tshark failed (%d): %s" % (result.returncode, result.stderr))
    packets = {}
    for line in result.stdout.splitlines():
        columns = line.split("\t")
        packets[int(columns[0])] = {
            field: (value.split(AGGREGATOR) if value else [])
            for field, value in zip(fields, columns[1:] + [""] * len(fields))}
    return packets


def find_tshark_command():
    """Makes sure tshark runs the dissector, or exits saying why it does not.

    tshark started as root skips every Lua script, -X lua_script included, unless its init.lua
    sets run_user_scripts_when_superuser (Debian's does). As root without that, tshark runs here
    as the unprivileged user nobody instead.
    """
    global TSHARK_PREFIX
    probe = Capture()
    number = probe.connector(REGISTER)

    def loaded():
        protocols = decode(probe, ["frame.protocols"])[number]["frame.protocols"]
        return bool(protocols) and "vexilconn" in protocols[0].split(":")

    if loaded():
        return
    if os.geteuid() == 0 and shutil.which("setpriv"):
        TSHARK_PREFIX = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        if loaded():
            return
    sys.exit("tshark does not load %s: as root, set run_user_scripts_when_superuser = true in "
             "Wireshark's init.lua or run the test as another user" % DISSECTOR)


MESSAGE = "vexilconn.message"
EXPERT = "_ws.expert.message"


class DissectorTest(unittest.TestCase):

    def assertDecoded(self, packet, expected):
        for field, values in expected.items():
            self.assertEqual(packet[field], values, field)

    def test_register_names_every_field(self):
        capture = Capture()
        number = capture.connector(REGISTER)
        fields = [MESSAGE, "vexilconn.set", "vexilconn.length", "vexilconn.tag", "vexilconn.magic",
                  "vexilconn.gsid", "vexilconn.processId", "vexilconn.nsapList",
                  "vexilconn.nsapId", "vexilconn.port", "vexilconn.reserved", "vexilconn.exeName",
                  EXPERT]
        packet = decode(capture, fields)[number]
        self.assertDecoded(packet, {
            MESSAGE: ["Register"], "vexilconn.set": ["ConnectorMsg"], "vexilconn.length": ["44"],
            "vexilconn.tag": ["1"], "vexilconn.magic": ["65537"], "vexilconn.gsid": ["7"],
            "vexilconn.processId": ["4660"], "vexilconn.nsapList": ["1"],
            "vexilconn.nsapId": ["88888"], "vexilconn.port": ["8990"],
            "vexilconn.reserved": ["0"], "vexilconn.exeName": ["game"], EXPERT: []})

    def test_direction_chooses_the_message_set(self):
        # Tag 5 is StatListReply towards the agent and Command from it; tag 7 exists only towards
        # the agent.
        capture = Capture()
        towards = capture.connector(frame(5, u32(0)) + frame(7, u32(9) + i32(1)))
        command = capture.agent(frame(5, ids(1, 2, 3) + text("kick 42")))
        unknown = capture.agent(frame(7))
        packets = decode(capture, [MESSAGE, "vexilconn.set", "vexilconn.stats", "vexilconn.result",
                                   "vexilconn.text", "vexilconn.unknown_tag"])
        self.assertDecoded(packets[towards], {
            MESSAGE: ["StatListReply", "CommandReply"], "vexilconn.stats": ["0"],
            "vexilconn.result": ["1"]})
        self.assertDecoded(packets[command], {
            MESSAGE: ["Command"], "vexilconn.set": ["AgentMsg"], "vexilconn.text": ["kick 42"]})
        self.assertDecoded(packets[unknown], {MESSAGE: [], "vexilconn.set": ["AgentMsg"]})
        self.assertEqual(len(packets[unknown]["vexilconn.unknown_tag"]), 1)

    def test_lists_show_counts_and_elements(self):
        stat = ids(10, 7, 11) + u32(1) + u32(2) + u32(3) + u32(4) + text("hp")
        region = ids(20, 7, 21) + int_list([5, -6, 7])
        capture = Capture()
        number = capture.connector(
            frame(3, int_list(list(range(10)))) +
            frame(5, u32(2) + stat + ids(12, 7, 13) + u32(0) * 4 + text("")) +
            frame(11, u32(1) + region))
        packet = decode(capture, [MESSAGE, "vexilconn.counts", "vexilconn.counts.element",
                                  "vexilconn.stats", "vexilconn.idA", "vexilconn.value4",
                                  "vexilconn.text", "vexilconn.regions", "vexilconn.values",
                                  "vexilconn.values.element", EXPERT])[number]
        self.assertDecoded(packet, {
            MESSAGE: ["CountsReply", "StatListReply", "RegionListExtra"],
            "vexilconn.counts": ["10"], "vexilconn.counts.element": [str(v) for v in range(10)],
            "vexilconn.stats": ["2"], "vexilconn.idA": ["10", "12", "20"],
            "vexilconn.value4": ["4", "0"], "vexilconn.text": ["hp", ""],
            "vexilconn.regions": ["1"], "vexilconn.values": ["3"],
            "vexilconn.values.element": ["5", "-6", "7"], EXPERT: []})

    def test_texts_are_shown_with_bytes_escaped(self):
        capture = Capture()
        number = capture.agent(frame(6, u32(3) + text("__ISOLATE__") + ids(1, 99, 2) + i32(-1) +
                                     text(b'12#"x"\\\x00\xe9') + text("ctx")))
        packet = decode(capture, [MESSAGE, "vexilconn.serial", "vexilconn.name", "vexilconn.gsid",
                                  "vexilconn.option", "vexilconn.argument", "vexilconn.context",
                                  EXPERT])[number]
        self.assertDecoded(packet, {
            MESSAGE: ["Order"], "vexilconn.serial": ["3"], "vexilconn.name": ["__ISOLATE__"],
            "vexilconn.gsid": ["99"], "vexilconn.option": ["-1"],
            "vexilconn.argument": ["12#\\x22x\\x22\\x5C\\x00\\xE9"], "vexilconn.context": ["ctx"],
            EXPERT: []})

    def test_reassembles_a_frame_split_over_two_segments(self):
        reply = frame(8, text("restart") + ids(1, 2, 3) + u32(4) + i32(5) + text("done") +
                      text("ctx") + text("now"))
        capture = Capture()
        first = capture.connector(reply[:2])  # not even the whole length field
        second = capture.connector(reply[2:20])  # inside the name text
        last = capture.connector(reply[20:] + frame(9, ids(1, 7, 2) + i32(3) + text("low") +
                                                    text("disk")))
        packets = decode(capture, [MESSAGE, "vexilconn.name", "vexilconn.resultText",
                                   "vexilconn.argument", "vexilconn.code", "vexilconn.extraText",
                                   EXPERT])
        self.assertEqual(packets[first][MESSAGE], [])
        self.assertEqual(packets[second][MESSAGE], [])
        self.assertDecoded(packets[last], {
            MESSAGE: ["OrderReply", "Warning"], "vexilconn.name": ["restart"],
            "vexilconn.resultText": ["done"], "vexilconn.argument": ["now"],
            "vexilconn.code": ["3"], "vexilconn.extraText": ["disk"], EXPERT: []})

    def test_splits_three_frames_in_one_segment(self):
        capture = Capture()
        number = capture.agent(frame(1) + frame(2, i32(5)) + frame(4))
        packet = decode(capture, [MESSAGE, "vexilconn.length", "vexilconn.value", EXPERT])[number]
        self.assertDecoded(packet, {
            MESSAGE: ["CountsRequest", "CheckRequest", "RegionRequest"],
            "vexilconn.length": ["8", "12", "8"], "vexilconn.value": ["5"], EXPERT: []})

    def test_malformed_frames_are_marked_as_the_connector_rejects_them(self):
        check = i32(5)
        length, tag, overrun = ("vexilconn.length_mismatch", "vexilconn.unknown_tag",
                                "vexilconn.text_overrun")
        cases = {  # name: (sent by the agent, payload, expected expert)
            # One byte more than the body needs, with the next frame already there to fill it.
            "length one too long": (True, frame(2, check, length_delta=1) + frame(1) + b"\0" * 8,
                                    length),
            "length one too short": (True, frame(2, check, length_delta=-1) + b"\0", length),
            "trailing bytes": (True, frame(1, b"\0\0\0\0"), length),
            "length below the header": (True, u32(4) + u32(1), length),
            "record past the frame": (True, frame(5), length),
            "list count past the frame": (False, frame(3, u32(0xFFFFFFFF) + i32(1)), length),
            "unknown tag": (True, frame(7, check), tag),
            "unknown connector tag": (False, frame(12), tag),
            # The count covers the following frame too: the connector's reader would take those
            # bytes and then find the length wrong; it is the text that runs past this frame.
            "text past the frame": (True, frame(5, ids(1, 2, 3) + u32(12)) + frame(1), overrun),
            "huge text count": (True, frame(6, u32(1) + u32(0xFFFFFFFF)), overrun),
        }
        # The connector drops the connection after a malformed frame: one connection per case.
        capture = Capture()
        numbers = {}
        for name, (from_agent, payload, _) in cases.items():
            capture.connect()
            numbers[name] = (capture.agent if from_agent else capture.connector)(payload)
        capture.connect()
        good = capture.agent(frame(3))
        experts = [length, tag, overrun]
        # _ws.malformed is Wireshark's own filter for malformed packets.
        packets = decode(capture, [MESSAGE, "_ws.expert.severity", "_ws.malformed"] + experts)
        for name, (_, _, expert) in cases.items():
            with self.subTest(name):
                packet = packets[numbers[name]]
                self.assertEqual(len(packet[expert]), 1, packet)
                self.assertEqual(len(packet["_ws.malformed"]), 1, packet)
                for other in experts:
                    if other != expert:
                        self.assertEqual(packet[other], [], other)
        self.assertEqual(packets[good][MESSAGE], ["StatRequest"])
        self.assertEqual(packets[good]["_ws.expert.severity"], [])
        self.assertEqual(packets[good]["_ws.malformed"], [])

    def test_tag_zero_from_the_agent_is_refused_but_not_malformed(self):
        capture = Capture()
        number = capture.agent(frame(0) + frame(1))
        packet = decode(capture, [MESSAGE, "vexilconn.refused_tag",
                                  "vexilconn.length_mismatch"])[number]
        self.assertDecoded(packet, {MESSAGE: ["None", "CountsRequest"],
                                    "vexilconn.length_mismatch": []})
        self.assertEqual(len(packet["vexilconn.refused_tag"]), 1)


def main():
    global DISSECTOR
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    DISSECTOR = os.path.abspath(sys.argv.pop(1))
    if shutil.which(TSHARK) is None:
        sys.exit("%s not found: scripts/setup installs tshark" % TSHARK)
    find_tshark_command()
    unittest.main()


if __name__ == "__main__":
    main()
