"""Bottles in xarray: the backend named "zulukit", lazy sample arrays that
pickle, a time index on the bottle's grid, zulukit.open_archive, and the
ds.bottle accessor.

    >>> import xarray as xr
    >>> ds = xr.open_dataset("day.bot")                    # or engine="zulukit"
    >>> ds = xr.open_dataset("day.bot", chunks={"time": 10**6})   # Dask
    >>> ds.sel(time=slice("2015-06-23T01:00", "2015-06-23T02:00"))
    >>> year = zulukit.open_archive(sorted(glob.glob("2015-*.bot")))

A Dataset has one variable, "value", over the dimension "time" (or
"sample" with time_index=False), and a "time" coordinate of
datetime64[ns] on the bottle's nominal grid: the stamps of the archive
library's one clock, computed for the samples asked for and never stored.
With the time index (the default) "time" carries a GridIndex: selection by
time is arithmetic on the grid, so an index over a year of 100 Hz samples
costs nothing until to_pandas_index() is asked for.  With mask_and_scale
(the default) missing samples are NaN, in float32 for int16 and float32
bottles and float64 for the others, and the variable's encoding holds the
stored type and _FillValue, so to_netcdf writes the samples as stored;
without it the stored values keep their type and _FillValue is an
attribute.  Attributes hold what stays true of any selection (interval,
type, unusable value); the headers as stored (begin, counts, data offset,
spare fields, the files) are in ds.encoding, as xarray's own engines keep
on-disk facts.

Samples are read by the archive library when they are asked for, never
before; the arrays hold only the plan of the series (file names and
headers), so that they pickle and Dask's workers read the files
themselves, and a file that was replaced since it was opened is an error
naming it, never another file's samples.

xarray imports this module whenever it looks for its engines, for any
file: importing it loads neither the compiled extension nor anything but
xarray, and builds nothing beyond the classes.
"""

import operator
import os
import warnings

import numpy as np
import pandas as pd
import xarray as xr
from xarray.backends import BackendArray, BackendEntrypoint
from xarray.core import duck_array_ops, indexing
from xarray.core.indexes import Index, PandasIndex

_NS = 9  # stamps in nanoseconds, xarray's unit of time


def _ext():
    """The compiled extension, loaded when a bottle is first opened."""
    from . import _zulukit

    return _zulukit


def _masked_dtype(dtype):
    """The type missing samples become NaN in, as xarray's CF decoding
    promotes: float32 for int16 and float32, float64 otherwise."""
    return np.dtype(np.float32) if dtype.itemsize <= 2 or dtype == np.float32 else np.dtype(np.float64)


class _SeriesBackendArray(BackendArray):
    """A one-dimensional backend array whose _get reads what an outer
    indexer asks for: a slice with a positive step, an index, or indices."""

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

    def _positions(self, k):
        """The key as a slice with step 1 (start, count), a single position
        (an int), or an array of positions, each checked."""
        n = self.shape[0]
        if isinstance(k, slice):
            start, stop, step = k.indices(n)
            if step == 1:
                return start, max(stop - start, 0)
            k = np.arange(start, stop, step)
        if isinstance(k, (int, np.integer)):
            if not -n <= k < n:
                raise IndexError(f"index {k} is out of bounds for {n} samples")
            return int(k) % n
        k = np.asarray(k, dtype=np.int64)
        if k.size and (k.min() < -n or k.max() >= n):
            raise IndexError(f"indices out of bounds for {n} samples")
        return np.where(k < 0, k + n, k)


class SeriesArray(_SeriesBackendArray):
    """The samples of a series (zulukit's Series: one bottle, or several
    joined), read by the archive library when asked for.  With masked,
    missing samples are NaN."""

    def __init__(self, series, stored, masked):
        self.series, self.stored, self.masked = series, stored, masked
        self.shape = (series.count,)
        self.dtype = _masked_dtype(stored) if masked else stored

    def _get(self, key):
        (k,) = key
        at = self._positions(k)
        if isinstance(at, tuple):
            return self._read(*at)
        if isinstance(at, int):
            return self._read(at, 1).reshape(())
        out = np.empty(at.size, self.dtype)
        if self.masked:
            self.series.take_values_into(at, out)
        else:
            self.series.take_into(at, out)
        return out

    def _read(self, first, count):
        out = np.empty(count, self.dtype)
        if self.masked:
            self.series.values_into(out, first)
        else:
            self.series.read_into(out, first)
        return out

    def __dask_tokenize__(self):
        return (type(self).__name__, self.series.__dask_tokenize__(), self.masked)


class _Positions:
    """Positions 0 to size - 1 that stand for the samples first, first +
    step, ... of a grid: what an index or a time coordinate covers after
    selections with slices."""

    __slots__ = ("grid", "first", "step", "size")

    def __init__(self, grid, first, step, size):
        self.grid, self.first, self.step, self.size = grid, int(first), int(step), int(size)

    def samples(self, positions):
        return self.first + self.step * np.asarray(positions, dtype=np.int64)

    def sliced(self, k):
        start, stop, step = k.indices(self.size)
        return _Positions(self.grid, self.first + start * self.step, self.step * step, len(range(start, stop, step)))

    def times(self, positions=None):
        """The datetime64[ns] times of positions (all of them when None)."""
        if positions is None:
            if self.step == 1:
                out = np.empty(self.size, np.int64)
                self.grid.stamps_into(out, self.first, _NS)
                return out.view("datetime64[ns]")
            positions = np.arange(self.size)
        return self.grid.stamps_at(self.samples(positions), _NS).view("datetime64[ns]")

    def position(self, sample):
        """The position of a sample index, or None where it holds none."""
        j, rest = divmod(int(sample) - self.first, self.step)
        return j if rest == 0 and 0 <= j < self.size else None

    def same_clock(self, other):
        """The offset that maps other's sample indices onto this grid's,
        where its times are this grid's exactly; else None."""
        if self.grid.stored_interval != other.grid.stored_interval:
            return None
        offset = self.grid.offset_of(other.grid)
        if offset is None or not self.grid.continues(other.grid, offset):
            return None
        return offset

    def __reduce__(self):
        return (_Positions, (self.grid, self.first, self.step, self.size))


class TimeArray(_SeriesBackendArray):
    """The times of positions of a grid, computed for those asked for."""

    def __init__(self, positions):
        self.positions = positions
        self.shape = (positions.size,)
        self.dtype = np.dtype("datetime64[ns]")

    def _get(self, key):
        (k,) = key
        at = self._positions(k)
        p = self.positions
        if isinstance(at, tuple):
            first, count = at
            return _Positions(p.grid, p.first + first * p.step, p.step, count).times()
        if isinstance(at, int):
            return p.times([at]).reshape(())
        return p.times(at)


class _Lazy(indexing.LazilyIndexedArray):
    """xarray's lazy indexing, with indices into a slice of a long array
    mapped onto it in place (xarray's own makes an index array as long as
    the slice first, 800 MB for 10^8 samples, for each selection)."""

    def _updated_key(self, new_key):
        old, new = self.key.tuple[0], new_key.tuple[0] if len(new_key.tuple) == 1 else None
        if isinstance(old, slice) and isinstance(new, (int, np.integer)):
            start, _, step = old.indices(self.array.shape[0])
            n = self.shape[0]
            if not -n <= new < n:
                raise IndexError(f"index {new} is out of bounds for {n} samples")
            return indexing.OuterIndexer((start + step * (int(new) % n),))
        if isinstance(old, slice) and isinstance(new, np.ndarray) and new.ndim == 1:
            start, _, step = old.indices(self.array.shape[0])
            n = self.shape[0]
            if new.size and (new.min() < -n or new.max() >= n):
                raise IndexError(f"indices out of bounds for {n} samples")
            return indexing.OuterIndexer((start + step * np.where(new < 0, new + n, new),))
        return super()._updated_key(new_key)


def _time_positions(data):
    """The grid positions behind the data of a time coordinate, through
    xarray's wrappers and lazy slices; None for anything else."""
    while not isinstance(data, _Lazy):
        data = getattr(data, "array", None)
        if data is None:
            return None
    times, (k,) = data.array, data.key.tuple
    if not isinstance(times, TimeArray) or not isinstance(k, slice):
        return None
    return times.positions.sliced(k)


class GridTimes(xr.Variable):
    """The time coordinate of a bottle: computed from the grid for the
    samples asked for.  It is never cut into Dask chunks (as xarray leaves
    index coordinates whole), and coarsen() takes the mean, least or
    greatest time of each window from the grid, without the times of the
    samples in between."""

    __slots__ = ()

    def chunk(self, *args, **kwargs):
        return self

    def coarsen(self, windows, func, boundary="exact", side="left", keep_attrs=None, **kwargs):
        window = windows.get(self.dims[0]) if self.ndim == 1 else None
        p = _time_positions(self._data) if window else None
        step = p.grid.whole_step(_NS) if p is not None else None
        # xarray names the reduction of a dimension coordinate, and passes its
        # own function for other coordinates.
        func = next((name for name in ("mean", "min", "max") if func in (name, getattr(duck_array_ops, name))), func)
        if step is None or func not in ("mean", "min", "max") or p.step < 1 or boundary not in ("exact", "trim"):
            return super().coarsen(windows, func, boundary, side, keep_attrs, **kwargs)
        if boundary == "exact" and p.size % window:
            raise ValueError(f"Could not coarsen a dimension of size {p.size} with window {window} and "
                             "boundary='exact'. Try a different 'boundary' option.")
        count = p.size // window
        skip = p.size - count * window if side == "right" else 0
        starts = _Positions(p.grid, p.first + skip * p.step, p.step * window, count).times().view(np.int64)
        span = (window - 1) * p.step * step  # ns from a window's first time to its last
        offset = {"mean": span // 2, "min": 0, "max": span}[func]
        attrs = self.attrs if keep_attrs or keep_attrs is None else None
        return xr.Variable(self.dims, (starts + offset).view("datetime64[ns]"), attrs)


def _time_variable(positions, dim, attrs=None, encoding=None):
    data = _Lazy(TimeArray(positions))
    return GridTimes(dim, data, attrs, encoding)


def _nanoseconds(labels):
    """Labels of times (any the package reads, or arrays of them) as an
    int64 array of nanoseconds since 1970, and whether there was one."""
    from ._core import _nanoseconds as convert

    array = np.asarray(labels)
    if array.dtype.kind == "M":
        return array.astype("datetime64[ns]").astype(np.int64).reshape(-1), array.ndim == 0
    flat = array.reshape(-1) if array.dtype != object or array.ndim else [labels]
    return np.array([convert(t) for t in flat], dtype=np.int64), array.ndim == 0


class GridIndex(Index):
    """An xarray index of sample times on a bottle's nominal grid.

    Its positions stand for the samples first, first + step, ... of the
    grid, so that slices of it stay GridIndexes and nothing is stored per
    sample.  Selection by time follows the grid: a time names the sample
    within the grid's tolerance (half a millisecond, or a quarter of the
    interval), as every zulukit lookup does, and so does each end of a
    slice (both included); method="pad", "backfill" and "nearest" compare
    exact times, with tolerance, as pandas does.  to_pandas_index() (which
    resample and groupby use) makes a DatetimeIndex of the positions only;
    concat joins consecutive indexes without making one; alignment of
    indexes on one grid is arithmetic."""

    def __init__(self, positions, dim, name="time"):
        self.positions, self.dim, self.name = positions, dim, name

    @classmethod
    def from_variables(cls, variables, *, options):
        ((name, var),) = variables.items()
        positions = _time_positions(var._data) or options.get("positions")
        if positions is None:
            raise ValueError("a GridIndex is made from a bottle's time coordinate")
        return cls(positions, var.dims[0], name)

    def create_variables(self, variables=None):
        var = (variables or {}).get(self.name)
        attrs, encoding = (var.attrs, var.encoding) if var is not None else (None, None)
        return {self.name: _time_variable(self.positions, self.dim, attrs, encoding)}

    def to_pandas_index(self):
        return pd.DatetimeIndex(self.positions.times(), name=self.name)

    def _pandas(self):
        return PandasIndex(self.to_pandas_index(), self.dim)

    # --- Selection by position ----------------------------------------------

    def isel(self, indexers):
        k = indexers[self.dim]
        if isinstance(k, xr.Variable):
            if k.dims != (self.dim,):
                return None
            k = k.data
        if isinstance(k, slice):
            return type(self)(self.positions.sliced(k), self.dim, self.name)
        k = np.asarray(k)
        if k.ndim != 1:
            return None
        if k.dtype == bool:
            k = np.flatnonzero(k)
        k = np.where(k < 0, k + self.positions.size, k).astype(np.int64)
        steps = np.diff(k)
        if k.size <= 1 or (steps[0] != 0 and (steps == steps[0]).all()):
            first = int(k[0]) if k.size else 0
            step = int(steps[0]) if k.size > 1 else 1
            p = self.positions
            return type(self)(_Positions(p.grid, p.first + first * p.step, p.step * step, k.size), self.dim, self.name)
        return PandasIndex(pd.DatetimeIndex(self.positions.times(k), name=self.name), self.dim)

    # --- Selection by time --------------------------------------------------

    def _samples(self, ns, method, tolerance):
        """Positions of times (int64 ns), -1 where there is none."""
        p = self.positions
        samples = p.grid.locate(ns, _NS, method or "exact")
        found = samples != _ext().NO_SAMPLE
        j = np.full(ns.shape, -1, np.int64)
        offset = np.where(found, samples - p.first, 0)
        if method == "pad":
            j[found] = np.minimum(offset[found] // p.step, p.size - 1)
        elif method == "backfill":
            j[found] = np.maximum(-(-offset[found] // p.step), 0)
        elif method == "nearest":
            lo = np.clip(offset // p.step, 0, max(p.size - 1, 0))
            hi = np.minimum(lo + 1, max(p.size - 1, 0))
            t_lo, t_hi = (p.times(x).view(np.int64) if p.size else x for x in (lo, hi))
            j = np.where(np.abs(t_hi - ns) <= np.abs(ns - t_lo), hi, lo)
            found = np.full(ns.shape, p.size > 0)
        else:
            j[found] = np.where(offset[found] % p.step == 0, offset[found] // p.step, -1)
        j[~found | (j < 0) | (j >= p.size)] = -1
        if tolerance is not None and method is not None:
            limit = pd.Timedelta(tolerance).value
            near = j >= 0
            near[near] = np.abs(p.times(j[near]).view(np.int64) - ns[near]) <= limit
            j[~near] = -1
        return j

    def _slice(self, label):
        if label.step is not None:
            raise NotImplementedError("a slice of times takes no step")
        from ._core import _seconds

        p = self.positions
        start = None if label.start is None else _seconds(label.start)
        stop = None if label.stop is None else _seconds(label.stop)
        first, end = p.grid.select(start, stop)  # the samples from start to stop, both included
        lo = max(0, -(-(first - p.first) // p.step))
        hi = min(p.size, -(-(end - p.first) // p.step))
        return slice(lo, max(lo, hi))

    def sel(self, labels, method=None, tolerance=None):
        (label,) = labels.values()
        if self.positions.step < 0 or not self.positions.grid.forward:
            return self._pandas().sel(labels, method=method, tolerance=tolerance)
        if method is not None and method not in ("pad", "backfill", "nearest", "ffill", "bfill"):
            raise ValueError(f"no such method of selection: {method!r}")
        method = {"ffill": "pad", "bfill": "backfill"}.get(method, method)
        if isinstance(label, slice):
            if method is not None:
                raise NotImplementedError("a slice of times takes no method")
            return indexing.IndexSelResult({self.dim: self._slice(label)})
        values = label.values if isinstance(label, (xr.DataArray, xr.Variable)) else label
        if np.asarray(values).dtype.kind == "b":
            indexer = np.asarray(values)
        else:
            ns, scalar = _nanoseconds(values)
            j = self._samples(ns, method, tolerance)
            if (j < 0).any():
                if scalar:
                    raise KeyError(f"no sample at {label!r}")
                raise KeyError(f"not all values found in index {self.name!r}")
            indexer = int(j[0]) if scalar and method is None else j.reshape(np.shape(values))
        if isinstance(label, xr.Variable):
            indexer = xr.Variable(label.dims, indexer)
        elif isinstance(label, xr.DataArray):
            indexer = xr.DataArray(indexer, coords=label._coords, dims=label.dims)
        return indexing.IndexSelResult({self.dim: indexer})

    # --- Indexes together ---------------------------------------------------

    def _aligned(self, other):
        """other's first position as a sample of this grid, where both step
        by one through one clock; else None."""
        if not isinstance(other, GridIndex) or self.positions.step != 1 or other.positions.step != 1:
            return None
        offset = self.positions.same_clock(other.positions)
        return None if offset is None else offset + other.positions.first

    def equals(self, other):
        if not isinstance(other, GridIndex):
            return self._pandas().equals(other) if isinstance(other, PandasIndex) else False
        a, b = self.positions, other.positions
        if a.size != b.size:
            return False
        if a.size == 0:
            return True
        offset = a.same_clock(b)
        return offset is not None and a.first == offset + b.first and (a.size == 1 or a.step == b.step)

    def join(self, other, how="inner"):
        start = self._aligned(other)
        if start is None:
            other = other._pandas() if isinstance(other, GridIndex) else other
            return self._pandas().join(other, how=how)
        a = (self.positions.first, self.positions.first + self.positions.size)
        b = (start, start + other.positions.size)
        if how == "left":
            return self
        if how == "right":
            lo, hi = b
        elif how == "inner":
            lo, hi = max(a[0], b[0]), min(a[1], b[1])
        elif max(a[0], b[0]) <= min(a[1], b[1]):  # outer, of ranges that touch
            lo, hi = min(a[0], b[0]), max(a[1], b[1])
        else:
            return self._pandas().join(other._pandas(), how=how)
        p = self.positions
        return type(self)(_Positions(p.grid, lo, 1, max(hi - lo, 0)), self.dim, self.name)

    def reindex_like(self, other):
        start = self._aligned(other)
        if start is None:
            other = other._pandas() if isinstance(other, GridIndex) else other
            return self._pandas().reindex_like(other)
        j = start + np.arange(other.positions.size) - self.positions.first
        return {self.dim: np.where((j >= 0) & (j < self.positions.size), j, -1)}

    @classmethod
    def concat(cls, indexes, dim, positions=None):
        first = indexes[0]
        consecutive = positions is None and all(isinstance(i, GridIndex) for i in indexes)
        if consecutive:
            p = first.positions
            end = p.first + p.size * p.step  # the sample the next index must begin with
            for other in indexes[1:]:
                q = other.positions
                offset = p.same_clock(q)
                if q.size and (offset is None or (q.step != p.step and q.size > 1) or offset + q.first != end):
                    consecutive = False
                    break
                end += q.size * p.step
        if consecutive:
            size = sum(i.positions.size for i in indexes)
            p = first.positions
            return cls(_Positions(p.grid, p.first, p.step, size), dim, first.name)
        pandas = [i._pandas() if isinstance(i, GridIndex) else i for i in indexes]
        return PandasIndex.concat(pandas, dim, positions)

    def roll(self, shifts):
        return None

    def rename(self, name_dict, dims_dict):
        if self.name not in name_dict and self.dim not in dims_dict:
            return self
        return type(self)(self.positions, dims_dict.get(self.dim, self.dim), name_dict.get(self.name, self.name))

    def _repr_inline_(self, max_width):
        p = self.positions
        if p.size == 0:
            return "GridIndex (no samples)"
        first, last = p.times([0, p.size - 1])
        return f"GridIndex ({p.size} samples, {first} to {last})"

    def __repr__(self):
        return f"<{self._repr_inline_(80)}>"


def _header_encoding(series):
    """The on-disk facts of a series: its first file's header as stored and
    the samples it holds; for several files, each one's too."""
    first = series.first_header
    encoding = {k: v for k, v in first.items() if k != "offset"}
    if len(series.headers) > 1:
        encoding["sources"] = [h["source"] for h in series.headers]
        encoding["headers"] = series.headers
        encoding["overlap"] = series.overlap
    if series.moves:
        encoding["snapped"] = series.moves
    return encoding


def series_dataset(series, *, mask_and_scale=True, time_index=True, drop_variables=None):
    """The lazy Dataset of a series (see the module's documentation)."""
    from ._core import _TYPES

    name, stored = _TYPES[series.type]
    dim = "time" if time_index else "sample"
    fill = stored.type(series.usym)
    raw = _Lazy(SeriesArray(series, stored, mask_and_scale))
    if mask_and_scale:
        value = xr.Variable(dim, raw, encoding={"_FillValue": fill, "dtype": stored})
    else:
        value = xr.Variable(dim, raw, attrs={"_FillValue": fill})
    variables = {} if "value" in _names(drop_variables) else {"value": value}
    ds = xr.Dataset(variables, attrs={"interval": series.grid.step, "type": name, "unusable": fill})
    ds.encoding.update(_header_encoding(series))
    if "time" in _names(drop_variables):
        return ds
    return _with_times(ds, series.grid, dim, time_index)


def _with_times(ds, grid, dim, time_index):
    """ds with the time coordinate of its samples along dim, the samples 0
    to grid.count - 1 of grid (a GridIndex with time_index); ds as it is
    where the grid gives them no times in nanoseconds."""
    count = grid.count
    if not (grid.forward and grid.stamp(0, _NS) is not None and grid.stamp(max(count - 1, 0), _NS) is not None):
        return ds
    positions = _Positions(grid, 0, 1, count)
    if not time_index:
        return ds.assign_coords(time=_time_variable(positions, dim))
    # xarray (2023.01) gives a dimension coordinate a pandas index of its
    # own; ours is set on another name first, then renamed.
    ds = ds.assign_coords(_time=_time_variable(positions, dim)).set_xindex("_time", GridIndex)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)  # "does not create an index anymore": ours is there
        return ds.rename({"_time": "time"})


def _names(drop_variables):
    return {drop_variables} if isinstance(drop_variables, str) else set(drop_variables or ())


def open_archive(paths, *, overlap=None, snap=None, chunks=None, time_index=True, mask_and_scale=True):
    """One lazy xarray Dataset over many bottles on one grid, joined as
    `bottle cat` joins them.

    The bottles must have one type, interval and unusable value, and begin
    times a whole number of intervals apart on the grid that most of them
    keep; the Dataset runs from the earliest sample to the latest, with the
    unusable value (NaN when masked) in the gaps.  snap (seconds, a text
    such as "5ms", or a timedelta; default None, nothing moves) places a
    bottle whose begin time lies within it of the grid on the nearest
    sample time, with a UserWarning, and ds.encoding["snapped"] holds each
    such file's move in seconds.  Where bottles overlap, a missing sample
    gives way to a usable one; two usable samples must be equal, or with
    overlap="first" the bottle named first wins, with "last" the one named
    last.  A difference with overlap=None raises ValueError, naming the
    first time where the samples differ, when the data is read.

    Only the headers are read here, and the time index costs nothing
    until it is turned into a pandas index.  chunks, time_index and
    mask_and_scale are as for xarray.open_dataset(..., engine="zulukit")."""
    from ._core import _fspath
    from .operations import _duration

    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    series = _ext().Series.joined([_fspath(p) for p in paths], overlap, _duration(snap))
    for note in series.move_notes:
        warnings.warn(note, UserWarning, stacklevel=2)
    ds = xr.open_dataset(series, engine=ZulukitBackendEntrypoint, chunks=chunks, time_index=time_index,
                         mask_and_scale=mask_and_scale)
    ds.encoding.update(_header_encoding(series))
    return ds


class ZulukitBackendEntrypoint(BackendEntrypoint):
    """Bottle files (.bot, or magic number 349) as lazy Datasets."""

    description = "Bottle files of zulukit: one regularly sampled series each"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "mask_and_scale", "time_index")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, mask_and_scale=True, time_index=True):
        from ._core import _fspath

        ext = _ext()
        if isinstance(filename_or_obj, ext.Series):
            series = filename_or_obj
        else:
            series = ext.Series.of_bottle(_fspath(filename_or_obj))
        return series_dataset(series, mask_and_scale=mask_and_scale, time_index=time_index,
                              drop_variables=drop_variables)

    def guess_can_open(self, filename_or_obj):
        try:
            path = os.fsencode(os.fspath(filename_or_obj))
        except TypeError:
            return False
        if path.endswith(b".bot"):
            return True
        try:
            return b"\0" not in path and _ext().looks_like_bottle(path)
        except (ImportError, OSError, ValueError):
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
        if "time" not in ds.coords or "interval" not in ds.attrs:
            raise ValueError("ds.bottle needs a Dataset of bottle samples with times (a 'time' coordinate)")
        (dim,) = ds["time"].dims
        n, interval = ds.sizes[dim], np.float32(ds.attrs["interval"])
        if n == 0:
            return dim, Grid(0.0, interval, 0)
        first, last = ds["time"][[0, -1]].values
        grid = Grid(_seconds(first), interval, n)
        if grid.index_at(_seconds(last)) != n - 1:
            raise ValueError(f"ds.bottle selects among consecutive samples of one time grid; these {n} samples "
                             f"run from {first} to {last}, with the interval {_ext().interval_text(interval)}")
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

    def decimate(self, factor, method="fir", strict=False):
        """The Dataset at a rate a whole factor lower, as zulukit.decimate
        writes it (see there for the filter, the block statistics and
        strict): sample j at the time of sample j * factor, on a grid whose
        interval is factor times this one's.  The variable "value" is read
        whole (a lazy or Dask-backed one into memory) and decimated; the
        other variables and coordinates are left out.  Filtered and mean
        values are float32 for int16 and float32 bottles and float64
        otherwise; min and max keep the values' type."""
        from ._core import _TYPES, _type_code

        dim, grid = self._grid()
        ds = self._ds
        if "value" not in ds.data_vars:
            raise ValueError("ds.bottle.decimate needs the variable 'value' of a bottle")
        ext = _ext()
        factor = operator.index(factor)
        new_grid = ext.decimated_grid(grid, factor)
        value = ds["value"]
        data = np.asarray(value.values)
        masked = "_FillValue" not in value.attrs  # else the stored samples, their unusable value missing
        usym = ds.attrs.get("unusable") if masked else value.attrs["_FillValue"]
        missing = np.isnan(data) if masked else ext.missing(data, int(usym))
        out = ext.decimate_values(np.where(missing, np.nan, data.astype(np.float64)), factor, str(method), bool(strict))
        stored_type = _type_code(ds.attrs.get("type", "double"))
        out_type = ext.decimated_type(stored_type, str(method))
        name, stored = _TYPES[out_type]
        fill = stored.type(usym if out_type == stored_type else ext.TYPES[out_type][2])
        if masked:  # NaN where missing, in the type the values have (the masked type of the output's)
            result = xr.Variable(dim, out.astype(data.dtype), encoding={"_FillValue": fill, "dtype": stored})
        else:
            result = xr.Variable(dim, np.where(np.isnan(out), fill, out).astype(stored), attrs={"_FillValue": fill})
        decimated = xr.Dataset({"value": result}, attrs={"interval": new_grid.step, "type": name, "unusable": fill})
        return _with_times(decimated, new_grid, dim, dim == "time")
