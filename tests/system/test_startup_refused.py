"""A daemon whose start-up the switch did not serve does not report
readiness: it logs why and ends with status 1. Once the switch takes it,
the next daemon starts as usual."""

import os
import socket
import struct

import harness

SNAPSHOT_END = 103


def hold_daemon_slot(system):
    """Connects to the daemons' socket as a daemon would and reads the
    introduction, so that pbb-sim serves this connection."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(harness.DEADLINE)
    s.connect(os.path.join(system.run_dir, "sim.sock"))
    buf = b""
    while True:
        while len(buf) >= 8:
            length, kind, _ = struct.unpack_from("<IHH", buf)
            if len(buf) < 8 + length:
                break
            buf = buf[8 + length:]
            if kind == SNAPSHOT_END:
                return s
        chunk = s.recv(65536)
        assert chunk, "pbb-sim closed the connection during the introduction"
        buf += chunk


def test_daemon_refused_by_the_switch_fails_start_up_and_the_next_one_starts(system):
    system.start_sim()
    holder = hold_daemon_slot(system)
    system.on_cleanup(holder.close)

    refused = system.start("pbbd", [harness.binary("pbbd")])
    assert refused.wait() == 1, system.describe(refused)
    log = system.log()
    mine = [line for line in log.splitlines() if f"[{refused.pid}]" in line]
    assert any("refused this process: pbb-sim serves another daemon" in line for line in mine), log
    # Start-up ends either in a module whose platform call the switch did not
    # serve (the packet socket) or, when every module came up, in the service
    # manager's refusal to report readiness; both say why.
    failed = [line for line in mine
              if "start-up failed, not reporting readiness" in line or "PBB daemon init failed" in line]
    assert len(failed) == 1, log
    assert not any("start-up complete" in line for line in mine), log

    status = system.pbbctl("status", "--json", check=False)
    assert status.json().get("ready") is False, status
    assert system.stats()["refused"] >= 1

    # The switch is free again: a daemon starts and reports ready.
    holder.close()
    harness.wait_until("pbb-sim noticing the holder left", lambda: not system.stats()["daemon"]["connected"])
    daemon = system.start_daemon()
    assert system.stats()["daemon"]["pid"] == daemon.pid
    assert f"platform[{daemon.pid}] SERVICE info: pid {daemon.pid} reports start-up complete" in system.log()
