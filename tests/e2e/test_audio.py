"""Audio recordings end to end: formats, length, the tone of the virtual microphone, pause, tracks."""
import shutil
import time
import wave

import numpy as np
import pytest

from harness import (AUDIO, BIN, SinkRecorder, SinkTone, decoded_audio, dominant_frequency, empty_folder, press, probe,
                     rms, start_configured, wait_balloon, wait_files, write_tracks)

START_STOP = 'ctrl+alt+shift+f7'
PAUSE_RESUME = 'ctrl+alt+shift+f8'
FAILED = ('Audio Recording Failed', 'Could not start the audio recorder.')


@pytest.fixture
def audio_dir(prefix):
    return empty_folder(prefix.user_dir / 'Music' / 'vistrel-e2e')


def start_app(app, prefix, folder, **options):
    start_configured(app, prefix, AudioOptions=dict({'AudioSource': 1, 'AudioFormat': 0}, **options),
                     Paths={'AudioPath': prefix.windows_path(folder)})


# Records for `seconds` (with a pause of `pause` seconds in the middle, or at the end with
# `stop_paused`) and returns the recording time the file should have: the wall time less the pause
# from its key press to the end of the resume sound, after which capture restarts.
def record(app, seconds, pause=None, stop_paused=False):
    press(app, START_STOP, AUDIO, 'RECORDING')
    began = time.monotonic()
    paused = 0.0
    if pause:
        time.sleep(seconds if stop_paused else seconds / 2)
        pressed = time.monotonic()
        press(app, PAUSE_RESUME, AUDIO, 'PAUSED')
        time.sleep(max(0.0, pause - (time.monotonic() - pressed)))
        if stop_paused:
            paused = time.monotonic() - pressed
        else:
            press(app, PAUSE_RESUME, AUDIO, 'RECORDING')
            with wave.open(str(BIN / 'sounds' / 'rec_resume.wav'), 'rb') as w:
                paused = time.monotonic() - pressed + w.getnframes() / w.getframerate()
            time.sleep(seconds / 2)
    else:
        time.sleep(seconds)
    since = app.mark()
    assert app.driver.keys(START_STOP)
    ended = time.monotonic()
    assert app.wait_state(AUDIO, 'IDLE', since)
    return ended - began - paused


def timed_like(app, path, expected):
    """The file holds what the recorder timed; the recorder timed what the user did."""
    duration = float(probe(path)['format']['duration'])
    recorded = app.recorded(AUDIO)[-1]
    assert abs(duration - recorded) < 0.1, (duration, recorded)
    assert abs(recorded - expected) < 1.0, (recorded, expected)


@pytest.mark.parametrize('audio_format, extension, codec', [
    (0, 'mp3', 'mp3'), (1, 'm4a', 'aac'), (2, 'wav', 'pcm_s16le')])
def test_microphone_recording_in_each_format(app, prefix, audio_dir, driver, audio_format, extension, codec):
    folder, source = audio_dir, 1
    if extension == 'm4a':
        # FFmpeg is given the path as UTF-8; Greek and CJK letters have no place in Wine's ANSI code page.
        folder = audio_dir.parent / 'Записи Ωμέγα 録音'
        shutil.rmtree(folder, ignore_errors=True)
    elif extension == 'wav':
        # With system audio too: Wine has no loopback capture, so the recording goes on with the
        # microphone alone; on Windows both sources are mixed.
        source = 3
    start_app(app, prefix, folder, AudioFormat=audio_format, AudioSource=source)
    wall = record(app, 4.0)
    files = wait_files(folder, 1, f'AudioRecording_*.{extension}')
    assert len(files) == 1, list(folder.iterdir())
    assert wait_balloon(driver, 'Audio Recording Stopped', f'Audio saved to: {prefix.windows_path(files[0])}')
    stream = probe(files[0])['streams'][0]
    assert (stream['codec_name'], int(stream['sample_rate']), stream['channels']) == (codec, 48000, 2)
    timed_like(app, files[0], wall)
    samples = decoded_audio(files[0])
    middle = samples[len(samples) // 4: 3 * len(samples) // 4]
    assert abs(dominant_frequency(middle) - 440) < 5
    assert rms(middle) > 0.05, 'the tone is loud, not silence'
    # The virtual microphone delivers in bursts but on time: nothing may be cut as a backlog.
    assert not any('delivers more than the recording clock' in t for t in app.log_texts()), app.log_texts()


@pytest.mark.parametrize('options, child, line', [
    ({'AudioFormat': 5}, '', 'InitAudioEncoder: Could not find a suitable encoder for the selected format.'),
    ({}, 'no-such-parent/child', "AudioRecorder: [ERROR] Failed to create directory '")])
def test_a_recording_that_cannot_start_writes_nothing_and_says_so(app, prefix, audio_dir, driver, options, child,
                                                                 line):
    start_app(app, prefix, audio_dir / child, **options)
    assert driver.keys(START_STOP)
    assert app.wait_log(line, timeout=20)
    assert wait_balloon(driver, *FAILED)
    assert app.wait_state(AUDIO, 'IDLE')
    assert not any(p.is_file() for p in audio_dir.rglob('*'))


def test_pauses_then_tracks_give_a_stream_per_source_or_one_mixed_stream_and_none_usable_fails(app, prefix,
                                                                                                audio_dir, driver):
    monitor = driver.endpoints('capture')['Monitor of Virtual_Speakers']
    start_app(app, prefix, audio_dir, AudioFormat=2)
    # A pause leaves no gap and is heard; a stop while paused leaves the pause out.
    with SinkRecorder() as sounds:
        expected = record(app, 4.0, pause=3.0)
    assert sounds.loud_seconds() > 1.0, 'start, pause, resume and stop sounds'
    for stop_paused in (False, True):
        if stop_paused:
            expected = record(app, 3.0, pause=4.0, stop_paused=True)
        files = wait_files(audio_dir, 1, 'AudioRecording_*.wav')
        timed_like(app, files[0], expected)
        # No silent stretch where the pause was: every 100 ms window carries the tone.
        samples = decoded_audio(files[0])
        level = np.sqrt((samples[: len(samples) // 4800 * 4800].reshape(-1, 4800) ** 2).mean(axis=1))
        assert (level[1:-1] > 0.05).all(), level
        files[0].unlink()

    # The track file is read at each start of a recording.
    write_tracks(prefix, [
        {'name': 'Full microphone', 'type': 2},
        {'name': 'Speakers', 'type': 3, 'audio_input_id': '', 'audio_output_id': 'Default'},
        {'name': 'Half monitor', 'type': 2, 'audio_input_id': monitor, 'input_volume': 50},
        {'name': 'Picture only', 'type': 1},
        {'name': 'Unplugged', 'type': 2, 'audio_input_id': '{0.0.1.00000000}.{00000000-0000-0000-0000-000000000000}'},
    ])
    with SinkTone(660):
        wall = record(app, 4.0)
    files = wait_files(audio_dir, 1, 'Mixed_AudioRecording_*.m4a')
    assert len(files) == 1
    texts = app.log_texts()
    assert 'AudioRecorder: [ERROR] Failed to initialize audio output stream for track: Speakers' in texts, \
        'Wine has no loopback capture'
    streams = probe(files[0])['streams']
    # The unplugged endpoint falls back to the default microphone, like a single-track recording.
    assert [s['codec_name'] for s in streams] == ['aac', 'aac', 'aac']
    durations = [float(s['duration']) for s in streams]
    assert max(durations) - min(durations) < 0.05, durations
    timed_like(app, files[0], wall)
    microphone, monitor_stream = decoded_audio(files[0], 0), decoded_audio(files[0], 1)
    middle = slice(len(microphone) // 4, 3 * len(microphone) // 4)  # away from the start and stop sounds
    assert abs(dominant_frequency(microphone[middle]) - 440) < 5
    assert abs(dominant_frequency(monitor_stream[middle]) - 660) < 5
    # Both signals have amplitude 0.5 (RMS 0.354); the monitor's track is at half volume.
    assert abs(rms(microphone[middle]) - 0.354) < 0.03
    assert abs(rms(monitor_stream[middle]) / rms(microphone[middle]) - 0.5) < 0.05
    assert 'Audio capture thread started for track: Half monitor' in texts
    assert 'AudioRecorder: [WARNING] Failed to get selected audio device. Falling back to default.' in texts
    assert 'AudioRecorder: Notice: The chosen microphone is not connected. The default microphone is recorded ' \
           'instead.' in texts
    files[0].unlink()

    # Single-track mode with the configured sources: mixed into one stream at the track's volume.
    write_tracks(prefix, [{'name': 'Quiet microphone', 'type': 2, 'input_volume': 25}], multi=False,
                 same_sources=True)
    record(app, 3.0)
    files = wait_files(audio_dir, 1, 'Mixed_AudioRecording_*.wav')
    assert len(files) == 1
    assert 'AudioRecorder: Single-track mode will use sources defined in multi-track configuration.' in app.log_texts()
    samples = decoded_audio(files[0])
    # The virtual microphone's sine has amplitude 0.5 (RMS 0.354 per channel); a quarter is left.
    assert abs(rms(samples[len(samples) // 4:]) - 0.354 * 0.25) < 0.02
    files[0].unlink()

    write_tracks(prefix, [{'name': 'Only pictures', 'type': 1}])
    assert driver.keys(START_STOP)
    assert app.wait_log('AudioRecorder: [FATAL] No audio tracks could be successfully initialized.', timeout=20)
    assert wait_balloon(driver, *FAILED)
    assert list(audio_dir.iterdir()) == []
