"""One run against a local server, case by case: what it leaves in the temporary folder, what it
launches or opens, and which boxes it shows on the way."""

import dataclasses
from typing import Callable, Dict, List, Optional, Union

import pytest

import rig
from package_server import PACKAGE_PATH, Behaviour

IDOK, IDCANCEL = 1, 2
DEFAULT_TEXT = "Installer cannot download the correct version.\nDo you want to visit the website?"
CREATE_TEXT = ("Installer cannot create temporary file.\n"
               "Probably because another installation is in progress.")
MOVED_PATH = "/installer/moved.exe"
WSAECONNRESET = 10054
ERROR_INTERNET_CONNECTION_ABORTED = 12030
ERROR_INTERNET_CONNECTION_RESET = 12031


def reset_text(e2e) -> List[str]:
    """What the box may say for a connection reset by the server: the text that WinInet's or
    the system's message table holds for the error the read failed with (Wine's WinInet
    reports a reset as the socket error), or "Command failed." where there is none."""
    texts = ["Command failed."]
    for code in (WSAECONNRESET, ERROR_INTERNET_CONNECTION_ABORTED,
                 ERROR_INTERNET_CONNECTION_RESET):
        for table in ("wininet.dll", "system"):
            text = e2e.tools.format_message(table, code)
            if text:
                texts.append(text.strip())
    return texts


def disk_full_text(e2e) -> List[str]:
    return [f"Disk full while accessing {e2e.dest_win}."]


@dataclasses.dataclass
class Box:
    caption: str
    text: Union[str, Callable]  # or a function of the test's rig giving the accepted texts
    icon: str  # "none", "hand", ... as probe reports it
    buttons: List[str]

    @property
    def is_error(self) -> bool:
        return self.icon == "hand"


def question(text: str = DEFAULT_TEXT) -> Box:
    return Box("Install", text, "none", ["OK", "Cancel"])


def error(text: Callable) -> Box:
    return Box("setup", text, "hand", ["OK"])


ANY = "any"          # the file is not looked at
ABSENT = "absent"    # no file


@dataclasses.dataclass
class Partial:
    """A file that holds the first bytes of the body: at least low and at most high of them."""
    low: int
    high: int


@dataclasses.dataclass
class Case:
    id: str
    server: Optional[Behaviour]      # None: nothing listens on the port
    routes: Dict[str, Behaviour] = dataclasses.field(default_factory=dict)
    temp: str = "fresh"              # fresh | held | path259 | path260 | full-disk
    action: Optional[str] = None     # click-cancel | escape | enter, while the server holds
    file: Union[str, int, Partial] = ANY
    launched: bool = False
    box: Optional[Box] = None
    answer: str = "click-cancel"     # how the question box is closed: click-ok | click-cancel
    bar_at_box: Optional[int] = None  # the bar's position while the box shows
    last_position: Optional[int] = None  # last position sent to the bar (-1: none sent)
    paths: Optional[List[str]] = dataclasses.field(default_factory=lambda: [PACKAGE_PATH])


CASES = [
    Case("body-99999", Behaviour(size=99_999), file=ABSENT, box=question(),
         bar_at_box=49, last_position=49),
    Case("body-100000", Behaviour(size=100_000), file=100_000, launched=True, last_position=50),
    Case("body-2000000", Behaviour(size=2_000_000), file=2_000_000, launched=True,
         last_position=1000),
    Case("body-2500000", Behaviour(size=2_500_000), file=2_500_000, launched=True,
         last_position=1250),
    Case("body-100000-no-length", Behaviour(size=100_000, content_length=False), file=100_000,
         launched=True),
    Case("empty-body", Behaviour(size=0), file=0, box=question(), answer="escape", bar_at_box=0,
         last_position=-1),
    Case("unreachable", None, file=0, box=question(), answer="click-ok", paths=None),
    Case("status-404-small", Behaviour(size=5_000, status=404), box=question()),
    Case("status-404-large", Behaviour(size=150_000, status=404), box=question()),
    Case("redirect", Behaviour(redirect=MOVED_PATH), routes={MOVED_PATH: Behaviour(size=150_000)},
         file=150_000, launched=True, paths=[PACKAGE_PATH, MOVED_PATH]),
    Case("reset-mid-body", Behaviour(size=2_000_000, reset_after=300_000),
         file=Partial(1, 300_000), box=error(reset_text)),
    Case("destination-held", Behaviour(size=100_000), temp="held", box=question(CREATE_TEXT),
         answer="click-ok", paths=[]),
    Case("destination-259-chars", Behaviour(size=100_000), temp="path259", file=100_000,
         launched=True),
    Case("destination-260-chars", Behaviour(size=100_000), temp="path260", file=ABSENT,
         box=question(CREATE_TEXT), paths=[]),
    Case("disk-full", Behaviour(size=2_000_000), temp="full-disk", file=Partial(1, 128 * 1024),
         box=error(disk_full_text)),
    Case("click-cancel-before-100000", Behaviour(size=2_000_000, hold_at=40_000),
         action="click-cancel", file=ABSENT),
    Case("escape-before-100000", Behaviour(size=2_000_000, hold_at=40_000), action="escape",
         file=ABSENT),
    Case("click-cancel-after-100000", Behaviour(size=2_000_000, hold_at=150_000),
         action="click-cancel", file=Partial(100_000, 1_999_999)),
    Case("escape-after-100000", Behaviour(size=2_000_000, hold_at=150_000), action="escape",
         file=Partial(100_000, 1_999_999)),
    Case("enter-during-download", Behaviour(size=300_000, hold_at=50_000), action="enter",
         file=300_000, launched=True),
]


def stage(e2e, case: Case):
    if case.temp == "held":
        e2e.hold_file(e2e.dest_win)
    elif case.temp in ("path259", "path260"):
        # The destination is TMP, a backslash and the 24 characters of the file name.
        tmp_len = int(case.temp[4:]) - 1 - len(rig.PACKAGE_NAME)
        path = e2e.temp_win
        while len(path) < tmp_len:
            path += "\\" + "d" * min(60, tmp_len - len(path) - 1)
        assert len(path) == tmp_len
        e2e.stage_temp(path)
        assert len(e2e.dest_win) == int(case.temp[4:])
    elif case.temp == "full-disk":
        disk = e2e.dir / "disk"
        e2e.mount_tmpfs(disk, "128k")
        e2e.stage_temp(rig.Wine.win_path(disk), create=False)


def act(e2e, case: Case, server):
    assert server.wait_held(30), "the transfer never reached the hold point"
    dialog = e2e.wait_dialog()
    e2e.shot("before-" + case.action)
    if case.action == "click-cancel":
        e2e.click(dialog, IDCANCEL)
    elif case.action == "escape":
        e2e.key(dialog, "Escape")
    elif case.action == "enter":
        e2e.key(dialog, "Return")
    server.release()


def check_box(e2e, case: Case) -> dict:
    box = e2e.wait_box()
    e2e.shot("box")
    state = box["_state"]
    expected = case.box
    assert box["text"] == expected.caption
    texts = [expected.text] if isinstance(expected.text, str) else expected.text(e2e)
    assert box["message"] in texts
    assert box["icon"] == expected.icon
    assert box["buttons"] == expected.buttons
    assert len(e2e.visible_boxes(state)) == 1, "more than one box"
    dialogs = e2e.visible_dialogs(state)
    assert len(dialogs) == 1, "the install dialog is not behind the box"
    dialog = dialogs[0]
    assert box["owner"] == dialog["hwnd"], "the box is not owned by the install dialog"
    assert not dialog["enabled"], "the dialog is not disabled by its box"
    if case.bar_at_box is not None:
        assert dialog["progress"]["pos"] == case.bar_at_box
        assert (dialog["progress"]["low"], dialog["progress"]["high"]) == (0, 1000)
    return box


def close_error_box(e2e, box: dict, run):
    """After an error box the dialog stays, Cancel still enabled, until Cancel is clicked."""
    e2e.click(box, IDOK)

    def box_closed():
        state = e2e.probe(ask=False)
        return None if e2e.visible_boxes(state) else state
    state = rig.wait_until("the error box to close", box_closed, 15)
    assert run.alive(), "the process ended with the error box"
    dialogs = e2e.visible_dialogs(state)
    assert len(dialogs) == 1, "the dialog did not stay after the error box"
    dialog = dialogs[0]
    cancel = [c for c in dialog["children"] if c["id"] == IDCANCEL][0]
    assert dialog["enabled"] and cancel["enabled"] and cancel["visible"]
    e2e.shot("dialog-after-error")
    e2e.click(dialog, IDCANCEL)


def close_question_box(e2e, box: dict, answer: str):
    if answer == "click-ok":
        e2e.click(box, IDOK)
    elif answer == "click-cancel":
        e2e.click(box, IDCANCEL)
    elif answer == "escape":
        e2e.key(box, "Escape")


def check_file(e2e, case: Case, server):
    if case.file == ANY:
        return
    if case.file == ABSENT:
        assert not e2e.dest.exists(), f"{e2e.dest_win} was left behind"
        return
    assert e2e.dest.is_file(), f"{e2e.dest_win} is missing"
    data = e2e.dest.read_bytes()
    body = server.padded(server.routes[(case.paths or [PACKAGE_PATH])[-1]].size) \
        if server else b""
    if isinstance(case.file, Partial):
        assert case.file.low <= len(data) <= case.file.high
        assert data == body[:len(data)], "the partial file is not the start of the body"
    else:
        assert len(data) == case.file
        assert data == body[:case.file]


@pytest.mark.parametrize("case", CASES, ids=[c.id for c in CASES])
def test_download(e2e, case):
    stage(e2e, case)
    if case.server is None:
        assert not rig.port_in_use(e2e.port), f"port {e2e.port} is taken: cannot test no server"
    server = e2e.serve(case.server, **case.routes) if case.server else None
    e2e.watch_progress()
    run = e2e.start()

    if case.action:
        act(e2e, case, server)
    if case.box:
        box = check_box(e2e, case)
        if case.box.is_error:
            close_error_box(e2e, box, run)
        else:
            close_question_box(e2e, box, case.answer)
    e2e.wait_exit(run, timeout=30)
    assert e2e.no_windows(), "a window outlived the process"

    check_file(e2e, case, server)
    if case.launched:
        launches = e2e.wait_launches(1)
        assert len(launches) == 1, f"launched {len(launches)} times"
        assert launches[0]["module"].lower() == e2e.dest_win.lower()
    else:
        e2e.settle()
        assert e2e.launches() == [], "something was launched"
    site = f"http://127.0.0.1:{e2e.port}"
    if case.box and case.answer == "click-ok":
        rig.wait_until("the web site to be opened", e2e.browser_urls, 15)
        e2e.settle()
        assert e2e.browser_urls() in ([site], [site + "/"])
    else:
        assert e2e.browser_urls() == [], "a web page was opened"
    if case.paths is not None:
        assert [r.path for r in server.requests] == case.paths if server else case.paths == []
        assert all(r.user_agent == "setup" and r.method == "GET" for r in server.requests)
    if case.last_position is not None:
        sent = [p["sent"] for p in e2e.progress()]
        if case.last_position < 0:
            assert sent == [], "the bar was moved"
        else:
            assert sent and sent[-1] == case.last_position
            assert sent == sorted(sent), "the bar went back"
