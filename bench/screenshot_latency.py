#!/usr/bin/env python3
"""Benchmark: full-screen hotkey -> PNG on disk, at 1920x1080, median of 10 (prints figures only).

    eval "$(scripts/wine-env.sh start)"; /usr/bin/python3 bench/screenshot_latency.py

The time includes the 300 ms the capture worker waits before it copies the screen (so that the
hotkey's own key-up and any closing menu are not in the picture).
"""
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests' / 'e2e'))

from harness import Driver, Prefix, Vistrel, write_config  # noqa: E402


def main() -> None:
    prefix = Prefix()
    prefix.reset_settings()
    folder = prefix.user_dir / 'Pictures' / 'vistrel-bench'
    folder.mkdir(parents=True, exist_ok=True)
    for f in folder.glob('*.png'):
        f.unlink()
    write_config(prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0},
                          'Options': {'OutputMode': 1, 'PlaySound': 0},
                          'Paths': {'ScreenshotPath': prefix.windows_path(folder)}})
    driver = Driver()
    app = Vistrel(prefix, driver).start()
    samples = []
    try:
        for _ in range(10):
            before = set(folder.glob('*.png'))
            started = time.monotonic()
            driver.keys('ctrl+shift+f5')
            while True:
                new = [p for p in set(folder.glob('*.png')) - before if p.stat().st_size > 0]
                if new:
                    break
                time.sleep(0.005)
            samples.append(time.monotonic() - started)
            time.sleep(0.5)
    finally:
        app.kill()
    ms = sorted(s * 1000 for s in samples)
    print('hotkey -> PNG on disk, 1920x1080, 10 captures (includes the 300 ms pre-capture wait and '
          'the driver start-up of about 50 ms)')
    print(f'median {statistics.median(ms):.0f} ms, min {ms[0]:.0f} ms, max {ms[-1]:.0f} ms')


if __name__ == '__main__':
    main()
