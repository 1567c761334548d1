"""zulukit.Bottle: reading and writing bottles as numpy arrays."""

import datetime
import os
import pathlib
import struct
import subprocess
import sys
import threading

import numpy as np
import pytest

import zulukit

GOLDEN = pathlib.Path(os.environ["ZULU_GOLDEN_DIR"])
DTYPES = [(np.int16, "int", 32767), (np.int32, "long", 999999), (np.float32, "float", 999999),
          (np.float64, "double", 9999999)]


def header(beg=0.0, ivl=1.0, nsam=0, type_=2, usym=999999, magic=349):
    return struct.pack("<hhidfiiiii", magic, 0, 40, beg, ivl, nsam, type_, usym, 0, 0)


# long.bot has an interval of 0, which create refuses (see the grid tests).
@pytest.mark.parametrize("name", ["int.bot", "float.bot", "double.bot"])
def test_golden_files_read_and_written_byte_for_byte(name, tmp_path):
    golden = GOLDEN / name
    with zulukit.open(golden) as b:
        values = b.read(masked=True)  # the unusable value is written as missing, not as data
        assert len(values) == len(b) == b.count == 800
        begin, interval, dtype = b.begin, b.interval, b.dtype
        assert repr(b).endswith(f"{b.count}>")
    copy = tmp_path / name
    with zulukit.create(copy, begin, interval, dtype) as b:
        b.write(begin, values)
    assert copy.read_bytes() == golden.read_bytes()


@pytest.mark.parametrize("dtype,name,unusable", DTYPES)
def test_every_type_round_trips_with_padding_and_windows_outside(dtype, name, unusable, tmp_path):
    path = tmp_path / "b.bot"
    data = np.array([-3, 0, 7], dtype=dtype)
    with zulukit.create(path, 100.0, 10.0, name) as b:
        assert b.dtype == np.dtype(dtype) and b.unusable == unusable and b.count == 0
        b.write(100.0, data)
        b.write(100.0 + 5 * 10, data[:1])  # a gap of two samples, padded
        b.write(100.0 - 2 * 10, data)  # the first two values fall before sample 0 and are dropped
    with zulukit.open(path) as b:
        assert b.count == 6 and b.end == 150.0
        u = b.unusable
        np.testing.assert_array_equal(b.read(), np.array([7, 0, 7, u, u, -3], dtype=dtype))
        np.testing.assert_array_equal(b.read(70.0, 4), np.array([u, u, u, 7], dtype=dtype))
        np.testing.assert_array_equal(b.read(140.0, 4), np.array([u, -3, u, u], dtype=dtype))
        assert b.read(1e12, 3).tolist() == [u] * 3
        assert b.read(masked=True).mask.tolist() == [False, False, False, True, True, False]
        when = datetime.datetime(1970, 1, 1, 0, 2, 30)  # naive: GMT
        assert b.read(when, 1)[0] == -3 and b.read(np.datetime64("1970-01-01T00:02:30"), 1)[0] == -3
        np.testing.assert_array_equal(b.times(110.0, 2), np.array(["1970-01-01T00:01:50", "1970-01-01T00:02:00"],
                                                                 dtype="datetime64[us]"))


def test_empty_bottle_reads_nothing_and_windows_of_unusable_values(tmp_path):
    path = tmp_path / "e.bot"
    zulukit.create(path, 0, 1, "double").close()
    with zulukit.open(path) as b:
        assert b.read().size == 0 and b.times().size == 0
        assert b.read(0, 2).tolist() == [9999999.0] * 2


def test_nan_masked_and_values_that_do_not_fit(tmp_path):
    path = tmp_path / "i.bot"
    with zulukit.create(path, 0, 1, np.int16) as b:
        b.write(0, np.ma.masked_array([1.0, np.nan, 3.0, 4.0], mask=[0, 0, 0, 1]))
        before = (b.header, b.read().tobytes())
        for bad in ([40000], [1.5], [-32769], [np.inf]):
            with pytest.raises(ValueError):
                b.write(0, bad)
        assert (b.header, b.read().tobytes()) == before
        assert b.read().tolist() == [1, 32767, 3, 32767]
    with zulukit.create(tmp_path / "f.bot", 0, 1, "float") as b:
        with pytest.raises(ValueError):
            b.write(0, [1e300])
        b.write(0, np.array([0.1, np.nan, np.inf]))
        assert b.read(masked=True).mask.tolist() == [False, True, False]


def test_int16_unusable_value_is_the_low_16_bits_of_the_header_field(tmp_path):
    path = tmp_path / "u.bot"
    path.write_bytes(header(type_=0, usym=0x10005, nsam=2) + struct.pack("<hh", 5, 6))
    with zulukit.open(path) as b:
        assert b.unusable == 5
        assert b.read(masked=True).mask.tolist() == [True, False]


def test_mode_r_writes_nothing_back(tmp_path):
    path = tmp_path / "r.bot"
    content = header(nsam=99) + struct.pack("<ff", 1, 2)  # a stored count that is wrong
    path.write_bytes(content)
    with zulukit.open(path) as b:
        assert b.count == 2
        with pytest.raises(OSError):
            b.write(0, [3.0])
    assert path.read_bytes() == content


@pytest.mark.parametrize("content,why", [
    (b"", "short"), (header()[:30], "short"), (header(magic=12), "magic"), (header(type_=7), "type"),
])
def test_files_that_are_not_bottles(content, why, tmp_path):
    path = tmp_path / "x.bot"
    path.write_bytes(content)
    with pytest.raises(zulukit.BottleError) as raised:
        zulukit.open(path)
    assert isinstance(raised.value, ValueError) and "x.bot" in str(raised.value)


def test_missing_existing_and_closed(tmp_path, capfd):
    with pytest.raises(FileNotFoundError) as raised:
        zulukit.open(tmp_path / "none.bot")
    assert raised.value.errno == 2
    zulukit.create(tmp_path / "a.bot", 0, 1, "long").close()
    with pytest.raises(FileExistsError):
        zulukit.create(tmp_path / "a.bot", 0, 1, "long")
    zulukit.create(tmp_path / "a.bot", 0, 1, "long", overwrite=True).close()
    with pytest.raises(ValueError):
        zulukit.create(tmp_path / "b.bot", 0, 1, "complex")
    b = zulukit.open(tmp_path / "a.bot")
    b.close()
    with pytest.raises(ValueError):
        b.read()
    assert capfd.readouterr() == ("", "")  # the library printed nothing


# Run in a child whose largest file is 4 KiB: writes past it fail with EFBIG.
FULL_DISK = """
import resource, signal, sys, numpy as np, zulukit
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
b = zulukit.create(sys.argv[1], 0, 1, "double")
try:
    b.write(0, np.zeros(10000))
except OSError as e:
    print("write", e.errno)
try:
    b.close()
except OSError as e:
    print("close", e.errno)
"""


def test_failed_writes_raise_oserror_and_print_nothing(tmp_path):
    run = subprocess.run([sys.executable, "-c", FULL_DISK, str(tmp_path / "full.bot")], capture_output=True,
                         text=True, env=os.environ)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[0] == "write 27" and run.stderr == ""


def test_threads_with_bottles_of_their_own(tmp_path):
    results = {}

    def work(k):
        path = tmp_path / f"t{k}.bot"
        values = np.arange(k * 100000, (k + 1) * 100000, dtype=np.int32)
        with zulukit.create(path, 0, 1, "long") as b:
            for i in range(0, values.size, 10000):
                b.write(i, values[i:i + 10000])
        with zulukit.open(path) as b:
            results[k] = np.array_equal(b.read(), values)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == {k: True for k in range(8)}


def test_to_pandas(tmp_path):
    pandas = pytest.importorskip("pandas")
    with zulukit.create(tmp_path / "p.bot", 0, 60, "float") as b:
        b.write(0, [1.0, np.nan, 3.0])
        s = b.to_pandas()
    assert isinstance(s.index, pandas.DatetimeIndex) and s.index[2] == pandas.Timestamp("1970-01-01 00:02")
    assert s.isna().tolist() == [False, True, False] and s.iloc[2] == 3.0
