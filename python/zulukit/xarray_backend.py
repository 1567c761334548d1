"""Bottles in xarray: the backend named "zulukit", lazy sample arrays that
pickle, and the ds.bottle accessor.

    >>> import xarray as xr
    >>> ds = xr.open_dataset("day.bot")                    # or engine="zulukit"
    >>> ds = xr.open_dataset("day.bot", chunks={"time": 10**6})   # Dask
    >>> ds = xr.open_dataset("year.bot", time_index=False)  # no pandas index
    >>> ds.bottle.sel(time=slice("2015-06-23T01:00", "2015-06-23T02:00"))

A Dataset has one variable, "value", over the dimension "time" (or
"sample" with time_index=False), a "time" coordinate of datetime64[ns]
on the bottle's nominal grid, and the header fields as attributes.  With
mask_and_scale (the default) unusable samples are NaN, in float32 for
int16 and float32 bottles and float64 for the others; without it the
stored values keep their type and the variable's _FillValue attribute
is the unusable value.  Samples are read with positioned reads when they
are asked for, never before; the arrays hold only file names and
numbers, so that they pickle (Dask's workers read the files themselves).

xarray imports this module whenever it looks for its engines, for any
file: importing it opens nothing and builds nothing beyond the classes.
"""

import os
from fractions import Fraction

import numpy as np
import xarray as xr
from xarray.backends import BackendArray, BackendEntrypoint
from xarray.core import indexing

from . import archive_view

# Samples read, converted or merged at a time, so that the temporaries of
# each step stay in the processor's caches.
_BLOCK = 1 << 16
# Wanted samples at most this many bytes apart are read with one call.
_GAP_BYTES = 1 << 14


def _read_into(fd, view, offset):
    """Fills the bytes of view from the file position offset; returns how
    many the file held (fewer at its end)."""
    done, size = 0, len(view)
    while done < size:
        got = os.preadv(fd, [view[done:]], offset + done)
        if got == 0:
            break
        done += got
    return done


def _masked_dtype(dtype):
    """The type unusable samples become NaN in, as xarray's CF decoding
    promotes: float32 for int16 and float32, float64 otherwise."""
    return np.dtype(np.float32) if dtype.itemsize <= 2 or dtype == np.float32 else np.dtype(np.float64)


class _SeriesBackendArray(BackendArray):
    """A one-dimensional backend array whose _get reads what an outer
    indexer asks for: a slice with a positive step, an index, or sorted
    indices."""

    def __getitem__(self, key):
        (k,) = key.tuple
        if isinstance(k, slice) and k.step is not None and k.step < 0:
            # xarray (2023.01) turns a slice with a negative step into a
            # forward one that is off by one where the step is not 1; so the
            # forward slice over the same samples is read, and reversed.
            taken = range(*k.indices(self.shape[0]))
            forward = slice(taken[-1], taken[0] + 1, -taken.step) if taken else slice(0, 0)
            return self[type(key)((forward,))][::-1]
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER, self._get)


class SeriesArray(_SeriesBackendArray):
    """The samples of a series (archive_view.Series), read on demand.

    Outer indexing: a slice, an index, or sorted indices, read with one
    positioned read for each run of nearby indices.  With masked, unusable
    samples are NaN."""

    def __init__(self, series, masked):
        self.series = series
        self.masked = masked
        self.shape = (series.count,)
        self.dtype = _masked_dtype(series.dtype) if masked else series.dtype
        self._overlapping = series.overlapping()
        self._starts = np.array([p.offset for p in series.pieces], dtype=np.int64)
        self._ends = self._starts + np.array([p.count for p in series.pieces], dtype=np.int64)
        # The piece of a series that is one file from sample 0, read directly.
        self._one_file = series.pieces[0] if len(series.pieces) == 1 and series.pieces[0].offset == 0 else None

    def _get(self, key):
        (k,) = key
        n = self.series.count
        if isinstance(k, slice):
            start, stop, step = k.indices(n)
            if step == 1:
                return self._convert(self._runs([start], [max(start, stop)]))
            k = np.arange(start, stop, step)
        if isinstance(k, (int, np.integer)):
            if not -n <= k < n:
                raise IndexError(f"index {k} is out of bounds for {n} samples")
            k = int(k) % n
            return self._convert(self._runs([k], [k + 1])).reshape(())
        return self._convert(self._take(np.asarray(k, dtype=np.int64)))

    def _take(self, wanted):
        """The samples at the indices wanted (in increasing order): one read
        for each run of indices that lie near each other."""
        n, dtype = self.series.count, self.series.dtype
        if wanted.size and (wanted[0] < 0 or wanted[-1] >= n):
            raise IndexError(f"indices out of bounds for {n} samples")
        if wanted.size == 0:
            return np.empty(0, dtype)
        gap = max(1, _GAP_BYTES // dtype.itemsize)
        firsts = np.r_[0, np.flatnonzero(np.diff(wanted) > gap) + 1]
        los = wanted[firsts]
        his = np.r_[wanted[firsts[1:] - 1], wanted[-1]] + 1
        blocks = self._runs(los.tolist(), his.tolist())
        # Where each wanted sample lies among the runs read one after another.
        starts = np.cumsum(his - los) - (his - los)
        sizes = np.diff(np.r_[firsts, wanted.size])
        return blocks[wanted - np.repeat(los - starts, sizes)]

    def _runs(self, los, his):
        """The samples lo to hi - 1 of each run (lists of indices within
        the series) in turn, one after another."""
        if self._one_file is not None:
            return self._read_runs(self._one_file, los, his)
        fds = {}
        try:
            blocks = [self._read(lo, hi, fds) for lo, hi in zip(los, his)]
        finally:
            for fd in fds.values():
                os.close(fd)
        return blocks[0] if len(blocks) == 1 else np.concatenate(blocks)

    def _read_runs(self, piece, los, his):
        """_runs of a series that is one file from sample 0: a positioned
        read each, with nothing between."""
        width = self.series.dtype.itemsize
        out = np.empty(sum(hi - lo for lo, hi in zip(los, his)), self.series.dtype)
        view = memoryview(out).cast("B")
        fd = archive_view.open_to_read(piece.path)
        try:
            at = 0
            for lo, hi in zip(los, his):
                size = (hi - lo) * width
                got = _read_into(fd, view[at:at + size], piece.doff + lo * width)
                if got < size:  # the file was cut short since it was opened
                    out[(at + got) // width:(at + size) // width] = self.series.unusable
                at += size
        finally:
            os.close(fd)
        return out

    def _read(self, a, b, fds):
        """Samples a to b - 1 as stored, the unusable value where no piece
        holds one; overlapping pieces merged as the series says.  fds holds
        the files that the caller's reads have opened so far, for the caller
        to close."""
        s = self.series
        out = np.empty(b - a, s.dtype)
        hits = np.flatnonzero((self._starts < b) & (self._ends > a))
        whole = hits.size == 1 and self._starts[hits[0]] <= a and self._ends[hits[0]] >= b
        if not whole:
            out.fill(s.unusable)
        written = []
        for h in hits:
            p = s.pieces[h]
            lo, hi = max(a, p.offset), min(b, p.offset + p.count)
            target = out[lo - a:hi - a]
            merge = self._overlapping and any(w_lo < hi and lo < w_hi for w_lo, w_hi in written)
            buffer = np.empty_like(target) if merge else target
            self._read_piece(p, lo - p.offset, buffer, fds)
            if merge:
                self._merge(target, buffer, lo, p)
            written.append((lo, hi))
        return out

    def _read_piece(self, p, first, buffer, fds):
        fd = fds.get(p.path)
        if fd is None:
            fd = fds[p.path] = archive_view.open_to_read(p.path)
        view = memoryview(buffer).cast("B")
        got = _read_into(fd, view, p.doff + first * buffer.itemsize)
        if got < len(view):  # the file was cut short since it was opened
            buffer[got // buffer.itemsize:] = self.series.unusable

    def _merge(self, out, new, lo, piece):
        """Merges the samples new into out, byte for byte: an unusable sample
        gives way to a usable one; two usable ones that differ are an error
        unless the series' overlap rule says which wins."""
        bits = np.dtype(f"<u{out.itemsize}")
        o, n = out.view(bits), new.view(bits)
        u = np.array(self.series.unusable, self.series.dtype).view(bits)[()]
        differ = (n != u) & (o != n)
        if self.series.overlap == "last":
            o[differ] = n[differ]
            return
        fill = differ & (o == u)
        o[fill] = n[fill]
        if self.series.overlap is None and (differ & ~fill).any():
            at = lo + int(np.argmax(differ & ~fill))
            steps = _nanosecond_steps(self.series)
            when = (np.datetime_as_string(_times_of(np.array([at]), steps)[0], unit="ms") + "Z"
                    if steps else f"sample {at}")
            raise ValueError(f"the inputs overlap and differ, first at {when} (in {piece.path}); "
                             "overlap='first' or overlap='last' says which input wins")

    def _convert(self, raw):
        """raw as the array's type: unusable samples NaN when masked."""
        if not self.masked:
            return raw
        out = raw if raw.dtype == self.dtype else np.empty(raw.shape, self.dtype)
        u = raw.dtype.type(self.series.unusable)
        for i in range(0, raw.size, _BLOCK):
            r, o = raw[i:i + _BLOCK], out[i:i + _BLOCK]
            if o is not r:
                o[...] = r
            np.copyto(o, np.nan, where=r == u)
        return out


def _nanosecond_steps(series):
    """The series' grid in whole nanoseconds: (begin, p, q) with sample i at
    begin + i * p / q ns (rounded), where the grid's step is p / q ns
    exactly (1 / rate, or its decimal step); None where the times do not
    fit datetime64[ns], the step is under 1 ns, or the grid has no times."""
    grid = series.grid()
    if not grid.usable:
        return None
    step = Fraction(10**9, grid.rate) if grid.rate > 0 else Fraction(repr(grid.step)) * 10**9
    # The begin time as the shortest decimal that the stored double holds,
    # as the grid takes the interval from the stored float.
    begin = round(Fraction(repr(series.begin)) * 10**9)
    last = begin + round(max(series.count - 1, 0) * step)
    if step < 1 or not -(2**63) < min(begin, last) <= max(begin, last) < 2**63 - 1:
        return None
    if step.numerator * step.denominator >= 2**61:  # the split sums below could overflow
        return None
    return begin, step.numerator, step.denominator


def _times_of(indices, steps):
    """The datetime64[ns] times of sample indices on a grid of nanosecond
    steps (as _nanosecond_steps gives them)."""
    begin, p, q = steps
    whole, part = np.divmod(indices.astype(np.int64), q)
    ns = whole * p + (2 * part * p + q) // (2 * q)
    return (ns + begin).view("datetime64[ns]")


class TimeArray(_SeriesBackendArray):
    """The times of a series' samples, computed for the samples asked for."""

    def __init__(self, series, steps):
        self.series, self.steps = series, steps
        self.shape = (series.count,)
        self.dtype = np.dtype("datetime64[ns]")

    def _get(self, key):
        (k,) = key
        n = self.series.count
        if isinstance(k, slice):
            k = np.arange(*k.indices(n))
        elif isinstance(k, (int, np.integer)):
            if not -n <= k < n:
                raise IndexError(f"index {k} is out of bounds for {n} samples")
            return _times_of(np.array([int(k) % n]), self.steps).reshape(())
        return _times_of(np.asarray(k), self.steps)


class _Lazy(indexing.LazilyIndexedArray):
    """xarray's lazy indexing, with indices into a slice of a long array
    mapped onto it in place (xarray's own makes an index array as long as
    the slice first, 800 MB for 10^8 samples, for each selection)."""

    def _updated_key(self, new_key):
        old, new = self.key.tuple[0], new_key.tuple[0] if len(new_key.tuple) == 1 else None
        if isinstance(old, slice) and isinstance(new, np.ndarray) and new.ndim == 1:
            start, _, step = old.indices(self.array.shape[0])
            n = self.shape[0]
            if new.size and (new.min() < -n or new.max() >= n):
                raise IndexError(f"indices out of bounds for {n} samples")
            return indexing.OuterIndexer((start + step * np.where(new < 0, new + n, new),))
        return super()._updated_key(new_key)


def series_dataset(series, *, mask_and_scale=True, time_index=True, drop_variables=None):
    """The lazy Dataset of a series (see the module's documentation)."""
    dim = "time" if time_index else "sample"
    raw = _Lazy(SeriesArray(series, mask_and_scale))
    fill = series.dtype.type(series.unusable)
    if mask_and_scale:
        value = xr.Variable(dim, raw, encoding={"_FillValue": fill, "dtype": series.dtype})
    else:
        value = xr.Variable(dim, raw, attrs={"_FillValue": fill})
    variables = {"value": value}
    coords = {}
    steps = _nanosecond_steps(series)
    if steps is not None:
        times = TimeArray(series, steps)
        coords["time"] = xr.Variable(dim, times[indexing.BasicIndexer((slice(None),))] if time_index
                                     else _Lazy(times))
    dropped = {drop_variables} if isinstance(drop_variables, str) else set(drop_variables or ())
    variables = {k: v for k, v in variables.items() if k not in dropped}
    coords = {k: v for k, v in coords.items() if k not in dropped}
    return xr.Dataset(variables, coords=coords, attrs=dict(series.attrs))


class ZulukitBackendEntrypoint(BackendEntrypoint):
    """Bottle files (.bot, or magic number 349) as lazy Datasets."""

    description = "Bottle files of zulukit: one regularly sampled series each"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "mask_and_scale", "time_index")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, mask_and_scale=True, time_index=True):
        if isinstance(filename_or_obj, archive_view.Series):
            series = filename_or_obj
        else:
            series = archive_view.bottle_series(filename_or_obj)
        return series_dataset(series, mask_and_scale=mask_and_scale, time_index=time_index,
                              drop_variables=drop_variables)

    def guess_can_open(self, filename_or_obj):
        try:
            path = os.fspath(filename_or_obj)
        except TypeError:
            return False
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        if path.endswith(".bot"):
            return True
        try:
            return archive_view.read_header(path) is not None
        except (OSError, ValueError):
            return False


@xr.register_dataset_accessor("bottle")
class BottleAccessor:
    """ds.bottle: selection by time on the bottle's grid, in constant time
    and without a time index (ds opened with time_index=False as well)."""

    def __init__(self, ds):
        self._ds = ds

    def _grid(self):
        """The dimension and the grid of the Dataset's samples, which must
        be consecutive samples of one grid: its first and last times are
        checked, so that a strided or reversed selection, or days joined
        across a gap, raise ValueError instead of giving other samples."""
        from ._core import Grid, _seconds

        ds = self._ds
        if "time" not in ds.coords or "ivl" not in ds.attrs:
            raise ValueError("ds.bottle needs a Dataset of bottle samples with times (a 'time' coordinate)")
        (dim,) = ds["time"].dims
        n, interval = ds.sizes[dim], float(ds.attrs["ivl"])
        if n == 0:
            return dim, Grid(0.0, interval, 0)
        first, last = ds["time"][[0, -1]].values
        grid = Grid(_seconds(first), interval, n)
        if grid.index_at(_seconds(last)) != n - 1:
            raise ValueError(f"ds.bottle selects among consecutive samples of one time grid; these {n} samples "
                             f"run from {first} to {last}, {ds.attrs['ivl']!r} s apart on the bottle")
        return dim, grid

    def sel(self, time):
        """The samples of a time, or of a slice of times (both ends
        included), on the grid with its one tolerance: a slice's start
        selects the first sample at or after it, its end the last at or
        before it; a single time the sample it names (KeyError if none)."""
        from ._core import _seconds  # the package's one conversion of times

        dim, grid = self._grid()
        if isinstance(time, slice):
            if time.step is not None:
                raise ValueError("a slice of times takes no step")
            start = None if time.start is None else _seconds(time.start)
            stop = None if time.stop is None else _seconds(time.stop)
            first, end = grid.select(start, stop)
            return self._ds.isel({dim: slice(first, end)})
        i = grid.index_at(_seconds(time))
        if i is None or not 0 <= i < grid.count:
            raise KeyError(f"no sample at {time!r}")
        return self._ds.isel({dim: i})
