"""A change the switch refuses is reported as refused, and nothing of it is
kept: pbbctl exits 1, and the daemon's record, its configuration database
and the switch still agree; the same command then succeeds once the switch
takes it."""

import pytest

import harness


def switch_encap(system, vsi="vsi-red"):
    return next(e["type"] for e in system.simctl("show", "encap", json=True)["encap"] if e["name"] == vsi)


def stored_encap(system, vsi="vsi-red"):
    record = system.stored("ePBB").get(f"vsi.{vsi}")
    return record["encap_type"] if record else 2


@pytest.mark.parametrize("words, before, want", [
    (["encap", "set", "vsi-red", "3"], 2, 3),
    (["encap", "reset", "vsi-red"], 3, 2),
])
def test_an_encapsulation_the_switch_refuses_fails_and_changes_nothing(system, words, before, want):
    system.start_sim()
    system.start_daemon()
    if before != 2:
        system.ctl("encap", "set", "vsi-red", before)
    system.simctl("fail", "L2VPN_SetVSI")
    r = system.pbbctl(*words, check=False)
    assert r.code == 1 and "the switch refused the type" in r.err, r
    assert switch_encap(system) == before
    harness.wait_until("the configuration database unchanged", lambda: stored_encap(system) == before)

    system.ctl(*words)
    assert switch_encap(system) == want
    harness.wait_until("the configuration database follows", lambda: stored_encap(system) == want)


def test_a_b_vlan_whose_multicast_entry_the_switch_refuses_fails_until_repeated(system):
    system.start_sim()
    system.start_daemon()
    system.ctl("uplink", "add", "eth-1/0/1", "vsi-red")
    system.simctl("fail", "L2VPN_AddMinMEntry")
    r = system.pbbctl("bvlan", "set", "vsi-red", "100", check=False)
    assert r.code == 1 and "repeat the command" in r.err, r
    assert system.ctl("show", "mc", "vsi-red")["multicast"] == []
    assert system.simctl("show", "multicast", json=True)["multicast"] == []

    system.ctl("bvlan", "set", "vsi-red", "100")
    mc = system.ctl("show", "mc", "vsi-red")["multicast"]
    assert [m["portNames"] for m in mc] == [["eth-1/0/1"]], mc
    assert len(system.simctl("show", "multicast", json=True)["multicast"]) == 1

