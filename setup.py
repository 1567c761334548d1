"""The Python package zulukit for pip: `python3 -m pip install
--no-build-isolation .` builds the extension with the CMake project (the
extension links the project's libraries, with netCDF where it is found)
for the interpreter that runs pip, and installs the package with the
xarray engine's entry point.  The metadata is in pyproject.toml."""

import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    """Builds the extension target of the CMake project, tests and
    benchmarks left out, two jobs at a time unless CMAKE_BUILD_PARALLEL_LEVEL
    says otherwise."""

    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DZULU_BUILD_TESTS=OFF", "-DZULU_BUILD_BENCH=OFF", "-DZULU_WITH_NETCDF=AUTO",
                        "-DZULU_BUILD_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        env = dict(os.environ)
        env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "_zulukit"], check=True, env=env)
        built = next((build / "python" / "zulukit").glob("_zulukit*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(
    package_dir={"": "python"},
    packages=["zulukit"],
    package_data={"zulukit": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("zulukit._zulukit", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
