#!/usr/bin/env bash
# Transrating beside its peers: for each test stream at 60% and 40% of its rate, output size,
# PSNR-Y against the decoded input and time of
#   varlow requant   varlow-cli transrate --method requant
#   varlow cut       varlow-cli transrate --method cut
#   M2VRequantiser   at the size varlow requant reached (factor = input size / that size)
#   ffmpeg           a single-threaded decode + mpeg2video re-encode at varlow requant's rate
# then the figures the targets are stated in (dB over M2VRequantiser and over the cut, dB under
# the re-encode, speed ratios from CPU time), and varlow's peak memory on a 32 MB and a 500 MB
# input (--2g: 2 GB, the size the memory target names; --no-memory: neither).
#   bench/transrate_vs_peer.sh [VARLOW_CLI] [--no-memory | --2g] [--careful]
# Every tool's row also gives the worst picture's PSNR-Y and the standard deviation over the
# pictures (how much quality breathes with the groups). --careful adds, on the 720x576 streams
# at 60%, a careful re-encode: ffmpeg with trellis quantisation, rate-distortion macroblock
# decisions and comparisons, the input's group length, its PSNR-Y interpolated to varlow's size
# between the two constant quantisers that bracket it.
# Streams: the project's test streams (build/test-streams), three 720x576 streams with
# texture and motion made here once into build/bench-streams, and the third-party streams of
# ../shared/streams. A command that does not know
# --method runs its default in the requant column; the cut column then reads n/a.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cli=$top/build/cli/varlow-cli
memory=500000000
careful=0
for arg in "$@"; do
  case $arg in
    --no-memory) memory=0 ;;
    --careful) careful=1 ;;
    --2g) memory=2000000000 ;;
    *) cli=$arg ;;
  esac
done
[ -x "$cli" ] || { echo "no varlow-cli at $cli (build it, or pass its path)" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
own=$top/build/test-streams
made=$top/build/bench-streams
"$top/scripts/make_test_streams.sh" "$own"
mkdir -p "$made"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# A still texture (ripples, rings, grain, slow colour) panned at 50 frames/s under a moving
# test card, woven into 25 interlaced frames/s: detail everywhere and real motion between fields.
texture_source() {  # seconds
  local still="color=c=gray:s=1600x1200:d=1:r=1,format=yuv420p,geq=lum='128+45*sin(X/11+3*sin(Y/37))*cos(Y/13+2*sin(X/53))+25*sin(hypot(X-800,Y-600)/4)':cb='128+40*sin(X/90+Y/70)':cr='128+40*cos(Y/60-X/110)',noise=alls=40:allf=u,gblur=sigma=0.8"
  echo -f lavfi -i "$still" -f lavfi -i "testsrc2=size=360x288:rate=50" -filter_complex \
    "[0:v]loop=loop=-1:size=1,fps=50,crop=720:576:x='400+300*sin(t*0.9)':y='150+70*t'[bg];[bg][1:v]overlay=x='30+90*t':y='200+120*sin(t*2)':shortest=1,interlace=scan=tff,setsar=16/15" \
    -t "$1"
}
make_bench_stream() {  # name seconds encoder options...
  local out=$made/$1 seconds=$2
  shift 2
  [ -s "$out" ] && return 0
  # shellcheck disable=SC2046
  ff $(texture_source "$seconds") "$@" "$out.tmp" && mv "$out.tmp" "$out"
}
# The issue's kind of stream: 4:2:0 interlaced, linear quantiser, about 8 Mbit/s.
make_bench_stream sd_texture.m2v 4 -c:v mpeg2video -b:v 8M -maxrate 8M -bufsize 1835008 -g 12 -bf 2 \
  -flags +ildct+ilme -top 1 -f mpeg2video
# Non-linear quantiser, intra VLC table 1 and alternate scan at the same rate.
make_bench_stream sd_tools.m2v 2 -c:v mpeg2video -b:v 8M -maxrate 8M -bufsize 1835008 -g 12 -bf 2 \
  -flags +ildct+ilme -top 1 -intra_vlc 1 -alternate_scan 1 -non_linear_quant 1 -qmax 28 -f mpeg2video
# MPEG-1 at a rate whose 40% the command accepts.
make_bench_stream sd_mpeg1.m1v 2 -c:v mpeg1video -b:v 6M -maxrate 6M -bufsize 1835008 -g 12 -bf 2 -f mpeg1video
# mjpegtools' mpeg2enc (when installed) on the same source: KVCD quantiser matrices, dual-prime
# P-only groups, and 45-picture P-only groups at about 2.5 Mbit/s.
make_mpeg2enc_stream() {  # name seconds mpeg2enc options...
  local out=$made/$1 seconds=$2
  shift 2
  [ -s "$out" ] && return 0
  command -v mpeg2enc >/dev/null || return 0
  # shellcheck disable=SC2046
  ffmpeg -nostdin -hide_banner -loglevel error $(texture_source "$seconds") -pix_fmt yuv420p -f yuv4mpegpipe - |
    mpeg2enc -v 0 -f 3 -a 2 "$@" -o "$out.tmp" && mv "$out.tmp" "$out"
}
make_mpeg2enc_stream sd_kvcd.m2v 4 -b 6000 -I 1 -K kvcd -g 12 -G 12
make_mpeg2enc_stream sd_dualprime.m2v 4 -b 8000 -I 1 -R 0 --dualprime-mpeg2 -g 12 -G 12
make_mpeg2enc_stream sd_longp.m2v 9 -b 2500 -I 1 -R 0 -g 45 -G 45

# --- measuring ---
probe() {  # file key [ffprobe options]: one value of the first video stream
  ffprobe -v error "${@:3}" -select_streams v:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1" | head -1
}
fps_of() { awk -F/ '{printf "%.6f", $1 / $2}' <<<"$(probe "$1" r_frame_rate)"; }
size_of() { stat -c %s "$1"; }
kb() { awk -v b="$1" 'BEGIN{printf "%.0f", b / 1000}'; }
# Runs a command with /usr/bin/time; sets t_wall, t_cpu (user + system) and t_peak (KiB).
timed() {
  local status=0
  /usr/bin/time -f "%e %U %S %M" -o "$tmp/time" "$@" || status=$?
  read -r t_wall user sys t_peak <"$tmp/time"
  t_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u + s}')
  return $status
}
# The decoded luma of FILE into OUT, one picture after another: every decoded picture once,
# none repeated or dropped for timing. What the decoder reports goes to $tmp/decode.log.
decode_luma() {
  ffmpeg -nostdin -v error -y -i "$1" -fps_mode passthrough -vf extractplanes=y -f rawvideo -pix_fmt gray "$2" \
    2>"$tmp/decode.log" || true
}
# PSNR-Y of decoded FILE against the input's decoded luma ($tmp/in.y), picture n against
# picture n, the number of pictures decoded and the number of lines ffmpeg reported as errors;
# level_y then gives the worst picture's PSNR-Y and the standard deviation over the pictures
# (a picture equal to its input counts as 60 dB).
psnr_y() {  # file -> "psnr pictures errors"
  decode_luma "$1" "$tmp/out.y"
  local pictures=$(($(size_of "$tmp/out.y") / (width * height))) errors
  errors=$(wc -l <"$tmp/decode.log")
  ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt gray -s "${width}x$height" -r 25 -i "$tmp/out.y" \
    -f rawvideo -pix_fmt gray -s "${width}x$height" -r 25 -i "$tmp/in.y" \
    -lavfi "[0:v][1:v]psnr=shortest=1:stats_file=$tmp/pictures.log" \
    -f null - 2>&1 | awk -v n="$pictures" -v e="$errors" '/Parsed_psnr/ && / PSNR y:/ {sub(/.* PSNR y:/, ""); y = $1}
      END {printf "%s %d %d\n", (y == "" ? "?" : (y == "inf" ? y : sprintf("%.2f", y))), n, e}'
}
level_y() {  # -> "worst sd" of the last psnr_y
  # The field is made a number before it is compared: a string compared with 0.00001 would be
  # compared as text ("19.8" < "1e-05").
  awk '{for (i = 1; i <= NF; i++) if ($i ~ /^mse_y:/) {m = substr($i, 7) + 0; p = m > 0.00001 ? 10 * log(65025 / m) / log(10) : 60;
      if (p > 60) p = 60; s += p; ss += p * p; n++; if (n == 1 || p < w) w = p}}
      END {if (n == 0) print "? ?"; else {v = ss / n - (s / n) ^ 2; printf "%.2f %.2f\n", w, sqrt(v > 0 ? v : 0)}}' "$tmp/pictures.log"
}
# Notes on a decoded output: its picture count when it differs from the input's, its errors.
decode_notes() {  # pictures errors
  local note=""
  [ "$1" = "$in_frames" ] || note="; $1 of $in_frames pictures!"
  [ "$2" = 0 ] || note="$note; $2 decoder errors"
  echo "$note"
}

# Does the command know --method? (It refuses an unknown option with a usage message.)
methods=0
if "$cli" transrate "$own/p420_plain.m2v" "$tmp/probe.m2v" --bitrate 1500000 --method cut >/dev/null 2>&1; then
  methods=1
fi
method_option() {  # method -> the command's options for it
  [ $methods = 1 ] && echo "--method $1"
  return 0
}
have_peer=0
command -v M2VRequantiser >/dev/null && have_peer=1

# The third-party streams at their own rates; a program stream's video is taken out first, for
# the tools that read only elementary streams.
shared=$top/../shared/streams
third=()
for f in cinecutie_test.m2v idet_interlaced_bff.m2v idet_soft_telecine.m2v gen2brain_test.m1v test_2.mpg; do
  [ -f "$shared/$f" ] || continue
  case $f in
    *.mpg)
      es=$made/${f%.mpg}.m2v
      [ -s "$es" ] || ff -i "$shared/$f" -map 0:v:0 -c copy -f mpeg2video "$es"
      third+=("$es") ;;
    *) third+=("$shared/$f") ;;
  esac
done

declare -A size=() psnr=()
streams=("$own"/*.m2v "$own"/*.m1v "$made/sd_texture.m2v" "$made/sd_tools.m2v" "$made/sd_mpeg1.m1v")
for f in sd_kvcd.m2v sd_dualprime.m2v sd_longp.m2v; do [ -s "$made/$f" ] && streams+=("$made/$f"); done
streams+=("${third[@]}")
summary=$tmp/summary
: >"$summary"
# PSNR difference of two tools of the current row; n/a where one did not run.
gap() { [ -n "${psnr[$1]:-}" ] && [ -n "${psnr[$2]:-}" ] && awk -v a="${psnr[$1]}" -v b="${psnr[$2]}" \
  'BEGIN{if (a == "inf") a = 99; if (b == "inf") b = 99; printf "%+.2f", a - b}' || echo n/a; }
row() { printf '  %-16s %9s %10s %8s %8s  %s\n' "$@"; }
declare -A worst=() spread=()
# Keeps the last psnr_y's level figures for tool $1, and their text in level_text.
level_note() {
  read -r w d < <(level_y)
  worst[$1]=$w spread[$1]=$d
  level_text="worst $w, sd $d"
}
within() { awk -v g="$1" -v t="$2" -v p="$3" 'BEGIN{exit !(g > t * (1 - p / 100) && g < t * (1 + p / 100))}'; }

echo "varlow-cli: $cli ($([ $methods = 1 ] && echo "--method requant|cut" || echo "no --method: its default only"))"
for input in "${streams[@]}"; do
  name=$(basename "$input")
  in_size=$(size_of "$input")
  codec=$(probe "$input" codec_name) width=$(probe "$input" width) height=$(probe "$input" height)
  pix_fmt=$(probe "$input" pix_fmt) field_order=$(probe "$input" field_order)
  decode_luma "$input" "$tmp/in.y"
  in_frames=$(($(size_of "$tmp/in.y") / (width * height)))
  fps=$(fps_of "$input")
  # Playing time as the stream times its pictures (repeated fields included: a soft-telecine
  # stream's nominal frame rate would make it a fifth shorter), else pictures over frame rate.
  seconds=$("$cli" stats "$input" --json 2>/dev/null | sed -n 's/.*"duration_s": *\([0-9.]*\).*/\1/p' | head -1)
  [ -n "$seconds" ] || seconds=$(awk -v n="$in_frames" -v f="$fps" 'BEGIN{print n / f}')
  in_rate=$(awk -v s="$in_size" -v t="$seconds" 'BEGIN{printf "%.0f", s * 8 / t}')
  for percent in 60 40; do
    rate=$(awk -v r="$in_rate" -v p="$percent" 'BEGIN{printf "%.0f", r * p / 100}')
    printf '\n%s  %sx%s %s %s, %d pictures, %.2f Mbit/s -> %d%% = %.2f Mbit/s\n' "$name" "$width" "$height" \
      "$codec" "$pix_fmt" "$in_frames" "$(awk "BEGIN{print $in_rate / 1e6}")" "$percent" \
      "$(awk "BEGIN{print $rate / 1e6}")"
    if [ "$rate" -lt 100000 ]; then
      echo "  below the command's 100 kbit/s floor: not run"
      continue
    fi
    row tool "size kB" "PSNR-Y dB" "wall s" "cpu s" "notes"
    size=() psnr=() worst=() spread=()

    for method in requant cut; do
      out=$tmp/$method.m2v
      if [ $methods = 0 ] && [ $method = cut ]; then
        row "varlow cut" n/a n/a n/a n/a "the command has no --method"
        continue
      fi
      note=""
      # shellcheck disable=SC2046
      timed "$cli" transrate "$input" "$out" --bitrate "$rate" $(method_option $method) 2>/dev/null ||
        note="exit status $?"
      read -r y n e < <(psnr_y "$out")
      level_note "$method"
      note="$note; $level_text$(decode_notes "$n" "$e")"
      [ "$(size_of "$out")" -ge $((in_size * 97 / 100)) ] && note="$note; leaves the stream as it is"
      size[$method]=$(size_of "$out") psnr[$method]=$y
      label="varlow $method"
      [ $methods = 0 ] && label="varlow default"
      row "$label" "$(kb "${size[$method]}")" "$y" "$t_wall" "$t_cpu" "${note#; }"
    done
    target=${size[requant]}

    # M2VRequantiser at varlow's size: the factor is corrected from the size it reached.
    passes=0
    if [ $have_peer = 1 ]; then
      factor=$(awk -v a="$in_size" -v b="$target" 'BEGIN{printf "%.5f", a / b}')
      for _ in 1 2 3 4; do
        timed M2VRequantiser "$factor" "$in_size" <"$input" >"$tmp/peer.m2v" 2>/dev/null || true
        got=$(size_of "$tmp/peer.m2v")
        within "$got" "$target" 1 && break
        [ "$got" -ge $((in_size * 97 / 100)) ] && break  # it leaves this stream as it is
        factor=$(awk -v f="$factor" -v g="$got" -v t="$target" 'BEGIN{printf "%.5f", f * g / t}')
      done
      note="factor $factor"
      if [ "$got" -ge $((in_size * 97 / 100)) ]; then
        passes=1
        note="$note; passes the stream through$(cmp -s "$input" "$tmp/peer.m2v" && echo " unchanged" || true)"
      fi
      read -r y n e < <(psnr_y "$tmp/peer.m2v")
      level_note peer
      note="$note; $level_text"
      size[peer]=$got psnr[peer]=$y
      row M2VRequantiser "$(kb "$got")" "$y" "$t_wall" "$t_cpu" "$note$(decode_notes "$n" "$e")"
      [ $passes = 0 ] && echo "$name $percent $factor" >>"$tmp/factors"
    else
      row M2VRequantiser n/a n/a n/a n/a "not installed (Debian package m2vrequantiser)"
    fi

    # ffmpeg re-encode at varlow's size: same picture format, interlacing and codec, the rate
    # corrected from the size it reached. On a stream of a few pictures its rate control cannot
    # land; a constant quantiser, the one that comes closest to the size, stands in for it there.
    enc=(-c:v mpeg2video -f mpeg2video)
    [ "$codec" = mpeg1video ] && enc=(-c:v mpeg1video -f mpeg1video)
    case $field_order in
      tt | tb) enc+=(-flags +ildct+ilme -top 1) ;;
      bb | bt) enc+=(-flags +ildct+ilme -top 0) ;;
    esac
    buffer=1835008
    [ "$width" -gt 720 ] && buffer=9781248
    reencode() {  # rate options...
      timed ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -i "$input" -threads 1 -filter_threads 1 \
        -fps_mode passthrough -pix_fmt "$pix_fmt" -g 12 -bf 2 "$@" "${enc[@]}" "$tmp/ffmpeg.m2v"
      got=$(size_of "$tmp/ffmpeg.m2v")
    }
    reached=$(awk -v s="$target" -v t="$seconds" 'BEGIN{printf "%.0f", s * 8 / t}')
    for _ in 1 2 3; do
      reencode -b:v "$reached" -maxrate "$reached" -bufsize $buffer
      within "$got" "$target" 3 && break
      reached=$(awk -v r="$reached" -v g="$got" -v t="$target" 'BEGIN{printf "%.0f", r * t / g}')
    done
    how="-b:v $reached"
    if ! within "$got" "$target" 5; then
      low=1 high=31 best=31 best_off=""
      while [ $low -le $high ]; do
        q=$(((low + high) / 2))
        reencode -q:v $q -qmin 1
        off=$(awk -v g="$got" -v t="$target" 'BEGIN{d = g - t; print d < 0 ? -d : d}')
        if [ -z "$best_off" ] || awk -v a="$off" -v b="$best_off" 'BEGIN{exit !(a < b)}'; then best=$q best_off=$off; fi
        if [ "$got" -gt "$target" ]; then low=$((q + 1)); else high=$((q - 1)); fi
      done
      reencode -q:v $best -qmin 1
      how="-q:v $best (rate control misses on so short a stream)"
    fi
    read -r y n e < <(psnr_y "$tmp/ffmpeg.m2v")
    # A constant quantiser rarely lands on the size: with the neighbour on the target's other
    # side, PSNR-Y is interpolated (linear in log size) to the target size, so that the
    # comparison is at equal size.
    if [ -n "${best_off:-}" ] && ! within "$got" "$target" 1; then
      q2=$((got > target ? best + 1 : best - 1))
      if [ $q2 -ge 1 ] && [ $q2 -le 31 ]; then
        got1=$got y1=$y
        reencode -q:v $q2 -qmin 1
        read -r y2 n2 e2 < <(psnr_y "$tmp/ffmpeg.m2v")
        bracket=$(awk -v a="$got1" -v b="$got" -v t="$target" 'BEGIN{print ((a - t) * (b - t) <= 0) ? 1 : 0}')
        if [ "$bracket" = 1 ] && [ "$n2" = "$n" ] && [ "$e2" = 0 ]; then
          y=$(awk -v a="$got1" -v b="$got" -v t="$target" -v ya="$y1" -v yb="$y2" \
            'BEGIN{printf "%.2f", ya + (yb - ya) * (log(t) - log(a)) / (log(b) - log(a))}')
          how="-q:v $best and $q2 ($(kb "$got1") and $(kb "$got") kB), PSNR-Y interpolated to varlow's size"
          got=$target
        else
          got=$got1 y=$y1
        fi
      fi
    fi
    best_off=""
    size[ffmpeg]=$got psnr[ffmpeg]=$y
    row "ffmpeg re-encode" "$(kb "$got")" "$y" "$t_wall" "$t_cpu" "$how$(decode_notes "$n" "$e")"

    # The careful re-encode: constant quantisers searched for the two that bracket varlow's
    # size, PSNR-Y interpolated between them (linear in log size).
    vs_careful=""
    if [ $careful = 1 ] && [ "$width" = 720 ] && [ "$height" = 576 ] && [ "$percent" = 60 ]; then
      gop=$("$cli" stats "$input" --json 2>/dev/null | sed -n '/"gop_length"/,/}/s/.*"most_common": *\([0-9]*\).*/\1/p' | head -1)
      [ -n "$gop" ] || gop=12
      bframes=2
      [ "$(probe "$input" has_b_frames)" = 0 ] && bframes=0
      careful_at() {  # q -> got, careful_y
        reencode -q:v "$1" -qmin 1 -trellis 2 -mbd rd -cmp 2 -subcmp 2 -g "$gop" -bf $bframes
        read -r careful_y _ _ < <(psnr_y "$tmp/ffmpeg.m2v")
      }
      low=1 high=31 below_q="" above_q=""
      while [ $low -le $high ]; do
        q=$(((low + high) / 2))
        careful_at $q
        if [ "$got" -gt "$target" ]; then above_q=$q above_size=$got above_y=$careful_y low=$((q + 1))
        else below_q=$q below_size=$got below_y=$careful_y high=$((q - 1)); fi
      done
      if [ -n "$below_q" ] && [ -n "$above_q" ]; then
        careful_y=$(awk -v a="$above_size" -v b="$below_size" -v t="$target" -v ya="$above_y" -v yb="$below_y" \
          'BEGIN{printf "%.2f", ya + (yb - ya) * (log(t) - log(a)) / (log(b) - log(a))}')
        how="-q:v $above_q and $below_q ($(kb "$above_size") and $(kb "$below_size") kB), interpolated; -g $gop -bf $bframes"
      else
        careful_y=${below_y:-$above_y} how="no bracketing quantiser"
      fi
      psnr[careful]=$careful_y
      row "careful re-encode" "$(kb "$target")" "$careful_y" "" "" "$how"
      vs_careful=$(gap careful requant)
    fi

    # The targets' figures: dB over the peer (where it transrates) and over the cut, dB under
    # the re-encode.
    vs_peer=n/a vs_cut=$(gap requant cut) vs_ffmpeg=$(gap ffmpeg requant)
    [ $have_peer = 1 ] && [ $passes = 0 ] && vs_peer=$(gap requant peer)
    [ $passes = 1 ] && vs_peer="(passes)"
    [ -n "${size[cut]:-}" ] && [ "${size[cut]}" -ge $((in_size * 97 / 100)) ] && vs_cut="(passes)"
    if [ "$target" -ge $((in_size * 97 / 100)) ]; then  # nothing to compare: varlow left it as it was
      vs_peer="(varlow" vs_cut="passes" vs_ffmpeg="it)"
    fi
    # Level quality: the worst picture over the peer's worst, the spread over the peer's spread.
    worst_vs=n/a spread_vs=n/a
    if [ -n "${worst[peer]:-}" ] && [ $passes = 0 ] && [ "$target" -lt $((in_size * 97 / 100)) ]; then
      worst_vs=$(awk -v a="${worst[requant]}" -v b="${worst[peer]}" 'BEGIN{printf "%+.2f", a - b}')
      spread_vs=$(awk -v a="${spread[requant]}" -v b="${spread[peer]}" 'BEGIN{printf "%+.2f", a - b}')
    fi
    printf '%-24s %4s %10s %10s %10s %10s %10s %10s\n' "$name" "$percent%" "$vs_peer" "$vs_cut" "$vs_ffmpeg" \
      "$worst_vs" "$spread_vs" "${vs_careful:-}" >>"$summary"
  done
done

echo
echo "PSNR-Y at equal size. Targets: >= +0.5 dB over M2VRequantiser on 4:2:0 MPEG-2; >= +1.5 dB over"
echo "the cut where M2VRequantiser passes the stream through; <= 1 dB under the ffmpeg re-encode."
echo "Level quality against M2VRequantiser: worst picture >= its worst, standard deviation <= its + 0.5 dB;"
echo "with --careful: <= 1 dB under the careful re-encode at 60% on the 720x576 streams."
printf '%-24s %4s %10s %10s %10s %10s %10s %10s\n' stream rate "> peer" "> cut" "< ffmpeg" "worst-peer" "sd-peer" "< careful"
cat "$summary"

# Speed, from CPU time (user + system) on single-threaded runs, on the SD texture stream at
# 60%: varlow and M2VRequantiser on 8 copies in a row (the single copy runs too briefly to time),
# ffmpeg's re-encode on one copy, all as MB of input per second. The tools take turns, five
# rounds, and each keeps its best run: the machine's speed drifts, and turns spread the drift
# over every tool instead of landing on one.
sd=$made/sd_texture.m2v
long=$tmp/long.m2v
for _ in 1 2 3 4 5 6 7 8; do cat "$sd"; done >"$long"
sd_rate=$(awk -v s="$(size_of "$sd")" -v t="$(awk -v n=100 -v f=25 'BEGIN{print n / f}')" 'BEGIN{printf "%.0f", s * 8 / t * 0.6}')
factor=$(awk '$1 == "sd_texture.m2v" && $2 == 60 {print $3}' "$tmp/factors" 2>/dev/null || true)
tools=(requant)
[ $methods = 1 ] && tools+=(cut)
[ $have_peer = 1 ] && [ -n "$factor" ] && tools+=(peer)
tools+=(ffmpeg)
run_tool() {  # tool: one timed run (t_cpu)
  case $1 in
    requant | cut)
      # shellcheck disable=SC2046
      timed "$cli" transrate "$long" "$tmp/out.m2v" --bitrate "$sd_rate" $(method_option "$1") ;;
    peer) timed sh -c "M2VRequantiser $factor $(size_of "$long") <'$long' >'$tmp/out.m2v'" ;;
    ffmpeg)
      timed ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -i "$sd" -threads 1 -filter_threads 1 \
        -fps_mode passthrough -b:v "$sd_rate" -maxrate "$sd_rate" -bufsize 1835008 -g 12 -bf 2 -flags +ildct+ilme \
        -top 1 -c:v mpeg2video -f mpeg2video "$tmp/out.m2v" ;;
  esac
}
declare -A least=()
for _ in 1 2 3 4 5; do
  for tool in "${tools[@]}"; do
    run_tool "$tool" >/dev/null 2>&1 || true
    if [ -z "${least[$tool]:-}" ] || awk -v a="$t_cpu" -v b="${least[$tool]}" 'BEGIN{exit !(a < b)}'; then
      least[$tool]=$t_cpu
    fi
  done
done
mbps() { awk -v b="$1" -v t="$2" 'BEGIN{if (t < 0.01) t = 0.01; printf "%.1f", b / 1e6 / t}'; }
echo
echo "Speed on $(basename "$sd") at 60% (CPU time, single thread), MB of input per second:"
declare -A speed=()
for tool in "${tools[@]}"; do
  case $tool in
    requant | cut)
      speed[$tool]=$(mbps "$(size_of "$long")" "${least[$tool]}")
      printf '  %-16s %8s\n' "varlow $([ $methods = 1 ] && echo "$tool" || echo default)" "${speed[$tool]}" ;;
    peer)
      speed[peer]=$(mbps "$(size_of "$long")" "${least[peer]}")
      printf '  %-16s %8s\n' M2VRequantiser "${speed[peer]}" ;;
    ffmpeg)
      speed[ffmpeg]=$(mbps "$(size_of "$sd")" "${least[ffmpeg]}")
      printf '  %-16s %8s\n' "ffmpeg re-encode" "${speed[ffmpeg]}" ;;
  esac
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }
echo "  requant / ffmpeg: $(ratio "${speed[requant]}" "${speed[ffmpeg]}")x as fast (target >= 5x)"
[ -n "${speed[peer]:-}" ] &&
  echo "  requant time / M2VRequantiser time: $(ratio "${speed[peer]}" "${speed[requant]}") (target <= 0.67)"

if [ "$memory" != 0 ]; then
  # Peak memory on the 32 MB stream above and on a big one made of it (each copy starts with a
  # sequence header, so the whole file is one long valid stream): flat memory reads the same.
  big=$tmp/big.m2v
  cp "$long" "$big"
  while [ "$(size_of "$big")" -lt "$memory" ]; do cat "$big" "$big" >"$big.2" && mv "$big.2" "$big"; done
  echo
  for f in "$long" "$big"; do
    # shellcheck disable=SC2046
    timed "$cli" transrate "$f" "$tmp/out.m2v" --bitrate "$sd_rate" $(method_option requant) 2>/dev/null || true
    printf 'peak memory transrating %5.0f MB (requant, 60%%): %5.1f MiB (target < 64 MiB at 2 GB), %.0f s\n' \
      "$(awk "BEGIN{print $(size_of "$f") / 1e6}")" "$(awk "BEGIN{print $t_peak / 1024}")" "$t_wall"
  done
fi
