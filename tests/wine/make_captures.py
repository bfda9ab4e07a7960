#!/usr/bin/env python3
"""Writes the test captures (classic pcap, Ethernet) that the packet stand-in replays.

    python3 make_captures.py OUTDIR            # bittorrent.pcap relayed.pcap smb.pcap plain.pcap
    python3 make_captures.py --fuzz-seeds DIR  # seed inputs for fuzz_capture_batch

Everything is built here from scratch, deterministically; no capture is downloaded.

- bittorrent.pcap: ordinary web traffic, then a BitTorrent peer handshake and a tracker
  announce.
- relayed.pcap: a client sends a request in absolute form to a proxy station, and the
  proxy forwards it in origin form to the gateway: one request head between two
  different pairs of stations, among other traffic.
- smb.pcap: SMB and NetBIOS traffic in which the same request heads pass between
  several pairs of stations; it must never count as relayed.
- plain.pcap: ordinary web traffic between the host and the gateway only.
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


CAPTURES = {"bittorrent.pcap": bittorrent, "relayed.pcap": relayed, "smb.pcap": smb,
            "plain.pcap": plain}


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


def write_fuzz_seeds(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name, make in CAPTURES.items():
        batch = bpf_batch(make()[:80])
        # fuzz_capture_batch input: mode byte, claimed length, batch bytes
        with open(os.path.join(outdir, name.replace(".pcap", "")), "wb") as f:
            f.write(b"\0" + struct.pack("<I", len(batch)) + batch)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--fuzz-seeds":
        write_fuzz_seeds(sys.argv[2])
    elif len(sys.argv) == 2:
        for path in write_all(sys.argv[1]):
            print(path)
    else:
        sys.exit(__doc__)
