"""Daemons that go away in the middle of a call, or speak garbage, do not
disturb pbb-sim: the switch keeps its state and the next daemon is
served."""

import struct

import harness

REPLY = 102
SUBSCRIBE, PING, RECORDS = 1, 14, 15
L2VPN_EVENTS = 4


def message(kind, payload):
    return struct.pack("<IHH", len(payload), kind, 0) + payload


def closed_by_simulator(s):
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True


def test_daemons_gone_mid_call_or_speaking_garbage_leave_the_simulator_serving(system):
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
    assert closed_by_simulator(s)
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
