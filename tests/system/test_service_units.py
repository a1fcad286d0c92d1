"""What the service units rely on, with the real processes: both programs
tell the service manager they are ready through NOTIFY_SOCKET once they
serve (Type=notify), and the daemon unit's KillSignal, sent the way the
service manager sends it (kill, no queued value), stops the daemon the
orderly way, as `pbbctl stop` does."""

import os
import signal
import socket

import harness
import test_install

UNITS = os.path.join(os.path.dirname(__file__), "..", "..", "dist", "systemd")


def test_both_programs_report_readiness_and_the_units_kill_signal_stops_the_daemon_as_pbbctl_stop_does(system):
    where = os.path.join(system.dir, "notify")
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    system.on_cleanup(notify.close)
    notify.bind(where)
    notify.settimeout(harness.DEADLINE)
    system.env["NOTIFY_SOCKET"] = where

    sim = system.start_sim()
    assert notify.recv(256).decode() == f"READY=1\nMAINPID={sim.pid}\n"
    # Told after its sockets listen: the control socket answers now.
    assert system.stats()["daemon"] == {"connected": False}


    def served_while_stopping(stop):
        """The platform calls pbb-sim served from before stop(daemon) until it notices the daemon left."""
        daemon = system.start_daemon()
        assert notify.recv(256).decode() == f"READY=1\nMAINPID={daemon.pid}\n"
        assert system.ctl("status") == {"running": True, "ready": True, "pid": daemon.pid,
                                        "status_file": os.path.join(system.run_dir, "pbbd.status"),
                                        "packet_socket": "open", "interface_events": "open",
                                        "vlan_events": "open", "age_socket": "open"}
        # Ready, the daemon still ends its first batch with a request of
        # its own: counted from then on, only the stop's requests count.
        system.wait_refresh_closed("the daemon's first batch done")
        before = system.stats()["requests"]
        assert stop(daemon) == 0
        system.daemon = None
        harness.wait_until("pbb-sim noticing the daemon left", lambda: not system.stats()["daemon"]["connected"])
        return system.stats()["requests"] - before

    # The shutdown sequence makes platform calls; an immediate exit makes none.
    assert served_while_stopping(lambda d: (system.ctl("stop", "--value", "7"), d.wait())[1]) == 0
    orderly = served_while_stopping(lambda d: system.stop_daemon())
    assert orderly > 0
    # The signal as systemd names it: SIGTERM, SIGRTMIN+1.
    [name] = test_install.unit_settings(os.path.join(UNITS, "pbbd.service.in"))["KillSignal"]
    base, _, offset = name.partition("+")
    kill = getattr(signal, base) + int(offset or 0)
    assert served_while_stopping(lambda d: os.kill(d.pid, kill) or d.wait()) == orderly
    assert sim.stop() == 0
    assert notify.recv(256).decode() == "STOPPING=1\n"
