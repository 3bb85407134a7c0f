"""Options and shared fixtures of the Python suites (pytest).

The suites run one module at a time, from scripts/test-*, for instance
    python3 -m pytest tests/robustness/test_memcheck.py --cgi build/strixel.cgi
Each module's docstring says which options it reads.
"""

import os

import pytest


def pytest_addoption(parser):
    group = parser.getgroup("strixel")
    group.addoption("--cgi", help="the program under test (strixel.cgi)")
    group.addoption("--out", help="where configurations, logs and images go")
    group.addoption("--seed", type=int, default=20240101,
                    help="seed of the generated requests")
    group.addoption("--count", type=int, default=3000,
                    help="how many requests to generate")
    group.addoption("--requests", type=int, default=600,
                    help="how many random requests go through a FastCGI "
                    "pool")
    group.addoption("--jobs", type=int, default=os.cpu_count() or 2,
                    help="requests run at once")
    group.addoption("--limit-mib", type=int, default=512,
                    help="address-space limit of each request; 0 for none")
    group.addoption("--timeout", type=float, default=None,
                    help="seconds a request may take")
    group.addoption("--seconds", type=int, default=None,
                    help="seconds of each load run")
    group.addoption("--no-browser", action="store_true",
                    help="leave out the tests in Chromium")


def _required(config, name):
    value = config.getoption(name)
    if not value:
        raise pytest.UsageError("--%s is required" % name)
    return value


@pytest.fixture(scope="session")
def cgi(pytestconfig):
    """The absolute path of the program under test."""
    return os.path.abspath(_required(pytestconfig, "cgi"))


@pytest.fixture(scope="session")
def out(pytestconfig):
    """The output folder, made if missing."""
    folder = os.path.abspath(_required(pytestconfig, "out"))
    os.makedirs(folder, exist_ok=True)
    return folder


_NOTES = []


@pytest.fixture(scope="session")
def note():
    """Records a line (a figure, a tally) for the end of the run, where it
    is printed whatever the outcome."""
    return _NOTES.append


def pytest_terminal_summary(terminalreporter):
    if _NOTES:
        terminalreporter.section("notes")
        for line in _NOTES:
            terminalreporter.write_line(line)
