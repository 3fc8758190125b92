"""Inputs that once gave a wrong answer or lost output while reporting
success: each now ends in a clear error or the right result with a note."""

import os
import resource
import subprocess
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import PROGRAM, ProgramTest, main_if_run, run  # noqa: E402


def save(path, values, affine=None, **forms):
    import nibabel as nib
    image = nib.Nifti1Image(values, np.diag([2.0, 2.0, 2.0, 1.0]) if affine is None else affine, dtype=values.dtype)
    for name, (matrix, code) in forms.items():
        getattr(image, "set_" + name)(matrix, code=code)
    nib.save(image, path)
    return path


def load(path):
    import nibabel as nib
    return np.asarray(nib.load(path).dataobj)


def run_limited(args, *, close_stdout=False, memory=None, stdin=""):
    """Runs the program with standard output closed, or its address space
    limited to `memory` bytes; returns (status, stderr)."""
    def prepare():
        if close_stdout:
            os.close(1)
        if memory:
            resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
    p = subprocess.run([PROGRAM, *args], input=stdin, stdout=None if close_stdout else subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True, preexec_fn=prepare, timeout=60)
    return p.returncode, p.stderr


class Refusals(ProgramTest):
    def setUp(self):
        super().setUp()
        values = np.zeros((10, 10, 10), np.float32)
        values[2:8, 2:8, 2:8] = 5
        self.image = save(self.path("img.nii"), values)

    def test_results_written_to_a_closed_standard_output_fail(self):
        for args, stdin in [(["sample", self.image], "2 3 4\n"), (["info", self.image], ""), (["--help"], ""),
                            (["sample", "--help"], "")]:
            with self.subTest(args=args):
                status, err = run_limited(args, close_stdout=True, stdin=stdin)
                self.assertEqual(status, 1, err)
                self.assertEqual(err, "volaccess: standard output: cannot write: Bad file descriptor\n")

    def test_an_output_that_cannot_fit_is_refused_before_it_is_computed(self):
        out = self.path("o.nii")
        line = self.fails("reslice", self.image, "--voxel-size", "1e-3", "-o", out, status=2)
        self.assertRegex(line, rf"^volaccess: {out}: the output takes [0-9.]+ TiB \(20000x20000x20000 voxels of "
                               r"float32\), more than the .* free on its file system; --voxel-size 1e-3: the image "
                               r"is in millimetres; --large-output writes it all the same$")
        line = self.fails("reslice", self.image, "--voxel-size", "1e-5", "-o", out, status=2)
        self.assertEqual(line, "volaccess: the output grid of 2000000x2000000x2000000 voxels would hold more than "
                               "2^31 - 1 voxels a plane; --voxel-size 1e-5: the image is in millimetres")
        self.assertEqual(sorted(os.listdir(self.dir)), ["img.nii"])

    @unittest.skipIf(os.environ.get("VOLACCESS_ASAN") == "ON",
                     "AddressSanitizer reserves terabytes of address space, which a memory limit refuses")
    def test_an_output_held_in_memory_is_weighed_against_the_memory_allowed(self):
        gz = self.path("o.nii.gz")
        status, err = run_limited(["reslice", self.image, "--voxel-size", "0.02", "-o", gz], memory=1 << 30)
        self.assertEqual(status, 2, err)
        self.assertIn("(1000x1000x1000 voxels of float32) in memory, more than half of the 1.0 GiB", err)
        status, err = run_limited(["slice", self.image, "--axial", "mid", "--size", "20000x20000", "-o",
                                   self.path("s.png")], memory=1 << 30)
        self.assertEqual(status, 2, err)
        self.assertIn("(20000x20000 voxels of float64) in memory", err)
        self.assertEqual(sorted(os.listdir(self.dir)), ["img.nii"])

    def test_a_mask_of_two_volumes_is_refused(self):
        mask = save(self.path("mask.nii"), np.ones((10, 10, 10, 2), np.uint8))
        line = self.fails("reslice", self.image, "--like", self.image, "--mask", mask, "-o", self.path("o.nii"))
        self.assertEqual(line, f"volaccess: {mask}: the mask holds 2 volumes; a mask is one volume")

    def test_integer_outputs_store_not_a_number_as_the_background_and_say_so(self):
        values = np.full((4, 4, 4), 3.0, np.float32)
        values[1, 1, 1] = np.nan
        source = save(self.path("nan.nii"), values)
        out = self.path("o.nii")
        code, _, err = run("reslice", source, "--like", source, "--hold", "0", "--datatype", "int16",
                                        "--background", "7", "-o", out)
        self.assertEqual(code, 0, err)
        self.assertEqual(load(out)[1, 1, 1], 7.0)
        self.assertIn(f"volaccess: note: 1 voxels of {out} were not a number, which int16 cannot hold: they store "
                      "the background, 7", err)
        huge = np.full((4, 4, 4), 1.0)
        huge[2, 2, 2] = 1e300
        source = save(self.path("huge.nii"), huge)
        code, _, err = run("reslice", source, "--like", source, "--hold", "0", "-o", out)
        self.assertEqual(code, 0, err)
        self.assertEqual(load(out)[2, 2, 2], np.inf)
        self.assertIn("1 values of " + out + " lie beyond the range of float32", err)

    def test_labels_are_refused_where_the_datatype_cannot_hold_them_and_kept_in_every_integer_type(self):
        labels = np.zeros((6, 6, 6), np.int32)
        labels[1:3, 1:3, 1:3] = 1000
        labels[3:5, 3:5, 3:5] = 7
        source = save(self.path("labels.nii"), labels)
        line = self.fails("reslice", source, "--like", source, "--hold", "label", "--datatype", "uint8", "-o",
                          self.path("o.nii"))
        self.assertEqual(line, f"volaccess: {source}: --hold label: the labels run from 0 to 1000, which uint8 "
                               "cannot hold exactly; another scaling would invent labels: choose --datatype source "
                               "or a wider type")
        self.assertFalse(os.path.exists(self.path("o.nii")))
        for dtype in (np.int64, np.uint16, np.int8):
            with self.subTest(dtype=dtype):
                source = save(self.path("l.nii"), (labels % 100).astype(dtype))
                self.ok("reslice", source, "--like", source, "--hold", "label", "-o", self.path("o.nii"))
                self.assertTrue(np.array_equal(load(self.path("o.nii")), labels % 100))

    def test_an_image_whose_qform_and_sform_disagree_draws_a_note(self):
        affine = np.diag([2.0, 2.0, 2.0, 1.0])
        shifted = affine.copy()
        shifted[0, 3] = 3
        both = save(self.path("both.nii"), np.zeros((4, 4, 4), np.float32), qform=(affine, 1), sform=(shifted, 1))
        out = self.ok_err("info", both)
        self.assertIn(f"volaccess: note: {both} has a qform and an sform that place its corners up to 3 mm apart: "
                      "the sform is used", out)
        agreeing = save(self.path("same.nii"), np.zeros((4, 4, 4), np.float32), qform=(affine, 1),
                        sform=(affine, 1))
        self.assertNotIn("qform and an sform", self.ok_err("info", agreeing))

    def test_an_affine_far_away_is_not_singular(self):
        far = self.path("far.txt")
        with open(far, "w") as f:
            f.write("1 0 0 5e12\n0 1 0 0\n0 0 1 0\n0 0 0 1\n")
        out = self.path("o.nii")
        self.ok("reslice", self.image, "--like", self.image, "--affine", far, "--quiet", "-o", out)
        self.assertFalse(load(out).any())

    def ok_err(self, *args):
        """Runs the program, which must succeed; returns its stderr."""
        code, _, err = run(*args)
        self.assertEqual(code, 0, err)
        return err


if __name__ == "__main__":
    main_if_run()
