#!/usr/bin/env python3
"""Benchmark: what one GIF frame costs (capture + quantise + encode) at 1920x1080 (screen mode)
and at 640x480 (window mode), and how many bytes a second of GIF takes. Prints figures only.

    eval "$(scripts/wine-env.sh start)"; /usr/bin/python3 bench/gif_frame_cost.py

The per-frame times come from the recorder's own summary line in the log; the length of each GIF
is the sum of its frame delays. The content is the driver's test windows (flat colours over the
empty X root window), which is the easy case for the encoder.
"""
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests' / 'e2e'))

from harness import Driver, DriverWindow, Prefix, Vistrel, wait_files, write_config  # noqa: E402
from test_gif import parse_gif, wait_count  # noqa: E402

COSTS = re.compile(r'GIF Recorder: (\d+) frames of (\d+)x(\d+); per frame: capture ([\d.]+) ms, '
                   r'quantise ([\d.]+) ms, encode ([\d.]+) ms\.')


def record(prefix: Prefix, driver: Driver, folder: Path, mode: int, seconds: int, window_args: list[str]):
    for f in folder.glob('*.gif'):
        f.unlink()
    prefix.reset_settings()  # a fresh log for each run
    write_config(prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0, 'IncludeCursor': 1},
                          'GifOptions': {'GifMode': mode, 'GifDuration': seconds, 'PlayGifEventSounds': 0},
                          'Paths': {'GifPath': prefix.windows_path(folder)}})
    app = Vistrel(prefix, driver).start()
    try:
        assert app.wait_log('Registering hotkeys from provided config.')
        with DriverWindow(*window_args):
            driver.keys('ctrl+shift+f10')
            assert wait_count(app, 'GIF Recorder: State changed to IDLE.', 1, seconds + 60), 'the recording did not end'
        line = next(t for t in app.log_texts() if COSTS.match(t))
    finally:
        app.kill()
    frames, width, height, capture, quantise, encode = COSTS.match(line).groups()
    path = wait_files(folder, 1, '*.gif')[0]
    gif = parse_gif(path)
    length = sum(gif.delays) / 100
    return {'size': f'{width}x{height}', 'frames': int(frames), 'capture': float(capture),
            'quantise': float(quantise), 'encode': float(encode), 'seconds': length,
            'bytes': path.stat().st_size}


def main() -> None:
    prefix = Prefix()
    folder = prefix.user_dir / 'Pictures' / 'vistrel-bench-gif'
    folder.mkdir(parents=True, exist_ok=True)
    driver = Driver()
    runs = [
        record(prefix, driver, folder, 2, 8, ['pattern', '90']),
        record(prefix, driver, folder, 1, 6, ['window', 'GIF bench', '200', '150', '640', '480', '336699', '90']),
    ]
    print('GIF frame cost (capture + quantise + encode, per frame) and file size per second')
    for r in runs:
        total = r['capture'] + r['quantise'] + r['encode']
        print(f"{r['size']:>9}: {total:7.1f} ms/frame (capture {r['capture']:.1f}, quantise {r['quantise']:.1f}, "
              f"encode {r['encode']:.1f}); {r['frames']} frames in {r['seconds']:.1f} s "
              f"= {r['frames'] / r['seconds']:.1f} frames/s; {r['bytes'] / r['seconds'] / 1024:.1f} KiB per second")


if __name__ == '__main__':
    main()
