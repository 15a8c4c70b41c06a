#!/usr/bin/env bash
# Times fixfir-report against fixfir on the same filter and the same questions, one run
# after the other, for windowed-sinc low-pass filters of 63, 255 and 4000 taps.
#
#   bench/report_speed.sh BUILD_DIR [RUNS]
#
# fixfir answers precision 15, a waveform test of 901 tones from 100 to 1000 Hz a hertz apart
# and a sweep at step 1; the report gets the same (--step 1 --sweep-step 1), once without its
# pictures (gnuplot kept off PATH: the analysis alone) and once with them. Each figure is the
# median of RUNS whole-process wall times (default 5; the 4000-tap filter runs 3 times).
# The machine's load (uptime) is printed first and last: on a busy machine the figures vary.
#
# The goal is the report's analysis within 2x of fixfir. On the project's machine (2 vCPUs,
# AVX-512, load about 2) on 2026-12-09, two runs at RUNS=5 gave 1.79-1.82x at 63 taps,
# 1.61-1.67x at 255 and 1.41-1.42x at 4000 (3.27x, 2.98x and 2.75x before the sweep service,
# the exact vector sines, the sine-sum bound and the waveform test beside the sweep); the
# pictures add about 0.3 s.
set -euo pipefail
build=$(realpath "$1")
runs=${2:-5}
fixfir="$build/src/app/fixfir"
report="$build/src/report/fixfir-report"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

uptime
printf '%6s  %10s  %18s  %6s  %14s  %6s\n' taps "fixfir (s)" "report, no pictures" ratio "with pictures" ratio
for taps in 63 255 4000; do
  dir="$scratch/$taps"
  mkdir -p "$dir"
  awk -v n="$taps" 'BEGIN { pi = atan2(0, -1); print n; m = (n - 1) / 2;
    for (i = 0; i < n; i++) { u = i - m; if (u < 0) u = -u;
      s = (u == 0) ? 0.25 : sin(0.25 * pi * u) / (pi * u);
      w = 0.54 - 0.46 * cos(2 * pi * (m - u) / (n - 1)); printf "%.9f\n", s * w } }' >"$dir/taps.txt"
  n=$runs
  [ "$taps" -ge 4000 ] && n=$(((runs + 1) / 2))
  tool=() bare=() rep=()
  for _ in $(seq "$n"); do
    tool+=("$(cd "$dir" && seconds sh -c "printf '15\n100\n1\n1000\n1\n' | '$fixfir'")")
    bare+=("$(cd "$dir" && seconds env PATH=/nonexistent "$report" --precision 15 --initial 100 \
      --step 1 --ending 1000 --sweep-step 1)")
    rep+=("$(cd "$dir" && seconds "$report" --precision 15 --initial 100 --step 1 --ending 1000 \
      --sweep-step 1)")
  done
  t=$(printf '%s\n' "${tool[@]}" | median)
  b=$(printf '%s\n' "${bare[@]}" | median)
  r=$(printf '%s\n' "${rep[@]}" | median)
  ratio() { awk -v r="$1" -v t="$2" 'BEGIN { print r / t }'; }
  printf '%6d  %10.2f  %18.2f  %5.2fx  %14.2f  %5.2fx\n' "$taps" "$t" "$b" "$(ratio "$b" "$t")" \
    "$r" "$(ratio "$r" "$t")"
done
uptime
