"""setup.exe stands alone: it imports only DLLs that every Windows system has, and none of the
compiler's runtime DLLs (the C++ and GCC runtimes and the threads library are linked in)."""

import re

# Windows system DLLs the program needs, in lower case: extend it only for a new real need.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "comctl32.dll", "shell32.dll", "wininet.dll", "msvcrt.dll",
}
# The runtimes of the mingw-w64 compilers, which must never be needed at run time.
COMPILER_RUNTIME = re.compile(r"^(libstdc\+\+|libgcc|libwinpthread)", re.I)


def imported_dlls(exe):
    pe = exe.pe
    entries = list(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    entries += list(getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
    return [e.dll.decode("ascii", "replace") for e in entries]


def test_imports_only_windows_system_dlls(exe):
    dlls = imported_dlls(exe)
    assert any(d.lower() == "kernel32.dll" for d in dlls), f"import table not read: {dlls}"
    runtime = [d for d in dlls if COMPILER_RUNTIME.match(d)]
    assert not runtime, f"{exe.path} needs the compiler's runtime DLLs: {runtime}"
    others = sorted(d for d in dlls if d.lower() not in SYSTEM_DLLS)
    assert not others, f"{exe.path} imports DLLs outside the allowed system set: {others}"
