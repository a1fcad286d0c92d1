"""pbb-sim as a backbone edge bridge over two veth pairs, one end of each in
a namespace of the test: a customer frame on the attachment circuit leaves
the backbone port encapsulated, a backbone frame comes out on the circuit
decapsulated, the daemon learns the remote bridge from the CPU copy and the
next customer frame goes to it unicast; once the remote bridge falls silent
the line cards' ageing report makes the daemon withdraw it. The counters
are read from `show dataplane --json`."""

import os
import struct
import subprocess

import pytest

from harness import wait_until

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="network namespaces and veth pairs need root")

# Prints "ready" once bound, then the hex of every frame received on the
# interface in argv[1] that carries the test's EtherType 0x88b5, with the
# tag the kernel took off put back.
READER = r"""
import socket, struct, sys
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))
s.setsockopt(263, 8, 1)
s.bind((sys.argv[1], 0))
print("ready", flush=True)
while True:
    data, anc, _, addr = s.recvmsg(65535, socket.CMSG_SPACE(20))
    if addr[2] == socket.PACKET_OUTGOING:
        continue
    for level, kind, aux in anc:
        status, _, _, _, _, tci, tpid = struct.unpack("IIIHHHH", aux[:20])
        if level == 263 and kind == 8 and (status & 0x10 or tci):
            data = data[:12] + struct.pack("!HH", tpid if status & 0x40 else 0x8100, tci) + data[12:]
    if b"\x88\xb5" in data:
        print(data.hex(), flush=True)
"""

SENDER = """
import socket, sys
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind((sys.argv[1], 0))
for line in sys.stdin.read().split():
    s.send(bytes.fromhex(line))
"""

OWN, R = "02:00:00:00:00:aa", "02:00:00:00:bb:01"
H1, H2 = "00:00:5e:00:53:01", "00:00:5e:00:53:02"
GROUP = "01:1e:83:00:27:1a"  # I-SID 10010, vsi-red


def mac(text):
    return bytes.fromhex(text.replace(":", ""))


def customer(da, sa, note):
    return mac(da) + mac(sa) + b"\x88\xb5" + note.ljust(46, b".")


def encap(bda, bsa, bvid, isid, inner):
    return mac(bda) + mac(bsa) + struct.pack("!HHHI", 0x88A8, bvid, 0x88E7, isid) + inner


def test_customer_frames_cross_the_backbone_both_ways(system):
    ns = f"pbbdp-{os.getpid()}"
    subprocess.run(["ip", "netns", "add", ns], check=True)
    system.on_cleanup(lambda: subprocess.run(["ip", "netns", "del", ns], check=False))
    # No IPv6 chatter from the veth ends: the circuit would carry it too.
    subprocess.run(["ip", "netns", "exec", ns, "sysctl", "-qw", "net.ipv6.conf.all.disable_ipv6=1",
                    "net.ipv6.conf.default.disable_ipv6=1"], check=True)
    ends = {}
    for role in ("c", "b"):
        sim_end, peer = f"pd{role}s{os.getpid() % 100000}", f"pd{role}p{os.getpid() % 100000}"
        ends[role] = (sim_end, peer)
        for cmd in (["link", "add", sim_end, "type", "veth", "peer", "name", peer],
                    ["link", "set", sim_end, "up"], ["link", "set", peer, "up"]):
            subprocess.run(["ip", "-n", ns] + cmd, check=True)

    def read(peer):
        p = system.start("reader", ["ip", "netns", "exec", ns, "/usr/bin/python3", "-c", READER, peer])
        wait_until("the reader is bound", lambda: "ready" in p.output())
        return lambda n: wait_until(f"{n} frames on {peer}", lambda: p.output().split()[1:] if
                                    len(p.output().split()) > n else None, describe=system.describe)

    def send(peer, frame):
        subprocess.run(["ip", "netns", "exec", ns, "/usr/bin/python3", "-c", SENDER, peer],
                       input=frame.hex(), text=True, check=True, timeout=20)

    system.start_sim()
    system.start_daemon()
    system.simctl("bridge", "mac", OWN)
    system.simctl("ac", "add", "eth-3/0/1", "vsi-red")
    assert system.pbb_vsi("vsi-red", 100, ["eth-1/0/1"])
    system.simctl("link", "bind", ends["c"][0], "eth-3/0/1", "--netns", ns)
    system.simctl("link", "bind", ends["b"][0], "eth-1/0/1", "--netns", ns)
    on_backbone, on_circuit = read(ends["b"][1]), read(ends["c"][1])

    flood = customer("ff:ff:ff:ff:ff:ff", H1, b"who is there")
    send(ends["c"][1], flood)
    assert on_backbone(1) == [encap(GROUP, OWN, 100, 10010, flood).hex()]

    reply = customer(H1, H2, b"here")
    send(ends["b"][1], encap(GROUP, R, 100, 10010, reply))
    assert on_circuit(1) == [reply.hex()]
    wait_until("pbbd learns the remote bridge",
               lambda: [(e["bmac"], e["interface"]) for e in system.learned("vsi-red")] == [(R, "eth-1/0/1")])

    unicast = customer(H2, H1, b"to you")
    send(ends["c"][1], unicast)
    assert on_backbone(2)[1] == encap(R, OWN, 100, 10010, unicast).hex()

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
