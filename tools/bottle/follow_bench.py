#!/usr/bin/env python3
"""Times `bottle dump --follow` behind a C program that appends with bwrite
and bflush: the time from each bflush to the moment dump's line for the
last sample it published is read from dump's output (target: median under
100 ms), and the processor time dump takes while nothing comes (target:
under 1% of a core).  A timing script, not a test: the figures depend on
the machine and what else runs on it.

  tools/bottle/follow_bench.py [BOTTLE [WRITER]]
      BOTTLE  default build/default/tools/bottle/bottle
      WRITER  default build/default/tests/bottle_tool/bottle_kill_writer
              (KILL_WRITER PATH WRITES FLUSH_EVERY 0 PAUSE_US, which prints
              "flushed N T" with the CLOCK_MONOTONIC time T before each
              bflush)
  FOLLOW_FLUSHES=200 FOLLOW_PAUSE_MS=20 FOLLOW_IDLE_S=10 set the run.
"""

import os
import selectors
import signal
import statistics
import subprocess
import sys
import tempfile
import time

WINDOW = 37  # samples per write of the writer, which begins at 1000 s, 1 s apart


def verdict(ok):
    return "met" if ok else "MISSED"


def processor_seconds(pid):
    """User and system time of a process so far, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    bottle = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/bottle/bottle"
    writer = sys.argv[2] if len(sys.argv) > 2 else "build/default/tests/bottle_tool/bottle_kill_writer"
    flushes = int(os.environ.get("FOLLOW_FLUSHES", 200))
    pause_ms = int(os.environ.get("FOLLOW_PAUSE_MS", 20))
    idle_s = float(os.environ.get("FOLLOW_IDLE_S", 10))
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "live.bot")
        w = subprocess.Popen([writer, path, str(flushes), "1", "0", str(pause_ms * 1000)], stdout=subprocess.PIPE)
        while not (os.path.exists(path) and os.path.getsize(path) >= 40):
            time.sleep(0.001)
        started = time.monotonic()
        d = subprocess.Popen([bottle, "dump", path, "--follow", "--epoch"], stdout=subprocess.PIPE)
        flushed_at, printed_at = {}, {}  # samples published -> time; sample index -> time its line was read
        rest = {w.stdout: b"", d.stdout: b""}
        sel = selectors.DefaultSelector()
        sel.register(w.stdout, selectors.EVENT_READ)
        sel.register(d.stdout, selectors.EVENT_READ)
        total = flushes * WINDOW
        while len(printed_at) < total or w.stdout in rest:
            for key, _ in sel.select(timeout=60):
                chunk = os.read(key.fileobj.fileno(), 65536)
                now = time.monotonic()
                if not chunk:
                    sel.unregister(key.fileobj)
                    del rest[key.fileobj]
                    continue
                lines = (rest[key.fileobj] + chunk).split(b"\n")
                rest[key.fileobj] = lines.pop()
                for line in lines:
                    if key.fileobj is w.stdout:
                        _, n, t = line.split()
                        flushed_at[int(n)] = float(t)
                    elif line != b"time,value":
                        printed_at[int(float(line.split(b",")[0])) - 1000] = now
            if not sel.get_map() or (d.poll() is not None):
                break
        w.wait()
        latencies = [printed_at[n - 1] - t for n, t in flushed_at.items() if t > started and n - 1 in printed_at]

        before, begun = processor_seconds(d.pid), time.monotonic()
        time.sleep(idle_s)
        idle = (processor_seconds(d.pid) - before) / (time.monotonic() - begun)
        d.send_signal(signal.SIGINT)
        status = d.wait()

    print(f"dump --follow behind a writer: {flushes} flushes of {WINDOW} samples, {pause_ms} ms apart")
    if len(printed_at) != total or status != 0:
        print(f"dump printed {len(printed_at)} of {total} samples and ended with status {status}")
        return 1
    median = statistics.median(latencies)
    p95 = statistics.quantiles(latencies, n=20)[-1]
    print(f"bflush to the line printed, median  {median * 1000:8.2f} ms   target < 100 ms  {verdict(median < 0.1)}")
    print(f"bflush to the line printed, 95%     {p95 * 1000:8.2f} ms")
    print(f"bflush to the line printed, longest {max(latencies) * 1000:8.2f} ms   ({len(latencies)} flushes)")
    print(f"processor time while idle ({idle_s:g} s)  {idle * 100:8.3f} % of a core   target < 1%  {verdict(idle < 0.01)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
