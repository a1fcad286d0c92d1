"""Bash completion of pbbctl and pbb-simctl as bash drives it: the file
sourced, COMP_WORDS and COMP_CWORD set, the function called, COMPREPLY
read. Commands come from the programs, names from the running switch."""

import os
import subprocess

import harness

DIST = os.path.join(os.path.dirname(__file__), "..", "..", "dist", "completion")


def complete(system, line):
    """What bash offers for the last word of line ('' after a trailing blank)."""
    words = line.split() + [""] * line.endswith(" ")
    script = f'source "$1"; COMP_WORDS=("${{@:2}}"); COMP_CWORD=$(($# - 2)); _{words[0].replace("-", "_")}; ' \
             'printf "%s\\n" "${COMPREPLY[@]}"'
    bins = [os.path.dirname(harness.binary(p)) for p in ("pbbctl", "pbb-simctl")]
    env = dict(system.env, PATH=os.pathsep.join(bins + [os.environ["PATH"]]))
    r = subprocess.run(["bash", "-c", script, "bash", os.path.join(DIST, words[0])] + words,
                       env=env, capture_output=True, text=True, timeout=harness.DEADLINE)
    assert r.returncode == 0 and r.stderr == "", r
    return sorted(filter(None, r.stdout.splitlines()))


def test_commands_options_and_the_running_switchs_names(system):
    assert complete(system, "pbbctl sh") == ["show"]
    assert complete(system, "pbbctl --timeout 2 show ") == ["learned", "mc", "summary"]
    assert complete(system, "pbbctl show summary --format p") == ["prometheus"]
    assert complete(system, "pbbctl show learned ") == [], "no switch: no names, no error"

    system.start_sim()
    system.start_daemon()
    vsis = sorted(v["name"] for v in system.simctl("show", "vsis", json=True)["vsis"])
    ifs = sorted(i["name"] for i in system.simctl("show", "interfaces", json=True)["interfaces"])
    assert complete(system, "pbbctl show learned ") == vsis and "vsi-red" in vsis
    assert complete(system, "pbbctl uplink add ") == ifs and "eth-1/0/1" in ifs
    assert complete(system, "pbbctl uplink all eth-1/0/1 o") == ["off", "on"]

    assert complete(system, "pbb-simctl --json sh") == ["show"]
    assert complete(system, "pbb-simctl vsi down ") == vsis
    assert complete(system, "pbb-simctl stp state eth-1/0/1 100 f") == ["forwarding"]
