#!/usr/bin/env python3
"""Draws Varlow's icon: a blue tile with rows of bit fields, as SVG and as PNGs (pure Python).

Run from src/resources after changing the design: python3 make_icon.py
"""
import struct
import zlib

# The design on a 64 x 64 grid: (x, y, width, height, colour).
TILE = (2, 2, 60, 60, (31, 78, 121))
CORNER = 10
FIELDS = [
    (10, 12, 12, 8, (255, 255, 255)), (24, 12, 20, 8, (255, 255, 255)), (46, 12, 8, 8, (255, 176, 59)),
    (10, 24, 26, 8, (142, 202, 230)), (38, 24, 16, 8, (142, 202, 230)),
    (10, 36, 8, 8, (255, 176, 59)), (20, 36, 14, 8, (255, 255, 255)), (36, 36, 18, 8, (255, 255, 255)),
    (10, 48, 30, 6, (142, 202, 230)),
]


def svg():
    r, g, b = TILE[4]
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">',
             f'<rect x="{TILE[0]}" y="{TILE[1]}" width="{TILE[2]}" height="{TILE[3]}" rx="{CORNER}" '
             f'fill="#{r:02x}{g:02x}{b:02x}"/>']
    for x, y, w, h, (r, g, b) in FIELDS:
        parts.append(f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="1.5" fill="#{r:02x}{g:02x}{b:02x}"/>')
    parts.append('</svg>')
    return '\n'.join(parts) + '\n'


def inside_tile(px, py):
    x, y, w, h, _ = TILE
    if not (x <= px < x + w and y <= py < y + h):
        return False
    cx = min(max(px, x + CORNER), x + w - CORNER)
    cy = min(max(py, y + CORNER), y + h - CORNER)
    return (px - cx) ** 2 + (py - cy) ** 2 <= CORNER ** 2


def colour_at(px, py):
    for x, y, w, h, c in FIELDS:
        if x <= px < x + w and y <= py < y + h:
            return c + (255,)
    if inside_tile(px, py):
        return TILE[4] + (255,)
    return (0, 0, 0, 0)


def png(size, samples=4):
    rows = []
    scale = 64.0 / size
    for j in range(size):
        row = bytearray([0])
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(samples):
                for si in range(samples):
                    c = colour_at((i + (si + 0.5) / samples) * scale, (j + (sj + 0.5) / samples) * scale)
                    for k in range(3):
                        acc[k] += c[k] * c[3]
                    acc[3] += c[3]
            alpha = acc[3] / (samples * samples)
            rgb = [round(acc[k] / acc[3]) if acc[3] else 0 for k in range(3)]
            row += bytes(rgb + [round(alpha)])
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) +
            chunk(b'IEND', b''))


if __name__ == '__main__':
    with open('varlow.svg', 'w') as f:
        f.write(svg())
    for size in (48, 128, 256):
        with open(f'varlow-{size}.png', 'wb') as f:
            f.write(png(size))
