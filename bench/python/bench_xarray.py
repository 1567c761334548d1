"""Times bottles through xarray and Dask beside numpy on the same files,
side by side in one run, and prints a table of ratios.

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python/bench_xarray.py [SAMPLES] [FILES] [FILE_SAMPLES]

SAMPLES (default 1e8) float samples go into a scratch bottle read whole
and in pieces, and into a netCDF-4 twin that xarray's netCDF4 engine
reads in the same pieces; 365 daily bottles are opened as one archive;
FILES (default 10) bottles of FILE_SAMPLES (default 1e8) samples make the
archive that a Dask sum on a dask.distributed cluster of 2 worker
processes adds up.  Each figure is the least of several runs.
"""

import os
import sys
import tempfile
import time

import numpy as np
import xarray as xr

import zulukit
from timing import least


def make_bottle(path, n, begin=0.0, seed=1):
    values = np.random.default_rng(seed).standard_normal(n).astype(np.float32)
    values[::1000] = np.nan
    with zulukit.create(path, begin, 0.01, "float", overwrite=True) as b:
        b.write(begin, values)


def netcdf_twin(path, n):
    """The samples of the bottle path in a netCDF-4 file beside it (one
    contiguous variable, "value", over "sample"), for the netCDF4 engine."""
    import netCDF4

    twin = path + ".nc"
    with netCDF4.Dataset(twin, "w") as nc, zulukit.open(path) as b:
        nc.createDimension("sample", n)
        v = nc.createVariable("value", "f4", ("sample",), fill_value=b.unusable)
        v.set_auto_maskandscale(False)
        for i in range(0, n, 10**7):
            v[i:i + 10**7] = b[i:i + 10**7]
    return twin


def single_file_rows(work, n):
    path = os.path.join(work, "one.bot")
    make_bottle(path, n)
    fromfile = least(lambda: np.fromfile(path, dtype="<f4", offset=40))

    def read(**kw):
        return xr.open_dataset(path, time_index=False, cache=False, **kw).value.values

    rows = [
        (".values, mask_and_scale=False", least(lambda: read(mask_and_scale=False)), "numpy.fromfile", fromfile,
         "1.25"),
        (".values, masked", least(lambda: read()), "numpy.fromfile", fromfile, "2.5"),
    ]
    opened = least(lambda: xr.open_dataset(path, time_index=False), 20)
    ds = xr.open_dataset(path, time_index=False, cache=False)
    starts = np.random.default_rng(2).integers(0, n - 1000, 200)
    it = iter(np.tile(starts, 10))
    window = least(lambda: ds.value.isel(sample=slice(s := int(next(it)), s + 1000)).values, 200)
    twin = xr.open_dataset(netcdf_twin(path, n), engine="netcdf4", cache=False)
    it = iter(np.tile(starts, 10))
    twin_window = least(lambda: twin.value.isel(sample=slice(s := int(next(it)), s + 1000)).values, 200)
    spread = np.sort(np.random.default_rng(3).choice(n, 1000, replace=False))
    scattered = least(lambda: ds.value.isel(sample=spread).values, 20)
    twin_scattered = least(lambda: twin.value.isel(sample=spread).values, 3)
    rows += [
        ("open_dataset, time_index=False", opened, "limit 20 ms", 0.020, "1"),
        ("isel of 1000 samples + .values", window, "limit 100 us", 100e-6, "1"),
        ("isel of 1000 samples + .values", window, "netCDF4 engine", twin_window, "-"),
        ("isel of 1000 scattered samples", scattered, "netCDF4 engine", twin_scattered, "-"),
    ]
    twin.close()
    os.remove(path)
    os.remove(path + ".nc")
    return rows


def archive_rows(work, files, n):
    from dask.distributed import Client, LocalCluster

    paths = [os.path.join(work, f"day{i:02d}.bot") for i in range(files)]
    for i, p in enumerate(paths):
        make_bottle(p, n, begin=i * n * 0.01, seed=i)
    loop = least(lambda: sum(float(np.fromfile(p, dtype="<f4", offset=40).sum(dtype=np.float64)) for p in paths), 3)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True) as cluster, Client(cluster) as client:
        ds = zulukit.open_archive(paths, chunks={"sample": 10**7}, time_index=False, mask_and_scale=False)
        total = ds.value.data.sum(dtype=np.float64)
        dask_sum = float("inf")
        for _ in range(3):
            start = time.perf_counter()
            total.compute()
            dask_sum = min(dask_sum, time.perf_counter() - start)
            # The next run computes the same keys: the scheduler must have
            # let go of these, or it would hand back their results.
            while client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks)):
                time.sleep(0.01)
    return [(f"Dask sum, {files} x {n:.0e}, 2 workers", dask_sum, "numpy loop", loop, "1.5")]


def year_rows(work):
    """open_archive of 365 daily 100 Hz bottles (of an hour each: opening
    reads only the headers), without a time index."""
    paths = [os.path.join(work, f"y{d:03d}.bot") for d in range(365)]
    for d, p in enumerate(paths):
        with zulukit.create(p, 1435017600.0 + d * 86400, 0.01, "int", overwrite=True) as b:
            b.write(1435017600.0 + d * 86400, np.zeros(360_000, np.int16))
    opened = least(lambda: zulukit.open_archive(paths, time_index=False), 3)
    return [("open_archive, 365 daily bottles", opened, "limit 1 s", 1.0, "1")]


def main():
    n = int(float(sys.argv[1])) if len(sys.argv) > 1 else 100_000_000
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    file_samples = int(float(sys.argv[3])) if len(sys.argv) > 3 else 100_000_000
    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR", "/var/tmp")) as work:
        rows = single_file_rows(work, n) + year_rows(work) + archive_rows(work, files, file_samples)
    print(f"{'operation':40} {'seconds':>10}  {'against':16} {'seconds':>10} {'ratio':>7}  {'wanted':>6}  met?")
    for name, mine, other, theirs, wanted in rows:
        ratio = round(mine / theirs, 2)  # judged as printed
        verdict = "" if wanted == "-" else "met" if ratio <= float(wanted) else "MISSED"
        print(f"{name:40} {mine:10.6f}  {other:16} {theirs:10.6f} {ratio:7.2f}  {wanted:>6}  {verdict}")


if __name__ == "__main__":
    main()
