#!/usr/bin/env bash
# Synthesizes the exported Verilog module with yosys (`synth -top fixfir_filter; stat`) for the
# README's search example, the equiripple low-pass tests/fixtures/remez_lp_63.txt, at fixfir's
# own datapath (precision 15: 32-bit words, a 32-bit accumulator) and at the datapath
# `--explore` recommends for it with --min-snr 70, and prints each one's cells and time.
#
#   bench/synthesis_cost.sh BUILD_DIR
#
# A generic synthesis: its cells are yosys's own gates, not an FPGA's or a library's, so they
# compare datapaths with each other and say nothing of a part's area or speed.
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
report="$build/src/report/fixfir-report"
command -v yosys >/dev/null || { echo "yosys is not installed (Debian: yosys)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$here/tests/fixtures/remez_lp_63.txt" "$scratch/taps.txt"

# The recommended datapath's options, from the search's `options:` line.
recommended=$(cd "$scratch" && "$report" --explore --initial 100 \
  --step 50 --ending 4000 --sweep-step 8 --min-snr 70 2>/dev/null | sed -n 's/^options: //p')
[ -n "$recommended" ] || { echo "the search recommended no datapath" >&2; exit 1; }

printf '%-60s  %8s  %6s  %8s\n' datapath multipliers cells "time (s)"
synthesize() {
  local label=$1
  shift
  (cd "$scratch" && "$report" --export fixfir_filter.v "$@" >/dev/null)
  local start end
  start=$(date +%s.%N)
  # A fixed file name in the scratch folder: no user text reaches yosys's commands.
  (cd "$scratch" && yosys -q -p 'read_verilog fixfir_filter.v; synth -top fixfir_filter; tee -q -o stat.txt stat')
  end=$(date +%s.%N)
  local cells multipliers
  cells=$(awk '/Number of cells:/ { n = $4 } END { print n }' "$scratch/stat.txt")
  multipliers=$(sed -n 's/^\/\/ Structure: .*, \([0-9]*\) multipliers\{0,1\};.*/\1/p' "$scratch/fixfir_filter.v")
  printf '%-60s  %8s  %6s  %8.1f\n' "$label" "$multipliers" "$cells" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
}
synthesize "precision 15 (32-bit words, 32-bit accumulator)" --precision 15
# shellcheck disable=SC2086  # the options are words to split
synthesize "recommended: $recommended" $recommended
