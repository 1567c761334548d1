"""Following a bottle as its writer flushes samples: zulukit.follow.

    >>> for block in zulukit.follow("recorder.bot", timeout=60):
    ...     print(block.time, block.values.mean())

A follower delivers the samples the writer has published, those the
bottle's header counts (a writer's bflush or bclose writes the count, a
Bottle's flush() and close() too) that the file holds whole: never a sample
that was not written, never a torn one, each once and in order.  The waits
run without the GIL and cost nothing while nothing happens (inotify where
the system has it, else a look every 50 ms), so other threads go on; an
asyncio program iterates with `async for`, the wait running in the loop's
executor."""

import asyncio as _asyncio
import collections as _collections

import numpy as _np

from . import _zulukit

Block = _collections.namedtuple("Block", "time index values")
Block.__doc__ = """Consecutive samples of a followed bottle: the time of the first
(numpy.datetime64 in ns, the stamp of the bottle's grid; NaT where the grid
gives samples no times), its sample index in the file, and the samples as
stored (the bottle's dtype, the unusable value where one is missing)."""

# Samples in a block at the most when the follower is not asked for a size.
_LARGEST_BLOCK = 1 << 16


class Follower:
    """The blocks of samples of a bottle as its writer publishes them; made
    by zulukit.follow().  An iterator (and an asynchronous one) and a
    context manager.  An iteration ends when `timeout` seconds pass without
    a sample, and the follower goes on where it was when iterated again (as
    a file read to its end does); close() ends it for good, from any
    thread, and an iteration waiting at that moment ends at once.
    `stopped` says why it ended for good: "closed", "replaced" (another
    file took the name, and the follower follows by descriptor) or
    "rewritten" (the file was cut short or written anew in place); None
    while it goes on."""

    def __init__(self, path, block, timeout, by_name):
        if block is None:
            self._least, self._most = 1, _LARGEST_BLOCK
        else:
            if not isinstance(block, (int, _np.integer)) or isinstance(block, bool) or block < 1:
                raise ValueError(f"block must be a whole number of samples, 1 or more, not {block!r}")
            self._least = self._most = int(block)
        if timeout is not None:
            timeout = float(timeout)
            if not timeout >= 0:
                raise ValueError(f"timeout must be a number of seconds, 0 or more, not {timeout!r}")
        self._timeout = timeout
        self._f = _zulukit.Following(path, bool(by_name))

    @property
    def stopped(self):
        return self._f.stopped

    def _next(self):
        return self._f.next(self._least, self._most, self._timeout)

    @staticmethod
    def _block(got):
        stamp, index, values = got
        time = _np.datetime64("NaT", "ns") if stamp is None else _np.datetime64(stamp, "ns")
        return Block(time, index, values)

    def __iter__(self):
        return self

    def __next__(self):
        got = self._next()
        if got is None:
            raise StopIteration
        return self._block(got)

    def __aiter__(self):
        return self

    async def __anext__(self):
        try:
            got = await _asyncio.get_running_loop().run_in_executor(None, self._next)
        except _asyncio.CancelledError:
            self.close()  # the wait in the executor ends with it
            raise
        if got is None:
            raise StopAsyncIteration
        return self._block(got)

    def close(self):
        self._f.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    async def __aenter__(self):
        return self

    async def __aexit__(self, *exc):
        self.close()


def follow(path, block=None, timeout=None, by_name=False):
    """Follows the bottle at path as its writer flushes samples: an
    iterator of Blocks (time, index, values), from sample 0 on.

    Each block holds the samples that came since the last, up to 65536 at a
    time, or with block=N exactly N samples; fewer when timeout seconds
    pass first (or the file is left), and the iteration ends when timeout
    seconds pass without a sample (None: it waits until closed); iterated
    again, the follower goes on.  When
    another file takes the name (a recorder starting a new day), the
    follower delivers the last samples of the old one and ends; with
    by_name=True it goes on with the new file from its sample 0, as
    `tail -F` does.  Raises FileNotFoundError (an OSError) for a missing
    file and BottleError for a file that is not a bottle."""
    from ._core import _fspath

    return Follower(_fspath(path), block, timeout, by_name)


for _name in ("Block", "Follower", "follow"):
    globals()[_name].__module__ = __package__
