#!/usr/bin/env python3
"""Benchmark: 20 s full-screen video recordings at 1080p60 and 720p30 (prints figures only),
each beside FFmpeg's own gdigrab + libx264 ultrafast at the same size and rate.

    eval "$(scripts/wine-env.sh start)"; /usr/bin/python3 bench/video_recording.py [seconds]

A full-screen window changes colour every few milliseconds meanwhile, so that every picture a
recorder takes differs from the one before: "distinct frames per second" is how many different
pictures reached the file each second.
"""
import os
import re
import resource
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests' / 'e2e'))

from harness import BIN, Driver, DriverWindow, Prefix, Vistrel, wait_files, write_config  # noqa: E402

SUMMARY = re.compile(r'Recorder: (\d+) frames written, (\d+) intervals skipped; tick mean ([\d.]+) ms, '
                     r'95th percentile ([\d.]+) ms\.')


def cpu_seconds(pid: int) -> float:
    fields = Path(f'/proc/{pid}/stat').read_text().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def vistrel_pid() -> int:
    """The newest Vistrel.exe running in this Wine prefix (other environments may run their own)."""
    found = []
    ours = ('WINEPREFIX=' + os.environ.get('WINEPREFIX', '')).encode()
    for entry in Path('/proc').iterdir():
        if entry.name.isdigit():
            try:
                if (b'Vistrel.exe' in (entry / 'cmdline').read_bytes()
                        and ours in (entry / 'environ').read_bytes().split(b'\0')):
                    started = int((entry / 'stat').read_text().rsplit(')', 1)[1].split()[19])
                    found.append((started, int(entry.name)))
            except (OSError, ValueError, IndexError):
                pass
    if not found:
        raise RuntimeError('Vistrel.exe is not running')
    return max(found)[1]


def prepare_long_recording(prefix: Prefix) -> Path:
    """Settings for a 1080p30 full-screen recording with the microphone and no sounds, into an
    emptied Videos\\vistrel-bench folder (the long-recording and interface benchmarks)."""
    folder = prefix.user_dir / 'Videos' / 'vistrel-bench'
    folder.mkdir(parents=True, exist_ok=True)
    for f in folder.glob('*.mp4'):
        f.unlink()
    prefix.reset_settings()
    write_config(prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0},
                          'VideoOptions': {'VideoMode': 0, 'AudioSource': 1, 'VideoQuality': 2,
                                           'VideoFramerate': 30, 'PlayVideoEventSounds': 0},
                          'Paths': {'VideoPath': prefix.windows_path(folder)}})
    return folder


def probe_durations(path: Path) -> tuple[float, float | None]:
    out = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'stream=codec_type,duration', '-of', 'csv=p=0',
                          str(path)], capture_output=True, text=True, check=True).stdout
    durations = {line.split(',')[0]: float(line.split(',')[1]) for line in out.split() if ',' in line}
    return durations['video'], durations.get('audio')


def distinct_frames(path: Path) -> int:
    out = subprocess.run(['ffmpeg', '-v', 'error', '-i', str(path), '-map', '0:v:0', '-f', 'framemd5', '-'],
                         capture_output=True, text=True, check=True).stdout
    sums = [line.split(',')[-1].strip() for line in out.splitlines() if line and not line.startswith('#')]
    return sum(1 for i, s in enumerate(sums) if i == 0 or s != sums[i - 1])


def record_with_vistrel(prefix: Prefix, driver: Driver, folder: Path, quality: int, rate: int, seconds: float):
    for f in folder.glob('*.mp4'):
        f.unlink()
    write_config(prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0},
                          'VideoOptions': {'VideoMode': 0, 'AudioSource': 1, 'VideoQuality': quality,
                                           'VideoFramerate': rate, 'PlayVideoEventSounds': 0},
                          'Paths': {'VideoPath': prefix.windows_path(folder)}})
    app = Vistrel(prefix, driver).start()
    try:
        pid = vistrel_pid()
        # The log goes on from earlier runs: lines are counted.
        active = 'Recorder: All initializations successful. Recording is now active.'
        cleaned = 'Recorder: State changed to IDLE.'
        before = app.log_texts()
        driver.keys('ctrl+alt+shift+f5')
        assert app.wait_log_count(active, before.count(active) + 1, timeout=30)
        cpu_before = cpu_seconds(pid)
        time.sleep(seconds)
        driver.keys('ctrl+alt+shift+f5')
        assert app.wait_log_count(cleaned, before.count(cleaned) + 1, timeout=60)
        cpu = cpu_seconds(pid) - cpu_before
        summary = [m for m in map(SUMMARY.search, app.log_texts()) if m][-1]
    finally:
        app.kill()
    path = wait_files(folder, 1, '*.mp4')[0]
    video, audio = probe_durations(path)
    return {'distinct': distinct_frames(path) / video, 'frames': int(summary[1]), 'skipped': int(summary[2]),
            'mean': float(summary[3]), 'p95': float(summary[4]), 'video': video, 'audio': audio, 'cpu': cpu}


def record_with_gdigrab(folder: Path, height: int, rate: int, seconds: float):
    out = folder / f'gdigrab-{height}p{rate}.mp4'
    out.unlink(missing_ok=True)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(['wine', str(BIN / 'ffmpeg.exe'), '-v', 'error', '-y', '-f', 'gdigrab', '-framerate', str(rate),
                    '-t', str(seconds), '-i', 'desktop', '-vf', f'scale=-2:{height}:flags=fast_bilinear',
                    '-c:v', 'libx264', '-preset', 'ultrafast', '-tune', 'zerolatency', '-pix_fmt', 'yuv420p',
                    Prefix().windows_path(out)], check=True, stdin=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    video, _ = probe_durations(out)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return {'distinct': distinct_frames(out) / video, 'video': video, 'cpu': cpu}


def main() -> None:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 20
    prefix = Prefix()
    prefix.reset_settings()  # no multi-track file from earlier tests
    folder = prefix.user_dir / 'Videos' / 'vistrel-bench'
    folder.mkdir(parents=True, exist_ok=True)
    driver = Driver()
    print(f'{seconds:.0f} s full-screen recordings of a 1920x1080 display whose picture changes every few ms')
    with DriverWindow('animate', str(int(seconds * 4 + 120))):
        for quality, height, rate in ((2, 1080, 60), (1, 720, 30)):
            ours = record_with_vistrel(prefix, driver, folder, quality, rate, seconds)
            theirs = record_with_gdigrab(folder, height, rate, seconds)
            print(f'\n{height}p{rate}')
            print(f'  Vistrel : {ours["distinct"]:.1f} distinct frames/s, {ours["frames"]} frames written, '
                  f'{ours["skipped"]} intervals skipped; tick mean {ours["mean"]:.1f} ms, '
                  f'95th percentile {ours["p95"]:.1f} ms')
            audio = f'{ours["audio"] - ours["video"]:+.3f} s' if ours['audio'] is not None else 'no audio'
            print(f'            video {ours["video"]:.2f} s, audio end minus video end {audio}, '
                  f'CPU {ours["cpu"]:.1f} s ({ours["cpu"] / seconds * 100:.0f} % of one core)')
            print(f'  gdigrab : {theirs["distinct"]:.1f} distinct frames/s, video {theirs["video"]:.2f} s, '
                  f'CPU {theirs["cpu"]:.1f} s ({theirs["cpu"] / seconds * 100:.0f} % of one core)')
            if theirs['distinct'] > 0:
                print(f'  ratio of distinct frames/s, Vistrel / gdigrab: {ours["distinct"] / theirs["distinct"]:.2f}')


if __name__ == '__main__':
    main()
