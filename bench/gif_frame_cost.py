#!/usr/bin/env python3
"""Benchmark: GIF recording at full frame rate. Prints figures only.

    eval "$(scripts/wine-env.sh start)"; /usr/bin/python3 bench/gif_frame_cost.py [seconds]

Three recordings:
- 1920x1080 screen mode for `seconds` (30) of a picture that changes all the time (the driver's
  quadrants with a black square moving 40 px every 50 ms): frames captured per second, frames
  written, left out unchanged and dropped, per-frame costs, file size per second;
- 1920x1080 screen mode of the still quadrants for 8 s and a still 640x480 window for 6 s, the
  content of the earlier figures (README), for the file size per second.
Each recording is stopped by the hotkey. For each: how long after capture ended the file was
complete (the recorder's own figure, and as seen from here: from sending the stop key until the
log says the recorder is idle again), and the frame delays against the recorded time.
"""
import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests' / 'e2e'))

from harness import GIF, Driver, DriverWindow, Prefix, Vistrel, wait_files, write_config  # noqa: E402
from test_gif import parse_gif  # noqa: E402

COSTS = re.compile(r'GIF Recorder: (\d+) frames of (\d+)x(\d+) captured \(([\d.]+) ms each\): (\d+) written with '
                   r'(\d+) palettes, (\d+) unchanged, (\d+) dropped; per written frame: quantise ([\d.]+) ms, '
                   r'encode ([\d.]+) ms\.')
COMPLETE = re.compile(r'GIF Recorder: The file was complete (\d+) ms after capture ended\.')


def record(prefix: Prefix, driver: Driver, folder: Path, mode: int, seconds: int, window_args: list[str]) -> dict:
    for f in folder.glob('*.gif'):
        f.unlink()
    prefix.reset_settings()  # a fresh log for each run
    write_config(prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0, 'IncludeCursor': 1},
                          'GifOptions': {'GifMode': mode, 'GifDuration': 0, 'PlayGifEventSounds': 0},
                          'Paths': {'GifPath': prefix.windows_path(folder)}})
    app = Vistrel(prefix, driver).start()
    try:
        assert app.wait_log('Registering hotkeys from provided config.')
        with DriverWindow(*window_args):
            driver.keys('ctrl+shift+f10')
            assert app.wait_log_count('GIF Recorder: Initialization successful. Starting record loop.', 1, 30)
            time.sleep(seconds)
            stopped = time.monotonic()
            driver.keys('ctrl+shift+f10')
            while 'GIF Recorder: State changed to IDLE.' not in app.log_texts():
                assert time.monotonic() < stopped + 60, 'the recording did not end'
                time.sleep(0.01)
            saved = time.monotonic()
        texts = app.log_texts()
        costs = next(COSTS.match(t) for t in texts if COSTS.match(t))
        complete = next(COMPLETE.match(t) for t in texts if COMPLETE.match(t))
        recorded = app.recorded(GIF)[-1]
    finally:
        app.kill()
    captured, width, height, capture, written, palettes, unchanged, dropped, quantise, encode = costs.groups()
    path = wait_files(folder, 1, '*.gif')[0]
    gif = parse_gif(path)
    return {'size': f'{width}x{height}', 'captured': int(captured), 'capture': float(capture),
            'written': int(written), 'palettes': int(palettes), 'unchanged': int(unchanged), 'dropped': int(dropped),
            'quantise': float(quantise), 'encode': float(encode), 'recorded': recorded,
            'delays': sum(gif.delays) / 100, 'bytes': path.stat().st_size, 'complete': int(complete.group(1)),
            'seen': (saved - stopped) * 1000}


def main() -> None:
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    prefix = Prefix()
    folder = prefix.user_dir / 'Pictures' / 'vistrel-bench-gif'
    folder.mkdir(parents=True, exist_ok=True)
    driver = Driver()
    runs = [
        ('changing', record(prefix, driver, folder, 2, seconds, ['pattern', str(seconds + 30), '--moving'])),
        ('still', record(prefix, driver, folder, 2, 8, ['pattern', '40'])),
        ('still', record(prefix, driver, folder, 1, 6, ['window', 'GIF bench', '200', '150', '640', '480', '336699',
                                                         '40'])),
    ]
    print('GIF recording: frames per second, per-frame cost, file size per second, time to a complete file')
    for content, r in runs:
        print(f"{r['size']:>9} {content:>8}, {r['recorded']:.1f} s: {r['captured'] / r['recorded']:.1f} frames/s captured "
              f"(capture {r['capture']:.1f} ms), {r['written']} written with {r['palettes']} palettes "
              f"(quantise {r['quantise']:.1f} ms, encode {r['encode']:.1f} ms per frame), {r['unchanged']} unchanged, "
              f"{r['dropped']} dropped; {r['bytes'] / r['recorded'] / 1024:.1f} KiB per second; delays "
              f"{r['delays']:.2f} s; file complete {r['complete']} ms after capture ended "
              f"({r['seen']:.0f} ms from the stop key to idle)")


if __name__ == '__main__':
    main()
