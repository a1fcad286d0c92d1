"""What the service units rely on, with the real processes: both programs
tell the service manager they are ready through NOTIFY_SOCKET once they
serve (Type=notify), and the daemon unit's KillSignal, sent the way the
service manager sends it (kill, no queued value), stops the daemon the
orderly way, as `pbbctl stop` does."""

import os
import signal
import socket

import harness

UNITS = os.path.join(os.path.dirname(__file__), "..", "..", "dist", "systemd")


def unit_setting(unit, key):
    with open(os.path.join(UNITS, unit + ".in")) as f:
        values = [line.split("=", 1)[1].strip() for line in f if line.startswith(key + "=")]
    assert len(values) == 1, f"{unit}: {key}= {values}"
    return values[0]


def signal_number(name):
    """A signal as systemd names it: SIGTERM, SIGRTMIN+1."""
    name = name.removeprefix("SIG")
    if name.startswith("RTMIN+"):
        return signal.SIGRTMIN + int(name[len("RTMIN+"):])
    return getattr(signal, "SIG" + name)


def requests_served(system):
    """The platform calls pbb-sim served, once no daemon is connected."""
    harness.wait_until("pbb-sim noticing the daemon left", lambda: not system.stats()["daemon"]["connected"])
    return system.stats()["requests"]


def test_kill_signal_of_the_unit_stops_the_daemon_as_pbbctl_stop_does(system):
    system.start_sim()
    # The shutdown sequence makes platform calls; an immediate exit makes none.
    daemon = system.start_daemon()
    before = system.stats()["requests"]
    system.ctl("stop", "--value", "7")
    assert daemon.wait() == 0
    assert requests_served(system) == before

    daemon = system.start_daemon()
    before = system.stats()["requests"]
    assert system.stop_daemon() == 0
    orderly = requests_served(system) - before
    assert orderly > 0

    daemon = system.start_daemon()
    before = system.stats()["requests"]
    os.kill(daemon.pid, signal_number(unit_setting("pbbd.service", "KillSignal")))
    assert daemon.wait() == 0
    system.daemon = None
    assert requests_served(system) - before == orderly


def test_both_programs_report_readiness_once_they_serve(system):
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

    daemon = system.start_daemon()
    assert notify.recv(256).decode() == f"READY=1\nMAINPID={daemon.pid}\n"
    assert system.ctl("status") == {"running": True, "ready": True, "pid": daemon.pid,
                                    "status_file": os.path.join(system.run_dir, "pbbd.status"),
                                    "packet_socket": "open"}

    assert system.stop_daemon() == 0
    assert sim.stop() == 0
    assert notify.recv(256).decode() == "STOPPING=1\n"
