"""Hotkeys, tray commands, sounds and languages of the running program."""
import contextlib
import shutil
import subprocess

import pytest

from harness import (BIN, WM_LANGUAGE_CHANGED, DialogWindow, DriverWindow, SinkRecorder, focused_control,
                     print_distance, shipped_sounds, start_configured, tooltips, wait_clipboard_image, wait_until,
                     write_config)


def test_every_default_hotkey_and_the_tray_menu_reach_their_actions(app, prefix, driver):
    # The mouse-capture binding has no default key; give it one for this test. Captures go to the
    # clipboard only; an audio recording without sources ends right after its countdown; the video
    # and GIF recorders take the screen without sound, and the GIF stops by itself.
    start_configured(app, prefix, Hotkeys={'MouseModifiers': 6, 'MouseVK': 0x78}, Options={'OutputMode': 0},
                     AudioOptions={'AudioSource': 0}, VideoOptions={'VideoMode': 0, 'AudioSource': 0},
                     GifOptions={'GifMode': 0, 'GifDuration': 1})
    expected = [
        ('ctrl+shift+f5', 'Starting CaptureScreen.', None),
        ('ctrl+shift+f6', 'Starting enhanced freeform capture mode.', close_overlay(driver)),
        ('ctrl+shift+f7', 'Starting smart CaptureActiveWindow.', copied_window_in_front(app)),
        ('ctrl+shift+f8', 'Starting CaptureKeyboardFocusedControl.', None),
        ('ctrl+shift+f9', 'Starting CaptureMouseFocusedControl.', None),
        ('ctrl+alt+shift+f5', 'Recorder: Standard recording mode is enabled.', stop_video(app, driver)),
        ('ctrl+alt+shift+f7', 'AudioRecorder: Standard mode is enabled.',
         lambda _: app.wait_log('AudioRecorder: No audio sources available or selected. Cannot record.', 20)),
        ('ctrl+shift+f10', 'GIF Recorder: Initialization successful. Starting record loop.',
         lambda before: app.wait_state('GIF Recorder: ', 'IDLE', before, 20)),
        ('ctrl+alt+shift+f10', None, close_dialog(driver, 'Vistrel Configuration', 2)),
        ('ctrl+alt+shift+f11', None, close_dialog(driver, 'Multi-Track Management', 1)),
    ]
    for combo, line, finish in expected:
        before = app.mark()
        # The active-window capture takes the window in front: another program's.
        with (DriverWindow('window', 'In front', '100', '100', '300', '200', '884422', '60', '--edit')
              if combo == 'ctrl+shift+f7' else contextlib.nullcontext()):
            if combo == 'ctrl+shift+f7':
                assert wait_until(lambda: (focused_control(driver) or (0, ''))[1] == 'Edit'), 'in front'
            assert driver.keys(combo)
            if line:
                assert app.wait_log(line), combo
            if finish:
                assert finish(before), combo
        app.barrier()
        if line:
            assert app.log_texts()[before:].count(line) == 1, f'{combo} fired more than once'
    assert not any('Failed to register hotkey ID: ' in t for t in app.log_texts())

    # The tray menu walked with keys only. The Apps key on the icon, as the shell reports it
    # (WM_CONTEXTMENU with the anchor point), opens the menu there with its first item selected:
    # one step down is the second item, "Capture Free Form".
    since = app.mark()
    assert app.post_core(0x8003, 700 << 16 | 900, 1 << 16 | 0x7B)
    menu = driver.run('wait-window', '#32768', '--visible').stdout.split()
    assert menu and (int(menu[1]), int(menu[4])) == (900, 700), f'the menu opens at the anchor point: {menu}'
    assert driver.keys('0x28', 'enter')
    assert driver.wait_window('FreeFormSelectWindowClass', timeout_ms=10000), 'the free-form overlay opens'
    assert driver.keys('esc')
    assert app.wait_line('Freeform capture complete.', since)

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


def close_dialog(driver, caption, button):
    """Closes the dialog that a hotkey opens with one of its buttons."""
    def close(_):
        dialog = DialogWindow(driver, caption)
        if not dialog.wait(5000):
            return False
        dialog.click(button)
        return dialog.wait_gone()
    return close


def close_overlay(driver):
    """Closes the free-form overlay that its hotkey opens."""
    def close(_):
        return (driver.wait_window('FreeFormSelectWindowClass') and driver.keys('esc')
                and driver.wait_gone('FreeFormSelectWindowClass'))
    return close


def copied_window_in_front(app):
    """The active-window capture put the window in front (its colour) on the clipboard."""
    def copied(before):
        if not app.wait_line('Capture: Bitmap copied to the clipboard.', before):
            return False
        image = wait_clipboard_image()
        return image is not None and tuple(image[image.shape[0] // 2, image.shape[1] // 2]) == (0x88, 0x44, 0x22)
    return copied


def test_a_hotkey_held_by_another_program_is_logged_and_the_rest_work(app, prefix, driver):
    holder = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'hold-hotkey', '6', '0x74', '60'],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True)
    try:
        assert holder.stdout.readline().strip() == 'held'
        start_configured(app, prefix)
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
        assert wait_until(lambda: startup.loud_seconds() >= 0.1, 10, 0.2), startup.loud_seconds()

    with SinkRecorder() as exiting:
        assert driver.keys('ctrl+alt+shift+f4')
        assert app.wait_exit() == 0
        # exit.wav lasts 0.72 s and is played before the process ends.
        assert wait_until(lambda: exiting.loud_seconds() >= 0.5, 3, 0.2), exiting.loud_seconds()


def test_silent_and_missing_sounds(app, prefix, driver):
    with SinkRecorder() as quiet:
        start_configured(app, prefix, SoundEffects={'exit_app': 'NONE'})
        assert driver.keys('ctrl+alt+shift+f4')
        assert app.wait_exit() == 0
    assert quiet.loud_seconds() == 0.0
    assert not any('Failed to play sound' in t for t in app.log_texts())

    prefix.log_file.unlink()
    again = app.another()
    start_configured(again, prefix, SoundEffects={'exit_app': 'missing.wav'})
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


# The system's locale picks the language (a country's folder before the plain language's); a
# language without a catalogue is said once and English is used.
@pytest.mark.parametrize('locale, language, asked, active', [
    ('de_DE', None, 'de', 'Deutsch (code: de)'),
    ('pt_BR', None, 'pt-BR', 'Português (Brasil) (code: pt-BR)'),
    ('pt_PT', None, None, 'Português (code: pt)'),
    ('en_US', 'xx', None, 'English (code: en)')])
def test_the_language_follows_the_locale_or_the_setting(app, prefix, plain_portuguese_folder, locale, language,
                                                        asked, active):
    start_configured(app, prefix, env={'LC_ALL': f'{locale}.UTF-8', 'LANG': f'{locale}.UTF-8'},
                     General={'Language': language} if language else {})
    assert app.wait_log('Translator active language is now: ')
    assert asked is None or f'Attempting to set language to: {asked}' in app.log_texts()
    assert active_language(app) == 'Translator active language is now: ' + active
    if language:
        missing = [t.replace('/', '\\') for t in app.log_texts() if t.startswith('Translator ERROR: .mo file NOT')]
        assert len(missing) == 1 and missing[0].endswith('languages\\xx\\LC_MESSAGES\\messages.mo'), missing


def test_tray_tooltip_follows_the_language_and_the_recordings(app, prefix, driver):
    start_configured(app, prefix, env={'LC_ALL': 'ar_EG.UTF-8', 'LANG': 'ar_EG.UTF-8'},
                     GifOptions={'GifMode': 0, 'GifDuration': 0, 'PlayGifEventSounds': 0})
    assert app.wait_log('Translator active language is now: ')
    assert active_language(app).endswith('(code: ar)')
    arabic = 'فيستريل'
    shown = lambda text: wait_until(lambda: text in tooltips(driver), 10, 0.2)  # noqa: E731
    assert shown(arabic), tooltips(driver)
    # A recording shows in the tooltip; its end names the program untranslated ...
    since = app.mark()
    assert driver.keys('ctrl+shift+f10')
    assert app.wait_state('GIF Recorder: ', 'RECORDING', since)
    assert shown('Vistrel (Recording)'), tooltips(driver)
    assert driver.keys('ctrl+shift+f10')
    assert app.wait_state('GIF Recorder: ', 'IDLE', since)
    assert shown('Vistrel'), tooltips(driver)
    assert arabic not in tooltips(driver)
    # ... and a language change restores the translated name.
    assert app.post_core(WM_LANGUAGE_CHANGED)
    assert app.wait_log('Language changed message received. Updating tray icon tooltip.')
    assert shown(arabic), tooltips(driver)


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
