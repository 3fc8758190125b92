"""Reslice as registration pipelines use it, checked against ITK's own
resampling of the same transform files (references in ../data/itk, written
by tests/tools/itk/make_itk_references.cpp), and the label, series, clip,
mask, header and point-table behaviour."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "itk")

# The transform words of each ITK case, as given to --transform.
ITK_CASES = {
    "affine_mat": ["affine.mat"],
    "euler": ["euler.txt"],
    "versor_float": ["versor_float.txt"],
    "similarity": ["similarity.txt"],
    "composite_file": ["composite.txt"],
    "chain": ["affine.mat", "euler.txt"],
    "inverse": ["affine.mat,inverse"],
    "field_affine": ["field.nii.gz", "affine.mat"],
}

# Agreement asked of the comparison, as a share of the source's value range.
TOLERANCE = 1e-6

LPS = np.diag([-1.0, -1.0, 1.0, 1.0])


def data(name):
    return os.path.join(DATA, name)


def load(path):
    import nibabel as nib
    return np.asarray(nib.load(path).dataobj)


def save(path, values, affine=None):
    import nibabel as nib
    nib.save(nib.Nifti1Image(values, np.eye(4) if affine is None else affine), path)
    return path


def header(path):
    import nibabel as nib
    return nib.load(path).header


def transform_args(words):
    args = []
    for w in words:
        args += ["--transform", data(w)]
    return args


class PipelineTest(ProgramTest):
    def reslice(self, source, out_name, *options, reference=None):
        out = self.path(out_name)
        self.ok("reslice", source, "--like", reference or data("reference.nii.gz"), "-o", out, *options)
        return out

    def source_range(self):
        src = load(data("source.nii.gz"))
        return float(src.max() - src.min())

    def assert_agrees_with_itk(self, ours, case, scale=1.0):
        """Inside both volumes the values agree; on the rim band where only
        ITK still interpolates (it holds the rim value half a voxel beyond
        the outer voxel centres, the volume library 0.05 voxel) ours is the
        background; outside both, both are."""
        itk = load(data("itk_" + case + ".nii.gz")).astype(np.float64) * scale
        domain = load(data("domain_" + case + ".nii.gz"))
        inside = domain == 2
        self.assertGreater(inside.sum(), domain.size // 4, "too few voxels inside to compare")
        worst = np.abs(ours - itk)[inside].max() / (self.source_range() * scale)
        self.assertLess(worst, TOLERANCE, case)
        np.testing.assert_array_equal(ours[domain == 1], 0)
        np.testing.assert_array_equal(ours[domain == 0], 0)
        np.testing.assert_array_equal(itk[domain == 0], 0)
        return worst


class ItkAgreement(PipelineTest):
    def test_every_transform_kind_agrees_with_itk_inside_the_volume(self):
        for case, words in ITK_CASES.items():
            with self.subTest(case=case):
                out = self.reslice(data("source.nii.gz"), case + ".nii", "--datatype", "float64",
                                   *transform_args(words))
                self.assert_agrees_with_itk(load(out), case)

    def test_comparison_catches_a_reversed_chain_and_a_missing_inverse(self):
        # The same files in the wrong order or direction move voxels by
        # millimetres: the comparison above would fail on such errors.
        wrong = {"chain": ["euler.txt", "affine.mat"], "inverse": ["affine.mat"],
                 "field_affine": ["affine.mat", "field.nii.gz"]}
        for case, words in wrong.items():
            with self.subTest(case=case):
                out = self.reslice(data("source.nii.gz"), case + ".nii", "--datatype", "float64",
                                   *transform_args(words))
                itk = load(data("itk_" + case + ".nii.gz"))
                inside = (load(data("domain_" + case + ".nii.gz")) == 2) & (load(out) != 0)
                self.assertGreater(np.abs(load(out) - itk)[inside].max() / self.source_range(), 1e-2)


    def test_field_labels_clip_and_mask_give_the_same_bytes_with_any_thread_count(self):
        import nibabel as nib
        ref = nib.load(data("reference.nii.gz"))
        mask = np.ones(ref.shape, np.uint8)
        mask[:, :4] = 0
        mask_path = self.path("mask.nii")
        nib.save(nib.Nifti1Image(mask, ref.affine), mask_path)
        chain = transform_args(["field.nii.gz", "affine.mat"])
        for options in (["--hold", "label"], ["--hold", "-4", "--clip", "--mask", mask_path]):
            with self.subTest(options=options):
                outputs = [self.reslice(data("source.nii.gz"), f"t{n}.nii", "--threads", str(n), *options, *chain)
                           for n in (1, 3)]
                with open(outputs[0], "rb") as one, open(outputs[1], "rb") as three:
                    self.assertEqual(one.read(), three.read())


class Series(PipelineTest):
    def series(self):
        import nibabel as nib
        src = nib.load(data("source.nii.gz"))
        volumes = np.stack([np.asarray(src.dataobj) * (t + 1) for t in range(3)], axis=-1).astype(np.float32)
        img = nib.Nifti1Image(volumes, src.affine)
        img.header.set_xyzt_units("mm", "sec")
        img.header["pixdim"][4] = 2.5
        img.header.set_intent("time series")
        path = self.path("series.nii.gz")
        nib.save(img, path)
        return path

    def test_a_series_is_resliced_volume_by_volume_with_its_time_kept(self):
        out = self.reslice(self.series(), "s.nii.gz", "--datatype", "float64",
                           *transform_args(ITK_CASES["field_affine"]))
        values = load(out)
        self.assertEqual(values.shape, (18, 16, 12, 3))
        for t in range(3):
            self.assert_agrees_with_itk(values[..., t], "field_affine", scale=t + 1)
        h = header(out)
        self.assertEqual(float(h["pixdim"][4]), 2.5)
        self.assertEqual(h.get_xyzt_units(), ("mm", "sec"))
        self.assertEqual(int(h["intent_code"]), 2001)

    def test_volume_picks_one_volume_of_the_series(self):
        series = self.series()
        whole = load(self.reslice(series, "all.nii", *transform_args(["euler.txt"])))
        second = load(self.reslice(series, "two.nii", "--volume", "2", *transform_args(["euler.txt"])))
        self.assertEqual(second.shape, (18, 16, 12))
        np.testing.assert_array_equal(second, whole[..., 1])


def flirt_scaled(affine, shape, zooms):
    """FLIRT's coordinates: voxel index times voxel size, x mirrored when
    the voxel-to-world matrix has a positive determinant."""
    s = np.diag([zooms[0], zooms[1], zooms[2], 1.0])
    if np.linalg.det(affine[:3, :3]) > 0:
        s[0, 0] = -zooms[0]
        s[0, 3] = (shape[0] - 1) * zooms[0]
    return s


class Fsl(PipelineTest):
    def write_matrix(self, name, m):
        path = self.path(name)
        with open(path, "w") as f:
            for row in m:
                f.write("  ".join(repr(float(v)) for v in row) + "\n")
        return path

    def ramp(self, name, affine):
        shape = (9, 8, 7)
        i, j, k = np.meshgrid(*[np.arange(n, dtype=np.float64) for n in shape], indexing="ij")
        return save(self.path(name), 10 * i + 100 * j + 1000 * k, affine)

    def test_a_flirt_shift_along_x_moves_the_other_way_in_a_positive_determinant_image(self):
        # One voxel size of FLIRT x translation: output voxel i shows source
        # voxel i + 1 when FLIRT mirrors x (determinant > 0), i - 1 when not;
        # along y nothing is mirrored, so it is always j - 1.
        cases = [("positive", np.diag([2.0, 2.0, 2.0, 1.0]), +1),
                 ("negative", np.diag([-2.0, 2.0, 2.0, 1.0]), -1)]
        shift_x = np.eye(4)
        shift_x[0, 3] = 2.0
        shift_y = np.eye(4)
        shift_y[1, 3] = 2.0
        for label, affine, step in cases:
            with self.subTest(determinant=label):
                image = self.ramp(label + ".nii", affine)
                src = load(image)
                out = load(self.reslice(image, label + "x.nii", "--fsl", self.write_matrix("x.mat", shift_x),
                                        "--hold", "0", reference=image))
                inner = slice(1, -1)
                np.testing.assert_array_equal(out[inner], src[1 + step:src.shape[0] - 1 + step])
                out = load(self.reslice(image, label + "y.nii", "--fsl", self.write_matrix("y.mat", shift_y),
                                        "--hold", "0", reference=image))
                np.testing.assert_array_equal(out[:, 1:], src[:, :-1])

    def test_a_flirt_matrix_of_the_itk_affine_agrees_with_itk(self):
        import nibabel as nib
        import scipy.io
        mat = scipy.io.loadmat(data("affine.mat"))
        params = mat["AffineTransform_double_3_3"].ravel()
        centre = mat["fixed"].ravel()
        a = params[:9].reshape(3, 3)
        world_lps = np.eye(4)
        world_lps[:3, :3] = a
        world_lps[:3, 3] = params[9:] + centre - a @ centre
        world = LPS @ world_lps @ LPS  # output world point -> source world point, RAS
        src = nib.load(data("source.nii.gz"))
        ref = nib.load(data("reference.nii.gz"))
        self.assertGreater(np.linalg.det(src.affine[:3, :3]), 0)
        self.assertLess(np.linalg.det(ref.affine[:3, :3]), 0)
        s_src = flirt_scaled(src.affine, src.shape, src.header.get_zooms())
        s_ref = flirt_scaled(ref.affine, ref.shape, ref.header.get_zooms())
        flirt = s_ref @ np.linalg.inv(ref.affine) @ np.linalg.inv(world) @ src.affine @ np.linalg.inv(s_src)
        out = self.reslice(data("source.nii.gz"), "fsl.nii", "--datatype", "float64", "--fsl",
                           self.write_matrix("flirt.mat", flirt))
        self.assert_agrees_with_itk(load(out), "affine_mat")


class Labels(PipelineTest):
    def atlas(self):
        import nibabel as nib
        src = nib.load(data("source.nii.gz"))
        i, j, k = np.meshgrid(*[np.arange(n) for n in src.shape], indexing="ij")
        labels = (1 + i // 5 + 4 * (j // 6) + 12 * (k // 8)).astype(np.int16)
        labels[:2] = 0
        path = self.path("atlas.nii.gz")
        nib.save(nib.Nifti1Image(labels, src.affine), path)
        return path, labels

    def test_labels_under_a_rotation_are_only_the_atlas_labels_and_all_survive(self):
        path, labels = self.atlas()
        out = self.reslice(path, "l.nii", "--hold", "label", *transform_args(["euler.txt"]), reference=path)
        got = load(out)
        self.assertEqual(got.dtype, np.int16)
        self.assertTrue(set(np.unique(got)) <= set(np.unique(labels)))
        self.assertEqual(set(np.unique(got)), set(np.unique(labels)))
        trilinear = load(self.reslice(path, "t.nii", *transform_args(["euler.txt"]), reference=path))
        self.assertFalse(set(np.unique(trilinear)) <= set(np.unique(labels)), "trilinear should invent values")

    def test_labels_on_their_own_grid_come_back_unchanged(self):
        path, labels = self.atlas()
        np.testing.assert_array_equal(load(self.reslice(path, "same.nii", "--hold", "label", reference=path)),
                                      labels)

    def test_sample_takes_the_heavier_label_and_the_smaller_one_on_a_tie(self):
        values = np.zeros((2, 1, 1), np.int16)
        values[0], values[1] = 7, 3
        path = save(self.path("two.nii"), values)
        rows = self.samples(path, [(1.5, 1, 1), (1.4, 1, 1), (1.6, 1, 1), (3, 1, 1)], "--hold", "label",
                            "--background", "-1")
        self.assertEqual([r[0] for r in rows], [3, 7, 3, -1])


class Values(PipelineTest):
    def step_image(self):
        values = np.zeros((16, 6, 6), np.float32)
        values[8:] = 100
        return save(self.path("step.nii"), values)

    def shift_file(self, dx):
        path = self.path("shift.txt")
        with open(path, "w") as f:
            f.write("#Insight Transform File V1.0\n#Transform 0\nTransform: TranslationTransform_double_3_3\n"
                    f"Parameters: {dx} 0 0\nFixedParameters:\n")
        return path

    def test_clip_keeps_sinc_ringing_inside_the_touched_voxels(self):
        step = self.step_image()
        args = ["--hold", "-5", "--transform", self.shift_file(0.37), "--datatype", "float64"]
        ringing = load(self.reslice(step, "r.nii", *args, reference=step))
        clipped = load(self.reslice(step, "c.nii", *args, "--clip", reference=step))
        self.assertLess(ringing.min(), -0.5)
        self.assertGreater(ringing.max(), 100.5)
        self.assertGreaterEqual(clipped.min(), 0)
        self.assertLessEqual(clipped.max(), 100)
        # Values already within the step's range move by rounding at most
        # (a flat run of 100 sums to 100 give or take an ulp, then clamps).
        within = (ringing >= 0) & (ringing <= 100)
        np.testing.assert_allclose(clipped[within], ringing[within], rtol=0, atol=1e-9)

    def test_mask_sets_the_background_outside_and_leaves_the_rest(self):
        ref = data("reference.nii.gz")
        import nibabel as nib
        r = nib.load(ref)
        mask = np.zeros(r.shape, np.uint8)
        mask[3:12, 2:, :7] = 5
        mask_path = self.path("mask.nii.gz")
        nib.save(nib.Nifti1Image(mask, r.affine), mask_path)
        plain = load(self.reslice(data("source.nii.gz"), "p.nii", *transform_args(["euler.txt"])))
        masked = load(self.reslice(data("source.nii.gz"), "m.nii", "--mask", mask_path, "--background", "-7",
                                   *transform_args(["euler.txt"])))
        np.testing.assert_array_equal(masked[mask == 0], -7)
        inside = (mask != 0) & (plain != 0)
        np.testing.assert_array_equal(masked[inside], plain[inside])

    def test_output_header_keeps_both_forms_and_records_the_run(self):
        import nibabel as nib
        shape = (7, 6, 5)
        ref = nib.Nifti1Image(np.zeros(shape, np.uint8), None)
        q = np.diag([-2.0, 2.0, 2.0, 1.0])
        q[:3, 3] = [6, -5, 3]
        s = np.array([[0, -2.0, 0, 9], [2.0, 0, 0, -4], [0, 0, 2.5, 1], [0, 0, 0, 1]])
        ref.set_qform(q, code=1)
        ref.set_sform(s, code=4)
        ref.header.set_xyzt_units("mm", "msec")
        ref_path = self.path("ref.nii")
        nib.save(ref, ref_path)
        out = self.reslice(data("source.nii.gz"), "h.nii", *transform_args(["affine.mat", "euler.txt"]),
                           reference=ref_path)
        img = nib.load(out)
        np.testing.assert_allclose(img.get_qform(), nib.load(ref_path).get_qform(), atol=1e-6)
        np.testing.assert_allclose(img.get_sform(), s, atol=1e-6)
        self.assertEqual((int(img.header["qform_code"]), int(img.header["sform_code"])), (1, 4))
        self.assertEqual(img.header.get_xyzt_units()[0], "mm")
        text = img.header["descrip"].tobytes().rstrip(b"\0").decode()
        self.assertIn("reslice", text)
        self.assertIn("affine.mat", text)
        self.assertIn("euler.txt", text)
        values = np.asarray(img.dataobj)
        self.assertEqual(float(img.header["cal_min"]), float(values.min()))
        self.assertEqual(float(img.header["cal_max"]), float(values.max()))


class Points(PipelineTest):
    def test_lps_table_points_sample_the_voxels_they_name(self):
        import nibabel as nib
        src = nib.load(data("source.nii.gz"))
        ijk = np.array([[0, 0, 0], [3, 4, 5], [19, 17, 15], [10, 2, 7]])
        ras = (src.affine @ np.c_[ijk, np.ones(len(ijk))].T).T
        lps = (LPS @ ras.T).T[:, :3]
        table = self.path("points.csv")
        with open(table, "w") as f:
            f.write('label,X,Y,z,"note, quoted"\n')
            for n, p in enumerate(lps):
                f.write(f'p{n},{p[0]!r},{p[1]!r},{p[2]!r},"a, b"\n')
        out = self.ok("sample", data("source.nii.gz"), "--points", table, "--coords", "world", "--lps",
                      "--hold", "0").splitlines()
        self.assertEqual(out[0], 'label,X,Y,z,"note, quoted",value')
        expected = np.asarray(src.dataobj)[ijk[:, 0], ijk[:, 1], ijk[:, 2]]
        for n, line in enumerate(out[1:]):
            self.assertTrue(line.startswith(f"p{n},"))
            self.assertTrue(line.endswith(f'"a, b",{float(expected[n])!r}') or
                            float(line.rsplit(",", 1)[1]) == float(expected[n]))
        as_ras = self.ok("sample", data("source.nii.gz"), "--points", table, "--coords", "world", "--hold", "0")
        self.assertNotEqual(as_ras.splitlines()[1:], out[1:], "LPS points read as RAS must land elsewhere")

    def test_gradient_columns_follow_the_value(self):
        table = self.path("g.csv")
        with open(table, "w") as f:
            f.write("x,y,z\n3,4,5\n")
        out = self.ok("sample", data("source.nii.gz"), "--points", table, "--gradient").splitlines()
        self.assertEqual(out[0], "x,y,z,value,dx,dy,dz")
        self.assertEqual(len(out[1].split(",")), 7)

    def test_a_table_without_a_z_column_is_refused(self):
        table = self.path("bad.csv")
        with open(table, "w") as f:
            f.write("x,y,w\n1,2,3\n")
        self.assertIn("'z'", self.fails("sample", data("source.nii.gz"), "--points", table))


class TransformErrors(PipelineTest):
    def test_bad_transform_inputs_are_refused_with_their_names(self):
        junk = self.path("junk.bin")
        with open(junk, "wb") as f:
            f.write(b"\x07" * 64)
        truncated = self.path("cut.mat")
        with open(data("affine.mat"), "rb") as f, open(truncated, "wb") as g:
            g.write(f.read()[:60])
        unknown = self.path("bspline.txt")
        with open(unknown, "w") as f:
            f.write("#Insight Transform File V1.0\nTransform: BSplineTransform_double_3_3\nParameters: 1\n")
        cases = [
            (["--transform", junk], "is not a transform"),
            (["--transform", truncated], "truncated"),
            (["--transform", unknown], "not supported"),
            (["--transform", data("field.nii.gz") + ",inverse"], "cannot be inverted"),
            (["--transform", data("source.nii.gz")], "not a displacement field"),
        ]
        for options, words in cases:
            with self.subTest(options=options):
                line = self.fails("reslice", data("source.nii.gz"), "--like", data("reference.nii.gz"), "-o",
                                  self.path("o.nii"), *options)
                self.assertIn(words, line)
                self.assertFalse(os.path.exists(self.path("o.nii")))

    def test_conflicting_options_are_usage_errors(self):
        cases = [
            ("reslice", data("source.nii.gz"), "--like", data("reference.nii.gz"), "-o", self.path("o.nii"),
             "--transform", data("euler.txt"), "--fsl", data("euler.txt")),
            ("sample", data("source.nii.gz"), "--lps"),
            ("sample", data("source.nii.gz"), "--hold", "label", "--gradient"),
            ("slice", data("source.nii.gz"), "--axial", "2", "--hold", "label", "-o", self.path("s.png")),
        ]
        for args in cases:
            with self.subTest(args=args[:3]):
                self.fails(*args, status=2)


if __name__ == "__main__":
    main_if_run()
