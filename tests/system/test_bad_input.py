"""Bad input is refused with a message naming the bad line or argument and
a non-zero exit status, and changes nothing; pbb-simctl says plainly when
no simulator runs."""

import os
import signal

import harness


def test_pbb_sim_names_a_bad_topology_line_a_missing_file_or_a_bad_option_and_does_not_start(system):
    topology = os.path.join(system.dir, "lab.topo")
    with open(topology, "w") as f:
        f.write("# a lab switch\nslot add 1 --minm\nport add eth-1/0/1 1\nvlan trunk eth-1/0/1 10-5000\n")
    missing = os.path.join(system.dir, "nowhere.topo")
    for args, named in ((["--topology", topology], [f"{topology}:4", "5000"]), (["--topology", missing], [missing]),
                        (["--topolgy", "lab.topo"], ["--topolgy"])):
        p = system.start("pbb-sim", [harness.binary("pbb-sim")] + args)
        assert p.wait() == 2
        assert all(n in p.errors() for n in named), p.errors()
        assert "pbb-sim ready" not in p.output()
        assert not os.path.exists(os.path.join(system.run_dir, "sim.sock"))
        assert not os.path.exists(os.path.join(system.run_dir, "sim-ctl.sock"))


def test_simctl_names_bad_options_and_commands_and_says_plainly_that_no_simulator_runs_and_one_per_run_directory(system):
    r = system.run([harness.binary("pbb-simctl"), "--timeout", "soon", "show", "stats"], check=False)
    assert r.code == 2 and "--timeout" in r.err, r
    control = os.path.join(system.run_dir, "sim-ctl.sock")
    # None ever started; then one that was killed, which leaves its socket file behind.
    for killed, says in ((False, "no control socket at"), (True, "nobody answers at")):
        if killed:
            system.start_sim().stop(signal.SIGKILL)
        r = system.simctl("show", "stats", check=False)
        assert r.code == 3, r
        assert r.err.strip() == f"pbb-simctl: pbb-sim is not running ({says} {control})"

    # The next one replaces the stale files; a second one beside it is refused.
    first = system.start_sim()
    second = system.start("pbb-sim", [harness.binary("pbb-sim")])
    assert second.wait() == 1
    assert f"another pbb-sim serves {system.run_dir}" in second.errors()

    before = system.switch_state()
    # What the switch refuses (the command tests check every refusal's
    # message), what the simulator refuses, an unknown verb.
    for words, named in ((["link", "down", "eth-9/9/9"], "eth-9/9/9"),
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

    # Daemons are served too; a stop removes the socket files.
    daemon = system.start_daemon()
    assert system.stats()["daemon"]["pid"] == daemon.pid
    system.stop_daemon()
    assert first.stop() == 0
    assert not os.path.exists(os.path.join(system.run_dir, "sim.sock"))
    assert not os.path.exists(os.path.join(system.run_dir, "sim-ctl.sock"))
