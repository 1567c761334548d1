#!/usr/bin/env python3
"""Table of the bottle benchmark: ns per sample and system calls per page
for each type and window, with the ratios to the bare system calls and to
the floor.  Reads the JSON that bench_bottle writes with
--benchmark_out=FILE --benchmark_out_format=json, best with
--benchmark_repetitions=N: it then uses the least time of the repetitions
(the one least disturbed by other work) and, beside it, the median.  Of a
run without repetitions, the one time of each benchmark stands for both.
Types whose baselines were filtered out are left out."""
import json
import sys

TYPES = ["int", "long", "float", "double"]


def load(path):
    """{name: {"min": run, "median": run}}, and whether they are
    aggregates of repetitions."""
    runs = json.load(open(path))["benchmarks"]
    aggregated = any(b.get("run_type") == "aggregate" for b in runs)
    stats = {}
    for b in runs:
        name = b["run_name"].replace("/real_time", "")
        if not aggregated:
            stats[name] = {"min": b, "median": b}
        elif b.get("run_type") == "aggregate" and b["aggregate_name"] in ("min", "median"):
            stats.setdefault(name, {})[b["aggregate_name"]] = b
    return stats, aggregated


def main():
    stats, aggregated = load(sys.argv[1])
    if not aggregated:
        print("One run of each benchmark (no --benchmark_repetitions): min and median are that run.\n")

    def get(name, agg, key="per_sample"):
        return stats[name][agg][key] * (1e9 if key == "per_sample" else 1)

    print("| op | type | window | ns/sample (min) | ns/sample (median) | calls/page | bare ns/sample (min) "
          "| ratio to bare (min) | ratio to bare (median) | ratio to floor (min) |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for op, bare, floor in (("Write", "BareWrite", "FloorWrite"), ("Read", "BareRead", "FloorRead")):
        for t in range(4):
            base = f"{bare}/type:{t}"
            flo = f"{floor}/type:{t}"
            for window in (1, 100, 10000):
                name = f"Bottle{op}/type:{t}/window:{window}"
                if name not in stats or base not in stats or flo not in stats:
                    continue
                mn, md = get(name, "min"), get(name, "median")
                print(f"| {op.lower()} | {TYPES[t]} | {window} | {mn:.2f} | {md:.2f} "
                      f"| {get(name, 'min', 'calls_per_page'):.3f} | {get(base, 'min'):.2f} "
                      f"| {mn / get(base, 'min'):.2f} | {md / get(base, 'median'):.2f} "
                      f"| {mn / get(flo, 'min'):.2f} |")
    print()
    print("| baseline | type | ns/sample (min) | ns/sample (median) | calls/page |")
    print("|---|---|---|---|---|")
    for base in ("FloorWrite", "BareWrite", "FloorRead", "BareRead"):
        for t in range(4):
            name = f"{base}/type:{t}"
            if name not in stats:
                continue
            print(f"| {base} | {TYPES[t]} | {get(name, 'min'):.2f} | {get(name, 'median'):.2f} "
                  f"| {get(name, 'min', 'calls_per_page'):.3f} |")


if __name__ == "__main__":
    main()
