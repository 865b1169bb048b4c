"""Fixtures of the end-to-end tests: the Wine session, the package server, the program under
test and its observers. See README.md."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path
from typing import List, Optional

import pytest

import rig
from package_server import PACKAGE_PATH, Behaviour, PackageServer

ENV_KEY = r"HKCU\Environment"
BROWSER_KEY = r"HKCU\Software\Wine\WineBrowser"
X11_KEY = r"HKCU\Software\Wine\X11 Driver"
RECORDER_DIR = r"C:\recorder"
GRACE = 1.5  # seconds to wait for something that should not happen (a launch, a browser)


def _default_build() -> Path:
    return rig.REPO / "build" / "x86_64"


class Session:
    """What lives for the whole test run."""

    def __init__(self, wine: rig.Wine, artifacts: Path):
        self.wine = wine
        self.screen = rig.Screen(wine.env)
        self.artifacts = artifacts
        self.setup_exe = Path(os.environ.get("SETUP_EXE", _default_build() / "setup.exe"))
        tools_dir = Path(os.environ.get("TOOLS_DIR", _default_build() / "tests" / "tools"))
        self.tools = rig.Tools(wine, tools_dir)
        self.port = int(os.environ.get("WEB_PORT", "47810"))
        self.recorder_dir = wine.unix_path(RECORDER_DIR)
        self.launches_log = self.recorder_dir / "launches.log"
        self.browser_log = self.recorder_dir / "browser.log"
        self.progress_log = self.recorder_dir / "progress.log"
        for path in (self.setup_exe, self.tools.probe_exe, self.tools.recorder_exe,
                     self.tools.holdfile_exe, tools_dir / "probehook.dll"):
            if not path.is_file():
                pytest.exit(f"missing {path}: build setup and tests/tools first", returncode=4)
        self.package = self.tools.recorder_exe.read_bytes()


@pytest.fixture(scope="session")
def session():
    default_artifacts = _default_build() / "artifacts"
    artifacts = Path(os.environ.get("ARTIFACTS_DIR", default_artifacts)).resolve()
    artifacts.mkdir(parents=True, exist_ok=True)
    own_session = None
    if os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY"):
        env = {k: os.environ[k] for k in ("WINEPREFIX", "DISPLAY") if k in os.environ}
    else:
        own_session = artifacts.parent / "wine"
        env = rig.start_wine_session(own_session)
    try:
        wine = rig.Wine(env)
        s = Session(wine, artifacts)
        saved = [(key, name, wine.reg_query(key, name)) for key, name in (
            (ENV_KEY, "TMP"), (ENV_KEY, "TEMP"), (BROWSER_KEY, "Browsers"), (X11_KEY, "Managed"))]
        try:
            # The browser: a script that records each URL instead of showing it.
            browser = artifacts / "browser-recorder.sh"
            rig.copy_executable(rig.REPO / "tests" / "tools" / "browser-recorder.sh", browser)
            wine.reg_add(BROWSER_KEY, "Browsers", str(browser))
            # There is no window manager on the display. Wine waits two seconds for one to
            # acknowledge each managed window it hides; unmanaged windows close at once (and
            # Wine draws their captions itself, which the screenshots then show).
            wine.reg_add(X11_KEY, "Managed", "N")
            yield s
        finally:
            for key, name, old in saved:
                if old is None:
                    wine.reg_delete(key, name)
                else:
                    wine.reg_add(key, name, old[1], old[0])
    finally:
        if own_session is not None:
            rig.stop_wine_session(own_session)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, "rep_" + report.when, report)


class E2E:
    """One test's view of the rig. Everything it starts, it stops in close()."""

    _serial = 0

    def __init__(self, session: Session, name: str):
        self.s = session
        self.wine = session.wine
        self.screen = session.screen
        self.tools = session.tools
        self.port = session.port
        self.dir = session.artifacts / name
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        self.server: Optional[PackageServer] = None
        self.runs: List[rig.Run] = []
        self.held: List[rig.Held] = []
        self.mounts: List[Path] = []
        self._shots = 0
        for log in (session.launches_log, session.browser_log, session.progress_log):
            log.unlink(missing_ok=True)
        E2E._serial += 1
        self.stage_temp(rf"C:\e2e\{E2E._serial}")

    # -- the temporary folder ----------------------------------------------------------------

    def stage_temp(self, win_path: str, create: bool = True):
        """Makes win_path (no trailing backslash) the TMP and TEMP of the next Wine process."""
        self.temp_win = win_path
        self.temp_unix = self.wine.unix_path(win_path)
        if create:
            if self.temp_unix.exists() and not os.path.ismount(self.temp_unix):
                shutil.rmtree(self.temp_unix)
            self.temp_unix.mkdir(parents=True, exist_ok=True)
        self.wine.reg_add(ENV_KEY, "TMP", win_path)
        self.wine.reg_add(ENV_KEY, "TEMP", win_path)

    @property
    def dest_win(self) -> str:
        return self.temp_win + "\\" + rig.PACKAGE_NAME

    @property
    def dest(self) -> Path:
        return self.temp_unix / rig.PACKAGE_NAME

    def mount_tmpfs(self, path: Path, size: str):
        """Mounts a small tmpfs; skips the test when that is not permitted."""
        path.mkdir(parents=True, exist_ok=True)
        proc = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(path)],
                              capture_output=True, timeout=30)
        if proc.returncode != 0:
            pytest.skip(f"cannot mount a tmpfs here: {proc.stderr.decode().strip()}")
        self.mounts.append(path)

    # -- the server --------------------------------------------------------------------------

    def serve(self, behaviour: Behaviour, **routes: Behaviour) -> PackageServer:
        """Starts the package server; extra routes are given as path=Behaviour."""
        self.server = PackageServer(self.port, self.s.package)
        self.server.serve(PACKAGE_PATH, behaviour)
        for path, b in routes.items():
            self.server.serve(path, b)
        self.server.start()
        return self.server

    # -- the program -------------------------------------------------------------------------

    def start(self, args: Optional[List[str]] = None, exe: Optional[Path] = None,
              cwd: Optional[Path] = None) -> rig.Run:
        run = rig.Run(self.wine, exe or self.s.setup_exe, args or [], self.dir,
                      f"run{len(self.runs) + 1}", cwd=cwd)
        self.runs.append(run)
        return run

    def watch_progress(self) -> rig.Held:
        """Logs every progress position from now on (start it before the program)."""
        watcher = rig.Held(self.wine, [self.tools.probe_exe, "--watch", "120"], "watching")
        if '"watching": true' not in watcher.line:
            watcher.close()
            raise rig.RigError(f"probe --watch could not hook: {watcher.line!r}")
        self.held.append(watcher)
        return watcher

    def hold_file(self, win_path: str) -> rig.Held:
        """Another process that keeps win_path open for writing, shared with nobody."""
        holder = rig.Held(self.wine, [self.tools.holdfile_exe, win_path, "120"], "held")
        self.held.append(holder)
        return holder

    # -- observation -------------------------------------------------------------------------

    def probe(self, icons: bool = False, ask: bool = True) -> dict:
        return self.tools.probe(icons=icons, ask=ask)

    def visible_dialogs(self, state: dict) -> List[dict]:
        return [d for d in state["dialogs"] if d["visible"]]

    def visible_boxes(self, state: dict) -> List[dict]:
        return [b for b in state["boxes"] if b["visible"]]

    def wait_dialog(self, timeout: float = 20) -> dict:
        """The install dialog, once it is shown."""
        self.screen_wait("Install", timeout)

        def shown():
            dialogs = self.visible_dialogs(self.probe(ask=False))
            return dialogs[0] if dialogs else None
        return rig.wait_until("the install dialog", shown, timeout)

    def screen_wait(self, caption: str, timeout: float):
        rig.wait_until(f"an X window named {caption!r}",
                       lambda: self.screen.windows_named(caption), timeout)

    def wait_box(self, timeout: float = 30) -> dict:
        """The first message box shown, with the state of everything around it."""
        def shown():
            state = self.probe()
            boxes = self.visible_boxes(state)
            return (boxes[0], state) if boxes else None
        box, state = rig.wait_until("a message box", shown, timeout)
        box["_state"] = state
        return box

    def wait_exit(self, run: rig.Run, timeout: float = 30) -> int:
        """The exit code; when the process does not end in time, fails naming what is shown."""
        try:
            return run.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.shot("not-ended")
            state = self.probe(ask=False)
            shown = [(w["text"], w.get("message")) for w in state["dialogs"] + state["boxes"]
                     if w["visible"]]
            run.kill()
            raise rig.RigError(f"still running after {timeout:.0f}s (killed); showing {shown}")

    def no_windows(self) -> bool:
        state = self.probe(ask=False)
        return not state["dialogs"] and not state["boxes"]

    def launches(self) -> List[dict]:
        return rig.read_json_lines(self.s.launches_log)

    def browser_urls(self) -> List[str]:
        return rig.read_lines(self.s.browser_log)

    def progress(self) -> List[dict]:
        return rig.read_json_lines(self.s.progress_log)

    def wait_launches(self, count: int, timeout: float = 15) -> List[dict]:
        """Waits for count launches, then a grace period for unexpected further ones."""
        rig.wait_until(f"{count} launch(es) of the package",
                       lambda: len(self.launches()) >= count, timeout)
        time.sleep(GRACE)
        return self.launches()

    def settle(self):
        """Gives anything that should not happen (a launch, a browser) time to show up."""
        time.sleep(GRACE)

    # -- input and pictures ------------------------------------------------------------------

    def click(self, window: dict, control_id: int):
        controls = [c for c in window["children"] if c["id"] == control_id]
        assert controls, f"no control {control_id} in {window['text']!r}"
        self.screen.click(controls[0])

    def key(self, window: dict, key: str):
        self.screen.key(window, key)

    def shot(self, label: str) -> Path:
        self._shots += 1
        path = self.dir / f"{self._shots:02d}-{re.sub(r'[^A-Za-z0-9_.-]+', '_', label)}.png"
        self.screen.screenshot(path)
        return path

    # -- the end -----------------------------------------------------------------------------

    def close(self, failed: bool):
        errors = []
        if failed:
            try:
                self.shot("at-failure")
            except Exception as e:  # noqa: BLE001 - the test's own failure matters more
                errors.append(e)
        for run in self.runs:
            run.kill()
        for h in self.held:
            h.close()
        if self.server is not None:
            self.server.stop()
        for m in self.mounts:
            subprocess.run(["umount", "-l", str(m)], capture_output=True, timeout=30)
        # No window of a killed run may outlive the test.
        try:
            rig.wait_until("no install dialog or box left", self.no_windows, 10)
        except Exception as e:  # noqa: BLE001
            errors.append(e)
        if errors and not failed:
            raise errors[0]


@pytest.fixture
def e2e(session, request):
    name = re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.name)
    harness = E2E(session, name)
    try:
        yield harness
    finally:
        rep = getattr(request.node, "rep_call", None)
        harness.close(failed=rep is None or rep.failed)
