#!/usr/bin/env bash
# Browsing a transport stream of over 4 GiB: time to the first page, jump times, peak memory, and
# the overview scan's speed beside `cat FILE > /dev/null` from the page cache.
#   bench/container_browse.sh [BUILD_DIR] [ROUNDS]
# The file is the third-party transport stream back to back (about 4.3 GB), written to $TMPDIR
# and removed at the end. Times are the best wall time over the rounds (the machine may be busy).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
rounds=${2:-5}
cli=$build/cli/varlow-cli
unit=$top/../shared/streams/containers/bt601-525_480_interlaced_bff.ts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

big=$work/big.ts
copies=$(( (4 * 1024 * 1024 * 1024) / $(stat -c %s "$unit") + 50 ))
for _ in $(seq 1 "$copies"); do cat "$unit"; done > "$big"
size=$(stat -c %s "$big")
cat "$big" > /dev/null

best() {  # best wall time in seconds of a command, over the rounds
  local best=999999 t
  for _ in $(seq 1 "$rounds"); do
    /usr/bin/time -o "$work/time" -f %e "$@" > /dev/null 2>&1
    t=$(tail -1 "$work/time")
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best"
}
peak() {  # peak resident memory in MiB of one run
  /usr/bin/time -o "$work/time" -f %M "$@" > /dev/null 2>&1
  tail -1 "$work/time" | awk '{ printf "%.1f", $1 / 1024 }'
}
precise() {  # wall time in milliseconds of one command, best of the rounds
  local best=999999 t s e
  for _ in $(seq 1 "$rounds"); do
    s=$(date +%s%N); "$@" > /dev/null 2>&1; e=$(date +%s%N)
    t=$(( (e - s) / 1000000 ))
    [ "$t" -lt "$best" ] && best=$t
  done
  echo "$best"
}

echo "file: $size bytes of transport stream ($copies copies of $(basename "$unit"))"
printf '%-34s %10s %10s\n' "what" "time" "peak MiB"
printf '%-34s %8s ms %10s\n' "first page (packs, 40 rows)" "$(precise "$cli" packs "$big" --rows 40)" "$(peak "$cli" packs "$big" --rows 40)"
for at in $(( size / 2 )) $(( size - 1048576 )); do
  printf '%-34s %8s ms %10s\n' "jump: packs --from $at" "$(precise "$cli" packs "$big" --from "$at" --rows 40)" \
    "$(peak "$cli" packs "$big" --from "$at" --rows 40)"
done
printf '%-34s %8s ms %10s\n' "headers of a unit at the end" \
  "$(precise "$cli" headers "$big" --offset "$("$cli" packs "$big" --from $(( size - 1048576 )) --rows 1 --json | sed -n 's/.*"offset":\([0-9]*\).*/\1/p')")" "-"
cat_time=$(best cat "$big")
scan_time=$(best "$cli" stats "$big")
printf '%-34s %8s s\n' "cat FILE > /dev/null" "$cat_time"
printf '%-34s %8s s %10s\n' "stats (whole-file scan)" "$scan_time" "$(peak "$cli" stats "$big")"
awk -v c="$cat_time" -v s="$scan_time" -v n="$size" \
  'BEGIN { printf "scan speed: %.0f MB/s, %.2f of cat'"'"'s (%.0f MB/s)\n", n / s / 1e6, c / s, n / c / 1e6 }'
