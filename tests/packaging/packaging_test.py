"""The package's metadata agrees wherever it is written: pyproject.toml
(what pip installs) against CMakeLists.txt (the version),
python/entry_points.txt (what `cmake --install` installs), LICENSE, NEWS
and the README.  (tests/python/test_examples.py runs the Python example.)
"""

import configparser
import pathlib
import re
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


if __name__ == "__main__":
    unittest.main()
