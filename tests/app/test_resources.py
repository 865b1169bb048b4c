"""The resources of setup.exe, read back from the built executable and compared field by field:
the install dialog template, the icon group and its images, the manifest and the version record.
"""

import re
import struct
import xml.etree.ElementTree as ET

import pefile

RT = pefile.RESOURCE_TYPE
LANG_EN_US = 0x0409

IDD_INSTALL, IDI_APP, IDC_PROGRESS = 102, 128, 1000
IDOK, IDCANCEL, IDC_STATIC = 1, 2, 0xFFFFFFFF
BUTTON, STATIC = 0x0080, 0x0082  # predefined window classes, by ordinal

# The resources of the program and their identifiers, by type (the icon images come with the
# group and are checked there).
RESOURCES = {
    RT["RT_DIALOG"]: {IDD_INSTALL},
    RT["RT_GROUP_ICON"]: {IDI_APP},
    RT["RT_MANIFEST"]: {1},
    RT["RT_VERSION"]: {1},
}

DIALOG = dict(
    help_id=0, ex_style=0x00040000, style=0x90C000C0, rect=(0, 0, 251, 52),
    menu="", window_class="", caption="Install",
    font=(9, 400, 0, 0, "Segoe UI"),
)
CONTROLS = [
    # class, text, id, (x, y, cx, cy), style
    (BUTTON, "Cancel", IDCANCEL, (194, 31, 50, 14), 0x50010000),
    (STATIC, "Downloading updated package ...", IDC_STATIC, (7, 7, 237, 8), 0x50020000),
    ("msctls_progress32", "", IDC_PROGRESS, (7, 18, 237, 10), 0x50800000),
]

ICONS = [(size, bits) for bits in (4, 8, 32) for size in (48, 32, 16)]
VGA16 = [
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
]

VERSION_FIXED = dict(
    signature=0xFEEF04BD, file_version=(0x00010000, 0x00000001),
    product_version=(0x00010000, 0x00000001), flags_mask=0x3F, flags=0,
    os=0x00000004, type=0x00000001, subtype=0, date=(0, 0),
)
VERSION_STRINGS = [
    ("CompanyName", "Brelmora"),
    ("FileDescription", "Brelmora Installer"),
    ("FileVersion", "1.0.0.1"),
    ("InternalName", "setup"),
    ("LegalCopyright", re.compile(r"Copyright \(C\) \d{4} Brelmora")),
    ("OriginalFilename", "setup.exe"),
    ("ProductName", "Brelmora Installer"),
    ("ProductVersion", "1.0.0.1"),
]


# -- reading ---------------------------------------------------------------------------------

def resources(exe):
    """{(type, id): [(language id, bytes)]} of every resource with a numeric type and id."""
    pe = exe.pe
    found = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rname in rtype.directory.entries:
            key = (rtype.id if rtype.name is None else str(rtype.name),
                   rname.id if rname.name is None else str(rname.name))
            for lang in rname.directory.entries:
                entry = lang.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                found.setdefault(key, []).append((lang.data.lang | lang.data.sublang << 10, data))
    return found


def only(exe, rtype, rid) -> bytes:
    """The one English (US) instance of a resource."""
    instances = resources(exe).get((rtype, rid), [])
    assert [lang for lang, _ in instances] == [LANG_EN_US], \
        f"resource type {rtype} id {rid}: languages {[hex(lang) for lang, _ in instances]}"
    return instances[0][1]


class Reader:
    def __init__(self, data: bytes, pos: int = 0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def sz(self) -> str:
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
            assert end < len(self.data), "unterminated string"
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        if self.data[self.pos:self.pos + 2] == b"\xff\xff":
            self.pos += 2
            return self.take("H")
        return self.sz()

    def align(self, n=4):
        self.pos += -self.pos % n


def parse_dialog(data: bytes):
    r = Reader(data)
    version, signature = r.take("HH")
    assert (version, signature) == (1, 0xFFFF), "not an extended dialog template"
    d = {}
    d["help_id"], d["ex_style"], d["style"], count = r.take("IIIH")
    d["rect"] = r.take("hhhh")
    d["menu"], d["window_class"], d["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.sz()
    d["font"] = r.take("HHBB") + (r.sz(),)
    controls = []
    for _ in range(count):
        r.align()
        help_id, ex_style, style = r.take("III")
        rect = r.take("hhhh")
        cid = r.take("I")
        cls, text = r.sz_or_ord(), r.sz_or_ord()
        extra = r.take("H")
        r.pos += extra
        controls.append(dict(cls=cls, text=text, id=cid, rect=rect, style=style,
                             ex_style=ex_style, help_id=help_id, extra=extra))
    return d, controls


def parse_version_block(data: bytes, pos: int = 0):
    """(key, value bytes, type, children) of one version block and everything under it."""
    length, value_length, vtype = struct.unpack_from("<HHH", data, pos)
    r = Reader(data, pos + 6)
    key = r.sz()
    r.align()
    value_size = value_length * 2 if vtype == 1 else value_length
    value = data[r.pos:r.pos + value_size]
    r.pos += value_size
    children = []
    end = pos + length
    while True:
        r.align()
        if r.pos >= end:
            break
        child = parse_version_block(data, r.pos)
        children.append(child[:4])
        r.pos += child[4]
    return key, value, vtype, children, length


# -- tests -----------------------------------------------------------------------------------

def test_every_resource_is_english_us_and_ours_have_their_ids(exe):
    found = resources(exe)
    wrong = {key: [hex(lang) for lang, _ in inst] for key, inst in found.items()
             if [lang for lang, _ in inst] != [LANG_EN_US]}
    assert not wrong, f"resources not (only) in English (US): {wrong}"
    for rtype, ids in RESOURCES.items():
        assert {rid for t, rid in found if t == rtype} == ids, f"resource type {rtype}"


def test_install_dialog_template(exe):
    dialog, controls = parse_dialog(only(exe, RT["RT_DIALOG"], IDD_INSTALL))
    assert dialog == DIALOG
    assert [c["id"] for c in controls if c["id"] == IDOK] == [], "a control with the id IDOK"
    # windres writes a class given by name in upper case; Windows matches class names without
    # regard to case, so the name is compared that way.
    actual = [(c["cls"].lower() if isinstance(c["cls"], str) else c["cls"],
               c["text"], c["id"], c["rect"], c["style"]) for c in controls]
    assert actual == CONTROLS
    for c in controls:
        assert (c["ex_style"], c["help_id"], c["extra"]) == (0, 0, 0), c


def test_icon_group_and_images(exe):
    group = only(exe, RT["RT_GROUP_ICON"], IDI_APP)
    reserved, kind, count = struct.unpack_from("<HHH", group)
    assert (reserved, kind, count) == (0, 1, len(ICONS))
    assert len(group) == 6 + 14 * count
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    assert [(w, bits) for w, _, _, _, _, bits, _, _ in entries] == ICONS
    assert len({e[7] for e in entries}) == count, "icon images shared between entries"
    for width, height, colours, _, planes, bits, size, icon_id in entries:
        what = f"{width}x{height} {bits}-bit image (RT_ICON {icon_id})"
        assert (height, planes, colours) == (width, 1, 16 if bits == 4 else 0), what
        data = only(exe, RT["RT_ICON"], icon_id)
        assert len(data) == size, what
        (header_size, bi_width, bi_height, bi_planes, bi_bits, compression) = \
            struct.unpack_from("<IiiHHI", data)
        assert (header_size, bi_width, bi_height, bi_planes, bi_bits, compression) == \
            (40, width, 2 * height, 1, bits, 0), what
        palette = 4 << bits if bits <= 8 else 0
        colour_row = (width * bits + 31) // 32 * 4
        mask_row = (width + 31) // 32 * 4
        assert len(data) == 40 + palette + (colour_row + mask_row) * height, what
        if bits == 4:
            table = [int.from_bytes(data[40 + 4 * i:43 + 4 * i][::-1], "big") for i in range(16)]
            assert table == VGA16, what + ": not the standard 16-colour palette"
        if bits == 32:
            alphas = set(data[40 + 3:40 + colour_row * height:4])
            assert 0 in alphas and 255 in alphas, what + ": no real alpha channel"


def test_manifest(exe):
    text = only(exe, RT["RT_MANIFEST"], 1).decode("utf-8")
    root = ET.fromstring(text)
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    assert root.tag == v1 + "assembly" and root.get("manifestVersion") == "1.0"
    levels = [e.attrib for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    assert levels == [{"level": "asInvoker", "uiAccess": "false"}]
    assert root.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/"
                     f"{v3}requestedExecutionLevel") is not None
    identities = [e.attrib for e in root.findall(
        f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")]
    assert identities == [{
        "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
        "processorArchitecture": exe.arch, "publicKeyToken": "6595b64144ccf1df", "language": "*",
    }]


def test_version_record(exe):
    key, fixed, _, children = parse_version_block(only(exe, RT["RT_VERSION"], 1))[:4]
    assert key == "VS_VERSION_INFO"
    assert len(fixed) == 52, "VS_FIXEDFILEINFO"
    f = struct.unpack("<13I", fixed)
    assert dict(signature=f[0], file_version=f[2:4], product_version=f[4:6], flags_mask=f[6],
                flags=f[7], os=f[8], type=f[9], subtype=f[10], date=f[11:13]) == VERSION_FIXED
    blocks = {k: c for k, _, _, c in children}
    assert [k for k, _, _, _ in children] == ["StringFileInfo", "VarFileInfo"]
    tables = blocks["StringFileInfo"]
    assert [k for k, _, _, _ in tables] == ["040904e4"]
    strings = [(k, v.decode("utf-16-le").rstrip("\0"), t) for k, v, t, _ in tables[0][3]]
    assert [k for k, _, _ in strings] == [k for k, _ in VERSION_STRINGS]
    for (name, value, vtype), (_, expected) in zip(strings, VERSION_STRINGS):
        assert vtype == 1, f"{name} is not text"
        if isinstance(expected, str):
            assert value == expected, name
        else:
            assert expected.fullmatch(value), f"{name}: {value!r}"
    assert [(k, v) for k, v, _, _ in blocks["VarFileInfo"]] == \
        [("Translation", struct.pack("<HH", 0x0409, 0x04E4))]

