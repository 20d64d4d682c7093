"""Start-up, single instance and shutdown of the real program under Wine."""
import re

from harness import (WM_HOTKEY, WM_SHOW_SETTINGS, CORE_WINDOW_CLASS, TRAY_OWNER_CLASS, DialogWindow,
                     focused_control, foreground_window, read_config, wait_until, write_config)


def test_first_start_creates_settings_folder_and_log_and_exits_on_hotkey_13_only(app, prefix, driver):
    app.start()
    assert prefix.settings_dir.is_dir()
    assert app.wait_log('GDI+ Initialized.')
    texts = app.log_texts()
    assert texts[:3] == ['Application starting up.', 'setting up translation system...',
                         'GDI+ Initialized.']
    config_path = prefix.windows_path(prefix.settings_dir) + '\\config.ini'
    assert f'Loading config from: {config_path}' in texts
    raw = prefix.log_file.read_bytes()
    assert re.fullmatch(rb'(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] [^\r\n]*\r\n)+', raw), raw[:200]
    # Start-up only reads the settings file; the settings dialog that a first start opens marks
    # itself as opened.
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


def test_second_instance_exits_and_asks_the_first_for_settings(app, prefix, driver):
    write_config(prefix, {'General': {'PlayStartupSound': 0, 'AutoCheckUpdates': 0}})
    app.start()
    settings = DialogWindow(driver, 'Vistrel Configuration')
    assert not settings.exists()
    lines_before = len(app.log())
    second = app.another()
    second.start(wait=False)
    assert second.wait_exit(20) == 0
    assert settings.wait()
    # In front, with the keyboard on the page tree, so that a screen reader says where the user is.
    assert wait_until(lambda: foreground_window(driver) == ('#32770', 'Vistrel Configuration')), \
        foreground_window(driver)
    assert wait_until(lambda: (focused_control(driver) or (0,))[0] == 1000), focused_control(driver)
    assert app.running()
    # The second copy writes nothing of its own.
    new = app.log_texts()[lines_before:]
    assert 'Application starting up.' not in new
