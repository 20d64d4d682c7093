"""What the user's screen reader is told: NVDA through its controller interface, JAWS through its
scripting object (both stand-ins from tools/stand_ins, as Wine runs neither), else a UI Automation
notification; and the refusals that used to be silent."""
import shutil
import subprocess

from harness import (AUDIO, BIN, CORE_WINDOW_CLASS, GIF, SinkRecorder, StandIn, empty_folder, read_config,
                     shown_dialog, start_configured, wait_files, wait_until)

NVDA_LINE = 'Screen reader: spoken through NVDA.'
JAWS_LINE = 'Screen reader: spoken through JAWS.'
UIA_LINE = 'Screen reader: raised as a UI Automation notification.'
GIF_START, AUDIO_START = 'ctrl+shift+f10', 'ctrl+alt+shift+f7'
SAVED = ('Capture Successful', 'Saved to file.')
COUNTING_DOWN = ('Recording Not Started',
                 'The GIF recording is counting down; start this one when the countdown is over.')
COUNTDOWN_ANSWER = ('Countdown Running', 'Recording starts after the countdown; press again to stop it.')


def spoken_and_shown(heard, title, text):
    """The one speakText and the one brailleMessage that a balloon's words make."""
    return (heard.count(('speakText', f'{title}. {text}')), heard.count(('brailleMessage', f'{title}: {text}')))


def start(app, prefix, shots, **sections):
    start_configured(app, prefix, Options={'OutputMode': 1}, Paths={'ScreenshotPath': prefix.windows_path(shots)},
                     GifOptions={'GifMode': 0, 'GifDuration': 1}, AudioOptions={'AudioSource': 0}, **sections)


def test_nvda_hears_each_outcome_once_in_speech_and_braille_and_is_never_waited_for(app, prefix, driver):
    shots = empty_folder(prefix.user_dir / 'Pictures' / 'vistrel-nvda')
    with StandIn(prefix, 'nvda') as nvda:
        start(app, prefix, shots)
        assert driver.keys('ctrl+shift+f5')
        assert wait_until(lambda: spoken_and_shown(nvda.heard(), *SAVED) == (1, 1)), nvda.heard()

        # While the GIF recorder counts down: the audio recorder's start is refused, naming it; the
        # GIF's second press is answered, and its countdown goes on; the refused sound is heard (the
        # second cuts the first short). The presses are handled in order: the first has started the
        # countdown when the next comes.
        since = app.mark()
        with SinkRecorder() as sink:
            assert driver.keys(GIF_START, AUDIO_START, GIF_START)
            assert wait_until(lambda: spoken_and_shown(nvda.heard(), *COUNTING_DOWN) == (1, 1)), nvda.heard()
            assert wait_until(lambda: spoken_and_shown(nvda.heard(), *COUNTDOWN_ANSWER) == (1, 1)), nvda.heard()
            assert wait_until(lambda: 'refused.wav' in sink.sounds(), 10), sink.sounds()
        assert app.wait_state(GIF, 'RECORDING', since, 30) and app.wait_state(GIF, 'IDLE', since, 30)
        assert not any(t.startswith(AUDIO + 'State changed') for t in app.log_texts()[since:])

        # A save that fails: the folder has become a file.
        shutil.rmtree(shots)
        shots.write_text('not a folder')
        since = app.mark()
        assert driver.keys('ctrl+shift+f5')
        assert wait_until(lambda: any(t.startswith('Capture: Failed: ') for t in app.log_texts()[since:]))
        said = next(t for t in app.log_texts()[since:] if t.startswith('Capture: Failed: '))[len('Capture: Failed: '):]
        assert wait_until(lambda: spoken_and_shown(nvda.heard(), 'Capture Failed', said) == (1, 1)), nvda.heard()

        # Every outcome (the GIF's own among them) went to NVDA alone, once.
        told = app.log_texts().count(NVDA_LINE)
        assert told >= 4 and [op for op, _ in nvda.heard()] == ['speakText', 'brailleMessage'] * told, nvda.heard()
        assert UIA_LINE not in app.log_texts()

    # NVDA slow to answer, then gone: the program never waits for it. (Watched from the moment the
    # announcement is on its way: the screenshot's own work before it is not the screen reader's.)
    shots.unlink()
    shots.mkdir()
    with StandIn(prefix, 'nvda', '--delay-ms', '8000') as slow:
        assert driver.keys('ctrl+shift+f5')
        assert wait_until(lambda: ('pending', 'speakText') in slow.heard(), 10), slow.heard()
        watch = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'latency', CORE_WINDOW_CLASS,
                                  '--message-only', '--timeout', '10000'], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        assert watch.stdout.readline().strip() == 'watching'
        app.barrier()  # the program answers while NVDA has not
        assert ('speakText', 'Capture Successful. Saved to file.') not in slow.heard(), 'the call is still pending'
        assert wait_until(lambda: spoken_and_shown(slow.heard(), *SAVED) == (1, 1), 20), slow.heard()
    since = app.mark()
    assert driver.keys(GIF_START, GIF_START)
    assert wait_until(lambda: UIA_LINE in app.log_texts()[since:]), app.log_texts()[since:]
    assert NVDA_LINE not in app.log_texts()[since:]
    # Wine has no notification call: that is said once, and the program goes on.
    assert sum(t.startswith('Screen reader notifications are not available: ') for t in app.log_texts()) == 1
    answers = watch.communicate(timeout=60)[0].split()
    assert app.wait_state(GIF, 'IDLE', since, 30)
    slowest = float(answers[answers.index('slowest') + 1])
    print(f'core window answered within {slowest} ms at worst')
    assert slowest < 250, answers  # within 100 ms, with a margin for a loaded machine


def test_jaws_hears_each_outcome_and_sounds_and_balloons_alone_can_be_chosen(app, prefix, driver):
    shots = empty_folder(prefix.user_dir / 'Pictures' / 'vistrel-jaws')
    with StandIn(prefix, 'jaws') as jaws:
        start(app, prefix, shots)
        assert driver.keys('ctrl+shift+f5')
        assert wait_until(lambda: ('SayString', 'Capture Successful. Saved to file.') in jaws.heard()), jaws.heard()
        assert app.wait_line(JAWS_LINE)
        assert ('RunFunction', 'BrailleMessage("Capture Successful: Saved to file.")') in jaws.heard()
        assert UIA_LINE not in app.log_texts()

        # The choice on the General page, stored in the key of the former check box.
        assert app.command(40004)
        dialog = shown_dialog(driver, 'Vistrel Configuration')
        assert dialog.items(1026) == ['Speak through the screen reader', 'Only sounds and balloons']
        assert dialog.text(1026) == 'Speak through the screen reader'
        dialog.select(1026, 1)
        dialog.close(1)
        assert read_config(prefix)[('General', 'ScreenReaderNotifications')] == '0'
        heard = len(jaws.heard())
        since = app.mark()
        assert driver.keys('ctrl+shift+f5')
        assert len(wait_files(shots, 2)) == 2
        app.barrier()
        assert not wait_until(lambda: len(jaws.heard()) > heard or any(
            t.startswith('Screen reader: ') for t in app.log_texts()[since:]), 2), 'nothing is announced'
        assert app.command(40004)
        dialog = shown_dialog(driver, 'Vistrel Configuration')
        assert dialog.text(1026) == 'Only sounds and balloons'
        dialog.close(2)
