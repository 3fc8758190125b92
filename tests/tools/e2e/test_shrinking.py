"""An image file truncated by another process while the program reads it:
the program says so on one line, exits with status 1 and leaves no output
file behind, instead of dying of SIGBUS."""

import os
import subprocess
import sys
import time
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import PROGRAM, ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402

CHANGED = "the image changed on disk while it was being read"


def wait_until_mapped(process, path):
    """Returns once `process` has `path` mapped (it is then past its checks)."""
    real = os.path.realpath(path)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise AssertionError("the program ended before mapping the image")
        with open(f"/proc/{process.pid}/maps") as f:
            if any(line.rstrip("\n").endswith(" " + real) for line in f):
                return
        time.sleep(0.001)
    raise AssertionError("the image was never mapped")


class Shrinking(ProgramTest):
    def start(self, *args, stdin=subprocess.DEVNULL):
        return subprocess.Popen([PROGRAM, *args], stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)

    def assert_reported(self, process, image):
        out, err = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 1, err)
        self.assertEqual(err, f"volaccess: {image}: {CHANGED}\n")
        return out

    def test_sampling_after_truncation_reports_the_change(self):
        # The program maps the image before it reads the points, so the
        # file can be truncated between the two.
        image = niftiwrite.write_nii(self.path("img.nii"), np.ones((40, 40, 40), np.float32), 16)
        p = self.start("sample", image, stdin=subprocess.PIPE)
        wait_until_mapped(p, image)
        os.truncate(image, 0)
        p.stdin.write("20 20 20\n")
        p.stdin.close()
        p.stdin = None
        self.assertEqual(self.assert_reported(p, image), "")

    def test_shrink_within_the_last_page_fails_after_the_complete_batches(self):
        # Cut short by less than a page, the mapping past the new end reads
        # zeros instead of faulting: only a size check can tell.
        image = niftiwrite.write_nii(self.path("img.nii"), np.ones((40, 40, 40), np.float32), 16)
        # One thread reads two batches of 2^14 points before it samples them.
        batch = 2 << 14
        p = self.start("sample", image, "--threads", "1", stdin=subprocess.PIPE)
        p.stdin.write("1 1 1\n" * batch)
        p.stdin.flush()
        printed = [p.stdout.readline() for _ in range(batch)]
        self.assertEqual(printed, ["1\n"] * batch)
        os.truncate(image, os.path.getsize(image) - 100)
        p.stdin.write("40 40 40\n")
        p.stdin.close()
        p.stdin = None
        self.assertEqual(self.assert_reported(p, image), "")

    def test_slice_of_a_shortened_image_writes_nothing(self):
        image = niftiwrite.write_nii(self.path("img.nii"), np.ones((40, 40, 40), np.float32), 16)
        out = self.path("out.npy")
        # Long enough (Lagrange 4x4x4 at 4 million pixels) that the truncation
        # lands while the pixels are being computed.
        p = self.start("slice", image, "--transform", "0.02 0 0 0 0 0.02 0 0 0 0 1 40 0 0 0 1",
                       "--size", "2000x2000", "--hold", "3", "-o", out)
        wait_until_mapped(p, image)
        os.truncate(image, os.path.getsize(image) - 100)
        self.assert_reported(p, image)
        self.assertEqual(os.listdir(self.dir), ["img.nii"])

    def test_reslice_interrupted_by_truncation_leaves_no_output(self):
        # Long enough (Lagrange 4x4x4 on 8 million voxels) that the
        # truncation lands while the planes are being computed.
        source = niftiwrite.write_nii(self.path("src.nii"), np.ones((64, 64, 64), np.float32), 16)
        # Only the reference's header is read: its grid.
        reference = self.path("ref.nii")
        with open(reference, "wb") as f:
            f.write(niftiwrite.nifti1_header((200, 200, 200), 2) + b"\0" * 4)
        out = self.path("out.nii")
        p = self.start("reslice", source, "--like", reference, "--hold", "3", "-o", out)
        wait_until_mapped(p, source)
        os.truncate(source, 0)
        self.assert_reported(p, source)
        self.assertEqual(sorted(os.listdir(self.dir)), ["ref.nii", "src.nii"])


if __name__ == "__main__":
    main_if_run()
