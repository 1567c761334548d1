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
. "$(dirname "$0")/bench_common.sh"

bottle=${1:-build/default/tools/bottle/bottle}
samples=${BENCH_SAMPLES:-100000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/big.bot

big_bottle "$bottle" "$samples" "$data"
samples=$(( ($(stat -c %s "$data") - 40) / 4 ))

export_plain() { "$bottle" export "$data" -o "$work/big.nc"; }
copy() { cp "$data" "$work/copy.bot"; }
copy_flushed() { cp "$data" "$work/copy.bot" && sync "$work/copy.bot"; }
copy_netcdf() { cp "$work/big.nc" "$work/copy.nc"; }
copy_netcdf_flushed() { cp "$work/big.nc" "$work/copy.nc" && sync "$work/copy.nc"; }

t_export=$(fastest 3 export_plain)
t_copy=$(fastest 3 copy)
t_copy_flushed=$(fastest 3 copy_flushed)
t_copy_netcdf=$(fastest 3 copy_netcdf)
t_copy_netcdf_flushed=$(fastest 3 copy_netcdf_flushed)

echo "float bottle of $samples samples, $(stat -c %s "$data") bytes; netCDF file $(stat -c %s "$work/big.nc") bytes"
printf '%-26s %9s  %-24s %9s  %5s  %s\n' command time "against" time ratio target
row "export (uncompressed)" "$t_export" "cp" "$t_copy" "<= 3"
row "export (uncompressed)" "$t_export" "cp, then sync FILE" "$t_copy_flushed" "<= 3"
row "export (uncompressed)" "$t_export" "cp of the .nc file" "$t_copy_netcdf" ""
row "export (uncompressed)" "$t_export" "cp, sync of the .nc file" "$t_copy_netcdf_flushed" ""
