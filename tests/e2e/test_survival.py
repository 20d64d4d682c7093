"""Recordings that survive a crash, a full disk and a microphone that goes away."""
import os
import signal
import subprocess
import time
import uuid

import pytest

from harness import (AUDIO, CORE_WINDOW_CLASS, VIDEO, DriverWindow, empty_folder, press, probe, start_configured,
                     wait_balloon, wait_files, write_tracks)

VIDEO_KEYS, AUDIO_KEYS = 'ctrl+alt+shift+f5', 'ctrl+alt+shift+f7'


def durations(path):
    """The duration of each stream, as ffprobe reads them."""
    return [(s['codec_type'], float(s['duration'])) for s in probe(path)['streams']]


def folder(prefix, kind):
    return empty_folder(prefix.user_dir / kind / 'vistrel-survival')


@pytest.mark.parametrize('multi_track', [False, True])
def test_killed_recordings_keep_all_but_their_last_seconds(app, prefix, driver, multi_track):
    """Video, and without tracks an M4A audio recording beside it, killed the way a crash does."""
    videos, music = folder(prefix, 'Videos'), folder(prefix, 'Music')
    write_tracks(prefix, [{'name': 'Screen and voice'}], multi=multi_track)
    start_configured(app, prefix, VideoOptions={'VideoMode': 0, 'AudioSource': 1, 'VideoQuality': 1,
                                                'VideoFramerate': 30},
                     AudioOptions={'AudioSource': 1, 'AudioFormat': 1},
                     Paths={'VideoPath': prefix.windows_path(videos), 'AudioPath': prefix.windows_path(music)})
    with DriverWindow('animate', '60'):
        press(app, VIDEO_KEYS, VIDEO, 'RECORDING')
        if not multi_track:
            press(app, AUDIO_KEYS, AUDIO, 'RECORDING')
        began = time.monotonic()
        core = driver.run('wait-window', CORE_WINDOW_CLASS, '--message-only').stdout.strip()
        time.sleep(8)
        recorded = time.monotonic() - began
        os.kill(app.process.pid, signal.SIGKILL)
        app.process.wait(20)
    # The shell keeps a killed program's icon; later tests read the icons' tooltips.
    driver.run('remove-tray-icon', core, '1')
    files = list(videos.glob('*.mp4')) + list(music.glob('*.m4a'))
    assert len(files) == (1 if multi_track else 2), files
    streams = [stream for path in files for stream in durations(path)]
    assert [kind for kind, _ in streams] == ['video', 'audio'] + ([] if multi_track else ['audio'])
    for kind, duration in streams:
        assert duration >= recorded - 2.0, (kind, duration, recorded)


@pytest.fixture
def full_drive(prefix):
    """A 4 MB drive V: in the prefix, on a tmpfs of its own."""
    mount = f'/tmp/vistrel-full-{uuid.uuid4().hex[:8]}'
    os.makedirs(mount)
    subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=4m', 'tmpfs', mount], check=True)
    letter = prefix.root / 'dosdevices' / 'v:'
    if letter.is_symlink() or letter.exists():
        letter.unlink()
    letter.symlink_to(mount)
    yield mount
    letter.unlink()
    subprocess.run(['umount', mount], check=False)
    os.rmdir(mount)


def test_a_full_disk_stops_the_recording_says_why_and_keeps_it_playable(app, prefix, driver, full_drive):
    start_configured(app, prefix, VideoOptions={'VideoMode': 0, 'AudioSource': 1, 'VideoQuality': 2,
                                                'VideoFramerate': 30}, Paths={'VideoPath': 'V:\\'})
    with DriverWindow('animate', '60'):
        since = app.mark()
        press(app, VIDEO_KEYS, VIDEO, 'RECORDING')
        # Nobody stops it: the disk does.
        assert app.wait_state(VIDEO, 'IDLE', since, timeout=120)
    texts = app.log_texts()[since:]
    failure = [t for t in texts if t.startswith('Recorder: Failed: The recording stopped: ')]
    assert failure, texts
    reason = failure[0][len('Recorder: Failed: The recording stopped: '):]
    assert 'full' in reason.lower() or 'space' in reason.lower(), reason  # the system's words for a full disk
    assert not any(t.startswith('Recorder: Saved: ') for t in texts)
    assert wait_balloon(driver, 'Recording Failed', 'The recording stopped: ' + reason)
    files = [f for f in os.listdir(full_drive) if f.endswith('.mp4')]
    assert len(files) == 1, os.listdir(full_drive)
    streams = durations(os.path.join(full_drive, files[0]))
    assert streams and all(duration > 0.5 for _, duration in streams), streams


VIRTUAL_DEVICES = {
    'vsink': ['module-null-sink', 'sink_name=vsink', 'rate=48000',
              'sink_properties=device.description=Virtual_Speakers'],
    'vmic': ['module-pipe-source', 'source_name=vmic', 'file={state}/mic.fifo', 'format=s16le', 'rate=48000',
             'channels=2', 'source_properties=device.description=Virtual_Microphone'],
}


def unload(name):
    """Unloads the PulseAudio module of a virtual device."""
    modules = subprocess.run(['pactl', 'list', 'short', 'modules'], capture_output=True, text=True).stdout
    for line in modules.splitlines():
        if f'_name={name} ' in line + ' ':
            subprocess.run(['pactl', 'unload-module', line.split()[0]], check=True)


@pytest.fixture
def removable_microphone(driver):
    # The virtual microphone's endpoint; its module and the speakers', if the test unloads them, are
    # loaded again afterwards as the defaults.
    endpoint = driver.endpoints('capture')['Virtual_Microphone']
    yield endpoint
    modules = subprocess.run(['pactl', 'list', 'short', 'modules'], capture_output=True, text=True).stdout
    for name, arguments in VIRTUAL_DEVICES.items():
        if f'_name={name} ' not in modules.replace('\t', ' ') + ' ':
            state = os.environ['VISTREL_ENV_STATE']
            subprocess.run(['pactl', 'load-module', *[a.format(state=state) for a in arguments]], check=True)
    subprocess.run(['pactl', 'set-default-sink', 'vsink'], check=True)
    subprocess.run(['pactl', 'set-default-source', 'vmic'], check=True)
    # The tone writer ended with its pipe's reader: the environment (this run's own) starts it again.
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    environment = os.path.basename(os.environ['VISTREL_ENV_STATE']).removeprefix('env-')
    subprocess.run([os.path.join(root, 'scripts', 'wine-env.sh'), 'start', '--name', environment],
                   capture_output=True, check=True)


def test_a_microphone_that_goes_away_leaves_silence_and_the_user_is_told(app, prefix, driver, removable_microphone):
    music = folder(prefix, 'Music')
    start_configured(app, prefix, AudioOptions={'AudioSource': 1, 'AudioFormat': 1},
                     Devices={'MicrophoneID': removable_microphone}, Paths={'AudioPath': prefix.windows_path(music)})
    press(app, AUDIO_KEYS, AUDIO, 'RECORDING')
    time.sleep(2)
    # The microphone goes, and with the speakers gone too its stream has nowhere else to go, as on
    # Windows, where a stream dies with its device.
    unload('vmic')
    unload('vsink')
    assert app.wait_log('AudioRecorder: [WARNING] Microphone is gone; its part of the recording is silent until it '
                        'is back.', timeout=15)
    assert wait_balloon(driver, 'Audio Source Lost',
                        'The microphone is gone. The recording goes on with silence in its place until it is back.')
    time.sleep(2)
    press(app, AUDIO_KEYS, AUDIO, 'IDLE')
    files = wait_files(music, 1, '*.m4a')
    [(_, duration)] = durations(files[0])
    assert abs(duration - app.recorded(AUDIO)[-1]) < 0.1, 'the stream lasts the whole recording'
