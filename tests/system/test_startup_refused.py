"""A daemon whose start-up the switch did not serve, or whose first
platform call fails, does not report readiness: it logs why and ends with
status 1. Once the switch takes it, the next daemon starts as usual."""

import harness

def test_daemon_refused_by_the_switch_fails_start_up_and_the_next_one_starts(system):
    system.start_sim()
    holder = harness.raw_daemon(system)
    system.on_cleanup(holder.close)

    refused = system.start("pbbd", [harness.binary("pbbd")])
    # The exit status is the low byte of the sum of the modules' failure
    # codes: 1 per refused module.
    assert refused.wait() != 0, system.describe(refused)
    log = system.log()
    mine = [line for line in log.splitlines() if f"[{refused.pid}]" in line]
    assert any("refused this process: pbb-sim serves another daemon" in line for line in mine), log
    # Start-up ends either in a module whose platform call the switch did not
    # serve (the packet socket) or, when every module came up, in the service
    # manager's refusal to report readiness; both say why.
    failed = [line for line in mine
              if "start-up failed, not reporting readiness" in line or "PBB daemon init failed" in line]
    assert len(failed) == 1, log
    assert not any("start-up complete" in line for line in mine), log

    status = system.pbbctl("status", "--json", check=False)
    assert status.json().get("ready") is False, status
    assert system.stats()["refused"] >= 1

    # The switch is free again. A fault armed before a daemon comes holds for
    # its first platform call, whose failure fails the interface module.
    holder.close()
    harness.wait_until("pbb-sim noticing the holder left", lambda: not system.stats()["daemon"]["connected"])
    system.simctl("fail", "IF_Event_Init", "--result", "-1")
    faulted = system.start("pbbd", [harness.binary("pbbd")])
    assert faulted.wait() == 0x40010001 & 0xFF, system.describe(faulted)
    assert any(f"[{faulted.pid}]" in line and "PBB daemon init failed, ErrCode=0x40010001" in line
               for line in system.log().splitlines()), system.log()

    # The fault is spent: the next daemon starts and reports ready.
    daemon = system.start_daemon()
    assert system.stats()["daemon"]["pid"] == daemon.pid
    assert f"platform[{daemon.pid}] SERVICE info: pid {daemon.pid} reports start-up complete" in system.log()
