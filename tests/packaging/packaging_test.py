"""The package's metadata agrees wherever it is written, and the Python
example prints what it should.

pyproject.toml (what pip installs) against CMakeLists.txt (the version),
python/entry_points.txt (what `cmake --install` installs), LICENSE, NEWS
and the README.  The example runs when ZULU_PYTHONPATH names the build
tree's package.
"""

import configparser
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def pyproject():
    import tomllib  # Python 3.11

    return tomllib.loads((ROOT / "pyproject.toml").read_text())


class Metadata(unittest.TestCase):
    def test_version_is_the_projects(self):
        cmake = re.search(r"project\(zulukit VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
        self.assertEqual(pyproject()["project"]["version"], cmake)
        news = (ROOT / "NEWS").read_text()
        self.assertRegex(news, r"(?m)^Unreleased$")
        self.assertRegex(news, rf"(?m)^{re.escape(cmake)}\b")

    def test_entry_points_agree(self):
        installed = configparser.ConfigParser()
        installed.read(ROOT / "python" / "entry_points.txt")
        from_pip = pyproject()["project"]["entry-points"]
        self.assertEqual({group: dict(installed[group]) for group in installed.sections()}, from_pip)
        self.assertEqual(from_pip["xarray.backends"]["zulukit"], "zulukit.xarray_backend:ZulukitBackendEntrypoint")

    def test_one_license_everywhere(self):
        project = pyproject()["project"]
        self.assertEqual(project["license"], {"text": "MIT"})
        self.assertIn("License :: OSI Approved :: MIT License", project["classifiers"])
        license_text = (ROOT / "LICENSE").read_text()
        self.assertTrue(license_text.startswith("MIT License\n"))
        self.assertIn("the zulukit authors", license_text)
        self.assertIn("MIT license (`LICENSE`)", (ROOT / "README.md").read_text())


EXAMPLE_PRINTS = """\
1440 samples from 2015-06-23T00:00:00.000000 every 60.0 s
the last two, then past the end: [719.0, 719.5, 999999.0, 999999.0]
unusable at 2015-06-23T12:00:00.000000 ; mean of the rest: 359.74982626824186
"""


@unittest.skipUnless(os.environ.get("ZULU_PYTHONPATH"), "the build has no Python package")
class Example(unittest.TestCase):
    def test_python_example_prints_its_day(self):
        env = dict(os.environ, PYTHONPATH=os.environ["ZULU_PYTHONPATH"])
        with tempfile.TemporaryDirectory() as where:
            done = subprocess.run([sys.executable, str(ROOT / "examples" / "python" / "bottle_day.py")], env=env,
                                  cwd=where, capture_output=True, text=True, timeout=60)
            self.assertEqual(os.listdir(where), [], "the example works in a folder of its own")
        self.assertEqual((done.stdout, done.stderr, done.returncode), (EXAMPLE_PRINTS, "", 0))


if __name__ == "__main__":
    unittest.main()
