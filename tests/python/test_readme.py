"""The README's Python session runs as printed."""

import doctest
import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_readme_session(tmp_path, monkeypatch):
    section = README.read_text().split("## From Python", 1)[1]
    session = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    monkeypatch.chdir(tmp_path)
    test = doctest.DocTestParser().get_doctest(session, {}, "README", str(README), 0)
    runner = doctest.DocTestRunner()
    runner.run(test)
    assert runner.failures == 0 and runner.tries > 10
