"""The archive jobs from Python and from the bottle command: one code, the
same bytes and rows, on the nominal time grid."""

import os
import struct
import subprocess

import numpy as np
import pytest

import zulukit
from zulukit import _zulukit

BOTTLE = os.environ.get("ZULU_BOTTLE")
MIDNIGHT = 1435017600.0  # 2015-06-23T00:00:00Z
DAY = 86400.0


def write_bottle(path, begin, interval, values, type_=0, usym=32767):
    """A bottle written byte by byte, as a recorder would leave it."""
    dtype = ["<i2", "<i4", "<f4", "<f8"][type_]
    data = np.asarray(values, dtype=dtype)
    path.write_bytes(struct.pack("<hhidfiiiii", 349, 0, 40, begin, interval, len(data), type_, usym, 0, 0)
                     + data.tobytes())
    return path


def command(*args, check=True):
    r = subprocess.run([BOTTLE, *map(str, args)], capture_output=True, text=True)
    if check:
        assert r.returncode == 0, r.stderr
    return r


def dump_times(path, *options):
    return [line.split(",")[0] for line in command("dump", path, *options).stdout.splitlines()[1:]]


needs_command = pytest.mark.skipif(not BOTTLE, reason="needs the bottle command (ZULU_BOTTLE)")


@needs_command
@pytest.mark.parametrize("interval", [1 / 3, 0.1, 2.5, 60.0])
def test_ten_daily_bottles_join_without_a_gap(interval, tmp_path):
    per_day = round(DAY / interval)
    days = [write_bottle(tmp_path / f"d{d}.bot", MIDNIGHT + DAY * d, interval, np.arange(per_day) % 1000)
            for d in range(10)]
    zulukit.cat(tmp_path / "all.bot", days)
    assert zulukit.stats(tmp_path / "all.bot")["unusable"] == 0
    assert zulukit.stats(tmp_path / "all.bot")["count"] == 10 * per_day
    for d, date in ((1, "2015-06-24"), (5, "2015-06-28"), (9, "2015-07-02")):
        t = MIDNIGHT + DAY * d
        assert dump_times(tmp_path / "all.bot", "--from", f"@{t}", "--count", "1") == [date + "T00:00:00.000Z"]


@needs_command
@pytest.mark.parametrize("rate", [20, 40, 100, 200])
def test_the_next_midnight_lies_on_the_grid_of_the_day_before(rate, tmp_path):
    per_day = DAY * rate
    first = write_bottle(tmp_path / "a.bot", MIDNIGHT, 1 / rate, [1, 2])
    second = write_bottle(tmp_path / "b.bot", MIDNIGHT + DAY, 1 / rate, [3])
    zulukit.cat(tmp_path / "ab.bot", [second, first])
    assert zulukit.stats(tmp_path / "ab.bot") == dict(count=per_day + 1, usable=3, unusable=per_day - 2, nan=0,
                                                       min=1, max=3, mean=2.0)
    assert dump_times(tmp_path / "ab.bot", "--from", "2015-06-24", "--count", "1") == ["2015-06-24T00:00:00.000Z"]
    # The last sample of the day is labelled as the recorder's clock has it.
    assert dump_times(tmp_path / "ab.bot", "--from", "2015-06-23T23:59:59.9")[-2] == \
        f"2015-06-23T23:59:59.{1000 - 1000 // rate:03d}Z"


@needs_command
@pytest.mark.parametrize("interval", [0.001, 0.01, 0.1, 1 / 3, 60.0])
def test_cut_keeps_exactly_the_samples_dump_labels_within_its_times(interval, tmp_path):
    src = write_bottle(tmp_path / "s.bot", MIDNIGHT + 0.25, interval, np.arange(100000) % 30000)
    labels = dump_times(src)
    rng = np.random.default_rng(7)
    for a, b in sorted(rng.integers(0, len(labels), size=(4, 2)).tolist()):
        a, b = min(a, b), max(a, b)
        command("cut", src, tmp_path / "c.bot", "--from", labels[a], "--to", labels[b], "--force")
        assert dump_times(tmp_path / "c.bot") == labels[a:b + 1]


@needs_command
def test_the_command_and_python_give_the_same_bytes_and_rows(tmp_path):
    a = write_bottle(tmp_path / "a.bot", MIDNIGHT, 0.01, [1, 32767, 32767, 4, 5, 32767])
    b = write_bottle(tmp_path / "b,c.bot", MIDNIGHT + 0.04, 0.01, [5, 32767, 7, 8])
    command("cut", a, tmp_path / "cut1.bot", "--from", "2015-06-23T00:00:00.01", "--to", "@1435017600.04")
    zulukit.cut(a, tmp_path / "cut2.bot", "2015-06-23T00:00:00.01", np.datetime64("2015-06-23T00:00:00.04"))
    assert (tmp_path / "cut1.bot").read_bytes() == (tmp_path / "cut2.bot").read_bytes()
    command("cat", tmp_path / "cat1.bot", a, b)
    zulukit.cat(tmp_path / "cat2.bot", [a, b])
    assert (tmp_path / "cat1.bot").read_bytes() == (tmp_path / "cat2.bot").read_bytes()
    import csv
    for runs in ([], ["--runs"]):
        rows = list(csv.reader(command("gaps", a, b, tmp_path / "cat1.bot", *runs).stdout.splitlines()))
        assert rows[0] == (["file", "start", "end", "samples"] if runs else
                           ["kind", "file", "start", "end", "samples", "other", "detail"])
        count = 3 if runs else 4  # the column of the sample counts
        assert [tuple(r[:count]) + (int(r[count]),) + tuple(r[count + 1:]) for r in rows[1:]] == \
            zulukit.gaps([a, b, tmp_path / "cat1.bot"], runs=bool(runs))
    info = command("info", "--csv", "--stats", tmp_path / "cat1.bot").stdout.splitlines()[1].split(",")
    s = zulukit.stats(tmp_path / "cat1.bot")
    assert [int(info[5]), int(info[6]), int(info[7]), int(info[8]), float(info[9]), int(info[10])] == \
        [s["count"], s["unusable"], s["min"], s["max"], s["mean"], s["nan"]]


def test_failures_are_exceptions_and_leave_outputs_alone(tmp_path):
    a = write_bottle(tmp_path / "a.bot", 0.0, 1.0, [1, 2])
    off = write_bottle(tmp_path / "off.bot", 0.5, 1.0, [3])
    (tmp_path / "old.bot").write_bytes(b"old")
    (tmp_path / "text").write_bytes(b"not a bottle at all")
    with pytest.raises(FileExistsError):
        zulukit.cut(a, tmp_path / "old.bot")
    with pytest.raises(FileNotFoundError):
        zulukit.cut(tmp_path / "none.bot", tmp_path / "x.bot")
    with pytest.raises(zulukit.BottleError):
        zulukit.stats(tmp_path / "text")
    with pytest.raises(ValueError, match="does not begin on the grid"):
        zulukit.cat(tmp_path / "x.bot", [a, off])
    with pytest.raises(ValueError, match="overlap must be"):
        zulukit.cat(tmp_path / "x.bot", [a], overlap="both")
    with pytest.raises(ValueError, match="the interval is 0"):
        zulukit.cut(write_bottle(tmp_path / "z.bot", 0.0, 0.0, [1]), tmp_path / "x.bot", start=0.0)
    assert (tmp_path / "old.bot").read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.bot", "off.bot", "old.bot", "text", "z.bot"]
    zulukit.cut(a, tmp_path / "old.bot", force=True)
    assert zulukit.stats(tmp_path / "old.bot")["count"] == 2


@pytest.mark.skipif(not _zulukit.can_export(), reason="built without netCDF")
@pytest.mark.parametrize("interval", [1 / 3, 0.01, 0.001, 60.0])
def test_exported_times_decode_to_the_nominal_grid(interval, tmp_path):
    xarray = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    n = 200000 if interval < 1 else 2000
    src = write_bottle(tmp_path / "s.bot", MIDNIGHT + 0.5, interval, np.arange(n) % 1000)
    zulukit.export(src, tmp_path / "s.nc", units="K")
    with xarray.open_dataset(tmp_path / "s.nc", engine="netcdf4") as ds:
        got = ds["time"].values.astype("datetime64[ns]").astype(np.int64)
        assert ds["value"].attrs["units"] == "K"
    # The samples' own stamps: where no coarser unit holds them exactly (1/3
    # s), nanoseconds.
    assert np.array_equal(got, zulukit.open(src).times(unit="ns").astype(np.int64))
    i = np.arange(n, dtype=np.int64)
    begin = int((MIDNIGHT + 0.5) * 10**6) * 1000
    if interval < 1:
        rate = round(1 / interval)
        want = begin + (2 * i * 10**9 + rate) // (2 * rate)  # i / rate to the nearest nanosecond
    else:
        want = begin + i * round(interval * 10**9)
    assert np.array_equal(got, want.astype(np.int64))
