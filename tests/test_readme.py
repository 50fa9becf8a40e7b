"""The README's examples, run as written: its fenced Python blocks with >>> lines, in order, as one doctest."""

import doctest
import re
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BLOCK = re.compile(r"^( *)```python\n(.*?)^ *```", re.M | re.S)


def examples_in_place(text):
    """The text with every line blanked but those of the Python blocks that hold >>> lines, so that
    the doctest reports a failing example by its line in the README."""
    kept = ["\n"] * text.count("\n")
    for block in BLOCK.finditer(text):
        if ">>>" in block[2]:
            first = text.count("\n", 0, block.start(2))
            lines = textwrap.dedent(block[2]).splitlines(keepends=True)
            kept[first : first + len(lines)] = lines
    return "".join(kept)


def test_readme_examples_print_what_the_readme_shows(monkeypatch):
    examples = examples_in_place((ROOT / "README.md").read_text(encoding="utf-8"))
    # The examples read examples/data/sample.csv by its path from the repository root.
    monkeypatch.chdir(ROOT)
    test = doctest.DocTestParser().get_doctest(examples, {}, "README.md", str(ROOT / "README.md"), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
    assert runner.tries >= 20
