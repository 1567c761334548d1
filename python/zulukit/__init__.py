"""Bottle files and dates as numpy arrays.

A bottle holds one regularly sampled series (int16, int32, float32 or
float64 samples) behind a 40-byte header: sample i belongs to the time
begin + i * interval, in seconds since 1970 GMT, on the nominal grid of
zulukit.Grid.  Slots where no sample is
stored read as the bottle's unusable value.

    >>> import zulukit
    >>> with zulukit.create("day.bot", 0.0, 60.0, "float") as b:
    ...     b.write(0.0, [1.5, 2.5, float("nan"), 4.5])
    >>> with zulukit.open("day.bot") as b:
    ...     b.read(masked=True)
    masked_array(data=[1.5, 2.5, --, 4.5], ...)

Times may be given as float seconds since 1970, numpy.datetime64 of any
unit, datetime.datetime (naive means GMT) or a text in the forms the
bottle command reads (ISO 8601 "2015-06-23T12:34:56.5Z", "850704123456",
"@SECONDS"); each is converted exactly.  The date routines atod, dtoa, dtov
and vtod convert whole arrays, in zone 0 (GMT) unless told otherwise.

Nothing is printed: failures are exceptions.  A missing file raises
FileNotFoundError, a file that is not a bottle BottleError (a ValueError),
and a transfer that fails OSError, at the call or at close().

Importing zulukit loads nothing but this module: the compiled extension
and numpy are loaded when a name below is first used.  xarray imports the
package whenever it looks for its engines, for any file, and drops an
engine whose import fails; so an extension that cannot be loaded shows up
as an ImportError where a bottle is opened, not as a missing engine.
"""

import importlib as _importlib

# Each public name and the module that defines it.
_HOMES = {
    **dict.fromkeys(["Bottle", "BottleError", "Grid", "Header", "open", "create", "atod", "dtoa", "dtov", "vtod"],
                    "._core"),
    **dict.fromkeys(["cut", "cat", "gaps", "stats", "export", "decimate"], ".operations"),
    "open_archive": ".xarray_backend",
    **dict.fromkeys(["follow", "Block"], "._follow"),
}
__all__ = list(_HOMES)


def __getattr__(name):
    """A public name, imported from its module when first asked for."""
    if name == "__version__":  # the version the package was built as, from its metadata
        from importlib import metadata

        value = metadata.version(__name__)
    else:
        home = _HOMES.get(name)
        if home is None:
            raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
        value = getattr(_importlib.import_module(home, __name__), name)
    globals()[name] = value
    return value


def __dir__():
    return sorted(set(globals()) | set(_HOMES))
