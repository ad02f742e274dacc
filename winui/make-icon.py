#!/usr/bin/env python3
"""Writes fwupgraderVelmora.ico: the application icon of the Linux window (a
hand-held reader with a green download arrow, ui/AppIcon.cpp) in 16, 24, 32 and
48 pixels in 16 colours, 256 colours and 32-bit colour, and 256 pixels as a
32-bit PNG. The 16-colour images use the standard VGA palette (what a 16-colour
display shows exactly), the 256-colour images a palette cut from their own
pixels. Standard library only; the same drawing gives the same file."""
import struct
import sys
import zlib

# The drawing in a 32-unit square: (shape, fill RGBA, outline RGBA, outline width).
BODY = ("rrect", (6, 2, 26, 30, 4))
SCREEN = ("rect", (9, 5, 23, 15))
ARROW = ("poly", [(13, 17), (19, 17), (19, 22), (23, 22), (16, 29), (9, 22), (13, 22)])
LAYERS = [
    (BODY, (70, 95, 160, 255), (30, 40, 70, 255), 1.2),
    (SCREEN, (200, 225, 250, 255), None, 0),
    (ARROW, (40, 170, 70, 255), (20, 90, 35, 255), 0.8),
]


def inside(shape, x, y, grow=0.0):
    kind, geo = shape
    if kind == "rect":
        x0, y0, x1, y1 = geo
        return x0 - grow <= x <= x1 + grow and y0 - grow <= y <= y1 + grow
    if kind == "rrect":
        x0, y0, x1, y1, r = geo
        x0, y0, x1, y1, r = x0 - grow, y0 - grow, x1 + grow, y1 + grow, r + grow
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    pts = geo  # even-odd polygon test, outline by distance to the edges
    hit = False
    for i in range(len(pts)):
        (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            hit = not hit
    if hit or grow <= 0:
        return hit
    for i in range(len(pts)):
        (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        if (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= grow * grow:
            return True
    return False


def render(size):
    """Rows of RGBA pixels, top row first, 4x4 samples a pixel."""
    scale = size / 32.0
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    x = (px + (sx + 0.5) / 4) / scale
                    y = (py + (sy + 0.5) / 4) / scale
                    colour = (0, 0, 0, 0)
                    for shape, fill, outline, width in LAYERS:
                        half = max(1.0 / scale, width) / 2
                        if outline and inside(shape, x, y, half) and not inside(shape, x, y, -half):
                            colour = outline
                        elif inside(shape, x, y):
                            colour = fill
                    a = colour[3] / 255.0
                    for c in range(3):
                        acc[c] += colour[c] * a
                    acc[3] += a
            alpha = acc[3] / 16
            rgb = [int(round(acc[c] / acc[3])) if acc[3] else 0 for c in range(3)]
            row.append((rgb[0], rgb[1], rgb[2], int(round(alpha * 255))))
        rows.append(row)
    return rows


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + bytes(mask_row * size)


# The 16 colours every Windows display has, in the system palette's order.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def opaque(px):
    return px[3] >= 128


def median_cut(colours, count):
    """At most `count` colours standing for `colours` (RGB tuples, repeats
    weigh): split the box with the widest channel at its median until there
    are enough boxes, then take each box's mean."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        splittable = [b for b in boxes if len(set(b)) > 1]
        if not splittable:
            break
        box = max(splittable, key=lambda b: max(max(c[i] for c in b) - min(c[i] for c in b)
                                                 for i in range(3)))
        channel = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: (c[channel], c))
        half = len(box) // 2
        while half < len(box) and box[half][channel] == box[half - 1][channel]:
            half += 1  # equal values stay in one box
        if half == len(box):
            half = len(box) // 2
            while half > 0 and box[half][channel] == box[half - 1][channel]:
                half -= 1
        boxes.remove(box)
        boxes += [box[:half], box[half:]]
    return sorted(tuple(int(round(sum(c[i] for c in b) / len(b))) for i in range(3)) for b in boxes)


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda k: (sum((palette[k][i] - rgb[i]) ** 2 for i in range(3)), k))


def dib_indexed(rows, bits):
    """A palette image: the colour table, one index per pixel, and the mask
    (set where the drawing is transparent) that the 32-bit images carry as alpha."""
    size = len(rows)
    if bits == 4:
        palette = VGA
    else:
        palette = median_cut([px[:3] for row in rows for px in row if opaque(px)], 256)
    table = palette + [(0, 0, 0)] * ((1 << bits) - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    colours = b"".join(bytes((b, g, r, 0)) for (r, g, b) in table)
    row_bytes = ((size * bits + 31) // 32) * 4
    mask_bytes = ((size + 31) // 32) * 4
    pixels = b""
    mask = b""
    for row in reversed(rows):
        indexes = [nearest(palette, px[:3]) if opaque(px) else 0 for px in row]
        if bits == 4:
            line = bytes((indexes[i] << 4) | (indexes[i + 1] if i + 1 < size else 0)
                         for i in range(0, size, 2))
        else:
            line = bytes(indexes)
        pixels += line + bytes(row_bytes - len(line))
        bits_line = bytearray(mask_bytes)
        for x, px in enumerate(row):
            if not opaque(px):
                bits_line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits_line)
    return header + colours + pixels + mask


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(path):
    images = []
    for size in (16, 24, 32, 48):
        rows = render(size)
        images += [(size, 4, dib_indexed(rows, 4)), (size, 8, dib_indexed(rows, 8)),
                   (size, 32, dib(rows))]
    images.append((256, 32, png(render(256))))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colours = 16 if bits == 4 else 0  # the entry counts colours only below 256
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(data),
                           offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "fwupgraderVelmora.ico")
