#!/usr/bin/env bash
# Times `bottle export` (uncompressed) on a float bottle of 10^8 samples
# against `cp` of the same bottle, side by side in one run, and prints the
# ratios (the fastest of three runs each).  A timing script, not a test:
# the figures depend on the machine.  The bottle, its copy and the netCDF
# file (three times the bottle's size: a double time per float sample)
# take about 2 GB of disk; all are removed at the end.
#
#   tools/bottle/export_bench.sh [PATH-TO-BOTTLE]   (default build/default/tools/bottle/bottle)
#   BENCH_SAMPLES=10000000 tools/bottle/export_bench.sh
#
# export writes under a temporary name, flushes the file to disk and
# renames it into place, so it is timed against cp alone and against cp
# followed by a flush of the copy (sync FILE); and, since the netCDF file is
# three times the bottle's size, against cp and sync of the netCDF file
# itself: the same bytes written.
set -euo pipefail

bottle=${1:-build/default/tools/bottle/bottle}
samples=${BENCH_SAMPLES:-100000000}
unit=$((samples < 1000000 ? samples : 1000000))
samples=$((samples / unit * unit))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/big.bot

# A slow wave with noise, written with six significant digits, as an
# instrument would give; every 100000th sample is unusable.  Made as one
# bottle of `unit` samples whose samples are repeated, with the header's
# sample count (bytes 20 to 23, little-endian) set to the total.
awk -v n="$unit" 'BEGIN {
  srand(1)
  for (i = 0; i < n; i++)
    if (i % 100000 == 99999) print ""; else printf "%.6g\n", 20 + 10 * sin(i / 5000) + rand()
}' | "$bottle" import "$work/unit.bot" --type float --begin 2015-06-23 --interval 0.01
{
  head -c 40 "$work/unit.bot"
  for ((i = 0; i < samples / unit; i++)); do tail -c +41 "$work/unit.bot"; done
} >"$data"
rm "$work/unit.bot"
count_bytes=$(printf '\\%03o\\%03o\\%03o\\%03o' $((samples & 255)) $((samples >> 8 & 255)) \
  $((samples >> 16 & 255)) $((samples >> 24 & 255)))
printf "$count_bytes" | dd of="$data" bs=1 seek=20 conv=notrunc status=none

now() { date +%s.%N; }

# Prints the fastest wall-clock time, in seconds, of three runs of "$@",
# each after the disk has taken what earlier runs wrote.
fastest() {
  local best="" start end
  for _ in 1 2 3; do
    sync
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}

export_plain() { "$bottle" export "$data" -o "$work/big.nc"; }
copy() { cp "$data" "$work/copy.bot"; }
copy_flushed() { cp "$data" "$work/copy.bot" && sync "$work/copy.bot"; }
copy_netcdf() { cp "$work/big.nc" "$work/copy.nc"; }
copy_netcdf_flushed() { cp "$work/big.nc" "$work/copy.nc" && sync "$work/copy.nc"; }

t_export=$(fastest export_plain)
t_copy=$(fastest copy)
t_copy_flushed=$(fastest copy_flushed)
t_copy_netcdf=$(fastest copy_netcdf)
t_copy_netcdf_flushed=$(fastest copy_netcdf_flushed)

row() {
  awk -v name="$1" -v t="$2" -v base="$3" -v tb="$4" -v target="$5" \
    'BEGIN { printf "%-26s %7.3f s  %-24s %7.3f s  %5.2f  %s\n", name, t, base, tb, t / tb, target }'
}

echo "float bottle of $samples samples, $(stat -c %s "$data") bytes; netCDF file $(stat -c %s "$work/big.nc") bytes"
printf '%-26s %9s  %-24s %9s  %5s  %s\n' command time "against" time ratio target
row "export (uncompressed)" "$t_export" "cp" "$t_copy" "<= 3"
row "export (uncompressed)" "$t_export" "cp, then sync FILE" "$t_copy_flushed" "<= 3"
row "export (uncompressed)" "$t_export" "cp of the .nc file" "$t_copy_netcdf" ""
row "export (uncompressed)" "$t_export" "cp, sync of the .nc file" "$t_copy_netcdf_flushed" ""
