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
. "$(dirname "$0")/bench_common.sh"

bottle=${1:-build/default/tools/bottle/bottle}
samples=${BENCH_SAMPLES:-100000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/big.bot

big_bottle "$bottle" "$samples" "$data"
samples=$(( ($(stat -c %s "$data") - 40) / 4 ))

# The halves for cat, split between two samples.
middle=$(awk -v n="$samples" 'BEGIN { printf "@%.6f", 1435017600 + (n / 2 - 0.5) * 0.01 }')
"$bottle" cut "$data" -o "$work/h1.bot" --to "$middle"
"$bottle" cut "$data" -o "$work/h2.bot" --from "$middle"

cut_whole() { "$bottle" cut "$data" -o "$work/cut.bot" --force; }
cat_halves() { "$bottle" cat "$work/h1.bot" "$work/h2.bot" -o "$work/joined.bot" --force; }
gaps() { "$bottle" gaps "$data"; }
stats() { "$bottle" info --stats "$data"; }
copy() { cp "$data" "$work/copy.bot"; }
copy_flushed() { cp "$data" "$work/copy.bot" && sync "$work/copy.bot"; }
read_all() { cat "$data"; }

t_cut=$(fastest 5 cut_whole)
t_cat=$(fastest 5 cat_halves)
t_gaps=$(fastest 5 gaps)
t_stats=$(fastest 5 stats)
t_copy=$(fastest 5 copy)
t_copy_flushed=$(fastest 5 copy_flushed)
t_read=$(fastest 5 read_all)

echo "float bottle of $samples samples, $(stat -c %s "$data") bytes"
if cmp -s "$work/joined.bot" "$data"; then
  echo "cat of the two halves gives the bottle byte for byte"
else
  echo "cat of the two halves DIFFERS from the bottle"
fi
printf '%-26s %9s  %-24s %9s  %5s  %s\n' command time "against" time ratio "target, met?"
row "cut (whole file)" "$t_cut" "cp" "$t_copy" ""
row "cut (whole file)" "$t_cut" "cp, then sync FILE" "$t_copy_flushed" "<= 1.5"
row "cat (two halves)" "$t_cat" "cp" "$t_copy" ""
row "cat (two halves)" "$t_cat" "cp, then sync FILE" "$t_copy_flushed" "<= 1.5"
row "gaps" "$t_gaps" "cat FILE > /dev/null" "$t_read" "<= 2"
row "info --stats" "$t_stats" "cat FILE > /dev/null" "$t_read" "<= 2"
