"""The settings dialog driven through its controls' messages and the keyboard only."""
import shutil
import subprocess
import time

from harness import (ARTIFACTS, BIN, CORE_WINDOW_CLASS, WM_HOTKEY, WM_SHOW_SETTINGS, DialogWindow, SinkRecorder,
                     display_picture, focused_control, read_config, shown_dialog, start_configured, tooltips,
                     wait_until, write_tone, write_tracks)

CAPTION = 'Vistrel Configuration'
PAGES = ['General', 'Screen Capture', 'Video Recording', 'Audio Recording', 'GIF Recording',
         'Hotkeys', 'Sound Effects', 'Devices']
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
TREE = 1000
CMD_CONFIGURE, CMD_PAUSE_HOTKEYS, CMD_EXIT = 40004, 40005, 40007
WM_TRAY_CALLBACK, NIN_SELECT, NIN_KEYSELECT = 0x8003, 0x0400, 0x0401

DEFAULT_SOUNDS = ['full.wav', 'capture.wav', 'window.wav', 'control.wav', 'mouse.wav', 'rec_start.wav',
                  'rec_stop.wav', 'rec_pause.wav', 'rec_resume.wav', 'mouse_click.wav', 'mouse_click.wav',
                  'None', 'None', 'exit.wav']


def start(app, prefix, general=None, **sections):
    """A quiet start with the dialog opened before; captures go to the clipboard only."""
    start_configured(app, prefix, General=dict({'AutoOpenedConf': 1}, **(general or {})), Options={'OutputMode': 0},
                     **sections)


def open_settings(app, driver, how: str = 'tray') -> DialogWindow:
    if how == 'tray':
        assert app.command(CMD_CONFIGURE)
    elif how == 'hotkey':
        assert driver.keys('ctrl+alt+shift+f10')
    elif how in ('click', 'enter'):
        # As the shell reports a click or Enter on a version 4 icon: the event in the low word, the
        # icon's id in the high word, the anchor point in wParam.
        event = NIN_SELECT if how == 'click' else NIN_KEYSELECT
        assert app.post_core(WM_TRAY_CALLBACK, 600 << 16 | 1000, 1 << 16 | event)
    else:
        assert app.post_core(WM_SHOW_SETTINGS)
    dialog = shown_dialog(driver, CAPTION)
    return dialog


def list_column(dialog: DialogWindow, control_id: int, column: int) -> list[str]:
    return [row.split('\t')[column] for row in dialog.items(control_id)]


def changed_keys(before: dict, after: dict) -> dict:
    assert set(after) == set(before), set(after) ^ set(before)
    return {key: value for key, value in after.items() if before[key] != value}


def change_hotkey(driver, dialog: DialogWindow, row: int, feature: str) -> None:
    """Gives the feature in that row of the Hotkeys page Ctrl+Shift+F9, from the keyboard."""
    dialog.select(1301, row)
    dialog.click(1302)
    change = shown_dialog(driver, 'Change Hotkey')
    assert change.text(1403) == feature
    assert wait_until(lambda: (focused_control(driver) or (0,))[0] == 1401), 'the capture control has the focus'
    assert driver.keys('ctrl+shift+f9', 'enter')
    assert change.wait_gone()
    assert list_column(dialog, 1301, 1)[row] == 'Ctrl + Shift + F9'


# Presses a combination and reports whether it reached the program; its action must log `line`.
def hotkey_fires(app, driver, combo: str, line: str) -> bool:
    before = app.mark()
    assert driver.keys(combo)
    app.barrier()
    fired = any(t.startswith('Hotkey ') and t.endswith(' pressed.') for t in app.log_texts()[before:])
    if fired:
        assert wait_until(lambda: line in app.log_texts()[before:]), f'{combo} did not run its action'
    return fired


def test_save_writes_exactly_the_changed_keys_and_registers_the_new_hotkeys(app, prefix, driver):
    # Values the lists do not hold open on the fallback items, and the first Save writes every key.
    start(app, prefix, VideoOptions={'VideoFramerate': 25},
          Devices={'ScreenID': '\\\\.\\DISPLAY9', 'MicrophoneID': '{gone}'})
    dialog = open_settings(app, driver, 'message')
    dialog.select(TREE, 2)
    assert dialog.text(1126) == '60 FPS (Smooth, Recommended for Gaming)'
    dialog.select(TREE, 7)
    assert (dialog.text(1702), dialog.text(1700)) == ('Default (Primary)', 'Default')
    outputs = dialog.items(1701)
    assert len(outputs) > 1 and outputs[0] == 'Default', 'the render endpoints are listed'
    dialog.close(IDOK)
    before = read_config(prefix)
    assert before[('General', 'Language')] == 'Default'
    assert [before[('VideoOptions', 'VideoFramerate')], before[('Devices', 'ScreenID')],
            before[('Devices', 'MicrophoneID')]] == ['60', 'Default', 'Default']

    dialog = open_settings(app, driver, 'hotkey')
    dialog.select(TREE, 0)
    dialog.click(1023)                      # Include mouse cursor: off
    dialog.select(TREE, 1)
    dialog.click(1012)                      # Save to File
    dialog.select(TREE, 2)
    dialog.select(1126, 0)                  # 30 FPS
    dialog.select(TREE, 3)
    dialog.select(1214, 2)                  # WAV
    dialog.select(TREE, 4)
    dialog.set_text(1530, '45')             # GIF duration
    dialog.select(TREE, 5)
    change_hotkey(driver, dialog, 4, 'Capture by Mouse Focus')
    dialog.select(TREE, 6)
    dialog.select(1600, 0)
    dialog.click(1603)                      # Clear the full-screen capture sound
    assert wait_until(lambda: list_column(dialog, 1600, 1)[0] == 'None')
    dialog.select(TREE, 7)
    screens = dialog.items(1702)
    assert screens[0] == 'Default (Primary)' and screens[1] == 'Screen 1: 1920x1080 (Primary)', screens
    dialog.select(1702, 1)
    microphones = dialog.items(1700)
    assert len(microphones) > 1, 'the capture endpoints are listed'
    dialog.select(1700, len(microphones) - 1)
    lines = app.mark()
    dialog.close(IDOK)

    changed = changed_keys(before, read_config(prefix))
    microphone = changed.pop(('Devices', 'MicrophoneID'))
    assert microphone.startswith('{') and microphone != 'Default', 'a real endpoint is stored by its ID'
    assert changed == {
        ('General', 'IncludeCursor'): '0',
        ('Options', 'OutputMode'): '1',
        ('VideoOptions', 'VideoFramerate'): '30',
        ('AudioOptions', 'AudioFormat'): '2',
        ('GifOptions', 'GifDuration'): '45',
        ('Hotkeys', 'MouseModifiers'): '6',
        ('Hotkeys', 'MouseVK'): '120',
        ('SoundEffects', 'CaptureFullscreen'): 'None',
        ('Devices', 'ScreenID'): '\\\\.\\DISPLAY1',
    }
    new = app.log_texts()[lines:]
    assert 'Registering hotkeys from provided config.' in new
    assert not any('Failed to register hotkey ID: ' in t for t in new)
    assert hotkey_fires(app, driver, 'ctrl+shift+f9', 'Starting CaptureMouseFocusedControl.')
    dialog = open_settings(app, driver)
    dialog.select(TREE, 7)
    assert dialog.state(1700) == len(microphones) - 1, 'and selected again by it'
    dialog.close(IDCANCEL)


def test_language_preview_relabels_at_once_and_cancel_restores_everything(app, prefix, driver):
    start(app, prefix)
    assert wait_until(lambda: 'Vistrel' in tooltips(driver))
    before = prefix.config_file.read_bytes()
    dialog = open_settings(app, driver, 'click')
    assert dialog.text(1903) == 'Language:'
    languages = dialog.items(1027)
    assert languages[0] == 'System Default'
    german = next(i for i, name in enumerate(languages) if name.startswith('Deutsch'))
    arabic = next(i for i, name in enumerate(languages) if name.startswith('العربية'))
    assert languages[german] == 'Deutsch (Translator: Orvanta)'

    dialog.select(1027, german)
    dialog = shown_dialog(driver, 'Vistrel-Konfiguration', 5000)
    assert dialog.text(1903) == 'Sprache:'
    assert dialog.text(IDOK) == 'Speichern'
    keep_pages(dialog, (1, 4, 2), lambda index: f'settings-de-{index}.png')
    assert dialog.text(1126) == '60 FPS (Flüssig, für Spiele empfohlen)'
    dialog.select(TREE, 0)
    keep_picture(dialog, 'settings-de-0.png')
    dialog.select(1027, arabic)
    dialog = shown_dialog(driver, 'إعدادات فيستريل', 5000)
    assert dialog.mirrored(), 'made anew from right to left'
    assert wait_until(lambda: (focused_control(driver) or (0,))[0] == 1027), 'the keyboard stays on the language'
    assert wait_until(lambda: 'فيستريل' in tooltips(driver)), tooltips(driver)
    assert 'Language changed message received. Updating tray icon tooltip.' in app.log_texts()

    dialog.close(IDCANCEL)
    assert prefix.config_file.read_bytes() == before
    assert wait_until(lambda: 'فيستريل' not in tooltips(driver) and 'Vistrel' in tooltips(driver)), tooltips(driver)
    dialog = open_settings(app, driver)
    assert dialog.text(1903) == 'Language:' and not dialog.mirrored()
    dialog.close(IDCANCEL)
    assert prefix.config_file.read_bytes() == before


def test_a_changed_hotkey_works_at_once_and_cancel_restores_the_stored_one(app, prefix, driver):
    start(app, prefix)
    dialog = open_settings(app, driver)
    dialog.select(TREE, 5)
    lines = app.mark()
    dialog.click(1302)
    box = shown_dialog(driver, 'No Feature Selected')
    assert box.text(0xFFFF) == 'Please select a feature from the list first.'
    box.close(IDOK)
    assert not any('hotkeys' in t.lower() for t in app.log_texts()[lines:]), 'no hotkey was touched'

    change_hotkey(driver, dialog, 0, 'Capture Full Screen')
    texts = app.log_texts()[lines:]
    assert 'Hotkeys temporarily unregistered for setting new one.' in texts
    assert 'Temporary hotkeys re-registered.' in texts

    assert hotkey_fires(app, driver, 'ctrl+shift+f9', 'Starting CaptureScreen.'), 'the new hotkey works before Save'
    assert not hotkey_fires(app, driver, 'ctrl+shift+f5', 'Starting CaptureScreen.')

    dialog.close(IDCANCEL)
    assert not hotkey_fires(app, driver, 'ctrl+shift+f9', 'Starting CaptureScreen.')
    assert hotkey_fires(app, driver, 'ctrl+shift+f5', 'Starting CaptureScreen.'), 'the stored hotkey works again'
    assert ('Hotkeys', 'FullScreenVK') not in read_config(prefix)


def choose_sound_file(driver, dialog: DialogWindow, row: int, windows_path: str) -> None:
    dialog.select(1600, row)
    dialog.click(1602)
    picker = shown_dialog(driver, 'Open')
    assert wait_until(lambda: (focused_control(driver) or (0, ''))[1] == 'Edit'), 'the file name box has the focus'
    assert driver.run('type', windows_path).returncode == 0
    assert driver.keys('enter')
    assert picker.wait_gone()


def test_sound_effects_clear_restore_and_choose_files(app, prefix, driver):
    elsewhere = prefix.temp_dir / 'vistrel-elsewhere.wav'
    elsewhere.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(BIN / 'sounds' / 'full.wav', elsewhere)
    start(app, prefix)
    dialog = open_settings(app, driver)
    dialog.select(TREE, 6)
    assert list_column(dialog, 1600, 1) == DEFAULT_SOUNDS
    assert list_column(dialog, 1600, 0)[13] == 'Exit Application'

    dialog.select(1600, 1)
    dialog.click(1603)
    assert wait_until(lambda: list_column(dialog, 1600, 1)[1] == 'None')
    restore = DialogWindow(driver, 'Restore Defaults')
    dialog.click(1604)
    assert restore.wait()
    restore.close(IDNO)
    app.barrier()  # the answer has been acted on
    assert list_column(dialog, 1600, 1)[1] == 'None'
    dialog.click(1604)
    assert restore.wait()
    restore.close(IDYES)
    assert wait_until(lambda: list_column(dialog, 1600, 1) == DEFAULT_SOUNDS)

    program_folder = 'Z:' + str(BIN).replace('/', '\\')
    choose_sound_file(driver, dialog, 0, program_folder + '\\sounds\\window.wav')
    assert wait_until(lambda: list_column(dialog, 1600, 1)[0] == 'window.wav')
    choose_sound_file(driver, dialog, 2, prefix.windows_path(elsewhere))
    assert wait_until(lambda: list_column(dialog, 1600, 1)[2] == prefix.windows_path(elsewhere))
    dialog.select(1600, 3)
    dialog.click(1603)
    assert wait_until(lambda: list_column(dialog, 1600, 1)[3] == 'None')
    dialog.close(IDOK)

    saved = read_config(prefix)
    assert saved[('SoundEffects', 'CaptureFullscreen')] == 'window.wav'
    assert saved[('SoundEffects', 'CaptureFreeform')] == 'capture.wav'
    assert saved[('SoundEffects', 'CaptureWindow')] == prefix.windows_path(elsewhere)
    assert saved[('SoundEffects', 'CaptureKeyboard')] == 'None'


def test_play_keeps_the_program_answering_and_a_second_press_stops_the_sound(app, prefix, driver):
    long_sound = prefix.temp_dir / 'vistrel-30-seconds.wav'
    long_sound.parent.mkdir(parents=True, exist_ok=True)
    write_tone(long_sound, seconds=30.0)
    start(app, prefix, SoundEffects={'CaptureFullscreen': prefix.windows_path(long_sound)})
    dialog = open_settings(app, driver)
    dialog.select(TREE, 6)
    dialog.select(1600, 0)
    watch = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'latency', CORE_WINDOW_CLASS, '--message-only',
                              '--timeout', '5000'], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    assert watch.stdout.readline().strip() == 'watching'
    with SinkRecorder() as sink:
        dialog.click(1601)
        assert wait_until(lambda: sink.loud_seconds() > 0.5, 10), 'the sound plays'
        answers = watch.communicate(timeout=60)[0].split()
        slowest = float(answers[answers.index('slowest') + 1])
        print(f'the core window answered within {slowest} ms at worst while the sound played')
        assert slowest < 500, answers
        assert not sink.quiet_for(0.5), 'it still plays after the program answered'
        assert dialog.text(1601) == 'Sto&p'
        dialog.click(1601)
        assert wait_until(lambda: sink.quiet_for(0.5), 5), 'a second press stops it'
    assert wait_until(lambda: dialog.text(1601) == '&Play')


def test_paused_hotkeys_stay_paused_through_save_and_cancel_and_the_tray_exit_still_works(app, prefix, driver):
    start(app, prefix)
    assert app.command(CMD_PAUSE_HOTKEYS)
    assert app.wait_log('Hotkeys paused.')
    lines = app.mark()
    open_settings(app, driver).close(IDOK)
    open_settings(app, driver, 'enter').close(IDCANCEL)
    assert not any('hotkeys' in t.lower() for t in app.log_texts()[lines:]), app.log_texts()[lines:]
    assert not hotkey_fires(app, driver, 'ctrl+shift+f5', 'Starting CaptureScreen.')
    assert not hotkey_fires(app, driver, 'ctrl+alt+shift+f4', 'Application exiting.'), 'the exit hotkey is paused too'
    assert app.command(CMD_PAUSE_HOTKEYS)
    assert app.wait_log('Hotkeys resumed.')
    assert hotkey_fires(app, driver, 'ctrl+shift+f5', 'Starting CaptureScreen.')
    assert app.command(CMD_PAUSE_HOTKEYS)
    assert app.wait_log_count('Hotkeys paused.', 2)
    assert app.command(CMD_EXIT)
    assert app.wait_exit() == 0


def keep_picture(dialog: DialogWindow, name: str, unlike: bytes | None = None) -> bytes:
    """The dialog as it is on the display once painted (two pictures in a row agree, and unlike
    `unlike`, the page shown before), kept as an artifact for people to look at; returns its bytes."""
    from PIL import Image
    import numpy as np
    left, top, right, bottom = dialog.rect()

    def grab():
        return display_picture()[max(top, 0):bottom, max(left, 0):right]

    previous, picture = None, grab()
    deadline = time.monotonic() + 10
    while ((previous is None or not np.array_equal(previous, picture) or picture.tobytes() == unlike)
           and time.monotonic() < deadline):
        previous, picture = picture, grab()
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    Image.fromarray(picture).save(ARTIFACTS / name)
    assert np.array_equal(previous, picture), f'{name}: the dialog kept changing'
    assert picture.tobytes() != unlike, f'{name}: looks like the page before'
    # Painted: a light face with dark text on it, not an empty or black rectangle.
    luminance = picture.mean(axis=2)
    assert (luminance > 200).mean() > 0.3 and (luminance < 100).sum() > 500, f'{name}: nothing painted'
    return picture.tobytes()


def keep_pages(dialog: DialogWindow, pages, name) -> None:
    """Shows each page in turn and keeps its picture; each page must look unlike the one before."""
    shown = None
    for index in pages:
        dialog.select(TREE, index)
        shown = keep_picture(dialog, name(index), shown)


def test_tab_walks_every_page_in_order_and_each_page_is_pictured(app, prefix, driver):
    start(app, prefix)
    dialog = open_settings(app, driver)

    def tab_order(presses: int) -> list[int]:
        ids = []
        for _ in range(presses):
            assert driver.keys('tab')
            ids.append(focused_control(driver)[0])
        return ids

    assert wait_until(lambda: (focused_control(driver) or (0,))[0] == TREE)
    # Tab goes from the page list into the page and on through the frame's buttons: the order
    # within each page is the template's, checked with the templates.
    assert tab_order(9) == [1027, 1022, 1023, 1024, 1025, 1026, IDOK, IDCANCEL, TREE]
    dialog.select(TREE, 2)
    assert dialog.state(1127) == 100 and dialog.text(1128) == '100%'
    dialog.set_pos(1127, 40)
    assert wait_until(lambda: dialog.text(1128) == '40%')

    keep_pages(dialog, range(len(PAGES)),
               lambda index: f'settings-{index}-{PAGES[index].lower().replace(" ", "-")}.png')
    dialog.select(TREE, 5)
    dialog.select(1301, 12)
    dialog.click(1302)
    change = shown_dialog(driver, 'Change Hotkey')
    keep_picture(change, 'settings-change-hotkey.png')
    change.close(IDCANCEL)


def test_arabic_mirrors_the_settings_and_track_dialogs(app, prefix, driver):
    write_tracks(prefix, [])
    start(app, prefix, {'Language': 'ar'})
    assert app.command(CMD_CONFIGURE)
    dialog = shown_dialog(driver, 'إعدادات فيستريل')
    left, _, right, _ = dialog.rect()
    assert dialog.mirrored() and dialog.mirrored(1027), 'the frame and its pages lay out from the right'
    # The page tree stands on the right, and each label right of the box it names.
    assert dialog.rect(TREE)[0] > (left + right) // 2
    assert dialog.rect(1903)[0] >= dialog.rect(1027)[2]
    keep_pages(dialog, range(len(PAGES)), lambda index: f'settings-ar-{index}.png')
    dialog.close(IDCANCEL)

    assert app.post_core(WM_HOTKEY, 12)
    manager = shown_dialog(driver, 'إدارة المسارات المتعددة')
    assert manager.mirrored()
    left, _, right, _ = manager.rect()
    assert manager.rect(1803)[0] > (left + right) // 2, 'the first button of the row is on the right'
    keep_picture(manager, 'tracks-ar.png')
    manager.click(1803)
    editor = shown_dialog(driver, 'تحرير المسار')
    assert editor.mirrored()
    assert editor.rect(1822)[0] >= editor.rect(1810)[2], 'the name label is right of the name box'
    keep_picture(editor, 'track-editor-ar.png')
    editor.close(IDCANCEL)
    manager.close(IDOK)
