#!/usr/bin/env python3
"""Benchmark: a long recording does not grow the program's memory, and its audio and video end
together. Records the full screen (a picture that changes all the time) with the microphone for
ten minutes, reads the process's resident memory every ten seconds, and prints figures only.

    eval "$(scripts/wine-env.sh start)"; /usr/bin/python3 bench/long_recording.py [minutes] [mode]

mode: single (default) or multi (one screen track and one microphone track).
"""
import json
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests' / 'e2e'))
sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness import VIDEO, Driver, DriverWindow, Prefix, Vistrel, wait_files  # noqa: E402
from video_recording import prepare_long_recording, probe_durations, vistrel_pid  # noqa: E402


def resident_mb(pid: int) -> float:
    for line in Path(f'/proc/{pid}/status').read_text().splitlines():
        if line.startswith('VmRSS:'):
            return int(line.split()[1]) / 1024
    return 0.0


def main() -> None:
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
    multi = len(sys.argv) > 2 and sys.argv[2] == 'multi'
    prefix, driver = Prefix(), Driver()
    folder = prepare_long_recording(prefix)
    track = {'name': 'Screen', 'guid': '{6B29FC40-CA47-1067-B31D-00DD01060001}', 'type': 0,
             'video_source_id': 'Default', 'audio_input_id': 'Default', 'audio_output_id': '',
             'input_volume': 100, 'output_volume': 100}
    (prefix.settings_dir / 'multy_tracs.json').write_text(json.dumps(
        {'multi_track_enabled': multi, 'tracks': [track], 'use_same_sources_in_single_mode': False}))
    app = Vistrel(prefix, driver).start()
    samples = []
    try:
        with DriverWindow('animate', '60'):
            since = app.mark()
            driver.keys('ctrl+alt+shift+f5')
            assert app.wait_state(VIDEO, 'RECORDING', since)
            pid = vistrel_pid()
            began = time.monotonic()
            while time.monotonic() - began < minutes * 60:
                samples.append((time.monotonic() - began, resident_mb(pid)))
                time.sleep(10)
            since = app.mark()
            driver.keys('ctrl+alt+shift+f5')
            assert app.wait_state(VIDEO, 'IDLE', since, timeout=600)
    finally:
        app.kill()
    video, audio = probe_durations(wait_files(folder, 1, '*.mp4')[0])
    # After the first minute the encoder's and the muxer's buffers have settled.
    settled = [mb for t, mb in samples if t >= 60] or [mb for _, mb in samples]
    growth = (settled[-1] - settled[0]) / settled[0] * 100
    print(f'{minutes:.0f} min, {"multi-track" if multi else "single-track"} 1080p30 with the microphone')
    print(f'resident memory: {settled[0]:.1f} MB after a minute, {settled[-1]:.1f} MB at the end '
          f'({growth:+.1f} %), at most {max(mb for _, mb in samples):.1f} MB')
    print(f'video {video:.3f} s, audio end minus video end {audio - video:+.3f} s')


if __name__ == '__main__':
    main()
