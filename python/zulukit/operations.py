"""The archive jobs of the bottle command, called from Python.

Each runs the same code as its subcommand and follows the same output
rule: the output is written under a temporary name and renamed into place
only when it is complete, an existing file is replaced only with
overwrite=True (or force=True, the command's name), and no input is ever
written.  Failures are exceptions:
OSError (FileNotFoundError, FileExistsError, ...) where a system call
failed, BottleError for a file that is not a bottle, ValueError for data
or arguments that cannot be used.
"""

import os as _os

from . import _zulukit

__all__ = ["cut", "cat", "gaps", "stats", "export"]


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


def _path(p):
    from ._core import _fspath  # the package's one reading of file names

    return _fspath(p)


def cut(src, dst, start=None, end=None, *, overwrite=False, force=None):
    """Writes the samples of the bottle src from start to end, both
    included (None: the first and the last sample), to the new bottle dst,
    as `bottle cut` does."""
    _zulukit.cut(_path(src), _path(dst), _time(start), _time(end), _overwrite(overwrite, force))


def cat(dst, srcs, overlap=None, *, overwrite=False, force=None):
    """Joins the bottles srcs into the new bottle dst in time order, as
    `bottle cat` does; overlap is None (usable samples that differ are an
    error), "first" or "last" (that input wins)."""
    if isinstance(srcs, (str, bytes, _os.PathLike)):
        raise TypeError("srcs must be a sequence of paths")
    _zulukit.cat(_path(dst), [_path(s) for s in srcs], overlap, _overwrite(overwrite, force))


def gaps(paths, min=1):  # noqa: A002 - the command's option name
    """The runs of at least min missing samples in the bottles, as the
    rows `bottle gaps` prints: (file, start, end, samples), the times as
    ISO 8601 texts with milliseconds."""
    if isinstance(paths, (str, bytes, _os.PathLike)):
        paths = [paths]
    return _zulukit.gaps([_path(p) for p in paths], int(min))


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
