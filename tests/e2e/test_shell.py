"""Hotkeys, tray commands, sounds and languages of the running program."""
import shutil
import subprocess
import time

import pytest

from harness import (BIN, WM_LANGUAGE_CHANGED, SinkRecorder, print_distance, shipped_sounds, tooltips, wait_until,
                     write_config)

WM_COMMAND_PAUSE_HOTKEYS = 40005
CMD_EXIT = 40007

QUIET = {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0}}


def config(**sections):
    merged = {k: dict(v) for k, v in QUIET.items()}
    for section, values in sections.items():
        merged.setdefault(section, {}).update(values)
    return merged


def test_every_default_hotkey_reaches_its_action(app, prefix, driver):
    # The mouse-capture binding has no default key; give it one for this test. Captures go to the
    # clipboard only; an audio recording without sources ends right after its countdown; the video
    # and GIF recorders take the screen without sound, and the GIF stops by itself.
    write_config(prefix, config(Hotkeys={'MouseModifiers': 6, 'MouseVK': 0x78}, Options={'OutputMode': 0},
                                AudioOptions={'AudioSource': 0},
                                VideoOptions={'VideoMode': 0, 'AudioSource': 0},
                                GifOptions={'GifMode': 0, 'GifDuration': 1}))
    app.start()
    assert app.wait_log('Registering hotkeys from provided config.')
    expected = [
        ('ctrl+shift+f5', 'Starting CaptureScreen.', None),
        ('ctrl+shift+f6', 'Starting enhanced freeform capture mode.', close_overlay(driver)),
        ('ctrl+shift+f7', 'Starting smart CaptureActiveWindow.', cancel_picker(app, driver)),
        ('ctrl+shift+f8', 'Starting CaptureKeyboardFocusedControl.', None),
        ('ctrl+shift+f9', 'Starting CaptureMouseFocusedControl.', None),
        ('ctrl+alt+shift+f5', 'Recorder: Standard recording mode is enabled.', stop_video(app, driver)),
        ('ctrl+alt+shift+f7', 'AudioRecorder: Standard mode is enabled.',
         lambda _: app.wait_log('AudioRecorder: No audio sources available or selected. Cannot record.', 20)),
        ('ctrl+shift+f10', 'GIF Recorder: Initialization successful. Starting record loop.',
         lambda before: app.wait_state('GIF Recorder: ', 'IDLE', before, 20)),
        ('ctrl+alt+shift+f10', None, cancel_settings),
        ('ctrl+alt+shift+f11', None, close_tracks),
    ]
    for combo, line, finish in expected:
        before = len(app.log())
        assert driver.keys(combo)
        if line:
            assert app.wait_log(line), combo
        if finish:
            assert finish(before), combo
        app.barrier()
        if line:
            assert app.log_texts()[before:].count(line) == 1, f'{combo} fired more than once'
    assert not any('Failed to register hotkey ID: ' in t for t in app.log_texts())

    assert driver.keys('ctrl+alt+shift+f4')
    assert app.wait_exit() == 0
    tail = app.log_texts()[-3:]
    assert tail == ['Unregistering all hotkeys.', 'Application exiting.', 'GDI+ Shutdown.']


def stop_video(app, driver):
    """Stops the video recording that the video hotkey starts, once it runs."""
    def stop(before):
        return (app.wait_state('Recorder: ', 'RECORDING', before, 20)
                and driver.keys('ctrl+alt+shift+f5')
                and app.wait_state('Recorder: ', 'IDLE', before, 20))
    return stop


def close_tracks(_):
    """Closes the multi-track dialog that its hotkey opens."""
    from harness import DialogWindow, Driver
    tracks = DialogWindow(Driver(), 'Multi-Track Management')
    if not tracks.wait(5000):
        return False
    tracks.click(1)
    return tracks.wait_gone()


def cancel_settings(_):
    """Closes the settings dialog that the configuration hotkey opens."""
    from harness import DialogWindow, Driver
    settings = DialogWindow(Driver(), 'Vistrel Configuration')
    if not settings.wait(5000):
        return False
    settings.click(2)
    return settings.wait_gone()


def close_overlay(driver):
    """Closes the free-form overlay that its hotkey opens."""
    def close(_):
        return (driver.wait_window('FreeFormSelectWindowClass') and driver.keys('esc')
                and driver.wait_gone('FreeFormSelectWindowClass'))
    return close


def cancel_picker(app, driver):
    """Closes the window picker that a window capture opens when no window is active; with an
    active window the capture goes to the clipboard instead."""
    def cancel(before):
        picker, copied = 'Showing window selection dialog.', 'Capture: Bitmap copied to the clipboard.'
        assert wait_until(lambda: {picker, copied} & set(app.log_texts()[before:]), 20)
        if picker not in app.log_texts()[before:]:
            return True
        return (driver.wait_window('#32770', timeout_ms=10000)
                and driver.post_dialog('Select Window to Capture', 0x0111, 2)
                and app.wait_log('Window selection cancelled.'))
    return cancel


def test_paused_hotkeys_ignore_exit_while_the_tray_exit_works(app, prefix, driver):
    write_config(prefix, config())
    app.start()
    assert app.wait_log('Registering hotkeys from provided config.')
    assert app.command(WM_COMMAND_PAUSE_HOTKEYS)
    assert app.wait_log('Hotkeys paused.')
    assert driver.keys('ctrl+alt+shift+f4')
    # The resume command is handled after anything the key press could have caused.
    assert app.command(WM_COMMAND_PAUSE_HOTKEYS)
    assert app.wait_log('Hotkeys resumed.')
    assert app.running(), 'the exit hotkey must do nothing while hotkeys are paused'

    assert app.command(WM_COMMAND_PAUSE_HOTKEYS)
    assert app.wait_log('Hotkeys paused.')
    assert app.command(CMD_EXIT)
    assert app.wait_exit() == 0


def test_the_tray_menu_is_walked_with_keys_only(app, prefix, driver):
    write_config(prefix, config())
    app.start()
    assert app.wait_log('Registering hotkeys from provided config.')
    # The Apps key on the icon, as the shell reports it: WM_CONTEXTMENU with the anchor point.
    assert app.post_core(0x8003, 700 << 16 | 900, 1 << 16 | 0x7B)
    menu = driver.run('wait-window', '#32768', '--visible').stdout.split()
    assert menu, 'the menu opens'
    left, top, right, bottom = (int(v) for v in menu[1:])
    assert (left, bottom) == (900, 700), 'the menu opens at the anchor point'
    # The first item is selected already: one step down is the second item, "Capture Free Form".
    assert driver.keys('0x28', 'enter')
    assert driver.wait_window('FreeFormSelectWindowClass', timeout_ms=10000), 'the free-form overlay opens'
    assert driver.keys('esc')
    assert app.wait_log('Freeform capture complete.')


def test_a_hotkey_held_by_another_program_is_logged_and_the_rest_work(app, prefix, driver):
    write_config(prefix, config())
    holder = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'hold-hotkey', '6', '0x74', '60'],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True)
    try:
        assert holder.stdout.readline().strip() == 'held'
        app.start()
        assert app.wait_log('Failed to register hotkey ID: 1')
        failures = [t for t in app.log_texts() if t.startswith('Failed to register hotkey ID: ')]
        assert failures == ['Failed to register hotkey ID: 1']
        assert driver.keys('ctrl+shift+f8')
        assert app.wait_log('Starting CaptureKeyboardFocusedControl.')
        assert driver.keys('ctrl+alt+shift+f4')
        assert app.wait_exit() == 0
    finally:
        holder.kill()
        holder.wait(10)


def test_startup_and_exit_sounds_are_heard(app, prefix, driver):
    write_config(prefix, {'General': {'AutoCheckUpdates': 0}})
    with SinkRecorder() as startup:
        app.start()
        # startup.wav lasts 1 s, but it is the first sound of a new Wine process: on a loaded
        # machine Wine's audio stack has been seen to swallow up to 0.8 s of it while it starts.
        assert startup.wait_loud(0.1) >= 0.1, startup.loud_seconds()

    with SinkRecorder() as exiting:
        assert driver.keys('ctrl+alt+shift+f4')
        assert app.wait_exit() == 0
        # exit.wav lasts 0.72 s and is played before the process ends.
        assert exiting.wait_loud(0.5, timeout=3) >= 0.5, exiting.loud_seconds()


def test_silent_and_missing_sounds(app, prefix, driver):
    write_config(prefix, config(SoundEffects={'exit_app': 'NONE'}))
    with SinkRecorder() as quiet:
        app.start()
        assert driver.keys('ctrl+alt+shift+f4')
        assert app.wait_exit() == 0
    assert quiet.loud_seconds() == 0.0
    assert not any('Failed to play sound' in t for t in app.log_texts())

    prefix.log_file.unlink()
    write_config(prefix, config(SoundEffects={'exit_app': 'missing.wav'}))
    again = app.another()
    again.start()
    assert driver.keys('ctrl+alt+shift+f4')
    assert again.wait_exit() == 0
    failures = [t for t in again.log_texts() if t.startswith('Failed to play sound')]
    assert len(failures) == 1
    assert failures[0].startswith('Failed to play sound (sync): ')
    assert failures[0].endswith('\\sounds\\missing.wav')


def active_language(app):
    lines = [t for t in app.log_texts() if t.startswith('Translator active language is now: ')]
    assert lines, app.log_texts()
    return lines[-1]


def test_system_language_german(app, prefix):
    write_config(prefix, config())
    app.start(env={'LC_ALL': 'de_DE.UTF-8', 'LANG': 'de_DE.UTF-8'})
    assert app.wait_log('Translator active language is now: ')
    assert 'Attempting to set language to: de' in app.log_texts()
    assert active_language(app) == 'Translator active language is now: Deutsch (code: de)'


@pytest.fixture
def plain_portuguese_folder():
    """A "pt" language folder beside the program for the duration of a test."""
    folder = BIN / 'languages' / 'pt'
    shutil.rmtree(folder, ignore_errors=True)
    (folder / 'LC_MESSAGES').mkdir(parents=True)
    shutil.copy(BIN / 'languages' / 'pt-BR' / 'LC_MESSAGES' / 'messages.mo', folder / 'LC_MESSAGES')
    (folder / 'language.ini').write_text('[lang]\nlanguage_name = Português\nlanguage_code = pt\n',
                                         encoding='utf-8')
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def test_brazilian_locale_prefers_pt_br_over_pt(app, prefix, plain_portuguese_folder):
    write_config(prefix, config())
    app.start(env={'LC_ALL': 'pt_BR.UTF-8', 'LANG': 'pt_BR.UTF-8'})
    assert app.wait_log('Translator active language is now: ')
    assert 'Attempting to set language to: pt-BR' in app.log_texts()
    assert active_language(app).endswith('(code: pt-BR)')


def test_portuguese_locale_without_country_folder_takes_pt(app, prefix, plain_portuguese_folder):
    write_config(prefix, config())
    app.start(env={'LC_ALL': 'pt_PT.UTF-8', 'LANG': 'pt_PT.UTF-8'})
    assert app.wait_log('Translator active language is now: ')
    assert active_language(app) == 'Translator active language is now: Português (code: pt)'


def test_language_without_a_catalogue_falls_back_to_english(app, prefix):
    write_config(prefix, config(General={'Language': 'xx'}))
    app.start()
    assert app.wait_log('Translator active language is now: ')
    errors = [t for t in app.log_texts() if t.startswith('Translator ERROR: .mo file NOT FOUND at: ')]
    assert len(errors) == 1
    assert errors[0].endswith('languages\\xx\\LC_MESSAGES\\messages.mo') or \
        errors[0].endswith('languages/xx/LC_MESSAGES/messages.mo'), errors[0]
    assert active_language(app) == 'Translator active language is now: English (code: en)'


def wait_tooltip(driver, text, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if text in tooltips(driver):
            return True
        time.sleep(0.2)
    return False


def test_tray_tooltip_follows_the_language_and_the_recordings(app, prefix, driver):
    write_config(prefix, config(GifOptions={'GifMode': 0, 'GifDuration': 1, 'PlayGifEventSounds': 0}))
    app.start(env={'LC_ALL': 'ar_EG.UTF-8', 'LANG': 'ar_EG.UTF-8'})
    assert app.wait_log('Translator active language is now: ')
    assert active_language(app).endswith('(code: ar)')
    arabic = 'فيستريل'
    assert wait_tooltip(driver, arabic), tooltips(driver)
    # A recording shows in the tooltip; its end names the program untranslated ...
    since = app.mark()
    assert driver.keys('ctrl+shift+f10')
    assert app.wait_state('GIF Recorder: ', 'RECORDING', since)
    assert wait_tooltip(driver, 'Vistrel (Recording)'), tooltips(driver)
    assert app.wait_state('GIF Recorder: ', 'IDLE', since)
    assert wait_tooltip(driver, 'Vistrel'), tooltips(driver)
    assert arabic not in tooltips(driver)
    # ... and a language change restores the translated name.
    assert app.post_core(WM_LANGUAGE_CHANGED)
    assert app.wait_log('Language changed message received. Updating tray icon tooltip.')
    assert wait_tooltip(driver, arabic), tooltips(driver)


def test_shipped_sounds_last_long_enough_and_are_told_apart():
    import wave
    import numpy as np
    prints = shipped_sounds()
    assert {'capture_failed.wav', 'save_failed.wav', 'clipboard_failed.wav', 'rec_failed.wav'} <= set(prints)
    for name, sound in prints.items():
        nearest = min(print_distance(sound, other) for key, other in prints.items() if key != name)
        assert nearest > 6, f'{name} sounds too much like another sound ({nearest:.1f} dB)'
        with wave.open(str(BIN / 'sounds' / name)) as w:
            data = np.frombuffer(w.readframes(w.getnframes()), '<i2').astype(np.float32) / 32768.0
            rate = w.getframerate()
        loud = np.flatnonzero(np.abs(data) > 0.01)
        assert (loud[-1] - loud[0]) / rate >= 0.12, f'{name} is too short to be heard for sure'
