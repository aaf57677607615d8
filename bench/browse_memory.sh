#!/usr/bin/env bash
# Peak memory of browsing: `varlow-cli packs` at several offsets of a 5 GiB sparse file and of a
# 5 MB file, each under /usr/bin/time -v. The index window and its buffers are fixed, so the peak
# must not grow with the file size.
#   bench/browse_memory.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
cli=$build/cli/varlow-cli
sample=$top/samples/sample.m2v
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

big=$work/sparse-5GiB.m2v
small=$work/small-5MB.m2v
size=$((5 * 1024 * 1024 * 1024))
sample_size=$(stat -c %s "$sample")
# Sparse: the sample at the start, in the middle and at the end of 5 GiB.
dd if="$sample" of="$big" bs=1M conv=notrunc status=none
dd if="$sample" of="$big" bs=1 seek=$((size / 2)) conv=notrunc status=none
truncate -s $((size - sample_size)) "$big"
cat "$sample" >> "$big"
# 5 MB: the sample repeated.
for _ in $(seq 1 8); do cat "$sample"; done > "$small"
truncate -s 5000000 "$small"

peak() {  # prints the peak resident set in KiB of one run
  /usr/bin/time -v "$cli" packs "$1" --from "$2" --rows 256 2>&1 >/dev/null | awk -F: '/Maximum resident/ {gsub(/ /, "", $2); print $2}'
}

printf '%-14s %14s %12s\n' file from peak_KiB
for from in 0 $((size / 2)) $((size / 2 + 300000)) $((size - sample_size)); do
  printf '%-14s %14s %12s\n' sparse-5GiB "$from" "$(peak "$big" "$from")"
done
for from in 0 2500000 4900000; do
  printf '%-14s %14s %12s\n' small-5MB "$from" "$(peak "$small" "$from")"
done
