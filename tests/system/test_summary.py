"""pbbctl show summary on a lab of 350 learned entries: its JSON agrees with
the walks (show learned --all, show mc) and the switch; its Prometheus text
is well formed (a parser of the format; promtool too where installed) and
says the same; a stopped daemon is pbb_up 0 and exit status 3."""

import re
import shutil
import subprocess

import harness

ODD = "vsi-odd\\x"  # a label value must escape it (the switch refuses quotes)
SAMPLE = re.compile(r"(pbb_[a-z_]+)(?:\{(.*)\})? (\d+)")
LABEL = re.compile(r'([a-z_]+)="((?:[^"\\\n]|\\[\\"n])*)"')
LABELS = re.compile(rf"{LABEL.pattern}(?:,{LABEL.pattern})*")


def parse(text):
    """{(name, labels as written): value}; HELP and TYPE once per family, right before its samples."""
    samples, helps, types = {}, [], []
    for line in text.splitlines():
        if line.startswith("# "):
            kind, name, _ = line[2:].split(" ", 2)
            seen = helps if kind == "HELP" else types
            assert kind in ("HELP", "TYPE") and name not in seen, line
            seen.append(name)
            continue
        name, labels, value = SAMPLE.fullmatch(line).groups()
        assert helps[-1] == types[-1] == name, f"{line}: not right under its HELP and TYPE"
        assert not labels or LABELS.fullmatch(labels), f"{line}: a label is malformed or not escaped"
        samples[(name, tuple(LABEL.findall(labels or "")))] = int(value)
    return samples


def test_summary_agrees_with_the_walks_and_its_prometheus_text(system):
    system.start_sim()
    system.simctl("vsi", "add", 9, ODD, 10090)
    system.start_daemon()
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1", "eth-2/0/1"])
    system.pbb_vsi("vsi-green", 101, ["eth-1/0/1"])
    system.ctl("uplink", "all", "agg-1", "on")
    system.simctl("frame", "burst", "eth-2/0/1", 260, "--isid", 10010, "--bvlan", 100, "--bsa", "00:bb:00:00:10:00")
    system.simctl("frame", "burst", "eth-1/0/1", 90, "--isid", 10020, "--bvlan", 101, "--bsa", "00:bb:00:00:30:00")
    walked = harness.wait_until("350 learned", lambda: (w := system.ctl("show", "learned", "--all"))["count"] == 350 and w)
    s = system.ctl("show", "summary")
    mc = {m["vsi"]: m for m in system.ctl("show", "mc")["multicast"]}
    switch = system.simctl("show", "vsis", json=True)

    vsis = {v["vsi"]: v for v in s["vsis"]}
    learned = {v["vsi"]: v["count"] for v in walked["vsis"]}
    assert {n: v["learned"] for n, v in vsis.items()} == {v["name"]: learned.get(v["name"], 0)
                                                          for v in switch["vsis"] if v["isid"]}
    assert {n: (v["bvlan"], v["multicastPorts"]) for n, v in vsis.items() if v["state"] == "active"} == \
        {n: (m["bvlan"], m["ports"]) for n, m in mc.items()}
    assert sorted(vsis["vsi-red"]["uplinks"]) == ["agg-1", "eth-1/0/1", "eth-2/0/1"] and vsis[ODD]["uplinks"] == ["agg-1"]
    assert s["totals"] == {"vsis": 4, "active": 2, "learned": 350, "learnedLimit": switch["limits"]["total"],
                           "multicastPorts": sum(len(m["ports"]) for m in mc.values())}

    text = system.pbbctl("show", "summary", "--format", "prometheus").out
    samples = parse(text)
    assert samples[("pbb_up", ())] == 1 and samples[("pbb_learned_entries", ())] == 350
    for v in s["vsis"]:
        labels = (("vsi", v["vsi"].replace("\\", "\\\\")), ("vsi_index", str(v["vsiIndex"])), ("isid", str(v["isid"])))
        assert [samples.get((n, labels)) for n in ("pbb_vsi_learned_entries", "pbb_vsi_uplinks", "pbb_vsi_bvlan")] \
            == [v["learned"], len(v["uplinks"]), v["bvlan"]]
    if shutil.which("promtool"):
        r = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True, timeout=30)
        assert r.returncode == 0, r

    system.stop_daemon()
    r = system.pbbctl("show", "summary", "--format", "prometheus", check=False)
    assert r.code == 3 and parse(r.out)[("pbb_up", ())] == 0 and "not running" in r.err, r
