"""The README's fenced examples run as printed, in scratch folders.

Every fenced block is one of these:
- marked as a fragment by a line `<!-- fragment -->` just before its fence
  (install commands, snippets of another project): left alone;
- a ```python session: run by tests/python/test_readme.py;
- a shell session (```sh with lines that begin with `$ `): the sessions run
  in README order in one scratch folder, each command with bash, and what it
  prints (standard output and error) must be the lines up to the next `$ `.
  Lines after a command that begin with `> ` continue it, as the shell's
  second prompt shows them (a here-document);
- a ```c program: compiled against the build tree's libraries, warnings
  fatal; when a ```text block follows it (with prose only between), the
  program runs and must print exactly that.
Anything else fails the test, so that a new example is either run or
marked.

The build passes what it knows in the environment: ZULU_README,
ZULU_PROGRAM_DIRS (folders of the programs, for PATH), ZULU_CC,
ZULU_CFLAGS, ZULU_LDFLAGS, ZULU_DEFINITIONS, ZULU_HEADERS (installed as
<zulukit/NAME>) and ZULU_LIBRARIES, each list separated by ";".
"""

import os
import pathlib
import re
import subprocess
import tempfile
import unittest

FENCE = re.compile(r"^```(\w*)\s*$")
FRAGMENT = "<!-- fragment -->"


def env_list(name):
    return [item for item in os.environ.get(name, "").split(";") if item]


class Block:
    def __init__(self, lang, lines, line_number, fragment):
        self.lang, self.lines, self.line_number, self.fragment = lang, lines, line_number, fragment
        self.output = None  # a ```text block after a C program: what it prints

    def __repr__(self):
        return f"README line {self.line_number} ({self.lang or 'no language'})"


def blocks(text):
    """The fenced blocks of a Markdown text, a ```text block joined to the
    C program before it."""
    found, lines = [], text.splitlines()
    i, last_code = 0, None
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        start = i
        i += 1
        while i < len(lines) and not lines[i].startswith("```"):
            i += 1
        block = Block(m.group(1), lines[start + 1:i], start + 1, start > 0 and lines[start - 1].strip() == FRAGMENT)
        i += 1
        if block.lang == "text" and last_code is not None and last_code.lang == "c" and last_code.output is None:
            last_code.output = block
        else:
            found.append(block)
        last_code = block
    return found


def session_steps(block):
    """(command, expected output) of each `$ ` line of a shell session."""
    steps = []
    for line in block.lines:
        if line.startswith("$ "):
            steps.append([line[2:], []])
        elif not steps:
            raise AssertionError(f"{block}: text before the first command: {line!r}")
        elif line.startswith("> ") and not steps[-1][1]:
            steps[-1][0] += "\n" + line[2:]
        else:
            steps[-1][1].append(line)
    return [(command, "".join(out + "\n" for out in output)) for command, output in steps]


README = pathlib.Path(os.environ.get("ZULU_README", pathlib.Path(__file__).resolve().parents[2] / "README.md"))
BLOCKS = blocks(README.read_text())


class Readme(unittest.TestCase):
    def test_every_block_is_run_or_marked(self):
        for block in BLOCKS:
            with self.subTest(block=block):
                runnable = (block.lang == "python" or block.lang == "c"
                            or (block.lang == "sh" and any(line.startswith("$ ") for line in block.lines)))
                self.assertTrue(block.fragment or runnable, "neither a session, a program nor a fragment")
                if block.fragment:
                    self.assertIsNone(block.output, "a fragment shows no output")
        self.assertGreaterEqual(sum(b.lang == "sh" and not b.fragment for b in BLOCKS), 3)
        self.assertGreaterEqual(sum(b.lang == "c" for b in BLOCKS), 5)

    def test_shell_sessions(self):
        env = dict(os.environ, PATH=os.pathsep.join(env_list("ZULU_PROGRAM_DIRS") + [os.environ["PATH"]]))
        with tempfile.TemporaryDirectory() as scratch:
            for block in BLOCKS:
                if block.lang != "sh" or block.fragment:
                    continue
                for command, expected in session_steps(block):
                    with self.subTest(block=block, command=command.splitlines()[0]):
                        done = subprocess.run(["bash", "-c", command], cwd=scratch, env=env, stdout=subprocess.PIPE,
                                              stderr=subprocess.STDOUT, text=True, timeout=120)
                        self.assertEqual(done.stdout, expected)
                        self.assertEqual(done.returncode, 0)

    def test_c_programs(self):
        programs = [b for b in BLOCKS if b.lang == "c" and not b.fragment]
        with tempfile.TemporaryDirectory() as scratch:
            include = pathlib.Path(scratch, "include", "zulukit")
            include.mkdir(parents=True)
            for header in env_list("ZULU_HEADERS"):
                (include / pathlib.Path(header).name).symlink_to(header)
            for n, block in enumerate(programs):
                with self.subTest(block=block):
                    folder = pathlib.Path(scratch, f"example{n}")
                    folder.mkdir()
                    source = folder / "example.c"
                    source.write_text("\n".join(block.lines) + "\n")
                    command = [os.environ.get("ZULU_CC", "cc"), "-std=c11", "-Wall", "-Wextra", "-Werror",
                               *os.environ.get("ZULU_CFLAGS", "").split(),
                               *("-D" + d for d in env_list("ZULU_DEFINITIONS")), "-I", str(include.parent),
                               str(source), *env_list("ZULU_LIBRARIES"), *os.environ.get("ZULU_LDFLAGS", "").split(),
                               "-o", str(folder / "example")]
                    built = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                    self.assertEqual(built.returncode, 0, built.stdout)
                    if block.output is None:
                        continue
                    ran = subprocess.run([str(folder / "example")], cwd=folder, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, text=True, timeout=60)
                    self.assertEqual(ran.stdout, "".join(line + "\n" for line in block.output.lines))
                    self.assertEqual(ran.returncode, 0)


if __name__ == "__main__":
    unittest.main()
