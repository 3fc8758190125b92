"""Images of all ten datatypes in both byte orders, written by the tests'
own writer and by nibabel: values at voxel centres equal the decoded
voxels exactly."""

import itertools
import os
import sys
import threading
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402

SHAPE = (5, 4, 3)
CENTRES = [(i + 1, j + 1, k + 1) for k in range(3) for j in range(4) for i in range(5)]


def decoded(data, slope=1.0, inter=0.0):
    flat = data.reshape(-1, order="F").astype(np.float64)
    return flat * slope + inter


class OwnWriter(ProgramTest):
    def check(self, path, expected, holds=("0",)):
        for hold in holds:
            got = np.array(self.samples(path, CENTRES, "--hold", hold))[:, 0]
            np.testing.assert_array_equal(got, expected, err_msg=f"{path} hold {hold}")

    def test_every_datatype_in_both_byte_orders_samples_exactly(self):
        for code, order in itertools.product(niftiwrite.DTYPES, "<>"):
            with self.subTest(code=code, order=order):
                data = niftiwrite.test_values(code, SHAPE)
                path = niftiwrite.write_nii(self.path(f"t{code}{order == '>'}.nii"), data, code, order)
                self.check(path, decoded(data))

    def test_trilinear_lagrange_and_sinc_give_exact_values_at_voxel_centres(self):
        for code, order in itertools.product((256, 1280, 64), "<>"):
            with self.subTest(code=code, order=order):
                data = niftiwrite.test_values(code, SHAPE)
                path = niftiwrite.write_nii(self.path(f"p{code}{order == '>'}.nii"), data, code, order)
                self.check(path, decoded(data), holds=("1", "3", "-4"))

    def test_scaled_voxels_give_slope_times_value_plus_intercept(self):
        for code, order in itertools.product((4, 512, 16), "<>"):
            with self.subTest(code=code, order=order):
                data = niftiwrite.test_values(code, SHAPE)
                path = niftiwrite.write_nii(self.path(f"s{code}.nii"), data, code, order, slope=0.5, inter=-3.0)
                self.check(path, decoded(data, 0.5, -3.0), holds=("0", "1", "2"))

    def test_info_reports_type_and_byte_order(self):
        data = niftiwrite.test_values(512, SHAPE)
        little = self.ok("info", niftiwrite.write_nii(self.path("l.nii"), data, 512, "<"))
        big = self.ok("info", niftiwrite.write_nii(self.path("b.nii"), data, 512, ">"))
        self.assertIn("datatype:    uint16 (code 512), little-endian\n", little)
        self.assertIn("datatype:    uint16 (code 512), big-endian (swapped on this machine)\n", big)
        self.assertIn("dimensions:  5 x 4 x 3, 1 volume\n", big)

    def test_compressed_pair_and_nifti2_images_sample_exactly(self):
        data = niftiwrite.test_values(8, SHAPE)
        expected = decoded(data)
        paths = [
            niftiwrite.write_nii(self.path("c.nii.gz"), data, 8, ">", compress=True),
            niftiwrite.write_pair(self.path("p"), data, 8, ">"),
            self.path("p.img"),
            niftiwrite.write_nii(self.path("v2.nii"), data, 8, ">", version=2),
        ]
        for path in paths:
            with self.subTest(path=os.path.basename(path)):
                self.check(path, expected, holds=("0",))

    def test_zero_based_voxel_points_are_shifted_by_one(self):
        data = niftiwrite.test_values(4, SHAPE)
        path = niftiwrite.write_nii(self.path("z.nii"), data, 4)
        zero_based = [(i - 1, j - 1, k - 1) for i, j, k in CENTRES]
        got = np.array(self.samples(path, zero_based, "--coords", "voxel0", "--hold", "0"))[:, 0]
        np.testing.assert_array_equal(got, decoded(data))

    def test_points_come_from_a_file_or_a_named_pipe(self):
        data = niftiwrite.test_values(2, SHAPE)
        path = niftiwrite.write_nii(self.path("u.nii"), data, 2)
        with open(self.path("pts.txt"), "w") as f:
            f.write("# first and last voxel\n1,1,1\n\n5 4 3\n")
        out = self.ok("sample", path, "--points", self.path("pts.txt"), "--hold", "0")
        self.assertEqual(out, f"{float(data[0, 0, 0]):.17g}\n{float(data[4, 3, 2]):.17g}\n")
        os.mkfifo(self.path("pipe"))
        writer = threading.Thread(target=lambda: open(self.path("pipe"), "w").write("5 4 3\n"))
        writer.start()
        piped = self.ok("sample", path, "--points", self.path("pipe"), "--hold", "0")
        writer.join()
        self.assertEqual(piped, out.splitlines()[1] + "\n")

    def test_volume_option_selects_one_volume_of_a_4d_image(self):
        data4 = niftiwrite.test_values(4, SHAPE + (3,))
        path = self.path("4d.nii")
        with open(path, "wb") as f:
            f.write(niftiwrite.nifti1_header(data4.shape, 4) + b"\0" * 4 + niftiwrite.voxel_bytes(data4, 4))
        for t in (1, 3):
            got = np.array(self.samples(path, CENTRES, "--hold", "0", "--volume", str(t)))[:, 0]
            np.testing.assert_array_equal(got, decoded(data4[..., t - 1]))
        self.assertIn("volume 3 at byte " + str(352 + 2 * 60 * 2), self.ok("info", path, "--volume", "3"))


class NibabelWriter(ProgramTest):
    def test_every_datatype_in_both_byte_orders_written_by_nibabel(self):
        import nibabel as nib
        for code, order in itertools.product(niftiwrite.DTYPES, "<>"):
            with self.subTest(code=code, order=order):
                data = niftiwrite.test_values(code, SHAPE)
                header = nib.Nifti1Header(endianness=order)
                header.set_data_dtype(data.dtype)
                img = nib.Nifti1Image(data, np.eye(4), header)
                img.header.set_slope_inter(1.0, 0.0)
                path = self.path(f"n{code}{order == '>'}.nii")
                nib.save(img, path)
                raw = np.asarray(nib.load(path).dataobj.get_unscaled())
                self.assertEqual(raw.dtype.byteorder in "<>=|", True)
                got = np.array(self.samples(path, CENTRES, "--hold", "0"))[:, 0]
                np.testing.assert_array_equal(got, decoded(raw))

    def test_scaled_int16_written_by_nibabel_matches_its_scaled_data(self):
        import nibabel as nib
        data = niftiwrite.test_values(4, SHAPE)
        img = nib.Nifti1Image(data, np.diag([2.0, 3.0, 4.0, 1.0]))
        img.header.set_slope_inter(0.25, 7.0)
        path = self.path("scaled.nii.gz")
        nib.save(img, path)
        back = nib.load(path)
        slope, inter = back.dataobj.slope, back.dataobj.inter
        expected = decoded(np.asarray(back.dataobj.get_unscaled()), slope, inter)
        got = np.array(self.samples(path, CENTRES, "--hold", "1"))[:, 0]
        np.testing.assert_array_equal(got, expected)


if __name__ == "__main__":
    main_if_run()
