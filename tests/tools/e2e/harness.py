"""Running the real program from the end-to-end tests."""

import os
import shutil
import subprocess
import tempfile
import unittest

PROGRAM = os.environ.get("VOLACCESS", "volaccess")


def run(*args, stdin=None):
    """Runs volaccess; returns (exit status, stdout, stderr) as text."""
    p = subprocess.run([PROGRAM, *map(str, args)], input=stdin, capture_output=True, text=True, timeout=60)
    return p.returncode, p.stdout, p.stderr


class ProgramTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="volaccess-e2e-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def ok(self, *args, stdin=None):
        code, out, err = run(*args, stdin=stdin)
        self.assertEqual(code, 0, err)
        return out

    def fails(self, *args, stdin=None, status=1):
        """The run fails with one line on stderr, which it returns."""
        code, out, err = run(*args, stdin=stdin)
        self.assertEqual(code, status, err)
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(lines[0].startswith("volaccess: "), err)
        self.assertNotIn("Sanitizer", err)
        return lines[0]

    def samples(self, image, points, *options):
        text = "\n".join(" ".join(repr(float(c)) for c in p) for p in points) + "\n"
        out = self.ok("sample", image, *options, stdin=text)
        return [[float(v) for v in line.split(" ")] for line in out.splitlines()]


def main_if_run():
    unittest.main(verbosity=1)
