#!/usr/bin/env python3
"""Table of the date benchmark: ns per call of each routine and of its C
library counterpart, and how many times faster the routine is.  Reads the
JSON that bench_date writes with --benchmark_out=FILE and
--benchmark_repetitions=N; gives the median of the repetitions and, beside
it, the least time (the run least disturbed by other work)."""
import json
import sys

PAIRS = [("dtov", "libc_gmtime_localtime"), ("vtod", "libc_timegm_mktime"),
         ("atod", "libc_strptime"), ("dtoa", "libc_strftime")]


def load(path):
    stats = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") == "aggregate" and b["aggregate_name"] in ("min", "median"):
            stats.setdefault(b["run_name"], {})[b["aggregate_name"]] = b["cpu_time"]
    return stats


def main():
    stats = load(sys.argv[1])
    print("| routine | args | ns (median) | C library ns (median) | ratio (median) | ratio (min) |")
    print("|---|---|---|---|---|---|")
    for ours, theirs in PAIRS:
        for name in stats:
            if not name.startswith(f"BM_{ours}/"):
                continue
            args = name.split("/", 1)[1]
            other = stats.get(f"BM_{theirs}/{args}")
            if other is None or "min" not in other or "min" not in stats[name]:
                continue
            us = stats[name]
            print(f"| {ours} | {args} | {us['median']:.2f} | {other['median']:.2f} "
                  f"| {other['median'] / us['median']:.2f} | {other['min'] / us['min']:.2f} |")


if __name__ == "__main__":
    main()
