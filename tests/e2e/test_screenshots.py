"""Screenshots end to end, and what the user hears and reads when an output fails."""
import re
import subprocess

import pytest

from harness import (BIN, DriverWindow, SinkRecorder, empty_folder, load_image, mouse_move, png_files,
                     set_clipboard_text, shown_dialog, start_configured, tooltips, wait_balloon, wait_clipboard_image,
                     wait_files, wait_until)

STAMP = r'\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d'


@pytest.fixture
def shots(prefix):
    return empty_folder(prefix.user_dir / 'Pictures' / 'vistrel-e2e')


def start(app, prefix, shots, output_mode=1, **extra):
    start_configured(app, prefix, Options={'OutputMode': output_mode},
                     Paths=extra.pop('Paths', {'ScreenshotPath': prefix.windows_path(shots)}), **extra)


NOTHING_CAPTURED = ('Nothing was captured: the screen, window or control could not be read. Bring what you want '
                    'to capture to the front, give it the focus and try again.')
CLIPBOARD_HELD = 'Another program is using the clipboard, so the picture was not copied. Try again in a moment.'


def one_file(shots, name_pattern):
    """The one new capture, read and removed (the next one may get the same name within a second)."""
    files = wait_files(shots)
    assert len(files) == 1, files
    assert re.fullmatch(name_pattern, files[0].name), files[0].name
    image = load_image(files[0])
    files[0].unlink()
    return image


def test_each_mode_to_a_file_and_the_window_picker(app, prefix, shots, driver):
    start(app, prefix, shots, Hotkeys={'MouseModifiers': 6, 'MouseVK': 0x78})
    set_clipboard_text('untouched')
    # No control has the focus: nothing is written, and the user hears and reads why.
    with SinkRecorder() as sink:
        assert driver.keys('ctrl+shift+f8')
        assert app.wait_log('GetGUIThreadInfo failed or no control has keyboard focus.')
        assert wait_balloon(driver, 'Capture Failed', NOTHING_CAPTURED)
        assert wait_until(lambda: 'capture_failed.wav' in sink.sounds(), 5), sink.sounds()
    assert png_files(shots) == []

    with DriverWindow('pattern', '30'), SinkRecorder() as sound:
        assert driver.keys('ctrl+shift+f5')
        files = wait_files(shots)
        assert wait_until(lambda: 'full.wav' in sound.sounds(), 3), 'the capture sound is heard'
    assert wait_balloon(driver, 'Capture Successful', 'Saved to file.')
    assert 'Capture: Generated final save path: ' + prefix.windows_path(files[0]) in app.log_texts()
    image = one_file(shots, f'FullScreen_{STAMP}.png')
    assert image.shape == (1080, 1920, 3)
    # The quadrants painted by the test window, away from the cursor.
    assert [tuple(image[y, x]) for y, x in ((100, 100), (100, 1800), (1000, 100), (1000, 1800))] == \
        [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]
    # OutputMode 1 leaves the clipboard alone.
    assert subprocess.run(['xclip', '-selection', 'clipboard', '-o'], capture_output=True,
                          text=True).stdout == 'untouched'

    # The active window, with its open menu and its focused edit outlined.
    with DriverWindow('window', 'a/b:c', '300', '200', '500', '300', '336699', '30', '--edit', '--menu') as w:
        assert driver.run('wait-window', '#32768', '--visible').returncode == 0, 'the menu opens'
        assert driver.keys('ctrl+shift+f7')
        image = one_file(shots, f'a_b_c_{STAMP}.png')
    left, top, right, bottom = w.rect
    height, width = image.shape[:2]
    assert width >= right - left and height > bottom - top, 'the menu below the window grows the capture'
    assert (image[bottom - top + 5:, :].sum(axis=2) > 300).sum() > 500, 'menu pixels below the window'
    # The window's own colour is there (PrintWindow renders its background).
    assert (image == (0x33, 0x66, 0x99)).all(axis=2).sum() > 1000
    # Across the edit box's left edge, 2 px outside it: background, black, yellow, black, the box.
    el, et, er, eb = (w.edit[0] - left, w.edit[1] - top, w.edit[2] - left, w.edit[3] - top)
    # Each pixel as 'k' black, 'y' yellow or 'o' anything else.
    row = image[(et + eb) // 2, el - 7:el + 1].astype(int)
    band = ''.join('k' if r + g + b < 60 else 'y' if r > 200 and g > 200 and b < 80 else 'o' for r, g, b in row)
    assert 'kyyyk' in band, band

    # The focused control, and the control under the pointer, exactly.
    with DriverWindow('window', 'Focus test', '200', '150', '400', '250', 'cccccc', '30', '--edit') as w:
        el, et, er, eb = w.edit
        assert driver.keys('ctrl+shift+f8')
        assert one_file(shots, f'Capture_{STAMP}.png').shape[:2] == (eb - et, er - el)
        assert mouse_move(driver, (el + er) // 2, (et + eb) // 2)
        assert driver.keys('ctrl+shift+f9')
        assert one_file(shots, f'Capture_{STAMP}.png').shape[:2] == (eb - et, er - el)

    # The tray's window capture always asks: the picker lists the eligible windows, sorted.
    with DriverWindow('window', 'Zeta window', '50', '50', '300', '200', '884422', '60'), \
            DriverWindow('window', 'Alpha window', '400', '50', '300', '200', '224488', '60'):
        assert app.command(40003)
        picker = shown_dialog(driver, 'Select Window to Capture', 10000)
        items = [i.strip() for i in picker.items(3002) if i.strip()]
        assert 'Alpha window' in items and 'Zeta window' in items
        assert items == sorted(items, key=str.lower)
        assert 'Vistrel UI Owner' not in items, 'the hidden owner window is not offered'
        picker.close(1, 5000)  # OK, nothing selected
        assert app.wait_log('Window selection cancelled.')
    assert png_files(shots) == []


def test_clipboard_only_a_held_clipboard_and_a_series_that_is_heard_in_full(app, prefix, shots, driver):
    start(app, prefix, shots, output_mode=0)
    holder = subprocess.Popen(['wine', str(BIN / 'vistrel-driver.exe'), 'hold-clipboard', '60'],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        assert holder.stdout.readline().strip() == 'held'
        with DriverWindow('pattern', '30'), SinkRecorder() as sink:
            assert driver.keys('ctrl+shift+f5')
            assert app.wait_line('Capture: Failed: ' + CLIPBOARD_HELD)
            assert wait_balloon(driver, 'Capture Failed', CLIPBOARD_HELD)
            assert wait_until(lambda: 'clipboard_failed.wav' in sink.sounds(), 5), sink.sounds()
            assert 'full.wav' not in sink.sounds(), 'no capture sound for a failed capture'
        assert 'Capture Successful' not in '\n'.join(tooltips(driver))
    finally:
        holder.kill()
        holder.wait(10)

    set_clipboard_text('before')
    with DriverWindow('pattern', '30'):
        assert driver.keys('ctrl+shift+f5')
        image = wait_clipboard_image()
    assert image is not None, 'no picture reached the clipboard'
    assert image.shape == (1080, 1920, 3) and tuple(image[100, 100]) == (255, 0, 0)
    assert wait_balloon(driver, 'Capture Successful', 'Copied to clipboard.')

    with SinkRecorder() as sink:
        for count in range(1, 21):
            since = app.mark()
            assert driver.keys('ctrl+shift+f5')
            assert app.wait_line('Capture: Bitmap copied to the clipboard.', since)
            # The next capture comes once this sound is over, so each one is heard on its own.
            assert wait_until(lambda: len(sink.bursts()) >= count and sink.quiet_for(0.2), 10), \
                f'capture {count} was not heard'
        heard = sink.sounds()
    assert heard.count('full.wav') >= 19, heard
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


def test_a_folder_that_cannot_be_written_has_its_own_sound_and_says_what_to_do(app, prefix, shots, driver):
    # A file where the folder should be: the folder can be neither made nor written.
    shots.parent.mkdir(parents=True, exist_ok=True)
    blocker = shots.parent / 'not-a-folder'
    blocker.write_text('x')
    start(app, prefix, shots, output_mode=2, Paths={'ScreenshotPath': prefix.windows_path(blocker)})
    with DriverWindow('pattern', '30'), SinkRecorder() as sink:
        since = app.mark()
        assert driver.keys('ctrl+shift+f5')
        assert wait_until(lambda: any(t.startswith('Capture: Failed: ') for t in app.log_texts()[since:]))
        said = next(t for t in app.log_texts()[since:] if t.startswith('Capture: Failed: '))[17:]
        assert said.startswith('The picture could not be saved in ' + prefix.windows_path(blocker))
        assert said.endswith(' Choose another screenshot folder in the settings.')
        # What did work is said first.
        assert wait_balloon(driver, 'Capture Failed', 'Copied to clipboard. ' + said)
        assert wait_until(lambda: 'save_failed.wav' in sink.sounds(), 5), sink.sounds()
        assert 'full.wav' not in sink.sounds(), 'no capture sound for a failed capture'
    assert 'Capture Successful' not in '\n'.join(tooltips(driver))
    assert png_files(shots) == []
