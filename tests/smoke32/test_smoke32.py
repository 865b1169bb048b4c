"""Smoke test of the 32-bit setup.exe under 32-bit Wine (which runs under qemu-i386 here).

One run, because every Windows process costs minutes on this rig: the program starts, shows
the dialog "Install" while it downloads a slow body from a local server, and ends on Escape,
leaving no window behind.

    SETUP_EXE_I686=build/i686/setup.exe python3 -m pytest tests/smoke32

The i686 build must fetch from http://127.0.0.1:$WEB_PORT (default 47810). The Wine session
comes from the environment when it is a 32-bit one (eval "$(scripts/wine32-session.sh start
DIR)"), otherwise the test starts one in $WINE32_STATE_DIR (default build/i686/wine32) and
stops it at the end; the prefix there is kept, as creating it takes minutes. Screenshots and
logs go to $ARTIFACTS_DIR (default build/i686/artifacts/smoke32).
"""

import os
import shlex
import shutil
import subprocess
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
SESSION_SCRIPT = REPO / "scripts" / "wine32-session.sh"
PACKAGE_PATH = "/installer/src4.exe"

# The body is long and slow enough that the download is still running minutes after it began,
# yet a 32 KB chunk arrives every few seconds, so the program keeps handling its messages.
BODY_SIZE = 2_000_000
BODY_RATE = 8192  # bytes per second

pytestmark = pytest.mark.skipif(not os.environ.get("SETUP_EXE_I686"),
                                reason="set SETUP_EXE_I686 to the 32-bit setup.exe")

# Deadlines, in seconds. Everything under qemu is slow; these are bounds, not expectations.
SESSION_TIMEOUT = 3000
WINDOW_TIMEOUT = 900
REQUEST_TIMEOUT = 300
PAINT_TIMEOUT = 180
EXIT_TIMEOUT = 300


def wait_until(what, predicate, timeout, interval=1.0):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


# -- the package server ----------------------------------------------------------------------

class _SlowBody(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - requests are recorded instead
        pass

    def do_GET(self):
        server = self.server
        server.requests.append((self.command, self.path, self.headers.get("User-Agent")))
        if self.path != PACKAGE_PATH:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(BODY_SIZE))
        self.send_header("Connection", "close")
        self.end_headers()
        start, sent = time.monotonic(), 0
        try:
            while sent < BODY_SIZE and not server.stopping.is_set():
                piece = min(4096, BODY_SIZE - sent)
                self.wfile.write(bytes(piece))
                sent += piece
                server.sent = sent
                ahead = sent / BODY_RATE - (time.monotonic() - start)
                if ahead > 0:
                    server.stopping.wait(ahead)
        except OSError:
            server.client_closed = True
        self.close_connection = True


class SlowServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port):
        try:
            super().__init__(("127.0.0.1", port), _SlowBody)
        except OSError as e:
            raise AssertionError(f"cannot serve on 127.0.0.1:{port} ({e}); another test "
                                 "running? The build and WEB_PORT must name a free port") from e
        self.requests, self.sent, self.client_closed = [], 0, False
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.2},
                                       daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.shutdown()
        self.server_close()
        self.thread.join(10)


# -- the Wine session ------------------------------------------------------------------------

def _is_win32_prefix(prefix: str) -> bool:
    try:
        head = (Path(prefix) / "system.reg").read_text(errors="replace")[:4096]
    except OSError:
        return False
    return "#arch=win32" in head


@pytest.fixture(scope="module")
def wine_env():
    env = dict(os.environ)
    if env.get("WINEPREFIX") and env.get("DISPLAY") and _is_win32_prefix(env["WINEPREFIX"]):
        env.setdefault("WINE32", "/usr/lib/wine/wine")
        env.setdefault("WINEDEBUG", "-all")
        yield env
        return
    state = Path(os.environ.get("WINE32_STATE_DIR", REPO / "build" / "i686" / "wine32"))
    state.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    # Output to a file, not a pipe: the daemons the script starts inherit its descriptors.
    with tempfile.TemporaryFile() as out, open(state / "smoke32-session.log", "ab") as log:
        proc = subprocess.run(["bash", str(SESSION_SCRIPT), "start", str(state)], stdout=out,
                              stderr=log, stdin=subprocess.DEVNULL, timeout=SESSION_TIMEOUT)
        out.seek(0)
        exports = out.read().decode()
    try:
        assert proc.returncode == 0, f"wine32-session.sh start failed; see {state}"
        for word in shlex.split(exports):
            if "=" in word:
                name, value = word.split("=", 1)
                env[name] = value
        print(f"32-bit Wine session ready in {time.monotonic() - started:.0f}s")
        yield env
    finally:
        subprocess.run(["bash", str(SESSION_SCRIPT), "stop", str(state)], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)


def install_windows(env):
    """Ids of the visible X windows captioned exactly "Install"."""
    proc = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Install$"],
                          env=env, capture_output=True, text=True, timeout=30)
    return proc.stdout.split()


def screenshot(env, path: Path) -> int:
    """Saves the whole screen to path; returns the number of colours in it."""
    subprocess.run(["import", "-window", "root", str(path)], env=env, timeout=60, check=True)
    proc = subprocess.run(["identify", "-format", "%k", str(path)], env=env,
                          capture_output=True, text=True, timeout=60, check=True)
    return int(proc.stdout.strip() or 0)


# -- the test --------------------------------------------------------------------------------

def test_dialog_shows_while_downloading_and_escape_ends_the_run(wine_env):
    exe = Path(os.environ["SETUP_EXE_I686"]).resolve()
    assert exe.is_file(), f"{exe}: no such file"
    assert exe.read_bytes()[:2] == b"MZ"
    artifacts = Path(os.environ.get("ARTIFACTS_DIR", REPO / "build" / "i686" / "artifacts"))
    artifacts = artifacts.resolve() / "smoke32"
    shutil.rmtree(artifacts, ignore_errors=True)
    artifacts.mkdir(parents=True)
    env = wine_env
    assert not install_windows(env), "an Install window is up before the program started"

    port = int(os.environ.get("WEB_PORT", "47810"))
    with SlowServer(port) as server, \
            open(artifacts / "setup.stdout", "wb") as out, \
            open(artifacts / "setup.stderr", "wb") as err:
        started = time.monotonic()
        proc = subprocess.Popen([env.get("WINE32", "/usr/lib/wine/wine"), str(exe)], env=env,
                                cwd=artifacts, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            windows = wait_until("the window 'Install'",
                                 lambda: proc.poll() is None and install_windows(env)
                                 or (proc.poll() is not None and ["exited"]),
                                 WINDOW_TIMEOUT)
            assert windows != ["exited"], f"setup.exe exited ({proc.returncode}) without a window"
            shown = time.monotonic() - started
            wait_until(f"the request for {PACKAGE_PATH} on 127.0.0.1:{port}",
                       lambda: any(path == PACKAGE_PATH for _, path, _ in server.requests)
                       and server.sent > 0, REQUEST_TIMEOUT)
            # The dialog is up and the body is still coming: the download is under way.
            assert proc.poll() is None
            assert server.sent < BODY_SIZE
            assert install_windows(env) == windows
            # The dialog paints once the transfer dispatches messages, after its first chunk.
            wait_until("the dialog painted on the screen",
                       lambda: screenshot(env, artifacts / "install-dialog.png") > 4,
                       PAINT_TIMEOUT, interval=3)

            window = windows[0]
            for attempt in range(2):
                subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, timeout=30)
                subprocess.run(["xdotool", "key", "Escape"], env=env, timeout=30)
                try:
                    proc.wait(EXIT_TIMEOUT // 2)
                    break
                except subprocess.TimeoutExpired:
                    screenshot(env, artifacts / f"after-escape-{attempt + 1}.png")
            assert proc.poll() is not None, "setup.exe still runs after Escape"
            ended = time.monotonic() - started
            print(f"window after {shown:.0f}s, exit {proc.returncode} after {ended:.0f}s, "
                  f"{server.sent} body bytes sent")
            assert install_windows(env) == [], "a window 'Install' is left after the run"
            assert server.sent < BODY_SIZE, "the whole body went out: the transfer was not cancelled"
            assert [p for _, p, _ in server.requests] == [PACKAGE_PATH]
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait(60)
