"""pbbctl over the daemon's management server: a PBB VSI configured,
frames learned and shown, withdrawn again; refusals and bad usage."""

import harness


def burst(system, port, count, first_bsa, isid=10010, bvlan=100):
    system.simctl("frame", "burst", port, count, "--isid", isid, "--bvlan", bvlan, "--bsa", first_bsa)


def fib(system, vsi_index):
    entries = system.simctl("show", "unicast", "--vsi", vsi_index, json=True)["unicast"]
    return {(e["bmac"], e["portName"]) for e in entries}


def shown(entries):
    return {(e["bmac"], e["interface"]) for e in entries}


BAD = [
    ["bvlan", "set", "vsi-x", "100"],
    ["bvlan", "set", "vsi-red", "4095"],
    ["bvlan", "set", "vsi-plain", "100"],
    ["uplink", "add", "eth-9/0/9", "vsi-red"],
    ["uplink", "add", "eth-1/0/1", "vsi-x"],
    ["uplink", "all", "eth-1/0/1", "maybe"],
    ["reset", "learned"],
    ["reset", "learned", "--vsi", "vsi-red", "--bvlan", "100"],
    ["reset", "learned", "--bvlan", "110-100"],
    ["show", "learned"],
    ["show", "mc", "vsi-x"],
    ["debug", "set", "loud"],
    ["frobnicate"],
]


def test_learned_entries_are_shown_and_withdrawn_refusals_change_nothing_and_no_daemon_is_status_3(system):
    system.start_sim()
    for words in (["show", "mc"], ["show", "learned", "vsi-red"], ["debug", "show"], ["bvlan", "set", "vsi-red", "100"],
                  ["stop"]):
        r = system.pbbctl(*words, check=False)
        assert r.code == 3 and "pbbd is not running" in r.err, r
    system.start_daemon()
    system.ctl("debug", "set", "error")
    mc = system.pbb_vsi("vsi-red", 100, ["eth-1/0/1", "eth-2/0/1"])
    assert len(mc) == 1, mc
    assert (mc[0]["vsi"], mc[0]["isid"], mc[0]["bvlan"]) == ("vsi-red", 10010, 100)
    assert sorted(mc[0]["portNames"]) == ["eth-1/0/1", "eth-2/0/1"]

    # Group and all-zero source addresses (the VSI's own group address among
    # them) are refused before anything is programmed; the unicast frames
    # behind them (those of eth-2/0/1 locally administered) are learned, so
    # once those are, these were handled.
    seen = system.simctl("show", "calls", "--max", 1, json=True)["last"]
    for bsa in ("01:1e:83:00:27:1a", "ff:ff:ff:ff:ff:ff", "00:00:00:00:00:00", "03:00:5e:00:00:01"):
        burst(system, "eth-1/0/1", 1, bsa)
    burst(system, "eth-1/0/1", 5, "00:bb:00:00:00:10")
    burst(system, "eth-2/0/1", 3, "02:bb:00:00:01:00")
    learned = harness.wait_until("8 learned entries", lambda: len(e := system.learned("vsi-red")) == 8 and e)
    assert [e["bmac"] for e in learned] == sorted(e["bmac"] for e in learned), "the walk is in B-MAC order"
    want = {(f"00:bb:00:00:00:{0x10 + i:02x}", "eth-1/0/1") for i in range(5)} | \
           {(f"02:bb:00:00:01:{i:02x}", "eth-2/0/1") for i in range(3)}
    assert shown(learned) == want
    assert fib(system, "vsi-red") == want
    programmed = {c["entry"]["bmac"] for c in system.simctl("show", "calls", "--since", seen, json=True)["calls"]
                  if c["call"] == "L2VPN_AddMinMEntry"}
    assert programmed == {mac for mac, _ in want}
    assert system.log().count("The B-SA of this PBB packet is not a unicast address.") == 4
    assert shown(system.learned("--all")) == want
    ifindex = {e["interface"]: e["ifIndex"] for e in learned}
    in_db = {(mac, ifindex[port], 1) for mac, port in want}
    harness.wait_until("the entries saved in the run database", lambda: system.stored_learned() == in_db)

    # Withdrawn on one interface: gone from the daemon and the switch, the rest stays.
    done = system.ctl("reset", "learned", "--vsi", "vsi-red", "eth-1/0/1")
    assert done["ok"] and done["interfaces"] == ["eth-1/0/1"]
    rest = {e for e in want if e[1] == "eth-2/0/1"}
    assert shown(system.learned("vsi-red")) == rest
    assert fib(system, "vsi-red") == rest

    # By B-VLAN on every interface: nothing left anywhere.
    system.ctl("reset", "learned", "--bvlan", "100")
    assert system.learned("vsi-red") == []
    assert fib(system, "vsi-red") == set()
    harness.wait_until("the run database emptied", lambda: system.stored_learned() == set())

    # The B-VLAN taken away: the VSI is no longer active.
    system.ctl("bvlan", "reset", "vsi-red")
    assert system.ctl("show", "mc")["multicast"] == []

    # Refusals and bad usage.
    system.ctl("bvlan", "set", "vsi-red", 100)
    system.ctl("debug", "clear", "error")

    r = system.ctl("bvlan", "set", "vsi-red", 100, "--isid", 10011, code=1)
    assert (r["ok"], r["code"]) == (False, 0x40010001)
    assert "I-SID 10011" in r["error"]

    r = system.ctl("uplink", "add", "eth-3/0/1", "vsi-red", code=1)
    assert (r["ok"], r["code"]) == (False, 0x40010008)
    assert r["error"] == "interface eth-3/0/1 does not support PBB"

    system.ctl("uplink", "all", "eth-1/0/1", "on")
    r = system.ctl("uplink", "delete", "eth-1/0/1", "vsi-red", code=1)
    assert r["code"] == 0x60010025
    assert "eth-1/0/1 is an uplink of every VSI: delete it with 'pbbctl uplink all eth-1/0/1 off'" in r["error"]
    done = system.ctl("uplink", "all", "eth-1/0/1", "off")
    assert done["ok"] and done["all"] is False

    debug = system.ctl("debug", "set", "event", "pkt")
    assert (debug["error"], debug["event"], debug["pkt"]) == (False, True, True)

    def state():
        return (system.switch_state(), system.ctl("show", "mc"), system.learned("--all"),
                system.ctl("debug", "show"))

    before = state()
    for words in BAD:
        r = system.pbbctl(*words, check=False)
        assert r.code == 2, r
        assert r.err.startswith("pbbctl: ") or "Run with --help" in r.err, r
    assert "no VSI named vsi-x" in system.pbbctl(*BAD[0], check=False).err
    assert "not a PBB VSI" in system.pbbctl(*BAD[2], check=False).err
    assert state() == before

    assert system.ctl("debug", "clear", "all")["word"] == 0
