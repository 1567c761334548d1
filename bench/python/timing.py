"""What the timing scripts beside this file share: how a run is timed."""

import time


def least(fn, runs=5):
    """The least time, in seconds, that fn takes in runs calls."""
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best
