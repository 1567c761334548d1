"""Bottles as numpy arrays and the date routines over arrays: the half of
the zulukit package that the compiled extension carries.  The package
imports this module when one of its names is first used (see zulukit's
own documentation)."""

import collections as _collections
import datetime as _datetime
import math as _math
import operator as _operator
import os as _os
import warnings as _warnings
from fractions import Fraction as _Fraction

import numpy as _np

from . import _zulukit

BottleError = _zulukit.BottleError
Grid = _zulukit.Grid

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


# Seconds in one unit of numpy.datetime64, for the units of fixed length.
_UNIT_SECONDS = {"W": _Fraction(604800), "D": _Fraction(86400), "h": _Fraction(3600), "m": _Fraction(60),
                 "s": _Fraction(1), "ms": _Fraction(1, 10**3), "us": _Fraction(1, 10**6),
                 "ns": _Fraction(1, 10**9), "ps": _Fraction(1, 10**12), "fs": _Fraction(1, 10**15),
                 "as": _Fraction(1, 10**18)}
# The units times() gives, by their decimal places of a second.
_TIME_UNITS = {"s": 0, "ms": 3, "us": 6, "ns": 9}
_EPOCH_ORDINAL = _datetime.date(1970, 1, 1).toordinal()


def _days_before_month(year, month):
    """Days from 1970-01-01 to the first of the month (proleptic Gregorian,
    any year), in whole-number arithmetic."""
    y = year - (month <= 2)
    era = y // 400
    yoe = y - era * 400
    doy = (153 * (month + (-3 if month > 2 else 9)) + 2) // 5
    doe = yoe * 365 + yoe // 4 - yoe // 100 + doy
    return era * 146097 + doe - 719468


def _exact_seconds(t):
    """The seconds since 1970 GMT that t names, as an exact fraction."""
    if isinstance(t, str):
        return _Fraction(_zulukit.parse_time(t))
    if isinstance(t, _datetime.datetime):
        seconds = ((t.toordinal() - _EPOCH_ORDINAL) * 86400 + t.hour * 3600 + t.minute * 60 + t.second
                   + _Fraction(t.microsecond, 10**6) + _Fraction(getattr(t, "nanosecond", 0), 10**9))
        offset = t.utcoffset()  # naive: GMT
        if offset is not None:
            seconds -= offset.days * 86400 + offset.seconds + _Fraction(offset.microseconds, 10**6)
        return seconds
    if isinstance(t, _datetime.date):
        return _Fraction((t.toordinal() - _EPOCH_ORDINAL) * 86400)
    if isinstance(t, _np.datetime64):
        if _np.isnat(t):
            raise ValueError("NaT is not a time")
        unit, step = _np.datetime_data(t.dtype)
        value = int(t.astype(_np.int64)) * step
        if unit in ("Y", "M"):
            year, month = divmod(value * (12 if unit == "Y" else 1), 12)
            return _Fraction(_days_before_month(1970 + year, month + 1) * 86400)
        if unit not in _UNIT_SECONDS:
            raise ValueError(f"{t!r} has no unit of time")
        return value * _UNIT_SECONDS[unit]
    if isinstance(t, (complex, _np.complexfloating)):
        raise ValueError(f"{t!r} is not a time")
    seconds = float(t)
    if not _math.isfinite(seconds):
        raise ValueError(f"{t!r} is not a finite number of seconds")
    return _Fraction(seconds)


def _fast_seconds(t):
    """The seconds of a datetime64 of a unit of fixed length whose count
    and seconds per unit are exact floats, so that one division rounds the
    exact quotient (as _exact_seconds would); else None."""
    if not isinstance(t, _np.datetime64):
        return None
    unit, step = _np.datetime_data(t.dtype)
    per = _UNIT_SECONDS.get(unit)
    if per is None or _np.isnat(t):
        return None
    value = int(t.astype(_np.int64)) * step * per.numerator
    return value / per.denominator if abs(value) < 2**53 else None


def _seconds(t):
    """Seconds since 1970 GMT (a float) of a number of seconds, an ISO 8601
    or compact time text, numpy.datetime64 of any unit or a datetime:
    converted exactly and rounded once, and refused beyond about 285
    million years from 1970."""
    seconds = _fast_seconds(t)
    if seconds is None:
        seconds = _exact_seconds(t)
    if abs(seconds) >= _zulukit.TIME_LIMIT:
        raise ValueError(f"{t!r} is out of range: times lie within {_zulukit.TIME_LIMIT:g} s of 1970")
    return float(seconds)


def _nanoseconds(t):
    """Nanoseconds since 1970 GMT (an int) of a time, rounded once (halves
    upward): a float, or a text read as one, stands for the decimal it was
    written as (1435017600.123 is .123 s, not the double's .12299990654 s),
    as the grid takes a bottle's begin time; other times are exact."""
    if isinstance(t, str):
        t = _zulukit.parse_time(t)
    if isinstance(t, (float, _np.floating)):
        if not _math.isfinite(t):
            raise ValueError(f"{t!r} is not a finite number of seconds")
        seconds = _Fraction(repr(float(t)))
    else:
        seconds = _exact_seconds(t)
    ns = _math.floor(seconds * 10**9 + _Fraction(1, 2))
    if not -(2**63) < ns < 2**63:
        raise ValueError(f"{t!r} is out of the range of datetime64[ns]")
    return ns


# The fields of a bottle's header as the file holds them, and the samples
# that the file's size gives.
Header = _collections.namedtuple(
    "Header", "magic spare0 doff begin interval nsam type usym spare1 spare2 count")


class Bottle:
    """An open bottle file.

    Made by zulukit.open() or zulukit.create(); a context manager that
    closes the bottle on leaving.  Attributes (read-only):

      path      the file name given
      mode      "r" (nothing is ever written back) or "r+"
      begin     time of sample 0, float seconds since 1970 GMT
      interval  seconds between samples (as the header holds it, a float32)
      grid      the time grid (zulukit.Grid): sample i lies at begin + i /
                rate, or begin + i * the nominal interval
      count     number of samples stored; len(b) too (as of opening, or
                of the last refresh())
      end       time of the last sample
      dtype     numpy dtype of the samples: int16, int32, float32, float64
      unusable  the value that marks a slot without a sample, in dtype
      header    every field of the header as the file holds it (Header)

    b[i] and b[i:j:k] read by sample index as a numpy array does; read(t)
    and write(t) by time, where a time selects the first sample at or after
    it, within the grid's tolerance.  A bottle whose grid is unusable (an
    interval of 0 or less, or not finite) refuses times, not indices.

    Threads may share a Bottle: every call is whole, reads run side by side
    and each reads its own window, writes and close() wait for the calls
    under way, and a call after close() raises ValueError.  A Bottle
    pickles as its path and mode and opens the file again when unpickled.
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
    def grid(self):
        return _zulukit.Grid(self.begin, self.interval, self.count)

    @property
    def end(self):
        return self.grid.end_time

    @property
    def header(self):
        return Header(*self._h.header())

    def __len__(self):
        return self.count

    def __reduce__(self):
        return (open, (self._path, self._mode))

    def refresh(self):
        """Counts the samples the file holds now, as opening it again would
        (for a file a writer appends to), and returns the count: len(b),
        read(), slicing and times() then reach them.  Raises OSError when
        the file was written anew in place since it was opened.  To be given
        each sample as its writer flushes it, use zulukit.follow()."""
        return self._h.refresh()

    def flush(self):
        """Writes back any held samples and the header (mode "r+").  Raises
        OSError if anything did not reach the disk, now or before."""
        self._h.flush()

    def close(self):
        """Writes back any held samples and the header (mode "r+") and closes
        the file; a bottle made by create() then takes the place of its
        path.  Raises OSError if anything did not reach the disk, now or
        before (a write that raised it raises it here again)."""
        self._h.close()

    @property
    def closed(self):
        return self._h.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        try:
            return f"<zulukit.Bottle {self._path!r} mode {self._mode!r}: {self._h.show()}>"
        except ValueError:
            return f"<zulukit.Bottle {self._path!r} closed>"

    def _index(self, t):
        """The first sample at or after time t, within the grid's tolerance."""
        grid = self.grid
        if not grid.forward:
            raise ValueError(f"{self._path}: {grid.problem}, so its samples cannot be found by time; "
                             "index the bottle instead")
        return grid.first_at_or_after(_seconds(t))

    def _window(self, t, count):
        first = 0 if t is None else self._index(t)
        if count is None:
            count = max(self.count - first, 0)
        count = _operator.index(count)
        if count < 0:
            raise ValueError("count must not be negative")
        return first, count

    def _read_at(self, first, count):
        out = _np.empty(count, dtype=self._dtype)
        self._h.read_into(out, first)
        return out

    def read(self, t=None, count=None, *, masked=False, copy=True):
        """Reads count samples from the sample of time t.

        t defaults to the first sample, count to the rest of the bottle.
        Slots where no sample is stored (before the first, past the last)
        hold the unusable value; with masked=True the result is a
        numpy.ma.MaskedArray with every missing sample masked (the unusable
        value, or NaN in a float or double bottle).  The array has the bottle's dtype.  With copy=False it is a
        read-only view of the file (numpy.memmap), for a window of stored
        samples."""
        first, count = self._window(t, count)
        if not copy:
            view = self.memmap()
            if masked or first < 0 or first + count > len(view):
                raise ValueError("copy=False views stored samples only, unmasked")
            return view[first:first + count]
        out = self._read_at(first, count)
        if masked:
            return _np.ma.MaskedArray(out, mask=_zulukit.missing(out, self._h.usym))
        return out

    def memmap(self):
        """The stored samples as a read-only numpy.memmap of the file this
        bottle opened (never a file that took its name since).  It stays
        valid after close(), and shows later writes to the file; as with any
        map of a file, reading samples that another program has since cut
        off the file ends the process (SIGBUS): read() is safe there."""
        import mmap

        header = self.header  # the samples the file holds past the data offset
        if header.count == 0:
            return _np.empty(0, self._dtype).view(_np.memmap)  # a file region cannot be empty
        fd = self._h.duplicate_descriptor()
        try:
            mapped = mmap.mmap(fd, header.doff + header.count * self._dtype.itemsize, access=mmap.ACCESS_READ)
        finally:
            _os.close(fd)
        view = _np.frombuffer(mapped, self._dtype, header.count, header.doff).view(_np.memmap)
        view._mmap, view.offset, view.mode, view.filename = mapped, header.doff, "r", None  # as numpy.memmap keeps them
        return view

    def __getitem__(self, key):
        n = self.count
        if isinstance(key, slice):
            span = range(*key.indices(n))
            if len(span) == 0:
                return _np.empty(0, self._dtype)
            if span.step == 1:
                return self._read_at(span.start, len(span))
            low = min(span[0], span[-1])
            data = self._read_at(low, max(span[0], span[-1]) - low + 1)
            return data[span[0] - low::span.step][:len(span)].copy()
        i = _operator.index(key)
        if not -n <= i < n:
            raise IndexError(f"sample index {key} is out of range for {n} samples")
        return self._read_at(i % n, 1)[0]

    def times(self, t=None, count=None, unit="us"):
        """The times of the samples read(t, count) returns, on the grid, as
        numpy.datetime64 in unit ("s", "ms", "us" or "ns"): each sample's
        exact nominal time rounded once to the unit, the same stamps that
        every zulukit path gives (a 100 Hz bottle's are exactly 10 ms apart)."""
        if unit not in _TIME_UNITS:
            raise ValueError(f"unit must be one of {', '.join(_TIME_UNITS)}, not {unit!r}")
        first, count = self._window(t, count)
        grid = self.grid
        if not grid.forward:
            raise ValueError(f"{self._path}: {grid.problem}, so its samples have no times")
        out = _np.empty(count, dtype=_np.int64)
        grid.stamps_into(out, first, _TIME_UNITS[unit])
        return out.view(f"datetime64[{unit}]")

    def write(self, t, values):
        """Stores values (a number or a one-dimensional array-like) from the
        sample of time t.

        A gap after the last stored sample is filled with the unusable
        value; values before sample 0 are dropped.  NaN and masked entries
        are stored as the unusable value.  Raises ValueError, writing
        nothing, for a value the sample type cannot hold (40000 in int16,
        1.5 in an integer type, 1e300 or 1e-50 in float32), for the
        unusable value itself (it would read back as missing), and for
        complex values or arrays of more than one dimension."""
        first = self._index(t)
        samples, checked = self._samples(values)
        refused = self._h.write_from(samples, first, checked)
        if refused >= 0:
            self._refuse_unusable(samples[refused])

    def _samples(self, values):
        """values as a contiguous array of the bottle's dtype, unusable where
        NaN or masked, and whether it is checked for the unusable value as
        data (else write_from checks it); ValueError for a value the type
        cannot hold."""
        mask = _np.ma.getmaskarray(values) if _np.ma.isMaskedArray(values) else None
        data = _np.ma.getdata(values) if mask is not None else values
        array = _np.asarray(data)
        if array.ndim > 1:
            raise ValueError(f"values must be one-dimensional, not of shape {array.shape}")
        array = array.reshape(-1)
        if array.dtype.kind == "c":
            raise ValueError("values must be real numbers, not complex")
        if array.dtype == self._dtype and mask is None:
            # NaN is stored as the unusable value; write_from refuses the value itself.
            return _np.ascontiguousarray(array), False
        if array.dtype.kind not in "biuf":
            try:
                array = array.astype(_np.float64)
            except (TypeError, ValueError) as e:
                raise ValueError(f"values must be real numbers: {e}") from None
        missing = _np.isnan(array) if array.dtype.kind == "f" else _np.zeros(array.shape, bool)
        if mask is not None:
            missing |= mask
        self._check_fit(array, missing)
        with _np.errstate(invalid="ignore", over="ignore", under="ignore"):
            out = array.astype(self._dtype)
        kept = ~missing
        if self._dtype.kind == "f":
            lost = kept & (out == 0) & (array != 0)
            if lost.any():
                value = array[_np.argmax(lost)]
                raise ValueError(f"{value!r} is too small for the bottle's {self._dtype.name} samples, which "
                                 "hold it as 0; nothing was written")
        used = kept & (out == self._unusable)
        if used.any():
            self._refuse_unusable(array[_np.argmax(used)])
        if missing.any():
            out[missing] = self._unusable
        return out, True

    def _refuse_unusable(self, value):
        raise ValueError(f"{value!r} is the unusable value of the bottle, which would read back as missing; "
                         "write NaN or a masked entry for a missing sample; nothing was written")

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
            with _np.errstate(over="ignore"):
                bad = _np.isfinite(kept) & ~_np.isfinite(kept.astype(_np.float32))
        else:
            return
        if bad.any():
            value = kept[_np.argmax(bad)]
            raise ValueError(f"{value!r} does not fit the bottle's {self._dtype.name} samples; "
                             "nothing was written")

    def to_pandas(self):
        """The samples as a pandas.Series of float64 on a DatetimeIndex
        (nanoseconds), NaN where no sample is stored."""
        try:
            import pandas
        except ImportError as e:
            raise ImportError("Bottle.to_pandas needs pandas (Debian: python3-pandas)") from e
        index = pandas.DatetimeIndex(self.times(unit="ns"), name="time", copy=False)
        values = _np.empty(len(index), dtype=_np.float64)
        self._h.floats_into(values, 0)
        return pandas.Series(values, index=index, name=self._path, copy=False)


def open(path, mode="r"):
    """Opens the bottle file path.

    mode "r" reads and never writes anything back, not even the header;
    "r+" reads and writes, and close() writes the header back.  Raises
    FileNotFoundError (an OSError) for a missing file and BottleError for
    a file that is not a bottle.  A file with samples past the largest
    bottle file (2 GiB) opens with a RuntimeWarning: only the samples
    before that limit are reached."""
    if mode not in ("r", "r+"):
        raise ValueError(f"mode must be 'r' or 'r+', not {mode!r}")
    handle = _zulukit.Handle.open(_fspath(path), mode == "r+")
    if handle.unreachable:
        _warnings.warn(handle.unreachable, RuntimeWarning, stacklevel=2)
    return Bottle(handle, _os.fspath(path), mode)


def _overwrite(overwrite, force):
    """Whether a job may replace an existing output, asked as overwrite= or
    by its other name, force= (the command's --force)."""
    if force is not None and overwrite not in (False, force):
        raise TypeError("overwrite and force are one option: give one of them")
    return bool(overwrite if force is None else force)


def create(path, begin, interval, dtype, overwrite=False, *, force=None):
    """Creates a bottle with no samples and opens it in mode "r+".

    begin is the time of sample 0 (as any time: seconds since 1970 GMT, a
    time text, numpy.datetime64 or datetime), interval the seconds between
    samples, positive and within what a float32 holds, dtype one of
    numpy.int16/"int", numpy.int32/"long", numpy.float32/"float",
    numpy.float64/"double".  The bottle is written under a temporary name
    beside path and takes its place on close(), so that a file of that
    name stays whole until then.  An existing file is refused
    (FileExistsError) unless overwrite (also called force, as the
    command's --force)."""
    name = _fspath(path)
    code = _type_code(dtype)
    if isinstance(interval, (complex, _np.complexfloating)):
        raise ValueError("the interval must be a real number of seconds")
    handle = _zulukit.Handle.create(name, _seconds(begin), float(interval), code, _overwrite(overwrite, force))
    return Bottle(handle, _os.fspath(path), "r+")


def _fspath(path):
    """A file name as the extension takes it: the bytes of a str, bytes or
    os.PathLike, a str's undecodable bytes kept as Python's own file
    functions keep them (surrogate escapes); ValueError for a NUL in it,
    which would end the name early."""
    name = _os.fsencode(_os.fspath(path))
    if b"\0" in name:
        raise ValueError(f"embedded null byte in the file name {path!r}")
    return name


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


# Shown and pickled as the package's own names, as they always were.
for _name in ("Bottle", "Header", "open", "create", "atod", "dtoa", "dtov", "vtod"):
    globals()[_name].__module__ = __package__
