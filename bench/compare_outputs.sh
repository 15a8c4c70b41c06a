#!/usr/bin/env bash
# Runs two builds of fixfir on the same answer sets and compares every output byte:
# waves.txt, frequency.txt, the console text and the exit status.
#
#   bench/compare_outputs.sh OLD_FIXFIR NEW_FIXFIR [SCRATCH_DIR]
#
# The filters are the shipped example plus generated ones: a 255-tap low-pass, a single
# tap, an overflowing random filter, no taps, a short file, and more taps than a sweep
# (4000) or a waveform test (32000) has samples.
set -euo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
scratch=${3:-$(mktemp -d)}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$scratch/filters"
cd "$scratch/filters"

cp "$here/examples/taps.txt" example.txt
# Windowed-sinc low-pass at a quarter of the sample rate, mirrored.
awk -v n=255 'BEGIN { pi = atan2(0, -1); print n; m = (n - 1) / 2;
  for (i = 0; i < n; i++) { u = i - m; if (u < 0) u = -u;
    s = (u == 0) ? 0.5 : sin(0.5 * pi * u) / (pi * u);
    w = 0.54 - 0.46 * cos(2 * pi * (m - u) / (n - 1)); printf "%.9f\n", s * w } }' > low_pass_255.txt
printf '1\n1.0\n' > single.txt
awk -v n=63 'BEGIN { srand(1); print n; for (i = 0; i < n; i++) printf "%.6f\n", 8 * rand() - 4 }' > overflowing.txt
printf '0\n' > none.txt
printf '5\n0.5 0.25 0.125' > short.txt
awk -v n=5000 'BEGIN { srand(2); print n; for (i = 0; i < n; i++) printf "%.6f\n", 0.02 * rand() - 0.01 }' > long_5000.txt
awk -v n=40000 'BEGIN { srand(3); print n; for (i = 0; i < n; i++) printf "%.7f\n", 0.002 * rand() - 0.001 }' > long_40000.txt

# filter precision initial step ending (the sweep always runs, with the same step)
cases=(
  "example.txt 15 100 1 4000" "example.txt 0 100 1 4000" "example.txt 20 100 50 4000"
  "example.txt 31 100 50 4000" "example.txt 32 100 50 4000" "example.txt 30 100 100 1000"
  "example.txt 15 1000 -100 100" "example.txt 15 100 10 95" "example.txt 15 1000 100 100"
  "example.txt 15 100 0 4000" "example.txt 15 100 -5 4000" "low_pass_255.txt 15 100 100 4000"
  "low_pass_255.txt 15 100 1 200" "single.txt 15 100 1 400" "overflowing.txt 30 100 7 3000"
  "overflowing.txt 24 100 7 3000" "none.txt 15 100 100 1000" "short.txt 15 100 100 1000"
  "long_5000.txt 20 100 100 4000" "long_40000.txt 22 100 500 4000"
)
failures=0
for c in "${cases[@]}"; do
  read -r filter precision initial step ending <<<"$c"
  for build in old new; do
    dir="$scratch/$build"
    rm -rf "$dir" && mkdir -p "$dir" && cp "$filter" "$dir/taps.txt"
    bin=$old && [ "$build" = new ] && bin=$new
    status=0
    (cd "$dir" && printf '%s\n%s\n%s\n%s\n1\n' "$precision" "$initial" "$step" "$ending" \
      | "$bin" >console.txt) || status=$?
    echo "$status" >"$dir/status.txt"
  done
  verdict=same
  for f in waves.txt frequency.txt console.txt status.txt; do
    if [ -e "$scratch/old/$f" ] || [ -e "$scratch/new/$f" ]; then
      cmp -s "$scratch/old/$f" "$scratch/new/$f" || { verdict="DIFFERENT $f"; failures=$((failures + 1)); }
    fi
  done
  echo "$c: $verdict"
done
[ "$failures" -eq 0 ] && echo "all outputs identical" || { echo "$failures differences"; exit 1; }
