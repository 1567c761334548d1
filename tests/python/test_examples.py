"""The Python example under examples/ prints what it should, and works in
a folder of its own."""

import os
import pathlib
import subprocess
import sys

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python" / "bottle_day.py"

PRINTS = """\
1440 samples from 2015-06-23T00:00:00.000000 every 60.0 s
the last two, then past the end: [719.0, 719.5, 999999.0, 999999.0]
unusable at 2015-06-23T12:00:00.000000 ; mean of the rest: 359.74982626824186
"""


def test_bottle_day(tmp_path):
    done = subprocess.run([sys.executable, str(EXAMPLE)], cwd=tmp_path, env=os.environ, capture_output=True,
                          text=True, timeout=60)
    assert (done.stdout, done.stderr, done.returncode) == (PRINTS, "", 0)
    assert list(tmp_path.iterdir()) == []
