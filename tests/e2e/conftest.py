import fcntl
import os
import subprocess
from pathlib import Path

import pytest

from harness import BIN, ROOT, Driver, Prefix, Vistrel


_session_lock = None
_keepalive = None


def pytest_sessionstart(session):
    # Run inside the project's Wine environment; start it when the caller has not.
    if 'WINEPREFIX' not in os.environ or 'VISTREL_ENV_STATE' not in os.environ:
        out = subprocess.run([str(ROOT / 'scripts' / 'wine-env.sh'), 'start'], check=True,
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith('export '):
                key, _, value = line[len('export '):].partition('=')
                os.environ[key] = value.strip("'")
    # One end-to-end run at a time per Wine environment: the program is a single instance and its
    # hotkeys are global within the environment, so two runs in one prefix would disturb each other.
    # Environments of their own (wine-env.sh --name) have their own wineserver and display.
    global _session_lock
    _session_lock = open(Path(os.environ['VISTREL_ENV_STATE']) / 'e2e.lock', 'w')
    fcntl.flock(_session_lock, fcntl.LOCK_EX)
    assert (BIN / 'Vistrel.exe').exists(), 'build first: scripts/build.sh'
    # Wine's desktop process ends a little while after the last program in the prefix has gone,
    # and a program started just then may not get its windows. One idle driver process keeps the
    # desktop up for the whole session.
    global _keepalive
    _keepalive = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'wait-window',
                                   'VistrelSessionKeepalive', '--timeout', '86400000'],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)


@pytest.fixture
def prefix() -> Prefix:
    return Prefix()


@pytest.fixture
def driver() -> Driver:
    return Driver()


@pytest.fixture
def fresh_prefix(prefix: Prefix) -> Prefix:
    """The prefix with no Vistrel settings folder, as on a first start."""
    prefix.reset_settings()
    return prefix


@pytest.fixture
def app(fresh_prefix: Prefix, driver: Driver):
    """A Vistrel that has not been started yet; whatever the test starts is stopped afterwards."""
    instances: list[Vistrel] = []

    def make() -> Vistrel:
        instance = Vistrel(fresh_prefix, driver)
        instances.append(instance)
        return instance

    first = make()
    first.another = make
    yield first
    for instance in instances:
        instance.kill()


def pytest_sessionfinish(session, exitstatus):
    if _keepalive and _keepalive.poll() is None:
        _keepalive.kill()
        _keepalive.wait(10)
    if _session_lock:
        fcntl.flock(_session_lock, fcntl.LOCK_UN)
        _session_lock.close()
