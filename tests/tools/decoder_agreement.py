#!/usr/bin/env python3
"""Decodes a stream with ffmpeg and with libmpeg2's mpeg2dec and checks that they agree.

libmpeg2 conceals damage silently, so its judgement is whether its pictures match ffmpeg's:
a misparsed slice shows up as a large luma difference. Prints the two frame counts and the
worst luma PSNR; exits 1 when mpeg2dec gives fewer than all but the last two frames or when
any frame differs by more than IDCT rounding does (PSNR below 40 dB).
"""
import math
import subprocess
import sys

path = sys.argv[1]
size = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                       "stream=width,height", "-of", "csv=p=0", path],
                      capture_output=True, text=True).stdout.strip().split(",")
w, h = int(size[0]), int(size[1])
raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"],
                     capture_output=True).stdout
frame_bytes = w * h * 3 // 2
ff = [raw[i:i + w * h] for i in range(0, len(raw) - frame_bytes + 1, frame_bytes)]

pgm = subprocess.run(["mpeg2dec", "-o", "pgmpipe", path], capture_output=True).stdout
mp = []
i = 0
while i < len(pgm):
    fields = []
    j = i
    for _ in range(3):  # "P5", "W H", "255"
        k = pgm.index(b"\n", j)
        fields.append(pgm[j:k])
        j = k + 1
    W, H = map(int, fields[1].split())
    mp.append((W, pgm[j:j + W * h]))  # the luma rows come first
    i = j + W * H

worst = 99.0
for f in range(min(len(ff), len(mp))):
    W, luma = mp[f]
    se = 0
    rows = 0
    for y in range(0, h, 8):
        a = ff[f][y * w:(y + 1) * w]
        b = luma[y * W:y * W + w]
        se += sum((x - z) * (x - z) for x, z in zip(a, b))
        rows += 1
    mse = se / (w * rows)
    worst = min(worst, 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse))
print(f"ffmpeg {len(ff)} mpeg2dec {len(mp)} worst {worst:.1f} dB")
sys.exit(0 if len(ff) > 0 and len(mp) >= len(ff) - 2 and worst >= 40 else 1)
