"""The Windows installer (scripts/installer.nsi) under Wine: install, update, uninstall."""
# The installer is VISTREL_SETUP when given (made by scripts/package.sh, with its portable folder
# beside it), otherwise scripts/package.sh makes it.
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from harness import CORE_WINDOW_CLASS, ROOT, WM_HOTKEY, LogReader, Vistrel, wait_until, wine, write_config

UNINSTALL_KEY = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vistrel'
RUN_KEY = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Run'


def reg_values(key: str) -> dict[str, str] | None:
    """A registry key's values by name (DWORDs as "0x..."), or None when there is no such key."""
    result = wine('reg', 'query', key)
    if result.returncode != 0:
        return None
    lines = (re.match(r' +(.+?) {4}REG_\w+ {4}(.*)$', line.rstrip('\r')) for line in result.stdout.splitlines())
    return {m.group(1): m.group(2) for m in lines if m}


def maker(name: str) -> str:
    """A value of the program's maker table (src/core/maker.h)."""
    text = (ROOT / 'src' / 'core' / 'maker.h').read_text()
    return re.search(name + r'\[\] = L"(.*)";', text).group(1)


def program_of_core_window(driver) -> str:
    return driver.run('program', CORE_WINDOW_CLASS, '--message-only').stdout.strip()


@pytest.fixture(scope='module')
def setup_exe() -> Path:
    if os.environ.get('VISTREL_SETUP'):
        return Path(os.environ['VISTREL_SETUP'])
    if not shutil.which('makensis'):
        pytest.skip('makensis is not installed (Debian package nsis, see scripts/install-deps.sh)')
    out = subprocess.run([str(ROOT / 'scripts' / 'package.sh')], check=True, stdout=subprocess.PIPE,
                         text=True, timeout=1800).stdout
    return Path(out.split()[-1])


class Installation:
    def __init__(self, prefix, setup: Path):
        self.prefix = prefix
        self.setup = setup
        self.version = re.fullmatch(r'Vistrel-(.+)-setup\.exe', setup.name).group(1)
        self.portable = setup.parent / f'Vistrel-{self.version}-win64'
        self.folder = prefix.user_dir / 'AppData' / 'Local' / 'Programs' / 'Vistrel'
        self.exe = self.folder / 'Vistrel.exe'
        self.shortcut = (prefix.user_dir / 'AppData' / 'Roaming' / 'Microsoft' / 'Windows' / 'Start Menu' /
                         'Programs' / 'Vistrel.lnk')

    def run_setup(self) -> int:
        return wine(str(self.setup), '/S', timeout=300).returncode

    def files(self, folder: Path) -> set[str]:
        return {str(p.relative_to(folder)) for p in folder.rglob('*') if p.is_file()}


@pytest.fixture
def installation(setup_exe, fresh_prefix, driver, monkeypatch):
    # The installer about to be run; afterwards what it left is removed and the start-with-Windows
    # value is put back as it was.
    # Wine would mirror Start-menu shortcuts into the Linux desktop's menus.
    monkeypatch.setenv('WINEDLLOVERRIDES', os.environ.get('WINEDLLOVERRIDES', '') + ';winemenubuilder.exe=d')
    write_config(fresh_prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0}})
    run_before = (reg_values(RUN_KEY) or {}).get('Vistrel')
    inst = Installation(fresh_prefix, setup_exe)
    shutil.rmtree(inst.folder, ignore_errors=True)
    yield inst
    if driver.post(CORE_WINDOW_CLASS, WM_HOTKEY, 13, message_only=True):
        driver.wait_gone(CORE_WINDOW_CLASS, message_only=True, timeout_ms=20000)
    shutil.rmtree(inst.folder, ignore_errors=True)
    inst.shortcut.unlink(missing_ok=True)
    wine('reg', 'delete', UNINSTALL_KEY, '/f')
    if run_before is None:
        wine('reg', 'delete', RUN_KEY, '/v', 'Vistrel', '/f')
    else:
        wine('reg', 'add', RUN_KEY, '/v', 'Vistrel', '/d', run_before, '/f')
    shutil.rmtree(fresh_prefix.user_dir / 'Videos' / 'Vistrel' / 'installer-test', ignore_errors=True)


def test_silent_install_and_uninstall_keep_the_users_files(installation, prefix, driver):
    inst = installation
    assert inst.run_setup() == 0
    assert inst.files(inst.folder) == inst.files(inst.portable) | {'Uninstall.exe'}
    assert inst.exe.read_bytes() == (inst.portable / 'Vistrel.exe').read_bytes()
    assert inst.shortcut.is_file()
    assert not (prefix.user_dir / 'Desktop' / 'Vistrel.lnk').exists(), 'the desktop shortcut is opt-in'
    exe = prefix.windows_path(inst.exe)
    uninstaller = prefix.windows_path(inst.folder / 'Uninstall.exe')
    entry = reg_values(UNINSTALL_KEY)
    assert entry is not None
    assert {k: entry.get(k) for k in ('DisplayName', 'DisplayVersion', 'Publisher', 'URLInfoAbout', 'HelpLink',
                                       'DisplayIcon', 'UninstallString', 'QuietUninstallString', 'NoModify',
                                       'NoRepair')} == {
        'DisplayName': 'Vistrel', 'DisplayVersion': inst.version, 'Publisher': maker('kName'),
        'URLInfoAbout': maker('kProductPage'), 'HelpLink': maker('kContact'), 'DisplayIcon': exe + ',0',
        'UninstallString': f'"{uninstaller}"', 'QuietUninstallString': f'"{uninstaller}" /S',
        'NoModify': '0x1', 'NoRepair': '0x1'}
    size_kb = sum(p.stat().st_size for p in inst.folder.rglob('*') if p.is_file()) / 1024
    assert 0.95 * size_kb <= int(entry['EstimatedSize'], 16) <= size_kb + 1

    # The shortcut starts the installed program.
    assert wine('start', '/unix', str(inst.shortcut)).returncode == 0
    assert driver.wait_window(CORE_WINDOW_CLASS, message_only=True, timeout_ms=20000)
    assert program_of_core_window(driver).lower() == exe.lower()

    # Uninstalling while it runs: it is asked to exit; its start-with-Windows value goes, the
    # settings and recordings stay. The silent uninstaller hands over to a copy of itself and
    # returns at once, so the outcome is waited for.
    assert wine('reg', 'add', RUN_KEY, '/v', 'Vistrel', '/d', exe, '/f').returncode == 0
    recording = prefix.user_dir / 'Videos' / 'Vistrel' / 'installer-test' / 'kept.mp4'
    recording.parent.mkdir(parents=True, exist_ok=True)
    recording.write_bytes(b'recording')
    assert wine(str(inst.folder / 'Uninstall.exe'), '/S', timeout=120).returncode == 0
    assert wait_until(lambda: not inst.folder.exists() and reg_values(UNINSTALL_KEY) is None, 60, 0.5)
    assert driver.wait_gone(CORE_WINDOW_CLASS, message_only=True, timeout_ms=0)
    assert not inst.shortcut.exists()
    assert 'Vistrel' not in (reg_values(RUN_KEY) or {})
    assert 'Application exiting.' in LogReader(prefix.log_file).lines()
    assert prefix.config_file.is_file() and recording.read_bytes() == b'recording'


def test_installing_over_a_running_copy_closes_it_and_starts_the_new_one(installation, prefix, driver):
    inst = installation
    assert inst.run_setup() == 0
    with open(inst.exe, 'ab') as f:
        f.write(b'an older build')  # Windows programs ignore data after their image
    old = Vistrel(prefix, driver)
    old.exe = str(inst.exe)
    old.start()

    assert inst.run_setup() == 0
    assert old.wait_exit(30) == 0
    assert inst.exe.read_bytes() == (inst.portable / 'Vistrel.exe').read_bytes()
    # A silent update starts the copy it closed again, from the new files.
    assert old.wait_log_count('Application starting up.', 2, timeout=30)
    texts = old.log_texts()
    exit_at = texts.index('Application exiting.')
    assert texts[exit_at:exit_at + 3] == ['Application exiting.', 'GDI+ Shutdown.', 'Application starting up.']
    assert driver.wait_window(CORE_WINDOW_CLASS, message_only=True, timeout_ms=20000)
    assert program_of_core_window(driver).lower() == prefix.windows_path(inst.exe).lower()
