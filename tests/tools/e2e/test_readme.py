"""Every command the README prints for the volaccess program, run as printed
in one shell (so that `cd` holds), its output compared with what the README
shows: the phantom of `volaccess demo`, and the registration example that
scripts/registration_example.py writes. A file the README only shows with
`cat` (points.txt) is written from what it shows."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from harness import PROGRAM, ProgramTest, main_if_run  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
MARK = "@@@ volaccess readme command "


def program_part(readme):
    """The README's text from the program's heading to the next top heading."""
    start = readme.index("## The volaccess program")
    return readme[start:readme.index("\n## ", start)]


def commands(text):
    """(command, expected output lines) for each '$ ' line of the indented
    blocks; a line ending in a backslash or a pipe goes on on the next."""
    found = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if not line.startswith("    $ "):
            continue
        command = line[6:]
        while re.search(r"(\\|\|)$", command):
            command += "\n" + lines[i][4:]
            i += 1
        expected = []
        while i < len(lines) and lines[i].startswith("    ") and not lines[i].startswith("    $ "):
            expected.append(lines[i][4:])
            i += 1
        found.append((command, expected))
    return found


def matches(expected, actual):
    """Whether the lines agree, a '...' line standing for any lines."""
    pattern = "".join(".*?" if line == "..." else re.escape(line + "\n") for line in expected)
    return re.fullmatch(pattern, "".join(line + "\n" for line in actual), re.S) is not None


class Readme(ProgramTest):
    def test_every_program_command_runs_as_printed_and_prints_what_is_shown(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            steps = commands(program_part(f.read()))
        self.assertGreater(len(steps), 15)
        for folder in ("scripts", "tests"):
            os.symlink(os.path.join(ROOT, folder), self.path(folder))
        env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(PROGRAM)) + ":/usr/bin:/bin")
        subprocess.run([PROGRAM, "demo"], cwd=self.dir, env=env, check=True, capture_output=True, timeout=60)
        script = []
        for n, (command, expected) in enumerate(steps):
            shown = re.fullmatch(r"cat (\S+)", command)
            if shown and not os.path.exists(self.path(shown.group(1))):
                with open(self.path(shown.group(1)), "w") as f:
                    f.write("".join(line + "\n" for line in expected))
            script.append(f"echo '{MARK}{n}'\n{command} 2>&1 || echo \"exit status $?\"\n")
        out = subprocess.run(["bash", "-c", "".join(script)], cwd=self.dir, env=env, capture_output=True,
                             text=True, timeout=120).stdout
        outputs = re.split(re.escape(MARK) + r"\d+\n", out)[1:]
        self.assertEqual(len(outputs), len(steps), out)
        for (command, expected), output in zip(steps, outputs):
            with self.subTest(command=command):
                self.assertTrue(matches(expected, output.splitlines()), f"printed:\n{output}")


if __name__ == "__main__":
    main_if_run()
