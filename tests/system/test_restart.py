"""pbb-sim keeps the switch's state while the daemon stops, crashes and
starts again, and serves each new daemon."""

import harness

def served(system, daemon, sessions):
    st = system.stats()
    assert st["daemon"] == {"connected": True, "pid": daemon.pid, "session": sessions}, st
    assert st["sessions"] == sessions, st


def test_switch_state_is_unchanged_across_daemon_restarts_and_crashes(system):
    system.start_sim()
    first = system.start_daemon()
    served(system, first, 1)

    # Changes made while the daemon runs belong to the switch.
    for words in (["link", "down", "eth-1/0/2"],
                  ["vlan", "trunk", "eth-2/0/1", "100-120"],
                  ["vsi", "add", "9", "vsi-new", "9999"],
                  ["vsi", "down", "vsi-green"],
                  ["slot", "remove", "3"],
                  ["stp", "state", "eth-1/0/1", "105", "discarding"],
                  ["l2vpn", "limits", "--total", "500"]):
        system.simctl(*words)
    before = system.switch_state()
    ports = {i["name"]: i for i in before["interfaces"]["interfaces"]}
    assert ports["eth-1/0/2"]["linkUp"] is False
    assert ports["eth-3/0/1"]["present"] is False
    assert {v["name"] for v in before["vsis"]["vsis"]} >= {"vsi-new", "vsi-green"}

    # Orderly stop: the switch stays as it was, with nobody connected.
    assert system.stop_daemon() == 0
    harness.wait_until("pbb-sim noticing the daemon left", lambda: not system.stats()["daemon"]["connected"])
    assert system.switch_state() == before

    second = system.start_daemon()
    served(system, second, 2)
    assert system.switch_state() == before

    # A crash: the same.
    system.kill_daemon()
    third = system.start_daemon()
    served(system, third, 3)
    assert system.switch_state() == before

    log = system.log()
    for d in (first, second, third):
        assert f"platform[{d.pid}] SWITCH info: connected to the simulated switch" in log
        assert f"daemon pid {d.pid} connected" in log
    assert f"daemon pid {first.pid} left" in log and f"daemon pid {second.pid} left" in log
