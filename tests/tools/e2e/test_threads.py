"""Threads: sample, slice and reslice give the same bytes with 1, 2, 3 and
8 threads, whether the count comes from --threads or from
VOLACCESS_NUM_THREADS, and --threads 1 starts no other thread."""

import filecmp
import os
import subprocess
import sys
import threading
import time
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import PROGRAM, ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402

THREADS = (1, 2, 3, 8)
# Enough points for several batches of 16384 in a round.
POINTS = 40000


def run_with(args, threads=None, variable=None, stdin=None):
    """Runs volaccess with --threads and/or VOLACCESS_NUM_THREADS."""
    env = dict(os.environ)
    env.pop("VOLACCESS_NUM_THREADS", None)
    if variable is not None:
        env["VOLACCESS_NUM_THREADS"] = str(variable)
    extra = ["--threads", str(threads)] if threads is not None else []
    p = subprocess.run([PROGRAM, *map(str, args), *extra], input=stdin, capture_output=True, text=True,
                       env=env, timeout=120)
    return p.returncode, p.stdout, p.stderr


def point_text(rng, n, shape):
    points = rng.uniform(0.3, np.array(shape) + 0.7, size=(n, 3))
    return "".join(f"{x!r} {y!r} {z!r}\n" for x, y, z in points.tolist())


class ThreadsTest(ProgramTest):
    def setUp(self):
        super().setUp()
        rng = np.random.default_rng(16)
        self.shape = (40, 36, 30)
        data = rng.integers(-3000, 3000, size=self.shape).astype(np.int16)
        srow = [[1.5, 0.2, 0.0, -10.0], [-0.1, 1.4, 0.3, 5.0], [0.0, -0.2, 1.6, 2.0]]
        self.image = niftiwrite.write_nii(self.path("img.nii"), data, 4, srow=srow, slope=0.5, inter=3.0)
        self.points = point_text(rng, POINTS, self.shape)

    def same_for_every_count(self, args, stdin=None, ways=("option", "variable")):
        """Runs args with each thread count, from the option and from the
        variable, and checks that the results match; returns them."""
        first = None
        for threads in THREADS:
            for how in ways:
                with self.subTest(threads=threads, how=how):
                    result = run_with(args, threads if how == "option" else None,
                                      threads if how == "variable" else None, stdin)
                    if first is None:
                        first = result
                    self.assertEqual(result, first)
        return first


class SampleThreads(ThreadsTest):
    def test_sample_text_is_the_same_with_any_thread_count(self):
        for options in (["--hold", "1"], ["--hold", "3"], ["--hold", "-3"], ["--hold", "0"],
                        ["--hold", "1", "--gradient"], ["--coords", "world", "--hold", "-4"]):
            with self.subTest(options=options):
                ways = ("option", "variable") if options == ["--hold", "1"] else ("option",)
                code, out, err = self.same_for_every_count(["sample", self.image, *options], self.points, ways)
                self.assertEqual(code, 0, err)
                # Random points fall outside too: the count of them is the only note.
                for line in err.splitlines():
                    self.assertTrue(line.startswith("volaccess: note: points outside"), line)
                self.assertEqual(len(out.splitlines()), POINTS)

    def test_bad_line_fails_alike_after_the_same_output(self):
        lines = self.points.splitlines(keepends=True)
        lines.insert(35000, "# a comment\n")
        lines.insert(35001, "1 2 x\n")
        code, out, err = self.same_for_every_count(["sample", self.image], "".join(lines))
        self.assertEqual(code, 1)
        self.assertEqual(err, "volaccess: <stdin>:35002: 'x' is not a number\n")
        # Two whole batches come before the bad line's.
        self.assertEqual(len(out.splitlines()), 32768)

    def threads_while_waiting_for_input(self, threads):
        """The threads of a sample run that has answered its first round of
        points (two batches of 16384 a thread) and waits for more input."""
        points = point_text(np.random.default_rng(3), 2 * threads * 16384 + 5000, self.shape)
        out_path = self.path(f"out-{threads}.txt")
        with open(out_path, "w") as out:
            p = subprocess.Popen([PROGRAM, "sample", self.image, "--threads", str(threads)], stdin=subprocess.PIPE,
                                 stdout=out, stderr=subprocess.DEVNULL, text=True)
        try:
            writer = threading.Thread(target=p.stdin.write, args=(points,))
            writer.start()
            # Output appears once the first round is sampled; the program
            # then reads on and waits for the rest of its input.
            deadline = time.monotonic() + 60
            while os.path.getsize(out_path) == 0 and p.poll() is None and time.monotonic() < deadline:
                time.sleep(0.01)
            self.assertIsNone(p.poll())
            self.assertGreater(os.path.getsize(out_path), 0)
            writer.join()
            return len(os.listdir(f"/proc/{p.pid}/task"))
        finally:
            p.stdin.close()
            p.wait(timeout=120)

    def test_one_thread_starts_no_other_thread(self):
        self.assertEqual(self.threads_while_waiting_for_input(1), 1)
        self.assertGreater(self.threads_while_waiting_for_input(3), 1)


class FileThreads(ThreadsTest):
    def test_slice_files_are_byte_identical(self):
        transform = "0.9 -0.3 0.2 3  0.25 0.85 0.3 -4  -0.2 -0.25 0.9 12  0 0 0 1"
        for out, hold in (("cut.npy", 1), ("cut.png", -3), ("plane.npy", 0)):
            with self.subTest(out=out):
                outputs = []
                for threads in THREADS:
                    path = self.path(f"{threads}-{out}")
                    # A whole plane at its own size is copied, not walked.
                    where = (["--axial", "7"] if out.startswith("plane")
                             else ["--transform", transform, "--size", "61x47"])
                    code, _, err = run_with(["slice", self.image, *where, "--hold", hold, "-o", path], threads)
                    self.assertEqual(code, 0, err)
                    outputs.append(path)
                for path in outputs[1:]:
                    self.assertTrue(filecmp.cmp(outputs[0], path, shallow=False), path)

    def test_reslice_files_are_byte_identical(self):
        # A reference grid of several tiles across, with ragged edges, and
        # more planes than one slab.
        reference = self.path("ref.nii")
        srow = [[1.1, 0.3, 0.1, -12.0], [-0.2, 1.0, 0.25, -3.0], [0.1, -0.3, 1.2, 4.0]]
        with open(reference, "wb") as f:
            f.write(niftiwrite.nifti1_header((70, 40, 21), 2, srow=srow) + b"\0" * 4)
        # An integer output cannot hold a NaN background: it gets a number;
        # int16 takes a scale measured over the whole output first.
        for out, hold, datatype, background in (("r.nii", 1, "float64", "nan"), ("r.nii.gz", -3, "source", "-7"),
                                                ("n.nii", 0, "float32", "nan"), ("l.nii", 3, "float64", "nan"),
                                                ("i.nii", 1, "int16", "-1")):
            with self.subTest(out=out, hold=hold):
                outputs = []
                for threads in THREADS:
                    path = self.path(f"{threads}-{out}")
                    code, _, err = run_with(["reslice", self.image, "--like", reference, "--hold", hold,
                                             "--datatype", datatype, "--background", background, "-o", path], threads)
                    self.assertEqual(code, 0, err)
                    outputs.append(path)
                for path in outputs[1:]:
                    self.assertTrue(filecmp.cmp(outputs[0], path, shallow=False), path)

    def test_bad_thread_counts_are_usage_errors(self):
        code, out, err = run_with(["sample", self.image], threads=0, stdin="1 1 1\n")
        self.assertEqual((code, out), (2, ""))
        self.assertEqual(err, "volaccess: --threads: '0' is not a thread count from 1 to 1024\n")
        code, out, err = run_with(["slice", self.image, "--axial", "1", "-o", self.path("a.png")], variable="lots")
        self.assertEqual((code, out), (2, ""))
        self.assertEqual(err, "volaccess: VOLACCESS_NUM_THREADS: 'lots' is not a thread count from 1 to 1024\n")
        self.assertFalse(os.path.exists(self.path("a.png")))


if __name__ == "__main__":
    main_if_run()
