#!/usr/bin/env bash
# Throughput of single-threaded transrating beside ffmpeg's single-threaded decode of the same
# streams, in MB/s of input, and peak memory of transrating a 20 MB and a 2 GB stream.
#   bench/transrate_speed.sh [VARLOW_CLI] [--no-memory]
# Streams are made with ffmpeg into a temporary folder that is removed at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$top/build/cli/varlow-cli}
memory=1
[ "${2:-}" = "--no-memory" ] && memory=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

make_stream() {  # name size rate seconds
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=$2:rate=25,noise=alls=12:allf=t" \
    -t "$4" -c:v mpeg2video -b:v "$3" -maxrate "$3" -bufsize 9781248 -g 12 -bf 2 \
    -flags +ildct+ilme -top 1 -f mpeg2video "$tmp/$1"
}
# CPU seconds (user + system): both sides run single-threaded, and the machine may be shared.
seconds() { /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1 | awk '{print $1 + $2}'; }
best_of_3() {
  local best=
  for _ in 1 2 3; do
    local t
    t=$(seconds "$@")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}

make_stream sd.m2v 720x576 8M 20
make_stream hd.m2v 1920x1080 20M 8

printf '%-22s %10s %14s %14s %8s\n' stream "size (MB)" "transrate MB/s" "ffmpeg MB/s" ratio
for job in "sd.m2v 4000000" "hd.m2v 10000000"; do
  set -- $job
  f=$tmp/$1
  mb=$(awk "BEGIN{print $(stat -c %s "$f") / 1e6}")
  t1=$(best_of_3 "$cli" transrate "$f" "$tmp/out.m2v" --bitrate "$2")
  t2=$(best_of_3 ffmpeg -nostdin -threads 1 -i "$f" -f null -)
  awk -v n="$1 -> $2" -v mb="$mb" -v a="$t1" -v b="$t2" \
    'BEGIN{printf "%-22s %10.1f %14.1f %14.1f %7.1fx\n", n, mb, mb/a, mb/b, (mb/a)/(mb/b)}'
done

if [ "$memory" = 1 ]; then
  # Peak memory: the SD stream repeated to about 20 MB and to about 2 GB.
  small=$tmp/small.m2v
  big=$tmp/big.m2v
  : >"$small"
  while [ "$(stat -c %s "$small")" -lt 20000000 ]; do cat "$tmp/sd.m2v" >>"$small"; done
  : >"$big"
  while [ "$(stat -c %s "$big")" -lt 2000000000 ]; do cat "$small" >>"$big"; done
  for f in "$small" "$big"; do
    rss=$(/usr/bin/time -f %M "$cli" transrate "$f" "$tmp/out.m2v" --bitrate 4000000 2>&1 >/dev/null | tail -1)
    printf 'peak memory transrating %6.0f MB: %6.1f MB\n' "$(awk "BEGIN{print $(stat -c %s "$f")/1e6}")" \
      "$(awk "BEGIN{print $rss/1024}")"
  done
fi
