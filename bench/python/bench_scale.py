"""Time and peak memory of zulukit's whole-bottle calls on a large bottle,
each in a fresh interpreter so that its peak is its own.

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python/bench_scale.py [SAMPLES]

SAMPLES (default 1e8) float samples at 100 Hz go into a scratch bottle.
The peak is the interpreter's largest resident size during the call, less
what it held before the call; "result" is the size of what the call returns.
Each figure is from the fastest of three runs.
"""

import json
import os
import subprocess
import sys
import tempfile

import numpy as np

import zulukit

# Run in the child: open, time one call, report its time and peak.
CHILD = """
import json, sys, time, zulukit

def status(field):  # in bytes
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
b = zulukit.open(sys.argv[1])
call = {"times": lambda: b.times(), "to_pandas": lambda: b.to_pandas(), "read": lambda: b.read()}[sys.argv[2]]
if sys.argv[2] == "to_pandas":
    import pandas  # loaded before the baseline
before = status("VmRSS")
start = time.perf_counter()
result = call()
seconds = time.perf_counter() - start
peak = status("VmHWM") - before
size = result.nbytes if sys.argv[2] != "to_pandas" else result.values.nbytes + result.index.values.nbytes
print(json.dumps({"seconds": seconds, "peak": peak, "result": int(size)}))
"""

# Of each call: the most seconds, and the most peak memory (as text, and as
# a bound on the peak given the result's size); None where there is none.
TARGETS = {
    "times": (1.0, "1.1 x result", lambda result: 1.1 * result),
    "to_pandas": (2.0, "2 GB", lambda result: 2e9),
    "read": (None, "", None),
}


def verdict(ok):
    return "" if ok is None else "met" if ok else "MISSED"


def main():
    n = int(float(sys.argv[1])) if len(sys.argv) > 1 else 100_000_000
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "big.bot")
        with zulukit.create(path, "2015-06-23", 0.01, "float") as b:
            block = (np.arange(10_000_000) % 1000).astype(np.float32)
            for i in range(0, n, block.size):
                b.write(b.grid.time(i), block[:min(block.size, n - i)])
        print(f"{n} float samples at 100 Hz ({4 * n + 40} bytes)\n")
        print("| call | s | target s | met? | peak MB | result MB | peak / result | target peak | met? |")
        print("|---|---|---|---|---|---|---|---|---|")
        for call, (limit, peak_limit, peak_bound) in TARGETS.items():
            runs = [json.loads(subprocess.run([sys.executable, "-c", CHILD, path, call], capture_output=True,
                                              text=True, env=os.environ, check=True).stdout) for _ in range(3)]
            r = min(runs, key=lambda r: r["seconds"])
            time_met = verdict(None if limit is None else r["seconds"] < limit)
            peak_met = verdict(None if peak_bound is None else r["peak"] <= peak_bound(r["result"]))
            print(f"| {call}() | {r['seconds']:.2f} | {'< ' + str(limit) if limit else ''} | {time_met} | "
                  f"{r['peak'] / 1e6:.0f} | {r['result'] / 1e6:.0f} | {r['peak'] / r['result']:.2f} | {peak_limit} | "
                  f"{peak_met} |")


if __name__ == "__main__":
    main()
