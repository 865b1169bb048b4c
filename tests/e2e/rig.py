"""The end-to-end rig: runs Windows programs under 64-bit Wine in Xvfb, drives them with real X
input (xdotool), inspects them with probe.exe and keeps screenshots.

Everything here has a deadline; nothing waits forever.
"""

import json
import os
import re
import shlex
import selectors
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path, PureWindowsPath
from typing import Callable, Dict, List, Optional, TypeVar

REPO = Path(__file__).resolve().parents[2]
WINE_SESSION = REPO / "scripts" / "wine-session.sh"
DEFAULT_WINE64 = "/usr/lib/wine/wine64"
PACKAGE_NAME = "brelmora_installer_4.exe"

T = TypeVar("T")


class RigError(AssertionError):
    pass


def wait_until(what: str, predicate: Callable[[], T], timeout: float,
               interval: float = 0.1) -> T:
    """Polls predicate until it gives a true value, which is returned; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise RigError(f"timed out after {timeout:.1f}s waiting for {what}")
        time.sleep(interval)


def port_in_use(port: int, host: str = "127.0.0.1") -> bool:
    """True when something accepts connections on host:port."""
    with socket.socket() as s:
        s.settimeout(2)
        return s.connect_ex((host, port)) == 0


# -- the Wine session ------------------------------------------------------------------------

def start_wine_session(state_dir: Path) -> Dict[str, str]:
    """Starts a session with scripts/wine-session.sh and returns the variables it exports."""
    state_dir.mkdir(parents=True, exist_ok=True)
    with open(state_dir / "wine-session.log", "ab") as log:
        for attempt in range(2):
            # Output to a file, not a pipe: the daemons it starts may inherit the descriptor.
            with tempfile.TemporaryFile() as out:
                proc = subprocess.run(["bash", str(WINE_SESSION), "start", str(state_dir)],
                                      stdout=out, stderr=log, stdin=subprocess.DEVNULL,
                                      timeout=300)
                out.seek(0)
                exports = out.read().decode()
            found = {}
            for word in shlex.split(exports):
                if "=" in word and word != "export":
                    name, value = word.split("=", 1)
                    found[name] = value
            if proc.returncode == 0 and "WINEPREFIX" in found and "DISPLAY" in found:
                return found
            # "wineserver -p" fails while another wineserver of the prefix runs, such as the
            # one the first "wineboot -i" leaves behind for a few seconds: wait for it to go.
            env = dict(os.environ, WINEPREFIX=str(state_dir / "prefix64"))
            try:
                subprocess.run(["wineserver", "-w"], env=env, timeout=60,
                               stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            except subprocess.TimeoutExpired:
                break  # a persistent one: trying again cannot help
    raise RigError(f"wine-session.sh start {state_dir} failed (exit {proc.returncode}); "
                   f"is a wineserver of that prefix still running? See wine-session.log there")


def stop_wine_session(state_dir: Path):
    subprocess.run(["bash", str(WINE_SESSION), "stop", str(state_dir)], timeout=120,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class Wine:
    """One Wine prefix with its X display; runs Windows programs and maps paths."""

    def __init__(self, env: Dict[str, str]):
        self.env = dict(os.environ)
        self.env.update(env)
        self.env.setdefault("WINEDEBUG", "-all")
        self.wine64 = self.env.get("WINE64", DEFAULT_WINE64)
        self.prefix = Path(self.env["WINEPREFIX"])
        self.drive_c = self.prefix / "drive_c"

    def run(self, args: List[str], timeout: float = 60,
            check: bool = True) -> subprocess.CompletedProcess:
        """Runs a Windows program and returns its stdout. Its stderr goes to a file: a program
        that needs the desktop starts Wine's explorer.exe, which inherits stderr and keeps a
        pipe open for a second or more after the program has ended."""
        with tempfile.TemporaryFile() as err:
            proc = subprocess.run([self.wine64, *map(str, args)], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err,
                                  timeout=timeout)
            if check and proc.returncode != 0:
                err.seek(0)
                raise RigError(f"{args[0]} exited with {proc.returncode}: "
                               f"{err.read().decode(errors='replace')[-500:]}")
        return proc

    def popen(self, args: List[str], **kw) -> subprocess.Popen:
        return subprocess.Popen([self.wine64, *map(str, args)], env=self.env, **kw)

    def reg_add(self, key: str, name: str, value: str, kind: str = "REG_SZ"):
        # reg.exe has been seen to fail once in a long run with no message; it is retried.
        for attempt in range(3):
            proc = self.run(["reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                            timeout=60, check=False)
            if proc.returncode == 0:
                return
            time.sleep(0.5)
        raise RigError(f"reg add {key} /v {name} failed with {proc.returncode}: "
                       f"{proc.stdout.decode(errors='replace')[-300:]}")

    def reg_query(self, key: str, name: str) -> Optional[tuple]:
        """(type, value) of a registry value, or None when it is missing."""
        proc = self.run(["reg", "query", key, "/v", name], timeout=60, check=False)
        for line in proc.stdout.decode(errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower():
                return parts[1], parts[2] if len(parts) > 2 else ""
        return None

    def reg_delete(self, key: str, name: str):
        self.run(["reg", "delete", key, "/v", name, "/f"], timeout=60, check=False)

    def unix_path(self, win: str) -> Path:
        """The Unix path of a Windows path on drive C: (the prefix) or Z: (the Unix root)."""
        p = PureWindowsPath(win)
        drive = p.drive.upper()
        rest = [part for part in p.parts[1:]]
        if drive == "C:":
            return self._resolve_case(self.drive_c, rest)
        if drive == "Z:":
            return Path("/", *rest)
        raise ValueError(f"no Unix path for {win}")

    @staticmethod
    def _resolve_case(base: Path, parts: List[str]) -> Path:
        # Wine's paths ignore case; find the real name of each existing part.
        path = base
        for part in parts:
            candidate = path / part
            if not candidate.exists() and path.is_dir():
                for entry in path.iterdir():
                    if entry.name.lower() == part.lower():
                        candidate = entry
                        break
            path = candidate
        return path

    @staticmethod
    def win_path(unix: Path) -> str:
        """Z:\\... for any Unix path."""
        return "Z:" + str(Path(unix).resolve()).replace("/", "\\")


# -- X -----------------------------------------------------------------------------------------

class Screen:
    """Real input and screenshots on the session's X display."""

    def __init__(self, env: Dict[str, str]):
        self.env = env

    def _x(self, *args: str, timeout: float = 15, check: bool = True) -> str:
        proc = subprocess.run(list(args), env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout)
        if check and proc.returncode != 0:
            raise RigError(f"{' '.join(args)} failed: {proc.stderr.decode(errors='replace')}")
        return proc.stdout.decode(errors="replace")

    def windows_named(self, caption: str) -> List[int]:
        """X ids of the mapped windows whose name is exactly caption."""
        out = self._x("xdotool", "search", "--onlyvisible", "--name",
                      "^" + re.escape(caption) + "$", check=False)
        return [int(w) for w in out.split()]

    def geometry(self, xid: int) -> Optional[tuple]:
        out = self._x("xdotool", "getwindowgeometry", "--shell", str(xid), check=False)
        vals = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        try:
            return int(vals["X"]), int(vals["Y"]), int(vals["WIDTH"]), int(vals["HEIGHT"])
        except KeyError:
            return None

    def window_for(self, win: dict) -> int:
        """The X window that shows a Windows top-level window reported by probe: the largest
        one with its caption that lies inside its window rectangle (it covers the whole window
        when Wine does not leave the window to a window manager, else the client area)."""
        left, top, right, bottom = win["rect"]
        best = None
        for xid in self.windows_named(win["text"]):
            g = self.geometry(xid)
            if g and left <= g[0] and top <= g[1] and g[0] + g[2] <= right \
                    and g[1] + g[3] <= bottom:
                area = g[2] * g[3]
                if best is None or area > best[0]:
                    best = (area, xid)
        if best is None:
            raise RigError(f"no X window for {win['text']!r} at {win['rect']}")
        return best[1]

    def click_at(self, x: int, y: int):
        # No --sync: it waits for a motion event, which never comes when the pointer already
        # stands there. The X server handles the move before the click all the same.
        self._x("xdotool", "mousemove", str(x), str(y), "sleep", "0.05", "click", "1")

    def click(self, control: dict):
        """A real left click in the middle of a control reported by probe."""
        left, top, right, bottom = control["rect"]
        self.click_at((left + right) // 2, (top + bottom) // 2)

    def key(self, win: dict, key: str):
        """Gives a top-level window reported by probe the X focus and presses key on it."""
        xid = self.window_for(win)
        self._x("xdotool", "windowfocus", "--sync", str(xid))
        self._x("xdotool", "key", "--clearmodifiers", key)

    def screenshot(self, path: Path):
        path.parent.mkdir(parents=True, exist_ok=True)
        self._x("import", "-window", "root", str(path), timeout=30)


# -- the Windows tools -------------------------------------------------------------------------

class Tools:
    def __init__(self, wine: Wine, tools_dir: Path):
        self.wine = wine
        self.dir = tools_dir
        self.probe_exe = tools_dir / "probe.exe"
        self.recorder_exe = tools_dir / "recorder.exe"
        self.holdfile_exe = tools_dir / "holdfile.exe"

    def probe(self, icons: bool = False, ask: bool = True) -> dict:
        """What probe.exe sees; with ask=False quickly, without the values that need an answer
        from the observed thread (null then)."""
        args = [self.probe_exe] + (["--icons"] if icons else []) + ([] if ask else ["--no-ask"])
        proc = self.wine.run(args, timeout=60)
        return json.loads(proc.stdout.decode("utf-8"))

    def format_message(self, module: str, code: int) -> Optional[str]:
        proc = self.wine.run([self.probe_exe, "--format-message", module, str(code)],
                             timeout=30, check=False)
        return json.loads(proc.stdout.decode("utf-8"))["text"]


class Held:
    """A Windows process that prints one line when ready and runs until its stdin closes."""

    def __init__(self, wine: Wine, args: List, ready: str, timeout: float = 30):
        self.proc = wine.popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        line = self._readline(timeout)
        if ready not in line:
            self.close()
            raise RigError(f"{args[0]} did not get ready: {line!r}")
        self.line = line

    def _readline(self, timeout: float) -> str:
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        if not sel.select(timeout):
            return ""
        return self.proc.stdout.readline().decode(errors="replace")

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)


# -- the program under test --------------------------------------------------------------------

class Run:
    """One run of a Windows program, with a hard deadline."""

    def __init__(self, wine: Wine, exe: Path, args: List[str], log_dir: Path, name: str,
                 cwd: Optional[Path] = None):
        log_dir.mkdir(parents=True, exist_ok=True)
        self.log_path = log_dir / f"{name}.log"
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([wine.wine64, str(exe), *args], env=wine.env,
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT, cwd=cwd)
        self.started = time.monotonic()

    def alive(self) -> bool:
        return self.proc.poll() is None

    def wait(self, timeout: float) -> int:
        """The exit code; kills the process and fails when it is still running after timeout."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise RigError(f"process still running after {timeout:.1f}s; killed")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        self.log.close()


def read_lines(path: Path) -> List[str]:
    try:
        return path.read_text(errors="replace").splitlines()
    except FileNotFoundError:
        return []


def read_json_lines(path: Path) -> List[dict]:
    return [json.loads(line) for line in read_lines(path) if line.strip()]


def copy_executable(src: Path, dst: Path):
    dst.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(src, dst)
    dst.chmod(0o755)
