#!/usr/bin/env bash
# Times `bottle cut`, `cat`, `gaps` and `info --stats` on a float bottle of
# 10^8 samples against plain file copying and reading, side by side in one
# run, and prints the ratios (the fastest of five runs each).  A timing
# script, not a test: the figures depend on the machine.  The bottle and
# its copies take about 2 GB of disk; all are removed at the end.
#
#   tools/bottle/archive_bench.sh [PATH-TO-BOTTLE]   (default build/default/tools/bottle/bottle)
#   BENCH_SAMPLES=10000000 tools/bottle/archive_bench.sh
#
# cut and cat write their output under a temporary name, flush it to disk
# and rename it into place, so each is timed against cp alone and against
# cp followed by a flush of the copy (sync FILE).
set -euo pipefail

bottle=${1:-build/default/tools/bottle/bottle}
samples=${BENCH_SAMPLES:-100000000}
unit=$((samples < 1000000 ? samples : 1000000))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/big.bot

# A slow wave with noise, written with six significant digits, as an
# instrument would give; every 100000th sample is unusable.  Made as one
# bottle of `unit` samples whose samples are repeated, then cut whole so
# that the header counts them.
awk -v n="$unit" 'BEGIN {
  srand(1)
  for (i = 0; i < n; i++)
    if (i % 100000 == 99999) print ""; else printf "%.6g\n", 20 + 10 * sin(i / 5000) + rand()
}' | "$bottle" import "$work/unit.bot" --type float --begin 2015-06-23 --interval 0.01
{
  head -c 40 "$work/unit.bot"
  for ((i = 0; i < samples / unit; i++)); do tail -c +41 "$work/unit.bot"; done
} >"$work/raw.bot"
"$bottle" cut "$work/raw.bot" "$data"
rm "$work/raw.bot" "$work/unit.bot"

# The halves for cat, split between two samples.
middle=$(awk -v n="$samples" 'BEGIN { printf "@%.6f", 1435017600 + (n / 2 - 0.5) * 0.01 }')
"$bottle" cut "$data" "$work/h1.bot" --to "$middle"
"$bottle" cut "$data" "$work/h2.bot" --from "$middle"

now() { date +%s.%N; }

# Prints the fastest wall-clock time, in seconds, of five runs of "$@",
# each after the disk has taken what earlier runs wrote.
fastest() {
  local best="" start end
  for _ in 1 2 3 4 5; do
    sync
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}

cut_whole() { "$bottle" cut "$data" "$work/cut.bot" --force; }
cat_halves() { "$bottle" cat "$work/joined.bot" "$work/h1.bot" "$work/h2.bot" --force; }
gaps() { "$bottle" gaps "$data"; }
stats() { "$bottle" info --stats "$data"; }
copy() { cp "$data" "$work/copy.bot"; }
copy_flushed() { cp "$data" "$work/copy.bot" && sync "$work/copy.bot"; }
read_all() { cat "$data"; }

t_cut=$(fastest cut_whole)
t_cat=$(fastest cat_halves)
t_gaps=$(fastest gaps)
t_stats=$(fastest stats)
t_copy=$(fastest copy)
t_copy_flushed=$(fastest copy_flushed)
t_read=$(fastest read_all)

row() {
  awk -v name="$1" -v t="$2" -v base="$3" -v tb="$4" -v target="$5" \
    'BEGIN { printf "%-26s %7.3f s  %-24s %7.3f s  %5.2f  %s\n", name, t, base, tb, t / tb, target }'
}

echo "float bottle of $samples samples, $(stat -c %s "$data") bytes"
if cmp -s "$work/joined.bot" "$data"; then
  echo "cat of the two halves gives the bottle byte for byte"
else
  echo "cat of the two halves DIFFERS from the bottle"
fi
printf '%-26s %9s  %-24s %9s  %5s  %s\n' command time "against" time ratio target
row "cut (whole file)" "$t_cut" "cp" "$t_copy" "<= 2"
row "cut (whole file)" "$t_cut" "cp, then sync FILE" "$t_copy_flushed" "<= 2"
row "cat (two halves)" "$t_cat" "cp" "$t_copy" "<= 2"
row "cat (two halves)" "$t_cat" "cp, then sync FILE" "$t_copy_flushed" "<= 2"
row "gaps" "$t_gaps" "cat FILE > /dev/null" "$t_read" "<= 2"
row "info --stats" "$t_stats" "cat FILE > /dev/null" "$t_read" "<= 2"
