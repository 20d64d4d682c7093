"""Start-up, single instance and shutdown of the real program under Wine."""
import re

from harness import (CORE_WINDOW_CLASS, TRAY_OWNER_CLASS, WM_HOTKEY, focused_control, read_config, shown_dialog,
                     wait_until)


def test_first_start_opens_the_settings_exits_on_hotkey_13_only_and_later_copies_hand_over(app, prefix, driver):
    app.start()
    assert prefix.settings_dir.is_dir()
    dialog = shown_dialog(driver, 'Vistrel Configuration')
    assert app.wait_log('Registering hotkeys from provided config.')
    texts = app.log_texts()
    assert texts[:3] == ['Application starting up.', 'setting up translation system...',
                         'GDI+ Initialized.']
    config_path = prefix.windows_path(prefix.settings_dir) + '\\config.ini'
    assert f'Loading config from: {config_path}' in texts
    raw = prefix.log_file.read_bytes()
    assert re.fullmatch(rb'(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] [^\r\n]*\r\n)+', raw), raw[:200]
    # Start-up only reads the settings file; the dialog marks itself as opened, before the core
    # window adds the tray icon and registers the hotkeys. Cancel keeps the mark.
    marked = 'Immediately saved single value: [General] AutoOpenedConf = 1'
    assert texts.index(marked) < texts.index('Registering hotkeys from provided config.')
    assert wait_until(lambda: (focused_control(driver) or (0,))[0] == 1000), focused_control(driver)
    assert driver.keys('esc')
    assert dialog.wait_gone()
    assert read_config(prefix) == {('General', 'AutoOpenedConf'): '1'}
    assert driver.wait_window(TRAY_OWNER_CLASS, timeout_ms=2000)

    # Other hotkey IDs, and closing the tray owner window (it only hides), do not end the program.
    for hotkey_id in (0, 14, 99):
        assert app.post_core(WM_HOTKEY, hotkey_id)
    assert driver.post(TRAY_OWNER_CLASS, 0x0010)  # WM_CLOSE
    app.barrier()  # the tray owner window belongs to the same thread as the core window
    assert app.running()
    assert driver.wait_window(TRAY_OWNER_CLASS, timeout_ms=2000)

    assert app.post_core(WM_HOTKEY, 13)
    assert app.wait_exit() == 0
    texts = app.log_texts()
    assert texts[-2:] == ['Application exiting.', 'GDI+ Shutdown.']
    assert driver.wait_gone(CORE_WINDOW_CLASS, message_only=True, timeout_ms=2000)

    # The dialog of a first start would be open before the core window registers the hotkeys.
    since = app.mark()
    second = app.another().start()
    assert second.wait_line('Registering hotkeys from provided config.', since)
    assert not dialog.exists(), 'an existing settings file opens no dialog'

    # A further copy only asks the running one for its settings and ends, writing nothing of its
    # own. The dialog comes to the front with the keyboard on the page tree, so that a screen reader
    # says where the user is (the driver reads the focus of the foreground window's thread).
    since = second.mark()
    third = app.another()
    third.start(wait=False)
    assert third.wait_exit(20) == 0
    assert dialog.wait()
    assert wait_until(lambda: (focused_control(driver) or (0, ''))[:2] == (1000, 'SysTreeView32')), \
        focused_control(driver)
    assert second.running()
    assert 'Application starting up.' not in second.log_texts()[since:]
