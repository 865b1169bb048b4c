"""The executables under test: SETUP_EXE (either architecture) and SETUP_EXE_I686 (32-bit).

Each test that takes `exe` runs once per executable given; with neither variable set, it is
skipped.
"""

import os
from pathlib import Path

import pefile
import pytest

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664


class Exe:
    def __init__(self, path: Path):
        self.path = path
        self.pe = pefile.PE(str(path), fast_load=True)
        self.pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"],
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"],
        ])

    @property
    def machine(self) -> int:
        return self.pe.FILE_HEADER.Machine

    @property
    def arch(self) -> str:
        """The processor architecture as manifests name it."""
        return {MACHINE_I386: "x86", MACHINE_AMD64: "amd64"}[self.machine]


def _given():
    given = []
    for var in ("SETUP_EXE", "SETUP_EXE_I686"):
        value = os.environ.get(var)
        if value:
            given.append(pytest.param((var, Path(value)), id=var))
    return given or [pytest.param(None, marks=pytest.mark.skip(
        reason="set SETUP_EXE and/or SETUP_EXE_I686 to a built setup.exe"))]


@pytest.fixture(scope="module", params=_given())
def exe(request) -> Exe:
    var, path = request.param
    assert path.is_file(), f"{var}={path}: no such file"
    loaded = Exe(path)
    expected = {"SETUP_EXE": (MACHINE_I386, MACHINE_AMD64), "SETUP_EXE_I686": (MACHINE_I386,)}[var]
    assert loaded.machine in expected, f"{path}: machine 0x{loaded.machine:04x}"
    return loaded
