"""Smoke test of the 32-bit setup.exe under 32-bit Wine (which runs under qemu-i386 here).

Every Windows process costs about a minute on this rig and bringing Wine's services up about
eight, so the cases share one Wine session and each runs setup.exe once:

- good download: the server sends the i686 demo package, padded with zero bytes to 600000
  bytes, and holds the body part-way until the dialog "Install" and its bar have been
  photographed (the bar's fill must stand at about 163 of 1000). Checked: one GET of
  /installer/src4.exe with the agent "setup", the file in the prefix's temporary folder is byte
  for byte what was served, setup.exe ends, the package was started (its window "Brelmora
  Installer" appears, its process is seen, its text is in the msgbox trace), and once Return
  has closed it no window of the run is left.
- short download: status 200 with a 300-byte body. Checked: the question box "Install" opens
  over the dialog with the default text (read from Wine's msgbox trace), Escape answers
  Cancel, and setup.exe ends without starting anything (no package, no browser: no new
  Windows process in the prefix apart from Wine's own services) and without leaving a file,
  not even the one an earlier run left.
- Escape while downloading: the dialog ends, the server sees the connection closed before the
  end of the body, no box, nothing started.

    SETUP_EXE_I686=build/i686/setup.exe SAMPLE_PACKAGE_I686=build/i686/sample_package.exe \
        /usr/bin/python3 -m pytest -v -p no:cacheprovider tests/smoke32

The i686 build must fetch from http://127.0.0.1:$WEB_PORT (default 47810). The Wine session
comes from the environment when it is a 32-bit one (eval "$(scripts/wine32-session.sh start
DIR)"), otherwise the test starts one in $WINE32_STATE_DIR (default build/i686/wine32), on an
X display of its own, and stops it at the end; the prefix there is kept, as creating it takes
minutes. Screenshots and logs go to $ARTIFACTS_DIR/smoke32 (default build/i686/artifacts).
"""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path, PureWindowsPath

import pytest

REPO = Path(__file__).resolve().parents[2]
SESSION_SCRIPT = REPO / "scripts" / "wine32-session.sh"
PACKAGE_PATH = "/installer/src4.exe"
PACKAGE_NAME = "brelmora_installer_4.exe"
DIALOG_CAPTION = "Install"
BOX_CAPTION = "Install"
DEFAULT_TEXT = "Installer cannot download the correct version.\nDo you want to visit the website?"
USER_AGENT = "setup"
# What demo/sample_package.c shows.
PACKAGE_TITLE = "Brelmora Installer"
PACKAGE_TEXT = "Brelmora was installed."

MIN_PACKAGE_SIZE = 100_000
READ_CHUNK_SIZE = 32768
GOOD_BODY_SIZE = 600_000
GOOD_HOLD_AT = 10 * READ_CHUNK_SIZE  # the bar stands at 163 of 1000 while the body is held
SHORT_BODY_SIZE = 300
ESCAPE_BODY_SIZE = 2_000_000
ESCAPE_HOLD_AT = 40_000              # Escape is pressed while the first 40000 bytes are in
ESCAPE_RATE = 16_384                 # bytes per second after the hold: two minutes for the rest

pytestmark = pytest.mark.skipif(not os.environ.get("SETUP_EXE_I686"),
                                reason="set SETUP_EXE_I686 to the 32-bit setup.exe")
needs_package = pytest.mark.skipif(not os.environ.get("SAMPLE_PACKAGE_I686"),
                                   reason="set SAMPLE_PACKAGE_I686 to the i686 sample_package.exe")

# Deadlines, in seconds. Everything under qemu is slow; these are bounds, not expectations.
SESSION_TIMEOUT = 3000
WINDOW_TIMEOUT = 900    # a Windows process's first window
REQUEST_TIMEOUT = 300   # from the dialog to the request reaching its hold point or its end
HOLD_TIMEOUT = 900      # the server gives up holding a body after this
PAINT_TIMEOUT = 180
BOX_TIMEOUT = 300
EXIT_TIMEOUT = 300
CLOSE_TIMEOUT = 300     # the package's window and process after Return
SETTLE = 10             # for what must not happen: a process started late, a window
SETTLE_SESSION = 900    # for Wine's update of the prefix, which may go on after the start
# Wine's own processes: its services, the desktop that the first window of a session starts,
# and the update of the prefix (wineboot, with the programs it runs) that a new session may
# still be doing while the first case runs.
WINE_UPDATE = {"wineboot.exe", "winemenubuilder.exe", "rundll32.exe"}
WINE_PROCESSES = {"explorer.exe", "services.exe", "winedevice.exe", "plugplay.exe",
                  "svchost.exe", "rpcss.exe"} | WINE_UPDATE


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

class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - requests are recorded instead
        pass

    def do_GET(self):
        server = self.server
        record = {"method": self.command, "path": self.path,
                  "agent": self.headers.get("User-Agent"), "sent": 0, "outcome": "open"}
        server.requests.append(record)
        self.close_connection = True
        if self.path != PACKAGE_PATH:
            self.send_error(404)
            record["outcome"] = "not found"
            return
        body = server.body
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "GET":
            record["outcome"] = "complete"
            return
        try:
            pos, start = 0, None
            while pos < len(body) and not server.stopping.is_set():
                if server.hold_at is not None and pos == server.hold_at:
                    server.held.set()
                    server.release.wait(HOLD_TIMEOUT)
                    start = time.monotonic()
                end = min(len(body), pos + 4096)
                if server.hold_at is not None and pos < server.hold_at < end:
                    end = server.hold_at
                self.wfile.write(body[pos:end])
                self.wfile.flush()
                pos = record["sent"] = end
                if server.rate and start is not None:
                    ahead = (pos - server.hold_at) / server.rate - (time.monotonic() - start)
                    if ahead > 0:
                        server.stopping.wait(ahead)
            record["outcome"] = "complete" if pos == len(body) else "stopped"
        except OSError:
            record["outcome"] = "client closed"

    do_HEAD = do_GET  # recorded, so that a request other than the one GET is seen


class PackageServer(ThreadingHTTPServer):
    """Serves body at PACKAGE_PATH. With hold_at, the body stops after that many bytes until
    release() (or HOLD_TIMEOUT); with rate, what follows the hold goes at rate bytes/s."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, body, hold_at=None, rate=None):
        try:
            super().__init__(("127.0.0.1", port), _Handler)
        except OSError as e:
            raise AssertionError(f"cannot serve on 127.0.0.1:{port} ({e}); another test "
                                 "running? The build and WEB_PORT must name a free port") from e
        self.body, self.hold_at, self.rate = body, hold_at, rate
        self.requests = []
        self.stopping, self.held, self.release = (threading.Event() for _ in range(3))
        self.thread = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.2},
                                       daemon=True)

    def ended(self):
        """True when the one request so far has been answered to its end, either way."""
        return len(self.requests) == 1 and self.requests[0]["outcome"] != "open"

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.release.set()
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
    # An X server of its own: windows of other sessions on a shared display would be found by
    # their captions too.
    script_env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    started = time.monotonic()
    # Output to a file, not a pipe: the daemons the script starts inherit its descriptors.
    with tempfile.TemporaryFile() as out, open(state / "smoke32-session.log", "ab") as log:
        proc = subprocess.run(["bash", str(SESSION_SCRIPT), "start", str(state)], stdout=out,
                              stderr=log, stdin=subprocess.DEVNULL, env=script_env,
                              timeout=SESSION_TIMEOUT)
        out.seek(0)
        exports = out.read().decode()
    try:
        assert proc.returncode == 0, f"wine32-session.sh start failed; see {state}"
        for word in shlex.split(exports):
            if "=" in word:
                name, value = word.split("=", 1)
                env[name] = value
        print(f"32-bit Wine session ready in {time.monotonic() - started:.0f}s")
        # wineboot may still be updating the prefix: let it finish (or not) before the first
        # case, which would otherwise compete with it for the two cores.
        deadline = time.monotonic() + SETTLE_SESSION
        while time.monotonic() < deadline and any(
                _image_name(cmd) in WINE_UPDATE
                for cmd in prefix_processes(env["WINEPREFIX"]).values()):
            time.sleep(5)
        print(f"prefix settled after {time.monotonic() - started:.0f}s")
        yield env
    finally:
        subprocess.run(["bash", str(SESSION_SCRIPT), "stop", str(state)], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)


def _registry_value(reg_file: Path, key: str, name: str):
    """A string value from a Wine registry file, or None."""
    try:
        text = reg_file.read_text(errors="replace")
    except OSError:
        return None
    section = re.search(r"^\[" + re.escape(key.replace("\\", "\\\\")) + r"\][^\n]*\n(.*?)(?:\n\n|\Z)",
                        text, re.M | re.S | re.I)
    if not section:
        return None
    found = re.search(r'^"' + re.escape(name) + r'"=(?:str\(2\):)?"((?:[^"\\]|\\.)*)"',
                      section.group(1), re.M | re.I)
    return found.group(1).replace("\\\\", "\\") if found else None


def _unix_path(drive_c: Path, win: str) -> Path:
    """The Unix path of a C:\\ path in the prefix, matching each existing part's case."""
    parts = PureWindowsPath(win).parts
    assert parts and parts[0].upper() == "C:\\", f"not on drive C: {win}"
    path = drive_c
    for part in parts[1:]:
        candidate = path / part
        if not candidate.exists() and path.is_dir():
            candidate = next((e for e in path.iterdir() if e.name.lower() == part.lower()),
                             candidate)
        path = candidate
    return path


def temp_folder(prefix: Path):
    """The temporary folder the program uses: TEMP of the prefix's user when it exists, else
    the Windows folder's Temp (what the program falls back to). Returns (Unix, Windows)."""
    drive_c = prefix / "drive_c"
    temp = _registry_value(prefix / "user.reg", "Environment", "TEMP")
    if temp:
        profile = rf"C:\users\{os.environ.get('USER') or 'root'}"
        temp = re.sub("%USERPROFILE%", lambda _: profile, temp, flags=re.I)
        unix = _unix_path(drive_c, temp)
        if unix.is_dir():
            return unix, temp
    return _unix_path(drive_c, r"C:\windows\Temp"), r"C:\windows\Temp"


# -- processes and windows -------------------------------------------------------------------

def _image_name(cmdline: str) -> str:
    """The file name of the Windows program in a Wine process's command line, lower case."""
    found = re.search(r"([^\\/\s\"]+\.exe)\b", cmdline, re.I)
    return found.group(1).lower() if found else ""


def prefix_processes(prefix: str) -> dict:
    """pid -> command line of the Windows processes of the Wine prefix. (Unix processes that
    carry its WINEPREFIX, such as the X server's keymap compilers, are not counted.)"""
    found = {}
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            environ = (entry / "environ").read_bytes().split(b"\0")
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if b"WINEPREFIX=" + prefix.encode() in environ and _image_name(cmdline):
            found[int(entry.name)] = cmdline.strip()
    return found


class ProcessWatch:
    """Records every process of the prefix that appears after the start, until stop()."""

    def __init__(self, prefix: str):
        self.prefix = prefix
        self.before = set(prefix_processes(prefix))
        self.seen = {}
        self.alive = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            now = prefix_processes(self.prefix)
            self.alive = {pid: cmd for pid, cmd in now.items() if pid not in self.before}
            self.seen.update(self.alive)
            self._stop.wait(0.5)

    def new(self, exclude=()):
        return {pid: cmd for pid, cmd in self.seen.items() if pid not in exclude}

    def stop(self):
        self._stop.set()
        self._thread.join(10)


def _x_env(env):
    """The environment of the X tools: without WINEPREFIX, so that no watch counts them."""
    return {k: env[k] for k in ("DISPLAY", "PATH", "HOME", "LANG") if k in env}


def windows_named(env, caption: str):
    """Ids of the visible X windows captioned exactly caption, lowest (oldest) first."""
    proc = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                           "^" + re.escape(caption) + "$"],
                          env=_x_env(env), capture_output=True, text=True, timeout=30)
    return sorted(int(w) for w in proc.stdout.split())


def press(env, window: int, key: str):
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], env=_x_env(env),
                   timeout=30)
    subprocess.run(["xdotool", "key", "--clearmodifiers", key], env=_x_env(env), timeout=30)


def screenshot(env, path: Path) -> int:
    """Saves the whole screen to path; returns the number of colours in it."""
    subprocess.run(["import", "-window", "root", str(path)], env=_x_env(env), timeout=60,
                   check=True)
    proc = subprocess.run(["identify", "-format", "%k", str(path)], env=_x_env(env),
                          capture_output=True, text=True, timeout=60, check=True)
    return int(proc.stdout.strip() or 0)


def bar_fill(env, shot: Path, window: int) -> float:
    """The width of the progress bar's fill in a screenshot, as a fraction of the width of the
    window: the longest run of blue pixels in a row that starts in the window's left quarter."""
    proc = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                          env=_x_env(env), capture_output=True, text=True, timeout=30)
    geometry = dict(line.split("=", 1) for line in proc.stdout.splitlines() if "=" in line)
    x, y, w, h = (int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    raw = subprocess.run(["convert", str(shot), "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                          "-depth", "8", "rgb:-"], env=_x_env(env), capture_output=True,
                         timeout=60, check=True).stdout
    assert len(raw) == w * h * 3, f"window {window} at {w}x{h}+{x}+{y} is not all on the screen"
    longest = 0
    for row in range(h):
        run = start = 0
        for col in range(w):
            r, _, b = raw[(row * w + col) * 3:(row * w + col) * 3 + 3]
            if b > 200 and r < 120:
                start = col if run == 0 else start
                run += 1
                if start < w // 4:
                    longest = max(longest, run)
            else:
                run = 0
    return longest / w


def box_texts(log: Path):
    """The texts of the message boxes that Wine's msgbox trace reports in a process's stderr."""
    try:
        text = log.read_text(errors="replace")
    except OSError:
        return []
    found = []
    for quoted in re.findall(r'MSGBOX_OnInit\s+L"((?:[^"\\]|\\.)*)"', text):
        found.append(re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(
            m.group(1), m.group(1)), quoted))
    return found


# -- one run of setup.exe --------------------------------------------------------------------

class Smoke:
    """What the cases share: the session, the program, the places."""

    def __init__(self, env):
        self.env = env
        self.wine = env.get("WINE32", "/usr/lib/wine/wine")
        self.prefix = env["WINEPREFIX"]
        self.exe = Path(os.environ["SETUP_EXE_I686"]).resolve()
        self.port = int(os.environ.get("WEB_PORT", "47810"))
        artifacts = Path(os.environ.get("ARTIFACTS_DIR", REPO / "build" / "i686" / "artifacts"))
        self.artifacts = artifacts.resolve() / "smoke32"
        shutil.rmtree(self.artifacts, ignore_errors=True)
        self.artifacts.mkdir(parents=True)
        temp, self.temp_win = temp_folder(Path(self.prefix))
        self.dest = temp / PACKAGE_NAME
        self.dest_win = self.temp_win.rstrip("\\") + "\\" + PACKAGE_NAME


@pytest.fixture(scope="module")
def smoke(wine_env):
    s = Smoke(wine_env)
    assert s.exe.is_file(), f"{s.exe}: no such file"
    assert s.exe.read_bytes()[:2] == b"MZ"
    return s


class Run:
    """setup.exe started with its server and a process watch; stop() ends all three."""

    def __init__(self, smoke: Smoke, name: str, server: PackageServer):
        self.smoke, self.name, self.server = smoke, name, server
        self.env = smoke.env
        assert not windows_named(self.env, DIALOG_CAPTION), "an Install window is already up"
        self.stdout = open(smoke.artifacts / f"{name}.stdout", "wb")
        self.stderr_path = smoke.artifacts / f"{name}.stderr"
        self.stderr = open(self.stderr_path, "wb")
        self.watch = ProcessWatch(smoke.prefix)
        # The msgbox trace puts the text of each message box on stderr; the package, started
        # by setup.exe, inherits it.
        env = dict(self.env, WINEDEBUG="-all,trace+msgbox")
        self.started = time.monotonic()
        self.proc = subprocess.Popen([smoke.wine, str(smoke.exe)], env=env, cwd=smoke.artifacts,
                                     stdin=subprocess.DEVNULL, stdout=self.stdout,
                                     stderr=self.stderr)

    def shot(self, label: str) -> int:
        return screenshot(self.env, self.smoke.artifacts / f"{self.name}-{label}.png")

    def wait_dialog(self):
        """The ids of the dialog's window(s), once shown."""
        windows = wait_until(f"the window '{DIALOG_CAPTION}'",
                             lambda: windows_named(self.env, DIALOG_CAPTION)
                             or (self.proc.poll() is not None and ["exited"]),
                             WINDOW_TIMEOUT)
        assert windows != ["exited"], \
            f"setup.exe exited ({self.proc.returncode}) without a window"
        print(f"{self.name}: dialog after {time.monotonic() - self.started:.0f}s")
        return windows

    def wait_hold(self):
        """Waits until the server holds the body at its hold_at bytes, setup.exe still running."""
        at = self.server.hold_at
        wait_until(f"the body of {PACKAGE_PATH} to reach {at} bytes",
                   lambda: self.server.held.is_set() or self.server.ended(), REQUEST_TIMEOUT)
        assert self.server.held.is_set(), \
            f"the request ended before the hold: {self.server.requests}"
        assert self.proc.poll() is None

    def wait_exit(self, why: str) -> int:
        try:
            code = self.proc.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.shot("still-running")
            raise AssertionError(f"setup.exe still runs {EXIT_TIMEOUT}s after {why}")
        print(f"{self.name}: exit {code} after {time.monotonic() - self.started:.0f}s")
        return code

    def others(self):
        """The processes of the prefix started during the run, except setup.exe and Wine's."""
        return {pid: cmd for pid, cmd in self.watch.new(exclude={self.proc.pid}).items()
                if _image_name(cmd) not in WINE_PROCESSES}

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(60)
        # Whatever the run started and left behind (the package) goes too; Wine's own
        # processes stay for the next run.
        leftover = set(self.others()) & set(self.watch.alive)
        self.watch.stop()
        for pid in leftover:
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        self.stdout.close()
        self.stderr.close()


def first_difference(a: bytes, b: bytes):
    """The offset of the first byte where a and b differ (or where the shorter ends), or None."""
    if a == b:
        return None
    return next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))


def remove(path: Path):
    try:
        path.unlink()
    except FileNotFoundError:
        pass


# -- the cases -------------------------------------------------------------------------------

@needs_package
def test_good_download_launches_the_package(smoke):
    package = Path(os.environ["SAMPLE_PACKAGE_I686"]).resolve()
    data = package.read_bytes()
    assert data[:2] == b"MZ" and len(data) < GOOD_HOLD_AT < GOOD_BODY_SIZE
    body = data + bytes(GOOD_BODY_SIZE - len(data))  # an overlay of zeros: still the program
    assert len(body) > MIN_PACKAGE_SIZE
    remove(smoke.dest)
    env = smoke.env

    with PackageServer(smoke.port, body, hold_at=GOOD_HOLD_AT) as server:
        run = Run(smoke, "good", server)
        try:
            dialog = run.wait_dialog()
            # Downloading: the dialog is up and the rest of the body waits.
            run.wait_hold()
            assert windows_named(env, DIALOG_CAPTION) == dialog
            assert not smoke.dest.exists() or smoke.dest.stat().st_size <= GOOD_HOLD_AT
            # The dialog and its bar paint when the transfer dispatches messages between chunks.
            shot = smoke.artifacts / "good-install-dialog.png"
            fill = wait_until("the dialog and its bar painted on the screen",
                              lambda: run.shot("install-dialog") > 4
                              and bar_fill(env, shot, dialog[0]), PAINT_TIMEOUT, interval=3)
            # At the hold the bar stands at 163 of 1000 (a chunk less if reads came in short);
            # the bar is a little narrower than the dialog.
            low, high = (GOOD_HOLD_AT - READ_CHUNK_SIZE) // 2000 / 1000, GOOD_HOLD_AT // 2000 / 1000
            assert 0.8 * low <= fill <= high, f"the bar's fill is {fill:.3f} of the dialog's width"
            server.release.set()
            wait_until("the end of the body", server.ended, REQUEST_TIMEOUT)
            run.wait_exit("the download")
            assert windows_named(env, DIALOG_CAPTION) == [], "the dialog outlived setup.exe"

            assert [(r["method"], r["path"]) for r in server.requests] == [("GET", PACKAGE_PATH)]
            assert server.requests[0]["agent"] == USER_AGENT
            assert server.requests[0]["outcome"] == "complete"
            assert smoke.dest.is_file(), f"{smoke.dest_win} is missing"
            got = smoke.dest.read_bytes()
            differs = first_difference(got, body)
            assert differs is None, (f"{smoke.dest_win} differs from the body served: "
                                     f"{len(got)} of {len(body)} bytes, first at {differs}")

            # The shell starts the package, which shows its box.
            window = wait_until(f"the window '{PACKAGE_TITLE}'",
                                lambda: windows_named(env, PACKAGE_TITLE), WINDOW_TIMEOUT)
            print(f"good: package window after {time.monotonic() - run.started:.0f}s")
            wait_until("the package's window painted",
                       lambda: run.shot("package-window") > 4, PAINT_TIMEOUT, interval=3)
            launched = {pid: cmd for pid, cmd in run.others().items()
                        if PACKAGE_NAME in cmd.lower()}
            assert len(launched) == 1, f"package processes: {run.others()}"
            assert PACKAGE_TEXT in box_texts(run.stderr_path)
            assert DEFAULT_TEXT not in box_texts(run.stderr_path)

            press(env, window[-1], "Return")
            wait_until(f"the window '{PACKAGE_TITLE}' to close",
                       lambda: not windows_named(env, PACKAGE_TITLE), CLOSE_TIMEOUT)
            wait_until("the package's process to end",
                       lambda: not set(launched) & set(run.watch.alive), CLOSE_TIMEOUT)
            assert windows_named(env, DIALOG_CAPTION) == []
            assert run.others().keys() == launched.keys(), f"also started: {run.others()}"
        finally:
            run.stop()


def test_short_download_asks_and_cancel_opens_nothing(smoke):
    body = bytes(range(256)) + bytes(SHORT_BODY_SIZE - 256)
    assert len(body) < MIN_PACKAGE_SIZE
    # A file left from an earlier run: the program deletes it before downloading.
    smoke.dest.write_bytes(b"left from an earlier run")
    env = smoke.env

    with PackageServer(smoke.port, body) as server:
        run = Run(smoke, "short", server)
        try:
            run.wait_dialog()
            # The box opens over the dialog, which stays until the box is answered. Both have
            # the caption; the box's X window, made later, has the higher id.
            windows = wait_until(f"the question box '{BOX_CAPTION}' over the dialog",
                                 lambda: len(windows_named(env, BOX_CAPTION)) >= 2
                                 and windows_named(env, BOX_CAPTION)
                                 or (run.proc.poll() is not None and ["exited"]),
                                 BOX_TIMEOUT)
            assert windows != ["exited"], \
                f"setup.exe exited ({run.proc.returncode}) without a box"
            assert len(windows) == 2, f"windows captioned '{BOX_CAPTION}': {windows}"
            box = windows[-1]
            assert server.ended()
            assert [(r["method"], r["path"], r["outcome"]) for r in server.requests] \
                == [("GET", PACKAGE_PATH, "complete")]
            texts = wait_until("the box's text in the msgbox trace",
                               lambda: box_texts(run.stderr_path), 30)
            assert texts == [DEFAULT_TEXT]
            assert run.proc.poll() is None
            wait_until("the box painted on the screen",
                       lambda: run.shot("question-box") > 4, PAINT_TIMEOUT, interval=3)
            assert not smoke.dest.exists(), f"{smoke.dest_win} is left after a short body"

            press(env, box, "Escape")  # Cancel
            run.wait_exit("Cancel in the question box")
            assert windows_named(env, DIALOG_CAPTION) == [], "a window outlived setup.exe"
            time.sleep(SETTLE)
            # No package and no browser (winebrowser.exe, started by the shell for a URL).
            assert run.others() == {}, f"started by setup.exe: {run.others()}"
            assert windows_named(env, PACKAGE_TITLE) == []
            assert not smoke.dest.exists()
            assert len(server.requests) == 1
        finally:
            run.stop()


def test_escape_while_downloading_ends_the_run(smoke):
    body = bytes(ESCAPE_BODY_SIZE)
    # At most one chunk comes in after the hold before the key is seen.
    assert ESCAPE_HOLD_AT + READ_CHUNK_SIZE < MIN_PACKAGE_SIZE
    remove(smoke.dest)
    env = smoke.env

    with PackageServer(smoke.port, body, hold_at=ESCAPE_HOLD_AT, rate=ESCAPE_RATE) as server:
        run = Run(smoke, "escape", server)
        try:
            dialog = run.wait_dialog()
            run.wait_hold()
            run.shot("before-escape")
            # The key waits in the program's queue until the next chunk has come in.
            press(env, dialog[0], "Escape")
            server.release.set()
            run.wait_exit("Escape")
            assert windows_named(env, DIALOG_CAPTION) == [], "a window outlived setup.exe"
            wait_until("the server to see the connection end", server.ended, 60)
            assert [(r["method"], r["path"], r["outcome"]) for r in server.requests] \
                == [("GET", PACKAGE_PATH, "client closed")], "the transfer was not cancelled"
            # Cancelled below MIN_PACKAGE_SIZE: the part is deleted, and nothing is offered.
            assert not smoke.dest.exists()
            assert box_texts(run.stderr_path) == []
            time.sleep(SETTLE)
            assert run.others() == {}, f"started by setup.exe: {run.others()}"
        finally:
            run.stop()
