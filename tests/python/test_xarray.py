"""Bottles through xarray and Dask: the zulukit engine, lazy reads, the
time axis, archives and a dask.distributed computation."""

import os
import pickle
import subprocess
import sys
import threading
from fractions import Fraction

import numpy as np
import pytest

import zulukit

xr = pytest.importorskip("xarray")
from zulukit import xarray_backend  # noqa: E402 (needs xarray)

DAY = np.datetime64("2015-06-23", "ns")
TEN_MS = np.timedelta64(10, "ms")


def seconds(t):
    """The double nearest to the time t (numpy.datetime64)."""
    return float(Fraction(int(t.astype("datetime64[ns]").astype(np.int64)), 10**9))


def bottle(path, begin, values, kind="float", interval=0.01):
    with zulukit.create(path, seconds(begin), interval, kind, overwrite=True) as b:
        b.write(seconds(begin), values)
    return str(path)


def bytes_read():
    """The bytes this process has read so far, by the system's count."""
    with open("/proc/self/io") as io:
        return next(int(line.split()[1]) for line in io if line.startswith("rchar:"))


@pytest.mark.parametrize("kind, stored, masked", [
    ("int", np.int16, np.float32), ("long", np.int32, np.float64),
    ("float", np.float32, np.float32), ("double", np.float64, np.float64)])
def test_every_type_through_the_entry_point(tmp_path, kind, stored, masked):
    path = bottle(tmp_path / "day.data", DAY, [1, -2, np.nan, 30000], kind)  # found by its magic number
    with zulukit.open(path) as b:
        unusable = b.unusable
    ds = xr.open_dataset(path)
    assert ds.value.dtype == masked
    np.testing.assert_array_equal(ds.value.values, [1, -2, np.nan, 30000])
    np.testing.assert_array_equal(ds.time.values, DAY + np.arange(4) * TEN_MS)
    assert ds.attrs == {"interval": 0.01, "type": kind, "unusable": unusable}
    assert ds.encoding["magic"] == 349 and ds.encoding["doff"] == 40 and ds.encoding["usym"] == int(unusable)
    assert ds.encoding["begin"] == seconds(DAY) and ds.encoding["interval"] == np.float32(0.01)
    assert ds.encoding["count"] == 4 and ds.encoding["source"] == path
    assert ds.value.encoding["_FillValue"] == unusable
    raw = xr.open_dataset(path, engine="zulukit", mask_and_scale=False).value
    assert raw.dtype == stored and raw.attrs["_FillValue"] == unusable
    np.testing.assert_array_equal(raw.values, np.array([1, -2, unusable, 30000], stored))


@pytest.mark.parametrize("interval, steps_ns", [
    (1 / 3, [0, 333_333_333, 666_666_667, 1_000_000_000]), (2.5, [0, 2_500_000_000, 5_000_000_000, 7_500_000_000]),
    (0.3, [0, 300_000_000, 600_000_000, 900_000_000]), (0.0, None)])
def test_times_on_the_nominal_grid(tmp_path, interval, steps_ns):
    begin = DAY + np.timedelta64(123, "ms")  # no double holds it exactly
    path = bottle(tmp_path / "b.bot", begin, [1, 2, 3, 4], interval=interval or 1.0)
    if interval == 0:  # which zulukit.create refuses: the header's interval set by hand
        with open(path, "r+b") as f:
            f.seek(16)
            f.write(np.float32(0).tobytes())
    ds = xr.open_dataset(path)
    if steps_ns is None:  # an interval of 0 has no times
        assert "time" not in ds.coords and ds.value.size == 4
    else:
        np.testing.assert_array_equal(ds.time.values, begin + np.array(steps_ns, "timedelta64[ns]"))


def test_not_a_bottle(tmp_path):
    text = tmp_path / "notes.txt"
    text.write_text("time,value\n")
    backend = xarray_backend.ZulukitBackendEntrypoint()
    assert not backend.guess_can_open(str(text)) and not backend.guess_can_open(tmp_path / "missing")
    assert backend.guess_can_open("anything.bot")
    os.mkfifo(tmp_path / "fifo")  # no writer: opening it to read would wait for one
    guessed = []
    guessing = threading.Thread(target=lambda: guessed.append(backend.guess_can_open(tmp_path / "fifo")), daemon=True)
    guessing.start()
    guessing.join(10)
    assert guessed == [False]
    with pytest.raises(zulukit.BottleError):
        xr.open_dataset(text, engine="zulukit")


# Run in a fresh interpreter whose import of the extension fails.
NO_EXTENSION = """
import sys
import zulukit.xarray_backend
assert "zulukit._zulukit" not in sys.modules and "zulukit._core" not in sys.modules
class Refuse:
    def find_spec(self, name, path=None, target=None):
        if name == "zulukit._zulukit":
            raise ImportError("no extension here")
sys.meta_path.insert(0, Refuse())
import xarray
assert "zulukit" in xarray.backends.list_engines()
try:
    xarray.open_dataset(sys.argv[1])
except ImportError as e:
    print(e)
"""


def test_engine_listed_when_the_extension_cannot_load(tmp_path):
    path = bottle(tmp_path / "day.bot", DAY, [1.0])
    run = subprocess.run([sys.executable, "-c", NO_EXTENSION, path], capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (0, "no extension here\n"), run.stderr


def test_samples_begin_at_the_data_offset(tmp_path):
    path = tmp_path / "off.bot"
    header = np.array([(349, 0, 48, 0.0, 1.0, 0, 2, 999999, 0, 0)], "<i2,<i2,<i4,<f8,<f4,<i4,<i4,<i4,<i4,<i4")
    path.write_bytes(header.tobytes() + b"\xff" * 8 + np.arange(1, 6, dtype="<f4").tobytes() + b"\0\0")
    ds = xr.open_dataset(path, engine="zulukit")
    np.testing.assert_array_equal(ds.value.values, [1, 2, 3, 4, 5])
    np.testing.assert_array_equal(ds.value[[0, 4]].values, [1, 5])


def test_nothing_read_before_values_and_outer_indexing(tmp_path):
    n = 1_000_000
    path = bottle(tmp_path / "long.bot", DAY, -np.arange(n, dtype=np.float32))  # none unusable
    xr.open_dataset(path, chunks={"sample": 300_000}, time_index=False)  # the modules it imports are read
    before = bytes_read()
    ds = xr.open_dataset(path, time_index=False)
    lazy = xr.open_dataset(path, chunks={"sample": 300_000}, time_index=False)
    assert lazy.value.data.chunks == ((300_000,) * 3 + (100_000,),)
    assert bytes_read() - before < 100_000  # headers and xarray's list of engines, not 4 MB of samples
    before = bytes_read()
    np.testing.assert_array_equal(ds.value[[5, 999_000]].values, [-5, -999_000])
    assert bytes_read() - before < 100_000  # two samples, not the 4 MB between
    assert float(lazy.value.astype(np.float64).sum().compute()) == -n * (n - 1) / 2
    np.testing.assert_array_equal(ds.value[-3:].values, [3 - n, 2 - n, 1 - n])
    np.testing.assert_array_equal(ds.value[999_990::4].values, [-999_990, -999_994, -999_998])
    os.truncate(path, 40 + 4 * 10)  # samples the file no longer holds are unusable
    np.testing.assert_array_equal(ds.value[[5, 999_000]].values, [-5, np.nan])
    np.testing.assert_array_equal(ds.value[8:12].values, [-8, -9, np.nan, np.nan])


@pytest.mark.parametrize("chunks", [None, {"sample": 7}])
def test_slices_with_negative_steps(tmp_path, chunks):
    path = bottle(tmp_path / "b.bot", DAY, np.arange(100, dtype=np.float32))
    ds = xr.open_dataset(path, time_index=False, chunks=chunks)
    times = DAY + np.arange(100) * TEN_MS
    for key in [slice(None, None, -30), slice(50, 10, -20), slice(-1, -5, -3), slice(10, 50, -1)]:
        np.testing.assert_array_equal(ds.value[key].values, np.arange(100)[key])
        np.testing.assert_array_equal(ds.value[5:][key].values, np.arange(5, 100)[key])
        np.testing.assert_array_equal(ds.time[key].values, times[key])


def test_pickled_arrays_hold_no_samples(tmp_path):
    path = bottle(tmp_path / "day.bot", DAY, np.arange(100_000, dtype=np.float32))
    blobs = [pickle.dumps(xr.open_dataset(path, chunks=chunks, time_index=index))
             for chunks in (None, {"sample": 10_000}) for index in (False,)] + \
        [pickle.dumps(xr.open_dataset(path)), pickle.dumps(zulukit.open_archive([path], chunks={"time": 10_000}))]
    assert max(len(b) for b in blobs) < 20_000  # 400 kB of samples
    with zulukit.open(path, "r+") as b:  # read when computed, not before
        b.write(0.0 + seconds(DAY), np.full(100_000, 7, np.float32))
    assert [float(pickle.loads(b).value.mean()) for b in blobs] == [7, 7, 7, 7]


def test_time_accessor_without_an_index(tmp_path):
    path = bottle(tmp_path / "day.bot", DAY, np.arange(8640, dtype=np.float32))
    ds = xr.open_dataset(path, time_index=False)
    assert not ds.indexes and ds.time.dims == ("sample",)
    assert ds.time.variable._in_memory is False
    part = ds.bottle.sel(time=slice("2015-06-23T00:00:01", DAY + np.timedelta64(2000, "ms")))
    np.testing.assert_array_equal(part.value.values, np.arange(100, 201))
    np.testing.assert_array_equal(part.time.values, DAY + np.arange(100, 201) * TEN_MS)
    indexed = xr.open_dataset(path)
    window = slice(DAY + np.timedelta64(1, "s"), DAY + np.timedelta64(2, "s"))
    assert indexed.value.sel(time=window).equals(indexed.bottle.sel(time=window).value)
    assert float(ds.bottle.sel(time="2015-06-23T00:01:00.0004").value) == 6000  # within the tolerance
    with pytest.raises(KeyError):
        ds.bottle.sel(time="2015-06-23T00:01:00.005")
    assert ds.bottle.sel(time=slice("2016-01-01", None)).sizes["sample"] == 0
    assert float(ds.isel(sample=slice(50, 150)).bottle.sel(time=DAY + np.timedelta64(1, "s")).value) == 100
    for other in (slice(None, None, 2), slice(None, None, -1)):  # not consecutive samples of the grid
        with pytest.raises(ValueError, match="consecutive samples"):
            ds.isel(sample=other).bottle.sel(time=DAY + np.timedelta64(1, "s"))


def test_consecutive_days_at_100_hz_in_open_mfdataset(tmp_path):
    per_day = 8_640_000
    for d in range(2):
        bottle(tmp_path / f"day{d}.bot", DAY + np.timedelta64(d, "D"), np.full(per_day, d, np.int16), "int")
    ds = xr.open_mfdataset(str(tmp_path / "day*.bot"), engine="zulukit")
    assert ds.sizes["time"] == 2 * per_day
    assert (np.diff(ds.time.values) == TEN_MS).all()  # no drift, no seam
    assert ds.time.values[per_day] == DAY + np.timedelta64(1, "D")
    assert float(ds.value.sum()) == per_day


@pytest.fixture
def archive(tmp_path):
    """Three 100 Hz bottles about midnight: the second overlaps the first
    for 5 s and fills its one unusable sample; a gap of 40 s before the
    third."""
    night = DAY + np.timedelta64(1, "D")
    first = np.arange(2000, dtype=np.float32)
    first[1500] = np.nan
    second = np.arange(1500, 2500, dtype=np.float32)
    return [bottle(tmp_path / "a.bot", night - np.timedelta64(10, "s"), first),
            bottle(tmp_path / "b.bot", night + np.timedelta64(5, "s"), second),
            bottle(tmp_path / "c.bot", night + np.timedelta64(60, "s"), np.arange(100, dtype=np.float32))]


def test_open_archive_gap_and_overlap(archive):
    zulukit.open_archive(archive, chunks={"time": 1000})  # the modules it imports are read
    before = bytes_read()
    ds = zulukit.open_archive([archive[2], archive[0], archive[1]], chunks={"time": 1000})
    assert bytes_read() - before < 100_000 and ds.sizes["time"] == 7100
    values = ds.value.values
    np.testing.assert_array_equal(values[:2500], np.arange(2500))
    assert np.isnan(values[2500:7000]).all()
    np.testing.assert_array_equal(values[7000:], np.arange(100))
    np.testing.assert_array_equal(ds.time.values[[0, 7099]], [DAY + np.timedelta64(86390, "s"),
                                                              DAY + np.timedelta64(86460990, "ms")])
    long = zulukit.open_archive(archive, time_index=False)
    assert not long.indexes and float(long.bottle.sel(time=DAY + np.timedelta64(86460, "s")).value) == 0


def test_open_archive_overlap_rules(archive, tmp_path):
    differing = bottle(tmp_path / "d.bot", DAY + np.timedelta64(86391, "s"), [100, 1, 2], "float")
    joined = zulukit.open_archive([archive[0], differing])
    with pytest.raises(ValueError, match="first at 2015-06-23T23:59:51.010Z .in .*d.bot"):
        joined.value.values
    assert float(joined.value[100]) == 100  # only the samples read are merged
    assert float(zulukit.open_archive([archive[0], differing], overlap="first").value[101]) == 101
    assert float(zulukit.open_archive([archive[0], differing], overlap="last").value[101]) == 1
    other = [bottle(tmp_path / "e.bot", DAY, [1], "double"), bottle(tmp_path / "f.bot", DAY, [1], "float", 0.02),
             bottle(tmp_path / "g.bot", DAY + np.timedelta64(5, "ms"), [1])]
    for path, why in zip(other, ["of type double", "interval", "does not begin on the grid"]):
        with pytest.raises(ValueError, match=why):
            zulukit.open_archive([archive[0], path])


def test_distributed_statistics(tmp_path):
    distributed = pytest.importorskip("dask.distributed")
    rng = np.random.default_rng(5)
    paths = []
    for d in range(4):  # consecutive bottles: the archive is their samples in turn
        values = rng.standard_normal(50_000).astype(np.float32)
        values[rng.integers(0, 50_000, 100)] = np.nan
        paths.append(bottle(tmp_path / f"p{d}.bot", DAY + d * 50_000 * TEN_MS, values))
    per_file = [zulukit.stats(p) for p in paths]
    usable = sum(f["usable"] for f in per_file)
    expected = [sum(f["count"] for f in per_file), usable, sum(f["unusable"] for f in per_file),
                min(f["min"] for f in per_file), max(f["max"] for f in per_file),
                sum(f["mean"] * f["usable"] for f in per_file) / usable]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        value = zulukit.open_archive(paths, chunks={"time": 30_000}).value
        usable, low, high, mean = client.compute([value.count(), value.min(), value.max(),
                                                  value.astype(np.float64).mean()], sync=True)
    got = [value.size, float(usable), value.size - float(usable), float(low), float(high), float(mean)]
    assert got == pytest.approx(expected, rel=1e-12)
