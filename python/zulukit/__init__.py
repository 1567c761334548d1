"""Bottle files and dates as numpy arrays.

A bottle holds one regularly sampled series (int16, int32, float32 or
float64 samples) behind a 40-byte header: sample i belongs to the time
begin + i * interval, in seconds since 1970 GMT.  Slots where no sample is
stored read as the bottle's unusable value.

    >>> import zulukit
    >>> with zulukit.create("day.bot", 0.0, 60.0, "float") as b:
    ...     b.write(0.0, [1.5, 2.5, float("nan"), 4.5])
    >>> with zulukit.open("day.bot") as b:
    ...     b.read(masked=True)
    masked_array(data=[1.5, 2.5, --, 4.5], ...)

Times may be given as float seconds since 1970, numpy.datetime64 or
datetime.datetime (naive means GMT).  The date routines atod, dtoa, dtov
and vtod convert whole arrays, in zone 0 (GMT) unless told otherwise.

Nothing is printed: failures are exceptions.  A missing file raises
FileNotFoundError, a file that is not a bottle BottleError (a ValueError),
and a transfer that fails OSError, at the call or at close().
"""

import datetime as _datetime
import math as _math
import operator as _operator

import numpy as _np

from . import _zulukit

__all__ = ["Bottle", "BottleError", "open", "create", "atod", "dtoa", "dtov", "vtod",
           "cut", "cat", "gaps", "stats", "export"]

BottleError = _zulukit.BottleError

# The sample types, in type-code order, as the library defines them: name,
# bytes per sample, default unusable value.  Types 2 and 3 are floating.
_TYPES = [
    (name, _np.dtype(("<f" if code in _zulukit.FLOAT_TYPES else "<i") + str(width)))
    for code, (name, width, _) in enumerate(_zulukit.TYPES)
]


def _type_code(dtype):
    """The type code of a sample type given by name or numpy dtype."""
    if isinstance(dtype, str):
        for code, (name, dt) in enumerate(_TYPES):
            if dtype == name:
                return code
    try:
        wanted = _np.dtype(dtype).newbyteorder("<")
    except TypeError:
        wanted = None
    for code, (_, dt) in enumerate(_TYPES):
        if wanted == dt:
            return code
    names = ", ".join(f"{dt.name}/{name!r}" for name, dt in _TYPES)
    raise ValueError(f"no bottle sample type {dtype!r}; one of {names}")


def _seconds(t):
    """Seconds since 1970 GMT of a float, numpy.datetime64 or datetime."""
    if isinstance(t, _datetime.datetime):
        if t.tzinfo is None:
            t = t.replace(tzinfo=_datetime.timezone.utc)
        delta = t - _datetime.datetime(1970, 1, 1, tzinfo=_datetime.timezone.utc)
        return delta.days * 86400.0 + delta.seconds + delta.microseconds / 1e6
    if isinstance(t, _np.datetime64):
        if _np.isnat(t):
            raise ValueError("NaT has no sample index")
        return float(t.astype("datetime64[ns]").astype(_np.int64)) / 1e9
    return float(t)


class Bottle:
    """An open bottle file.

    Made by zulukit.open() or zulukit.create(); a context manager that
    closes the bottle on leaving.  Attributes (read-only):

      path      the file name given
      mode      "r" (nothing is ever written back) or "r+"
      begin     time of sample 0, float seconds since 1970 GMT
      interval  seconds between samples (as the header holds it, a float32)
      count     number of samples stored
      end       time of the last sample, begin + (count - 1) * interval
      dtype     numpy dtype of the samples: int16, int32, float32, float64
      unusable  the value that marks a slot without a sample, in dtype

    A Bottle is not safe to share between threads: give each thread its
    own, or guard one with a lock.  Distinct bottles may be used by
    different threads at once (file transfers release the GIL).
    """

    def __init__(self, handle, path, mode):
        self._h = handle
        self._path = path
        self._mode = mode
        self._code = handle.type
        self._dtype = _TYPES[self._code][1]
        self._unusable = self._dtype.type(handle.unusable)

    path = property(lambda self: self._path)
    mode = property(lambda self: self._mode)
    dtype = property(lambda self: self._dtype)
    begin = property(lambda self: self._h.begin)
    interval = property(lambda self: self._h.interval)
    count = property(lambda self: self._h.count)
    unusable = property(lambda self: self._unusable)

    @property
    def end(self):
        return self.begin + (self.count - 1) * self.interval

    def flush(self):
        """Writes back any held samples and the header (mode "r+").  Raises
        OSError if anything did not reach the disk, now or before."""
        self._h.flush()

    def close(self):
        """Writes back any held samples and the header (mode "r+") and closes
        the file.  Raises OSError if anything did not reach the disk."""
        self._h.close()

    @property
    def closed(self):
        return self._h.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        if self._h.closed:
            return f"<zulukit.Bottle {self._path!r} closed>"
        return f"<zulukit.Bottle {self._path!r} mode {self._mode!r}: {self._h.show()}>"

    def _window(self, t, count):
        first = 0 if t is None else self._h.index(_seconds(t))
        if count is None:
            count = max(self.count - first, 0)
        count = _operator.index(count)
        if count < 0:
            raise ValueError("count must not be negative")
        return first, count

    def read(self, t=None, count=None, *, masked=False):
        """Reads count samples from the sample of time t.

        t defaults to the first sample, count to the rest of the bottle.
        Slots where no sample is stored (before the first, past the last)
        hold the unusable value; with masked=True the result is a
        numpy.ma.MaskedArray with every slot holding the unusable value
        masked.  The array has the bottle's dtype."""
        first, count = self._window(t, count)
        out = _np.empty(count, dtype=self._dtype)
        self._h.read_into(out, first)
        if masked:
            return _np.ma.MaskedArray(out, mask=out == self._unusable)
        return out

    def times(self, t=None, count=None):
        """The times of the samples read(t, count) returns, as
        numpy.datetime64 with microseconds."""
        first, count = self._window(t, count)
        step = self.interval if self.interval != 0 else 1.0
        seconds = self.begin + _np.arange(first, first + count, dtype=_np.float64) * step
        return _np.round(seconds * 1e6).astype(_np.int64).view("datetime64[us]")

    def write(self, t, values):
        """Stores values (any array-like) from the sample of time t.

        A gap after the last stored sample is filled with the unusable
        value; values before sample 0 are dropped.  NaN and masked entries
        are stored as the unusable value.  A value the sample type cannot
        hold (40000 in int16, 1.5 in an integer type, 1e300 in float32)
        raises ValueError and nothing is written."""
        samples = self._samples(values)
        self._h.write_from(samples, self._h.index(_seconds(t)))

    def _samples(self, values):
        """values as a contiguous array of the bottle's dtype, unusable where
        NaN or masked; ValueError for a value the type cannot hold."""
        mask = _np.ma.getmaskarray(values) if _np.ma.isMaskedArray(values) else None
        data = _np.ma.getdata(values) if mask is not None else values
        array = _np.asarray(data)
        if array.ndim != 1:
            array = array.reshape(-1)
        if array.dtype == self._dtype and mask is None:
            return _np.ascontiguousarray(array)  # NaN is stored as the unusable value
        if array.dtype.kind not in "biuf":
            try:
                array = array.astype(_np.float64)
            except (TypeError, ValueError) as e:
                raise ValueError(f"values must be numbers: {e}") from None
        missing = _np.isnan(array) if array.dtype.kind == "f" else _np.zeros(array.shape, bool)
        if mask is not None:
            missing |= mask
        self._check_fit(array, missing)
        with _np.errstate(invalid="ignore", over="ignore"):
            out = array.astype(self._dtype)
        if missing.any():
            out[missing] = self._unusable
        return out

    def _check_fit(self, array, missing):
        """Raises ValueError when a value not missing does not fit the type."""
        kept = array[~missing] if missing.any() else array
        if kept.size == 0:
            return
        if self._dtype.kind == "i":
            info = _np.iinfo(self._dtype)
            if kept.dtype.kind == "f":
                bad = ~_np.isfinite(kept) | (kept != _np.trunc(kept)) | (kept < info.min) | (kept > info.max)
            else:
                bad = (kept < info.min) | (kept > info.max)
        elif self._dtype == _np.float32 and kept.dtype.kind == "f" and kept.dtype.itemsize > 4:
            bad = _np.isfinite(kept) & (_np.abs(kept) > _np.finfo(_np.float32).max)
        else:
            return
        if bad.any():
            value = kept[_np.argmax(bad)]
            raise ValueError(f"{value!r} does not fit the bottle's {self._dtype.name} samples; "
                             "nothing was written")

    def to_pandas(self):
        """The samples as a pandas.Series of float64 on a DatetimeIndex,
        NaN where no sample is stored."""
        try:
            import pandas
        except ImportError as e:
            raise ImportError("Bottle.to_pandas needs pandas (Debian: python3-pandas)") from e
        values = self.read(masked=True).astype(_np.float64).filled(_np.nan)
        return pandas.Series(values, index=pandas.DatetimeIndex(self.times(), name="time"), name=self._path)


def open(path, mode="r"):
    """Opens the bottle file path.

    mode "r" reads and never writes anything back, not even the header;
    "r+" reads and writes, and close() writes the header back.  Raises
    FileNotFoundError (an OSError) for a missing file and BottleError for
    a file that is not a bottle."""
    if mode not in ("r", "r+"):
        raise ValueError(f"mode must be 'r' or 'r+', not {mode!r}")
    path = _fspath(path)
    return Bottle(_zulukit.Handle.open(path, mode == "r+"), path, mode)


def create(path, begin, interval, dtype, overwrite=False):
    """Creates a bottle with no samples and opens it in mode "r+".

    begin is the time of sample 0 (float seconds since 1970 GMT,
    numpy.datetime64 or datetime), interval the seconds between samples,
    dtype one of numpy.int16/"int", numpy.int32/"long",
    numpy.float32/"float", numpy.float64/"double".  An existing file is
    refused (FileExistsError) unless overwrite."""
    path = _fspath(path)
    handle = _zulukit.Handle.create(path, _seconds(begin), float(interval), _type_code(dtype), bool(overwrite))
    return Bottle(handle, path, "r+")


def _fspath(path):
    import os

    path = os.fspath(path)
    return path.decode() if isinstance(path, bytes) else path


def _times(times):
    scalar = _np.ndim(times) == 0
    return _np.atleast_1d(_np.asarray(times, dtype=_np.float64)).reshape(-1), scalar


def atod(texts, zone=0):
    """Times (float64 seconds since 1970) of date texts such as
    "850702143456", "85j183", "19850702143456.789", read as local time of
    the zone (hours from Greenwich; 0 is GMT).  A str gives a float."""
    if isinstance(texts, str):
        return float(_zulukit.atod([texts], zone)[0])
    return _zulukit.atod(list(texts), zone)


def dtoa(times, layout=0, zone=0):
    """Texts of times in one of the six layouts (0 to 5), in the zone.
    A single time gives a str, an array a list of str."""
    array, scalar = _times(times)
    texts = _zulukit.dtoa(array, layout, zone)
    return texts[0] if scalar else texts


def dtov(times, zone=0):
    """Date records of times: a structured array with int32 fields
    yr jl mo dm dw hr mn se mi (year, day of the year, month, day of the
    month, weekday with 0 Sunday, hour, minute, second, millisecond)."""
    array, scalar = _times(times)
    records = _zulukit.dtov(array, zone)
    return records[0] if scalar else records


def vtod(records, zone=0):
    """Times of date records (the structured dtype dtov gives); a record
    with day of the year 0 is dated by its month and day."""
    array = _np.asarray(records)
    scalar = array.ndim == 0
    times = _zulukit.vtod(_np.atleast_1d(array).reshape(-1), zone)
    return float(times[0]) if scalar else times


from .operations import cat, cut, export, gaps, stats  # noqa: E402 - after the names they use
from .archive_view import open_archive  # noqa: E402 (xarray is imported when it is called)
__all__.append("open_archive")
