"""Series of bottles: one bottle, or many on one time grid, described by
where each file's samples go, without reading any sample.

The xarray backend (zulukit.xarray_backend) reads the samples of such a
series on demand; zulukit.open_archive opens one as a Dataset.  This
module imports neither xarray nor anything heavy, so that importing
zulukit stays cheap.
"""

import collections
import os
import stat
import struct

# The 40-byte header, little-endian, field by field.
_HEADER = struct.Struct("<hhidfiiiii")
_FIELDS = ("magic", "spare0", "doff", "beg", "ivl", "nsam", "type", "usym", "spare1", "spare2")
MAGIC = 349


def open_to_read(path):
    """A descriptor of the file path, opened to read without waiting (a FIFO
    without a writer opens at once and reads nothing)."""
    return os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)


def read_header(path):
    """The ten header fields of the file path by name, as the file holds
    them; None for a file that is no bottle (not a regular file, shorter
    than the header, or another magic number).  Reads the header and
    nothing more, and never waits: a FIFO is opened without blocking."""
    fd = open_to_read(path)
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return None
        head = os.pread(fd, _HEADER.size, 0)
    finally:
        os.close(fd)
    if len(head) < _HEADER.size:
        return None
    fields = dict(zip(_FIELDS, _HEADER.unpack(head)))
    return fields if fields["magic"] == MAGIC else None


# The samples of one file in a series: `count` samples of the file at
# path, sample 0 at byte doff, going to the series' samples from `offset`
# on.  (collections' named tuples: importing typing costs more than zulukit.)
Piece = collections.namedtuple("Piece", "path doff count offset")


class Series(collections.namedtuple("Series", "pieces count dtype unusable begin interval overlap attrs")):
    """Samples of one type (numpy dtype) on one grid: `count` samples,
    sample 0 at the time `begin` and `interval` apart (as the header holds
    it), taken from the pieces (in the order the files were named) where
    they hold samples and the unusable value (in dtype) elsewhere.  Where
    pieces overlap, `overlap` says which wins (None: they must agree)."""

    __slots__ = ()

    def grid(self):
        from ._zulukit import Grid

        return Grid(self.begin, self.interval, self.count)

    def overlapping(self):
        """Whether any two pieces that hold samples share a sample."""
        spans = sorted((p.offset, p.offset + p.count) for p in self.pieces if p.count > 0)
        return any(b[0] < a[1] for a, b in zip(spans, spans[1:]))

    def __dask_tokenize__(self):
        stamps = []
        for p in self.pieces:
            try:
                stamps.append(os.stat(p.path).st_mtime_ns)
            except OSError:
                stamps.append(None)
        return (self.pieces, tuple(stamps), str(self.dtype), self.overlap)


_Bottle = collections.namedtuple("_Bottle", "path header count dtype unusable")


def _look(path):
    """A bottle's header, count, sample type and unusable value, as the bottle
    library opens it (a file that is no bottle raises BottleError)."""
    from ._core import open as open_bottle

    path = os.fspath(path)
    with open_bottle(path) as b:
        count, dtype, unusable = b.count, b.dtype, b.unusable
    header = read_header(path)
    if header is None:  # replaced since the library opened it
        raise OSError(f"{path}: changed while it was opened")
    return _Bottle(path, header, count, dtype, unusable)


def bottle_series(path):
    """The series of one bottle file."""
    b = _look(path)
    h = b.header
    attrs = dict(h, file=b.path)
    return Series((Piece(b.path, h["doff"], b.count, 0),), b.count, b.dtype, b.unusable, h["beg"], h["ivl"], None,
                  attrs)


_OVERLAPS = (None, "first", "last")


def archive_series(paths, overlap=None):
    """The series of many bottles joined on one grid, as `bottle cat` joins
    them: one type, interval and unusable value, begin times a whole number
    of steps apart (Grid.offset_of); the series runs from the earliest
    sample to the latest.  ValueError for inputs that cannot be joined."""
    from ._zulukit import Grid

    if overlap not in _OVERLAPS:
        raise ValueError(f"overlap must be None, 'first' or 'last', not {overlap!r}")
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    bottles = [_look(p) for p in paths]
    if not bottles:
        raise ValueError("an archive needs at least one bottle")
    ref = bottles[0]
    ref_grid = Grid(ref.header["beg"], ref.header["ivl"], ref.count)
    if not ref_grid.forward:
        raise ValueError(f"{ref.path}: {ref_grid.problem}")
    offsets = []
    for b in bottles:
        h, r = b.header, ref.header
        versus = f" ({ref.path} has "
        if b.dtype != ref.dtype:
            raise ValueError(f"{b.path} holds samples of type {b.dtype}{versus}{ref.dtype})")
        if h["ivl"] != r["ivl"]:
            raise ValueError(f"{b.path} has the interval {h['ivl']!r} s{versus}{r['ivl']!r} s)")
        if h["usym"] != r["usym"]:
            raise ValueError(f"{b.path} has the unusable value {h['usym']}{versus}{r['usym']})")
        k = ref_grid.offset_of(Grid(h["beg"], h["ivl"], b.count))
        if k is None:
            raise ValueError(f"{b.path} does not begin on the grid of {ref.path}")
        offsets.append(k)
    # Index 0 is the earliest sample (the earliest begin when none holds any).
    holding = [k for k, b in zip(offsets, bottles) if b.count > 0] or offsets
    base = min(holding)
    pieces = tuple(Piece(b.path, b.header["doff"], b.count, k - base) for k, b in zip(offsets, bottles))
    count = max((p.offset + p.count for p in pieces if p.count > 0), default=0)
    # The series begins where its first sample's bottle does.
    first = next(b for p, b in zip(pieces, bottles) if p.offset == 0 and (p.count > 0 or count == 0))
    begin = first.header["beg"]
    attrs = {"beg": begin, "ivl": ref.header["ivl"], "type": ref.header["type"], "usym": ref.header["usym"],
             "files": len(pieces)}
    return Series(pieces, count, ref.dtype, ref.unusable, begin, ref.header["ivl"], overlap, attrs)


def open_archive(paths, *, overlap=None, chunks=None, time_index=True, mask_and_scale=True):
    """One lazy xarray Dataset over many bottles on one grid, joined as
    `bottle cat` joins them.

    The bottles must have one type, interval and unusable value, and begin
    times a whole number of intervals apart; the Dataset runs from the
    earliest sample to the latest, with the unusable value (NaN when
    masked) in the gaps.  Where bottles overlap, an unusable sample gives
    way to a usable one; two usable samples must be equal, or with
    overlap="first" the bottle named first wins, with "last" the one named
    last.  A difference with overlap=None raises ValueError, naming the
    first time where the samples differ, when the data is read.

    Only the headers are read here.  chunks, time_index and mask_and_scale
    are as for xarray.open_dataset(..., engine="zulukit"):
    time_index=False gives a "sample" dimension with a lazy "time"
    coordinate (no pandas index), for long series."""
    import xarray

    from .xarray_backend import ZulukitBackendEntrypoint

    return xarray.open_dataset(archive_series(paths, overlap), engine=ZulukitBackendEntrypoint, chunks=chunks,
                               time_index=time_index, mask_and_scale=mask_and_scale)
