#!/usr/bin/env python3
"""Writes the test captures (classic pcap, Ethernet) that the packet stand-in replays.

    python3 make_captures.py OUTDIR            # every capture below, in every framing
    python3 make_captures.py --fuzz-seeds DIR  # seed inputs for fuzz_capture_batch

Everything is built here from scratch, deterministically; no capture is downloaded.
Each capture comes in three framings: plain IPv4 over Ethernet (NAME.pcap), as the
access adapter carries it on a PPPoE link (NAME-pppoe.pcap: the session's discovery
first, then every frame as a PPPoE session frame, with the link's LCP echoes among
them), and with one 802.1Q tag (NAME-vlan.pcap).

- bittorrent.pcap: ordinary web traffic, then a BitTorrent peer handshake and a tracker
  announce.
- relayed.pcap: a client sends a request in absolute form to a proxy station, and the
  proxy forwards it in origin form to the gateway: one request head between two
  different pairs of stations, among other traffic.
- smb.pcap: SMB and NetBIOS traffic in which the same request heads pass between
  several pairs of stations; it must never count as relayed.
- plain.pcap: ordinary web traffic between the host and the gateway only.
- relayed-then-bittorrent.pcap: relayed.pcap, then bittorrent.pcap: a relayed
  request comes before the BitTorrent handshake.
"""

import os
import struct
import sys

HOST = bytes.fromhex("02fc00000001")
GATEWAY = bytes.fromhex("02fc000000fe")
PROXY = bytes.fromhex("02fc00000010")
CLIENT = bytes.fromhex("02fc00000020")
FILESERVER = bytes.fromhex("02fc00000030")
IP = {HOST: "192.0.2.2", GATEWAY: "192.0.2.254", PROXY: "192.0.2.16", CLIENT: "192.0.2.32",
      FILESERVER: "192.0.2.48"}


def _ip(text):
    return bytes(int(p) for p in text.split("."))


def _checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return (~s) & 0xFFFF


def tcp_frame(src, dst, sport, dport, payload=b"", seq=1, flags=0x18, src_ip=None, dst_ip=None):
    """Ethernet + IPv4 (no options) + TCP (no options) with valid checksums."""
    sip, dip = _ip(src_ip or IP[src]), _ip(dst_ip or IP[dst])
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq, 1, 5 << 4, flags, 64240, 0, 0) + payload
    pseudo = sip + dip + struct.pack("!BBH", 0, 6, len(tcp))
    tcp = tcp[:16] + struct.pack("!H", _checksum(pseudo + tcp)) + tcp[18:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 1, 0x4000, 64, 6, 0, sip, dip)
    ip = ip[:10] + struct.pack("!H", _checksum(ip)) + ip[12:]
    frame = dst + src + b"\x08\x00" + ip + tcp
    return frame + b"\0" * max(0, 60 - len(frame))


def udp_frame(src, dst, sport, dport, payload):
    sip, dip = _ip(IP[src]), _ip(IP[dst])
    udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 1, 0, 64, 17, 0, sip, dip)
    ip = ip[:10] + struct.pack("!H", _checksum(ip)) + ip[12:]
    frame = dst + src + b"\x08\x00" + ip + udp
    return frame + b"\0" * max(0, 60 - len(frame))


def write_pcap(path, frames, start=1700000000):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, frame in enumerate(frames):
            f.write(struct.pack("<IIII", start + i // 100, (i % 100) * 10000, len(frame), len(frame)))
            f.write(frame)


def _opaque(n, size):
    """Deterministic bytes standing for encrypted payload."""
    out, x = bytearray(), (n * 2654435761 + 12345) & 0xFFFFFFFF
    for _ in range(size):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def web_traffic(count, first_port=50000):
    """Requests from the host to the gateway and their answers: one conversation."""
    frames = []
    for i in range(count):
        port = first_port + i
        request = (b"GET /page%d.html HTTP/1.1\r\nHost: www.example.com\r\n"
                   b"User-Agent: test\r\nAccept: */*\r\n\r\n" % i)
        frames.append(tcp_frame(HOST, GATEWAY, port, 80, b"", flags=0x02))
        frames.append(tcp_frame(GATEWAY, HOST, 80, port, b"", flags=0x12))
        frames.append(tcp_frame(HOST, GATEWAY, port, 80, request))
        frames.append(tcp_frame(GATEWAY, HOST, 80, port,
                                b"HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\n" + _opaque(i, 900)))
        frames.append(tcp_frame(HOST, GATEWAY, port, 80, b"", flags=0x10))
        frames.append(tcp_frame(HOST, GATEWAY, port + 1000, 443, _opaque(i + 77, 600)))
        frames.append(tcp_frame(GATEWAY, HOST, 443, port + 1000, _opaque(i + 99, 1400)))
    frames.append(udp_frame(HOST, GATEWAY, 53000, 53, b"\x12\x34\x01\x00\x00\x01" + b"\0" * 6 +
                            b"\x07example\x03com\x00\x00\x01\x00\x01"))
    return frames


def bittorrent():
    handshake = (b"\x13BitTorrent protocol" + b"\0" * 8 + _opaque(1, 20) + b"-TR2940-" +
                 _opaque(2, 12))
    announce = (b"GET /announce?info_hash=%12%34%56&peer_id=-TR2940-abcdefgh&port=51413"
                b"&uploaded=0&downloaded=0&left=1000 HTTP/1.1\r\nHost: tracker.example.org\r\n\r\n")
    # The handshake comes before 20 larger frames have been seen, so the receive
    # thread's queue is not full before it, however the batches are cut (frames
    # after the one that fills the queue are not examined).
    frames = web_traffic(2)
    frames.append(tcp_frame(HOST, GATEWAY, 51413, 6881, b"", flags=0x02))
    frames.append(tcp_frame(HOST, GATEWAY, 51413, 6881, handshake))
    frames.append(tcp_frame(HOST, GATEWAY, 51414, 80, announce))
    frames += web_traffic(5, 52000)
    return frames


def relayed():
    # The proxy request and its forwarded copy land in the capture's first queue of
    # 20 larger frames, several places apart, whichever adapter is read first.
    to_proxy = (b"GET http://www.example.org/news/today.html HTTP/1.1\r\n"
                b"Host: www.example.org\r\nProxy-Connection: keep-alive\r\n\r\n")
    forwarded = (b"GET /news/today.html HTTP/1.1\r\nHost: www.example.org\r\n"
                 b"Via: 1.1 proxy\r\n\r\n")
    frames = []
    for i in range(3):
        frames.append(tcp_frame(HOST, GATEWAY, 50100 + i, 443, _opaque(i, 700)))
    frames.append(tcp_frame(CLIENT, PROXY, 50200, 3128, to_proxy))
    for i in range(4):
        frames.append(tcp_frame(GATEWAY, HOST, 443, 50100 + i, _opaque(i + 10, 1200)))
        frames.append(tcp_frame(HOST, GATEWAY, 50100 + i, 443, b"", flags=0x10))  # not queued
    frames.append(tcp_frame(PROXY, GATEWAY, 50300, 80, forwarded))
    frames += web_traffic(6, 51000)
    return frames


def smb():
    frames = []
    for i in range(30):
        # The same session request and SMB negotiate, from several stations to several.
        pairs = [(HOST, FILESERVER), (FILESERVER, CLIENT), (CLIENT, PROXY), (PROXY, HOST)]
        src, dst = pairs[i % len(pairs)]
        negotiate = (b"\x00\x00\x00\x85\xffSMBr" + b"\0" * 27 + b"\x00\x62\x00\x02PC NETWORK PROGRAM 1.0"
                     b"\x00\x02LANMAN1.0\x00\x02NT LM 0.12\x00" + _opaque(5, 40))
        frames.append(tcp_frame(src, dst, 49152 + i, 445, negotiate))
        session = b"\x81\x00\x00\x44 " + b"CKFDENECFDEFFCFGEFFCCACACACACACA\x00 " + b"EOEBEJEPAA" * 3
        frames.append(tcp_frame(src, dst, 49300 + i, 139, session + _opaque(i, 60)))
        frames.append(tcp_frame(dst, src, 139, 49300 + i, session + _opaque(i, 60)))
        frames.append(udp_frame(src, dst, 137, 137, b"\x80\x01\x00\x10" + b"\0" * 46))
    return frames


def plain():
    return web_traffic(12)


def relayed_then_bittorrent():
    return relayed() + bittorrent()


PPPOE_SESSION = 0x2A17


def _pppoe_header(ethertype, code, session, payload):
    return struct.pack("!HBBHH", ethertype, 0x11, code, session, len(payload)) + payload


def _pad(frame):
    return frame + b"\0" * max(0, 60 - len(frame))


def pppoe_session(frame, session=PPPOE_SESSION):
    """An IPv4 frame as the PPPoE session frame that carries it: the same addresses,
    EtherType 0x8864, the PPPoE header, PPP protocol 0x0021, the IPv4 packet."""
    assert frame[12:14] == b"\x08\x00", "only IPv4 frames are carried"
    ip = frame[14:14 + struct.unpack("!H", frame[16:18])[0]]  # without Ethernet padding
    return _pad(frame[:12] + _pppoe_header(0x8864, 0x00, session, b"\x00\x21" + ip))


def _discovery(dst, src, code, session, tags):
    payload = b"".join(struct.pack("!HH", t, len(v)) + v for t, v in tags)
    return _pad(dst + src + _pppoe_header(0x8863, code, session, payload))


def _lcp_echo(dst, src, code, ident):
    lcp = struct.pack("!BBHI", code, ident, 8, 0x5A5A0000 + ident)
    return _pad(dst + src + _pppoe_header(0x8864, 0x00, PPPOE_SESSION, b"\xc0\x21" + lcp))


def pppoe_link(frames):
    """The frames as the access adapter sees them on a PPPoE link: the discovery
    (PADI, PADO, PADR, PADS) that opens the session, then every frame inside the
    session, with an LCP echo request and reply every 16 frames."""
    broadcast = b"\xff" * 6
    host_uniq = (0x0103, b"\x00\x00\x13\x37")
    out = [
        _discovery(broadcast, HOST, 0x09, 0, [(0x0101, b""), host_uniq]),
        _discovery(HOST, GATEWAY, 0x07, 0, [(0x0101, b""), (0x0102, b"BRAS-1"), host_uniq]),
        _discovery(GATEWAY, HOST, 0x19, 0, [(0x0101, b""), host_uniq]),
        _discovery(HOST, GATEWAY, 0x65, PPPOE_SESSION, [(0x0101, b""), host_uniq]),
    ]
    for i, frame in enumerate(frames):
        if i % 16 == 0:
            out.append(_lcp_echo(HOST, GATEWAY, 9, i // 16 & 0xFF))
            out.append(_lcp_echo(GATEWAY, HOST, 10, i // 16 & 0xFF))
        out.append(pppoe_session(frame))
    return out


def vlan_tagged(frame, vlan=7):
    """The frame with one 802.1Q tag after its addresses."""
    return frame[:12] + struct.pack("!HH", 0x8100, vlan) + frame[12:]


BASE_CAPTURES = {"bittorrent": bittorrent, "relayed": relayed, "smb": smb, "plain": plain,
                 "relayed-then-bittorrent": relayed_then_bittorrent}
FRAMINGS = {"": lambda frames: frames, "-pppoe": pppoe_link,
            "-vlan": lambda frames: [vlan_tagged(f) for f in frames]}
CAPTURES = {f"{name}{suffix}.pcap": (lambda make=make, frame=frame: frame(make()))
            for name, make in BASE_CAPTURES.items() for suffix, frame in FRAMINGS.items()}


def write_all(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name, make in CAPTURES.items():
        write_pcap(os.path.join(outdir, name), make())
    return [os.path.join(outdir, n) for n in CAPTURES]


def bpf_batch(frames):
    """Frames as one driver batch: 20-byte bpf_hdr, captured bytes, 4-byte alignment."""
    out = bytearray()
    for i, frame in enumerate(frames):
        out += struct.pack("<iiIIH2x", 1700000000, i, len(frame), len(frame), 20) + frame
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def _record(frame, captured, wire):
    """One bpf record whose header claims `captured` and `wire` bytes."""
    data = frame[:captured]
    out = struct.pack("<iiIIH2x", 1700000000, 0, captured, wire, 20) + data
    return out + b"\0" * (-len(out) % 4)


def write_fuzz_seeds(outdir):
    os.makedirs(outdir, exist_ok=True)
    seeds = {}
    framed_seeds = ("bittorrent-pppoe", "bittorrent-vlan", "relayed-pppoe", "relayed-vlan",
                    "relayed-then-bittorrent-pppoe")
    for name, make in CAPTURES.items():
        name = name.replace(".pcap", "")
        if name in BASE_CAPTURES and name != "relayed-then-bittorrent" or name in framed_seeds:
            # fuzz_capture_batch input: mode byte, claimed length, batch bytes
            seeds[name] = b"\0" + bpf_batch(make()[:80])
    # Encapsulations cut short or bent out of shape, each ending its batch.
    handshake = next(f for f in bittorrent() if b"BitTorrent protocol" in f)
    framed = {"pppoe": pppoe_session(handshake), "vlan": vlan_tagged(handshake),
              "vlan-pppoe": vlan_tagged(pppoe_session(handshake))}
    for name, frame in framed.items():
        for cut in (13, 19, 21, 25, 35):
            seeds[f"{name}-cut{cut}"] = b"\0" + _record(frame, cut, len(frame))
    overlong = bytearray(framed["pppoe"])
    overlong[18:20] = struct.pack("!H", len(overlong))  # PPPoE length past the frame
    seeds["pppoe-overlong"] = b"\0" + _record(bytes(overlong), len(overlong), len(overlong))
    seeds["double-tag"] = b"\0" + bpf_batch([vlan_tagged(framed["vlan"])])
    # Looking for one kind only (mode bits 1 and 2).
    seeds["relayed-pppoe-relayed-only"] = b"\x02" + seeds["relayed-pppoe"][1:]
    seeds["bittorrent-pppoe-bittorrent-only"] = b"\x04" + seeds["bittorrent-pppoe"][1:]
    for name, data in seeds.items():
        batch = data[1:]
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data[:1] + struct.pack("<I", len(batch)) + batch)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--fuzz-seeds":
        write_fuzz_seeds(sys.argv[2])
    elif len(sys.argv) == 2:
        for path in write_all(sys.argv[1]):
            print(path)
    else:
        sys.exit(__doc__)
