#!/usr/bin/env bash
# Overview scan: speed against `cat FILE > /dev/null` from the page cache, and peak memory of
# `varlow-cli stats` on a file of 10 GiB.
#   bench/overview_scan.sh [BUILD_DIR] [ROUNDS]
# Speed: a 1 GiB file made of the third-party streams back to back is read once to warm the page
# cache, then cat and the scan run in turns; the best wall time of each counts (the machine may
# be busy with other work). Memory: the peak resident set of `stats` on a 10 GiB file made the
# from the project's own broadcast-rate test streams (8 to 20 Mbit/s: pictures of 40 to 100 kB),
# next to the peak of `stats` on a small file (what any run costs), under /usr/bin/time. The
# records take 24 bytes per picture, so a stream of small pictures needs more: the count of
# pictures is printed with the figure. The 10 GiB file is written to $TMPDIR.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
rounds=${2:-7}
cli=$build/cli/varlow-cli
streams=$top/../shared/streams
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unit=$work/unit.m2v
for _ in 1 2 3 4; do
  cat "$streams/cinecutie_test.m2v" "$streams/idet_interlaced_bff.m2v" "$streams/idet_soft_telecine.m2v" \
    "$streams/test_2.mpg" "$top/samples/sample.m2v"
done > "$unit"
repeat() {  # repeat FILE_OUT BYTES
  local out=$1 size=$2 unit_size
  unit_size=$(stat -c %s "$unit")
  : > "$out"
  for _ in $(seq 1 $(( (size + unit_size - 1) / unit_size ))); do cat "$unit"; done >> "$out"
  truncate -s "$size" "$out"
}

best() {  # best wall time in seconds of a command, over the rounds
  local best=999999 t
  for _ in $(seq 1 "$rounds"); do
    t=$( { /usr/bin/time -f %e "$@" > /dev/null 2>/dev/null; } 2>&1 | tail -1)
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best"
}

gib=$work/1GiB.m2v
repeat "$gib" $((1024 * 1024 * 1024))
cat "$gib" > /dev/null
cat_s=99999; scan_s=99999
for _ in $(seq 1 "$rounds"); do
  c=$( { /usr/bin/time -f %e cat "$gib" > /dev/null; } 2>&1 | tail -1)
  s=$( { /usr/bin/time -f %e "$cli" stats "$gib" > /dev/null; } 2>&1 | tail -1)
  cat_s=$(awk -v a="$cat_s" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
  scan_s=$(awk -v a="$scan_s" -v b="$s" 'BEGIN { print (b < a ? b : a) }')
done
pictures=$("$cli" stats "$gib" --json | awk -F': ' '/"total"/ { gsub(/[^0-9]/, "", $2); print $2; exit }')
awk -v c="$cat_s" -v s="$scan_s" -v p="$pictures" 'BEGIN {
  printf "speed, 1 GiB from the page cache (%d pictures), best of the rounds:\n", p
  printf "  cat > /dev/null   %6.3f s  %7.0f MiB/s\n", c, 1024 / c
  printf "  varlow-cli stats  %6.3f s  %7.0f MiB/s   %.0f%% of cat\n", s, 1024 / s, 100 * c / s }'
rm -f "$gib"

for _ in 1 2 3 4; do
  cat "$build/test-streams/i420_interlaced.m2v" "$build/test-streams/i422_interlaced.m2v" \
    "$build/test-streams/hd1080.m2v"
done > "$unit"
small=$work/small.m2v
repeat "$small" $((16 * 1024 * 1024))
big=$work/10GiB.m2v
repeat "$big" $((10 * 1024 * 1024 * 1024))
peak() { /usr/bin/time -f %M "$cli" stats "$1" 2>&1 >/dev/null | tail -1; }
small_kib=$(peak "$small")
big_kib=$(peak "$big")
big_pictures=$("$cli" stats "$big" --json | awk -F': ' '/"total"/ { gsub(/[^0-9]/, "", $2); print $2; exit }')
awk -v s="$small_kib" -v b="$big_kib" -v p="$big_pictures" 'BEGIN {
  printf "memory, peak resident set of varlow-cli stats:\n"
  printf "  16 MiB file   %8d KiB\n", s
  printf "  10 GiB file   %8d KiB  (%d pictures)   %.1f MiB more\n", b, p, (b - s) / 1024 }'
