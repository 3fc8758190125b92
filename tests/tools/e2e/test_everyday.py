"""What a new user does on the first day: reslice onto new voxel sizes and
into integer types, sample tables of points, draw pictures of the middle
planes in world orientation, with the notes that point out the usual
mistakes."""

import os
import re
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run, run  # noqa: E402
import niftiwrite  # noqa: E402
from test_slice import read_png  # noqa: E402


def oblique(sizes=(1.0, 1.0, 1.0), degrees=20, origin=(-20.0, -15.0, -10.0)):
    a = np.radians(degrees)
    m = np.eye(4)
    m[:3, :3] = np.array([[1, 0, 0], [0, np.cos(a), -np.sin(a)], [0, np.sin(a), np.cos(a)]]) @ np.diag(sizes)
    m[:3, 3] = origin
    return m


def save(path, data, affine=None, dtype=None):
    """A NIfTI-1 file written by nibabel, placed by an sform (code 1) unless
    affine is None (qform and sform codes 0)."""
    import nibabel as nib
    img = nib.Nifti1Image(np.asarray(data, dtype=dtype or data.dtype), None)
    if affine is not None:
        img.set_sform(affine, code=1)
        img.set_qform(affine, code=1)
    img.header.set_slope_inter(1, 0) if np.issubdtype(img.get_data_dtype(), np.integer) else None
    nib.save(img, path)
    return path


def ramp(shape, coeffs=(1.0, 10.0, 100.0)):
    """Values linear in the 0-based voxel indices: trilinear interpolation
    reproduces them anywhere between the outer voxel centres."""
    i, j, k = np.meshgrid(*[np.arange(n, dtype=float) for n in shape], indexing="ij")
    return coeffs[0] * i + coeffs[1] * j + coeffs[2] * k


def load(path):
    import nibabel as nib
    return nib.load(path)


class Grids(ProgramTest):
    def setUp(self):
        super().setUp()
        self.shape = (40, 30, 20)
        self.affine = oblique()
        self.source = save(self.path("src.nii"), ramp(self.shape), self.affine, np.float64)

    def test_voxel_size_covers_the_source_along_its_own_axes(self):
        out = self.path("r2.nii.gz")
        self.ok("reslice", self.source, "--voxel-size", "2", "-o", out)
        img = load(out)
        self.assertEqual(img.shape, (20, 15, 10))
        np.testing.assert_allclose(img.affine[:3, :3], self.affine[:3, :3] * 2, atol=1e-6)
        centre = lambda a, shape: a @ np.r_[(np.array(shape) - 1) / 2, 1]  # noqa: E731
        np.testing.assert_allclose(centre(img.affine, img.shape), centre(self.affine, self.shape), atol=1e-4)
        # Every output voxel within the outer source centres holds the ramp
        # at its own position in the source.
        ijk = np.array(np.meshgrid(*[np.arange(n) for n in img.shape], indexing="ij")).reshape(3, -1)
        src = (np.linalg.inv(self.affine) @ img.affine @ np.r_[ijk, np.ones((1, ijk.shape[1]))])[:3]
        inside = np.all((src >= 0) & (src <= np.array(self.shape)[:, None] - 1), axis=0)
        expected = np.array([1.0, 10.0, 100.0]) @ src
        got = np.asarray(img.dataobj).reshape(-1)
        self.assertGreater(inside.sum(), 1000)
        np.testing.assert_allclose(got[inside], expected[inside], atol=1e-3)

    def test_shape_and_three_voxel_sizes_make_an_explicit_grid_centred_on_the_source(self):
        out = self.path("s.nii")
        self.ok("reslice", self.source, "--voxel-size", "1,2,3", "--shape", "9,8,7", "-o", out)
        img = load(out)
        self.assertEqual(img.shape, (9, 8, 7))
        np.testing.assert_allclose(img.header.get_zooms(), (1, 2, 3), rtol=1e-6)
        np.testing.assert_allclose(img.affine @ [4, 3.5, 3, 1], self.affine @ [19.5, 14.5, 9.5, 1], atol=1e-4)

    def test_grid_options_that_do_not_go_together_are_usage_errors(self):
        cases = [("--shape", "4,4,4"), ("--like", self.source, "--voxel-size", "2"), ("--voxel-size", "0"),
                 ("--voxel-size", "1,2"), ("--voxel-size", "2", "--shape", "4,4")]
        for options in cases:
            with self.subTest(options=options):
                self.fails("reslice", self.source, *options, "-o", self.path("x.nii"), status=2)
        self.assertFalse(os.path.exists(self.path("x.nii")))

    def test_every_integer_type_stores_the_background_exactly(self):
        # A grid larger than the source: its rim lies outside and holds -7.
        options = ("--voxel-size", "2", "--shape", "24,19,14", "--background", "-7")
        self.ok("reslice", self.source, *options, "--datatype", "float64", "-o", self.path("f.nii"))
        exact = np.asarray(load(self.path("f.nii")).dataobj)
        rim = exact == -7
        self.assertGreater(rim.sum(), 100)
        for dtype in ["int8", "uint8", "int16", "uint16", "int32", "uint32", "float32", "source"]:
            with self.subTest(dtype=dtype):
                out = self.path(dtype + ".nii")
                self.ok("reslice", self.source, *options, "--datatype", dtype, "-o", out)
                img = load(out)
                expected_type = "float64" if dtype == "source" else dtype
                self.assertEqual(img.get_data_dtype(), np.dtype(expected_type))
                got = img.get_fdata(dtype=np.float64)
                np.testing.assert_array_equal(got[rim], -7.0)
                slope = img.dataobj.slope
                self.assertLessEqual(np.abs(got - exact).max(), abs(slope) / 2 * 1.0001 + 1e-4)

    def test_a_background_an_integer_type_cannot_hold_fails_with_the_reason(self):
        out = self.path("n.nii")
        line = self.fails("reslice", self.source, "--voxel-size", "2", "--background", "nan", "--datatype", "int16",
                          "-o", out)
        self.assertIn("the background nan cannot be stored in int16", line)
        self.assertFalse(os.path.exists(out))

    def test_an_integer_source_blended_draws_one_note_unless_quiet_or_nearest(self):
        labels = save(self.path("lab.nii"), np.arange(24).reshape(4, 3, 2) % 5, oblique(), np.int16)
        cases = [((), 1), (("--quiet",), 0), (("--hold", "nearest"), 0), (("--hold", "cubic"), 1)]
        for options, lines in cases:
            with self.subTest(options=options):
                code, _, err = run("reslice", labels, "--like", labels, *options, "-o", self.path("l.nii"))
                self.assertEqual(code, 0, err)
                self.assertEqual(len(err.splitlines()), lines, err)
                if lines:
                    self.assertIn("--hold label", err)
                    self.assertIn("--hold 0", err)
        code, _, err = run("reslice", self.source, "--like", self.source, "-o", self.path("f.nii"))
        self.assertEqual(err, "")

    def test_an_image_without_qform_or_sform_gets_a_note(self):
        bare = save(self.path("bare.nii"), np.ones((4, 4, 4)), None, np.float32)
        code, _, err = run("reslice", bare, "--voxel-size", "2", "-o", self.path("b.nii"))
        self.assertEqual(code, 0, err)
        self.assertIn("qform and sform codes 0", err)
        self.assertIn("voxel sizes alone", err)


class Points(ProgramTest):
    def setUp(self):
        super().setUp()
        self.ones = save(self.path("ones.nii"), np.ones((5, 4, 3)), oblique(), np.float64)

    def test_echo_starts_each_line_with_the_numbers_as_written(self):
        out = self.ok("sample", self.ones, "--echo", stdin="1.50,2,3\n# skipped\n  2 2.0 1e0\n")
        self.assertEqual(out, "1.50 2 3 1\n2 2.0 1e0 1\n")

    def test_outside_counts_agree_with_where_each_kernel_reaches(self):
        # Points across every edge: a constant image of ones reads 0 (the
        # background) exactly where the kernel does not reach.
        edge = [0.4, 0.5, 0.6, 0.94, 0.95, 0.96, 1.0, 2.5, 4.9, 5.0, 5.04, 5.05, 5.06, 5.4, 5.5, 5.6]
        points = [(x, 2.0, 2.0) for x in edge] + [(2.0, y, 2.0) for y in edge]
        text = "".join(f"{x!r} {y!r} {z!r}\n" for x, y, z in points)
        cases = [(hold, gradient) for hold in ["0", "1", "3", "4", "-3"] for gradient in ((), ("--gradient",))]
        for hold, gradient in cases:
            with self.subTest(hold=hold, gradient=gradient):
                code, out, err = run("sample", self.ones, "--hold", hold, *gradient, "--coords", "voxel1", stdin=text)
                self.assertEqual(code, 0, err)
                zeros = sum(1 for line in out.splitlines() if float(line.split()[0]) == 0)
                self.assertGreater(zeros, 0)
                self.assertEqual(err, f"volaccess: note: points outside {self.ones}: {zeros} of {len(points)} "
                                      f"(their values are the background, 0)\n")

    def test_every_point_outside_without_coords_suggests_world_coordinates(self):
        code, out, err = run("sample", self.ones, stdin="-20 -15 -10\n40 30 20\n")
        self.assertEqual((code, out), (0, "0\n0\n"))
        self.assertIn("every point lies outside", err)
        self.assertIn("--coords world", err)
        code, out, err = run("sample", self.ones, "--coords", "world", stdin="-20 -15 -10\n")
        self.assertEqual((code, out, err), (0, "1\n", ""))

    def test_a_4d_image_without_volume_prints_one_column_per_volume(self):
        data = np.stack([np.full((3, 3, 3), t * 10.0 + 1) for t in range(4)], axis=3)
        image = save(self.path("four.nii"), data, oblique(), np.float32)
        self.assertEqual(self.ok("sample", image, stdin="2 2 2\n"), "1 11 21 31\n")
        self.assertEqual(self.ok("sample", image, "--volume", "3", stdin="2 2 2\n"), "21\n")
        self.assertEqual(len(self.ok("sample", image, "--gradient", "--echo", stdin="2 2 2\n").split()), 3 + 4 * 4)

    def test_hold_names_give_the_same_values_as_their_codes(self):
        image = save(self.path("r.nii"), np.sin(ramp((8, 8, 8), (0.3, 0.7, 1.1))), oblique(), np.float64)
        text = "2.3 4.1 5.7\n3.5 3.5 3.5\n1.2 7.9 4.4\n"
        for name, code in [("nearest", "0"), ("linear", "1"), ("cubic", "3"), ("sinc", "-3")]:
            with self.subTest(name=name):
                self.assertEqual(self.ok("sample", image, "--hold", name, stdin=text),
                                 self.ok("sample", image, "--hold", code, stdin=text))


class Pictures(ProgramTest):
    def setUp(self):
        super().setUp()
        self.data = ramp((6, 5, 4))
        self.image = save(self.path("v.nii"), self.data, oblique(), np.float64)

    def npy(self, *options):
        out = self.path("p.npy")
        self.ok("slice", self.image, *options, "-o", out)
        return np.load(out)

    def test_mid_and_fractional_planes_are_interpolated_between_voxels(self):
        np.testing.assert_array_equal(self.npy("--sagittal", "mid", "--hold", "0"), self.data[3, :, :])
        np.testing.assert_array_equal(self.npy("--coronal", "mid"), self.data[:, 2, :])
        np.testing.assert_allclose(self.npy("--axial", "mid"), (self.data[:, :, 1] + self.data[:, :, 2]) / 2)
        np.testing.assert_allclose(self.npy("--axial", "2.25"), self.data[:, :, 1] + 25)
        self.fails("slice", self.image, "--axial", "4.5", "-o", self.path("x.npy"), status=2)

    def test_size_zooms_a_plane_to_fit(self):
        got = self.npy("--axial", "1", "--size", "12x10", "--hold", "0")
        np.testing.assert_array_equal(got, np.repeat(np.repeat(self.data[:, :, 0], 2, axis=0), 2, axis=1))

    def test_world_planes_cut_an_oblique_image_in_square_millimetre_pixels(self):
        affine = oblique(sizes=(1.0, 1.0, 2.5), degrees=25)
        shape = (12, 10, 6)
        image = save(self.path("o.nii"), ramp(shape), affine, np.float64)
        out = self.path("w.npy")
        self.ok("slice", image, "--world", "--coronal", "mid", "-o", out)
        got = np.load(out)
        corners = affine @ np.array([[x, y, z, 1] for x in (-0.5, shape[0] - 0.5) for y in (-0.5, shape[1] - 0.5)
                                     for z in (-0.5, shape[2] - 0.5)]).T
        low, high = corners[:3].min(axis=1), corners[:3].max(axis=1)
        self.assertEqual(got.shape, tuple(int(np.ceil(e - 1e-9)) for e in (high - low)[[0, 2]]))
        # Pixel (i, j) lies at world x = low x + i - 0.5 (and z alike) on the plane y = middle.
        w, h = got.shape
        xs = (low[0] + high[0]) / 2 + np.arange(1, w + 1) - (w + 1) / 2
        zs = (low[2] + high[2]) / 2 + np.arange(1, h + 1) - (h + 1) / 2
        x, z = np.meshgrid(xs, zs, indexing="ij")
        world = np.stack([x, np.full_like(x, (low[1] + high[1]) / 2), z, np.ones_like(x)]).reshape(4, -1)
        src = (np.linalg.inv(affine) @ world)[:3]
        inside = np.all((src >= 0) & (src <= np.array(shape)[:, None] - 1), axis=0)
        self.assertGreater(inside.sum(), 50)
        np.testing.assert_allclose(got.reshape(-1)[inside], (np.array([1.0, 10.0, 100.0]) @ src)[inside], atol=1e-6)
        line = self.fails("slice", image, "--world", "--axial", "500", "-o", out, status=2)
        self.assertIn("lies outside the image: world z from", line)

    def test_letters_mark_the_edges_of_pictures_of_placed_images(self):
        image = save(self.path("big.nii"), ramp((64, 64, 3)), oblique(degrees=0), np.float64)
        plain, lettered = self.path("plain.png"), self.path("letters.png")
        self.ok("slice", image, "--axial", "2", "--no-letters", "-o", plain)
        self.ok("slice", image, "--axial", "2", "-o", lettered)
        a = np.array([list(r) for r in read_png(plain)[3]])
        b = np.array([list(r) for r in read_png(lettered)[3]])
        changed = np.argwhere(a != b)
        self.assertGreater(len(changed), 20)
        # Only near the four edges, halfway along them.
        near_edge = (changed.min(axis=1) < 12) | (changed.max(axis=1) > 51)
        self.assertTrue(near_edge.all())
        self.assertEqual(b.max(), 255)

    def test_labels_take_fixed_colours_whatever_else_the_image_holds(self):
        a = np.zeros((8, 8, 1))
        a[:4, :, 0], a[4:, :4, 0] = 3, 7
        b = np.zeros((8, 8, 1))
        b[:, :4, 0] = 7
        colours = []
        for name, data in (("a", a), ("b", b)):
            image = save(self.path(name + ".nii"), data, oblique(), np.int16)
            out = self.path(name + ".png")
            self.ok("slice", image, "--axial", "1", "--labels", "-o", out)
            width, height, bpp, rows = read_png(out)
            self.assertEqual((width, height, bpp), (8, 8, 3))
            pixel = lambda i, j: rows[height - j][3 * (i - 1):3 * i]  # noqa: E731
            colours.append({int(data[i - 1, j - 1, 0]): pixel(i, j) for i in range(1, 9) for j in range(1, 9)})
        self.assertEqual(colours[0][0], b"\0\0\0")
        self.assertEqual(colours[0][7], colours[1][7])
        self.assertNotEqual(colours[0][3], colours[0][7])
        self.fails("slice", self.image, "--axial", "1", "--labels", "-o", self.path("l.npy"), status=2)


class Help(ProgramTest):
    def test_every_first_day_item_is_in_the_help(self):
        cases = {
            (): ["nearest (0)", "linear (1)", "cubic (3", "B-spline", "sinc (-3)", "170", "factorials",
                 "0.5 <= c < d + 0.5", "0.95 <= c < d + 0.05", "0.95 <= c <= d + 0.05", "10%", "1e-5"],
            ("reslice",): ["--voxel-size MM", "--shape NX,NY,NZ", "int8, uint8, int16, uint16, int32, uint32",
                           "background exactly", "--quiet"],
            ("sample",): ["--echo", "one such column", "counted on standard error", "every volume"],
            ("slice",): ["mid", "--world", "square pixels", "zoomed to fit", "--labels", "L/R, A/P and S/I",
                         "--no-letters"],
        }
        for command, phrases in cases.items():
            text = self.ok(*command, "--help")
            for phrase in phrases:
                with self.subTest(command=command, phrase=phrase):
                    self.assertIn(phrase, re.sub(r"\s+", " ", text))


if __name__ == "__main__":
    main_if_run()
