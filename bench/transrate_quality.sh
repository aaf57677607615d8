#!/usr/bin/env bash
# Quality of transrating an 8 Mbit/s SD stream to 5 Mbit/s, beside ffmpeg re-encoding the same
# input to the same rate: luma and overall PSNR against the decoded input (ffmpeg's psnr filter).
#   bench/transrate_quality.sh [VARLOW_CLI]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$top/build/cli/varlow-cli}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rate=5000000

ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=12:allf=t" \
  -t 10 -c:v mpeg2video -b:v 8M -maxrate 8M -bufsize 1835008 -g 12 -bf 2 -f mpeg2video "$tmp/in.m2v"
"$cli" transrate "$tmp/in.m2v" "$tmp/varlow.m2v" --bitrate $rate 2>/dev/null
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$tmp/in.m2v" -c:v mpeg2video -b:v $rate -maxrate $rate \
  -bufsize 1835008 -g 12 -bf 2 -f mpeg2video "$tmp/ffmpeg.m2v"

psnr() {  # prints "Y average"
  ffmpeg -nostdin -hide_banner -i "$1" -i "$tmp/in.m2v" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
    sed -n 's/.*PSNR y:\([0-9.inf]*\) u:[0-9.inf]* v:[0-9.inf]* average:\([0-9.inf]*\).*/\1 \2/p' | tail -1
}
rate_of() {  # bit/s of a 25 fps stream from its size and picture count
  local frames
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1")
  awk -v s="$(stat -c %s "$1")" -v f="$frames" 'BEGIN{printf "%.2f", s*8*25/f/1e6}'
}

printf '%-28s %12s %10s %12s\n' "5 Mbit/s from 8 Mbit/s SD" "Mbit/s" "PSNR Y" "PSNR all"
for name in varlow ffmpeg; do
  read -r y all <<<"$(psnr "$tmp/$name.m2v")"
  label=$([ $name = varlow ] && echo "varlow transrate" || echo "ffmpeg re-encode")
  printf '%-28s %12s %10s %12s\n' "$label" "$(rate_of "$tmp/$name.m2v")" "$y" "$all"
done
printf '%-28s %12s\n' "input" "$(rate_of "$tmp/in.m2v")"
