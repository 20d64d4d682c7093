"""Recordings that survive what users meet: the program killed mid-recording, a disk that fills
up, a microphone that goes away."""
import json
import os
import signal
import subprocess
import time
import uuid

import pytest

from harness import AUDIO, CORE_WINDOW_CLASS, VIDEO, DriverWindow, wait_balloon, wait_files, write_config

VIDEO_KEYS, AUDIO_KEYS = 'ctrl+alt+shift+f5', 'ctrl+alt+shift+f7'


def durations(path):
    """The duration of each stream, as ffprobe reads them."""
    out = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'stream=codec_type,duration', '-of', 'json',
                          str(path)], capture_output=True, text=True, check=True).stdout
    return [(s['codec_type'], float(s['duration'])) for s in json.loads(out)['streams']]


def folder(prefix, kind):
    path = prefix.user_dir / kind / 'vistrel-survival'
    path.mkdir(parents=True, exist_ok=True)
    for f in path.iterdir():
        f.unlink()
    return path


def start(app, prefix, **sections):
    merged = {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0}}
    for section, values in sections.items():
        merged.setdefault(section, {}).update(values)
    write_config(prefix, merged)
    app.start()
    assert app.wait_log('Registering hotkeys from provided config.')


def record_then_kill(app, driver, keys, prefix_text, seconds=8.0):
    """Starts a recording, lets it run, and kills the program the way a crash does. Returns how
    long it had recorded at least."""
    since = app.mark()
    assert driver.keys(keys)
    assert app.wait_state(prefix_text, 'RECORDING', since)
    began = time.monotonic()
    core = driver.run('wait-window', CORE_WINDOW_CLASS, '--message-only').stdout.strip()
    time.sleep(seconds)
    recorded = time.monotonic() - began
    os.kill(app.process.pid, signal.SIGKILL)
    app.process.wait(20)
    # The shell keeps a killed program's icon; later tests read the icons' tooltips.
    driver.run('remove-tray-icon', core, '1')
    return recorded


@pytest.mark.parametrize('multi_track', [False, True])
def test_a_killed_video_recording_keeps_all_but_its_last_seconds(app, prefix, driver, multi_track):
    videos = folder(prefix, 'Videos')
    if multi_track:
        prefix.settings_dir.mkdir(parents=True, exist_ok=True)
        track = {'name': 'Screen and voice', 'guid': '{6B29FC40-CA47-1067-B31D-00DD01060001}', 'type': 0,
                 'video_source_id': 'Default', 'audio_input_id': 'Default', 'audio_output_id': '',
                 'input_volume': 100, 'output_volume': 100}
        (prefix.settings_dir / 'multy_tracs.json').write_text(json.dumps(
            {'multi_track_enabled': True, 'tracks': [track], 'use_same_sources_in_single_mode': False}))
    start(app, prefix, VideoOptions={'VideoMode': 0, 'AudioSource': 1, 'VideoQuality': 1, 'VideoFramerate': 30},
          Paths={'VideoPath': prefix.windows_path(videos)})
    with DriverWindow('animate', '60'):
        recorded = record_then_kill(app, driver, VIDEO_KEYS, VIDEO)
    files = list(videos.glob('*.mp4'))
    assert len(files) == 1
    streams = durations(files[0])
    assert [kind for kind, _ in streams] == ['video', 'audio']
    for kind, duration in streams:
        assert duration >= recorded - 2.0, (kind, duration, recorded)


def test_a_killed_m4a_recording_keeps_all_but_its_last_seconds(app, prefix, driver):
    music = folder(prefix, 'Music')
    start(app, prefix, AudioOptions={'AudioSource': 1, 'AudioFormat': 1}, Paths={'AudioPath': prefix.windows_path(music)})
    recorded = record_then_kill(app, driver, AUDIO_KEYS, AUDIO)
    files = list(music.glob('*.m4a'))
    assert len(files) == 1
    [(kind, duration)] = durations(files[0])
    assert kind == 'audio' and duration >= recorded - 2.0, (duration, recorded)


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
    start(app, prefix, VideoOptions={'VideoMode': 0, 'AudioSource': 1, 'VideoQuality': 2, 'VideoFramerate': 30},
          Paths={'VideoPath': 'V:\\'})
    with DriverWindow('animate', '60'):
        since = app.mark()
        assert driver.keys(VIDEO_KEYS)
        assert app.wait_state(VIDEO, 'RECORDING', since)
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
    """The virtual microphone's endpoint. Its PulseAudio module, and the speakers', may be unloaded
    by the test; they are loaded again afterwards, as the defaults."""
    endpoint = driver.endpoints('capture')['Virtual_Microphone']
    yield endpoint
    modules = subprocess.run(['pactl', 'list', 'short', 'modules'], capture_output=True, text=True).stdout
    for name, arguments in VIRTUAL_DEVICES.items():
        if f'_name={name} ' not in modules.replace('\t', ' ') + ' ':
            state = os.environ['VISTREL_ENV_STATE']
            subprocess.run(['pactl', 'load-module', *[a.format(state=state) for a in arguments]], check=True)
    subprocess.run(['pactl', 'set-default-sink', 'vsink'], check=True)
    subprocess.run(['pactl', 'set-default-source', 'vmic'], check=True)
    # The tone writer ended with its pipe's reader: the environment starts it again.
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    subprocess.run([os.path.join(root, 'scripts', 'wine-env.sh'), 'start'], capture_output=True, check=True)


def test_a_microphone_that_goes_away_leaves_silence_and_the_user_is_told(app, prefix, driver, removable_microphone):
    music = folder(prefix, 'Music')
    start(app, prefix, AudioOptions={'AudioSource': 1, 'AudioFormat': 1},
          Devices={'MicrophoneID': removable_microphone}, Paths={'AudioPath': prefix.windows_path(music)})
    since = app.mark()
    assert driver.keys(AUDIO_KEYS)
    assert app.wait_state(AUDIO, 'RECORDING', since)
    time.sleep(2)
    # The microphone goes, and with the speakers gone too its stream has nowhere else to go, as on
    # Windows, where a stream dies with its device.
    unload('vmic')
    unload('vsink')
    assert app.wait_line('AudioRecorder: [WARNING] Microphone is gone; its part of the recording is silent until it is back.',
                         since, timeout=15)
    assert wait_balloon(driver, 'Audio Source Lost',
                        'The microphone is gone. The recording goes on with silence in its place until it is back.')
    time.sleep(2)
    since = app.mark()
    assert driver.keys(AUDIO_KEYS)
    assert app.wait_state(AUDIO, 'IDLE', since)
    files = wait_files(music, 1, '*.m4a')
    [(_, duration)] = durations(files[0])
    assert abs(duration - app.recorded(AUDIO)[-1]) < 0.1, 'the stream lasts the whole recording'
