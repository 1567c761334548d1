"""zulukit's date routines over arrays."""

import numpy as np
import pytest

import zulukit

T = 489162896.789  # Tue 2 July 1985, 14:34:56.789 GMT

LAYOUTS = ["Tue Jul 02 14:34:56.788 GMT 1985 183", "14:34 02 Jul 1985 183", "850702143456", "85j183143456",
           "14:34:56 02 Jul 1985 183", "1985-07-02T14:34:00"]


@pytest.mark.parametrize("layout,text", enumerate(LAYOUTS))
def test_dtoa_layouts(layout, text):
    assert zulukit.dtoa(T, layout) == text
    assert zulukit.dtoa([T, T], layout) == [text, text]


def test_zone_applies_to_the_call_only():
    assert zulukit.dtoa(T, 0, zone=-5) == "Tue Jul 02 10:34:56.788 EDT 1985 183"
    assert zulukit.dtoa(T) == LAYOUTS[0]
    assert zulukit.atod("850702103456", zone=-5) == zulukit.atod("850702143456") == 489162896.0


def test_atod_forms():
    times = zulukit.atod(["850702143456", "85j183143456", "19850702143456.789"])
    assert times.dtype == np.float64
    np.testing.assert_array_equal(times, [489162896.0, 489162896.0, T])


def test_dtov_and_vtod_round_trip_whole_arrays():
    times = np.arange(-2e9, 4e9, 12345.678)
    records = zulukit.dtov(times)
    assert records.dtype.names == ("yr", "jl", "mo", "dm", "dw", "hr", "mn", "se", "mi")
    one = zulukit.dtov(T)
    assert (one["yr"], one["jl"], one["hr"], one["mi"]) == (1985, 183, 14, 788)
    back = zulukit.vtod(records)
    np.testing.assert_allclose(back, times, atol=1e-3)
    np.testing.assert_array_equal(zulukit.vtod(records), back)  # records left as they were
    assert zulukit.dtov(T, zone=-5)["hr"] == 10
    undated = zulukit.dtov([np.nan, np.inf])
    assert (undated["jl"] == 0).all() and (undated["mo"] == 0).all()
    with pytest.raises(TypeError):
        zulukit.vtod(np.zeros(3))
