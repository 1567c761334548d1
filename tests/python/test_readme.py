"""The README's Python sessions run as printed."""

import doctest
import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def run_session(heading, tmp_path, monkeypatch):
    """Runs the first python block after the heading in a scratch folder;
    returns the doctest runner."""
    section = README.read_text().split(heading, 1)[1]
    session = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    monkeypatch.chdir(tmp_path)
    test = doctest.DocTestParser().get_doctest(session, {}, "README", str(README), 0)
    runner = doctest.DocTestRunner()
    runner.run(test)
    return runner


def test_readme_session(tmp_path, monkeypatch):
    runner = run_session("## From Python", tmp_path, monkeypatch)
    assert runner.failures == 0 and runner.tries > 10


def test_readme_xarray_session(tmp_path, monkeypatch):
    runner = run_session("### Bottles in xarray and Dask", tmp_path, monkeypatch)
    assert runner.failures == 0 and runner.tries > 10


def test_readme_following_session(tmp_path, monkeypatch):
    runner = run_session("## Following a recording as it is written", tmp_path, monkeypatch)
    assert runner.failures == 0 and runner.tries > 8


def test_readme_archive_session(tmp_path, monkeypatch):
    runner = run_session("### An archive as one series", tmp_path, monkeypatch)
    assert runner.failures == 0 and runner.tries > 10
