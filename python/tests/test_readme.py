"""The README's Python example, run as printed in the folder where the
demo wrote its phantom, prints what the README shows under it."""

import os
import re
import subprocess
import sys

from conftest import ROOT, program


def example_and_output(readme):
    """The first python block of the Python part, and the indented block
    that follows its "prints" line."""
    part = readme[readme.index("## Python"):]
    code = re.search(r"```python\n(.*?)```", part, re.S)
    shown = re.search(r"\nprints\n\n((?:    .*\n)+)", part[code.end():])
    return code.group(1), [line[4:] for line in shown.group(1).splitlines()]


def test_the_python_example_prints_what_the_readme_shows(tmp_path):
    with open(os.path.join(ROOT, "README.md")) as f:
        code, expected = example_and_output(f.read())
    subprocess.run([program(), "demo"], cwd=tmp_path, check=True, capture_output=True, timeout=120)
    done = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == expected
