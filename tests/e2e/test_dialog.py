"""The install dialog as a user meets it: what it shows, how it ends, what it is called."""

import pytest

import rig
from package_server import PACKAGE_PATH, Behaviour

WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_THICKFRAME = 0x00040000
WS_POPUP = 0x80000000
WS_EX_APPWINDOW = 0x00040000
IDCANCEL = 2
IDC_PROGRESS = 1000
BYTES_PER_STEP = 2000  # 2000000 bytes fill the bar's 1000 steps

# Far longer than the checks take, and fast enough that the dialog answers promptly: it handles
# messages only between two reads.
SLOW = Behaviour(size=20_000_000, rate=256_000)


def child(dialog, cls, control_id=None):
    found = [c for c in dialog["children"]
             if c["class"].lower() == cls.lower() and (control_id is None or c["id"] == control_id)]
    assert len(found) == 1, f"expected one {cls} {control_id} in {dialog['children']}"
    return found[0]


@pytest.mark.parametrize("how", ["escape", "click-cancel"])
def test_dialog_shows_then_ends_on_cancel(e2e, how):
    server = e2e.serve(SLOW)
    run = e2e.start()
    e2e.wait_dialog()

    def answered():
        # The dialog answers between two reads; the icons come through the probe's hook.
        state = e2e.probe(icons=True)
        d = state["dialogs"]
        return state if d and d[0]["progress"]["pos"] is not None \
            and d[0]["icon_big"] is not None else None
    state = rig.wait_until("the dialog to answer the probe", answered, 20)
    e2e.shot("dialog")
    assert len(e2e.visible_dialogs(state)) == 1 and not state["boxes"]
    dialog = state["dialogs"][0]

    assert dialog["text"] == "Install"
    assert dialog["visible"] and dialog["enabled"]
    text = child(dialog, "Static")
    assert text["text"] == "Downloading updated package ..." and text["visible"]
    bar = child(dialog, "msctls_progress32", IDC_PROGRESS)
    assert bar["visible"]
    cancel = child(dialog, "Button", IDCANCEL)
    assert cancel["text"] == "Cancel" and cancel["visible"] and cancel["enabled"]
    assert len(dialog["children"]) == 3

    progress = dialog["progress"]
    assert (progress["low"], progress["high"]) == (0, 1000)
    # The bar shows no more than what has arrived so far.
    assert 0 <= progress["pos"] <= server.requests[0].sent // BYTES_PER_STEP

    assert dialog["icon_big"] and dialog["icon_small"], "window icons not set"

    style = dialog["style"]
    assert style & WS_POPUP and (style & WS_CAPTION) == WS_CAPTION
    assert not style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), \
        f"system menu, close box or sizing present: style {style:#x}"
    assert dialog["exstyle"] & WS_EX_APPWINDOW, "no taskbar button"

    left, top, right, bottom = dialog["rect"]
    wl, wt, wr, wb = state["work_area"]
    assert abs((left + right) - (wl + wr)) <= 2 and abs((top + bottom) - (wt + wb)) <= 2, \
        f"dialog {dialog['rect']} not centred in work area {state['work_area']}"

    if how == "escape":
        e2e.key(dialog, "Escape")
    else:
        e2e.click(dialog, IDCANCEL)
    e2e.wait_exit(run, timeout=15)
    assert e2e.no_windows(), "a window outlived the process"
    e2e.settle()
    assert e2e.launches() == []
    assert e2e.browser_urls() == []
    assert len(server.requests) == 1


@pytest.mark.parametrize("name, args, agent", [
    ("setup.exe", [], "setup"),
    ("my.setup.exe", [], "my.setup"),
    ("setup.exe", ["/S", "--url", "http://127.0.0.1:9/other.exe", r"/D=C:\elsewhere"], "setup"),
], ids=["setup", "my.setup", "setup-with-arguments"])
def test_app_name_is_the_file_name_and_arguments_change_nothing(e2e, name, args, agent):
    server = e2e.serve(Behaviour(size=100_000))
    exe = e2e.dir / "bin" / name
    rig.copy_executable(e2e.s.setup_exe, exe)
    run = e2e.start(args=args, exe=exe)
    e2e.wait_exit(run, timeout=30)
    launches = e2e.wait_launches(1)

    assert [(r.method, r.path, r.user_agent) for r in server.requests] == \
        [("GET", PACKAGE_PATH, agent)]
    assert len(launches) == 1
    assert launches[0]["module"].lower() == e2e.dest_win.lower()
    assert e2e.dest.read_bytes() == server.padded(100_000)
