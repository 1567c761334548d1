"""What a Python user's tools read of the package: its version, and type
information that says what the functions really take."""

import ast
import importlib.metadata
import importlib.util
import inspect
import pathlib
import subprocess
import sys

import pytest

import zulukit

STUB = pathlib.Path(zulukit.__file__).with_name("__init__.pyi")


def test_the_version_is_the_packages():
    assert zulukit.__version__ == importlib.metadata.version("zulukit")
    assert zulukit.__version__.count(".") == 2


def stub_parameters(node):
    """The names and kinds of a stubbed function's parameters."""
    a = node.args
    return ([("positional", p.arg) for p in a.posonlyargs + a.args] +
            ([("*", a.vararg.arg)] if a.vararg else []) + [("keyword", p.arg) for p in a.kwonlyargs] +
            ([("**", a.kwarg.arg)] if a.kwarg else []))


def runtime_parameters(fn):
    kinds = {inspect.Parameter.VAR_POSITIONAL: "*", inspect.Parameter.KEYWORD_ONLY: "keyword",
             inspect.Parameter.VAR_KEYWORD: "**"}
    return [(kinds.get(p.kind, "positional"), p.name) for p in inspect.signature(fn).parameters.values()]


def test_the_stub_names_every_public_name_with_its_parameters():
    tree = ast.parse(STUB.read_text())
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    assert set(zulukit.__all__) <= set(functions) | set(classes)
    for name, node in functions.items():
        assert stub_parameters(node) == runtime_parameters(getattr(zulukit, name)), name
    for node in classes["Bottle"].body:
        if isinstance(node, ast.FunctionDef) and not any(getattr(d, "id", "") == "property" for d in node.decorator_list):
            if node.name == "__exit__":
                continue  # the runtime takes *exc
            assert stub_parameters(node) == runtime_parameters(getattr(zulukit.Bottle, node.name)), node.name


PROGRAM = """
import numpy as np
import zulukit


def mean_of_day(path: str) -> float:
    with zulukit.create(path, np.datetime64("2015-06-23"), 60.0, "float", overwrite=True) as b:
        b.write(b.begin, [1.5, 2.5, float("nan")])
    with zulukit.open(path) as b:
        stamps = b.times(unit="ns")
        assert b.header.count == len(b) == stamps.size
        return float(np.mean(b.read(masked=True)))


print(mean_of_day("t.bot"), zulukit.__version__, zulukit.dtoa(0.0, 5), zulukit.open_archive(["t.bot"]).sizes)
"""


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="needs mypy (Debian: python3-mypy)")
def test_a_program_that_uses_the_package_checks_strictly(tmp_path):
    (tmp_path / "use.py").write_text(PROGRAM)
    # xarray's own types are not followed: checking them takes mypy most of a minute.
    (tmp_path / "mypy.ini").write_text("[mypy]\nstrict = True\n[mypy-xarray.*]\nfollow_imports = skip\n")
    checked = subprocess.run([sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path / "cache"), "use.py"],
                             cwd=tmp_path, capture_output=True, text=True)
    assert checked.returncode == 0, checked.stdout + checked.stderr
    ran = subprocess.run([sys.executable, "use.py"], cwd=tmp_path, capture_output=True, text=True)
    assert ran.returncode == 0 and ran.stdout.startswith("2.0 "), ran.stderr
