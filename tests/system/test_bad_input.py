"""Bad input is refused with a message naming the bad line or argument and
a non-zero exit status, and changes nothing; pbb-simctl says plainly when
no simulator runs."""

import os
import signal

import harness

def test_a_malformed_topology_line_is_named_and_nothing_starts(system):
    topology = os.path.join(system.dir, "lab.topo")
    with open(topology, "w") as f:
        f.write("# a lab switch\n"
                "slot add 1 --minm\n"
                "port add eth-1/0/1 1\n"
                "vlan trunk eth-1/0/1 10-5000\n"
                "vsi add 1 vsi-a 100\n")
    p = system.start("pbb-sim", [harness.binary("pbb-sim"), "--topology", topology])
    assert p.wait() == 2
    err = p.errors()
    assert f"{topology}:4" in err, err
    assert "5000" in err, err
    assert "pbb-sim ready" not in p.output()
    assert not os.path.exists(os.path.join(system.run_dir, "sim.sock"))
    assert not os.path.exists(os.path.join(system.run_dir, "sim-ctl.sock"))


def test_a_missing_topology_file_is_named(system):
    missing = os.path.join(system.dir, "nowhere.topo")
    p = system.start("pbb-sim", [harness.binary("pbb-sim"), "--topology", missing])
    assert p.wait() == 2
    assert missing in p.errors()


def test_bad_commands_are_refused_naming_the_argument_and_change_nothing(system):
    system.start_sim()
    before = system.switch_state()
    for words, named in ((["link", "down", "eth-9/9/9"], "eth-9/9/9"),
                         (["vlan", "trunk", "eth-1/0/1", "100,5000"], "5000"),
                         (["vsi", "add", "seven", "vsi-x", "5"], "seven"),
                         (["port", "add", "eth-1/0/1", "1"], "eth-1/0/1"),
                         (["stp", "state", "eth-1/0/1", "100", "blocking"], "blocking"),
                         (["fail", "L2VPN_NoSuchCall"], "L2VPN_NoSuchCall"),
                         (["frobnicate", "now"], "frobnicate")):
        r = system.simctl(*words, check=False)
        assert r.code == 2, r
        assert named in r.err, r
        assert r.err.startswith("pbb-simctl: "), r
    assert system.switch_state() == before

    # A file of commands stops at the first bad line and names it.
    script = os.path.join(system.dir, "changes.txt")
    with open(script, "w") as f:
        f.write("link down eth-1/0/1\nlink down eth-7/7/7\nlink down eth-1/0/2\n")
    r = system.run([harness.binary("pbb-simctl"), "-f", script], check=False)
    assert r.code == 2, r
    assert f"{script}:2" in r.err and "eth-7/7/7" in r.err, r
    links = {i["name"]: i["linkUp"] for i in system.simctl("show", "interfaces", json=True)["interfaces"]}
    assert links["eth-1/0/1"] is False and links["eth-1/0/2"] is True


def test_simctl_says_plainly_that_no_simulator_runs(system):
    control = os.path.join(system.run_dir, "sim-ctl.sock")
    r = system.simctl("show", "stats", check=False)
    assert r.code == 3, r
    assert r.err.strip() == f"pbb-simctl: pbb-sim is not running (no control socket at {control})"

    # A simulator that was killed leaves its socket file behind.
    sim = system.start_sim()
    sim.stop(signal.SIGKILL)
    r = system.simctl("show", "stats", check=False)
    assert r.code == 3, r
    assert r.err.strip() == f"pbb-simctl: pbb-sim is not running (nobody answers at {control})"

    # The next one replaces the stale files.
    system.start_sim()
    assert system.stats()["daemon"]["connected"] is False


def test_a_second_simulator_on_the_same_run_directory_is_refused(system):
    first = system.start_sim()
    second = system.start("pbb-sim", [harness.binary("pbb-sim")])
    assert second.wait() == 1
    assert f"another pbb-sim serves {system.run_dir}" in second.errors()
    # The first one serves on, daemons included.
    daemon = system.start_daemon()
    assert system.stats()["daemon"]["pid"] == daemon.pid
    system.stop_daemon()
    assert first.stop() == 0
    assert not os.path.exists(os.path.join(system.run_dir, "sim.sock"))
    assert not os.path.exists(os.path.join(system.run_dir, "sim-ctl.sock"))


def test_bad_options_are_named(system):
    p = system.start("pbb-sim", [harness.binary("pbb-sim"), "--topolgy", "lab.topo"])
    assert p.wait() == 2
    assert "--topolgy" in p.errors()
    r = system.run([harness.binary("pbb-simctl"), "--timeout", "soon", "show", "stats"], check=False)
    assert r.code == 2, r
    assert "--timeout" in r.err, r
