"""Times an archive of a year of daily 100 Hz bottles through xarray with
the time index, side by side in one run, and prints a table: each figure,
what it is set against, and whether it meets its target.

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python/bench_archive.py [DAYS]

DAYS (default 365) daily bottles of 8,640,000 float samples are made as
sparse files (their samples read as 0) in a scratch folder.  Opening them
with zulukit.open_archive is timed, with the peak memory of the whole
process, in a fresh interpreter; then, in this one, selections on the
archive with the samples they return, the time coordinate of the first
10^8 samples beside pandas.date_range of the same length, and coarsening
those samples beside the same with the time coordinate dropped.  Each
time is the least of several runs.
"""

import glob
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import pandas as pd

import zulukit
from timing import least

PER_DAY = 8_640_000


def rss():
    """The resident memory of this process now, in bytes."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def make_year(work, days):
    for day in range(days):
        path = os.path.join(work, f"{day:03d}.bot")
        with zulukit.create(path, np.datetime64("2015-01-01") + np.timedelta64(day, "D"), 0.01, "float"):
            pass
        os.truncate(path, 40 + 4 * PER_DAY)
    return sorted(glob.glob(os.path.join(work, "*.bot")))


OPEN = r"""
import glob, json, sys, time
start = time.perf_counter()

def peak():
    # The high-water mark of this program's memory (ru_maxrss would count
    # the process it was forked from as well).
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))

import xarray, zulukit
imported = time.perf_counter()
ds = zulukit.open_archive(sorted(glob.glob(sys.argv[1] + "/*.bot")))
opened = time.perf_counter()
print(json.dumps({"import": imported - start, "open": opened - imported, "samples": ds.sizes["time"],
                  "peak": peak()}))
"""


def open_rows(work):
    runs = [json.loads(subprocess.run([sys.executable, "-c", OPEN, work], check=True, capture_output=True,
                                      text=True).stdout) for _ in range(3)]
    best = min(runs, key=lambda r: r["open"])
    mb = max(r["peak"] for r in runs) / 2**20
    return [(f"open_archive of {best['samples']:.3g} samples", f"{best['open'] * 1e3:.1f} ms", "< 1000 ms",
             best["open"] < 1),
            ("  peak memory of the process (imports included)", f"{mb:.0f} MB", "< 150 MB", mb < 150)]


def selection_rows(paths):
    import xarray  # noqa: F401 (imported before the memory is measured)

    ds = zulukit.open_archive(paths)
    middle = str(ds.time[len(ds.time) // 2].values)
    minute = np.datetime64(middle) + np.timedelta64(60, "s")
    rows = []
    for name, take in [("ds.sel(time=t), one sample", lambda: ds.sel(time=middle).value.values),
                       ("ds.sel(time=slice) of one minute", lambda: ds.sel(time=slice(middle, minute)).value.values),
                       ("ds.isel(time=-1)", lambda: ds.isel(time=-1).value.values),
                       ("ds.value[-1]", lambda: ds.value[-1].values)]:
        take()
        before = rss()
        seconds = least(take, 50)
        growth = (rss() - before) / 2**20
        rows.append((name, f"{seconds * 1e3:.3f} ms, memory +{growth:.1f} MB", "< 1 ms, none",
                     seconds < 1e-3 and growth < 1))
    return rows


def ratio_rows(paths):
    days = -(-10**8 // PER_DAY)
    ds = zulukit.open_archive(paths[:days])
    n = ds.sizes["time"]
    times = least(lambda: ds.time.values, 3)
    dates = least(lambda: pd.date_range("2015-01-01", periods=n, freq="10ms").values, 3)
    coarse = least(lambda: ds.coarsen(time=PER_DAY).mean().value.values, 3)
    bare = least(lambda: ds.drop_vars("time").coarsen(time=PER_DAY).mean().value.values, 3)
    return [(f"ds.time.values of {n:.3g} samples / pandas.date_range", f"{times:.3f} s / {dates:.3f} s = "
             f"{times / dates:.2f}", "<= 2", times / dates <= 2),
            (f"coarsen(time={PER_DAY}).mean() / without the time coordinate",
             f"{coarse:.3f} s / {bare:.3f} s = {coarse / bare:.2f}", "<= 1.25", coarse / bare <= 1.25)]


def main():
    days = int(float(sys.argv[1])) if len(sys.argv) > 1 else 365
    with tempfile.TemporaryDirectory() as work:
        paths = make_year(work, days)
        rows = open_rows(work) + selection_rows(paths) + ratio_rows(paths)
    width = max(len(r[0]) for r in rows)
    for name, figure, target, met in rows:
        print(f"{name:<{width}}  {figure:<34} target {target:<12} {'met' if met else 'MISSED'}")


if __name__ == "__main__":
    main()
