import fcntl
import os
import subprocess

import pytest

from harness import BIN, ROOT, Driver, Prefix, Vistrel


_session_lock = None
_keepalive = None


def pytest_sessionstart(session):
    # One end-to-end run at a time per machine: the program is a single instance and its hotkeys
    # are global, so two runs in the same prefix would disturb each other.
    global _session_lock
    _session_lock = open('/tmp/vistrel-e2e.lock', 'w')
    fcntl.flock(_session_lock, fcntl.LOCK_EX)
    # Run inside the project's Wine environment; start it when the caller has not.
    if 'WINEPREFIX' not in os.environ or 'VISTREL_ENV_STATE' not in os.environ:
        out = subprocess.run([str(ROOT / 'scripts' / 'wine-env.sh'), 'start'], check=True,
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith('export '):
                key, _, value = line[len('export '):].partition('=')
                os.environ[key] = value.strip("'")
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
