#!/usr/bin/env bash
# Time from selecting a picture to having it ready to paint: a 1920x1080 B picture in the middle
# of a 15-picture group, fresh and (for the next picture of the group) from the cache, then the
# command-line tool writing the same picture as PNG with and without all overlay layers.
#   bench/picture_speed.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
stream=$tmp/gop15_1080.m2v
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 1.2 \
  -c:v mpeg2video -b:v 20M -maxrate 20M -bufsize 9781248 -g 15 -bf 2 -flags +ildct+ilme -top 1 \
  -f mpeg2video "$stream"
VARLOW_PICTURE_STREAM=$stream "$build/bench/picture_select" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

# The middle B picture's offset, as picture_select chooses it, for the command-line timings.
offset=$("$build/cli/varlow-cli" packs "$stream" --rows 20 | awk -F'\t' '
  /GROUP_START_CODE/ { g++ } g == 1 && /PICTURE_START_CODE/ { n++; off[n] = $1; type[n] = $4 }
  END { for (i = int(n / 2) + 1; i < n; i++) if (type[i] == "B") { print off[i]; exit } }')
for overlay in "" "--overlay types,quant,mv,slices"; do
  start=$(date +%s%N)
  # shellcheck disable=SC2086
  "$build/cli/varlow-cli" picture "$stream" --offset "$offset" --png "$tmp/out.png" $overlay 2>/dev/null
  end=$(date +%s%N)
  echo "varlow-cli picture ${overlay:-(no overlay)}: $(( (end - start) / 1000000 )) ms (process start and PNG writing included)"
done
