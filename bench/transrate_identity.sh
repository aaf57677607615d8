#!/usr/bin/env bash
# Byte-for-byte identity of transrated output between two builds of varlow-cli: a speed change
# must not alter a single output byte. "save" runs a reference build over every stream and keeps
# its outputs and exit statuses; "check" runs another build the same way and compares.
#   bench/transrate_identity.sh save  VARLOW_CLI DIR
#   bench/transrate_identity.sh check VARLOW_CLI DIR
# Streams: build/test-streams, samples/, build/bench-streams (made by transrate_vs_peer.sh) and
# the clean third-party streams (not damaged/ or negative/). Each runs with --method requant and
# --method cut at 1.5 Mbit/s and at 40% and 60% of its own rate (size * 8 * fps / pictures; the
# rates are fixed at "save" time so both runs use the same numbers).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:?usage: transrate_identity.sh save|check VARLOW_CLI DIR}
cli=${2:?missing VARLOW_CLI}
dir=${3:?missing DIR}
shared=${VARLOW_SHARED_STREAMS:-/work/shared/streams}
[ -x "$cli" ] || { echo "no varlow-cli at $cli" >&2; exit 2; }
"$top/scripts/make_test_streams.sh" "$top/build/test-streams" >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

streams=("$top"/build/test-streams/*.m[12]v "$top"/samples/*.m2v "$top"/build/bench-streams/*.m[12]v
  "$shared"/*.m[12]v "$shared"/*.mpg)
own_rate() {  # file -> bit/s from its size, picture count and frame rate
  local fps pictures
  fps=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of default=nw=1:nk=1 "$1" | head -1)
  pictures=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of default=nw=1:nk=1 "$1" | head -1)
  awk -v s="$(stat -c %s "$1")" -v f="$fps" -v n="$pictures" \
    'BEGIN{split(f, q, "/"); printf "%.0f", s * 8 * q[1] / q[2] / n}'
}

case $mode in
  save)
    mkdir -p "$dir"
    : >"$dir/rates"
    for input in "${streams[@]}"; do
      [ -s "$input" ] || continue
      rate=$(own_rate "$input")
      for r in 1500000 $((rate * 40 / 100)) $((rate * 60 / 100)); do echo "$input $r" >>"$dir/rates"; done
    done
    ;;
  check) [ -s "$dir/rates" ] || { echo "no saved outputs in $dir" >&2; exit 2; } ;;
  *) echo "usage: transrate_identity.sh save|check VARLOW_CLI DIR" >&2; exit 2 ;;
esac

runs=0 differ=0
while read -r input rate; do
  for method in requant cut; do
    key=$(basename "$input").$rate.$method
    status=0
    "$cli" transrate "$input" "$tmp/out" --bitrate "$rate" --method "$method" >/dev/null 2>&1 || status=$?
    [ -f "$tmp/out" ] || : >"$tmp/out"
    runs=$((runs + 1))
    if [ "$mode" = save ]; then
      mv "$tmp/out" "$dir/$key.out"
      echo "$status" >"$dir/$key.status"
    elif [ "$status" != "$(cat "$dir/$key.status")" ] || ! cmp -s "$tmp/out" "$dir/$key.out"; then
      differ=$((differ + 1))
      echo "DIFFERS: $key (exit $status, saved $(cat "$dir/$key.status")): $(cmp "$tmp/out" "$dir/$key.out" 2>&1 | head -1)"
    fi
    rm -f "$tmp/out"
  done
done <"$dir/rates"
if [ "$mode" = save ]; then
  echo "saved $runs outputs in $dir"
else
  echo "$runs outputs compared, $differ differ"
  [ "$differ" = 0 ]
fi
