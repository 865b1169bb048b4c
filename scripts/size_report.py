#!/usr/bin/env python3
"""Where the bytes of setup.exe go: its file size split by origin, from the executable's own
section table and the linker's map of the same link.

    python3 scripts/size_report.py BUILD/setup.exe BUILD/setup.map

Every input section that the map places in an output section with file bytes is counted under
one origin; what the sections' file sizes hold beyond that is alignment padding, and the rest
of the file is the headers and, when signed, the signature.
"""

import re
import struct
import sys
from collections import Counter
from pathlib import Path

ORIGINS = [
    ("code", "program code: app, download, platform"),
    ("data", "program constants and data"),
    ("unwind", "program unwind tables (exceptions)"),
    ("eh_runtime", "C++ runtime: exception handling, type info"),  # x86_64: the posix threads library too
    ("crt", "C runtime start-up and support (mingw-w64)"),
    ("imports", "import tables and thunks"),
    ("resources", "resources: dialog, icon, manifest, version"),
    ("reloc", "relocation table (address randomisation)"),
    ("padding", "section alignment padding"),
    ("headers", "headers"),
    ("signature", "Authenticode signature"),
]

# Members of import libraries: lib<dll>h.o / t.o (table head and tail) and lib<dll>s<N>.o
# (one thunk per function); msvcrt's import members carry "_def" in their names.
IMPORT_MEMBER = re.compile(r"^lib[a-z0-9]+(_def)?(s\d+|h|t)\.o$")


def pe_layout(data: bytes):
    """Returns {section name: file bytes}, the headers' size and the signature's size."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE file")
    count, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    _, signature = struct.unpack_from("<II", data, dirs + 4 * 8)  # the security directory
    sections, first_raw = {}, len(data)
    for i in range(count):
        name, _, _, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * i)
        name = name.rstrip(b"\0").decode("ascii")
        sections[name] = raw_size
        if raw_size:
            first_raw = min(first_raw, raw_ptr)
    return sections, first_raw, signature


def map_contributions(text: str, sections):
    """Sums the map's input sections by origin, for output sections that have file bytes."""
    text = text.split("Linker script and memory map", 1)[-1]
    sums = Counter()
    output = None
    pending = None  # an input section whose name was too long to share its line
    for line in text.splitlines():
        m = re.match(r"^(\.\S+)", line)
        if m:
            output = m.group(1)
            continue
        m = re.match(r"^ (\.\S+|dll)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(.+)$", line)
        if m:
            name, size, source = m.group(1), int(m.group(2), 16), m.group(3)
        else:
            m = re.match(r"^ (\.\S+)$", line)
            if m:
                pending = m.group(1)
                continue
            m = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if not (m and pending):
                pending = None
                continue
            name, size, source = pending, int(m.group(1), 16), m.group(2)
        pending = None
        # The section table keeps eight characters of a name (".eh_frame" is ".eh_fram").
        if not size or not output or not sections.get(output[:8]):
            continue
        sums[classify(output, name, source)] += size
    return sums


def classify(output: str, name: str, source: str) -> str:
    member = re.search(r"\(([^)]*)\)\s*$", source)
    archive = Path(source.split("(")[0]).name
    member = member.group(1) if member else ""
    if output == ".rsrc":
        return "resources"
    if output == ".reloc":
        return "reloc"
    if output == ".idata" or IMPORT_MEMBER.match(member):
        return "imports"
    if archive == "libsetup_lib.a" or source.endswith("main.cpp.obj"):
        if output == ".text":
            return "code"
        # i686 unwinds with DWARF tables, x86_64 with the system's .pdata/.xdata.
        return "unwind" if output in (".eh_frame", ".pdata", ".xdata") else "data"
    if archive in ("libstdc++.a", "libsupc++.a", "libgcc_eh.a", "libgcc.a", "libpthread.a"):
        return "eh_runtime"
    return "crt"


def report(exe: Path, map_file: Path) -> str:
    data = exe.read_bytes()
    sections, headers, signature = pe_layout(data)
    sums = map_contributions(map_file.read_text(errors="replace"), sections)
    sums["padding"] = sum(sections.values()) - sum(sums.values())
    sums["headers"] = headers
    sums["signature"] = signature
    total = len(data)
    lines = [f"where {exe.name}'s {total} bytes go:"]
    for key, label in ORIGINS:
        if sums[key]:
            lines.append(f"  {label:<46} {sums[key]:>7}  {100.0 * sums[key] / total:5.1f}%")
    rest = total - sum(sums[key] for key, _ in ORIGINS)
    if rest:
        lines.append(f"  {'unaccounted (after the last section)':<46} {rest:>7}")
    lines.append("  file bytes by section: " +
                 ", ".join(f"{n} {s}" for n, s in sections.items() if s))
    return "\n".join(lines)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(f"usage: {sys.argv[0]} setup.exe setup.map")
    print(report(Path(sys.argv[1]), Path(sys.argv[2])))
