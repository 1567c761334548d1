"""Times zulukit beside what numpy and the standard library do with the
same data, side by side in one run, and prints a table of ratios.

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python/bench_zulukit.py [SAMPLES]

SAMPLES (default 5e7) float samples go into a scratch bottle; each figure
is the least of five runs.
"""

import datetime
import os
import sys
import tempfile
import time

import numpy as np

import zulukit
from timing import least


def least_of(fn, runs=5):
    """The least of what fn reports it spent."""
    return min(fn() for _ in range(runs))


def main():
    n = int(float(sys.argv[1])) if len(sys.argv) > 1 else 50_000_000
    rows = []
    with tempfile.TemporaryDirectory() as work:
        path, raw = os.path.join(work, "b.bot"), os.path.join(work, "raw")
        values = np.random.default_rng(1).standard_normal(n).astype(np.float32)
        with_nan = values.copy()
        with_nan[::1000] = np.nan

        def write(array):
            # A new bottle, written; its close() (forcing the file to disk
            # and renaming it into place) is timed apart.
            b = zulukit.create(path, 0.0, 1.0, "float", overwrite=True)
            start = time.perf_counter()
            b.write(0.0, array)
            spent = time.perf_counter() - start
            b.close()
            return spent

        def bare_pwrite():
            # The same bytes behind a 40-byte header, by pwrite to a new file.
            fd = os.open(raw, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            data = memoryview(values).cast("B")
            start = time.perf_counter()
            os.pwrite(fd, bytes(40), 0)
            done = 0
            while done < len(data):
                done += os.pwrite(fd, data[done:done + (1 << 30)], 40 + done)
            spent = time.perf_counter() - start
            os.close(fd)
            return spent

        def close_new():
            b = zulukit.create(path, 0.0, 1.0, "float", overwrite=True)
            b.write(0.0, values)
            start = time.perf_counter()
            b.close()
            return time.perf_counter() - start

        reference = least_of(bare_pwrite)
        rows.append(("write() to a new bottle", least_of(lambda: write(values)), "bare pwrite", reference, 1.5))
        rows.append(("write(), every 1000th NaN", least_of(lambda: write(with_nan)), "bare pwrite", reference, "-"))
        rows.append(("close() of a new bottle (fsync, rename)", least_of(close_new), "bare pwrite", reference, "-"))
        with zulukit.open(path) as b:
            reference = least(lambda: np.fromfile(path, dtype="<f4", offset=40))
            rows.append(("read()", least(b.read), "numpy.fromfile", reference, 1.5))
            rows.append(("read(masked=True)", least(lambda: b.read(masked=True)), "numpy.fromfile", reference, 3))

    m = 1_000_000
    times = np.linspace(-2e9, 4e9, m)
    epoch = datetime.datetime(1970, 1, 1)
    stamps = [t.item() for t in times]
    rows.append(("dtov(10^6)", least(lambda: zulukit.dtov(times), 3), "datetime loop",
                 least(lambda: [(epoch + datetime.timedelta(seconds=t)).timetuple() for t in stamps], 3), 0.1))
    texts = zulukit.dtoa(times, 2)
    rows.append(("atod(10^6)", least(lambda: zulukit.atod(texts), 3), "datetime loop",
                 least(lambda: [(datetime.datetime.strptime(s, "%y%m%d%H%M%S") - epoch).total_seconds()
                                for s in texts], 3), 0.1))

    print(f"{n} float samples ({4 * n + 40} bytes); least of several runs\n")
    print("| zulukit | s | against | s | ratio | target | met? |")
    print("|---|---|---|---|---|---|---|")
    for name, ours, other, theirs, target in rows:
        ratio = round(ours / theirs, 2)  # judged as printed
        limit = f"<= {target}" if target != "-" else ""
        verdict = ("met" if ratio <= target else "MISSED") if target != "-" else ""
        print(f"| {name} | {ours:.3f} | {other} | {theirs:.3f} | {ratio:.2f} | {limit} | {verdict} |")


if __name__ == "__main__":
    main()
