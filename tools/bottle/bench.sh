#!/usr/bin/env bash
# Times `bottle dump` and `bottle plot` on a float bottle of 10^7 samples and
# prints samples per second (the fastest of three runs each).  A timing
# script, not a test: the figures depend on the machine.
#
#   tools/bottle/bench.sh [PATH-TO-BOTTLE]     (default build/default/tools/bottle/bottle)
#   BENCH_SAMPLES=1000000 tools/bottle/bench.sh
set -euo pipefail

bottle=${1:-build/default/tools/bottle/bottle}
samples=${BENCH_SAMPLES:-10000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/bench.bot

# A slow wave with noise, written with six significant digits, as an
# instrument would give; every 100000th sample is unusable.
awk -v n="$samples" 'BEGIN {
  srand(1)
  for (i = 0; i < n; i++)
    if (i % 100000 == 99999) print ""; else printf "%.6g\n", 20 + 10 * sin(i / 5000) + rand()
}' | "$bottle" import "$data" --type float --begin 2015-06-23 --interval 0.01

now() { date +%s.%N; }

# Prints the fastest wall-clock time, in seconds, of three runs of "$@".
fastest() {
  local best="" start end
  for _ in 1 2 3; do
    start=$(now)
    "$@"
    end=$(now)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}

dump_iso() { "$bottle" dump "$data" >/dev/null; }
dump_epoch() { "$bottle" dump "$data" --epoch >/dev/null; }
plot() { "$bottle" plot "$data" -o "$work/bench.svg"; }

report() {
  awk -v name="$1" -v t="$2" -v n="$samples" \
    'BEGIN { printf "%-34s %6.3f s  %6.1f million samples/s\n", name, t, n / t / 1e6 }'
}

echo "bottle of $samples float samples, $(stat -c %s "$data") bytes"
report "dump to /dev/null (ISO times)" "$(fastest dump_iso)"
report "dump --epoch to /dev/null" "$(fastest dump_epoch)"
report "plot -o bench.svg (1000 x 400)" "$(fastest plot)"
