"""A day of minute samples in a float bottle, written in a temporary
folder and read back: what examples/consumer-c does, from Python.

    PYTHONPATH=build/default/python /usr/bin/python3 examples/python/bottle_day.py

(or with the package installed, by `cmake --install` or pip, without
PYTHONPATH).
"""

import os
import tempfile

import numpy as np

import zulukit


def main():
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "day.bot")
        midnight = np.datetime64("2015-06-23")
        with zulukit.create(path, midnight, 60.0, "float") as b:
            day = np.arange(1440, dtype=np.float32) * 0.5
            day[720] = np.nan  # one unusable sample, at noon
            b.write(midnight, day)

        with zulukit.open(path) as b:
            print(len(b), "samples from", b.times(count=1)[0], "every", b.header.interval, "s")
            print("the last two, then past the end:", b.read(b.end - 60, 4).tolist())
            masked = b.read(masked=True)
            noon = b.times()[np.flatnonzero(masked.mask)]
            print("unusable at", ", ".join(str(t) for t in noon), "; mean of the rest:", masked.mean())


if __name__ == "__main__":
    main()
