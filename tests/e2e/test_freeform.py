"""Free-form screenshots: the selection overlay, its loupe and label, and what a drag captures.

The test pattern (a top-most window in four quadrants meeting at 960, 540) gives every screen pixel
a known colour, so a capture can be compared with the screen it was taken from.
"""
import re
import time

import numpy as np
import pytest

from harness import (DriverWindow, SinkRecorder, display_picture, load_image, mouse_button,
                     mouse_click, mouse_drag, mouse_move, png_files, wait_files, wait_until, write_config)

OVERLAY = 'FreeFormSelectWindowClass'
STARTING = 'Starting enhanced freeform capture mode.'
COMPLETE = 'Freeform capture complete.'
SAVED = 'Capture: Generated final save path: '
CMD_CAPTURE_FREE_FORM = 40002
STAMP = r'\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d'

RED, GREEN, BLUE, WHITE = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)
MID_X, MID_Y = 960, 540


def pattern(left, top, right, bottom):
    """The test pattern's pixels in a screen rectangle, as an RGB array."""
    ys, xs = np.mgrid[top:bottom, left:right]
    image = np.zeros((bottom - top, right - left, 3), np.uint8)
    for colour, mask in ((RED, (xs < MID_X) & (ys < MID_Y)), (GREEN, (xs >= MID_X) & (ys < MID_Y)),
                         (BLUE, (xs < MID_X) & (ys >= MID_Y)), (WHITE, (xs >= MID_X) & (ys >= MID_Y))):
        image[mask] = colour
    return image


@pytest.fixture
def shots(prefix):
    folder = prefix.user_dir / 'Pictures' / 'ff-test'
    folder.mkdir(parents=True, exist_ok=True)
    for f in folder.iterdir():
        f.unlink()
    return folder


def start(app, prefix, shots):
    # No cursor in the captures, so that they can be compared pixel for pixel.
    write_config(prefix, {
        'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0, 'IncludeCursor': 0},
        'Options': {'OutputMode': 1},
        'Paths': {'ScreenshotPath': prefix.windows_path(shots)},
    })
    app.start()
    assert app.wait_log('Registering hotkeys from provided config.')


def wait_count(app, text, count, timeout=20.0):
    """Waits until the log holds `count` lines equal to text."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if app.log_texts().count(text) >= count:
            return True
        time.sleep(0.1)
    return False


def open_overlay(app, driver, tray=False):
    starts = app.log_texts().count(STARTING)
    assert app.command(CMD_CAPTURE_FREE_FORM) if tray else driver.keys('ctrl+shift+f6')
    assert driver.wait_window(OVERLAY), 'the selection overlay did not open'
    assert app.log_texts().count(STARTING) == starts + 1


def drag_and_capture(app, driver, shots, corners):
    """Drags between the corners and returns the one new PNG as an RGB array."""
    done = app.log_texts().count(COMPLETE)
    assert mouse_drag(driver, *corners)
    assert wait_count(app, COMPLETE, done + 1)
    assert driver.wait_gone(OVERLAY)
    files = wait_files(shots)
    assert len(files) == 1, files
    assert re.fullmatch(f'Capture_{STAMP}.png', files[0].name)
    image = load_image(files[0])
    files[0].unlink()  # the next capture may get the same name within a second
    return image


def picture_when(condition, name, timeout=10.0):
    """Takes pictures of the display until condition(picture) holds; keeps the last one."""
    deadline = time.monotonic() + timeout
    while True:
        picture = display_picture(name)
        if condition(picture) or time.monotonic() >= deadline:
            return picture
        time.sleep(0.2)


def dimmed(value):
    """A colour under the black shade of alpha 128."""
    return np.array(value, dtype=int) * 127 // 255


def near(picture, x, y, colour, reach=1):
    """Whether a pixel within `reach` of (x, y) has exactly that colour."""
    patch = picture[y - reach:y + reach + 1, x - reach:x + reach + 1].reshape(-1, 3)
    return any(tuple(p) == tuple(colour) for p in patch)


def label_shown(picture, left, top):
    """A dark 120 x 30 box with white text in it."""
    box = picture[top:top + 30, left:left + 120].astype(int)
    dark = (box.max(axis=2) < 70).mean()
    text = (box.min(axis=2) > 200).sum()
    return dark > 0.5 and text >= 20


# Captures -----------------------------------------------------------------------------------

def test_a_six_by_six_drag_captures_six_by_six_pixels_and_plays_the_sound(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'), SinkRecorder() as sound:
        open_overlay(app, driver)
        # Across the pattern's centre, so that a shift by one pixel changes the picture.
        image = drag_and_capture(app, driver, shots, (957, 537, 963, 543))
        played = wait_until(lambda: 'capture.wav' in sound.sounds(), 5)
    assert image.shape == (6, 6, 3)
    assert np.array_equal(image, pattern(957, 537, 963, 543))
    assert played, sound.sounds()


def test_a_drag_can_start_where_the_loupe_is(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'):
        open_overlay(app, driver)
        assert mouse_move(driver, 700, 350)
        # The loupe now covers (720, 370)-(840, 490); its white cross runs down column 780.
        picture = picture_when(lambda p: near(p, 780, 400, WHITE), 'freeform-loupe-in-the-way.png')
        assert near(picture, 780, 400, WHITE)
        image = drag_and_capture(app, driver, shots, (800, 400, 900, 470, 1))
    assert np.array_equal(image, pattern(800, 400, 900, 470))


def test_dragging_up_left_captures_what_dragging_down_right_does(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'):
        open_overlay(app, driver)
        down_right = drag_and_capture(app, driver, shots, (950, 527, 970, 551))
        open_overlay(app, driver)
        up_left = drag_and_capture(app, driver, shots, (970, 551, 950, 527))
    assert down_right.shape == (24, 20, 3)
    assert np.array_equal(down_right, pattern(950, 527, 970, 551))
    assert np.array_equal(up_left, down_right)


def test_the_selection_is_taken_from_the_live_screen_not_the_snapshot(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'):
        open_overlay(app, driver)
    # The pattern is gone from the screen but still in the overlay's frozen picture.
    image = drag_and_capture(app, driver, shots, (900, 500, 1020, 580))
    screen = display_picture()
    assert np.array_equal(image, screen[500:580, 900:1020])
    assert not np.array_equal(image, pattern(900, 500, 1020, 580))


def test_the_tray_command_captures_as_free_form(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'), SinkRecorder() as sound:
        open_overlay(app, driver, tray=True)
        image = drag_and_capture(app, driver, shots, (600, 300, 700, 350))
        played = wait_until(lambda: 'capture.wav' in sound.sounds(), 5)
    assert np.array_equal(image, pattern(600, 300, 700, 350))
    assert played, sound.sounds()
    assert any(t.startswith(SAVED) and '\\Capture_' in t for t in app.log_texts())


# Cancels ------------------------------------------------------------------------------------

def press_left_and_move(driver, x, y):
    return mouse_move(driver, 800, 400) and mouse_button(driver, 'down') and mouse_move(driver, x, y)


def activate_another_window(driver):
    with DriverWindow('window', 'Another program', '100', '100', '300', '200', '884422', '30'):
        return driver.wait_gone(OVERLAY)


CANCELS = {
    'another window activated': activate_another_window,
    'click': lambda d: mouse_click(d, 800, 400),
    'five pixels wide': lambda d: mouse_drag(d, 800, 400, 805, 460),
    'five pixels high': lambda d: mouse_drag(d, 800, 400, 860, 405),
    'escape': lambda d: d.keys('esc'),
    'escape while dragging': lambda d: press_left_and_move(d, 900, 500) and d.keys('esc'),
    'right button': lambda d: mouse_click(d, 800, 400, 'right'),
    'right button while dragging':
        lambda d: press_left_and_move(d, 900, 500) and mouse_button(d, 'down', 'right'),
}


@pytest.mark.parametrize('action', CANCELS)
def test_cancelling_writes_nothing_and_stays_silent(app, prefix, shots, driver, action):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'), SinkRecorder() as sound:
        open_overlay(app, driver)
        assert CANCELS[action](driver)
        assert driver.wait_gone(OVERLAY), 'the overlay closes'
        mouse_button(driver, 'up', 'right')
        mouse_button(driver, 'up', 'left')
        assert wait_count(app, COMPLETE, 1)
        # A capture is handed to the core window before the overlay logs that it is complete.
        app.barrier()
    assert png_files(shots) == []
    assert sound.peak() < 0.01, 'no capture sound'
    texts = app.log_texts()
    assert texts.count(COMPLETE) == 1
    assert not any(t.startswith(SAVED) for t in texts)


def test_a_second_request_while_the_overlay_is_open_changes_nothing(app, prefix, shots, driver):
    start(app, prefix, shots)
    open_overlay(app, driver)
    first = driver.run('wait-window', OVERLAY).stdout.strip()
    assert driver.keys('ctrl+shift+f6')
    assert app.command(CMD_CAPTURE_FREE_FORM)
    app.barrier()
    assert driver.run('wait-window', OVERLAY).stdout.strip() == first
    # The requests above are handled before the Escape below; one Escape closes the only overlay.
    assert driver.keys('esc')
    assert wait_count(app, COMPLETE, 1)
    assert driver.wait_gone(OVERLAY, timeout_ms=5000), 'a second overlay was opened'
    assert app.log_texts().count(STARTING) == 1
    # Closed, the mode starts again.
    open_overlay(app, driver)
    assert driver.keys('esc')
    assert wait_count(app, COMPLETE, 2)


def test_exiting_with_the_overlay_open_cancels_it_and_ends_cleanly(app, prefix, shots, driver):
    start(app, prefix, shots)
    open_overlay(app, driver)
    assert mouse_move(driver, 800, 400) and mouse_button(driver, 'down')
    assert mouse_move(driver, 900, 500)
    assert driver.keys('ctrl+alt+shift+f4')
    assert app.wait_exit() == 0
    mouse_button(driver, 'up')
    texts = app.log_texts()
    assert texts.count(COMPLETE) == 1
    assert texts.index('Application exiting.') < texts.index(COMPLETE)
    assert png_files(shots) == []


# What the overlay shows ---------------------------------------------------------------------

def test_the_overlay_shows_dimming_crosshair_outline_label_and_loupe(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'):
        plain = display_picture()
        assert tuple(plain[200, 200]) == RED, 'the pattern is on screen'
        open_overlay(app, driver)

        # Before any button press: dimmed everywhere, no size label (it would be at +20, +146).
        assert mouse_move(driver, 700, 300)
        before = picture_when(lambda p: near(p, 300, 300, (255, 255, 0)), 'freeform-before-press.png')
        assert tuple(before[800, 800]) == tuple(dimmed(BLUE))
        assert not label_shown(before, 720, 446)
        assert (before[446:476, 720:840].min(axis=2) > 200).sum() == 0

        # Dragging from (700, 300) to (1100, 700).
        assert mouse_button(driver, 'down')
        assert mouse_move(driver, 1100, 700)
        # The label and the loupe repaint separately: wait until both show the new position.
        during = picture_when(lambda p: label_shown(p, 1120, 846) and tuple(p[750, 1150]) == WHITE,
                              'freeform-dragging.png')

        # Outside the selection the frozen picture is darkened to half.
        for x, y in ((200, 200), (1700, 200), (200, 900), (1700, 900)):
            assert tuple(during[y, x]) == tuple(dimmed(plain[y, x])), (x, y)
            assert during[y, x].astype(int).sum() < plain[y, x].astype(int).sum()
        # Inside it the picture is untouched.
        for x, y in ((800, 400), (1000, 400), (800, 600), (1000, 600)):
            assert tuple(during[y, x]) == tuple(plain[y, x]), (x, y)
        # Yellow crosshair through the pointer across the whole screen, white selection outline.
        assert near(during, 300, 700, (255, 255, 0)) and near(during, 1100, 100, (255, 255, 0))
        assert near(during, 1700, 700, (255, 255, 0)) and near(during, 1100, 1000, (255, 255, 0))
        assert near(during, 700, 500, WHITE) and near(during, 900, 300, WHITE)
        # The size label under the loupe, the loupe beside the pointer: an undimmed enlargement of
        # the white quadrant inside its circle, the overlay's dimmed white at its square's corner,
        # a red cross at its centre.
        assert label_shown(during, 1120, 846)
        assert tuple(during[750, 1150]) == WHITE
        assert tuple(during[721, 1121]) == tuple(dimmed(WHITE))
        assert near(during, 1180, 760, RED) and near(during, 1160, 780, RED)

        # Near the bottom-right corner the loupe and label move to the other side of the pointer.
        assert mouse_move(driver, 1850, 1000)
        edge = picture_when(lambda p: label_shown(p, 1710, 824), 'freeform-edge.png')
        assert label_shown(edge, 1710, 824)
        assert near(edge, 1770, 890, RED)

        assert driver.keys('esc')
        assert driver.wait_gone(OVERLAY)
        mouse_button(driver, 'up')
    assert png_files(shots) == []
