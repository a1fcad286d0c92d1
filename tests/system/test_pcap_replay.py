"""A pcap written by one run of the simulator and replayed by another gives
the same frames at the packet socket; the pcap files are ones scapy reads,
and a pcap scapy wrote replays with scapy's fields."""

from scapy.contrib.spbm import SPBM
from scapy.layers.l2 import Dot1AD, Dot1Q, Ether
from scapy.packet import Raw
from scapy.utils import rdpcap, wrpcap

import harness


def test_frames_recorded_by_one_run_replay_the_same_in_another(system, tmp_path, monkeypatch):
    pcap = str(tmp_path / "burst.pcap")
    system.start_sim()
    reader = system.start_pktread("--pbb-port", 2, "--count", 6, "--timeout", 15)
    system.simctl("frame", "burst", "eth-1/0/2", 6, "--isid", 10010, "--bvlan", 100, "--bsa", "02:00:00:00:10:fe",
                  "--cda", "00:00:5e:00:53:21", "--csa", "00:00:5e:00:53:22", "--pcap-out", pcap)
    first = system.read_frames(reader)
    assert len({f["bsa"] for f in first}) == 6
    assert {(f["ifIndex"], f["bvlan"], f["isid"]) for f in first} == {(2, 100, 10010)}

    # the file is a capture any tool reads: scapy finds the same frames in it
    written = rdpcap(pcap)
    assert [p[Ether].src for p in written] == [f["bsa"] for f in first]
    assert all(p[SPBM].isid == 10010 and p[Dot1AD].vlan == 100 for p in written)

    # A second simulator run of its own (run and state directory).
    second = harness.System()
    system.on_cleanup(second.cleanup)
    second.start_sim()
    reader = second.start_pktread("--pbb-port", 2, "--count", 6, "--timeout", 15)
    # a relative path: pbb-simctl's working directory is not pbb-sim's
    monkeypatch.chdir(tmp_path)
    second.simctl("frame", "pcap", "eth-1/0/2", "burst.pcap")
    assert second.read_frames(reader) == first
    assert second.stats()["frames"]["to_cpu"] == 6

    # A pcap scapy wrote replays with scapy's fields.
    frames = [Ether(dst="01:1e:83:00:27:24", src="02:00:00:00:20:01") / Dot1AD(vlan=107) / SPBM(isid=10020) /
              Ether(dst="00:00:5e:00:53:31", src="00:00:5e:00:53:32") / Raw(b"one"),
              Ether(dst="02:00:00:00:20:99", src="02:00:00:00:20:02") / Dot1Q(vlan=108) / SPBM(isid=10030) /
              Ether(dst="00:00:5e:00:53:33", src="00:00:5e:00:53:34") / Raw(b"two")]
    wrpcap(str(tmp_path / "scapy.pcap"), frames)
    reader = second.start_pktread("--pbb-port", 4, "--count", 2, "--timeout", 15)
    second.simctl("frame", "pcap", "eth-2/0/1", "scapy.pcap")
    got = second.read_frames(reader)
    want = [(4, 107, "02:00:00:00:20:01", "01:1e:83:00:27:24", 10020, "00:00:5e:00:53:31", "00:00:5e:00:53:32"),
            (4, 108, "02:00:00:00:20:02", "02:00:00:00:20:99", 10030, "00:00:5e:00:53:33", "00:00:5e:00:53:34")]
    assert [(g["ifIndex"], g["bvlan"], g["bsa"], g["bda"], g["isid"], g["cda"], g["csa"]) for g in got] == want
