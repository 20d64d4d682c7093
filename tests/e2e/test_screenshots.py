"""Screenshots end to end: full screen, active window, focused control, control under the mouse,
and what the user hears and reads when an output fails."""
import re
import subprocess

import numpy as np
import pytest

from harness import (BIN, DriverWindow, SinkRecorder, clipboard_image, load_image, png_files,
                     set_clipboard_text, tooltips, wait_balloon, wait_clipboard_image, wait_files, wait_until, write_config)

STAMP = r'\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d'


@pytest.fixture
def shots(prefix):
    folder = prefix.user_dir / 'Pictures' / 'vistrel-e2e'
    if folder.exists():
        for f in folder.iterdir():
            f.unlink()
    return folder


def classify(pixel):
    """'k' black, 'y' yellow, 'o' anything else."""
    r, g, b = (int(v) for v in pixel)
    if r + g + b < 60:
        return 'k'
    if r > 200 and g > 200 and b < 80:
        return 'y'
    return 'o'


def start(app, prefix, shots, output_mode=1, **extra):
    sections = {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0},
                'Options': {'OutputMode': output_mode},
                'Paths': {'ScreenshotPath': prefix.windows_path(shots.parent) + '\\' + shots.name}}
    for section, values in extra.items():
        sections.setdefault(section, {}).update(values)
    write_config(prefix, sections)
    app.start()
    assert app.wait_log('Registering hotkeys from provided config.')


def test_full_screen_png_matches_the_screen_and_is_announced(app, prefix, shots, driver):
    start(app, prefix, shots, output_mode=1)
    set_clipboard_text('untouched')
    with DriverWindow('pattern', '30'), SinkRecorder() as sound:
        assert driver.keys('ctrl+shift+f5')
        files = wait_files(shots)
        heard = wait_until(lambda: 'full.wav' in sound.sounds(), 3)
    assert len(files) == 1
    assert re.fullmatch(f'FullScreen_{STAMP}.png', files[0].name)
    image = load_image(files[0])
    assert image.shape == (1080, 1920, 3)
    # The quadrants painted by the test window, away from the cursor.
    assert tuple(image[100, 100]) == (255, 0, 0)
    assert tuple(image[100, 1800]) == (0, 255, 0)
    assert tuple(image[1000, 100]) == (0, 0, 255)
    assert tuple(image[1000, 1800]) == (255, 255, 255)
    assert wait_balloon(driver, 'Capture Successful', 'Saved to file.')
    assert 'Capture: Generated final save path: ' + prefix.windows_path(files[0]) in app.log_texts()
    assert heard, 'the capture sound is heard'
    # OutputMode 1 leaves the clipboard alone.
    assert subprocess.run(['xclip', '-selection', 'clipboard', '-o'], capture_output=True,
                          text=True).stdout == 'untouched'


def test_clipboard_only_writes_no_file(app, prefix, shots, driver):
    start(app, prefix, shots, output_mode=0)
    set_clipboard_text('before')
    with DriverWindow('pattern', '30'):
        assert driver.keys('ctrl+shift+f5')
        image = wait_clipboard_image()
    assert image is not None, 'no picture reached the clipboard'
    assert image.shape == (1080, 1920, 3)
    assert tuple(image[100, 100]) == (255, 0, 0)
    assert wait_balloon(driver, 'Capture Successful', 'Copied to clipboard.')
    # A saved capture claims its file before the balloon is shown.
    assert png_files(shots) == []
    assert not any(t.startswith('Capture: Generated final save path: ') for t in app.log_texts())


def test_file_and_clipboard_and_two_captures_in_one_second_keep_both(app, prefix, shots, driver):
    start(app, prefix, shots, output_mode=2)
    with DriverWindow('pattern', '30'):
        assert driver.keys('ctrl+shift+f5', 'ctrl+shift+f5')
        files = wait_files(shots, 2)
    assert len(files) == 2, files
    names = sorted(f.name for f in files)
    if names[0][:-4] + '_2.png' != names[1]:
        # The two captures fell into different seconds: both plain names.
        assert all(re.fullmatch(f'FullScreen_{STAMP}.png', n) for n in names)
    assert wait_clipboard_image() is not None
    assert wait_balloon(driver, 'Capture Successful', 'Saved to file and copied to clipboard.')


def test_active_window_with_menu_and_focused_edit(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('window', 'a/b:c', '300', '200', '500', '300', '336699', '30', '--edit', '--menu') as w:
        assert driver.run('wait-window', '#32768', '--visible').returncode == 0, 'the menu opens'
        assert driver.keys('ctrl+shift+f7')
        files = wait_files(shots)
    assert len(files) == 1
    assert re.fullmatch(f'a_b_c_{STAMP}.png', files[0].name), files[0].name
    image = load_image(files[0])
    left, top, right, bottom = w.rect
    height, width = image.shape[:2]
    assert width >= right - left and height >= bottom - top
    assert height > bottom - top, 'the menu below the window grows the capture'
    below = image[bottom - top + 5:, :]
    assert (below.sum(axis=2) > 300).sum() > 500, 'menu pixels below the window'
    # The window's own colour is there (PrintWindow renders its background).
    assert (image == (0x33, 0x66, 0x99)).all(axis=2).sum() > 1000
    # The edit box is outlined yellow, 2 px outside its rectangle.
    el, et, er, eb = (w.edit[0] - left, w.edit[1] - top, w.edit[2] - left, w.edit[3] - top)
    mid_y = (et + eb) // 2
    # Across the left edge: background, black, yellow, black, then the edit box itself.
    band = [classify(p) for p in image[mid_y, el - 7:el + 1]]
    assert 'kyyyk' in ''.join(band), band
    yellow = image[mid_y, el - 2]
    assert yellow[0] > 200 and yellow[1] > 200 and yellow[2] < 80, yellow
    assert 'Found focused control to highlight.' in app.log_texts()


def test_keyboard_focus_mode_captures_exactly_the_control(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('window', 'Focus test', '200', '150', '400', '250', 'cccccc', '30', '--edit') as w:
        assert driver.keys('ctrl+shift+f8')
        files = wait_files(shots)
    assert len(files) == 1
    assert re.fullmatch(f'Capture_{STAMP}.png', files[0].name)
    image = load_image(files[0])
    el, et, er, eb = w.edit
    assert image.shape[:2] == (eb - et, er - el)


def test_mouse_mode_captures_the_control_under_the_pointer(app, prefix, shots, driver):
    start(app, prefix, shots, Hotkeys={'MouseModifiers': 6, 'MouseVK': 0x78})
    with DriverWindow('window', 'Mouse test', '200', '150', '400', '250', 'cccccc', '30', '--edit') as w:
        el, et, er, eb = w.edit
        assert driver.run('mouse-move', str((el + er) // 2), str((et + eb) // 2)).returncode == 0
        assert driver.keys('ctrl+shift+f9')
        files = wait_files(shots)
    assert len(files) == 1
    assert load_image(files[0]).shape[:2] == (eb - et, er - el)


def test_no_focused_control_writes_nothing_and_says_so(app, prefix, shots, driver):
    start(app, prefix, shots)
    with SinkRecorder() as sink:
        assert driver.keys('ctrl+shift+f8')
        assert app.wait_log('GetGUIThreadInfo failed or no control has keyboard focus.')
        assert wait_balloon(driver, 'Capture Failed', NOTHING_CAPTURED)
        assert wait_until(lambda: 'capture_failed.wav' in sink.sounds(), 5), sink.sounds()
    assert png_files(shots) == []


NOTHING_CAPTURED = ('Nothing was captured: the screen, window or control could not be read. Bring what you want '
                    'to capture to the front, give it the focus and try again.')
CLIPBOARD_HELD = 'Another program is using the clipboard, so the picture was not copied. Try again in a moment.'


@pytest.mark.parametrize('failure', ['clipboard held by another program', 'folder that cannot be written'])
def test_a_failed_output_has_its_own_sound_and_says_what_to_do(app, prefix, shots, driver, failure):
    holder = None
    if failure.startswith('clipboard'):
        start(app, prefix, shots, output_mode=0)
        holder = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'hold-clipboard', '60'],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        assert holder.stdout.readline().strip() == 'held'
        sound = 'clipboard_failed.wav'
    else:
        # A file where the folder should be: the folder can be neither made nor written.
        shots.parent.mkdir(parents=True, exist_ok=True)
        blocker = shots.parent / 'not-a-folder'
        blocker.write_text('x')
        start(app, prefix, shots, output_mode=2, Paths={'ScreenshotPath': prefix.windows_path(blocker)})
        sound = 'save_failed.wav'
    try:
        with DriverWindow('pattern', '30'), SinkRecorder() as sink:
            since = app.mark()
            assert driver.keys('ctrl+shift+f5')
            assert wait_until(lambda: any(t.startswith('Capture: Failed: ') for t in app.log_texts()[since:]))
            said = next(t for t in app.log_texts()[since:] if t.startswith('Capture: Failed: '))[17:]
            if holder:
                assert said == CLIPBOARD_HELD
            else:
                assert said.startswith('The picture could not be saved in ' + prefix.windows_path(blocker))
                assert said.endswith(' Choose another screenshot folder in the settings.')
                said = 'Copied to clipboard. ' + said  # what did work is said first
            assert wait_balloon(driver, 'Capture Failed', said)
            assert wait_until(lambda: sound in sink.sounds(), 5), sink.sounds()
            heard = sink.sounds()
    finally:
        if holder:
            holder.kill()
            holder.wait(10)
    assert 'full.wav' not in heard, 'no capture sound for a failed capture'
    assert 'Capture Successful' not in '\n'.join(tooltips(driver))
    assert png_files(shots) == []


def test_picker_lists_eligible_windows_and_ok_without_selection_cancels(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('window', 'Zeta window', '50', '50', '300', '200', '884422', '60'), \
            DriverWindow('window', 'Alpha window', '400', '50', '300', '200', '224488', '60'):
        # Nothing capturable in front: minimise both via the picker path by focusing the desktop.
        assert app.command(40003)  # the tray's window capture always asks
        assert driver.wait_window('#32770', timeout_ms=10000)
        items = driver.run('list-items', 'Select Window to Capture', '3002').stdout.split('\n')
        items = [i.strip() for i in items if i.strip()]
        assert 'Alpha window' in items and 'Zeta window' in items
        assert items == sorted(items, key=str.lower)
        assert 'Vistrel UI Owner' not in items, 'the hidden owner window is not offered'
        assert driver.post_dialog('Select Window to Capture', 0x0111, 1)  # OK, nothing selected
        assert driver.wait_gone('#32770', timeout_ms=5000)
        assert app.wait_log('Window selection cancelled.')
    assert png_files(shots) == []


def test_every_capture_of_a_series_is_heard(app, prefix, shots, driver):
    start(app, prefix, shots, output_mode=0)
    with SinkRecorder() as sink:
        for count in range(1, 21):
            since = app.mark()
            assert driver.keys('ctrl+shift+f5')
            assert app.wait_line('Capture: Bitmap copied to the clipboard.', since)
            # The next capture comes once this sound is over, so each one is heard on its own.
            wait_until(lambda: len(sink.bursts()) >= count and sink.quiet_for(0.2), 3)
        heard = sink.sounds()
    assert heard.count('full.wav') >= 19, heard
