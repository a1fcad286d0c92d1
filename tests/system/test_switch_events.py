"""The daemon follows the switch as it changes under it: links, boards,
aggregates, interfaces going and coming, VLAN membership and spanning-tree
topology changes; the daemon, the switch and the run database stay in step."""

import harness

RED_A = ["00:bb:00:00:00:01", "00:bb:00:00:00:02"]  # learned on eth-1/0/1
RED_B = ["00:bb:00:00:01:01"]                        # learned on eth-2/0/1
WANT = {(m, "eth-1/0/1") for m in RED_A} | {(m, "eth-2/0/1") for m in RED_B}
REST = {(m, "eth-1/0/1") for m in RED_A}

# What takes eth-2/0/1 out of vsi-red, and what brings it back.
CHANGES = [
    (["link down eth-2/0/1"], ["link up eth-2/0/1"]),
    (["slot remove 2"], ["slot insert 2", "link up eth-2/0/1"]),
    (["agg join agg-1 eth-2/0/1"], ["agg leave eth-2/0/1"]),
    (["if inactive eth-2/0/1"], ["if active eth-2/0/1", "link up eth-2/0/1"]),
    (["vlan del eth-2/0/1 100"], ["vlan add eth-2/0/1 100"]),
]


def learn(system, port, macs, isid=10010, bvlan=100):
    for mac in macs:
        system.simctl("frame", "burst", port, 1, "--isid", isid, "--bvlan", bvlan, "--bsa", mac)


def everywhere(system, vsi="vsi-red", vsi_index=1):
    """The learned entries (bmac, port name) as the daemon, the switch and
    the run database hold them; waits for the database's write-behind."""
    daemon = {(e["bmac"], e["interface"]) for e in system.learned(vsi)}
    switch = {(e["bmac"], e["portName"])
              for e in system.simctl("show", "unicast", "--vsi", vsi, json=True)["unicast"]}
    names = {i["ifIndex"]: i["name"] for i in system.simctl("show", "interfaces", json=True)["interfaces"]}

    def stored():
        return {(mac, names[ifindex]) for mac, ifindex, v in system.stored_learned() if v == vsi_index}
    harness.wait_until("the run database caught up", lambda: stored() == daemon, describe=lambda: f"{stored()} {daemon}")
    return daemon, switch


def mc_ports(system):
    mc = system.ctl("show", "mc", "vsi-red")["multicast"]
    return sorted(mc[0]["portNames"]) if mc else []


def test_the_daemon_and_its_database_follow_the_switch(system):
    system.start_sim()
    system.start_daemon()
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1", "eth-2/0/1"])
    learn(system, "eth-1/0/1", RED_A)
    for out, back in CHANGES:
        learn(system, "eth-2/0/1", RED_B)
        harness.wait_until("entries learned", lambda: everywhere(system) == (WANT, WANT))
        for words in out:
            system.simctl(*words.split())
        harness.wait_until(f"eth-2/0/1 out of vsi-red after {out}", lambda: mc_ports(system) == ["eth-1/0/1"])
        assert everywhere(system) == (REST, REST), out
        for words in back:
            system.simctl(*words.split())
        harness.wait_until(f"eth-2/0/1 back after {back}", lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])
    assert system.ctl("show", "mc", "vsi-red")["multicast"][0]["bvlan"] == 100

    # A topology change on one B-VLAN flushes only that B-VLAN; learning goes on.
    system.pbb_vsi("vsi-green", 101, ["eth-1/0/1"])
    learn(system, "eth-1/0/1", ["00:cc:00:00:00:01"], isid=10020, bvlan=101)
    green = {("00:cc:00:00:00:01", "eth-1/0/1")}
    harness.wait_until("vsi-green learned", lambda: everywhere(system, "vsi-green", 2) == (green, green))
    system.simctl("stp", "tc", "--vlans", 100)
    harness.wait_until("B-VLAN 100 flushed", lambda: everywhere(system) == (set(), set()))
    assert everywhere(system, "vsi-green", 2) == (green, green)
    learn(system, "eth-1/0/1", RED_A[:1])
    harness.wait_until("learning goes on", lambda: everywhere(system)[0] == {(RED_A[0], "eth-1/0/1")})
