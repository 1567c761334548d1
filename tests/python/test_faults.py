"""zulukit when the system fails it or files change under it: writes that
fail, files cut short after they were opened, jobs that meet a failed
system call, names as long as the file system allows, and dates formatted
with settings of their own."""

import ctypes
import errno
import itertools
import os
import subprocess
import sys

import numpy as np
import pytest

import zulukit
from zulukit import _zulukit

# --- Writes that fail -------------------------------------------------------

WINDOWS = [(200, np.arange(50.0)), (500, np.arange(30.0)), (100, np.array([1.0, np.nan, 3.0]))]


def _write_and_close(path, mode):
    """Opens path ("r+") or makes it anew ("w"), writes WINDOWS and closes:
    the OSError each step raised, by step."""
    raised = []
    try:
        b = zulukit.open(path, "r+") if mode == "r+" else zulukit.create(path, 0, 1, "double", overwrite=True)
    except OSError as e:
        return [("open", e)]
    for t, values in WINDOWS:
        try:
            b.write(t, values)
        except OSError as e:
            raised.append(("write", e))
    try:
        b.close()
    except OSError as e:
        raised.append(("close", e))
    return raised


@pytest.mark.skipif(not hasattr(_zulukit, "_fail_call"), reason="built without the tests' fault hook")
@pytest.mark.parametrize("mode", ["r+", "w"])
@pytest.mark.parametrize("kind,code", [("EIO", errno.EIO), ("ENOSPC", errno.ENOSPC)])
def test_every_failed_call_of_a_write_raises_and_the_header_counts_only_what_the_file_holds(mode, kind, code,
                                                                                           tmp_path):
    path = tmp_path / "f.bot"

    def reset():
        with zulukit.create(path, 0, 1, "double", overwrite=True) as b:
            b.write(0, np.arange(300.0))
        return path.read_bytes()

    reset()
    assert _write_and_close(path, mode) == []
    new = path.read_bytes()
    for n in itertools.count(1):
        old = reset()
        _zulukit._fail_call(kind, n)
        try:
            raised = _write_and_close(path, mode)
        finally:
            call, _ = _zulukit._stop_failing() or (None, False)
        if call is None:
            assert raised == [] and path.read_bytes() == new
            break
        assert os.listdir(tmp_path) == ["f.bot"], call
        if call != "fcntl":  # only asks whether the descriptor is writable
            assert raised, f"call {n} ({call}) failed unreported"
            assert all(e.errno == code for _, e in raised), (call, raised)
            assert raised[-1][0] in ("open", "close"), (call, raised)  # close() raises it again
        if mode == "w":
            assert path.read_bytes() in (old, new), call  # new only once renamed into place
        with zulukit.open(path) as b:
            assert b.header.nsam <= b.header.count, call
    assert n > 10


# Run in a child whose largest file is 4096 bytes: every write past that
# fails, each one in turn.
FULL_DISK = """
import resource, signal, sys, numpy as np, zulukit
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
b = zulukit.open(sys.argv[1], "r+")
raised = []
for i in range(4):
    try:
        b.write(100 + 1000 * i, np.ones(1000))
    except OSError as e:
        raised.append(e.errno)
try:
    b.close()
except OSError as e:
    raised.append(e.errno)
print(raised)
"""


def test_each_write_onto_a_full_disk_raises_and_so_does_close(tmp_path):
    path = tmp_path / "full.bot"
    with zulukit.create(path, 0, 1, "double") as b:
        b.write(0, np.arange(100.0))
    run = subprocess.run([sys.executable, "-c", FULL_DISK, str(path)], capture_output=True, text=True,
                         env=os.environ)
    assert run.stdout.strip() == str([errno.EFBIG] * 5), run.stderr
    with zulukit.open(path) as b:
        assert b.header.nsam == b.header.count == (4096 - 40) // 8
        assert b.read(0, 100).tolist() == list(range(100))


# --- Files cut short after they were opened ---------------------------------


def test_samples_cut_off_after_open_read_as_the_unusable_value(tmp_path):
    path = tmp_path / "cut.bot"
    with zulukit.create(path, 0, 1, "float") as b:
        b.write(0, np.arange(1, 11))
    with zulukit.open(path) as b:
        os.truncate(path, 40 + 5 * 4)
        u = b.unusable
        assert b.read().tolist() == [1, 2, 3, 4, 5] + [u] * 5
        assert b.read(masked=True).mask.tolist() == [False] * 5 + [True] * 5
        assert b[-1] == u and np.isnan(b.to_pandas().iloc[-1])
    assert zulukit.stats(path)["count"] == 5


# --- Jobs that meet a failed system call ------------------------------------

BOTTLE = os.environ.get("ZULU_BOTTLE")
# The arguments of each job that writes dst from the bottle src, in Python
# and on the command line.
ARGUMENTS = {"cut": lambda src, dst: (src, dst), "cat": lambda src, dst: (dst, [src]),
             "export": lambda src, dst: (src, dst)}
WORDS = {"cut": lambda src, dst: ["cut", src, "-o", dst], "cat": lambda src, dst: ["cat", src, "-o", dst],
         "export": lambda src, dst: ["export", src, "-o", dst]}


def _run(name, src, dst, force=False):
    if name == "create":
        with zulukit.create(dst, 0, 1, "double", overwrite=force) as b:
            b.write(0, np.arange(300.0))
    else:
        getattr(zulukit, name)(*ARGUMENTS[name](src, dst), force=force)


def _command_message(words):
    """What the bottle command says for the words, less its own name."""
    run = subprocess.run([BOTTLE, *map(str, words)], capture_output=True, text=True)
    assert run.returncode == 1, run.stderr
    return run.stderr.strip().split(": ", 1)[1]


@pytest.mark.parametrize("name", ["cut", "cat", "export", "create"])
def test_a_failed_system_call_is_an_oserror_with_its_errno_and_the_commands_text(name, tmp_path):
    if name == "export" and not _zulukit.can_export():
        pytest.skip("built without netCDF")
    src, missing, old = tmp_path / "a.bot", tmp_path / "none" / "x.bot", tmp_path / "old"
    with zulukit.create(src, 0, 1, "long") as b:
        b.write(0, np.arange(3000, dtype=np.int32))
    old.write_bytes(b"old")
    with pytest.raises(FileNotFoundError) as missing_dir:
        _run(name, src, missing)
    with pytest.raises(FileExistsError) as exists:
        _run(name, src, old)
    assert "--force" not in str(exists.value) and old.read_bytes() == b"old"
    if BOTTLE and name in WORDS:
        assert _command_message(WORDS[name](src, missing)) == missing_dir.value.strerror
        assert _command_message(WORDS[name](src, old)) == exists.value.strerror + " (--force replaces it)"
    if not hasattr(_zulukit, "_fail_call"):
        return
    for n in itertools.count(1):  # a full disk, met at each call in turn
        _zulukit._fail_call("ENOSPC", n)
        try:
            _run(name, src, old, force=True)
        except OSError as e:
            assert e.errno == errno.ENOSPC and "No space left on device" in e.strerror, e
        else:
            failed = _zulukit._stop_failing()
            if failed is None:
                break
            assert failed[0] in ("fcntl", "start_writeback") or failed == ("close", True), failed
        finally:
            _zulukit._stop_failing()
        assert sorted(os.listdir(tmp_path)) == ["a.bot", "old"]
    assert n > 5


# --- Names as long as the file system allows --------------------------------


@pytest.mark.parametrize("length", [248, 255])
@pytest.mark.parametrize("name", ["cut", "create"])
def test_names_as_long_as_the_file_system_allows_are_written(name, length, tmp_path):
    src = tmp_path / "a.bot"
    with zulukit.create(src, 0, 1, "double") as b:
        b.write(0, np.arange(300.0))
    # Two-byte characters up to the end: the temporary name is cut short
    # among them.
    odd = length % 2
    long = tmp_path / ("x" * (2 - odd) + "\u00e9" * ((length - 6 + odd) // 2) + ".bot")
    assert len(os.fsencode(long.name)) == length
    _run(name, src, long)
    assert zulukit.open(long).read().tolist() == list(range(300))
    assert sorted(os.listdir(tmp_path)) == sorted(["a.bot", long.name])


# --- Dates formatted with settings of their own -----------------------------


def test_no_call_depends_on_the_process_wide_date_settings(tmp_path):
    with zulukit.create(tmp_path / "r.bot", "2015-06-23", 60, "float") as b:
        b.write("2015-06-23", [1.0])
    b = zulukit.open(tmp_path / "r.bot")

    def calls():
        return (repr(b), zulukit.dtoa(1435017600.0), zulukit.atod("150623", zone=-5),
                zulukit.dtov(1435017600.0).tolist(), zulukit.vtod(zulukit.dtov(1435017600.0, zone=-8), zone=-8))

    want = calls()
    # The C library's settings, as C code in another thread may set them
    # at any moment.
    library = ctypes.CDLL(_zulukit.__file__)
    settings = [ctypes.c_int.in_dll(library, name) for name in ("zone", "dtoa_fmt")]
    settings[0].value, settings[1].value = -5, 5
    try:
        assert calls() == want
    finally:
        settings[0].value = settings[1].value = 0


# --- Files replaced, cut short, grown or swapped under a reader -------------


def _day(path, values):
    with zulukit.create(path, 0, 1, "float", overwrite=True) as b:
        b.write(0, np.asarray(values, np.float32))


def _change(path, how):
    """Changes the bottle of 1 to 10 at path as a recorder or a job might."""
    if how == "replaced":  # another bottle renamed onto its name
        _day(str(path) + ".new", np.arange(101, 111))
        os.replace(str(path) + ".new", path)
    elif how == "truncated":
        os.truncate(path, 40 + 4 * 5)
    elif how == "grown":
        with zulukit.open(path, "r+") as b:
            b.write(10, np.arange(11, 16, dtype=np.float32))
    else:  # a FIFO in its place, the file moved away
        os.replace(path, str(path) + ".old")
        os.mkfifo(path)


def _within(seconds, fn):
    """fn's result, or its exception; fails where it has not ended in time
    (a reader that waits on a FIFO)."""
    import threading

    done = []

    def run():
        try:
            done.append(("value", fn()))
        except Exception as e:  # handed to the test
            done.append(("raised", e))

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    thread.join(seconds)
    assert done, "still waiting"
    return done[0]


ONE_TO_TEN = list(range(1, 11))


@pytest.mark.parametrize("how", ["replaced", "truncated", "grown", "fifo"])
def test_a_reader_sees_the_file_it_opened_or_an_error_naming_it(how, tmp_path):
    xr = pytest.importorskip("xarray")
    import pickle

    path = str(tmp_path / "day.bot")
    _day(path, ONE_TO_TEN)
    readers = {"dataset": xr.open_dataset(path), "chunk": xr.open_dataset(path, chunks={"time": 4}),
               "archive": zulukit.open_archive([path])}
    readers["unpickled"] = pickle.loads(pickle.dumps(xr.open_dataset(path, time_index=False)))
    bottle = zulukit.open(path)
    _change(path, how)
    # The lazy arrays read the samples planned, or name the file another took the place of.
    want = {"replaced": None, "fifo": None, "truncated": ONE_TO_TEN[:5] + [np.nan] * 5, "grown": ONE_TO_TEN}[how]
    for name, ds in readers.items():
        kind, got = _within(10, lambda: ds.value.values)
        if want is None:
            assert kind == "raised" and isinstance(got, OSError) and "day.bot: the file was replaced" in str(got), name
        else:
            assert kind == "value", (name, got)
            np.testing.assert_array_equal(got, want, name)
    # A bottle reads the file it opened: the one it holds, never another.
    kind, got = _within(10, bottle.read)
    assert kind == "value" and got.tolist()[:5] == ONE_TO_TEN[:5]
    kind, mapped = _within(10, bottle.memmap)
    assert kind == "value" and mapped.tolist() == {"truncated": ONE_TO_TEN[:5], "grown": list(range(1, 16))}.get(
        how, ONE_TO_TEN)


# --- Names ------------------------------------------------------------------


def test_any_name_python_can_open_and_none_with_a_nul(tmp_path):
    xr = pytest.importorskip("xarray")
    name = os.path.join(os.fsencode(tmp_path), b"caf\xe9.bot")  # not UTF-8
    for given in (name, os.fsdecode(name), type("P", (), {"__fspath__": lambda self: name})()):
        _day(given, [1, 2, 3])
        with zulukit.open(given) as b:
            assert b.read().tolist() == [1, 2, 3]
        assert zulukit.stats(given)["count"] == 3 and zulukit.gaps([given]) == []
        zulukit.cut(given, os.fsdecode(name) + ".cut", overwrite=True)
        assert xr.open_dataset(os.fsdecode(name) + ".cut", engine="zulukit").value.values.tolist() == [1, 2, 3]
        assert zulukit.open_archive([given]).sizes["time"] == 3
    with pytest.raises(FileNotFoundError) as missing:
        zulukit.open(name + b".none")
    assert missing.value.filename == os.fsdecode(name + b".none")  # the name as os.fsdecode gives it
    for call in (lambda: zulukit.open("a.bot\0x"), lambda: zulukit.create("a.bot\0x", 0, 1, "int"),
                 lambda: zulukit.stats("a.bot\0x"), lambda: zulukit.open_archive(["a.bot\0x"])):
        with pytest.raises(ValueError, match="null byte"):
            call()


# --- Many files -------------------------------------------------------------

MANY = r"""
import resource, sys
import numpy as np, zulukit
resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))
paths = sys.argv[1:]
whole = zulukit.open_archive(paths).value.values
chunked = zulukit.open_archive(paths, chunks={"time": 7}).value.sum().compute(scheduler="threads")
print(int(np.nansum(whole)), int(chunked))
"""


def test_an_archive_of_more_files_than_may_be_open_at_once(tmp_path):
    pytest.importorskip("xarray")
    pytest.importorskip("dask")
    paths = []
    for k in range(300):
        paths.append(str(tmp_path / f"{k:03d}.bot"))
        with zulukit.create(paths[-1], k * 2, 1, "long") as b:
            b.write(k * 2, [k, k])
    done = subprocess.run([sys.executable, "-c", MANY, *paths], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == [str(2 * sum(range(300)))] * 2
