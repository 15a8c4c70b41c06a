#!/usr/bin/env bash
# Times fixfir-report --explore, the whole search over both words and both roundings, on
# windowed-sinc low-pass filters of 63 and 255 taps with --sweep-step 8 and an SNR target of
# 60 dB, without its picture (gnuplot kept off PATH).
#
#   bench/explore_speed.sh BUILD_DIR [RUNS]
#
# Each figure is the median of RUNS whole-process wall times (default 5). The machine's load
# (uptime) is printed first and last: on a busy machine the figures vary.
#
# The goal is 63 taps within 1 s and 255 taps within 3 s on the project's 2-core machine.
set -euo pipefail
build=$(realpath "$1")
runs=${2:-5}
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
printf '%6s  %14s  %10s\n' taps "explore (s)" candidates
for taps in 63 255; do
  dir="$scratch/$taps"
  mkdir -p "$dir"
  awk -v n="$taps" 'BEGIN { pi = atan2(0, -1); print n; m = (n - 1) / 2;
    for (i = 0; i < n; i++) { u = i - m; if (u < 0) u = -u;
      s = (u == 0) ? 0.25 : sin(0.25 * pi * u) / (pi * u);
      w = 0.54 - 0.46 * cos(2 * pi * (m - u) / (n - 1)); printf "%.9f\n", s * w } }' >"$dir/taps.txt"
  args=(--explore --initial 100 --step 50 --ending 4000 --sweep-step 8 --min-snr 60)
  times=()
  for _ in $(seq "$runs"); do
    times+=("$(cd "$dir" && seconds env PATH=/nonexistent "$report" "${args[@]}")")
  done
  front=$(cd "$dir" && env PATH=/nonexistent "$report" "${args[@]}" 2>/dev/null |
    grep -c '^ *[0-9]' || true)
  printf '%6d  %14.2f  %10s\n' "$taps" "$(printf '%s\n' "${times[@]}" | median)" "$front rows"
done
uptime
