#!/usr/bin/env bash
# Overview scan: speed against `cat FILE > /dev/null` from the page cache, and peak memory of
# `varlow-cli stats` on files of 10 GiB.
#   bench/overview_scan.sh [BUILD_DIR] [ROUNDS]
# Speed: a 1 GiB file made of the third-party streams back to back is read once to warm the page
# cache, then cat and the scan run in turns; the best wall time of each counts (the machine may
# be busy with other work), with the processor time (user + system) of the scan's best round.
# Memory: see below.
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
cat_s=99999; scan_s=99999; scan_cpu=0
for _ in $(seq 1 "$rounds"); do
  c=$( { /usr/bin/time -f %e cat "$gib" > /dev/null; } 2>&1 | tail -1)
  read -r s u k < <( { /usr/bin/time -f "%e %U %S" "$cli" stats "$gib" > /dev/null; } 2>&1 | tail -1)
  cat_s=$(awk -v a="$cat_s" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
  if awk -v a="$scan_s" -v b="$s" 'BEGIN { exit !(b < a) }'; then scan_s=$s; scan_cpu=$(awk -v u="$u" -v k="$k" 'BEGIN { print u + k }'); fi
done
pictures=$("$cli" stats "$gib" --json | awk -F': ' '/"total"/ { gsub(/[^0-9]/, "", $2); print $2; exit }')
awk -v c="$cat_s" -v s="$scan_s" -v p="$pictures" -v cpu="$scan_cpu" 'BEGIN {
  printf "speed, 1 GiB from the page cache (%d pictures), best of the rounds:\n", p
  printf "  cat > /dev/null   %6.3f s  %7.0f MiB/s\n", c, 1024 / c
  printf "  varlow-cli stats  %6.3f s  %7.0f MiB/s   %.0f%% of cat   (processor %.2f s)\n", s, 1024 / s, 100 * c / s, cpu }'
rm -f "$gib"

# Memory: the peak resident set of `stats` on a small file (what any run costs) and on 10 GiB
# files: one of the third-party streams back to back (small pictures, about 2.6 million of
# them: the most records per byte) and one of the project's broadcast-rate test streams (8 to
# 20 Mbit/s: pictures of 40 to 100 kB). Each 10 GiB file is written to $TMPDIR and removed after.
peak() { /usr/bin/time -f %M "$cli" stats "$1" 2>&1 >/dev/null | tail -1; }
count() { "$cli" stats "$1" --json | awk -F': ' '/"total"/ { gsub(/[^0-9]/, "", $2); print $2; exit }'; }
small=$work/small.m2v
repeat "$small" $((16 * 1024 * 1024))
small_kib=$(peak "$small")
printf "memory, peak resident set of varlow-cli stats:\n"
printf "  16 MiB file                    %8d KiB  (%d pictures)\n" "$small_kib" "$(count "$small")"
big=$work/10GiB.m2v
measure_big() {  # measure_big LABEL
  local kib pictures
  repeat "$big" $((10 * 1024 * 1024 * 1024))
  kib=$(peak "$big")
  pictures=$(count "$big")
  rm -f "$big"
  awk -v l="$1" -v s="$small_kib" -v b="$kib" -v p="$pictures" 'BEGIN {
    printf "  10 GiB, %-22s %8d KiB  (%d pictures)   %.1f MiB more\n", l, b, p, (b - s) / 1024 }'
}
measure_big "third-party streams"
for _ in 1 2 3 4; do
  cat "$build/test-streams/i420_interlaced.m2v" "$build/test-streams/i422_interlaced.m2v" \
    "$build/test-streams/hd1080.m2v"
done > "$unit"
measure_big "broadcast-rate streams"
