"""A restarted daemon comes back with what it learned and was configured:
its tables are rebuilt from the databases, and after the L2VPN batch the
switch holds exactly what the daemon programmed again. pbb-sim keeps the
switch's state while the daemon stops or crashes, and serves each new
daemon."""

import harness

RED = [f"00:bb:00:00:00:{i:02x}" for i in range(1, 6)]
GREEN = [f"00:cc:00:00:00:{i:02x}" for i in range(1, 4)]


def burst(system, port, macs, isid, bvlan):
    for mac in macs:
        system.simctl("frame", "burst", port, 1, "--isid", isid, "--bvlan", bvlan, "--bsa", mac)


def daemon_entries(system):
    return {(e["vsi"], e["bmac"], e["interface"]) for e in system.learned("--all")}


def configuration(system):
    mc = system.ctl("show", "mc")["multicast"]
    return {m["vsi"]: (m["bvlan"], sorted(m["portNames"])) for m in mc}


def served(system, daemon, sessions):
    st = system.stats()
    assert st["daemon"] == {"connected": True, "pid": daemon.pid, "session": sessions}, st
    assert st["sessions"] == sessions, st


def restarted(system):
    """Starts a daemon and waits for the end of its first batch (the
    refresh window closed); returns what it holds."""
    system.start_daemon()
    system.wait_refresh_closed("the first batch done")
    vsis = {v["index"]: v["name"] for v in system.simctl("show", "vsis", json=True)["vsis"]}
    switch = {(vsis[e["vsi"]], e["bmac"], e["portName"]) for e in system.simctl("show", "unicast", json=True)["unicast"]}
    return daemon_entries(system), switch, configuration(system)


def test_an_orderly_restart_brings_everything_back_and_a_kill_loses_at_most_the_write_behind(system):
    system.start_sim()
    system.simctl("l2vpn", "limits", "--total", 30000, "--per-vsi", 30000)  # read at start-up: room for the burst
    first = system.start_daemon()
    served(system, first, 1)
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1", "eth-2/0/1"])
    system.pbb_vsi("vsi-green", 101, ["eth-1/0/2"])
    system.ctl("uplink", "all", "eth-2/0/2", "on")
    # Changes made while the daemon runs belong to the switch.
    for words in (["link", "down", "eth-2/0/2"], ["vlan", "trunk", "eth-2/0/1", "100-120"],
                  ["vsi", "add", "9", "vsi-new", "9999"], ["slot", "remove", "3"],
                  ["stp", "state", "eth-1/0/1", "105", "discarding"]):
        system.simctl(*words)
    burst(system, "eth-1/0/1", RED, 10010, 100)
    burst(system, "eth-1/0/2", GREEN, 10020, 101)
    want = {("vsi-red", m, "eth-1/0/1") for m in RED} | {("vsi-green", m, "eth-1/0/2") for m in GREEN}
    harness.wait_until("entries learned", lambda: daemon_entries(system) == want)
    config = configuration(system)
    assert set(config) == {"vsi-red", "vsi-green"}
    before = system.switch_state()

    assert system.stop_daemon() == 0
    harness.wait_until("pbb-sim noticing the daemon left", lambda: not system.stats()["daemon"]["connected"])
    assert system.switch_state() == before
    entries, switch, config_after = restarted(system)
    served(system, system.daemon, 2)
    assert entries == want
    assert switch == want
    assert config_after == config
    # The same entries programmed again, without the C-MAC of the frames
    # they were learned from (a batch programs them with a zero one).
    after = system.switch_state()
    for e in before["unicast"]["unicast"]:
        e["cmac"] = "00:00:00:00:00:00"
    assert after == before, "the switch as it was"
    log = system.log()
    for d in (first, system.daemon):
        assert f"platform[{d.pid}] SWITCH info: connected to the simulated switch" in log
        assert f"daemon pid {d.pid} connected" in log
    assert f"daemon pid {first.pid} left" in log

    # Killed while it learns a burst: what it had committed to the run
    # database comes back, and at least the entries it had programmed 1024
    # save calls before the kill.
    harness.wait_until("the first entries stored", lambda: len(system.stored_learned()) == len(want))
    count = 20000
    system.simctl("frame", "burst", "eth-2/0/1", count, "--isid", 10010, "--bvlan", 100, "--bsa", "00:dd:00:00:00:00")

    def programmed():
        return sum(1 for e in system.simctl("show", "unicast", "--vsi", "vsi-red", json=True)["unicast"]
                   if e["bmac"].startswith("00:dd"))
    seen = harness.wait_until("the burst being learned", lambda: (n := programmed()) >= 2000 and n)
    vsis = system.simctl("show", "vsis", json=True)
    system.kill_daemon()

    entries, switch, config_after = restarted(system)
    served(system, system.daemon, 3)
    assert system.simctl("show", "vsis", json=True) == vsis
    burst_macs = {f"00:dd:00:00:{i >> 8:02x}:{i & 0xff:02x}" for i in range(count)}
    recovered = entries - want
    assert want <= entries
    assert recovered <= {("vsi-red", m, "eth-2/0/1") for m in burst_macs}
    assert len(recovered) >= seen - 1024, f"{len(recovered)} recovered, {seen} programmed before the kill"
    assert switch == entries, "the switch holds exactly what the daemon recovered and programmed again"
    assert config_after == config
