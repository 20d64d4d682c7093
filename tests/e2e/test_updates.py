"""The update check against a local HTTPS server whose certificate the test prefix trusts."""
import hashlib
import ssl
import subprocess
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

from harness import DialogWindow, shown_dialog, start_configured, wait_until, wine

CMD_CHECK_UPDATE = 40014
IDOK, IDNO = 1, 7
MESSAGE_TEXT = 0xFFFF  # the static that holds a message box's text
DEAD_PORT = 9          # nothing listens there
AVAILABLE = ('A new version of Vistrel is available!\n\n  Your Version: 1.5.2.1\n  Latest Version: {}\n\n'
             'Would you like to visit the download page now?')
UNKNOWN = 'An unknown error occurred on the server.'
HEADERS = {'Program-Name': 'zinq', 'Program-Version': '1.5.2.1', 'Program-Beta': 'false',
           'Program-Version-Internal': 'false', 'User-Agent': 'VistrelUpdateChecker/1.0'}


# HTTPS on localhost with a certificate made for this run; answers every GET with `reply` and keeps
# each request's path and headers.
class UpdateServer:

    def __init__(self, folder, driver):
        key, cert, der = folder / 'key.pem', folder / 'cert.pem', folder / 'cert.der'
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', str(key),
                        '-out', str(cert), '-days', '2', '-subj', '/CN=localhost',
                        '-addext', 'subjectAltName=DNS:localhost'], check=True, capture_output=True)
        subprocess.run(['openssl', 'x509', '-in', str(cert), '-outform', 'DER', '-out', str(der)],
                       check=True, capture_output=True)
        self.thumbprint = hashlib.sha1(der.read_bytes()).hexdigest().upper()
        result = driver.run('trust-cert', 'Z:' + str(der).replace('/', '\\'))
        assert result.returncode == 0, result.stderr
        self.reply = b''
        self.requests = []
        server = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                server.requests.append((self.path, dict(self.headers)))
                self.send_response(200)
                self.send_header('Content-Type', 'application/json')
                self.send_header('Content-Length', str(len(server.reply)))
                self.end_headers()
                self.wfile.write(server.reply)

            def log_message(self, *args):
                pass

        self.httpd = ThreadingHTTPServer(('localhost', 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(str(cert), str(key))
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        wine('reg', 'delete', 'HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\' + self.thumbprint,
             '/f')


@pytest.fixture(scope='module')
def server(tmp_path_factory):
    from harness import Driver
    instance = UpdateServer(tmp_path_factory.mktemp('update-server'), Driver())
    yield instance
    instance.close()


def start(app, prefix, server, auto_check=0):
    address = server if isinstance(server, str) else f'localhost:{server}'
    start_configured(app, prefix, env={'VISTREL_UPDATE_SERVER': address}, General={'AutoCheckUpdates': auto_check})


def box_shown(driver, caption: str) -> tuple[DialogWindow, str]:
    box = shown_dialog(driver, caption, 20000)
    return box, box.text(MESSAGE_TEXT).replace('\r\n', '\n')


def check_reply(app, driver, server, reply: bytes, caption: str, button: int = IDOK) -> str:
    server.reply = reply
    asked = len(server.requests)
    assert app.command(CMD_CHECK_UPDATE)
    box, text = box_shown(driver, caption)
    box.close(button)
    assert len(server.requests) == asked + 1
    return text


def test_silent_check_shows_no_news_and_manual_checks_show_each_outcome_with_the_four_headers(app, prefix, driver,
                                                                                                server):
    server.reply = b'{"status":"success","update_available":false}'
    asked = len(server.requests)
    start(app, prefix, server.port, auto_check=1)
    assert wait_until(lambda: len(server.requests) > asked, timeout=20), 'the start-up check asked the server'
    assert app.wait_log('Update check: "No Updates Available" is not shown after a silent check.')
    assert not DialogWindow(driver, 'No Updates Available').exists()
    # One reply of each outcome (how replies are read is tested natively), and one past the limit.
    cases = [
        (b'{"status": "success", "update_available":   true ,\n "version": "1.5.2.1",\n'
         b' "latest_version": {"version": "2.0.0", "date": "2026-01-01"}}',
         'Update Available', AVAILABLE.format('2.0.0'), IDNO),
        (b'{"status":"success","update_available":false,"version":"1.5.2.1"}',
         'No Updates Available', 'You are using the latest version of Vistrel.', IDOK),
        (b'{"status":"error"}', 'Update Check Failed', UNKNOWN, IDOK),
        (b'{"status":"error","message":"Down for \\"maintenance\\""}', 'Update Check Failed', 'Down for \\', IDOK),
        (b'', 'Update Error', 'Received an empty response from the update server.', IDOK),
        # Longer than 64 KiB: not read to its end, so not believed either.
        (b'{"status":"success","update_available":true,"version":"9.9","padding":"' + b'x' * 70000 + b'"}',
         'Update Check Failed', UNKNOWN, IDOK),
    ]
    for reply, caption, text, button in cases:
        assert check_reply(app, driver, server, reply, caption, button) == text, reply[:80]

    assert len(server.requests) == asked + 1 + len(cases)
    for path, headers in server.requests[asked:]:
        assert path == '/api/updates_checker'
        for name, value in HEADERS.items():
            assert headers.get(name) == value, (name, headers)
    assert 'Update check: the reply is longer than 64 KiB and was not read further.' in app.log_texts()


def test_unreachable_or_plain_http_server_cannot_be_reached_and_a_silent_check_stays_quiet(app, prefix, driver):
    start(app, prefix, DEAD_PORT, auto_check=1)
    assert app.wait_log('Update check: the request failed with error ', timeout=20)
    assert app.wait_log('Update check: "Update Error" is not shown after a silent check.')
    assert not DialogWindow(driver, 'Update Error').exists()
    for server in (DEAD_PORT, 'http://localhost:8080'):
        if server != DEAD_PORT:
            app.kill()
            app = app.another()
            start(app, prefix, server)
        began = time.monotonic()
        assert app.command(CMD_CHECK_UPDATE)
        box, text = box_shown(driver, 'Update Error')
        assert text == 'Could not connect to the update server. Please check your internet connection.'
        assert time.monotonic() - began < 15, 'a refused connection ends the check at once'
        box.close(IDOK)
    assert 'Update check: the update server must be reached over HTTPS; request refused.' in app.log_texts()


def test_silent_start_up_check_shows_an_available_update(app, prefix, driver, server):
    server.reply = b'{"status":"success","update_available":true,"latest_version":{"version":"3.1"}}'
    start(app, prefix, server.port, auto_check=1)
    box, text = box_shown(driver, 'Update Available')
    assert text == AVAILABLE.format('3.1')
    box.close(IDNO)
    assert app.running()
