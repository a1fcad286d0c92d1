"""The daemon follows the switch as it changes under it: links, boards,
aggregates, interfaces going and coming, spanning-tree topology changes and
VLAN membership; the daemon, the switch and the run database stay in step."""

import harness

RED_A = ["00:bb:00:00:00:01", "00:bb:00:00:00:02"]  # learned on eth-1/0/1
RED_B = ["00:bb:00:00:01:01"]                        # learned on eth-2/0/1


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


def mc_ports(system, vsi="vsi-red"):
    mc = system.ctl("show", "mc", vsi)["multicast"]
    return sorted(mc[0]["portNames"]) if mc else []


def configured(system):
    system.start_sim()
    system.start_daemon()
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1", "eth-2/0/1"])
    learn(system, "eth-1/0/1", RED_A)
    learn(system, "eth-2/0/1", RED_B)
    want = {(m, "eth-1/0/1") for m in RED_A} | {(m, "eth-2/0/1") for m in RED_B}
    harness.wait_until("entries learned", lambda: everywhere(system) == (want, want))
    return want


def on(port, want):
    return {e for e in want if e[1] == port}


def test_a_link_down_flushes_its_uplink_and_a_link_up_brings_its_port_back(system):
    want = configured(system)
    system.simctl("link", "down", "eth-1/0/1")
    rest = on("eth-2/0/1", want)
    harness.wait_until("eth-1/0/1's entries gone", lambda: everywhere(system) == (rest, rest))
    assert mc_ports(system) == ["eth-2/0/1"]
    system.simctl("link", "up", "eth-1/0/1")
    harness.wait_until("eth-1/0/1 back in the multicast entry", lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])


def test_a_board_pulled_and_put_back(system):
    want = configured(system)
    system.simctl("slot", "remove", 2)
    rest = on("eth-1/0/1", want)
    harness.wait_until("slot 2's port gone from the daemon", lambda: mc_ports(system) == ["eth-1/0/1"])
    assert everywhere(system) == (rest, rest)
    system.simctl("slot", "insert", 2)
    system.simctl("link", "up", "eth-2/0/1")
    harness.wait_until("eth-2/0/1 serving vsi-red again", lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])


def test_an_uplink_moved_into_an_aggregate_stops_serving_by_itself(system):
    want = configured(system)
    system.simctl("agg", "join", "agg-1", "eth-2/0/1")
    rest = on("eth-1/0/1", want)
    harness.wait_until("eth-2/0/1 no longer a port of its own", lambda: mc_ports(system) == ["eth-1/0/1"])
    assert everywhere(system) == (rest, rest)
    system.simctl("agg", "leave", "eth-2/0/1")
    harness.wait_until("eth-2/0/1 back", lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])


def test_an_interface_deactivated_and_reactivated_keeps_its_uplink_configuration(system):
    want = configured(system)
    system.simctl("if", "inactive", "eth-2/0/1")
    rest = on("eth-1/0/1", want)
    harness.wait_until("eth-2/0/1 gone", lambda: mc_ports(system) == ["eth-1/0/1"])
    assert everywhere(system) == (rest, rest)
    system.simctl("if", "active", "eth-2/0/1")
    system.simctl("link", "up", "eth-2/0/1")
    harness.wait_until("eth-2/0/1 serving vsi-red again", lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])
    assert system.ctl("show", "mc", "vsi-red")["multicast"][0]["bvlan"] == 100


def test_a_topology_change_on_one_b_vlan_flushes_only_that_b_vlan(system):
    configured(system)
    system.pbb_vsi("vsi-green", 101, ["eth-1/0/1"])
    learn(system, "eth-1/0/1", ["00:cc:00:00:00:01"], isid=10020, bvlan=101)
    green = {("00:cc:00:00:00:01", "eth-1/0/1")}
    harness.wait_until("vsi-green learned", lambda: everywhere(system, "vsi-green", 2) == (green, green))

    system.simctl("stp", "tc", "--vlans", 100)
    harness.wait_until("B-VLAN 100 flushed", lambda: everywhere(system) == (set(), set()))
    assert everywhere(system, "vsi-green", 2) == (green, green)
    # Learned again from traffic after the change.
    learn(system, "eth-1/0/1", RED_A[:1])
    harness.wait_until("learning goes on", lambda: everywhere(system)[0] == {(RED_A[0], "eth-1/0/1")})


def test_the_b_vlan_removed_from_an_uplink_and_given_back(system):
    want = configured(system)
    system.simctl("vlan", "del", "eth-2/0/1", 100)
    rest = on("eth-1/0/1", want)
    harness.wait_until("eth-2/0/1 out of vsi-red's multicast entry", lambda: mc_ports(system) == ["eth-1/0/1"])
    assert everywhere(system) == (rest, rest)
    system.simctl("vlan", "add", "eth-2/0/1", 100)
    harness.wait_until("eth-2/0/1 back", lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])
