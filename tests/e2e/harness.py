# Starts Vistrel.exe in the Wine environment of scripts/wine-env.sh (WINEPREFIX, DISPLAY,
# PulseAudio) and drives it from outside through vistrel-driver.exe in the same prefix.
from __future__ import annotations

import json
import os
import random
import re
import shutil
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BIN = Path(os.environ.get('VISTREL_BIN', ROOT / 'build' / 'win' / 'bin'))

CORE_WINDOW_CLASS = 'VistrelCoreWindowClass'
TRAY_OWNER_CLASS = 'VistrelTrayOwnerClass'

WM_HOTKEY = 0x0312
WM_COMMAND = 0x0111
WM_SHOW_SETTINGS = 0x8001
WM_LANGUAGE_CHANGED = 0x800B
WM_PING = 0x8014

# The recorders' log prefixes.
VIDEO, AUDIO, GIF = 'Recorder: ', 'AudioRecorder: ', 'GIF Recorder: '

LOG_LINE = re.compile(r'^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (.*)$')


# Reads the log incrementally, so that tests can poll it often; a replaced log is read anew.
class LogReader:
    def __init__(self, path: Path):
        self.path = path
        self._reset(None)

    def _reset(self, inode) -> None:
        self._inode = inode
        self._offset = 0
        self._partial = b''
        self._lines: list[str] = []

    def lines(self) -> list[str]:
        """The texts of the log's lines, without their time stamps."""
        try:
            with open(self.path, 'rb') as f:
                status = os.fstat(f.fileno())
                if status.st_ino != self._inode or status.st_size < self._offset:
                    self._reset(status.st_ino)
                f.seek(self._offset)
                data = f.read()
        except FileNotFoundError:
            self._reset(None)
            return []
        self._offset += len(data)
        *complete, self._partial = (self._partial + data).split(b'\r\n')
        for raw in complete:
            m = LOG_LINE.match(raw.decode('utf-8', 'replace'))
            if m:
                self._lines.append(m.group(1))
        return list(self._lines)


class Prefix:
    """Paths inside the Wine prefix, seen from Linux."""

    def __init__(self, prefix: str | None = None):
        self.root = Path(prefix or os.environ['WINEPREFIX'])
        users = self.root / 'drive_c' / 'users'
        user = os.environ.get('USER') or 'root'
        if not (users / user).exists():
            candidates = [p for p in users.iterdir() if p.name not in ('Public', 'Default')]
            user = candidates[0].name if candidates else user
        self.user_dir = users / user
        self.settings_dir = self.user_dir / 'AppData' / 'Roaming' / 'Orvanta' / 'vistrel'
        self.temp_dir = self.user_dir / 'AppData' / 'Local' / 'Temp'
        self.log_file = self.settings_dir / 'log.txt'
        self.config_file = self.settings_dir / 'config.ini'

    def windows_path(self, path: Path) -> str:
        """C:\\... form of a path under drive_c."""
        rel = Path(path).resolve().relative_to((self.root / 'drive_c').resolve())
        return 'C:\\' + str(rel).replace('/', '\\')

    def reset_settings(self) -> None:
        shutil.rmtree(self.settings_dir.parent, ignore_errors=True)


# Runs a Windows program to its end. Output goes through files: a Wine service started by the
# program may keep inherited pipe handles open long after it has ended.
def wine(*args: str, timeout: float = 30) -> subprocess.CompletedProcess:
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(['wine', *args], stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(process.args, code,
                                           out.read().decode('utf-8', 'replace'),
                                           err.read().decode('utf-8', 'replace'))


class Driver:
    """vistrel-driver.exe: window lookup, posted messages and SendInput inside the prefix."""

    exe = str(BIN / 'vistrel-driver.exe')

    def run(self, *args: str, timeout: float = 30) -> subprocess.CompletedProcess:
        return wine(self.exe, *args, timeout=timeout)

    def wait_window(self, cls: str, message_only: bool = False, timeout_ms: int = 15000,
                    verb: str = 'wait-window', *extra: str) -> bool:
        args = [verb, cls, '--timeout', str(timeout_ms), *extra] + (['--message-only'] if message_only else [])
        return self.run(*args, timeout=timeout_ms / 1000 + 30).returncode == 0

    def endpoints(self, flow: str) -> dict[str, str]:
        """Active audio endpoints of 'capture' or 'render', friendly name to identifier."""
        result = self.run('endpoints', flow)
        assert result.returncode == 0, result.stderr
        pairs = [line.rstrip('\r').split('\t', 1) for line in result.stdout.splitlines() if '\t' in line]
        return {name: endpoint for endpoint, name in pairs}

    def wait_gone(self, cls: str, message_only: bool = False, timeout_ms: int = 15000) -> bool:
        return self.wait_window(cls, message_only, timeout_ms, 'wait-gone')

    def post(self, cls: str, msg: int, wparam: int = 0, lparam: int = 0,
             message_only: bool = False) -> bool:
        args = ['post', cls, hex(msg), str(wparam), str(lparam)]
        if message_only:
            args.append('--message-only')
        return self.run(*args).returncode == 0

    def post_dialog(self, title: str, msg: int, wparam: int = 0, lparam: int = 0) -> bool:
        return self.run('post', '#32770', hex(msg), str(wparam), str(lparam), '--title', title).returncode == 0

    def keys(self, *combos: str) -> bool:
        """Presses key combinations through SendInput, e.g. keys('ctrl+alt+shift+f4')."""
        return self.run('keys', *combos).returncode == 0


class Vistrel:
    """One running Vistrel.exe."""

    exe = str(BIN / 'Vistrel.exe')

    def __init__(self, prefix: Prefix, driver: Driver):
        self.prefix = prefix
        self.driver = driver
        self.process: subprocess.Popen | None = None
        self._log = LogReader(prefix.log_file)

    # Life cycle -----------------------------------------------------------------------------
    def start(self, wait: bool = True, env: dict | None = None) -> 'Vistrel':
        full_env = dict(os.environ)
        # No test reaches the maker's update service: unless a test serves one itself, the
        # start-up check goes to a local port where nothing listens and ends quietly.
        full_env.setdefault('VISTREL_UPDATE_SERVER', 'localhost:9')
        if env:
            full_env.update(env)
        if wait:
            # A copy from the previous test may still be playing its exit sound; a new one started
            # now would only hand over to it and leave.
            assert self.driver.wait_gone(CORE_WINDOW_CLASS, message_only=True, timeout_ms=15000), \
                'an earlier copy is still running'
        self.process = subprocess.Popen(['wine', self.exe], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        env=full_env)
        if wait:
            assert self.driver.wait_window(CORE_WINDOW_CLASS, message_only=True, timeout_ms=20000), \
                f'the core window did not appear (exit code {self.process.poll()}): {self.log_texts()[-6:]}'
            assert self.running(), f'Vistrel exited at start with code {self.process.returncode}'
        return self

    def wait_exit(self, timeout: float = 20) -> int | None:
        if self.process is None:
            return None
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self) -> None:
        if self.process and self.process.poll() is None:
            self.post_core(WM_HOTKEY, 13)
            if self.wait_exit(10) is None:
                self.process.kill()
                self.process.wait(10)
                # The Windows side may outlive the wine launcher; make sure it is gone.
                wine('taskkill', '/f', '/im', 'Vistrel.exe', timeout=20)

    def running(self) -> bool:
        return self.process is not None and self.process.poll() is None

    # Input ----------------------------------------------------------------------------------
    def post_core(self, msg: int, wparam: int = 0, lparam: int = 0) -> bool:
        return self.driver.post(CORE_WINDOW_CLASS, msg, wparam, lparam, message_only=True)

    def command(self, command_id: int) -> bool:
        """A tray menu command, as the menu delivers it to the tray owner window."""
        return self.driver.post(TRAY_OWNER_CLASS, WM_COMMAND, command_id, 0)

    # Output ---------------------------------------------------------------------------------
    def log_texts(self) -> list[str]:
        return self._log.lines()

    def wait_log_count(self, line: str, count: int, timeout: float = 15) -> bool:
        """Waits until the log holds a line exactly `count` times or more."""
        return bool(wait_until(lambda: self.log_texts().count(line) >= count, timeout, 0.05))

    def wait_log(self, text: str, timeout: float = 15) -> bool:
        """Waits until a log line contains text."""
        return bool(wait_until(lambda: any(text in t for t in self.log_texts()), timeout, 0.05))

    def mark(self) -> int:
        """The log's length now: lines from here on are what an action that follows caused."""
        return len(self.log_texts())

    def wait_line(self, line: str, since: int = 0, timeout: float = 15) -> bool:
        """Waits until the log holds exactly `line` at or after index `since`."""
        return bool(wait_until(lambda: line in self.log_texts()[since:], timeout, 0.05))

    # Waits until a recorder (by its log prefix) has entered `state` at or after log index `since`.
    def wait_state(self, prefix: str, state: str, since: int = 0, timeout: float = 30) -> bool:
        return self.wait_line(f'{prefix}State changed to {state}.', since, timeout)

    # The recording times in seconds that a recorder (by its log prefix) reported, oldest first.
    def recorded(self, prefix: str) -> list[float]:
        pattern = re.compile(re.escape(prefix) + r'Recorded (\d+\.\d+) s\.$')
        return [float(m.group(1)) for m in map(pattern.match, self.log_texts()) if m]

    # Returns once the program has handled every message (hotkey, command) posted before: a posted
    # ping is handled after them, and logged.
    def barrier(self, timeout: float = 15) -> None:
        token = random.randrange(1, 2 ** 31)
        assert self.post_core(WM_PING, 0, token)
        assert self.wait_log_count(f'Ping {token}.', 1, timeout), 'the program did not answer a ping'


def write_config(prefix: Prefix, sections: dict) -> None:
    """Writes config.ini as the program does (UTF-16LE with a byte-order mark)."""
    prefix.settings_dir.mkdir(parents=True, exist_ok=True)
    text = ''
    for section, values in sections.items():
        text += f'[{section}]\r\n' + ''.join(f'{k}={v}\r\n' for k, v in values.items())
    prefix.config_file.write_bytes('\ufeff'.encode('utf-16-le') + text.encode('utf-16-le'))


def sink_inputs() -> set[str]:
    """The playback streams the sound server has now, by index."""
    out = subprocess.run(['pactl', 'list', 'short', 'sink-inputs'], capture_output=True, text=True,
                         timeout=10).stdout
    return {line.split()[0] for line in out.splitlines() if line.strip()}


# Plays a sine into the null sink for the life of a with block: its monitor, a capture endpoint,
# carries a known signal.
class SinkTone:
    def __init__(self, frequency: float, amplitude: float = 0.5, seconds: float = 30, sink: str = 'vsink'):
        import numpy as np
        t = np.arange(int(48000 * seconds)) / 48000
        wave = (amplitude * 32767 * np.sin(2 * np.pi * frequency * t)).astype('<i2')
        self.data = np.repeat(wave, 2).tobytes()
        self.sink = sink
        self.process: subprocess.Popen | None = None

    def __enter__(self) -> 'SinkTone':
        before = sink_inputs()
        self.process = subprocess.Popen(
            ['pacat', '--playback', f'--device={self.sink}', '--raw', '--format=s16le', '--rate=48000',
             '--channels=2'], stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=self._feed, daemon=True).start()
        assert wait_until(lambda: sink_inputs() - before, 10), 'the tone reaches the sound server'
        return self

    def _feed(self) -> None:
        try:
            self.process.stdin.write(self.data)
            self.process.stdin.close()
        except (BrokenPipeError, ValueError):
            pass

    def __exit__(self, *exc) -> None:
        self.process.terminate()
        self.process.wait(10)


def read_config(prefix: Prefix) -> dict:
    """config.ini as {(section, key): value}."""
    raw = prefix.config_file.read_bytes()
    text = raw.decode('utf-16-le') if raw[:2] == b'\xff\xfe' else raw.decode('latin-1')
    values, section = {}, None
    for line in text.lstrip('\ufeff').splitlines():
        line = line.strip()
        if line.startswith('[') and line.endswith(']'):
            section = line[1:-1]
        elif '=' in line:
            key, _, value = line.partition('=')
            values[(section, key)] = value
    return values


def wait_until(check, timeout: float = 10, interval: float = 0.1):
    """Polls check() until it returns something true; returns its last result. A file that check()
    reads and that is not there counts as not yet: Wine's ReplaceFileW moves the old file out of
    the way before it puts the new one in its place."""
    def attempt():
        try:
            return check()
        except FileNotFoundError:
            return None
    deadline = time.monotonic() + timeout
    result = attempt()
    while not result and time.monotonic() < deadline:
        time.sleep(interval)
        result = attempt()
    return result


# A dialog box of the program, found by its caption and driven through its controls' messages
# (tools/driver/driver_dialogs.cpp), in the dialog and its visible child dialog (a settings page).
class DialogWindow:
    def __init__(self, driver: Driver, caption: str):
        self.driver = driver
        self.caption = caption

    def wait(self, timeout_ms: int = 15000) -> bool:
        return self.driver.wait_window('#32770', False, timeout_ms, 'wait-window', '--title', self.caption, '--visible')

    def wait_gone(self, timeout_ms: int = 15000) -> bool:
        return self.driver.wait_window('#32770', False, timeout_ms, 'wait-gone', '--title', self.caption)

    def exists(self) -> bool:
        return self.wait(timeout_ms=0)

    def close(self, button: int, timeout_ms: int = 15000) -> None:
        self.click(button)
        assert self.wait_gone(timeout_ms), f'"{self.caption}" stays open'

    def _run(self, *args: str) -> subprocess.CompletedProcess:
        result = self.driver.run(args[0], self.caption, *args[1:])
        assert result.returncode == 0, f'{args} on "{self.caption}": {result.stderr.strip()}'
        return result

    def text(self, control_id: int = 0) -> str:
        """A control's text; 0 is the caption, a drop-down list gives its selected item."""
        return self._run('get-text', str(control_id)).stdout.rstrip('\r\n')

    def set_text(self, control_id: int, text: str) -> None:
        self._run('set-text', str(control_id), text)

    def click(self, control_id: int) -> None:
        self._run('click', str(control_id))

    def select(self, control_id: int, index: int) -> None:
        """Selects an item of a drop-down list or list view, or a root item of a tree view."""
        self._run('select', str(control_id), str(index))

    def set_pos(self, control_id: int, position: int) -> None:
        self._run('set-pos', str(control_id), str(position))

    def state(self, control_id: int) -> int:
        return int(self._run('state', str(control_id)).stdout.strip())

    def enabled(self, control_id: int) -> bool:
        return self._run('enabled', str(control_id)).stdout.strip() == '1'

    def items(self, control_id: int) -> list[str]:
        return [line.rstrip('\r') for line in self._run('items', str(control_id)).stdout.splitlines()]

    def rect(self, control_id: int = 0) -> tuple[int, int, int, int]:
        """Screen rectangle (left, top, right, bottom) of the dialog, or of one of its controls."""
        return tuple(int(v) for v in self._run('rect', str(control_id)).stdout.split())

    def mirrored(self, control_id: int = 0) -> bool:
        """Whether the dialog (or a control) has the right-to-left layout (WS_EX_LAYOUTRTL)."""
        return bool(int(self._run('exstyle', str(control_id)).stdout.strip()) & 0x400000)


def shown_dialog(driver: Driver, caption: str, timeout_ms: int = 15000) -> DialogWindow:
    dialog = DialogWindow(driver, caption)
    assert dialog.wait(timeout_ms), f'no dialog "{caption}"'
    return dialog


def focused_control(driver: Driver) -> tuple[int, str, str] | None:
    """(ID, class, text) of the control that has the keyboard focus."""
    result = driver.run('focused')
    if result.returncode != 0 or not result.stdout.strip():
        return None
    control_id, cls, text = (result.stdout.rstrip('\r\n').split('\t') + ['', ''])[:3]
    return int(control_id), cls, text


class SinkRecorder:
    """Records what the program plays: the PulseAudio monitor of the null sink, 48 kHz stereo."""

    RATE = 48000

    def __init__(self, source: str = 'vsink.monitor'):
        self.source = source
        self.file = tempfile.NamedTemporaryFile(suffix='.raw', delete=False)
        self.process: subprocess.Popen | None = None

    def __enter__(self) -> 'SinkRecorder':
        self.process = subprocess.Popen(
            ['parec', f'--device={self.source}', '--raw', '--format=s16le', f'--rate={self.RATE}',
             '--channels=2', '--latency-msec=20'], stdout=self.file, stderr=subprocess.DEVNULL)
        # The monitor delivers samples (silence too) as soon as the stream is connected.
        assert wait_until(lambda: os.path.getsize(self.file.name) > 0, 10, 0.02), 'parec did not start'
        return self

    def __exit__(self, *exc) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        self.file.close()

    def samples(self):
        import numpy as np
        data = np.fromfile(self.file.name, dtype='<i2').astype(np.float32) / 32768.0
        return data.reshape(-1, 2).mean(axis=1) if data.size else data

    def levels(self):
        """The signal's RMS level in each 10 ms window."""
        import numpy as np
        s = self.samples()
        n = len(s) // (self.RATE // 100)
        return np.sqrt((s[:n * (self.RATE // 100)].reshape(n, -1) ** 2).mean(axis=1)) if n else np.zeros(0)

    def loud_seconds(self, threshold: float = 0.01) -> float:
        """How long the signal is above the threshold, in 10 ms windows."""
        return float((self.levels() > threshold).sum()) / 100.0

    def quiet_for(self, seconds: float, threshold: float = 0.01) -> bool:
        """Whether the last `seconds` recorded were silent."""
        tail = self.samples()[-int(seconds * self.RATE):]
        return len(tail) >= int(seconds * self.RATE) and float(abs(tail).max()) < threshold * 2

    # The separate sounds heard so far as (start, length) in seconds: loud 10 ms windows joined
    # across quiet stretches shorter than `gap`.
    def bursts(self, threshold: float = 0.01, gap: float = 0.12) -> list[tuple[float, float]]:
        import numpy as np
        loud = self.levels() > threshold
        found: list[list[int]] = []
        for i in np.flatnonzero(loud):
            if found and i - found[-1][1] <= gap * 100:
                found[-1][1] = i
            else:
                found.append([i, i])
        return [(a / 100.0, (b - a + 1) / 100.0) for a, b in found]

    def sounds(self) -> list[str]:
        """Each separate sound heard so far, named after the shipped sound it is."""
        s = self.samples()
        return [identify_sound(s[int(a * self.RATE):int((a + n) * self.RATE)], self.RATE) for a, n in self.bursts()]



def _band_levels(samples, rate):
    """The long-term spectrum in sixth-octave bands from 100 Hz to 10 kHz, in dB about its mean."""
    import numpy as np
    size = max(len(samples), rate)
    spectrum = np.abs(np.fft.rfft(samples * np.hanning(len(samples)), n=size))
    freqs = np.fft.rfftfreq(size, 1 / rate)
    edges = 100 * 2 ** (np.arange(0, 41) / 6)
    bands = np.array([spectrum[(freqs >= lo) & (freqs < hi)].mean() for lo, hi in zip(edges[:-1], edges[1:])])
    db = 20 * np.log10(bands + 1e-9)
    db = np.maximum(db, db.max() - 60)
    return db - db.mean()


# What a sound is like to the ear, roughly: the spectra of the two halves of its loud part, so
# that a sound and its reverse differ too.
def sound_print(samples, rate):
    import numpy as np
    window = rate // 100
    n = len(samples) // window
    rms = np.sqrt((samples[:n * window].reshape(n, window) ** 2).mean(axis=1))
    loud = np.flatnonzero(rms > rms.max() * 0.03)
    part = samples[loud[0] * window:(loud[-1] + 1) * window]
    half = len(part) // 2
    return np.concatenate([_band_levels(part[:half], rate), _band_levels(part[half:], rate)])


def print_distance(a, b) -> float:
    import numpy as np
    return float(np.sqrt(((a - b) ** 2).mean()))


def shipped_sounds() -> dict:
    """The print of every sound the program ships, by file name."""
    import wave
    import numpy as np
    prints = {}
    for path in sorted((BIN / 'sounds').glob('*.wav')):
        with wave.open(str(path)) as w:
            data = np.frombuffer(w.readframes(w.getnframes()), '<i2').astype(np.float32) / 32768.0
            prints[path.name] = sound_print(data, w.getframerate())
    return prints


def identify_sound(samples, rate: int = 48000) -> str:
    """The shipped sound nearest to what was heard."""
    heard = sound_print(samples, rate)
    return min(shipped_sounds().items(), key=lambda item: print_distance(heard, item[1]))[0]


def tooltips(driver: Driver) -> list[str]:
    """Every tooltip text on the desktop, the notification area's among them."""
    result = driver.run('tooltips')
    return [line.rstrip('\r') for line in result.stdout.splitlines() if line.strip()]


# tools/stand_ins/stand_in.cpp for the life of a with block: NVDA's server ('nvda'), JAWS
# ('jaws'), or a program that refuses the free-form overlay ('block-overlay').
class StandIn:
    def __init__(self, prefix: Prefix, verb: str, *args: str):
        self.verb, self.args = verb, args
        self.record = prefix.root / 'drive_c' / 'stand-ins' / f'{verb}-heard.txt'
        self.windows_record = prefix.windows_path(self.record)
        self.process: subprocess.Popen | None = None

    def __enter__(self) -> 'StandIn':
        self.record.parent.mkdir(exist_ok=True)
        self.record.unlink(missing_ok=True)
        self.process = subprocess.Popen(['wine', str(BIN / 'vistrel-stand-in.exe'), self.verb, self.windows_record,
                                         *self.args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        assert self.process.stdout.readline().strip() == 'ready', f'the {self.verb} stand-in did not start'
        return self

    def __exit__(self, *exc) -> None:
        self.process.stdin.close()  # it ends (and takes its registration away) when its input ends
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(10)

    def heard(self) -> list[tuple[str, str]]:
        """(operation, text) of every call, oldest first."""
        lines = self.record.read_text(encoding='utf-8').splitlines() if self.record.exists() else []
        return [tuple(line.split('\t', 1)) for line in lines if '\t' in line]


# --- Screenshots ---------------------------------------------------------------------------------

# What a capture that read nothing says.
NOTHING_CAPTURED = ('Nothing was captured: the screen, window or control could not be read. Bring what you want '
                    'to capture to the front, give it the focus and try again.')

# A window of tools/driver/driver_windows.cpp for the life of a with block; `rect` and `edit` are
# screen rectangles (left, top, right, bottom).
class DriverWindow:
    def __init__(self, *args: str):
        self.args = args
        self.process: subprocess.Popen | None = None
        self.rect = self.edit = None

    def __enter__(self) -> 'DriverWindow':
        self.process = subprocess.Popen(['wine', Driver.exe, *self.args], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        words = self.process.stdout.readline().split()
        assert words and words[0] == 'ready', f'driver window did not start: {words}'
        numbers = [int(w) for w in words[1:]]
        if len(numbers) == 8:
            self.rect, self.edit = tuple(numbers[:4]), tuple(numbers[4:])
        return self

    def __exit__(self, *exc) -> None:
        self.process.kill()
        self.process.wait(10)


def png_files(folder: Path) -> list[Path]:
    return sorted(folder.glob('*.png')) if folder.exists() else []


# Whether a file has been written to its end: a PNG ends with its IEND chunk, a GIF with its
# trailer; other files count once they are not empty (their recorder has said it is done).
def complete_file(path: Path) -> bool:
    try:
        size = path.stat().st_size
        if size == 0:
            return False
        with open(path, 'rb') as f:
            f.seek(max(0, size - 12))
            tail = f.read()
    except FileNotFoundError:
        return False
    suffix = path.suffix.lower()
    if suffix == '.png':
        return tail.endswith(b'IEND\xaeB`\x82')
    if suffix == '.gif':
        return tail.endswith(b';')
    return True


def wait_files(folder: Path, count: int = 1, pattern: str = '*.png', timeout: float = 15) -> list[Path]:
    """Waits until `count` complete files match in folder; returns them sorted."""
    deadline = time.monotonic() + timeout
    while True:
        files = sorted(p for p in folder.glob(pattern) if complete_file(p)) if folder.exists() else []
        if len(files) >= count or time.monotonic() >= deadline:
            return files
        time.sleep(0.05)


def load_image(path):
    """An RGB numpy array of an image file."""
    import numpy as np
    from PIL import Image
    with Image.open(path) as image:
        return np.asarray(image.convert('RGB'))


# The clipboard's bitmap as an RGB array once it holds one, else None. The owner is asked for its
# formats first: xclip, owning text, would answer any request with it.
def wait_clipboard_image(timeout: float = 10):
    import io

    def bitmap():
        targets = subprocess.run(['xclip', '-selection', 'clipboard', '-t', 'TARGETS', '-o'],
                                 capture_output=True, timeout=10)
        if targets.returncode != 0 or b'image/bmp' not in targets.stdout.split():
            return None
        out = subprocess.run(['xclip', '-selection', 'clipboard', '-t', 'image/bmp', '-o'],
                             capture_output=True, timeout=10)
        return out.stdout if out.returncode == 0 and out.stdout.startswith(b'BM') else None

    data = wait_until(bitmap, timeout, 0.2)
    return None if data is None else load_image(io.BytesIO(data))


def set_clipboard_text(text: str) -> None:
    subprocess.run(['xclip', '-selection', 'clipboard', '-i'], input=text.encode(), check=True,
                   timeout=10)


# --- Mouse input and display pictures (free-form selection) --------------------------------------

def mouse_move(driver: Driver, x: int, y: int) -> bool:
    """Moves the pointer to a screen position through SendInput."""
    return driver.run('mouse-move', str(x), str(y)).returncode == 0


def mouse_button(driver: Driver, action: str, button: str = 'left') -> bool:
    """Presses ('down') or releases ('up') a button where the pointer is."""
    return driver.run(f'mouse-{action}', button).returncode == 0


def mouse_drag(driver: Driver, x1: int, y1: int, x2: int, y2: int, steps: int = 8) -> bool:
    """A left-button drag whose last pointer move lands on (x2, y2)."""
    return driver.run('mouse-drag', str(x1), str(y1), str(x2), str(y2), str(steps)).returncode == 0


ARTIFACTS = ROOT / 'build' / 'test-artifacts'


# The whole X display as an RGB array (ImageMagick import), kept as build/test-artifacts/<name>.
def display_picture(name: str | None = None):
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / 'display.png'
        subprocess.run(['import', '-window', 'root', str(path)], check=True, timeout=30,
                       env=dict(os.environ))
        if name:
            ARTIFACTS.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(path, ARTIFACTS / name)
        return load_image(path)


# Waits for a balloon with this text, or one that starts with it when `starts` (and this title,
# where the notification area lets it be read).
def wait_balloon(driver: Driver, title: str, text: str, timeout: float = 10, starts: bool = False) -> bool:
    def shown():
        tips = tooltips(driver)
        titles = [t for t in tips if t.startswith('[title] ')]
        said = any(t.startswith(text) for t in tips) if starts else text in tips
        return said and (not titles or f'[title] {title}' in titles)
    return bool(wait_until(shown, timeout, 0.3))


# --- Recordings ----------------------------------------------------------------------------------

# Writes config.ini with these sections over quiet defaults (no start-up sound, no update check),
# starts the program and waits until its hotkeys are registered.
def start_configured(app: Vistrel, prefix: Prefix, env: dict | None = None, **sections) -> None:
    merged = {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0}}
    for section, values in sections.items():
        merged.setdefault(section, {}).update(values)
    write_config(prefix, merged)
    since = app.mark()  # the log of an earlier start may be there already
    app.start(env=env)
    assert app.wait_line('Registering hotkeys from provided config.', since)


def write_tone(path: Path, seconds: float, frequency: float = 440.0) -> None:
    """A quiet sine as a 16-bit mono WAVE file (a sound setting of a chosen length)."""
    import math
    import wave
    with wave.open(str(path), 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(b''.join(int(3000 * math.sin(2 * math.pi * frequency * i / 44100)).to_bytes(2, 'little', signed=True)
                               for i in range(int(44100 * seconds))))


def empty_folder(path: Path) -> Path:
    """The folder, made and emptied."""
    path.mkdir(parents=True, exist_ok=True)
    for f in path.iterdir():
        f.unlink()
    return path


def press(app: Vistrel, keys: str, prefix: str, state: str, timeout: float = 30) -> None:
    """Presses a hotkey and waits for a recorder (by its log prefix) to enter `state` because of it."""
    since = app.mark()
    assert app.driver.keys(keys)
    assert app.wait_state(prefix, state, since, timeout), f'{keys}: no {state}'


def write_tracks(prefix: Prefix, tracks: list, multi: bool = True, same_sources: bool = False) -> None:
    """multy_tracs.json with these tracks, each a dict over a mixed track of the default devices."""
    full = [dict({'name': f'Track {i + 1}', 'guid': '{6B29FC40-CA47-1067-B31D-00DD0106%04X}' % i, 'type': 0,
                  'video_source_id': 'Default', 'audio_input_id': 'Default', 'audio_output_id': '',
                  'input_volume': 100, 'output_volume': 100}, **t) for i, t in enumerate(tracks)]
    document = {'multi_track_enabled': multi, 'tracks': full, 'use_same_sources_in_single_mode': same_sources}
    prefix.settings_dir.mkdir(parents=True, exist_ok=True)
    (prefix.settings_dir / 'multy_tracs.json').write_text(json.dumps(document, ensure_ascii=False), encoding='utf-8')


def probe(path) -> dict:
    """ffprobe's streams and format of a media file."""
    out = subprocess.run(['ffprobe', '-v', 'error', '-show_streams', '-show_format', '-of', 'json', str(path)],
                         capture_output=True, text=True, check=True).stdout
    return json.loads(out)


def atom_order(path) -> list[str]:
    """The top-level MP4 boxes in file order (a fragmented file has 'moof' boxes)."""
    data = Path(path).read_bytes()
    names, offset = [], 0
    while offset + 8 <= len(data):
        size = int.from_bytes(data[offset:offset + 4], 'big')
        names.append(data[offset + 4:offset + 8].decode('latin-1'))
        if size == 1:
            size = int.from_bytes(data[offset + 8:offset + 16], 'big')
        if size < 8:
            break
        offset += size
    return names


def decoded_audio(path, index: int = 0):
    """The left channel of an audio stream at 48 kHz, as float samples."""
    import numpy as np
    raw = subprocess.run(['ffmpeg', '-v', 'error', '-i', str(path), '-map', f'0:a:{index}', '-af', 'pan=mono|c0=FL',
                          '-f', 'f32le', '-ar', '48000', '-'], capture_output=True, check=True).stdout
    return np.frombuffer(raw, dtype='<f4')


def dominant_frequency(samples, rate: int = 48000) -> float:
    import numpy as np
    spectrum = np.abs(np.fft.rfft(samples * np.hanning(len(samples))))
    return float(np.fft.rfftfreq(len(samples), 1 / rate)[int(np.argmax(spectrum))])


def rms(samples) -> float:
    import numpy as np
    return float(np.sqrt(np.mean(samples ** 2)))
