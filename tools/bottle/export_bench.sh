#!/usr/bin/env bash
# Times `bottle export` (uncompressed) on a float bottle of 10^8 samples
# against `cp` of the same bottle, side by side in one run, and prints the
# ratios (the fastest of three runs each).  A timing script, not a test:
# the figures depend on the machine.  The bottle, its copy and the netCDF
# file (twice the bottle's size: a 32-bit time per float sample)
# take about 2 GB of disk; all are removed at the end.
#
#   tools/bottle/export_bench.sh [PATH-TO-BOTTLE]   (default build/default/tools/bottle/bottle)
#   BENCH_SAMPLES=10000000 tools/bottle/export_bench.sh
#
# export writes under a temporary name, flushes the file to disk and
# renames it into place, so it is timed against cp alone and against cp
# followed by a flush of the copy (sync FILE); and, since the netCDF file is
# twice the bottle's size, against cp and sync of the netCDF file
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

export_plain() { "$bottle" export "$data" -o "$work/big.nc" --force; }
copy() { cp "$data" "$work/copy.bot"; }
copy_flushed() { cp "$data" "$work/copy.bot" && sync "$work/copy.bot"; }
copy_netcdf() { cp "$work/big.nc" "$work/copy.nc"; }
# netCDF4-python (Debian python3-netcdf4) writing the same variable and
# time coordinate from the bottle's samples, a block at a time, and the
# file flushed to disk, as export does.
netcdf4_python() {
  /usr/bin/python3 - "$data" "$work/py.nc" <<'PY'
import os, sys
import numpy as np, netCDF4
src, dst = sys.argv[1:]
samples = np.memmap(src, dtype="<f4", mode="r", offset=40)
with netCDF4.Dataset(dst, "w", format="NETCDF4_CLASSIC") as nc:
    nc.createDimension("time", len(samples))
    value = nc.createVariable("value", "f4", ("time",), fill_value=np.float32(999999))
    time = nc.createVariable("time", "i4", ("time",))
    time.units = "milliseconds since 2015-06-23 00:00:00"
    block = 1 << 16
    for i in range(0, len(samples), block):
        n = min(block, len(samples) - i)
        value[i:i + n] = samples[i:i + n]
        time[i:i + n] = np.arange(i, i + n, dtype=np.int32) * 10
fd = os.open(dst, os.O_RDONLY)
os.fsync(fd)
os.close(fd)
PY
}
copy_netcdf_flushed() { cp "$work/big.nc" "$work/copy.nc" && sync "$work/copy.nc"; }

t_export=$(fastest 3 export_plain)
t_copy=$(fastest 3 copy)
t_copy_flushed=$(fastest 3 copy_flushed)
t_copy_netcdf=$(fastest 3 copy_netcdf)
t_python=""
if /usr/bin/python3 -c "import netCDF4" 2>/dev/null; then t_python=$(fastest 3 netcdf4_python); fi
t_copy_netcdf_flushed=$(fastest 3 copy_netcdf_flushed)

echo "float bottle of $samples samples, $(stat -c %s "$data") bytes; netCDF file $(stat -c %s "$work/big.nc") bytes"
printf '%-26s %9s  %-24s %9s  %5s  %s\n' command time "against" time ratio "target, met?"
[ -n "$t_python" ] && row "export (uncompressed)" "$t_export" "netCDF4-python, fsync" "$t_python" "<= 1.2"
row "export (uncompressed)" "$t_export" "cp" "$t_copy" "<= 3"
row "export (uncompressed)" "$t_export" "cp, then sync FILE" "$t_copy_flushed" "<= 3"
row "export (uncompressed)" "$t_export" "cp of the .nc file" "$t_copy_netcdf" ""
row "export (uncompressed)" "$t_export" "cp, sync of the .nc file" "$t_copy_netcdf_flushed" ""
