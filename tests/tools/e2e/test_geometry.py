"""World coordinates and reslicing against nibabel's reading of the same
files: the program's matrix is nibabel's affine, and reslice output
carries the reference's affine and the chosen datatype."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402


def oblique_affine():
    a = np.radians(17)
    rot = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])
    m = np.eye(4)
    m[:3, :3] = rot @ np.diag([1.5, 2.0, 2.5])
    m[:3, 3] = [3.0, 1.0, 1.5]
    return m


def info_matrix(text):
    lines = text.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("matrix:"))
    return np.array([[float(v) for v in lines[start + 1 + r].split()] for r in range(4)])


class WorldCoordinates(ProgramTest):
    def make(self, name, use_qform, shape=(6, 5, 4)):
        import nibabel as nib
        data = np.arange(np.prod(shape), dtype=np.int16).reshape(shape, order="F")
        img = nib.Nifti1Image(data, None)
        if use_qform:
            img.set_qform(oblique_affine(), code=1)
            img.set_sform(None, code=0)
        else:
            img.set_sform(oblique_affine(), code=2)
            img.set_qform(None, code=0)
        nib.save(img, self.path(name))
        return self.path(name), nib.load(self.path(name))

    def test_world_points_of_voxel_centres_sample_those_voxels(self):
        for use_qform in (False, True):
            with self.subTest(qform=use_qform):
                path, img = self.make("w.nii", use_qform)
                ijk = np.array(np.meshgrid(*[np.arange(n) for n in img.shape], indexing="ij")).reshape(3, -1).T
                world = (img.affine @ np.c_[ijk, np.ones(len(ijk))].T).T[:, :3]
                got = np.array(self.samples(path, world, "--coords", "world", "--hold", "0"))[:, 0]
                expected = np.asarray(img.dataobj)[ijk[:, 0], ijk[:, 1], ijk[:, 2]]
                np.testing.assert_array_equal(got, expected)

    def test_info_matrix_is_nibabels_affine_for_one_based_voxels(self):
        for use_qform in (False, True):
            with self.subTest(qform=use_qform):
                path, img = self.make("m.nii", use_qform)
                shift = np.eye(4)
                shift[:3, 3] = -1
                np.testing.assert_allclose(info_matrix(self.ok("info", path)), img.affine @ shift, rtol=0,
                                           atol=1e-12)

    def test_gradient_of_a_linear_ramp_is_its_slope_per_voxel(self):
        shape = (8, 7, 6)
        i, j, k = np.meshgrid(*[np.arange(n, dtype=np.float64) for n in shape], indexing="ij")
        path = niftiwrite.write_nii(self.path("ramp.nii"), 2 * i + 3 * j + 5 * k, 64)
        rows = self.samples(path, [(3.0, 3.0, 3.0), (4.5, 2.25, 3.75)], "--gradient", "--hold", "1")
        self.assertEqual(rows[0], [2 * 2 + 3 * 2 + 5 * 2, 2.0, 3.0, 5.0])
        self.assertEqual(rows[1][1:], [2.0, 3.0, 5.0])


class Reslice(ProgramTest):
    def source_and_reference(self, ref_qform=False):
        import nibabel as nib
        shape = (10, 9, 8)
        data = (np.arange(np.prod(shape)) % 251).astype(np.int16).reshape(shape, order="F")
        src = nib.Nifti1Image(data, np.diag([2.0, 2.0, 2.0, 1.0]))
        src.header.set_slope_inter(0.5, 1.0)
        nib.save(src, self.path("src.nii"))
        ref = nib.Nifti1Image(np.zeros((7, 6, 5), np.uint8), None)
        if ref_qform:
            ref.set_qform(oblique_affine(), code=1)
            ref.set_sform(None, code=0)
        else:
            ref.set_sform(oblique_affine(), code=1)
        nib.save(ref, self.path("ref.nii.gz"))
        return nib.load(self.path("src.nii")), nib.load(self.path("ref.nii.gz"))

    def test_output_carries_the_references_affine_and_float32(self):
        import nibabel as nib
        for ref_qform in (False, True):
            with self.subTest(qform=ref_qform):
                _, ref = self.source_and_reference(ref_qform)
                self.ok("reslice", self.path("src.nii"), "--like", self.path("ref.nii.gz"),
                        "-o", self.path("out.nii.gz"))
                out = nib.load(self.path("out.nii.gz"))
                np.testing.assert_array_equal(out.affine, ref.affine)
                self.assertEqual(out.shape, ref.shape)
                self.assertEqual(out.get_data_dtype(), np.float32)

    def test_source_datatype_keeps_type_and_scaling(self):
        import nibabel as nib
        src, _ = self.source_and_reference()
        self.ok("reslice", self.path("src.nii"), "--like", self.path("src.nii"), "--datatype", "source",
                "--hold", "0", "-o", self.path("same.nii"))
        out = nib.load(self.path("same.nii"))
        self.assertEqual(out.get_data_dtype(), np.int16)
        np.testing.assert_array_equal(out.affine, src.affine)
        np.testing.assert_array_equal(np.asarray(out.dataobj.get_unscaled()), np.asarray(src.dataobj.get_unscaled()))
        self.assertEqual((out.dataobj.slope, out.dataobj.inter), (0.5, 1.0))

    def test_resliced_values_are_the_source_sampled_at_the_same_world_points(self):
        import nibabel as nib
        src, ref = self.source_and_reference()
        self.ok("reslice", self.path("src.nii"), "--like", self.path("ref.nii.gz"), "--datatype", "float64",
                "--hold", "1", "--background", "nan", "-o", self.path("out.nii"))
        out = nib.load(self.path("out.nii")).get_fdata()
        ijk = np.array(np.meshgrid(*[np.arange(n) for n in ref.shape], indexing="ij")).reshape(3, -1).T
        world = (ref.affine @ np.c_[ijk, np.ones(len(ijk))].T).T[:, :3]
        sampled = np.array(self.samples(self.path("src.nii"), world, "--coords", "world", "--background",
                                        "nan"))[:, 0]
        resliced = out[ijk[:, 0], ijk[:, 1], ijk[:, 2]]
        inside = ~np.isnan(sampled)
        self.assertGreater(inside.sum(), 50)
        np.testing.assert_array_equal(np.isnan(resliced), ~inside)
        np.testing.assert_allclose(resliced[inside], sampled[inside], rtol=0, atol=1e-9)

    def test_affine_file_moves_the_source(self):
        import nibabel as nib
        src, _ = self.source_and_reference()
        with open(self.path("shift.txt"), "w") as f:
            f.write("# two millimetres (one voxel) along x\n1 0 0 2\n0 1 0 0\n0 0 1 0\n0 0 0 1\n")
        self.ok("reslice", self.path("src.nii"), "--like", self.path("src.nii"), "--affine", self.path("shift.txt"),
                "--hold", "0", "--background", "-1", "-o", self.path("moved.nii"))
        moved = nib.load(self.path("moved.nii")).get_fdata()
        original = src.get_fdata()
        np.testing.assert_array_equal(moved[1:], original[:-1])
        np.testing.assert_array_equal(moved[0], -1)

    def test_no_progress_bar_when_stderr_is_not_a_terminal(self):
        self.source_and_reference()
        code, out, err = __import__("harness").run("reslice", self.path("src.nii"), "--like", self.path("src.nii"),
                                                  "-o", self.path("q.nii"))
        self.assertEqual((code, out, err), (0, "", ""))


if __name__ == "__main__":
    main_if_run()
