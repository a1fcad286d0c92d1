"""pbb-sim as a backbone edge bridge over two veth pairs: customer frame encapsulated, backbone frame
decapsulated, the remote bridge learned by pbbd from the CPU copy, then unicast to, then aged out of pbbd."""

import os
import socket
import struct
import subprocess

import pytest

from harness import wait_until

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="network namespaces and veth pairs need root")

OWN, R = "02:00:00:00:00:aa", "02:00:00:00:bb:01"
H1, H2 = "00:00:5e:00:53:01", "00:00:5e:00:53:02"
GROUP = "01:1e:83:00:27:1a"  # I-SID 10010, vsi-red


def mac(text):
    return bytes.fromhex(text.replace(":", ""))


def customer(da, sa, note):
    return mac(da) + mac(sa) + b"\x88\xb5" + note.ljust(46, b".")


def encap(bda, bsa, inner):
    return mac(bda) + mac(bsa) + struct.pack("!HHHI", 0x88A8, 100, 0x88E7, 10010) + inner


def received(s, n):
    """The next n frames with the test's EtherType 0x88b5, the tag the kernel took off put back."""
    got = []

    def more():
        try:
            data, anc, _, addr = s.recvmsg(65535, socket.CMSG_SPACE(20))
        except BlockingIOError:
            return len(got) >= n
        for level, kind, aux in anc:
            status, _, _, _, _, tci, tpid = struct.unpack("IIIHHHH", aux[:20])
            if (level, kind) == (263, 8) and (status & 0x10 or tci):  # PACKET_AUXDATA, a tag taken off
                data = data[:12] + struct.pack("!HH", tpid if status & 0x40 else 0x8100, tci) + data[12:]
        if addr[2] != socket.PACKET_OUTGOING and b"\x88\xb5" in data:
            got.append(data.hex())
        return len(got) >= n

    wait_until(f"{n} frames", more)
    return got


def test_customer_frames_cross_the_backbone_both_ways(system):
    ns, tag = f"pbbdp-{os.getpid()}", os.getpid() % 100000
    subprocess.run(["ip", "netns", "add", ns], check=True)
    system.on_cleanup(lambda: subprocess.run(["ip", "netns", "del", ns], check=False))
    ends = {}
    for role in ("c", "b"):
        sim_end, mine = f"pd{role}s{tag}", f"pd{role}p{tag}"
        system.on_cleanup(lambda mine=mine: subprocess.run(["ip", "link", "del", mine], check=False))
        subprocess.run(["ip", "link", "add", mine, "type", "veth", "peer", "name", sim_end, "netns", ns], check=True)
        # No IPv6 chatter on the circuit or the backbone.
        subprocess.run(["sysctl", "-qw", f"net.ipv6.conf.{mine}.disable_ipv6=1"], check=True)
        subprocess.run(["ip", "link", "set", mine, "up"], check=True)
        subprocess.run(["ip", "-n", ns, "link", "set", sim_end, "up"], check=True)
        s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))
        system.on_cleanup(s.close)
        s.setsockopt(263, 8, 1)
        s.bind((mine, 0))
        s.setblocking(False)
        ends[role] = (sim_end, s)
    circuit, backbone = ends["c"][1], ends["b"][1]

    system.start_sim()
    system.start_daemon()
    system.simctl("bridge", "mac", OWN)
    system.simctl("ac", "add", "eth-3/0/1", "vsi-red")
    assert system.pbb_vsi("vsi-red", 100, ["eth-1/0/1"])
    system.simctl("link", "bind", ends["c"][0], "eth-3/0/1", "--netns", ns)
    system.simctl("link", "bind", ends["b"][0], "eth-1/0/1", "--netns", ns)

    flood = customer("ff:ff:ff:ff:ff:ff", H1, b"who is there")
    circuit.send(flood)
    assert received(backbone, 1) == [encap(GROUP, OWN, flood).hex()]

    reply = customer(H1, H2, b"here")
    backbone.send(encap(GROUP, R, reply))
    assert received(circuit, 1) == [reply.hex()]
    wait_until("pbbd learns the remote bridge",
               lambda: [(e["bmac"], e["interface"]) for e in system.learned("vsi-red")] == [(R, "eth-1/0/1")])

    unicast = customer(H2, H1, b"to you")
    circuit.send(unicast)
    assert received(backbone, 1) == [encap(R, OWN, unicast).hex()]

    dp = system.simctl("show", "dataplane", json=True)
    vsi = next(v["counters"] for v in dp["vsis"] if v["name"] == "vsi-red")
    assert {k: vsi[k] for k in ("received", "encapsulated", "decapsulated", "unicast", "flooded", "toCpu")} == \
        {"received": 3, "encapsulated": 2, "decapsulated": 1, "unicast": 2, "flooded": 1, "toCpu": 1}
    ports = {p["name"]: p["counters"] for p in dp["ports"]}
    assert (ports["eth-1/0/1"]["transmitted"], ports["eth-3/0/1"]["transmitted"]) == (2, 1)
    assert {(e["mac"], e["ifIndex"], e["bmac"]) for e in dp["customerMacs"]} == {(H1, 7, None), (H2, None, R)}

    system.simctl("bridge", "age", 1)
    wait_until("R aged out of pbbd", lambda: system.learned("vsi-red") == [])
    assert system.simctl("show", "dataplane", json=True)["reports"]["aged"] >= 1
