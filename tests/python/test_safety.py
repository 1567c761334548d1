"""zulukit.Bottle under misuse and demanding use: threads, refused values
and bottles, indexing, the header, views, pickling and files past 2 GiB."""

import os
import pickle
import struct
import subprocess
import sys
import threading

import numpy as np
import pytest

import zulukit

N = 200_000


def test_threads_reading_writing_and_closing_shared_and_own_bottles(tmp_path):
    values = np.arange(N, dtype=np.int32)
    with zulukit.create(tmp_path / "shared.bot", 0, 1, "long") as b:
        b.write(0, values)
    wrong, closed_errors, reads, barrier = [], [], [], threading.Barrier(8)
    halfway = threading.Event()

    def reader(b, k):
        barrier.wait()
        for round_ in range(300):
            first = (k * 7919 + round_ * 104729) % N
            try:  # windows long enough that close() comes in the middle of some
                got = b.read(first, N) if round_ % 2 else b[first:first + N]
            except ValueError as e:
                closed_errors.append(str(e))
                return
            except Exception as e:  # noqa: BLE001 - anything else is wrong, and a thread's own is not raised here
                wrong.append(repr(e))
                return
            reads.append(k)
            if round_ == 100:
                halfway.set()
            if not np.array_equal(got[:N - first], values[first:first + N]):
                wrong.append((k, first))

    def writer(b, k):  # writers of one bottle share it by halves
        barrier.wait()
        for i in range(k * N // 2, (k + 1) * N // 2, 5000):
            b.write(i, values[i:i + 5000] * 2)

    def own(k):
        barrier.wait()
        with zulukit.create(tmp_path / f"own{k}.bot", 0, 1, "long", overwrite=True) as b:
            b.write(0, values)
            if not np.array_equal(b.read(), values):
                wrong.append(("own", k))

    def closer(b):  # while the readers are at it
        barrier.wait()
        halfway.wait()
        b.close()

    for _ in range(3):
        halfway.clear()
        read_shared = zulukit.open(tmp_path / "shared.bot")
        written = zulukit.create(tmp_path / "written.bot", 0, 1, "long", overwrite=True)
        work = [(reader, read_shared, k) for k in range(4)] + [(writer, written, k) for k in range(2)]
        threads = [threading.Thread(target=f, args=a) for f, *a in work]
        threads += [threading.Thread(target=own, args=(0,)), threading.Thread(target=closer, args=(read_shared,))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        written.close()
        assert not wrong and len(reads) > 100  # one reader at least was halfway
        assert set(closed_errors) <= {"I/O operation on closed bottle"} and read_shared.closed
        with zulukit.open(tmp_path / "written.bot") as b:
            assert np.array_equal(b.read(), values * 2)


@pytest.mark.parametrize("kind,unusable", [("int", 32767), ("long", 999999), ("float", 999999),
                                           ("double", 9999999)])
def test_refused_values_write_nothing(kind, unusable, tmp_path):
    with zulukit.create(tmp_path / "v.bot", 0, 1, kind) as b:
        b.write(0, [1, 2])
        dtype = b.dtype
        bad = [np.array([3, unusable], dtype=dtype), [3.0, float(unusable)], np.ma.masked_array([3, unusable]),
               [1 + 2j], np.ones((2, 2), dtype=dtype)]
        if kind == "float":
            bad.append(np.array([1.0, 1e-50]))
        for values in bad:
            with pytest.raises(ValueError):
                b.write(0, values)
        assert b.read().tolist() == [1, 2]
        appended = np.ones(300_000, dtype=dtype)  # written block by block past the end, then cut back
        appended[-1] = unusable
        with pytest.raises(ValueError, match="unusable"):
            b.write(5, appended)
        assert b.read().tolist() == [1, 2] and b.header.count == 2
        b.write(0, np.ma.masked_array([unusable, 4], mask=[1, 0]))
        assert b.read(masked=True).mask.tolist() == [True, False]
    if kind == "float":
        with zulukit.create(tmp_path / "s.bot", 0, 1, kind) as b:
            b.write(0, np.array([1e-40]))  # a subnormal float32, not 0
            assert b.read()[0] != 0


@pytest.mark.parametrize("begin,interval", [
    (0, -1), (0, float("nan")), (0, float("inf")), (0, 1e39), (0, 1e-50), (0, 0), (float("nan"), 1),
    (float("inf"), 1),
])
def test_create_refuses_begin_and_interval_and_makes_no_file(begin, interval, tmp_path):
    with pytest.raises(ValueError):
        zulukit.create(tmp_path / "c.bot", begin, interval, "float")
    assert os.listdir(tmp_path) == []


def test_new_bottle_replaces_the_old_only_on_close(tmp_path):
    path = tmp_path / "o.bot"
    with zulukit.create(path, 0, 1, "long") as b:
        b.write(0, [1, 2, 3])
        assert not path.exists()
    old = path.read_bytes()
    b = zulukit.create(path, 0, 1, "long", overwrite=True)
    b.write(0, [7])
    assert path.read_bytes() == old and zulukit.open(path).read().tolist() == [1, 2, 3]
    b.close()
    assert zulukit.open(path).read().tolist() == [7] and os.listdir(tmp_path) == ["o.bot"]
    racing = zulukit.create(tmp_path / "r.bot", 0, 1, "long")
    (tmp_path / "r.bot").write_bytes(b"theirs")  # made meanwhile: not replaced
    with pytest.raises(FileExistsError):
        racing.close()
    assert (tmp_path / "r.bot").read_bytes() == b"theirs" and sorted(os.listdir(tmp_path)) == ["o.bot", "r.bot"]
    dropped = zulukit.create(tmp_path / "d.bot", 0, 1, "long")
    dropped.write(0, [5])
    del dropped  # kept, as a file object that goes keeps what was written
    assert zulukit.open(tmp_path / "d.bot").read().tolist() == [5]


def test_indexing_as_numpy_does(tmp_path):
    values = np.arange(20, dtype=np.float64) * 1.5
    with zulukit.create(tmp_path / "i.bot", 0, 1, "double") as b:
        b.write(0, values)
        assert len(b) == 20
        for key in [slice(None), slice(3, 9), slice(-5, None), slice(None, None, -3), slice(17, 2, -4),
                    slice(5, 2), slice(-100, 100, 7), 0, 19, -1, -20]:
            np.testing.assert_array_equal(b[key], values[key])
        for key in [20, -21]:
            with pytest.raises(IndexError):
                b[key]


def test_header_memmap_and_pickling(tmp_path):
    path = tmp_path / "h.bot"
    # doff 44 and spare fields set: a header the library reads as it is.
    path.write_bytes(struct.pack("<hhidfiiiii", 349, 7, 44, 10.0, 0.5, 99, 1, -5, 8, 9) + b"\0" * 4 +
                     struct.pack("<3i", 4, -5, 6))
    with zulukit.open(path) as b:
        h = b.header
        assert h == (349, 7, 44, 10.0, 0.5, 99, 1, -5, 8, 9, 3) and h.doff == 44 and h.count == 3
        view = b.memmap()
        assert isinstance(view, np.memmap) and view.tolist() == [4, -5, 6] and not view.flags.writeable
        window = b.read(10.5, 2, copy=False)
        assert isinstance(window, np.memmap) and window.tolist() == [-5, 6]
        with pytest.raises(ValueError):
            b.read(10.5, 5, copy=False)  # reaches past the stored samples
        again = pickle.loads(pickle.dumps(b))
        assert (again.path, again.mode, again.read().tolist()) == (b.path, "r", [4, -5, 6])
        again.close()
    assert view.tolist() == [4, -5, 6]  # the view outlives the bottle
    child = subprocess.run([sys.executable, "-c", "import pickle, sys; print(pickle.load(sys.stdin.buffer).count)"],
                           input=pickle.dumps(zulukit.open(path)), capture_output=True, env=os.environ)
    assert child.stdout.strip() == b"3", child.stderr


def test_files_past_two_gib_open_with_a_warning(tmp_path):
    path = tmp_path / "big.bot"
    with open(path, "wb") as f:
        f.write(struct.pack("<hhidfiiiii", 349, 0, 40, 0.0, 1.0, 0, 2, 999999, 0, 0))
        f.truncate(3 << 30)  # sparse
    with pytest.warns(RuntimeWarning, match="the file holds 805306358 samples; a bottle reaches only the first "
                                            "536870901"):
        b = zulukit.open(path)
    assert len(b) == b.header.count == 536870901
    b.close()


# Run in a child whose largest file is 20 bytes: the header write fails.
SHORT_HEADER = """
import os, resource, signal, sys, zulukit
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (20, 20))
before = len(os.listdir("/proc/self/fd"))
for _ in range(50):
    try:
        zulukit.create(sys.argv[1], 0, 1, "double")
    except OSError as e:
        error = e.errno
print(error, len(os.listdir("/proc/self/fd")) - before, os.listdir(os.path.dirname(sys.argv[1])))
"""


def test_a_failed_header_write_leaves_no_descriptor_or_file(tmp_path):
    run = subprocess.run([sys.executable, "-c", SHORT_HEADER, str(tmp_path / "s.bot")], capture_output=True,
                         text=True, env=os.environ)
    assert run.stdout.split(None, 2) == ["27", "0", "[]\n"], run.stderr
