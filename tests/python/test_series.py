"""One series from the file to xarray: every path gives the same stamps,
counts the same samples, takes the same samples for missing, keeps its
memory to what it returns, and describes a selection truly."""

import json
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import zulukit
from zulukit import _zulukit

xr = pytest.importorskip("xarray")

BOTTLE = os.environ.get("ZULU_BOTTLE")
BEGIN_MS = 1435017600123  # 2015-06-23T00:00:00.123Z; no double holds it exactly


def run(*args):
    done = subprocess.run([BOTTLE, *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


def rounded(numerator, denominator):
    """numerator / denominator rounded once, halves upward (exact integers)."""
    return (2 * numerator + denominator) // (2 * denominator)


def raw_bottle(path, doff, samples, kind="f4", begin=0.0, interval=1.0):
    """A bottle written byte by byte: the header, doff - 40 bytes of 0xff,
    then the samples as stored."""
    code = {"i2": 0, "i4": 1, "f4": 2, "f8": 3}[kind]
    usym = [32767, 999999, 999999, 9999999][code]
    head = struct.pack("<hhidfiiiii", 349, 0, doff, begin, interval, 0, code, usym, 0, 0)
    path.write_bytes(head + b"\xff" * (doff - 40) + np.asarray(samples, "<" + kind).tobytes())
    return str(path)


# --- The clock -----------------------------------------------------------


@pytest.mark.parametrize("interval, num, den", [(0.01, 10**7, 1), (1 / 3, 10**9, 3), (60.0, 6 * 10**10, 1),
                                                (0.001, 10**6, 1)])
def test_every_path_gives_the_same_stamps(interval, num, den, tmp_path):
    n = 3000
    path = str(tmp_path / "c.bot")
    with zulukit.create(path, BEGIN_MS / 1000, interval, "float") as b:
        b.write(b.begin, np.arange(n, dtype=np.float32))
    i = np.arange(n, dtype=object)

    def exact(digits):  # the stamps of 10^-digits s: the exact nominal time, rounded once
        scale = 10 ** (9 - digits)
        return np.array([rounded(BEGIN_MS * 10**6 * den + k * num, den * scale) for k in i], np.int64)

    with zulukit.open(path) as b:
        for unit, digits in [("s", 0), ("ms", 3), ("us", 6), ("ns", 9)]:
            np.testing.assert_array_equal(b.times(unit=unit).astype(np.int64), exact(digits), unit)
        np.testing.assert_array_equal(b.to_pandas().index.asi8, exact(9))
    ns = exact(9)
    ds = xr.open_dataset(path)
    np.testing.assert_array_equal(ds.time.values.astype(np.int64), ns)
    np.testing.assert_array_equal(ds.indexes["time"].asi8, ns)
    np.testing.assert_array_equal(ds.isel(time=slice(1, None, 7)).indexes["time"].asi8, ns[1::7])
    np.testing.assert_array_equal(zulukit.open_archive([path], time_index=False).time.values.astype(np.int64), ns)
    if BOTTLE:
        dumped = run("dump", path).splitlines()[1:]
        ms = np.array([np.datetime64(line.split(",")[0][:-1], "ms") for line in dumped]).astype(np.int64)
        np.testing.assert_array_equal(ms, exact(3))
    if _zulukit.can_export():
        pytest.importorskip("netCDF4")
        zulukit.export(path, tmp_path / "c.nc")
        with xr.open_dataset(tmp_path / "c.nc", engine="netcdf4") as nc:
            np.testing.assert_array_equal(nc.time.values.astype(np.int64), ns)
    if den == 1:  # a whole number of nanoseconds apart: pandas sees the frequency
        import pandas as pd

        assert pd.infer_freq(ds.indexes["time"][:100]) is not None


# --- The count -----------------------------------------------------------


def test_every_path_counts_from_the_data_offset(tmp_path):
    path = raw_bottle(tmp_path / "off.bot", 80, np.arange(1, 21))  # 80 data bytes: 20 samples
    with zulukit.open(path) as b:
        assert len(b) == 20 and b.header.count == 20 and b[-1] == 20
    assert xr.open_dataset(path).sizes["time"] == 20
    assert zulukit.stats(path)["count"] == 20
    if BOTTLE:
        assert "  samples:   20" in run("info", path).splitlines()
        assert run("info", "--csv", path).splitlines()[1].split(",")[5] == "20"
        assert len(run("dump", path).splitlines()) == 21


# --- What is missing -----------------------------------------------------


def test_nan_and_the_unusable_value_are_missing_everywhere(tmp_path):
    path = raw_bottle(tmp_path / "m.bot", 40, [1, np.nan, 999999, 4, np.nan], begin=60.0)
    with zulukit.open(path) as b:
        assert b.read(masked=True).mask.tolist() == [False, True, True, False, True]
        assert b.to_pandas().isna().tolist() == [False, True, True, False, True]
    assert np.isnan(xr.open_dataset(path).value.values).tolist() == [False, True, True, False, True]
    stats = zulukit.stats(path)
    assert (stats["usable"], stats["unusable"], stats["nan"], stats["mean"]) == (2, 3, 2, 2.5)
    assert zulukit.gaps(path, runs=True) == [(path, "1970-01-01T00:01:01.000Z", "1970-01-01T00:01:02.000Z", 2),
                                             (path, "1970-01-01T00:01:04.000Z", "1970-01-01T00:01:04.000Z", 1)]
    # Where two files overlap, a NaN gives way to a usable sample.
    other = raw_bottle(tmp_path / "n.bot", 40, [7, 8], begin=61.0)
    assert zulukit.open_archive([path, other]).value.values[1:3].tolist() == [7, 8]
    if BOTTLE:
        assert [line.split(",")[1] for line in run("dump", path).splitlines()[1:]] == ["1", "", "", "4", ""]


# --- Memory: nothing grows with the archive ------------------------------

YEAR = r"""
import glob, json, sys
import xarray, zulukit

def peak():
    # The high-water mark of this program's memory (ru_maxrss would count
    # the process it was forked from as well).
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096
paths = sorted(glob.glob(sys.argv[1] + "/*.bot"))
ds = zulukit.open_archive(paths)
growth = {}
for name, take in [("sel", lambda: ds.sel(time="2015-07-01T12:00:00.01").value.values),
                   ("minute", lambda: ds.sel(time=slice("2015-07-01T12:00", "2015-07-01T12:01")).value.values),
                   ("isel", lambda: ds.isel(time=-1).value.values), ("last", lambda: ds.value[-1].values),
                   ("time", lambda: ds.time[-1].values)]:
    take()
    before = rss()
    for _ in range(20):
        take()
    growth[name] = rss() - before
print(json.dumps({"samples": ds.sizes["time"], "peak": peak(),
                  "growth": growth}))
"""


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer's own memory")
def test_a_year_at_100_hz_opens_in_little_memory(tmp_path):
    for day in range(365):  # sparse files: the samples read as 0
        with zulukit.create(tmp_path / f"{day:03d}.bot", np.datetime64("2015-01-01") + np.timedelta64(day, "D"),
                            0.01, "float"):
            pass
        os.truncate(tmp_path / f"{day:03d}.bot", 40 + 4 * 8_640_000)
    done = subprocess.run([sys.executable, "-c", YEAR, str(tmp_path)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    got = json.loads(done.stdout)
    assert got["samples"] == 365 * 8_640_000
    assert got["peak"] < 150 * 2**20, got
    assert max(got["growth"].values()) < 2**20, got


# --- Attributes that stay true -------------------------------------------


def test_a_slice_describes_itself(tmp_path):
    path = str(tmp_path / "day.bot")
    with zulukit.create(path, np.datetime64("2015-06-23"), 0.01, "float") as b:
        b.write(b.begin, np.arange(8640, dtype=np.float32))
    ds = xr.open_dataset(path)
    assert ds.attrs == {"interval": 0.01, "type": "float", "unusable": np.float32(999999)}
    assert (ds.encoding["source"], ds.encoding["count"], ds.encoding["nsam"]) == (path, 8640, 8640)
    part = ds.sel(time=slice("2015-06-23T00:00:10", "2015-06-23T00:00:20"))
    assert part.attrs == ds.attrs and part.sizes["time"] == 1001
    if _zulukit.can_export():
        pytest.importorskip("netCDF4")
        part.to_netcdf(tmp_path / "part.nc")
        with xr.open_dataset(tmp_path / "part.nc", engine="netcdf4") as back:
            assert set(back.attrs) == {"interval", "type", "unusable"}
            assert back.value.dtype == np.float32 and back.value.encoding["dtype"] == np.float32
            np.testing.assert_array_equal(back.time.values, part.time.values)
            np.testing.assert_array_equal(back.value.values, np.arange(1000, 2001))
