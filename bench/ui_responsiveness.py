#!/usr/bin/env python3
"""Benchmark: how long the user-interface thread keeps the user waiting while a long recording
is finished. Records the full screen at 1080p (a picture that changes all the time, and the
microphone) for a while, stops it, and asks the program's core window to answer over and over
from the stop until the recording is saved. Prints figures only.

    eval "$(scripts/wine-env.sh start)"; /usr/bin/python3 bench/ui_responsiveness.py [seconds]
"""
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests' / 'e2e'))
sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness import BIN, CORE_WINDOW_CLASS, VIDEO, Driver, DriverWindow, Prefix, Vistrel  # noqa: E402
from video_recording import prepare_long_recording  # noqa: E402


def main() -> None:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 120.0
    prefix, driver = Prefix(), Driver()
    folder = prepare_long_recording(prefix)
    app = Vistrel(prefix, driver).start()
    try:
        with DriverWindow('animate', '60'):
            since = app.mark()
            driver.keys('ctrl+alt+shift+f5')
            assert app.wait_state(VIDEO, 'RECORDING', since)
            time.sleep(seconds)
            watch = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'latency', CORE_WINDOW_CLASS,
                                      '--message-only', '--timeout', '15000'],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            time.sleep(1.0)  # the watcher is answering before the stop
            since = app.mark()
            stopped = time.monotonic()
            driver.keys('ctrl+alt+shift+f5')
            assert app.wait_state(VIDEO, 'IDLE', since, timeout=300)
            finished = time.monotonic() - stopped
            out, _ = watch.communicate(timeout=60)
    finally:
        app.kill()
    size = sum(f.stat().st_size for f in folder.glob('*.mp4'))
    print(f'{seconds:.0f} s of 1080p30 with the microphone: {size / 1e6:.1f} MB, finished {finished:.2f} s after the stop')
    print(f'core window from 1 s before the stop for 15 s: {out.strip() or "no answer"} (ms)')


if __name__ == '__main__':
    main()
