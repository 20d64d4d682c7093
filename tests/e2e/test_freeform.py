"""Free-form screenshots: the selection overlay, its loupe and label, and what a drag captures."""
# The test pattern (a top-most window in four quadrants meeting at 960, 540) gives every screen
# pixel a known colour, so a capture can be compared with the screen it was taken from.
import re
import time

import numpy as np
import pytest

from harness import (NOTHING_CAPTURED, DriverWindow, SinkRecorder, StandIn, display_picture, empty_folder,
                     focused_control, load_image, mouse_button, mouse_drag, mouse_move, png_files, start_configured,
                     wait_balloon, wait_files, wait_until)

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
    return empty_folder(prefix.user_dir / 'Pictures' / 'ff-test')


def start(app, prefix, shots):
    # No cursor in the captures, so that they can be compared pixel for pixel.
    start_configured(app, prefix, General={'IncludeCursor': 0}, Options={'OutputMode': 1},
                     Paths={'ScreenshotPath': prefix.windows_path(shots)})


def open_overlay(app, driver, tray=False):
    starts = app.log_texts().count(STARTING)
    assert app.command(CMD_CAPTURE_FREE_FORM) if tray else driver.keys('ctrl+shift+f6')
    assert driver.wait_window(OVERLAY), 'the selection overlay did not open'
    # Shown and in front, so that a drag reaches it and not the window below it.
    assert wait_until(lambda: (focused_control(driver) or (0, ''))[1] == OVERLAY), 'the overlay has no focus'
    assert app.log_texts().count(STARTING) == starts + 1


def drag_and_capture(app, driver, shots, corners):
    """Drags between the corners and returns the one new PNG as an RGB array."""
    done = app.log_texts().count(COMPLETE)
    assert mouse_drag(driver, *corners)
    assert app.wait_log_count(COMPLETE, done + 1, 20)
    assert driver.wait_gone(OVERLAY)
    files = wait_files(shots)
    assert len(files) == 1, '\n'.join(app.log_texts()[-8:])
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

def test_drags_capture_exactly_the_pixels_selected_on_the_live_screen(app, prefix, shots, driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'):
        with SinkRecorder() as sound:
            open_overlay(app, driver)
            # Across the pattern's centre, so that a shift by one pixel changes the picture.
            image = drag_and_capture(app, driver, shots, (957, 537, 963, 543))
            assert wait_until(lambda: 'capture.wav' in sound.sounds(), 5), sound.sounds()
        assert image.shape == (6, 6, 3) and np.array_equal(image, pattern(957, 537, 963, 543))
        # Dragging up-left captures what dragging down-right does; so does the tray command.
        open_overlay(app, driver)
        image = drag_and_capture(app, driver, shots, (970, 551, 950, 527))
        assert image.shape == (24, 20, 3) and np.array_equal(image, pattern(950, 527, 970, 551))
        open_overlay(app, driver, tray=True)
        assert np.array_equal(drag_and_capture(app, driver, shots, (600, 300, 700, 350)), pattern(600, 300, 700, 350))
        # A drag can start where the loupe is: it covers (720, 370)-(840, 490), its white cross
        # runs down column 780.
        open_overlay(app, driver)
        assert mouse_move(driver, 700, 350)
        picture = picture_when(lambda p: near(p, 780, 400, WHITE), 'freeform-loupe-in-the-way.png')
        assert near(picture, 780, 400, WHITE)
        assert np.array_equal(drag_and_capture(app, driver, shots, (800, 400, 900, 470, 1)),
                              pattern(800, 400, 900, 470))
        open_overlay(app, driver)
    # The pattern is gone from the screen but still in the overlay's frozen picture: the
    # selection is taken from the live screen.
    image = drag_and_capture(app, driver, shots, (900, 500, 1020, 580))
    assert np.array_equal(image, display_picture()[500:580, 900:1020])
    assert not np.array_equal(image, pattern(900, 500, 1020, 580))
    assert any(t.startswith(SAVED) and '\\Capture_' in t for t in app.log_texts())


# Cancels ------------------------------------------------------------------------------------

def press_left_and_move(driver, x, y):
    return mouse_move(driver, 800, 400) and mouse_button(driver, 'down') and mouse_move(driver, x, y)


def activate_another_window(driver):
    with DriverWindow('window', 'Another program', '100', '100', '300', '200', '884422', '30'):
        return driver.wait_gone(OVERLAY)


# Drags under six pixels, Escape and the right button on their own are the overlay's unit tests.
CANCELS = {
    'another window activated': activate_another_window,
    'click': lambda d: mouse_move(d, 800, 400) and mouse_button(d, 'down') and mouse_button(d, 'up'),
    'right button while dragging':
        lambda d: press_left_and_move(d, 900, 500) and mouse_button(d, 'down', 'right'),
}


def test_the_overlay_shows_the_selection_and_every_cancel_writes_nothing_and_stays_silent(app, prefix, shots,
                                                                                           driver):
    start(app, prefix, shots)
    with DriverWindow('pattern', '60'), SinkRecorder() as sound:
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

        # Where they go near the screen's edges is the overlay layout's unit test.
        # Escape while dragging is the first cancel; the others follow.
        assert driver.keys('esc')
        assert driver.wait_gone(OVERLAY)
        mouse_button(driver, 'up')
        for number, (name, action) in enumerate(CANCELS.items(), 2):
            open_overlay(app, driver)
            assert action(driver), name
            assert driver.wait_gone(OVERLAY), f'the overlay closes: {name}'
            mouse_button(driver, 'up', 'right')
            mouse_button(driver, 'up', 'left')
            assert app.wait_log_count(COMPLETE, number, 20), name

        # A second request while the overlay is open changes nothing; one Escape closes it.
        open_overlay(app, driver)
        first = driver.run('wait-window', OVERLAY).stdout.strip()
        assert driver.keys('ctrl+shift+f6')
        assert app.command(CMD_CAPTURE_FREE_FORM)
        app.barrier()
        assert driver.run('wait-window', OVERLAY).stdout.strip() == first
        assert driver.keys('esc')
        assert app.wait_log_count(COMPLETE, len(CANCELS) + 2, 20)
        assert driver.wait_gone(OVERLAY, timeout_ms=5000), 'a second overlay was opened'
        # A capture is handed to the core window before the overlay logs that it is complete.
        app.barrier()
    assert png_files(shots) == []
    assert sound.loud_seconds() == 0.0, 'no capture sound'
    texts = app.log_texts()
    assert texts.count(COMPLETE) == texts.count(STARTING) == len(CANCELS) + 2
    assert not any(t.startswith(SAVED) for t in texts)

    # A program that refuses to let the overlay open: unlike a cancel, a failure, heard and told.
    with StandIn(prefix, 'block-overlay'), SinkRecorder() as sink:
        assert driver.keys('ctrl+shift+f6')
        assert app.wait_log('CreateWindowEx failed for freeform overlay.')
        assert wait_until(lambda: 'capture_failed.wav' in sink.sounds(), 5), sink.sounds()
        assert wait_balloon(driver, 'Capture Failed', NOTHING_CAPTURED)

    # Exiting with the overlay open, in the middle of a drag, cancels it and ends cleanly.
    open_overlay(app, driver)
    assert press_left_and_move(driver, 900, 500)
    assert driver.keys('ctrl+alt+shift+f4')
    assert app.wait_exit() == 0
    mouse_button(driver, 'up')
    texts = app.log_texts()
    assert texts.count(COMPLETE) == len(CANCELS) + 3
    assert texts.index('Application exiting.') < len(texts) - 1 - texts[::-1].index(COMPLETE)
    assert png_files(shots) == []
