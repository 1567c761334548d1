"""The archive jobs of the bottle command, called from Python.

Each runs the same code as its subcommand and follows the same output
rule: the output is written under a temporary name and renamed into place
only when it is complete, an existing file is replaced only with
overwrite=True (or force=True, the command's name), and no input is ever
written.  Failures are exceptions:
OSError (FileNotFoundError, FileExistsError, ...) where a system call
failed, BottleError for a file that is not a bottle, ValueError for data
or arguments that cannot be used.  What the command says on standard
error besides (an input that snap= placed on the grid, how much of a
window a partial cut kept) comes as a UserWarning.

The jobs that read several bottles take them as one series, as `bottle
cat` joins them: one type, interval and unusable value, begin times on the
grid that most of them keep; overlap=None (usable samples that differ are
an error), "first" or "last" (that input wins); snap (default None: no
file moves) places a file whose begin time lies within it of the grid on
the nearest sample time.
"""

import datetime as _datetime
import operator as _operator
import os as _os
import warnings as _warnings

from . import _zulukit

__all__ = ["cut", "cat", "gaps", "stats", "export", "decimate"]


def _time(t):
    """Seconds since 1970 of a time argument: None, a float, an ISO 8601
    or compact text (as the command reads it), numpy.datetime64 or
    datetime.datetime."""
    if t is None:
        return None
    from ._core import _seconds  # the package's one conversion of times

    return _seconds(t)


def _overwrite(overwrite, force):
    from ._core import _overwrite as rule  # the package's one rule for the option

    return rule(overwrite, force)


def _duration(d):
    """Seconds of a snap: None (0), a number of seconds, a text as the
    command reads it ("5ms", "0.005"), datetime.timedelta or
    numpy.timedelta64."""
    if d is None:
        return 0.0
    if isinstance(d, str):
        seconds = _zulukit.read_duration(d)
        if seconds is None:
            raise ValueError(f"snap must be a duration of 0 or more (seconds, or a number and s, ms, us or ns), "
                             f"not {d!r}")
        return seconds
    if isinstance(d, _datetime.timedelta):
        return d.total_seconds()
    if type(d).__name__ == "timedelta64":
        import numpy as np

        return float(d / np.timedelta64(1, "ns")) / 1e9
    return float(d)


def _path(p):
    from ._core import _fspath  # the package's one reading of file names

    return _fspath(p)


def _paths(paths):
    """A path or a sequence of paths, as a list of str."""
    if isinstance(paths, (str, bytes, _os.PathLike)):
        return [_path(paths)]
    return [_path(p) for p in paths]


def _warn(notes):
    """The notes of a job, as warnings at the caller's call."""
    for note in notes:
        _warnings.warn(note, UserWarning, stacklevel=3)


def cut(src, dst, start=None, end=None, *, partial=False, overlap=None, snap=None, overwrite=False, force=None):
    """Writes the samples from start to end, both included (None: the first
    and the last sample), of the bottle src, or of the series that a list
    of bottles makes, to the new bottle dst, as `bottle cut` does; returns
    how many it wrote.  A window that runs past the data raises ValueError,
    saying what the data covers, unless partial=True asks for the samples
    there are (with a warning that says how many)."""
    samples, notes = _zulukit.cut(_paths(src), _path(dst), _time(start), _time(end), bool(partial), overlap,
                                  _duration(snap), _overwrite(overwrite, force))
    _warn(notes)
    return samples


def cat(dst, srcs, overlap=None, *, snap=None, overwrite=False, force=None):
    """Joins the bottles srcs into the new bottle dst in time order, as
    `bottle cat` does."""
    if isinstance(srcs, (str, bytes, _os.PathLike)):
        raise TypeError("srcs must be a sequence of paths")
    _, notes = _zulukit.cat(_path(dst), _paths(srcs), overlap, _duration(snap), _overwrite(overwrite, force))
    _warn(notes)


def gaps(paths, min=1, *, snap=None, runs=False):  # noqa: A002 - the command's option name
    """What is missing from the bottles as one series, as the rows `bottle
    gaps` prints: (kind, file, start, end, samples, other, detail), the
    times as ISO 8601 texts with milliseconds, in time order of the files.
    kind is "missing" (a run of at least min missing samples inside file),
    "gap" (samples no file holds, between file and other), "overlap"
    (samples of file and other, detail "agree" or "differ at TIME"),
    "off-grid" (a file that does not join, and why in detail) or "snapped"
    (a file that snap placed on the grid).  With runs=True, only the runs
    inside each file on its own, as (file, start, end, samples)."""
    return _zulukit.gaps(_paths(paths), int(min), _duration(snap), bool(runs))


def stats(path):
    """The counts of a bottle's samples and the least, greatest and mean
    of the usable ones, as `bottle info --stats` gives them: a dict with
    count, usable, unusable (the missing samples: the unusable value or
    NaN), nan (how many of those are NaN), min, max and mean (None without
    usable samples)."""
    return _zulukit.stats(_path(path))


def export(src, dst, name="value", units=None, title=None, deflate=0, *, overwrite=False, force=None):
    """Writes the bottle src as the netCDF-4 file dst, as `bottle export`
    does: the samples as variable name in their own type with the unusable
    value as _FillValue, and a time coordinate that decodes to each
    sample's stamp, as xarray gives the bottle itself."""
    if not _zulukit.can_export():
        raise RuntimeError("zulukit was built without netCDF; export is not available")
    _zulukit.export(_path(src), _path(dst), str(name), units, title, int(deflate), _overwrite(overwrite, force))


def decimate(src, dst, factor, *, method="fir", strict=False, overlap=None, snap=None, overwrite=False, force=None):
    """Writes the bottle src, or the series a list of bottles makes, at a
    rate a whole factor lower to the new bottle dst, as `bottle decimate`
    does, and returns how many samples it wrote: sample j at the time of
    input sample j * factor.  method="fir" (the default) filters first with
    the linear-phase low-pass of scipy.signal.decimate(x, factor,
    ftype="fir"), centred so that it delays nothing, an output whose window
    touches a missing sample or reaches past the data being missing;
    "mean", "min" and "max" take blocks of factor samples unfiltered.
    strict=True refuses a missing sample under the filter, and makes a
    block with any missing sample missing under the others.  The filter and
    the mean write float32 for int16 and float32 samples, float64
    otherwise; min and max keep the type."""
    samples, notes = _zulukit.decimate(_paths(src), _path(dst), _operator.index(factor), str(method), bool(strict),
                                       overlap, _duration(snap), _overwrite(overwrite, force))
    _warn(notes)
    return samples
