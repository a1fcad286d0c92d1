"""Frames built by scapy, sent on a veth pair whose other end is bound to a
simulated port, come out of the platform's packet socket as the daemon reads
it (pbb-pktread): ingress ifIndex (a member port's aggregate), B-VLAN, B-SA, B-DA, I-SID, C-DA, C-SA and
the rest of the customer frame, for 0x88A8 and 0x8100 B-tags alike."""

import os
import subprocess

import pytest
from scapy.contrib.spbm import SPBM
from scapy.layers.l2 import Dot1AD, Dot1Q, Ether
from scapy.layers.inet import IP, UDP
from scapy.packet import Raw

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="network namespaces and veth pairs need root")

# Writes the frames given as hex lines on stdin to a raw packet socket on
# the interface named in argv[1]; runs inside the namespace.
SENDER = """
import socket, sys
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind((sys.argv[1], 0))
for line in sys.stdin.read().split():
    s.send(bytes.fromhex(line))
"""

def pbb(bda, bsa, tag, isid, cda, csa, inner):
    return Ether(dst=bda, src=bsa) / tag / SPBM(isid=isid) / Ether(dst=cda, src=csa) / inner


def expected(frame, if_index):
    """What the daemon must read for a frame scapy built, from scapy's own fields."""
    tag = frame[Dot1AD] if Dot1AD in frame else frame[Dot1Q]
    raw = bytes(frame)
    return {
        "ifIndex": if_index,
        "bvlan": tag.vlan,
        "bda": frame[Ether].dst,
        "bsa": frame[Ether].src,
        "isid": frame[SPBM].isid,
        "cda": frame[SPBM].payload.dst,
        "csa": frame[SPBM].payload.src,
        # the customer frame after C-SA: 12 MACs, B-tag, I-Tag EtherType, flags and I-SID, C-DA, C-SA
        "payload": raw[12 + 4 + 2 + 4 + 12:].hex(),
    }


def test_scapy_frames_reach_the_packet_socket_with_their_fields(system):
    system.start_sim()
    # A network namespace of its own with a veth pair sim<->peer, both up;
    # removed (with the pair) at clean-up.
    ns, sim_end, peer_end = f"pbbt-{os.getpid()}", f"pbs{os.getpid() % 100000}", f"pbp{os.getpid() % 100000}"
    subprocess.run(["ip", "netns", "add", ns], check=True)
    system.on_cleanup(lambda: subprocess.run(["ip", "netns", "del", ns], check=False))
    for cmd in (["link", "add", sim_end, "type", "veth", "peer", "name", peer_end],
                ["link", "set", sim_end, "up"], ["link", "set", peer_end, "up"]):
        subprocess.run(["ip", "-n", ns] + cmd, check=True)
    # A member port: its frames carry the aggregate's ifIndex.
    ifs = {i["name"]: i for i in system.simctl("show", "interfaces", json=True)["interfaces"]}
    member, agg = ifs["eth-1/0/3"]["ifIndex"], ifs["agg-1"]["ifIndex"]
    assert ifs["eth-1/0/3"]["aggregate"] == agg
    # What does not exist, or is no port, is not bound.
    r = system.simctl("link", "bind", "pbb-no-such0", "eth-1/0/2", check=False)
    assert r.code != 0 and "pbb-no-such0" in r.err, r
    r = system.simctl("link", "bind", "lo", "agg-1", check=False)
    assert r.code == 2 and "is an aggregate, not a port" in r.err, r
    assert system.stats()["links"] == []
    system.simctl("link", "bind", sim_end, member, "--netns", ns)
    frames = [
        pbb("01:1e:83:00:27:1a", "02:00:00:00:aa:01", Dot1AD(vlan=100, prio=3), 10010,
            "00:00:5e:00:53:01", "00:00:5e:00:53:02", IP(dst="192.0.2.1") / UDP(dport=9) / Raw(b"first")),
        pbb("02:00:00:00:bb:02", "02:00:00:00:aa:02", Dot1Q(vlan=4000), 10020,
            "00:00:5e:00:53:03", "00:00:5e:00:53:04", Raw(b"q-tagged backbone")),
        pbb("01:1e:83:ff:ff:fe", "02:00:00:00:aa:03", Dot1AD(vlan=1), 0xFFFFFE,
            "ff:ff:ff:ff:ff:ff", "00:00:5e:00:53:05", Raw(b"\x00" * 46)),
    ]
    # Not I-tagged, so never copied to the CPU: plain IPv4, and a B-tagged
    # frame with another EtherType after the tag.
    noise = [Ether(dst="02:00:00:00:00:09", src="02:00:00:00:00:08") / IP(dst="192.0.2.9") / UDP(dport=9),
             Ether(dst="02:00:00:00:00:09", src="02:00:00:00:00:08") / Dot1AD(vlan=100) / IP(dst="192.0.2.9")]
    reader = system.start_pktread("--pbb-port", member, "--count", len(frames), "--timeout", 15)
    sent = noise[:1] + frames[:2] + noise[1:] + frames[2:]
    subprocess.run(["ip", "netns", "exec", ns, "/usr/bin/python3", "-c", SENDER, peer_end],
                   input="\n".join(bytes(f).hex() for f in sent), text=True, check=True, timeout=20)
    got = system.read_frames(reader)
    assert [{k: g[k] for k in expected(frames[0], agg)} for g in got] == [expected(f, agg) for f in frames]
    assert all(g["etherType"] == 0x88E7 for g in got)
    links = system.stats()["links"]
    assert [(l["linux"], l["port"], l["frames"]) for l in links] == [(sim_end, member, len(frames))]

