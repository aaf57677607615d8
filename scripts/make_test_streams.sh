#!/usr/bin/env bash
# Makes the project's own test streams with Debian's ffmpeg from synthetic sources, into DIR.
# Each is short (a second or less) so that tests can explain every slice and transrate them all.
#   i420_interlaced.m2v  720x576 4:2:0, field motion + dct_type, B pictures, linear quantiser
#   i422_interlaced.m2v  720x576 4:2:2 (422 profile), interlaced, B pictures
#   p420_plain.m2v       352x288 4:2:0 progressive, I and P only, intra_vlc 0, zigzag
#   p420_tools.m2v       352x288 4:2:0, intra_vlc 1, alternate scan, q_scale_type 1, 2 B pictures
#   mpeg1.m1v            352x288 MPEG-1 video with B pictures
#   hd1080.m2v           1920x1080 4:2:0 interlaced, 20 Mbit/s, 6 pictures
#   matrices.m2v         176x144 4:2:0, both quantiser matrices loaded in every sequence header
set -euo pipefail
dir=${1:?usage: make_test_streams.sh DIR}
mkdir -p "$dir"
enc() {
  local out=$1; shift
  [ -s "$dir/$out" ] && return 0
  ffmpeg -nostdin -hide_banner -loglevel error -y "$@" "$dir/$out.tmp" && mv "$dir/$out.tmp" "$dir/$out"
}
src() { echo "testsrc2=size=$1:rate=25"; }
enc i420_interlaced.m2v -f lavfi -i "$(src 720x576)" -t 0.64 -c:v mpeg2video -b:v 8M -g 8 -bf 2 \
  -flags +ildct+ilme -top 1 -f mpeg2video
enc i422_interlaced.m2v -f lavfi -i "$(src 720x576)" -t 0.64 -pix_fmt yuv422p -c:v mpeg2video -profile:v 0 \
  -b:v 10M -g 8 -bf 2 -flags +ildct+ilme -top 1 -f mpeg2video
enc p420_plain.m2v -f lavfi -i "$(src 352x288)" -t 1 -c:v mpeg2video -b:v 2M -g 12 -bf 0 -f mpeg2video
enc p420_tools.m2v -f lavfi -i "$(src 352x288)" -t 1 -c:v mpeg2video -b:v 3M -g 12 -bf 2 \
  -intra_vlc 1 -alternate_scan 1 -non_linear_quant 1 -qmax 28 -f mpeg2video
enc mpeg1.m1v -f lavfi -i "$(src 352x288)" -t 1 -c:v mpeg1video -b:v 2M -g 12 -bf 2 -f mpeg1video
enc hd1080.m2v -f lavfi -i "$(src 1920x1080)" -t 0.24 -c:v mpeg2video -b:v 20M -maxrate 20M -bufsize 9781248 \
  -g 6 -bf 2 -flags +ildct+ilme -top 1 -f mpeg2video
# Matrices whose values differ at every position, so that a scan-order mistake shows.
intra=$(seq 0 63 | awk '{printf "%s%d", (NR>1?",":""), 8 + ($1 * 7) % 50}')
inter=$(seq 0 63 | awk '{printf "%s%d", (NR>1?",":""), 16 + ($1 * 3) % 40}')
enc matrices.m2v -f lavfi -i "$(src 176x144)" -t 0.24 -c:v mpeg2video -b:v 1M -g 3 -bf 1 \
  -intra_matrix "$intra" -inter_matrix "$inter" -f mpeg2video

# Every stream above again inside each container Varlow opens, video copied byte for byte beside
# an MP2 audio stream: a transport stream (188-byte packets), the same with 192-byte packets, a
# DVD-style program stream and an MPEG-1 system stream.
wrap() {
  local in=$1 stem=${1%.*}
  local ext format
  for ext in ts m2ts vob mpg; do
    case $ext in
      ts) format=(-f mpegts) ;;
      m2ts) format=(-f mpegts -mpegts_m2ts_mode 1) ;;
      vob) format=(-f vob) ;;
      mpg) format=(-f mpeg) ;;
    esac
    enc "$stem.$ext" -fflags +genpts -i "$dir/$in" -f lavfi -i "sine=frequency=440:duration=2" -map 0:v -map 1:a \
      -c:v copy -c:a mp2 -b:a 128k -shortest "${format[@]}"
  done
}
for stream in i420_interlaced.m2v i422_interlaced.m2v p420_plain.m2v p420_tools.m2v mpeg1.m1v hd1080.m2v matrices.m2v; do
  wrap "$stream"
done
