"""The other formats users hold: NRRD and MetaImage files written by ITK's
own writers (../data/itk_formats, from tests/tools/itk/make_format_references.cpp,
with ITK's reading of every voxel), MGH/MGZ written by nibabel, the
program's own writers of each, and ITK's HDF5 transform files."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "itk_formats")
ITK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "itk")
RAS_TO_LPS = np.array([-1.0, -1.0, 1.0])


def data(name):
    return os.path.join(DATA, name)


class FormatTest(ProgramTest):
    def info(self, image):
        """The 1-based voxel-to-world matrix and the volume count `info` prints."""
        lines = self.ok("info", image).splitlines()
        start = next(i for i, line in enumerate(lines) if line.startswith("matrix:"))
        matrix = np.array([[float(v) for v in lines[start + 1 + r].split()] for r in range(4)])
        volumes = int(next(line for line in lines if line.startswith("dimensions:")).split(",")[1].split()[0])
        return matrix, volumes

    def voxel_values(self, image, indices, volume):
        points = [np.asarray(i, float) + 1 for i in indices]
        return np.array([v[0] for v in self.samples(image, points, "--hold", "0", "--volume", str(volume))])


class ItkWritten(FormatTest):
    def test_every_voxel_has_itks_value_and_world_position(self):
        files = ["image.nrrd", "detached_nrrd.nhdr", "image.mha", "detached_meta.mhd", "series.nrrd", "series.mha"]
        for name in files:
            with self.subTest(file=name):
                rows = np.loadtxt(data("voxels_" + name + ".txt"))
                rank = rows.shape[1] - 4
                matrix, volumes = self.info(data(name))
                self.assertEqual(volumes, 1 if rank == 3 else int(rows[:, 3].max()) + 1)
                ijk = rows[:, :3]
                world = (matrix[:3, :3] @ (ijk + 1).T).T + matrix[:3, 3]
                np.testing.assert_allclose(world * RAS_TO_LPS, rows[:, rank:rank + 3], rtol=0, atol=1e-12)
                for t in range(volumes):
                    here = rows[:, 3] == t if rank == 4 else np.ones(len(rows), bool)
                    np.testing.assert_array_equal(self.voxel_values(data(name), ijk[here], t + 1), rows[here, -1])

    def test_a_series_written_in_each_format_reads_back_voxel_for_voxel(self):
        rows = np.loadtxt(data("voxels_series.mha.txt"))
        for out in ("s.nrrd", "s.mha", "s.mgz"):
            with self.subTest(out=out):
                self.ok("reslice", data("series.mha"), "--like", data("series.mha"), "--hold", "0", "--quiet",
                        "-o", self.path(out))
                for t in range(3):
                    here = rows[:, 3] == t
                    np.testing.assert_array_equal(self.voxel_values(self.path(out), rows[here, :3], t + 1),
                                                  rows[here, -1])


class NibabelMgh(FormatTest):
    def test_every_type_and_frame_reads_as_nibabel_reads_it(self):
        import nibabel as nib
        affine = np.array([[-1.1, 0.05, 0.0, 12.0], [0.0, 0.1, 1.3, -20.0], [0.02, -0.95, 0.1, 31.0], [0, 0, 0, 1]])
        values = np.arange(4 * 3 * 5 * 2).reshape(4, 3, 5, 2, order="F") - 40
        for dtype, suffix in ((np.uint8, ".mgh"), (np.int16, ".mgz"), (np.int32, ".mgh"), (np.float32, ".mgz")):
            with self.subTest(dtype=dtype.__name__):
                stored = (values + 40 if dtype == np.uint8 else values * 1.25 if dtype == np.float32 else values)
                path = self.path("v" + suffix)
                nib.save(nib.MGHImage(stored.astype(dtype), affine), path)
                image = nib.load(path)
                matrix, volumes = self.info(path)
                self.assertEqual(volumes, 2)
                ijk = np.indices(values.shape[:3]).reshape(3, -1).T
                theirs = nib.affines.apply_affine(image.affine, ijk)
                ours = (matrix[:3, :3] @ (ijk + 1).T).T + matrix[:3, 3]
                # nibabel forms the voxel sizes times the cosines in float32.
                np.testing.assert_allclose(ours, theirs, rtol=0, atol=1e-4)
                data_ = np.asarray(image.dataobj)
                for t in range(2):
                    np.testing.assert_array_equal(self.voxel_values(path, ijk, t + 1),
                                                  data_[ijk[:, 0], ijk[:, 1], ijk[:, 2], t])


class Writers(FormatTest):
    def labels(self):
        import nibabel as nib
        labels = np.zeros((20, 22, 24), np.int32)
        labels[5:15, 6:16, 7:17] = 17
        labels[8:12, 8:12, 8:12] = 53
        labels[2:4, 2:4, 2:4] = 2
        affine = np.array([[-1.0, 0, 0, 10], [0, 0, 1, -12], [0, -1, 0, 11], [0, 0, 0, 1]])
        aseg = self.path("aseg.mgz")
        nib.save(nib.MGHImage(labels, affine), aseg)
        native = self.path("native.nii.gz")
        grid = np.array([[1.3, 0.1, 0, -9], [0, 1.3, 0, -10], [0, 0, 1.3, -11], [0, 0, 0, 1]])
        nib.save(nib.Nifti1Image(np.zeros((15, 16, 17), np.float32), grid), native)
        return aseg, native

    def test_a_label_map_comes_back_as_mgz_with_its_labels_type_and_grid(self):
        import nibabel as nib
        aseg, native = self.labels()
        for out in ("labels.mgz", "labels.nii.gz"):
            self.ok("reslice", aseg, "--like", native, "--hold", "label", "-o", self.path(out))
        mgz, nii = nib.load(self.path("labels.mgz")), nib.load(self.path("labels.nii.gz"))
        self.assertEqual(mgz.get_data_dtype(), np.dtype(">i4"))
        np.testing.assert_array_equal(np.asarray(mgz.dataobj), np.asarray(nii.dataobj))
        self.assertEqual(set(np.unique(np.asarray(mgz.dataobj))), {0, 2, 17, 53})
        np.testing.assert_allclose(mgz.affine, nib.load(native).affine, rtol=0, atol=1e-5)

    def test_nrrd_and_metaimage_outputs_read_back_with_their_grid_and_values(self):
        aseg, native = self.labels()
        self.ok("reslice", aseg, "--like", native, "--hold", "1", "--datatype", "float32", "-o", self.path("o.nii"))
        expected_matrix, _ = self.info(self.path("o.nii"))
        ijk = np.indices((15, 16, 17)).reshape(3, -1).T
        expected = self.voxel_values(self.path("o.nii"), ijk, 1)
        for out in ("o.nrrd", "o.nhdr", "o.mha", "o.mhd", "o.mgh"):
            with self.subTest(out=out):
                self.ok("reslice", aseg, "--like", native, "--hold", "1", "--datatype", "float32", "-o", self.path(out))
                matrix, _ = self.info(self.path(out))
                np.testing.assert_allclose(matrix, expected_matrix, rtol=0, atol=1e-5)
                np.testing.assert_array_equal(self.voxel_values(self.path(out), ijk, 1), expected)
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.endswith(".raw")), ["o.raw"])

    def test_a_scaled_integer_output_is_refused_where_the_format_holds_no_scaling(self):
        aseg, native = self.labels()
        line = self.fails("reslice", aseg, "--like", native, "--hold", "1", "--datatype", "int16", "--background",
                          "0.5", "-o", self.path("o.nrrd"))
        self.assertIn("o.nrrd: this format holds no scale and offset", line)
        self.assertEqual(sorted(os.listdir(self.dir)), ["aseg.mgz", "native.nii.gz"])


class Hdf5Transforms(FormatTest):
    def resliced(self, name, *transforms):
        """The output's voxels; its description names the files and differs."""
        import nibabel as nib
        out = self.path(name)
        args = []
        for t in transforms:
            args += ["--transform", t]
        self.ok("reslice", os.path.join(ITK, "source.nii.gz"), "--like", os.path.join(ITK, "reference.nii.gz"),
                "--datatype", "float64", "-o", out, *args)
        return np.asarray(nib.load(out).dataobj)

    def test_an_h5_composite_gives_the_bytes_of_its_transforms_as_separate_files(self):
        separate = self.resliced("a.nii", data("small_field.nii.gz"), data("small_affine.txt"))
        np.testing.assert_array_equal(self.resliced("b.nii", data("composite.h5")), separate)
        self.assertFalse(np.array_equal(self.resliced("c.nii", data("small_affine.txt")), separate))

    def test_an_h5_affine_inverts_as_its_text_file_does(self):
        text = self.resliced("a.nii", data("small_affine.txt") + ",inverse")
        np.testing.assert_array_equal(self.resliced("b.nii", data("small_affine.h5") + ",inverse"), text)
        self.assertFalse(np.array_equal(self.resliced("c.nii", data("small_affine.h5")), text))


if __name__ == "__main__":
    main_if_run()
