"""The Windows installer (scripts/installer.nsi) under Wine: install, update, uninstall."""
# The installer is VISTREL_SETUP when given (made by scripts/package.sh, with its portable folder
# beside it), otherwise scripts/package.sh makes it.
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from harness import (AUDIO, CORE_WINDOW_CLASS, ROOT, WM_HOTKEY, DialogWindow, LogReader, Vistrel, empty_folder, press,
                     probe, shown_dialog, start_configured, wait_files, wait_until, wine, write_config)

UNINSTALL_KEY = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vistrel'
AUDIO_START_STOP = 'ctrl+alt+shift+f7'
IDNO = 7
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

    def run_setup(self, *args: str) -> int:
        return wine(str(self.setup), '/S', *args, timeout=300).returncode

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
    shutil.rmtree(fresh_prefix.user_dir / 'Music' / 'vistrel-installer', ignore_errors=True)


def test_silent_install_and_uninstall_remove_exactly_their_own_files(installation, prefix, driver):
    inst = installation
    # Installed into a folder that holds another program's DLL, notes and a sound of the user's.
    theirs = {'avcodec-58.dll': b'another program', 'notes.txt': b'my notes', 'sounds/my-own.wav': b'RIFF mine'}
    for name, data in theirs.items():
        (inst.folder / name).parent.mkdir(parents=True, exist_ok=True)
        (inst.folder / name).write_bytes(data)
    assert inst.run_setup('/D=' + prefix.windows_path(inst.folder)) == 0
    assert inst.files(inst.folder) == inst.files(inst.portable) | {'Uninstall.exe', 'installed-files.txt'} | set(theirs)
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
    # settings stay. The silent uninstaller hands over to a copy of itself and
    # returns at once, so the outcome is waited for.
    assert wine('reg', 'add', RUN_KEY, '/v', 'Vistrel', '/d', exe, '/f').returncode == 0
    assert wine(str(inst.folder / 'Uninstall.exe'), '/S', timeout=120).returncode == 0
    # Everything installed goes; what was there before stays, and so do the folders holding it.
    assert wait_until(lambda: inst.files(inst.folder) == set(theirs) and reg_values(UNINSTALL_KEY) is None, 60, 0.5)
    assert {name: (inst.folder / name).read_bytes() for name in theirs} == theirs
    assert {str(p.relative_to(inst.folder)) for p in inst.folder.rglob('*') if p.is_dir()} == {'sounds'}
    assert driver.wait_gone(CORE_WINDOW_CLASS, message_only=True, timeout_ms=0)
    assert not inst.shortcut.exists()
    assert 'Vistrel' not in (reg_values(RUN_KEY) or {})
    assert 'Application exiting.' in LogReader(prefix.log_file).lines()
    assert prefix.config_file.is_file()


# The installed copy, started and recording the microphone as WAV into a folder of the test's.
def recording_copy(inst, prefix, driver) -> tuple[Vistrel, Path]:
    folder = empty_folder(prefix.user_dir / 'Music' / 'vistrel-installer')
    old = Vistrel(prefix, driver)
    old.exe = str(inst.exe)
    start_configured(old, prefix, AudioOptions={'AudioSource': 1, 'AudioFormat': 2},
                     Paths={'AudioPath': prefix.windows_path(folder)})
    press(old, AUDIO_START_STOP, AUDIO, 'RECORDING')
    assert recorded_grows(folder)
    return old, folder


def recorded_grows(folder: Path) -> bool:
    """Whether the recording in the folder grows from now on."""
    def size() -> int:
        return sum(f.stat().st_size for f in folder.glob('*.wav'))
    before = size()
    return bool(wait_until(lambda: size() > before + 48000, 15))


def assert_plays(folder: Path) -> None:
    files = wait_files(folder, 1, '*.wav')
    assert len(files) == 1, files
    assert float(probe(files[0])['format']['duration']) > 0.5


def test_a_silent_update_finishes_a_recording_and_starts_the_new_copy(installation, prefix, driver):
    inst = installation
    assert inst.run_setup() == 0
    with open(inst.exe, 'ab') as f:
        f.write(b'an older build')  # Windows programs ignore data after their image
    # A library the older build listed as its own goes; a name outside the folder is not touched.
    (inst.folder / 'avcodec-58.dll').write_bytes(b'older')
    (inst.folder.parent / 'outside.txt').write_bytes(b'kept')
    with open(inst.folder / 'installed-files.txt', 'a') as f:
        f.write('avcodec-58.dll\r\n..\\outside.txt\r\n')
    old, recordings = recording_copy(inst, prefix, driver)

    assert inst.run_setup() == 0
    assert old.wait_exit(30) == 0
    assert_plays(recordings)
    assert inst.exe.read_bytes() == (inst.portable / 'Vistrel.exe').read_bytes()
    assert not (inst.folder / 'avcodec-58.dll').exists()
    assert (inst.folder.parent / 'outside.txt').read_bytes() == b'kept'
    (inst.folder.parent / 'outside.txt').unlink()
    # A silent update starts the copy it closed again, from the new files.
    assert old.wait_log_count('Application starting up.', 2, timeout=30)
    texts = old.log_texts()
    exit_at = texts.index('Application exiting.')
    assert texts[exit_at:exit_at + 3] == ['Application exiting.', 'GDI+ Shutdown.', 'Application starting up.']
    assert driver.wait_window(CORE_WINDOW_CLASS, message_only=True, timeout_ms=20000)
    assert program_of_core_window(driver).lower() == prefix.windows_path(inst.exe).lower()


def test_an_interactive_update_asks_before_it_ends_a_recording_and_waits_if_told(installation, prefix, driver):
    inst = installation
    assert inst.run_setup() == 0
    old, recordings = recording_copy(inst, prefix, driver)
    assert wine('reg', 'add', UNINSTALL_KEY, '/v', 'Installer Language', '/d', '1033', '/f').returncode == 0
    setup = subprocess.Popen(['wine', str(inst.setup)], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        shown_dialog(driver, 'Vistrel Setup').click(1)  # the welcome page
        wizard = DialogWindow(driver, 'Vistrel Setup ')  # the later pages' caption
        for button in ('&Next >', '&Install'):
            assert wait_until(lambda: wizard.wait(0) and wizard.text(1) == button), button
            wizard.click(1)
        question = shown_dialog(driver, 'Vistrel Setup')
        assert question.text(0xFFFF).startswith('Vistrel is recording.')
        assert recorded_grows(recordings), 'the recording goes on while the user is asked'
        question.close(IDNO)  # wait for it
        assert recorded_grows(recordings), 'and while setup waits'

        press(old, AUDIO_START_STOP, AUDIO, 'IDLE')  # the user stops it: setup goes on
        assert old.wait_exit(60) == 0
        assert wait_until(lambda: wizard.text(1) == '&Finish', 60)
        wizard.click(1203)  # without starting the program
        wizard.close(1)
        assert setup.wait(30) == 0
    finally:
        if setup.poll() is None:
            setup.kill()
    assert_plays(recordings)
    assert inst.exe.read_bytes() == (inst.portable / 'Vistrel.exe').read_bytes()
