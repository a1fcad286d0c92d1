"""Daemons that go away in the middle of a call, or speak garbage, do not
disturb pbb-sim: the switch keeps its state and the next daemon is
served. The packet service going away, or pbb-sim killed and started
again, stops the daemon's learning only until its packet socket opens
again."""

import signal
import struct

import harness

REPLY = 102
SUBSCRIBE, PING, RECORDS = 1, 14, 15
L2VPN_EVENTS = 4


def message(kind, payload):
    return struct.pack("<IHH", len(payload), kind, 0) + payload


def packet_socket(system):
    return system.ctl("status").get("packet_socket")


def learned_from_a_frame(system, bsa):
    system.simctl("frame", "send", "eth-1/0/1", "--isid", 10010, "--bvlan", 100, "--bsa", bsa)
    harness.wait_until(f"{bsa} learned", lambda: bsa in {e["bmac"] for e in system.learned("vsi-red")})


def test_daemons_gone_or_speaking_garbage_and_services_gone_leave_the_simulator_and_daemon_serving(system):
    sim = system.start_sim()
    system.simctl("link", "down", "eth-1/0/2")
    before = system.switch_state()

    # Half a request, then gone.
    s = harness.raw_daemon(system)
    s.sendall(message(PING, struct.pack("<I", 1))[:6])
    s.close()

    # Registered as the MAC-in-MAC client, then gone after a flush (not answered)
    # and before the answer to the next call.
    s = harness.raw_daemon(system)
    sub = struct.pack("<IBIIII", 1, L2VPN_EVENTS, 27, 0, 0, 5)
    s.sendall(message(SUBSCRIBE, sub))
    reply = s.recv(16)
    length, kind, _ = struct.unpack_from("<IHH", reply)
    assert kind == REPLY and struct.unpack_from("<II", reply, 8)[1] != 0, reply
    s.sendall(message(RECORDS, struct.pack("<IIBI", 0, 0, 1, 0)) + message(PING, struct.pack("<I", 2)))
    s.close()

    # Garbage.
    s = harness.raw_daemon(system)
    s.sendall(b"GET / HTTP/1.0\r\n\r\n")
    try:
        assert s.recv(1) == b"", "closed by the simulator"
    except ConnectionResetError:
        pass
    s.close()

    # A daemon killed while it runs.
    system.start_daemon()
    system.kill_daemon()

    assert sim.running()
    assert system.switch_state() == before
    st = system.stats()
    assert st["broken"] == 1, st
    assert st["sessions"] == 4, st

    # The next daemon is served; the registration of the one that vanished ended with it.
    daemon = system.start_daemon()
    st = system.stats()
    assert st["daemon"]["pid"] == daemon.pid, st
    assert "malformed request" in system.log()

    # The packet service away and back, then pbb-sim killed and started
    # again: learning resumes once the packet socket opens again.
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1"])
    system.simctl("service", "down", "packet")
    harness.wait_until("the packet socket closed", lambda: packet_socket(system) == "closed")
    system.simctl("service", "up", "packet")
    harness.wait_until("the packet socket open again", lambda: packet_socket(system) == "open")
    learned_from_a_frame(system, "00:bb:00:00:00:02")

    system.sim.stop(signal.SIGKILL)
    harness.wait_until("the packet socket closed", lambda: packet_socket(system) == "closed")
    system.start_sim()
    harness.wait_until("the packet socket open again", lambda: packet_socket(system) == "open")
    # The new switch has vsi-red's multicast entry once the daemon has
    # registered with its L2VPN module again and resynchronised.
    harness.wait_until("vsi-red programmed again",
                       lambda: system.simctl("show", "multicast", json=True)["multicast"])
    learned_from_a_frame(system, "00:bb:00:00:00:03")
