"""zulukit when the system fails it or files change under it: jobs that
meet a failed system call."""

import errno
import itertools
import os
import subprocess
import sys

import numpy as np
import pytest

import zulukit
from zulukit import _zulukit

# --- Jobs that meet a failed system call ------------------------------------

BOTTLE = os.environ.get("ZULU_BOTTLE")
# The arguments of each job that writes dst from the bottle src, in Python
# and on the command line.
ARGUMENTS = {"cut": lambda src, dst: (src, dst), "cat": lambda src, dst: (dst, [src]),
             "export": lambda src, dst: (src, dst)}
WORDS = {"cut": lambda src, dst: ["cut", src, dst], "cat": lambda src, dst: ["cat", dst, src],
         "export": lambda src, dst: ["export", src, "-o", dst]}


def _run(name, src, dst, force=False):
    if name == "create":
        with zulukit.create(dst, 0, 1, "double", overwrite=force) as b:
            b.write(0, np.arange(300.0))
    else:
        getattr(zulukit, name)(*ARGUMENTS[name](src, dst), force=force)


def _command_message(words):
    """What the bottle command says for the words, less its own name."""
    run = subprocess.run([BOTTLE, *map(str, words)], capture_output=True, text=True)
    assert run.returncode == 1, run.stderr
    return run.stderr.strip().split(": ", 1)[1]


@pytest.mark.parametrize("name", ["cut", "cat", "export"])
def test_a_failed_system_call_is_an_oserror_with_its_errno_and_the_commands_text(name, tmp_path):
    if name == "export" and not _zulukit.can_export():
        pytest.skip("built without netCDF")
    src, missing, old = tmp_path / "a.bot", tmp_path / "none" / "x.bot", tmp_path / "old"
    with zulukit.create(src, 0, 1, "long") as b:
        b.write(0, np.arange(3000, dtype=np.int32))
    old.write_bytes(b"old")
    with pytest.raises(FileNotFoundError) as missing_dir:
        _run(name, src, missing)
    with pytest.raises(FileExistsError) as exists:
        _run(name, src, old)
    assert "--force" not in str(exists.value) and old.read_bytes() == b"old"
    if BOTTLE and name in WORDS:
        assert _command_message(WORDS[name](src, missing)) == missing_dir.value.strerror
        assert _command_message(WORDS[name](src, old)) == exists.value.strerror + " (--force replaces it)"
    if not hasattr(_zulukit, "_fail_call"):
        return
    for n in itertools.count(1):  # a full disk, met at each call in turn
        _zulukit._fail_call("ENOSPC", n)
        try:
            _run(name, src, old, force=True)
        except OSError as e:
            assert e.errno == errno.ENOSPC and "No space left on device" in e.strerror, e
        else:
            failed = _zulukit._stop_failing()
            if failed is None:
                break
            assert failed[0] in ("fcntl", "start_writeback") or failed == ("close", True), failed
        finally:
            _zulukit._stop_failing()
        assert sorted(os.listdir(tmp_path)) == ["a.bot", "old"]
    assert n > 5
