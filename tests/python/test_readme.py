"""The README's Python sessions run as printed."""

import doctest
import pathlib
import re

import pytest

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


@pytest.mark.parametrize("heading, least", [("## From Python", 10), ("### Bottles in xarray and Dask", 10),
                                             ("## Following a recording as it is written", 8),
                                             ("### An archive as one series", 10)])
def test_readme_sessions(heading, least, tmp_path, monkeypatch):
    runner = run_session(heading, tmp_path, monkeypatch)
    assert runner.failures == 0 and runner.tries > least
