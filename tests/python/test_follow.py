"""Readers of a bottle that a C program appends to with bwrite and bflush:
bottle dump --follow, zulukit.follow() and Bottle.refresh() see exactly the
samples written, in order, each once, with their times; followers of a
writer killed at any moment end with exactly its last bflush; a followed
file replaced by rename; a Dataset opened earlier keeps its own length."""

import os
import random
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import zulukit

WRITER = os.environ.get("ZULU_LIVE_WRITER")
BOTTLE = os.environ.get("ZULU_BOTTLE")
pytestmark = pytest.mark.skipif(not (WRITER and BOTTLE), reason="needs the test writer and the bottle command")

WINDOW = 37  # samples per bwrite of the writer; sample i lies at 1000 + i s and holds 3 * i + 1
PATIENCE = 60  # seconds to wait for any condition: generous, for a loaded machine


@pytest.fixture(autouse=True)
def no_process_outlives_its_test():
    """Programs a test started and did not see end (it failed first) are killed."""
    yield
    for proc in STARTED:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    STARTED.clear()


STARTED = []


def start(args, **options):
    proc = subprocess.Popen(args, **options)
    STARTED.append(proc)
    return proc


def expected_values(n):
    return 3 * np.arange(n, dtype=np.int64) + 1


def wait_until(condition, what):
    give_up = time.monotonic() + PATIENCE
    while not condition():
        assert time.monotonic() < give_up, f"gave up waiting for {what}"
        time.sleep(0.01)


def start_writer(path, windows, flush_every, stop_after=0, pause_us=20_000):
    """The writer, once its new bottle has a header."""
    writer = start([WRITER, str(path), str(windows), str(flush_every), str(stop_after), str(pause_us)],
                              stdout=subprocess.PIPE, text=True)
    wait_until(lambda: path.exists() and path.stat().st_size >= 40, "the writer's bottle")
    return writer


def last_flush(writer):
    """The samples of the writer's last bflush, once it has ended."""
    said = writer.stdout.read().split()
    writer.wait(PATIENCE)
    return int(said[-2]) if said else 0


class Dump:
    """bottle dump --follow, its lines read as they come."""

    def __init__(self, path, *options):
        self.proc = start([BOTTLE, "dump", str(path), "--epoch", *options], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(iter(self.proc.stdout.readline, "")))
        self.reader.start()

    def wait_for(self, n):
        wait_until(lambda: len(self.lines) >= n + 1, f"{n} samples from dump --follow")

    def end(self, sig=signal.SIGINT):
        """Sends the signal; the status and standard error."""
        if sig:
            self.proc.send_signal(sig)
        self.proc.wait(PATIENCE)
        self.reader.join()
        return self.proc.returncode, self.proc.stderr.read()

    def samples(self):
        assert self.lines[0] == "time,value\n"
        rows = [line.rstrip("\n").split(",") for line in self.lines[1:]]
        return np.array([float(t) for t, _ in rows]), np.array([int(v) for _, v in rows])


def check_samples(times_s, values, n):
    """Exactly samples 0 to n - 1, in order, each once, with their times."""
    assert len(values) == n
    np.testing.assert_array_equal(values, expected_values(n))
    np.testing.assert_array_equal(times_s, 1000.0 + np.arange(n))


def follow_blocks(path, blocks, done, **options):
    """zulukit.follow in a thread: rounds of iteration until `done`, then
    one more round, which ends on a look at the file as it was left."""
    with zulukit.follow(path, timeout=0.2, **options) as f:
        while not done.is_set():
            blocks.extend(f)
        blocks.extend(f)


def joined(blocks):
    """The times (s) and values of the blocks, checked to follow each other."""
    index = 0
    times, values = [], []
    for b in blocks:
        assert b.index == index, "a block that does not take up where the last one ended"
        times.append(b.time.astype("datetime64[ns]").astype(np.int64) / 1e9 + np.arange(len(b.values)))
        values.append(b.values)
        index += len(b.values)
    return (np.concatenate(times), np.concatenate(values)) if blocks else (np.array([]), np.array([]))


def test_every_reader_sees_exactly_what_was_written(tmp_path):
    path = tmp_path / "live.bot"
    windows = 60
    writer = start_writer(path, windows, flush_every=2)
    dump = Dump(path, "--follow")
    done, blocks = threading.Event(), []
    follower = threading.Thread(target=follow_blocks, args=(path, blocks, done))
    follower.start()

    refreshed, counts = [], []

    def refresh_reader():
        with zulukit.open(path) as b:
            seen = len(b)
            refreshed.append((b.times(count=seen, unit="s"), b[:seen]))
            while seen < windows * WINDOW:
                n = b.refresh()
                counts.append(n)
                refreshed.append((b.times(b.grid.time(seen), n - seen, unit="s"), b[seen:n]))
                seen = n
                time.sleep(0.005)

    refresher = threading.Thread(target=refresh_reader)
    refresher.start()
    n = last_flush(writer)
    assert n == windows * WINDOW and writer.returncode == 0
    refresher.join(PATIENCE)
    done.set()
    follower.join(PATIENCE)
    dump.wait_for(n)
    status, errors = dump.end()
    assert (status, errors) == (0, ""), "SIGINT ends the follow with status 0"

    check_samples(*dump.samples(), n)
    check_samples(*joined(blocks), n)
    assert len(blocks) > 2, "the blocks came as the samples did"
    times = np.concatenate([t for t, _ in refreshed]).astype(np.int64)
    check_samples(times.astype(float), np.concatenate([v for _, v in refreshed]), n)
    assert counts == sorted(counts)


def test_followers_of_a_killed_writer_end_with_its_last_flush(tmp_path):
    rng, ahead = random.Random(26), []
    for stop in sorted(rng.sample(range(1, 40), 5)):
        path = tmp_path / f"killed{stop}.bot"
        writer = start_writer(path, 40, flush_every=3, stop_after=stop, pause_us=5_000)
        dump = Dump(path, "-f")
        done, blocks = threading.Event(), []
        follower = threading.Thread(target=follow_blocks, args=(path, blocks, done))
        follower.start()
        flushed = last_flush(writer)
        assert writer.returncode == -signal.SIGKILL
        assert flushed == stop // 3 * 3 * WINDOW
        ahead.append(path.stat().st_size > 40 + 4 * flushed)
        done.set()
        follower.join(PATIENCE)
        dump.wait_for(flushed)
        status, errors = dump.end()  # with a last look at the file
        assert (status, errors) == (0, "")
        check_samples(*dump.samples(), flushed)
        check_samples(*joined(blocks), flushed)
    assert any(ahead), "a kill left samples in the file that were not flushed"


def replace(path, begin, values):
    new = path.with_name("new.bot")
    with zulukit.create(new, begin, 1.0, "long") as b:
        b.write(begin, values)
    os.replace(new, path)


def test_a_followed_file_replaced_by_rename(tmp_path):
    path = tmp_path / "day.bot"
    with zulukit.create(path, 1000.0, 1.0, "long") as b:
        b.write(1000.0, expected_values(5))
    by_fd, by_name = Dump(path, "--follow"), Dump(path, "--follow=name")
    with zulukit.follow(path, by_name=True, timeout=0.2) as f:
        by_fd.wait_for(5)
        by_name.wait_for(5)
        assert sum(len(b.values) for b in f) == 5
        replace(path, 2000.0, [7, 8, 9])

        status, errors = by_fd.end(None)  # it stops by itself
        assert status == 0 and errors == f"bottle dump: {path} was replaced; no longer following it\n"
        check_samples(*by_fd.samples(), 5)

        by_name.wait_for(8)
        status, errors = by_name.end()
        assert status == 0 and errors == f"bottle dump: {path} was replaced; following the new file\n"
        times, values = by_name.samples()
        assert list(times[5:]) == [2000, 2001, 2002] and list(values[5:]) == [7, 8, 9]

        new = [b for b in f]
        assert [(b.index, str(b.time), list(b.values)) for b in new] == [(0, "1970-01-01T00:33:20.000000000", [7, 8, 9])]
        assert f.stopped is None
    assert f.stopped == "closed"

    with zulukit.follow(path) as f:  # by descriptor: replaced, it ends after the old file's samples
        assert len(next(f).values) == 3
        replace(path, 3000.0, [1])
        assert list(f) == [] and f.stopped == "replaced"


def test_plot_follow_draws_the_last_window_again_as_samples_come(tmp_path):
    import re

    path, svg = tmp_path / "mast.bot", tmp_path / "live.svg"
    with zulukit.create(path, 1000.0, 1.0, "long") as b:
        b.write(1000.0, expected_values(20))
    plot = start([BOTTLE, "plot", path, "-o", svg, "--follow", "--window", "5s", "--every", "0.1"],
                            stderr=subprocess.PIPE, text=True)

    def title():
        found = re.search(r">([^<>]*, [0-9]+ samples)<", svg.read_text()) if svg.exists() else None
        return found.group(1) if found else ""

    wait_until(lambda: title(), "the first picture")
    assert title().endswith("1970-01-01T00:16:54.000Z to 1970-01-01T00:16:59.000Z, 6 samples")
    with zulukit.open(path, "r+") as b:
        b.write(1020.0, expected_values(30)[20:])
        b.flush()
        wait_until(lambda: title().endswith("00:17:09.000Z, 6 samples"), "the picture of the new samples")
    plot.send_signal(signal.SIGINT)
    assert plot.wait(PATIENCE) == 0 and plot.stderr.read() == ""
    assert sorted(os.listdir(tmp_path)) == ["live.svg", "mast.bot"], "no temporary file left"


# Ctrl-C in the main thread while it waits for samples.
INTERRUPTED = """
import os, signal, sys, threading, zulukit
threading.Timer(0.2, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
try:
    next(zulukit.follow(sys.argv[1]))
except KeyboardInterrupt:
    print("KeyboardInterrupt")
"""


def test_close_ends_a_wait_in_another_thread_and_asyncio_waits_without_blocking(tmp_path):
    import asyncio

    path = tmp_path / "quiet.bot"
    with zulukit.create(path, 1000.0, 1.0, "long"):
        pass
    f = zulukit.follow(path)
    got = []
    waiter = threading.Thread(target=lambda: got.extend(f))
    waiter.start()
    time.sleep(0.05)
    f.close()
    waiter.join(PATIENCE)
    assert not waiter.is_alive() and got == [] and f.stopped == "closed"

    interrupted = subprocess.run([sys.executable, "-c", INTERRUPTED, path], capture_output=True, text=True,
                                 timeout=PATIENCE)
    assert interrupted.stdout == "KeyboardInterrupt\n", interrupted.stderr

    async def main():
        async with zulukit.follow(path, block=2) as follower, zulukit.follow(path) as abandoned:
            pending, dropped = (asyncio.ensure_future(anext(f)) for f in (follower, abandoned))
            await asyncio.sleep(0.05)  # the loop runs while both wait
            assert not pending.done() and not dropped.done()
            dropped.cancel()
            with zulukit.open(path, "r+") as b:
                b.write(1000.0, [4, 5, 6])
            block = await pending
            wait_until(lambda: abandoned.stopped == "closed", "the cancelled wait to end")
            return list(block.values)

    assert asyncio.run(asyncio.wait_for(main(), PATIENCE)) == [4, 5]


def test_a_dataset_keeps_its_own_length_and_reopening_gives_the_new_one(tmp_path):
    xr = pytest.importorskip("xarray")
    path = tmp_path / "growing.bot"
    with zulukit.create(path, np.datetime64("2015-06-23"), 1.0, "float") as b:
        b.write("2015-06-23", np.arange(10, dtype=np.float32))
    early = xr.open_dataset(path)
    early_chunked = xr.open_dataset(path, chunks={"time": 4})
    with zulukit.open(path, "r+") as b:
        b.write("2015-06-23T00:00:10", np.arange(10, 25, dtype=np.float32))
        b.flush()
        later = xr.open_dataset(path)
        assert later.sizes["time"] == 25 and later.encoding["count"] == 25
        assert str(later.time.values[-1]) == "2015-06-23T00:00:24.000000000"
    for ds in (early, early_chunked):
        assert ds.sizes["time"] == 10 and ds.encoding["count"] == 10
        np.testing.assert_array_equal(ds.value.values, np.arange(10))
        assert str(ds.time.values[-1]) == "2015-06-23T00:00:09.000000000"
        assert float(ds.value[-1]) == 9.0
        assert ds.sel(time=slice("2015-06-23T00:00:08", None)).sizes["time"] == 2
    with zulukit.open(path) as b:
        assert len(b) == 25
