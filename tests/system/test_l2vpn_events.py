"""The daemon follows the switch's L2VPN module: line-card ageing reports
withdraw learned entries, and the module going away and coming back is
followed by a re-registration and a resynchronisation."""

import harness


def learn(system, vsi, bvlan, isid, port, macs):
    for mac in macs:
        system.simctl("frame", "burst", port, 1, "--isid", isid, "--bvlan", bvlan, "--bsa", mac)
    harness.wait_until(f"{len(macs)} entries learned in {vsi}",
                       lambda: {e["bmac"] for e in system.learned(vsi)} >= set(macs))


def switch_macs(system, vsi):
    return {e["bmac"] for e in system.simctl("show", "unicast", "--vsi", vsi, json=True)["unicast"]}


def daemon_macs(system, vsi):
    return {e["bmac"] for e in system.learned(vsi)}


def test_entries_aged_on_every_slot_are_withdrawn_and_the_module_away_and_back_is_resynchronised(system):
    system.start_sim()
    system.start_daemon()
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1"])
    macs = ["00:bb:00:00:00:01", "00:bb:00:00:00:02"]
    learn(system, "vsi-red", 100, 10010, "eth-1/0/1", macs)
    slots = [s["slot"] for s in system.simctl("show", "slots", json=True)["slots"] if s["minm"] and s["present"]]
    assert len(slots) >= 2, slots

    # Aged on all slots but one: the entry stays in the daemon and the switch.
    for slot in slots[:-1]:
        system.simctl("report", "aged", slot, "vsi-red", 10010, f"{macs[0]}/100")
    system.simctl("report", "aged", slots[-1], "vsi-red", 10010, f"{macs[1]}/100")
    # A report behind them is handled after them: once its entry is gone,
    # the earlier ones have been handled too.
    system.simctl("report", "aged", slots[0], "vsi-red", 10010, f"{macs[1]}/100")
    harness.wait_until("the second entry aged out", lambda: macs[1] not in daemon_macs(system, "vsi-red"))
    assert daemon_macs(system, "vsi-red") == {macs[0]}
    assert switch_macs(system, "vsi-red") == {macs[0]}

    # The last slot too: gone everywhere.
    system.simctl("report", "aged", slots[-1], "vsi-red", 10010, f"{macs[0]}/100")
    harness.wait_until("the first entry aged out", lambda: daemon_macs(system, "vsi-red") == set())
    assert switch_macs(system, "vsi-red") == set()

    # The module away and back: a re-registration and a resynchronisation.
    system.pbb_vsi("vsi-green", 101, ["eth-1/0/1"])
    learn(system, "vsi-red", 100, 10010, "eth-1/0/1", ["00:bb:00:00:00:01"])
    learn(system, "vsi-green", 101, 10020, "eth-1/0/1", ["00:cc:00:00:00:01"])

    system.simctl("service", "down", "l2vpn")
    # Unseen by the daemon while the module is away.
    system.simctl("vsi", "del", "vsi-green")
    system.simctl("service", "up", "l2vpn")

    # A walk of all VSIs completes whenever it runs, also while the batch
    # removes vsi-green.
    harness.wait_until("vsi-green's entries gone from the daemon",
                       lambda: {e["vsiIndex"] for e in system.learned("--all")} == {1})
    system.wait_refresh_closed()
    # vsi-green's multicast entry stays in the daemon's table after its VSI
    # is removed: the walk skips it and says so.
    shown = system.ctl("show", "learned", "--all")
    assert ([(v["vsiIndex"], v["isid"]) for v in shown["skipped"]], [v["vsiIndex"] for v in shown["vsis"]]) == \
        ([(2, 10020)], [1]), shown
    r = system.pbbctl("show", "learned", "--all")
    assert "skipped VSI index 2 (I-SID 10020" in r.err and "00:bb:00:00:00:01" in r.out, r
    assert daemon_macs(system, "vsi-red") == {"00:bb:00:00:00:01"}
    assert switch_macs(system, "vsi-red") == {"00:bb:00:00:00:01"}
    assert system.simctl("show", "unicast", json=True)["unicast"] == \
        system.simctl("show", "unicast", "--vsi", "vsi-red", json=True)["unicast"]
    # The switch took vsi-green's multicast entry with the VSI; the daemon
    # keeps its own copy of it in its table until the index is reused.
    assert {m["vsi"] for m in system.simctl("show", "multicast", json=True)["multicast"]} == {1}
