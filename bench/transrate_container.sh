#!/usr/bin/env bash
# Transrating inside transport streams: per test container, input and output sizes, the video's
# rate before and after, and the time beside the elementary-stream transrate of the same video
# (what the container work adds), at 60% of each stream's video rate.
#   bench/transrate_container.sh [BUILD_DIR] [ROUNDS]
# The containers are the project's test streams wrapped by scripts/make_test_streams.sh (in
# BUILD_DIR/test-streams) and the two third-party transport streams. Times are the best of the
# rounds, in processor seconds (user + system).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
rounds=${2:-5}
cli=$build/cli/varlow-cli
own=$build/test-streams
shared=$top/../shared/streams
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() {  # best processor time of a command over the rounds
  local best=999999 t
  for _ in $(seq 1 "$rounds"); do
    /usr/bin/time -o "$work/time" -f '%U %S' "$@" > /dev/null 2>&1
    t=$(awk '{ print $1 + $2 }' "$work/time")
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best"
}
seconds() {  # playing time of an elementary stream
  "$cli" stats "$1" --json | sed -n 's/.*"duration_s": *\([0-9.]*\).*/\1/p' | head -1
}

# A longer input, where the times are more than the timer's resolution: the interlaced stream eight
# times over, in both forms.
for _ in 1 2 3 4 5 6 7 8; do cat "$shared/containers/bt601-525_480_interlaced_bff.ts"; done > "$work/bff_x8.ts"
for _ in 1 2 3 4 5 6 7 8; do cat "$shared/idet_interlaced_bff.m2v"; done > "$work/bff_x8.m2v"

printf '%-34s %10s %10s %9s %9s %8s %8s %7s\n' container "in bytes" "out bytes" "video in" "video out" "es s" "ts s" "added"
pairs=(
  "$own/i420_interlaced.ts:$own/i420_interlaced.m2v"
  "$own/i422_interlaced.m2ts:$own/i422_interlaced.m2v"
  "$own/p420_tools.ts:$own/p420_tools.m2v"
  "$own/hd1080.ts:$own/hd1080.m2v"
  "$shared/containers/bt601-525_480_interlaced_bff.ts:$shared/idet_interlaced_bff.m2v"
  "$shared/containers/bt601-525_480_telecined_soft.ts:$shared/idet_soft_telecine.m2v"
  "$work/bff_x8.ts:$work/bff_x8.m2v"
)
for pair in "${pairs[@]}"; do
  ts=${pair%%:*}
  es=${pair##*:}
  [ -f "$ts" ] && [ -f "$es" ] || continue
  duration=$(seconds "$es")
  rate=$(awk -v b="$(stat -c %s "$es")" -v s="$duration" 'BEGIN { printf "%d", b * 8 / s }')
  target=$(awk -v r="$rate" 'BEGIN { t = int(r * 0.6); if (t < 1500000) t = 1500000; print t }')
  "$cli" transrate "$ts" "$work/out.ts" --bitrate "$target" > /dev/null 2>&1
  "$cli" transrate "$es" "$work/out.m2v" --bitrate "$target" > /dev/null 2>&1
  es_time=$(best "$cli" transrate "$es" "$work/out.m2v" --bitrate "$target")
  ts_time=$(best "$cli" transrate "$ts" "$work/out.ts" --bitrate "$target")
  video_out=$(awk -v b="$(stat -c %s "$work/out.m2v")" -v s="$duration" 'BEGIN { printf "%d", b * 8 / s }')
  added=$(awk -v a="$es_time" -v b="$ts_time" 'BEGIN { if (a > 0) printf "%+.0f%%", (b - a) / a * 100; else print "-" }')
  printf '%-34s %10d %10d %9s %9s %8s %8s %7s\n' "$(basename "$ts")" "$(stat -c %s "$ts")" "$(stat -c %s "$work/out.ts")" \
    "$rate" "$video_out" "$es_time" "$ts_time" "$added"
done
echo "(video in / out: bit/s of the video elementary stream; target 60% of its rate, at least 1500000)"
