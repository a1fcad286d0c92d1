"""What `cmake --install` puts where, that the service units it installs
pass systemd's checks, and that the manual pages format cleanly and name
every command and option the programs offer, so that they cannot fall
behind the programs unnoticed."""

import itertools
import os
import re
import shutil
import subprocess
import tempfile

import pytest

import harness

PAGES = {"pbbd": "man8/pbbd.8", "pbb-sim": "man8/pbb-sim.8",
         "pbbctl": "man1/pbbctl.1", "pbb-simctl": "man1/pbb-simctl.1"}
SECTIONS = ("NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "FILES", "EXIT STATUS", "EXAMPLES", "SEE ALSO")


def cmake():
    return os.environ.get("PBB_CMAKE") or shutil.which("cmake") or pytest.skip("cmake is not installed")


def install(root, prefix, destdir=True):
    """Installs the build tree under prefix (staged below root with DESTDIR,
    or straight into prefix). The installed tree's top directory."""
    env = dict(os.environ)
    env.pop("DESTDIR", None)
    if destdir:
        env["DESTDIR"] = root
    r = subprocess.run([cmake(), "--install", harness.build_dir(), "--prefix", prefix],
                       env=env, capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    return root + prefix if destdir else prefix


@pytest.fixture
def tmp():
    d = tempfile.mkdtemp(prefix="pbb-install.")
    try:
        yield d
    finally:
        shutil.rmtree(d, ignore_errors=True)


def files_under(top):
    return {os.path.relpath(os.path.join(d, f), top) for d, _, fs in os.walk(top) for f in fs}


def unit_settings(path):
    """The unit file's settings: {key: [values]} over all sections."""
    out = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith(("#", ";", "[")):
                key, _, value = line.partition("=")
                out.setdefault(key, []).append(value)
    return out


# What an installation holds, under the prefix (the package's test uses it too).
INSTALLED = {
    "sbin/pbbd", "sbin/pbb-sim", "bin/pbbctl", "bin/pbb-simctl",
    "lib/systemd/system/pbbd.service", "lib/systemd/system/pbb-sim.service",
    "share/man/man8/pbbd.8", "share/man/man8/pbb-sim.8",
    "share/man/man1/pbbctl.1", "share/man/man1/pbb-simctl.1",
    "share/bash-completion/completions/pbbctl", "share/bash-completion/completions/pbb-simctl",
    "share/doc/pbbd/copyright", "share/doc/pbbd/changelog",
    "share/doc/pbbd/examples/pbbd-metrics.service", "share/doc/pbbd/examples/pbbd-metrics.timer"}


# The files' modes, and that the installed programs run, are the package test's.
@pytest.mark.parametrize("prefix", ["/usr", "/opt/pbb"])
def test_install_puts_programs_and_pages_in_place_and_units_that_start_them(tmp, prefix):
    top = install(tmp, prefix)
    assert files_under(top) == INSTALLED
    assert files_under(tmp) == {prefix[1:] + "/" + f for f in INSTALLED}, "nothing outside the prefix"
    daemon = unit_settings(os.path.join(top, "lib/systemd/system/pbbd.service"))
    sim = unit_settings(os.path.join(top, "lib/systemd/system/pbb-sim.service"))
    assert daemon["ExecStart"] == [f"{prefix}/sbin/pbbd"]
    assert sim["ExecStart"] == [f"{prefix}/sbin/pbb-sim"]
    # The switch comes first when both run; enabling it makes the daemon pull it in.
    assert "pbbd.service" in sim["Before"][0].split()
    assert "pbbd.service" in sim["WantedBy"][0].split()
    assert "pbb-sim.service" in daemon["After"][0].split()
    # Both use the same run directory, and stopping one leaves the other's sockets.
    for unit in (daemon, sim):
        env = dict(kv.split("=", 1) for v in unit["Environment"] for kv in v.split())
        assert env["PBB_RUN_DIR"] == "/run/" + unit["RuntimeDirectory"][0]
        assert env["PBB_STATE_DIR"] == "/var/lib/" + unit["StateDirectory"][0]
        assert unit["RuntimeDirectoryPreserve"] == ["yes"]


def test_units_pass_systemd_analyze_verify(tmp):
    analyze = shutil.which("systemd-analyze")
    if analyze is None:
        pytest.skip("systemd-analyze is not installed (Debian package systemd; scripts/install-deps.sh installs it)")
    # Installed straight into the prefix, so that the programs the units
    # start exist where the units say; the Documentation= pages are looked
    # up there too.
    top = install(tmp, tmp + "/usr", destdir=False)
    units = [os.path.join(top, "lib/systemd/system", u) for u in ("pbbd.service", "pbb-sim.service")]
    env = dict(os.environ, MANPATH=os.path.join(top, "share/man"))
    r = subprocess.run([analyze, "verify"] + units, env=env, capture_output=True, text=True, timeout=60, cwd=tmp)
    # verify reports settings it ignores on stderr without failing.
    assert r.returncode == 0 and r.stderr == "", r.stderr


@pytest.fixture(scope="module")
def pages():
    """The installed pages: {program: (source, text as formatted)}."""
    if shutil.which("man") is None:
        pytest.skip("man is not installed (Debian package man-db; scripts/install-deps.sh installs it)")
    root = tempfile.mkdtemp(prefix="pbb-install.")
    try:
        top = install(root, "/usr")
        out = {}
        for program, page in PAGES.items():
            path = os.path.join(top, "share/man", page)
            # Plain ASCII text, without the overstrikes of bold and underline.
            env = {k: v for k, v in os.environ.items() if k != "MAN_KEEP_FORMATTING"}
            env.update(MANWIDTH="100", LC_ALL="C")
            r = subprocess.run(["man", "--warnings", "-l", path], env=env, capture_output=True, text=True, timeout=30)
            with open(path) as f:
                source = f.read()
            out[program] = (source, r.returncode, r.stderr, " ".join(r.stdout.split()))
        yield out
    finally:
        shutil.rmtree(root, ignore_errors=True)


@pytest.mark.parametrize("program", sorted(PAGES))
def test_manual_page_formats_without_warnings_and_has_every_section(pages, program):
    source, code, warnings, text = pages[program]
    assert code == 0 and warnings == "", warnings
    headings = [h.strip('"') for h in re.findall(r"^\.SH (.+)$", source, re.M)]
    assert [s for s in SECTIONS if s not in headings] == [], f"{program}: sections missing"
    assert "OPTIONS" in headings or "COMMANDS" in headings
    assert text.startswith(f"{program.upper()}("), text[:80]


def help_of(*args):
    r = subprocess.run(list(args) + ["--help"], capture_output=True, text=True, timeout=30)
    assert r.returncode == 0, r
    return r.stdout


def subcommands(help_text):
    """The names listed under "Subcommands:" of CLI help."""
    block = help_text.partition("Subcommands:")[2].splitlines()[1:]
    return [line.split()[0] for line in itertools.takewhile(lambda line: line.startswith("  "), block)]


def options(help_text):
    return set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*)", help_text)) - {"--help"}


def test_pbbctl_page_names_every_command_and_option(pages):
    text = pages["pbbctl"][3]
    pbbctl = harness.binary("pbbctl")
    top = help_of(pbbctl)
    commands = subcommands(top)
    assert len(commands) >= 10 and "bvlan" in commands, top
    missing = sorted(o for o in options(top) if o not in text)
    for command in commands:
        one = help_of(pbbctl, command)
        subs = subcommands(one)
        words = [f"{command} {s}" for s in subs] or [command]
        missing += [w for w in words if f" {w} " not in f" {text} "]
        for w in words:
            missing += sorted(f"{w}: {o}" for o in options(help_of(pbbctl, *w.split())) if o not in text)
    assert missing == [], "pbbctl's manual page does not name these"


def test_pbb_sim_pages_name_every_command_and_option(pages, system):
    system.start_sim()
    commands = system.simctl("help", json=True)["commands"]
    assert len(commands) >= 50, commands
    text = pages["pbb-simctl"][3]
    missing = []
    for c in commands:
        words = " ".join(itertools.takewhile(lambda w: not w.startswith(("<", "[", "-")), c["usage"].split()))
        if f" {words} " not in f" {text} ":
            missing.append(c["usage"])
        missing += [f"{words}: {o}" for o in options(c["usage"]) if o not in text]
    missing += [o for o in options(help_of(harness.binary("pbb-simctl"))) if o not in text]
    sim_text = pages["pbb-sim"][3]
    missing += [f"pbb-sim {o}" for o in options(help_of(harness.binary("pbb-sim"))) if o not in sim_text]
    assert missing == [], "the simulator's manual pages do not name these"
