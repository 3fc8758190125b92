"""Every bad input ends with one line on stderr naming the file (and the
line, for point files) and the reason, a non-zero status, and no output
file left under the requested name."""

import gzip
import os
import struct
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402

DATA = np.arange(24, dtype=np.int16).reshape((4, 3, 2), order="F")


class BadInput(ProgramTest):
    def image(self, name="ok.nii", **header):
        return niftiwrite.write_nii(self.path(name), DATA, 4, **header)

    def raw(self, name, blob):
        with open(self.path(name), "wb") as f:
            f.write(blob)
        return self.path(name)

    def header_with(self, dims=None, code=4, **fields):
        shape = DATA.shape
        return self.raw("h.nii", niftiwrite.nifti1_header(shape, code, dims=dims, **fields) + b"\0" * 4 +
                        niftiwrite.voxel_bytes(DATA, 4))

    def assert_no_files_but(self, *names):
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(names))

    def test_missing_file(self):
        p = self.path("none.nii")
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: cannot open: No such file or directory")

    @unittest.skipIf(os.geteuid() == 0, "root reads files whatever their permissions")
    def test_unreadable_file(self):
        p = self.image()
        os.chmod(p, 0)
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: cannot open: Permission denied")

    def test_directory(self):
        os.mkdir(self.path("d.nii"))
        self.assertEqual(self.fails("info", self.path("d.nii")), f"volaccess: {self.path('d.nii')}: is a directory")

    def test_truncated_header(self):
        p = self.raw("t.nii", open(self.image(), "rb").read()[:200])
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: truncated NIfTI-1 header: 200 of 348 bytes")

    def test_corrupted_header_is_not_nifti(self):
        p = self.raw("g.nii", bytes(np.random.default_rng(1).integers(0, 256, 600, dtype=np.uint8)))
        self.assertRegex(self.fails("info", p), f"^volaccess: {p}: not a NIfTI image: its header size field holds")

    def test_truncated_data_reports_the_librarys_message(self):
        p = self.raw("s.nii", open(self.image(), "rb").read()[:-1])
        self.assertEqual(self.fails("sample", p, stdin="1 1 1\n"), f"volaccess: {p}: File too small.")

    def test_bad_magic(self):
        p = self.header_with(magic=b"nX1\0")
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: bad magic: not a NIfTI-1 image")

    def test_zero_negative_and_oversized_dimensions(self):
        p = self.header_with(dims=[3, 4, 0, 2])
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: dimension 2 is 0")
        p = self.header_with(dims=[3, 4, -3, 2])
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: dimension 2 is negative (-3)")
        blob = bytearray(niftiwrite.nifti2_header((4, 3, 2), 4) + b"\0" * 4)
        struct.pack_into("<q", blob, 16 + 8, 1 << 40)
        p = self.raw("big.nii", bytes(blob))
        self.assertEqual(self.fails("info", p),
                         f"volaccess: {p}: oversized dimension 1099511627776: at most 2147483647 voxels per axis")
        p = self.header_with(dims=[3, 32767, 32767, 32767])
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: File too small.")

    def test_unsupported_datatypes(self):
        for code, name in ((128, "RGB24"), (32, "COMPLEX64"), (1792, "COMPLEX128"), (1536, "FLOAT128")):
            with self.subTest(code=code):
                p = self.header_with(code=code)
                self.assertRegex(self.fails("info", p),
                                 f"^volaccess: {p}: datatype {code} \\({name}\\) is not supported: the voxels must be")

    def test_corrupt_and_truncated_gzip(self):
        blob = gzip.compress(open(self.image(), "rb").read())
        p = self.raw("t.nii.gz", blob[:len(blob) // 2])
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: corrupt gzip data: unexpected end of file")
        broken = bytearray(blob)
        broken[-5] ^= 0xFF
        p = self.raw("c.nii.gz", bytes(broken))
        self.assertEqual(self.fails("info", p), f"volaccess: {p}: corrupt gzip data: incorrect data check")

    def test_malformed_point_lines_name_file_and_line(self):
        img = self.image()
        pts = self.path("pts.txt")
        with open(pts, "w") as f:
            f.write("# x y z\n1 1 1\n\n2 2 x\n")
        self.assertEqual(self.fails("sample", img, "--points", pts), f"volaccess: {pts}:4: 'x' is not a number")
        self.assertEqual(self.fails("sample", img, stdin="1 1 1\n1 2\n"),
                         "volaccess: <stdin>:2: expected three numbers, found 2 fields")

    def test_point_files_skip_a_byte_order_mark_and_refuse_empty_fields(self):
        img = self.image()
        self.assertEqual(self.ok("sample", img, stdin="\ufeff2 3 2\n"), "21\n")
        self.assertEqual(self.fails("sample", img, stdin="1,1,1\n2,,3,2\n"), "volaccess: <stdin>:2: field 2 is empty")

    def test_user_data_in_messages_is_escaped_and_cut(self):
        img = self.image()
        line = self.fails("sample", img, stdin="1 \x1b]0;owned\x07\x1b[2J 1\n")
        self.assertEqual(line, "volaccess: <stdin>:1: '\\x1b]0;owned\\x07\\x1b[2J' is not a number")
        line = self.fails("sample", img, "--hold", "7" * 100000 + "x", status=2)
        self.assertEqual(line, "volaccess: --hold: '" + "7" * 64 + "...' is none of nearest, linear, cubic, sinc, label, or a whole number")
        name = self.path("\x1b[2Jx.nii")
        self.assertEqual(self.fails("info", name), "volaccess: " + name.replace("\x1b", "\\x1b") +
                         ": cannot open: No such file or directory")

    def test_option_values_are_checked_before_any_file_is_opened(self):
        none = self.path("none.nii")
        out = self.path("o.png")
        for args in (("info", none, "--volume", "x"), ("sample", none, "--hold", "1.5"),
                     ("sample", none, "--coords", "mm"), ("slice", none, "--axial", "x", "-o", out),
                     ("slice", none, "--axial", "1", "--size", "0x2", "-o", out),
                     ("slice", none, "-o", out), ("slice", none, "--transform", "1 2", "-o", out),
                     ("reslice", none, "--like", none, "--datatype", "int3", "-o", self.path("o.nii")),
                     ("info", ""), ("sample", self.image(), "--points", ""), ("reslice", none, "--like=", "-o", "o.nii")):
            with self.subTest(args=args):
                self.fails(*args, status=2)
        self.assert_no_files_but("ok.nii")

    def test_singular_matrices(self):
        p = self.image("flat.nii", srow=[[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 0]])
        self.assertEqual(self.fails("sample", p, "--coords", "world", stdin="0 0 0\n"),
                         f"volaccess: {p}: its voxel-to-world matrix is singular, so world coordinates have no voxel")
        self.assertEqual(self.fails("reslice", p, "--like", self.image(), "-o", self.path("o.nii")),
                         f"volaccess: {p}: its voxel-to-world matrix is singular")
        a = self.raw("a.txt", b"1 0 0 0\n0 0 0 0\n0 0 1 0\n0 0 0 1\n")
        self.assertEqual(self.fails("reslice", self.image(), "--like", self.image(), "--affine", a,
                                    "-o", self.path("o.nii")), f"volaccess: {a}: the affine is singular")
        self.assert_no_files_but("flat.nii", "ok.nii", "a.txt")

    def test_malformed_affine_file(self):
        a = self.raw("a.txt", b"1 0 0 0\n0 1 0\n")
        self.assertEqual(self.fails("reslice", self.image(), "--like", self.image(), "--affine", a,
                                    "-o", self.path("o.nii")), f"volaccess: {a}:2: expected four numbers, found 3 fields")

    def test_hold_codes_outside_the_kernels_range(self):
        img = self.image()
        for hold in ("171", "-255", "1000"):
            with self.subTest(hold=hold):
                self.assertIn("out of range", self.fails("sample", img, "--hold", hold, stdin="1 1 1\n", status=2))
                self.assertIn("out of range", self.fails("slice", img, "--axial", "1", "--hold", hold,
                                                         "-o", self.path("x.png"), status=2))
        self.assertEqual(len(self.samples(img, [(1.5, 1.5, 1.5)], "--hold", "170")), 1)
        self.assertEqual(len(self.samples(img, [(1.5, 1.5, 1.5)], "--hold", "-254")), 1)

    def test_transform_whose_w_reaches_zero_writes_nothing(self):
        img = self.image()
        out = self.path("w.npy")
        self.assertEqual(self.fails("slice", img, "--transform", "1 0 0 0 0 1 0 0 0 0 1 1 1 0 0 -2", "-o", out),
                         f"volaccess: {img}: the slice transform sends a pixel to infinity (its w becomes 0)")
        self.assert_no_files_but("ok.nii")

    def test_failure_keeps_an_existing_output_and_leaves_no_temporary_file(self):
        out = self.raw("out.nii", b"previous")
        bad = self.raw("s.nii", open(self.image(), "rb").read()[:-1])
        self.fails("reslice", bad, "--like", self.image(), "-o", out)
        self.assertEqual(open(out, "rb").read(), b"previous")
        self.assert_no_files_but("out.nii", "s.nii", "ok.nii")

    def test_missing_volume_and_empty_voxel_file(self):
        img = self.image()
        self.assertEqual(self.fails("info", img, "--volume", "2"),
                         f"volaccess: {img}: volume 2 does not exist: the image holds 1 volume")
        niftiwrite.write_pair(self.path("p"), DATA, 4)
        open(self.path("p.img"), "wb").close()
        self.assertEqual(self.fails("info", self.path("p.hdr")), f"volaccess: {self.path('p.img')}: is empty")

    def test_command_line_mistakes_exit_with_status_two(self):
        self.assertEqual(self.fails("bogus", status=2), "volaccess: unknown command 'bogus' (see 'volaccess --help')")
        self.assertEqual(self.fails("info", self.image(), "--bogus", status=2),
                         "volaccess: unknown option --bogus for 'info' (see 'volaccess info --help')")
        self.assertEqual(self.fails("slice", self.image(), "--axial", "1", "-o", self.path("x.jpg"), status=2),
                         f"volaccess: {self.path('x.jpg')}: the output must end in .png or .npy")
        self.assertEqual(self.fails("sample", self.image(), "--coords", "mm", status=2),
                         "volaccess: --coords: 'mm' is none of voxel1, voxel0, world")


if __name__ == "__main__":
    main_if_run()
