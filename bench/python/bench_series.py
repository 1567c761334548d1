"""Times the jobs on an archive taken as one series, side by side in one
run, and prints a table: each figure, what it is set against, the ratio,
and whether it meets its target (met, or MISSED).

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python/bench_series.py [BOTTLE]

BOTTLE is the bottle program (default build/default/tools/bottle/bottle).
Thirty daily bottles of 8,640,000 float samples (100 Hz, a slow wave with
noise; about 1 GB) are written in a scratch folder, and joined into one
bottle for the month.  Then, each the least of five runs:

- bottle gaps of the 30 files against cat of them to /dev/null;
- bottle cut of a 10-minute window across a midnight out of the 30 files
  (the whole command, which includes starting the program; bottle --version
  shows what starting it costs), and zulukit.cut of the same in this
  process;
- bottle decimate 10 (the filter) of a day against
  scipy.signal.decimate(x, 10, ftype="fir") of its samples in memory as
  float64 (scipy reads and writes no file);
- bottle decimate 10 --method mean (and 100) of the month's bottle against
  cat of it to /dev/null, beside dd writing and flushing as many bytes as
  the output of decimate 10 holds, which no job that keeps its output
  can skip.

The output of every job is written, flushed to the disk and renamed into
place, as every job writes; cat writes nothing.
"""

import glob
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import zulukit

PER_DAY = 8_640_000
DAYS = 30


def least(fn, runs=5):
    best = float("inf")
    for _ in range(runs):
        os.sync()
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def run(*args):
    subprocess.run([str(a) for a in args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_month(work, bottle):
    rng = np.random.default_rng(1)
    wave = (20 + 10 * np.sin(np.arange(PER_DAY) / 5000)).astype(np.float32)
    for d in range(DAYS):
        day = np.datetime64("2023-03-01") + np.timedelta64(d, "D")
        with zulukit.create(os.path.join(work, f"{d + 1:02d}.bot"), day, 0.01, "float") as b:
            b.write(day, wave + rng.random(PER_DAY, dtype=np.float32))
    paths = sorted(glob.glob(os.path.join(work, "??.bot")))
    run(bottle, "cat", *paths, "-o", os.path.join(work, "month.bot"))
    return paths


def main():
    bottle = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/bottle/bottle"
    import scipy.signal

    with tempfile.TemporaryDirectory() as work:
        paths = make_month(work, bottle)
        month = os.path.join(work, "month.bot")
        out = os.path.join(work, "out.bot")
        window = ("--from", "2023-03-09T23:55Z", "--to", "2023-03-10T00:04:59.99Z")
        t = {
            "cat 30": least(lambda: run("cat", *paths)),
            "gaps 30": least(lambda: run(bottle, "gaps", *paths)),
            "start": least(lambda: run(bottle, "--version")),
            "cut": least(lambda: run(bottle, "cut", *paths, "-o", out, "--force", *window)),
            "cut py": least(lambda: zulukit.cut(paths, out, window[1], window[3], force=True)),
            "fir": least(lambda: run(bottle, "decimate", "10", paths[0], "-o", out, "--force")),
            "cat day": least(lambda: run("cat", paths[0])),
            "mean day": least(lambda: run(bottle, "decimate", "10", paths[0], "-o", out, "--force", "--method", "mean")),
            "cat month": least(lambda: run("cat", month)),
            "mean month": least(lambda: run(bottle, "decimate", "10", month, "-o", out, "--force", "--method", "mean")),
            "mean100 month": least(lambda: run(bottle, "decimate", "100", month, "-o", out, "--force", "--method",
                                               "mean")),
            # What any job pays for the output of decimate 10 of the month:
            # its bytes written and flushed to the disk, nothing computed.
            "flush": least(lambda: run("dd", f"if={month}", f"of={out}", "bs=4M", "count=25", "conv=fsync",
                                       "status=none")),
        }
        x = zulukit.open(paths[0]).read().astype(np.float64)
        t["scipy"] = least(lambda: scipy.signal.decimate(x, 10, ftype="fir"))
        t["fir py"] = least(lambda: zulukit.decimate(paths[0], out, 10, force=True))
        kept = zulukit.open(out).read()
        assert kept.size == PER_DAY // 10

    rows = [
        ("gaps of 30 days", "gaps 30", "cat FILE... > /dev/null", "cat 30", 2),
        ("cut, 10 min across midnight (command)", "cut", None, None, 0.050),
        ("  of which starting the program", "start", None, None, None),
        ("zulukit.cut, the same window", "cut py", None, None, 0.050),
        ("decimate 10 (filter) of a day", "fir", "scipy.signal.decimate", "scipy", 2),
        ("zulukit.decimate, the same", "fir py", "scipy.signal.decimate", "scipy", 2),
        ("decimate 10 --method mean, the month", "mean month", "cat FILE > /dev/null", "cat month", 1.5),
        ("  of which writing 100 MB, flushed", "flush", "cat FILE > /dev/null", "cat month", None),
        ("decimate 100 --method mean, the month", "mean100 month", "cat FILE > /dev/null", "cat month", 1.5),
        ("decimate 10 --method mean, a day", "mean day", "cat FILE > /dev/null", "cat day", 1.5),
    ]
    print(f"{DAYS} daily float bottles of {PER_DAY} samples (100 Hz); the month joined is "
          f"{(40 + 4 * DAYS * PER_DAY) / 1e9:.2f} GB")
    print(f"{'job':<40} {'time':>9}  {'against':<24} {'time':>9}  {'ratio':>5}  target")
    for name, key, against, base, target in rows:
        if against is None:
            verdict = "" if target is None else f"< {target * 1e3:.0f} ms  " + ("met" if t[key] < target else "MISSED")
            print(f"{name:<40} {t[key]:7.3f} s  {'':<24} {'':>9}  {'':>5}  {verdict}")
            continue
        ratio = round(t[key] / t[base], 2)  # judged as printed
        verdict = "" if target is None else f"<= {target}  " + ("met" if ratio <= target else "MISSED")
        print(f"{name:<40} {t[key]:7.3f} s  {against:<24} {t[base]:7.3f} s  {ratio:5.2f}  {verdict}")


if __name__ == "__main__":
    main()
