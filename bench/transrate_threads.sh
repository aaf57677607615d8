#!/usr/bin/env bash
# Transrating on several threads. For every bench stream (8 copies in a row, so that a run lasts
# long enough to time) and a 4:2:2 and an HD stream made here, at 60% of its own rate by the
# default method: wall time with 1 and 2 threads (best of 3), whether 1, 2, 3 and 8 threads gave
# the same bytes, M2VRequantiser's wall time at the same size and ffmpeg's single-threaded
# decode. From the run itself (varlow-cli --verbose) the CPU time of the groups' plans, which
# follow one another, against the run's whole CPU time: the serial share, from which 4, 8 and 16
# cores are projected (a run takes at least the plans' time, and at least its CPU time over the
# cores).
#   bench/transrate_threads.sh [VARLOW_CLI]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$top/build/cli/varlow-cli}
made=$top/build/bench-streams
[ -x "$cli" ] || { echo "no varlow-cli at $cli" >&2; exit 2; }
ls "$made"/sd_texture.m2v >/dev/null 2>&1 || { echo "run bench/transrate_vs_peer.sh once to make $made" >&2; exit 2; }
have_peer=0
command -v M2VRequantiser >/dev/null && have_peer=1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Wall seconds of a run, best of 3; the last run's CPU seconds in t_cpu.
wall_best_of_3() {
  local best=
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %U %S" -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err" || true
    read -r w u s <"$tmp/time"
    t_cpu=$(awk -v u="$u" -v s="$s" 'BEGIN{print u + s}')
    if [ -z "$best" ] || awk -v a="$w" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$w; fi
  done
  echo "$best" >"$tmp/best"
}
size_of() { stat -c %s "$1"; }
own_rate() {  # file -> bit/s from its size, picture count and frame rate
  local fps pictures
  fps=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of default=nw=1:nk=1 "$1" | head -1)
  pictures=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of default=nw=1:nk=1 "$1" | head -1)
  awk -v s="$(size_of "$1")" -v f="$fps" -v n="$pictures" 'BEGIN{split(f, q, "/"); printf "%.0f", s * 8 * q[1] / q[2] / n}'
}

streams=()
for name in sd_texture sd_tools sd_kvcd sd_dualprime sd_longp; do
  [ -f "$made/$name.m2v" ] || continue
  for _ in 1 2 3 4 5 6 7 8; do cat "$made/$name.m2v"; done >"$tmp/$name.m2v"
  streams+=("$tmp/$name.m2v")
done
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=12:allf=t" \
  -t 16 -pix_fmt yuv422p -c:v mpeg2video -b:v 15M -maxrate 15M -bufsize 9781248 -g 12 -bf 2 \
  -flags +ildct+ilme -top 1 -f mpeg2video "$tmp/sd_422.m2v"
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25,noise=alls=12:allf=t" \
  -t 8 -c:v mpeg2video -b:v 20M -maxrate 20M -bufsize 9781248 -g 12 -bf 2 -flags +ildct+ilme -top 1 \
  -f mpeg2video "$tmp/hd.m2v"
streams+=("$tmp/sd_422.m2v" "$tmp/hd.m2v")

printf '%-16s %7s %7s %7s %6s %7s %7s %7s %7s %6s %6s %6s %s\n' stream "MB" "1 thr s" "2 thr s" "x" \
  "peer s" "2thr/pr" "dec x" "serial" "4 x" "8 x" "16 x" "same bytes"
for f in "${streams[@]}"; do
  name=$(basename "$f" .m2v)
  rate=$(awk -v r="$(own_rate "$f")" 'BEGIN{printf "%.0f", r * 0.6}')
  mb=$(awk -v s="$(size_of "$f")" 'BEGIN{printf "%.1f", s / 1e6}')
  wall_best_of_3 "$cli" --verbose transrate "$f" "$tmp/o1.m2v" --bitrate "$rate" --threads 1
  t1=$(cat "$tmp/best")
  cpu1=$t_cpu
  plans=$(sed -n "s/.*of their plans \([0-9.]*\).*/\1/p" "$tmp/err" | tail -1)
  wall_best_of_3 "$cli" transrate "$f" "$tmp/o2.m2v" --bitrate "$rate" --threads 2
  t2=$(cat "$tmp/best")
  same=yes
  cmp -s "$tmp/o1.m2v" "$tmp/o2.m2v" || same=no
  for n in 3 8; do
    "$cli" transrate "$f" "$tmp/on.m2v" --bitrate "$rate" --threads "$n" >/dev/null 2>&1 || true
    cmp -s "$tmp/o1.m2v" "$tmp/on.m2v" || same=no
  done
  peer=n/a
  vs_peer=n/a
  if [ $have_peer = 1 ]; then
    factor=$(awk -v a="$(size_of "$f")" -v b="$(size_of "$tmp/o1.m2v")" 'BEGIN{printf "%.5f", a / b}')
    wall_best_of_3 sh -c "M2VRequantiser $factor $(size_of "$f") <'$f' >'$tmp/peer.m2v'"
    peer=$(cat "$tmp/best")
    vs_peer=$(awk -v a="$t2" -v b="$peer" 'BEGIN{printf "%.2f", a / b}')
  fi
  wall_best_of_3 ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i "$f" -f null -
  decode=$(cat "$tmp/best")
  awk -v n="$name" -v mb="$mb" -v t1="$t1" -v t2="$t2" -v peer="$peer" -v vp="$vs_peer" -v dec="$decode" \
    -v cpu="$cpu1" -v plans="${plans:-0}" -v same="$same" 'BEGIN{
      if (t2 < 0.01) t2 = 0.01
      serial = cpu > 0 ? plans / cpu : 0
      printf "%-16s %7s %7.2f %7.2f %6.2f %7s %7s %7.2f %6.0f%%", n, mb, t1, t2, t1 / t2, peer, vp, dec / t2, serial * 100
      split("4 8 16", k, " ")
      for (i = 1; i <= 3; ++i) { tn = plans > cpu / k[i] ? plans : cpu / k[i]; printf " %6.2f", t1 / (tn > 0 ? tn : 1) }
      printf " %s\n", same
    }'
done
echo
echo "x: 1-thread over 2-thread wall time (target >= 1.8); 2thr/pr: 2-thread wall time over M2VRequantiser's"
echo "(target <= 1); dec x: speed over ffmpeg's single-threaded decode with 2 threads (target >= 3);"
echo "serial: CPU share of the groups' plans, which run one after another; 4/8/16 x: projected speed-up"
echo "over 1 thread, max(plans, CPU / cores)."
