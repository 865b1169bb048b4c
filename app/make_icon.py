#!/usr/bin/python3
"""Writes the application icon: a cardboard box with a green arrow pointing down into it.

    make_icon.py OUT.ico

The icon file holds nine images, in this order: 48, 32 and 16 pixels at 4 bits per pixel
(the standard 16-colour palette), the same sizes at 8 bits per pixel (256 colours), and the
same sizes at 32 bits per pixel with alpha. The artwork is drawn from polygons, so every size
is rendered from the same source. The output depends on nothing but this file: the same
bytes come out on every run.
"""

import struct
import sys

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 32)

# The standard 16-colour palette, in its usual order (index -> RGB).
VGA16 = (
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
)
BLACK, MAROON, GREEN, OLIVE, SILVER, GRAY, LIME, YELLOW = 0, 1, 2, 3, 7, 8, 10, 11


class Shape:
    """A filled polygon in unit coordinates (0..1, y down) with an outline along its edges.

    rgb/edge_rgb are the true colours; vga/edge_vga the indices used in the 16-colour image.
    """

    def __init__(self, points, rgb, edge_rgb, vga, edge_vga):
        self.points = points
        self.rgb, self.edge_rgb = rgb, edge_rgb
        self.vga, self.edge_vga = vga, edge_vga
        self.edges = list(zip(points, points[1:] + points[:1]))

    def contains(self, x, y):
        inside = False
        for (x0, y0), (x1, y1) in self.edges:
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside

    def edge_distance(self, x, y):
        best = float("inf")
        for (x0, y0), (x1, y1) in self.edges:
            dx, dy = x1 - x0, y1 - y0
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
            ex, ey = x0 + t * dx - x, y0 + t * dy - y
            best = min(best, (ex * ex + ey * ey) ** 0.5)
        return best


TAPE = (0xF0, 0xD8, 0xA0)
BOX_EDGE = (0x4A, 0x2C, 0x10)
ARROW_EDGE = (0x14, 0x5A, 0x24)

# Back to front.
ARTWORK = (
    # Box: top face, side face, front face, a strip of tape down the front.
    Shape([(0.06, 0.48), (0.36, 0.34), (0.94, 0.34), (0.64, 0.48)],
          (0xE4, 0xB4, 0x74), BOX_EDGE, YELLOW, BLACK),
    Shape([(0.64, 0.48), (0.94, 0.34), (0.94, 0.80), (0.64, 0.96)],
          (0x9C, 0x64, 0x30), BOX_EDGE, MAROON, BLACK),
    Shape([(0.06, 0.48), (0.64, 0.48), (0.64, 0.96), (0.06, 0.96)],
          (0xC8, 0x8C, 0x4C), BOX_EDGE, OLIVE, BLACK),
    Shape([(0.29, 0.48), (0.41, 0.48), (0.41, 0.70), (0.29, 0.70)],
          TAPE, BOX_EDGE, SILVER, BLACK),
    # Arrow: shaft, then head, pointing down into the open top.
    Shape([(0.40, 0.03), (0.62, 0.03), (0.62, 0.34), (0.40, 0.34)],
          (0x34, 0xB0, 0x4C), ARROW_EDGE, LIME, GREEN),
    Shape([(0.22, 0.30), (0.80, 0.30), (0.51, 0.62)],
          (0x34, 0xB0, 0x4C), ARROW_EDGE, LIME, GREEN),
)

SUBSAMPLES = 4  # per axis


def sample(x, y, size):
    """The shape hit at (x, y) and whether the hit is on its outline, or None."""
    edge_width = 1.0 / size if size >= 32 else 0.6 / size
    for shape in reversed(ARTWORK):
        if shape.contains(x, y):
            return shape, shape.edge_distance(x, y) < edge_width
    return None


def render(size):
    """Per pixel: (r, g, b, alpha 0..255, 16-colour index or None when transparent), top row first."""
    pixels = []
    n = SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(n):
                for sx in range(n):
                    hit = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, size)
                    if hit:
                        hits.append(hit)
            if not hits:
                row.append((0, 0, 0, 0, None))
                continue
            colours = [s.edge_rgb if edge else s.rgb for s, edge in hits]
            r, g, b = (round(sum(c[i] for c in colours) / len(colours)) for i in range(3))
            alpha = round(255 * len(hits) / (n * n))
            centre = sample((px + 0.5) / size, (py + 0.5) / size, size)
            if centre is None and len(hits) * 2 <= n * n:
                vga = None
            else:
                shape, edge = centre or hits[0]
                vga = shape.edge_vga if edge else shape.vga
            row.append((r, g, b, alpha, vga))
        pixels.append(row)
    return pixels


def palette256():
    """The standard 16 colours, the artwork's own colours, a 6x6x6 cube and greys: 256 entries."""
    colours = list(VGA16)
    for shape in ARTWORK:
        for c in (shape.rgb, shape.edge_rgb):
            if c not in colours:
                colours.append(c)
    levels = (0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF)
    for r in levels:
        for g in levels:
            for b in levels:
                if (r, g, b) not in colours:
                    colours.append((r, g, b))
    for grey in list(range(0x04, 0x100, 0x09)) + list(range(0x100)):
        if len(colours) == 256:
            break
        if (grey, grey, grey) not in colours:
            colours.append((grey, grey, grey))
    return colours


def nearest(colours, rgb):
    return min(range(len(colours)),
               key=lambda i: sum((colours[i][k] - rgb[k]) ** 2 for k in range(3)))


def pack_rows(rows, bits):
    """Bottom-up DIB rows of palette indices or BGRA tuples, each padded to 4 bytes."""
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bits == 32:
            for b, g, r, a in row:
                line += bytes((b, g, r, a))
        elif bits == 8:
            line += bytes(row)
        else:
            per_byte = 8 // bits
            for i in range(0, len(row), per_byte):
                byte = 0
                for j in range(per_byte):
                    value = row[i + j] if i + j < len(row) else 0
                    byte |= value << (8 - bits * (j + 1))
                line.append(byte)
        line += bytes(-len(line) % 4)
        out += line
    return bytes(out)


def image(pixels, size, bits, colours256):
    """One icon image: BITMAPINFOHEADER, palette, colour bitmap and 1-bit AND mask."""
    opaque = [[(p[4] is not None) if bits == 4 else (p[3] >= 128) for p in row] for row in pixels]
    if bits == 4:
        palette = VGA16
        rows = [[p[4] if p[4] is not None else 0 for p in row] for row in pixels]
    elif bits == 8:
        palette = colours256
        rows = [[nearest(colours256, p[:3]) if o else 0 for p, o in zip(row, orow)]
                for row, orow in zip(pixels, opaque)]
    else:
        palette = ()
        rows = [[(p[2], p[1], p[0], p[3]) for p in row] for row in pixels]
    xor = pack_rows(rows, bits)
    mask = pack_rows([[0 if o else 1 for o in row] for row in opaque], 1)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + xor + mask


def icon_file():
    colours256 = palette256()
    rendered = {size: render(size) for size in SIZES}
    images = [(size, bits, image(rendered[size], size, bits, colours256))
              for bits in DEPTHS for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    with open(argv[1], "wb") as f:
        f.write(icon_file())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
