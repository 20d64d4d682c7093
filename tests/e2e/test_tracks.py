"""The multi-track dialogs driven through their controls; multy_tracs.json is compared byte for byte."""
import json
import re

from harness import WM_HOTKEY, DialogWindow, DriverWindow, focused_control, shown_dialog, start_configured, wait_until

MANAGER, EDITOR = 'Multi-Track Management', 'Edit Track'
IDOK, IDCANCEL = 1, 2
MULTI, SAME, LIST, ADD, EDIT, DELETE = 1800, 1801, 1802, 1803, 1804, 1805
NAME, TYPE, VIDEO, AUDIO_IN, IN_VOLUME, AUDIO_OUT, OUT_VOLUME = 1810, 1811, 1813, 1815, 1817, 1819, 1821
WM_CLOSE = 0x0010
MESSAGE_TEXT = 0xFFFF  # the static that holds a message box's text
CMD_MANAGE_TRACKS = 40026
GUID = re.compile(r'^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$')

DESK = {'name': 'Desk', 'guid': '{0A1B2C3D-0000-4000-8000-00000000D35C}', 'type': 0,
        'video_source_id': 'Default', 'audio_input_id': 'Default', 'audio_output_id': 'Default',
        'input_volume': 100, 'output_volume': 100}


def layout(multi: bool, same: bool, tracks: list) -> bytes:
    """The file as the program writes it: sorted keys, four spaces, CR LF, no final line end."""
    text = json.dumps({'multi_track_enabled': multi, 'tracks': tracks, 'use_same_sources_in_single_mode': same},
                      indent=4, sort_keys=True, ensure_ascii=False)
    return text.replace('\n', '\r\n').encode('utf-8')


def tracks_file(prefix):
    return prefix.settings_dir / 'multy_tracs.json'


def file_becomes(prefix, expected: bytes) -> bool:
    return bool(wait_until(lambda: tracks_file(prefix).read_bytes() == expected, timeout=5))


def start(app, prefix, multi=False, same=False, tracks=(DESK,)):
    prefix.settings_dir.mkdir(parents=True, exist_ok=True)
    tracks_file(prefix).write_bytes(layout(multi, same, list(tracks)))
    start_configured(app, prefix)


def open_manager(app, driver, how='hotkey') -> DialogWindow:
    if how == 'hotkey':
        assert app.post_core(WM_HOTKEY, 12)
    else:
        assert app.command(CMD_MANAGE_TRACKS)
    dialog = shown_dialog(driver, MANAGER)
    return dialog


def open_editor(manager: DialogWindow, driver, button: int) -> DialogWindow:
    manager.click(button)
    editor = shown_dialog(driver, EDITOR)
    return editor


def test_switches_enable_the_list_and_are_saved_at_once(app, prefix, driver):
    start(app, prefix)
    manager = open_manager(app, driver)
    assert manager.text() == MANAGER
    assert manager.items(LIST) == ['Desk\tMixed']
    assert (manager.state(MULTI), manager.state(SAME)) == (0, 0)
    assert [manager.enabled(c) for c in (LIST, ADD, EDIT, DELETE, SAME)] == [False] * 4 + [True], 'both switches off'

    manager.click(SAME)
    assert file_becomes(prefix, layout(False, True, [DESK]))
    assert all(manager.enabled(c) for c in (LIST, ADD, EDIT, DELETE))

    manager.click(MULTI)
    assert file_becomes(prefix, layout(True, True, [DESK]))
    assert wait_until(lambda: not manager.enabled(SAME)), 'single-mode switch greyed out'
    assert manager.enabled(LIST)
    manager.close(IDOK)

    # The tray command opens it again with the stored switches; a second request, while another
    # program is in front, brings it back to the front.
    manager = open_manager(app, driver, 'tray')
    assert (manager.state(MULTI), manager.state(SAME)) == (1, 1)
    manager_controls = {MULTI, SAME, LIST, ADD, EDIT, DELETE, IDOK}
    with DriverWindow('window', 'Another program', '100', '100', '300', '200', '884422', '30', '--edit'):
        assert wait_until(lambda: (focused_control(driver) or (0, ''))[1] == 'Edit'), 'the other program is in front'
        assert app.post_core(WM_HOTKEY, 12)
        assert wait_until(lambda: (focused_control(driver) or (0,))[0] in manager_controls), 'raised'
    manager.click(MULTI)
    assert file_becomes(prefix, layout(False, True, [DESK]))
    assert wait_until(lambda: manager.enabled(SAME))
    assert driver.post_dialog(MANAGER, WM_CLOSE)  # the close box
    assert manager.wait_gone()


def test_add_edit_and_delete_tracks(app, prefix, driver):
    capture = driver.endpoints('capture')
    render = driver.endpoints('render')
    start(app, prefix, multi=True)
    expected_file = layout(True, False, [DESK])
    manager = open_manager(app, driver)

    # An empty name is refused and the editor stays; Cancel then changes nothing.
    editor = open_editor(manager, driver, ADD)
    assert editor.text(NAME) == ''
    assert editor.text(TYPE) == 'Mixed'
    assert editor.text(VIDEO) == 'Primary Display'
    assert editor.text(AUDIO_IN) == 'Default Device'
    assert editor.text(AUDIO_OUT) == 'Default Device'
    assert (editor.state(IN_VOLUME), editor.state(OUT_VOLUME)) == (100, 100)
    assert editor.items(TYPE) == ['Mixed', 'Video Only', 'Audio Input', 'Audio Output']
    assert editor.items(VIDEO)[:2] == ['Primary Display', 'Display 1: \\\\.\\DISPLAY1']
    inputs = editor.items(AUDIO_IN)
    assert inputs[0] == 'Default Device' and set(inputs[1:]) == set(capture), inputs
    editor.click(IDOK)
    error = shown_dialog(driver, 'Error')
    assert error.text(MESSAGE_TEXT) == 'Track name cannot be empty.'
    error.close(IDOK)
    # The keyboard is back in the editor (its own controls, or its Save button), not in the list.
    in_editor = (NAME, TYPE, VIDEO, AUDIO_IN, IN_VOLUME, AUDIO_OUT, OUT_VOLUME)
    assert wait_until(lambda: (f := focused_control(driver)) and (f[0] in in_editor or f[2] == 'Save')), \
        focused_control(driver)
    editor.close(IDCANCEL)
    assert manager.items(LIST) == ['Desk\tMixed']
    assert tracks_file(prefix).read_bytes() == expected_file

    # A new audio-input track with a chosen microphone and volume gets a fresh GUID.
    editor = open_editor(manager, driver, ADD)
    editor.set_text(NAME, 'Voice')
    editor.select(TYPE, 2)
    assert wait_until(lambda: not editor.enabled(VIDEO))
    assert [editor.enabled(c) for c in (AUDIO_IN, IN_VOLUME, AUDIO_OUT, OUT_VOLUME)] == [True, True, False, False]
    microphone = inputs[1]
    editor.select(AUDIO_IN, 1)
    editor.set_pos(IN_VOLUME, 40)
    editor.close(IDOK)
    assert wait_until(lambda: manager.items(LIST) == ['Desk\tMixed', 'Voice\tAudio Input'])
    voice = json.loads(tracks_file(prefix).read_bytes())['tracks'][1]
    assert GUID.match(voice['guid']) and voice['guid'] != DESK['guid'], voice['guid']
    voice_expected = {'name': 'Voice', 'guid': voice['guid'], 'type': 2, 'video_source_id': 'Default',
                      'audio_input_id': capture[microphone], 'audio_output_id': 'Default',
                      'input_volume': 40, 'output_volume': 100}
    assert tracks_file(prefix).read_bytes() == layout(True, False, [DESK, voice_expected])

    # Editing keeps the GUID; Audio Output greys out video and input but keeps their choices.
    manager.select(LIST, 0)
    editor = open_editor(manager, driver, EDIT)
    assert editor.text(NAME) == 'Desk'
    editor.set_text(NAME, 'Desk speakers')
    editor.select(AUDIO_IN, 1)
    speakers = editor.items(AUDIO_OUT)[1]
    editor.select(AUDIO_OUT, 1)
    editor.select(TYPE, 3)
    assert wait_until(lambda: not editor.enabled(VIDEO))
    assert [editor.enabled(c) for c in (AUDIO_IN, IN_VOLUME, AUDIO_OUT, OUT_VOLUME)] == [False, False, True, True]
    editor.set_pos(OUT_VOLUME, 75)
    editor.close(IDOK)
    desk = dict(DESK, name='Desk speakers', type=3, audio_input_id=capture[microphone],
                audio_output_id=render[speakers], output_volume=75)
    assert file_becomes(prefix, layout(True, False, [desk, voice_expected]))
    assert manager.items(LIST) == ['Desk speakers\tAudio Output', 'Voice\tAudio Input']

    # Cancel in the editor leaves the track as it was.
    manager.select(LIST, 1)
    editor = open_editor(manager, driver, EDIT)
    editor.set_text(NAME, 'Renamed')
    editor.close(IDCANCEL)
    assert tracks_file(prefix).read_bytes() == layout(True, False, [desk, voice_expected])

    # Delete removes the selected track by its GUID; without a selection nothing happens.
    manager.click(DELETE)
    assert wait_until(lambda: manager.items(LIST) == ['Desk speakers\tAudio Output'])
    assert file_becomes(prefix, layout(True, False, [desk]))
    manager.select(LIST, -1)
    manager.click(DELETE)
    manager.click(EDIT)
    app.barrier()  # both clicks have been handled
    assert not DialogWindow(driver, EDITOR).exists()
    assert tracks_file(prefix).read_bytes() == layout(True, False, [desk])

    # The exit hotkey with the editor open ends the program.
    open_editor(manager, driver, ADD)
    assert app.post_core(WM_HOTKEY, 13)
    assert app.wait_exit(20) is not None
    assert 'Application exiting.' in app.log_texts()
