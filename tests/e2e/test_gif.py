"""GIF recordings end to end, with the files read independently of the program's reader."""
import re
import struct
import subprocess
import time
from dataclasses import dataclass, field

import numpy as np
import pytest
from PIL import Image

from harness import (GIF, DriverWindow, display_picture, empty_folder, mouse_move, start_configured, tooltips,
                     wait_balloon, wait_files, wait_until)

START_STOP = 'ctrl+shift+f10'
CMD_GIF = 40015
STAMP = r'\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d'


@dataclass
class GifFile:
    """The block structure of a GIF, read here independently of the program's own reader."""
    width: int
    height: int
    delays: list = field(default_factory=list)   # per frame, None without a control extension
    loop_count: int | None = None
    loop_first: bool = False                       # the loop block directly follows the header


def sub_blocks(data: bytes, pos: int):
    chunks = []
    while True:
        size = data[pos]
        pos += 1
        if size == 0:
            return chunks, pos
        assert pos + size <= len(data), 'sub-block past the end'
        chunks.append(data[pos:pos + size])
        pos += size


def parse_gif(path) -> GifFile:
    data = path.read_bytes()
    assert data[:6] in (b'GIF87a', b'GIF89a'), data[:6]
    width, height, packed = struct.unpack('<HHB', data[6:11])
    pos = 13 + ((3 << ((packed & 7) + 1)) if packed & 0x80 else 0)
    gif = GifFile(width, height)
    pending = None
    index = 0
    while data[pos] != 0x3B:
        if data[pos] == 0x21:
            label = data[pos + 1]
            chunks, pos = sub_blocks(data, pos + 2)
            if label == 0xF9:
                assert len(chunks[0]) == 4
                pending = struct.unpack('<H', chunks[0][1:3])[0]
            elif label == 0xFF and chunks[0] == b'NETSCAPE2.0':
                assert chunks[1][0] == 1
                gif.loop_count = struct.unpack('<H', chunks[1][1:3])[0]
                gif.loop_first = index == 0
        elif data[pos] == 0x2C:
            local = data[pos + 9]
            pos += 10 + ((3 << ((local & 7) + 1)) if local & 0x80 else 0) + 1
            _, pos = sub_blocks(data, pos)
            gif.delays.append(pending)
            pending = None
        else:
            raise AssertionError(f'unknown block 0x{data[pos]:02x} at {pos}')
        index += 1
    return gif


def decode_with_pil(path):
    """Every frame of a GIF as PIL shows it, RGB."""
    with Image.open(path) as image:
        frames = []
        for number in range(image.n_frames):
            image.seek(number)
            frames.append(np.asarray(image.convert('RGB')))
    return np.stack(frames)


@pytest.fixture
def gifs(prefix):
    return empty_folder(prefix.user_dir / 'Pictures' / 'vistrel-gif-e2e')


def start(app, prefix, gifs, gif=None, **options):
    gif_options = dict({'GifMode': 1, 'GifDuration': 0, 'PlayGifEventSounds': 0}, **(gif or {}))
    start_configured(app, prefix, GifOptions=gif_options, Paths={'GifPath': prefix.windows_path(gifs)}, **options)


# Every frame is shown as long as it lasted, at least a tenth of a second, except the last, which
# lasts until the recording ended.
def lasting(delays) -> bool:
    return bool(delays) and all(d is not None and d >= 10 for d in delays[:-1]) and \
        delays[-1] is not None and delays[-1] >= 1


# Waits for the `count`th record loop to begin (after the countdown); returns when it was seen.
def wait_recording(app, count=1, timeout=20):
    assert app.wait_log_count('GIF Recorder: Initialization successful. Starting record loop.', count, timeout)
    return time.monotonic()


def wait_stopped(app, count=1, timeout=30):
    return app.wait_log_count('GIF Recorder: State changed to IDLE.', count, timeout)


def test_duration_ends_the_recording_and_the_gif_plays_at_real_speed(app, prefix, gifs, driver):
    start(app, prefix, gifs, gif={'GifDuration': 5, 'PlayGifEventSounds': 1}, General={'IncludeCursor': 1})
    with DriverWindow('window', 'GIF target', '300', '200', '301', '201', '336699', '60') as w:
        left, top, right, bottom = w.rect
        assert mouse_move(driver, left + 200, top + 130)
        assert driver.keys(START_STOP)
        began = wait_recording(app)
        assert app.wait_log('GIF Recorder: Duration reached. Stopping automatically.', timeout=15)
        recorded = time.monotonic() - began
        assert wait_stopped(app)
        files = wait_files(gifs, 1, '*.gif')
        assert len(files) == 1
        path = files[0]
        assert re.fullmatch(f'Recording_{STAMP}.gif', path.name), path.name
        assert wait_balloon(driver, 'GIF Recording Saved', f'GIF saved to: {prefix.windows_path(path)}')

        # After stopping by itself the recorder starts again; a user stop ends the second file.
        assert driver.keys(START_STOP)
        wait_recording(app, 2)
        time.sleep(1.0)
        assert driver.keys(START_STOP)
        assert wait_stopped(app, 2)

    timed = app.recorded(GIF)[0]
    assert abs(timed - recorded) < 1.0, (timed, recorded)
    texts = app.log_texts()
    assert 'GIF Recorder: Generated final GIF path: ' + prefix.windows_path(path) in texts
    assert 'GIF Recorder: Stop requested.' in texts
    gif = parse_gif(path)
    assert (gif.width, gif.height) == (300, 200), 'the window\'s odd 301 x 201 is cut to even sizes'
    # Each frame is shown for as long as it lasted (a tenth of a second unless the machine was
    # slow), and together they last the recording: five seconds, and at most one frame more.
    assert lasting(gif.delays), gif.delays
    assert abs(sum(gif.delays) / 100 - timed) <= 0.05, (sum(gif.delays), timed)
    assert 5.0 <= timed <= 5.0 + max(gif.delays) / 100 + 0.05, (timed, gif.delays)
    # A still window: frames without change are left out, the one before lasting longer.
    assert len(gif.delays) < 10, gif.delays
    assert gif.loop_count == 0 and gif.loop_first
    # The window's own colour, exactly, in the first and last frames.
    frames = decode_with_pil(path)
    assert tuple(frames[0][150, 150]) == tuple(frames[-1][150, 150]) == (0x33, 0x66, 0x99)
    # The pointer (an arrow) is drawn where it is.
    assert (frames[0][128:160, 198:225] != (0x33, 0x66, 0x99)).any(axis=2).sum() > 20

    second = [f for f in wait_files(gifs, 2, '*.gif') if f != path]
    assert len(second) == 1, 'the second recording gets a file of its own'
    again = parse_gif(second[0])
    assert again.delays and all(d is not None for d in again.delays) and again.loop_count == 0


def test_counter_and_tray_show_the_recording_and_switching_windows_ends_it(app, prefix, gifs, driver):
    start(app, prefix, gifs)
    with DriverWindow('window', 'GIF first', '200', '150', '400', '300', 'cc3300', '60'):
        assert driver.keys(START_STOP)
        wait_recording(app)
        counter_text = lambda: driver.run('window-text', 'GifCounterWindowClass').stdout.strip()
        assert wait_until(lambda: counter_text() == '00:03', 10), counter_text()
        picture = display_picture('gif-counter-00-03.png')
        assert 'Vistrel (Recording)' in tooltips(driver)
        with DriverWindow('window', 'GIF second', '700', '150', '300', '300', '00cc33', '30'):
            assert app.wait_log('GIF Recorder: Target window lost focus. Stopping automatically.', timeout=10)
            assert wait_stopped(app)
    counter = picture[10:40, 10:90]
    assert (counter.sum(axis=2) == 0).sum() > 200, 'black text cells'
    assert (counter.min(axis=2) == 255).sum() > 30, 'white figures'
    assert wait_until(lambda: 'Vistrel' in tooltips(driver)), tooltips(driver)
    assert driver.wait_gone('GifCounterWindowClass', timeout_ms=5000)
    files = wait_files(gifs, 1, '*.gif')
    assert len(files) == 1
    assert wait_balloon(driver, 'GIF Recording Saved', f'GIF saved to: {prefix.windows_path(files[0])}')
    gif = parse_gif(files[0])
    assert (gif.width, gif.height) == (400, 300) and gif.loop_count == 0
    # Frames slowed down by the screenshot above say how long they really lasted.
    assert lasting(gif.delays), gif.delays
    assert sum(gif.delays) >= 300, gif.delays
    assert abs(sum(gif.delays) / 100 - app.recorded(GIF)[-1]) <= 0.05, gif.delays
    assert tuple(decode_with_pil(files[0])[len(gif.delays) // 2][200, 200]) == (0xCC, 0x33, 0x00)


SQUARE_COLOURS = [(0, 0, 0), (0x20, 0x40, 0x60), (0x80, 0x10, 0xC0), (0x33, 0x99, 0x66)]
PALETTES = re.compile(r'GIF Recorder: .* written with (\d+) palettes')


def decode_with_ffmpeg(path, width, height):
    raw = subprocess.run(['/usr/bin/ffmpeg', '-v', 'error', '-i', str(path), '-fps_mode', 'passthrough',
                          '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'], capture_output=True, check=True).stdout
    return np.frombuffer(raw, np.uint8).reshape(-1, height, width, 3)


def test_screen_mode_frames_decode_alike_in_two_decoders_and_show_the_moving_pattern(app, prefix, gifs, driver):
    # An unknown screen falls back to the primary monitor; the pointer is left out.
    start(app, prefix, gifs, gif={'GifMode': 2, 'GifDuration': 3}, General={'IncludeCursor': 0},
          Devices={'ScreenID': '\\\\.\\DISPLAY9'})
    with DriverWindow('pattern', '60', '--moving'):
        assert mouse_move(driver, 500, 300)
        assert app.command(CMD_GIF)
        wait_recording(app)
        assert wait_stopped(app, timeout=60)
    texts = app.log_texts()
    warning = texts.index('GIF Recorder: [WARNING] Selected screen not found. Falling back to primary monitor.')
    assert texts[warning - 1] == 'GIF Recorder: Attempting to capture selected screen: \\\\.\\DISPLAY9'
    path = wait_files(gifs, 1, '*.gif')[0]
    gif = parse_gif(path)
    assert (gif.width, gif.height) == (1920, 1080)
    assert gif.loop_count == 0 and gif.loop_first
    assert abs(sum(gif.delays) / 100 - app.recorded(GIF)[-1]) <= 0.1, gif.delays
    # Slow frames are marked with their real length: together they cover the three seconds.
    assert lasting(gif.delays) and 300 <= sum(gif.delays) <= 300 + max(gif.delays), gif.delays
    pil = decode_with_pil(path)
    ffmpeg = decode_with_ffmpeg(path, gif.width, gif.height)
    assert len(pil) == len(ffmpeg) == len(gif.delays) >= 10, (len(pil), len(ffmpeg), gif.delays)
    differing = [n for n in range(len(pil)) if not np.array_equal(pil[n], ffmpeg[n])]
    assert not differing, f'frames {differing} decode differently'

    # The square changes colour: new palettes come and go.
    assert int(next(m for t in app.log_texts() if (m := PALETTES.search(t))).group(1)) > 1

    # What the driver draws (tools/driver/driver_windows.cpp): quadrants, and a square that moves
    # along the middle rows in four colours. The elapsed-time counter sits in the top-left corner;
    # a pointer drawn at (500, 300) would differ from the pattern.
    expected = np.zeros((1080, 1920, 3), np.uint8)
    expected[:540, :960] = (255, 0, 0)
    expected[:540, 960:] = (0, 255, 0)
    expected[540:, :960] = (0, 0, 255)
    expected[540:, 960:] = (255, 255, 255)
    band = np.zeros((1080, 1920), bool)
    band[480:600] = True
    counter = np.zeros((1080, 1920), bool)
    counter[:60, :120] = True
    for number, picture in enumerate(pil):
        same = (picture == expected).all(axis=2)
        square = np.zeros_like(same)
        for colour in SQUARE_COLOURS:
            square |= (picture == colour).all(axis=2)
        assert (same | counter)[~band].all(), f'frame {number} differs from the pattern'
        assert (same | square)[band].all(), f'frame {number} shows colours of neither the pattern nor the square'
        assert square[band].sum() >= 120 * 120, f'frame {number} lacks the square'
        if number:
            assert not np.array_equal(picture, pil[number - 1]), f'frame {number} repeats the one before'
