"""The README's examples, run as written: its fenced Python blocks with >>> lines, in order, as one doctest."""

import doctest
import re
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def test_readme_examples_print_what_the_readme_shows(monkeypatch):
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    blocks = [textwrap.dedent(block) for block in re.findall(r"^ *```python\n(.*?)^ *```", text, re.M | re.S)]
    examples = "\n".join(block for block in blocks if ">>>" in block)
    # The examples read examples/data/sample.csv by its path from the repository root.
    monkeypatch.chdir(ROOT)
    test = doctest.DocTestParser().get_doctest(examples, {}, "README.md", str(ROOT / "README.md"), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
    assert runner.tries >= 20
