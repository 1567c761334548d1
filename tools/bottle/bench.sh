#!/usr/bin/env bash
# Times `bottle dump` and `bottle plot` on a float bottle of 10^7 samples and
# prints samples per second (the fastest of three runs each).  A timing
# script, not a test: the figures depend on the machine.
#
#   tools/bottle/bench.sh [PATH-TO-BOTTLE]     (default build/default/tools/bottle/bottle)
#   BENCH_SAMPLES=1000000 tools/bottle/bench.sh
set -euo pipefail
. "$(dirname "$0")/bench_common.sh"

bottle=${1:-build/default/tools/bottle/bottle}
samples=${BENCH_SAMPLES:-10000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/bench.bot

wave "$samples" | "$bottle" import -o "$data" --type float --begin 2015-06-23 --interval 0.01

dump_iso() { "$bottle" dump "$data" >/dev/null; }
dump_epoch() { "$bottle" dump "$data" --epoch >/dev/null; }
plot() { "$bottle" plot "$data" -o "$work/bench.svg"; }

report() {
  awk -v name="$1" -v t="$2" -v n="$samples" \
    'BEGIN { printf "%-34s %6.3f s  %6.1f million samples/s\n", name, t, n / t / 1e6 }'
}

echo "bottle of $samples float samples, $(stat -c %s "$data") bytes"
report "dump to /dev/null (ISO times)" "$(fastest 3 dump_iso)"
report "dump --epoch to /dev/null" "$(fastest 3 dump_epoch)"
report "plot -o bench.svg (1000 x 400)" "$(fastest 3 plot)"
