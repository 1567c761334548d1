"""An archive of daily 100 Hz bottles as one series, from Python and from
the command: gaps and overlaps across files, a late day placed by snap, a
day at 50 Hz, cuts across midnight and past the data, and decimation
checked against scipy."""

import csv
import os
import subprocess

import numpy as np
import pytest

import zulukit

BOTTLE = os.environ.get("ZULU_BOTTLE")
RATE = 100
PER_DAY = 86400 * RATE


def command(*args, status=0):
    done = subprocess.run([BOTTLE, *map(str, args)], capture_output=True, text=True)
    assert done.returncode == status, done.stderr
    return done


def day_bottle(path, begin, samples=PER_DAY, interval=1 / RATE, ends=None):
    """A bottle of float samples from begin (datetime64): zeros, written
    sparse, with the values `ends` (first, last) at its two ends."""
    with zulukit.create(path, begin, interval, "float"):
        pass
    os.truncate(path, 40 + 4 * samples)
    if ends is not None:
        with open(path, "r+b") as f:  # the samples as stored, after the 40-byte header
            for at, values in ((0, ends[0]), (samples - len(ends[1]), ends[1])):
                f.seek(40 + 4 * at)
                f.write(np.asarray(values, "<f4").tobytes())
    return str(path)


@pytest.fixture(scope="module")
def days(tmp_path_factory):
    """Bottles of 8, 9, 11 and 12 March 2023, the 10th missing and the 12th
    begun 10 s early; the 13th 3 ms late; the 14th at 50 Hz."""
    folder = tmp_path_factory.mktemp("days")
    midnight = np.datetime64("2023-03-08T00:00", "ms")
    day = np.timedelta64(1, "D")
    ramp = np.arange(1000, dtype=np.float32)
    paths = {
        8: day_bottle(folder / "08.bot", midnight, ends=(ramp, ramp)),
        9: day_bottle(folder / "09.bot", midnight + day, ends=(ramp + 1000, ramp)),
        11: day_bottle(folder / "11.bot", midnight + 3 * day),
        12: day_bottle(folder / "12.bot", midnight + 4 * day - np.timedelta64(10, "s"), PER_DAY + 1000),
        13: day_bottle(folder / "13.bot", midnight + 5 * day + np.timedelta64(3, "ms"), ends=(ramp + 7, ramp)),
        14: day_bottle(folder / "14.bot", midnight + 6 * day, PER_DAY // 2, 0.02),
    }
    differing = day_bottle(folder / "12b.bot", midnight + 4 * day - np.timedelta64(10, "s"), PER_DAY + 1000,
                           ends=(np.ones(5, np.float32), np.zeros(1, np.float32)))
    return paths, differing


def command_rows(*args):
    rows = list(csv.reader(command("gaps", *args).stdout.splitlines()))
    assert rows[0] == ["kind", "file", "start", "end", "samples", "other", "detail"]
    return [tuple(r[:4]) + (int(r[4]),) + tuple(r[5:]) for r in rows[1:]]


@pytest.mark.skipif(not BOTTLE, reason="needs the bottle command (ZULU_BOTTLE)")
def test_gaps_and_overlaps_across_files(days):
    paths, differing = days
    names = list(paths.values())
    rows = zulukit.gaps(names)
    assert [r[0] for r in rows] == ["gap", "overlap", "off-grid", "off-grid"]
    assert rows[0] == ("gap", paths[9], "2023-03-10T00:00:00.000Z", "2023-03-10T23:59:59.990Z", PER_DAY, paths[11], "")
    assert rows[1] == ("overlap", paths[11], "2023-03-11T23:59:50.000Z", "2023-03-11T23:59:59.990Z", 1000, paths[12],
                       "agree")
    assert rows[2][1] == paths[13] and rows[2][6].endswith(
        "its begin time is 0.3 of an interval off (3 ms after a sample time); a snap of 3 ms or more places it on "
        "the grid")
    assert rows[3][1:5] == (paths[14], "2023-03-14T00:00:00.000Z", "2023-03-14T23:59:59.980Z", PER_DAY // 2)
    assert rows[3][6] == f"has the interval 0.02 s, 50 Hz ({paths[8]} has 0.01 s, 100 Hz)"
    assert command_rows(*names) == rows
    # Placed by a snap of 5 ms, not by one of 2 ms; the samples that differ
    # are named by the first time where they do.
    snapped = zulukit.gaps(names, snap="4ms")
    assert [r[0] for r in snapped] == ["gap", "overlap", "snapped", "off-grid"]
    assert snapped[2][1:5] == (paths[13], "2023-03-13T00:00:00.000Z", "2023-03-13T23:59:59.990Z", PER_DAY)
    assert command_rows(*names, "--snap", "4ms") == snapped
    assert zulukit.gaps(names, snap=np.timedelta64(2, "ms")) == rows
    other = zulukit.gaps([paths[11], differing], min=2)
    assert other == [("overlap", paths[11], "2023-03-11T23:59:50.000Z", "2023-03-11T23:59:59.990Z", 1000, differing,
                      "differ at 2023-03-11T23:59:50.000Z")]
    assert command_rows(paths[11], differing, "--min", "2") == other


def test_joins_tolerate_jitter_by_choice(days, tmp_path):
    paths, _ = days
    late = [paths[9], paths[13]]
    with pytest.raises(ValueError, match="13.bot does not begin on the grid of .*09.bot: .*3 ms after"):
        zulukit.open_archive(late)
    with pytest.raises(ValueError, match="has the interval 0.02 s, 50 Hz"):
        zulukit.open_archive([paths[9], paths[14]], snap="4ms")
    with pytest.warns(UserWarning, match="13.bot: its begin time 2023-03-13T00:00:00.003Z is 3 ms off the grid; "
                                         "placed 3 ms earlier, at 2023-03-13T00:00:00.000Z"):
        ds = zulukit.open_archive(late, snap=0.004)
    assert ds.encoding["snapped"] == {paths[13]: -0.003}
    first = ds.sel(time="2023-03-13T00:00").value
    assert float(first) == 7 and str(first.time.values) == "2023-03-13T00:00:00.000000000"
    with pytest.raises(ValueError, match="not less than half the interval .0.01 s, 100 Hz"):
        zulukit.open_archive(late, snap="5ms")
    if BOTTLE:
        with pytest.warns(UserWarning, match="3 ms off the grid"):
            zulukit.cat(tmp_path / "py.bot", late, snap="4ms")
        done = command("cat", *late, "-o", tmp_path / "cmd.bot", "--snap", "4ms")
        assert done.stderr == f"bottle cat: {paths[13]}: its begin time 2023-03-13T00:00:00.003Z is 3 ms off the " \
                              "grid; placed 3 ms earlier, at 2023-03-13T00:00:00.000Z\n"
        assert (tmp_path / "py.bot").read_bytes() == (tmp_path / "cmd.bot").read_bytes()


def test_cuts_across_midnight_and_past_the_data(days, tmp_path):
    paths, _ = days
    window = ("2023-03-08T23:59:50", "2023-03-09T00:00:10")
    assert zulukit.cut([paths[9], paths[8]], tmp_path / "m.bot", *window) == 2001
    with zulukit.open(tmp_path / "m.bot") as b:
        assert str(b.times(count=1)[0]) == "2023-03-08T23:59:50.000000"
        np.testing.assert_array_equal(b.read(), np.r_[np.arange(2000), 0])
    past = ("the window from 2023-03-08T23:59:50.000Z to 2023-03-09T00:00:10.000Z runs past the data, which covers "
            "2023-03-08T00:00:00.000Z to 2023-03-08T23:59:59.990Z; a partial cut keeps the 1000 samples of it "
            "that there are")
    with pytest.raises(ValueError, match=past):
        zulukit.cut(paths[8], tmp_path / "p.bot", *window)
    assert not (tmp_path / "p.bot").exists()
    with pytest.warns(UserWarning, match="kept 1000 of the 2001 samples"):
        assert zulukit.cut(paths[8], tmp_path / "p.bot", *window, partial=True) == 1000
    if BOTTLE:
        command("cut", paths[8], paths[9], "-o", tmp_path / "c.bot", "--from", window[0], "--to", window[1])
        assert (tmp_path / "c.bot").read_bytes() == (tmp_path / "m.bot").read_bytes()
        assert past in command("cut", paths[8], tmp_path / "q.bot", "--from", window[0], "--to", window[1],
                               status=1).stderr
        done = command("cut", paths[8], tmp_path / "q.bot", "--from", window[0], "--to", window[1], "--partial")
        assert "kept 1000 of the 2001 samples" in done.stderr
        assert (tmp_path / "q.bot").read_bytes() == (tmp_path / "p.bot").read_bytes()


def double_bottle(path, values, interval=1 / RATE, begin="2023-03-08"):
    with zulukit.create(path, np.datetime64(begin), interval, "double") as b:
        b.write(b.begin, np.asarray(values, np.float64))
    return str(path)


def test_the_filter_is_scipys(tmp_path):
    signal = pytest.importorskip("scipy.signal")
    q, n = 10, 30000
    t = np.arange(n) / RATE
    sweep = signal.chirp(t, f0=0, t1=t[-1], f1=RATE / 2)  # 0 to the Nyquist frequency
    path = double_bottle(tmp_path / "sweep.bot", sweep)
    assert zulukit.decimate(path, tmp_path / "d.bot", q) == n // q
    with zulukit.open(tmp_path / "d.bot") as b:
        assert b.header.type == 3 and b.header.interval == np.float32(0.1)
        out = b.read(masked=True).filled(np.nan)
    ref = signal.decimate(sweep, q, ftype="fir")
    assert np.isnan(out[:10]).all() and np.isnan(out[-10:]).all()  # windows past the ends
    np.testing.assert_allclose(out[10:-10], ref[10:-10], rtol=0, atol=1e-12)
    if BOTTLE:
        command("decimate", q, path, "-o", tmp_path / "c.bot")
        assert (tmp_path / "c.bot").read_bytes() == (tmp_path / "d.bot").read_bytes()
    # The gain at tones across the band, against firwin's response: flat to
    # 0.8 of the new Nyquist frequency, 52 dB down from 1.2 times it.
    taps = signal.firwin(20 * q + 1, 1 / q, window="hamming")
    nyquist = RATE / 2 / q
    for fraction in (0.1, 0.4, 0.8, 1.2, 1.5, 2.5, 4.5):
        tone = np.sin(2 * np.pi * fraction * nyquist * t + 0.3)
        zulukit.decimate(double_bottle(tmp_path / f"{fraction}.bot", tone), tmp_path / f"{fraction}.out", q)
        y = zulukit.open(tmp_path / f"{fraction}.out").read()[10:-10]
        j = np.arange(10, 10 + y.size) * q / RATE  # the times of the outputs
        fit = np.linalg.lstsq(np.c_[np.sin(2 * np.pi * fraction * nyquist * j), np.cos(2 * np.pi * fraction * nyquist * j)],
                              y, rcond=None)[0]
        gain = np.hypot(*fit)
        _, h = signal.freqz(taps, worN=[2 * np.pi * fraction * nyquist / RATE])
        assert gain == pytest.approx(abs(h[0]), abs=1e-9), fraction
        decibels = 20 * np.log10(gain)
        if fraction <= 0.8:
            assert abs(decibels) < 0.03, fraction
        elif fraction >= 1.2:
            assert decibels < -52, fraction


def test_missing_samples_stay_missing(tmp_path):
    values = np.arange(100, dtype=np.float64)
    values[[42, 43, 77]] = np.nan
    path = double_bottle(tmp_path / "m.bot", values, interval=1.0)
    zulukit.decimate(path, tmp_path / "f.bot", 2)
    out = zulukit.open(tmp_path / "f.bot").read(masked=True)
    blind = [j for j in range(50) if 2 * j < 20 or 2 * j + 20 > 99 or any(abs(2 * j - m) <= 20 for m in (42, 43, 77))]
    assert np.flatnonzero(out.mask).tolist() == blind
    with pytest.raises(ValueError, match="missing sample at 2023-03-08T00:00:42.000Z, which a strict decimation"):
        zulukit.decimate(path, tmp_path / "s.bot", 2, strict=True)
    # Blocks of inputs 39-41, 42-44 (two missing), 45-47 and 48-50.
    for method, strict, expected in [("mean", False, [40, 44, 46, 49]), ("mean", True, [40, None, 46, 49]),
                                     ("min", False, [39, 44, 45, 48]), ("max", True, [41, None, 47, 50])]:
        zulukit.decimate(path, tmp_path / "b.bot", 3, method=method, strict=strict, force=True)
        got = zulukit.open(tmp_path / "b.bot").read(masked=True)[13:17]
        assert got.tolist() == expected, (method, strict)
    xr = pytest.importorskip("xarray")
    ds = xr.open_dataset(path)
    for method in ("fir", "mean", "max"):
        zulukit.decimate(path, tmp_path / "x.bot", 4, method=method, force=True)
        from_file = xr.open_dataset(tmp_path / "x.bot")
        decimated = ds.bottle.decimate(4, method)
        np.testing.assert_array_equal(decimated.value.values, from_file.value.values)
        np.testing.assert_array_equal(decimated.time.values, from_file.time.values)
        assert decimated.attrs == from_file.attrs
    with pytest.raises(ValueError, match="the factor must be a whole number of 2 or more, not 0"):
        ds.bottle.decimate(0)
    with pytest.raises(ValueError, match="method must be"):
        zulukit.decimate(path, tmp_path / "z.bot", 2, method="median")


def test_block_statistics_across_the_blocks_read(tmp_path):
    """Blocks shorter and longer than the blocks of samples read at once,
    against numpy."""
    rng = np.random.default_rng(3)
    values = rng.normal(size=200_003)
    values[rng.integers(0, values.size, 300)] = np.nan
    path = double_bottle(tmp_path / "r.bot", values, interval=1.0)
    for factor in (7, 70_001):
        padded = np.r_[values, np.full(-values.size % factor, np.nan)].reshape(-1, factor)
        for method, reference in (("mean", np.nanmean), ("min", np.nanmin), ("max", np.nanmax)):
            zulukit.decimate(path, tmp_path / "b.bot", factor, method=method, force=True)
            got = zulukit.open(tmp_path / "b.bot").read()
            np.testing.assert_allclose(got, reference(padded, axis=1), rtol=1e-12, err_msg=f"{method} {factor}")
