"""Times of bottles: exact conversions, the nominal grid, unusable grids."""

import datetime
import struct

import numpy as np
import pytest

import zulukit
from zulukit._core import _seconds

TYPES = ["int", "long", "float", "double"]
INTERVALS = [0.001, 0.01, 0.1, 1 / 3, 60.0]


@pytest.mark.parametrize("interval", INTERVALS)
def test_every_time_of_the_grid_selects_its_own_sample(interval, tmp_path):
    n = 10**5
    kind = TYPES[INTERVALS.index(interval) % 4]
    values = np.arange(n) % 30000  # neighbours differ in every type
    with zulukit.create(tmp_path / "g.bot", np.datetime64("2015-06-23T12:00:00.001"), interval, kind) as b:
        b.write(b.begin, values)
        times = b.times()
        grid = b.grid
        # Every sample's time, converted as read() and write() convert it.
        found = [grid.first_at_or_after(_seconds(t)) for t in times]
        assert found == list(range(n))
        picked = list(range(0, n, 997)) + [n - 1]
        assert [b.read(times[i], 1)[0] for i in picked] == [values[i] for i in picked]


@pytest.mark.parametrize("kind", TYPES)
@pytest.mark.parametrize("interval", INTERVALS)
def test_writes_at_grid_times_land_on_their_samples(kind, interval, tmp_path):
    n = 10**5
    with zulukit.create(tmp_path / "w.bot", 1.4e9 + 0.0005, interval, kind) as b:
        b.write(b.begin, np.zeros(n))
        times = b.times()
        picked = list(range(1, n, 1009)) + [n - 1]
        for i in picked:
            b.write(times[i], [i % 30000])
        got = b.read()
    assert sorted(np.nonzero(got)[0].tolist()) == sorted(picked)
    assert all(got[i] == i % 30000 for i in picked)


def _cases():
    """Times from 1 CE to 9999 CE in each unit, where a float of seconds
    since 1970 holds the unit (ns only within about 97 days of 1970)."""
    rng = np.random.default_rng(7)
    spans = {"s": 2.6e11, "ms": 2.6e11, "us": 2.0**32, "ns": 2.0**23}
    low, high = -62135596800, 253402300799
    for unit, span in spans.items():
        per = {"s": 1, "ms": 10**3, "us": 10**6, "ns": 10**9}[unit]
        seconds = np.clip(rng.uniform(-span, span, 40), low, high)
        for s in list(seconds) + [low, high if unit != "ns" else 2**22]:
            if abs(s) < span:
                yield np.datetime64(int(s * per) + int(rng.integers(per)), unit)


def test_times_round_trip_exactly_in_every_unit(tmp_path):
    path = tmp_path / "t.bot"
    for when in _cases():
        unit = np.datetime_data(when.dtype)[0]
        with zulukit.create(path, when, 1.0, "float", overwrite=True) as b:
            b.write(when, [1.0])
            assert b.times(unit=unit)[0] == when, when
            assert b.read(when, 1)[0] == 1.0
    # The times that once went through nanoseconds, and the far ends.
    for text in ["1600-01-01", "2300-01-01", "0001-01-01T00:00:00", "9999-12-31T23:59:59.999"]:
        when = np.datetime64(text, "ms")
        forms = [when, when.astype(datetime.datetime), text, str(when) + "Z"]
        for form in forms:
            with zulukit.create(path, form, 60.0, "long", overwrite=True) as b:
                assert b.times(count=1, unit="ms")[0] == when, form
                b.write(form, [5])
                assert b.read(form, 1)[0] == 5


def test_other_time_forms_and_refused_times(tmp_path):
    aware = datetime.datetime(2015, 6, 23, 14, 0, tzinfo=datetime.timezone(datetime.timedelta(hours=2)))
    with zulukit.create(tmp_path / "f.bot", aware, 1, "int") as b:
        assert b.begin == zulukit.atod("150623120000")
        for when in ["150623120000", "@1435060800", np.datetime64("2015-06-23", "D"), datetime.date(2015, 6, 23)]:
            assert isinstance(b.read(when, 1), np.ndarray)
        assert np.datetime64("2015-06", "M").astype("datetime64[s]").astype(int) == _seconds(
            np.datetime64("2015-06", "M"))
        for bad in ["2015-13-01", "yesterday", np.datetime64("NaT"), np.datetime64(10**17, "Y"), 1e300,
                    float("nan"), 1j]:
            with pytest.raises(ValueError):
                b.read(bad, 1)
    with zulukit.create(tmp_path / "far.bot", "9999-01-01", 1, "int") as b:
        assert b.times(count=1, unit="us")[0] == np.datetime64("9999-01-01")
        with pytest.raises(ValueError, match="datetime64"):
            b.times(count=1, unit="ns")


def header(ivl, beg=0.0, nsam=3):
    return struct.pack("<hhidfiiiii", 349, 0, 40, beg, ivl, nsam, 1, 999999, 0, 0) + struct.pack("<3i", 1, 2, 3)


@pytest.mark.parametrize("ivl,beg,problem", [
    (0.0, 0.0, "the interval is 0"), (-1.0, 0.0, "the interval is negative"),
    (float("inf"), 0.0, "the interval is not a finite number"), (1.0, float("nan"), "the begin time is not"),
])
def test_unusable_grids_refuse_times_but_not_indices(ivl, beg, problem, tmp_path):
    path = tmp_path / "u.bot"
    path.write_bytes(header(ivl, beg))
    with zulukit.open(path) as b:
        assert b.grid.problem.startswith(problem)
        for call in (lambda: b.read(0.0, 1), lambda: b.times(), lambda: b.write(0.0, [1])):
            with pytest.raises(ValueError, match=problem):
                call()
        assert b[:].tolist() == b.read().tolist() == [1, 2, 3] and b[-1] == 3
