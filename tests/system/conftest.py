"""pytest wiring of the system-test harness: the `system` fixture gives a
harness.System and cleans it up after the test; a failed test's report
shows what the processes printed and logged."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import harness  # noqa: E402


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    s = getattr(item, "funcargs", {}).get("system")
    if report.failed and report.when in ("setup", "call") and s is not None:
        report.sections.append(("what the processes said", s.describe()))


@pytest.fixture
def system():
    s = harness.System()
    try:
        yield s
    finally:
        s.cleanup()
