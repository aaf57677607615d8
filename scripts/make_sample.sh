#!/usr/bin/env bash
# Makes samples/sample.m2v: 2 seconds of ffmpeg's synthetic test pattern (testsrc2) encoded as an
# MPEG-2 Main Profile elementary stream, 352x288, 25 fps, GOPs of 12 with 2 B pictures, interlaced
# coding, intra VLC table, alternate scan and the non-linear quantiser.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/samples/sample.m2v}
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=352x288:rate=25" -t 2 \
  -c:v mpeg2video -b:v 4M -maxrate 6M -bufsize 1835008 -g 12 -bf 2 \
  -flags +ildct+ilme -intra_vlc 1 -alternate_scan 1 -non_linear_quant 1 -qmax 28 \
  -f mpeg2video "$out"
