"""A change the switch or the disk refuses is reported: pbbctl exits 1 and
says what was kept (nothing of a refused encapsulation type; the B-VLAN,
of a multicast entry the switch refused or of a setting a full disk could
not store), and the same command succeeds once the switch or the disk
takes it."""

import os
import subprocess

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



def test_a_setting_a_full_disk_refuses_is_in_effect_said_and_saved_when_repeated(system):
    os.makedirs(system.state_dir, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m,mode=0755", "tmpfs", system.state_dir], check=True)
    system.on_cleanup(lambda: subprocess.run(["umount", "-l", system.state_dir], check=True))
    system.start_sim()
    system.start_daemon()
    system.ctl("uplink", "add", "eth-1/0/1", "vsi-green")
    filler = os.path.join(system.state_dir, "filler")
    fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
    try:
        while os.write(fd, b"\0" * 65536) > 0:
            pass
    except OSError:
        pass  # the file system is full
    finally:
        os.close(fd)

    r = system.pbbctl("bvlan", "set", "vsi-green", "101", check=False)
    assert r.code == 1 and "could not save it" in r.err, r
    mc = system.ctl("show", "mc", "vsi-green")["multicast"]
    assert [m["bvlan"] for m in mc] == [101], "in effect all the same"
    assert "vsi.vsi-green" not in system.stored("ePBB")
    r = system.pbbctl("uplink", "add", "eth-1/0/2", "vsi-green", check=False)
    assert r.code == 1 and "could not save that" in r.err, r
    green = lambda: next(v for v in system.ctl("show", "summary")["vsis"] if v["vsi"] == "vsi-green")
    assert "eth-1/0/2" in green()["multicastPortNames"], "in effect all the same"
    assert "eth-1/0/2" not in green()["uplinks"], "not in the stored configuration"

    os.remove(filler)
    system.ctl("bvlan", "set", "vsi-green", "101")
    system.ctl("uplink", "add", "eth-1/0/2", "vsi-green")
    assert "eth-1/0/2" in green()["uplinks"]
    system.stop_daemon()
    system.start_daemon()
    harness.wait_until("vsi-green's B-VLAN and uplink back after the restart",
                       lambda: [m["bvlan"] for m in system.ctl("show", "mc", "vsi-green")["multicast"]] == [101]
                       and "eth-1/0/2" in green()["multicastPortNames"])
