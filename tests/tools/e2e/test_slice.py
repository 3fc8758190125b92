"""Slices: .npy arrays hold the exact doubles, PNG pictures open with
independent readers (pngcheck, and a decoder written here on zlib)."""

import os
import shutil
import struct
import subprocess
import sys
import unittest
import zlib

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402
import niftiwrite  # noqa: E402


def read_png(path):
    """Decodes an 8-bit greyscale or RGB, non-interlaced PNG into
    (width, height, bytes per pixel, rows of bytes)."""
    with open(path, "rb") as f:
        blob = f.read()
    assert blob[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(blob):
        length, kind = struct.unpack(">I4s", blob[pos:pos + 8])
        body = blob[pos + 8:pos + 8 + length]
        assert zlib.crc32(kind + body) == struct.unpack(">I", blob[pos + 8 + length:pos + 12 + length])[0]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (0, 2) and interlace == 0
    bpp = 1 if colour == 0 else 3
    stride = width * bpp
    raw, rows, prev = zlib.decompress(idat), [], bytearray(stride)
    for r in range(height):
        line = raw[r * (stride + 1):(r + 1) * (stride + 1)]
        kind, cur = line[0], bytearray(line[1:])
        for i in range(stride):
            a = cur[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c]
            cur[i] = (cur[i] + pred[kind]) & 0xFF
        rows.append(bytes(cur))
        prev = cur
    return width, height, bpp, rows


def read_grey_png(path):
    """Decodes an 8-bit greyscale, non-interlaced PNG into rows of bytes."""
    width, height, bpp, rows = read_png(path)
    assert bpp == 1
    return width, height, rows


class Slice(ProgramTest):
    def setUp(self):
        super().setUp()
        self.data = np.arange(6 * 5 * 4, dtype=np.float64).reshape((6, 5, 4), order="F") * 1.5 - 7
        self.image = niftiwrite.write_nii(self.path("v.nii"), self.data, 64, ">")

    def test_axial_coronal_and_sagittal_npy_are_the_exact_planes(self):
        cases = [("--axial", 3, self.data[:, :, 2]), ("--coronal", 2, self.data[:, 1, :]),
                 ("--sagittal", 6, self.data[5, :, :])]
        for option, index, expected in cases:
            with self.subTest(option=option):
                out = self.path("p.npy")
                self.ok("slice", self.image, option, index, "-o", out)
                np.testing.assert_array_equal(np.load(out), expected)

    def test_transform_and_size_cut_any_plane(self):
        # Pixel (i, j) -> voxel (i, 2, j): the coronal plane y = 2, one pixel wider.
        out = self.path("t.npy")
        self.ok("slice", self.image, "--transform", "1 0 0 0  0 0 0 2  0 1 0 0  0 0 0 1", "--size", "7x4",
                "--hold", "0", "--background", "nan", "-o", out)
        got = np.load(out)
        self.assertEqual(got.shape, (7, 4))
        np.testing.assert_array_equal(got[:6], self.data[:, 1, :])
        self.assertTrue(np.isnan(got[6]).all())

    def test_png_opens_with_pngcheck_and_an_independent_decoder(self):
        out = self.path("a.png")
        self.ok("slice", self.image, "--axial", "1", "--window", f"{self.data.min()},{self.data.max()}", "-o", out)
        if shutil.which("pngcheck"):
            subprocess.run(["pngcheck", "-q", out], check=True)
        width, height, rows = read_grey_png(out)
        self.assertEqual((width, height), (6, 5))
        plane = self.data[:, :, 0]
        lo, hi = self.data.min(), self.data.max()
        expected = np.clip(np.floor(255 * (plane - lo) / (hi - lo) + 0.5), 0, 255).astype(int)
        # The first picture row is the top: the last pixel row j = height.
        got = np.array([list(rows[height - 1 - j]) for j in range(height)]).T
        np.testing.assert_array_equal(got, expected)

    def test_png_default_window_spans_black_to_white(self):
        out = self.path("d.png")
        self.ok("slice", self.image, "--coronal", "3", "-o", out)
        _, _, rows = read_grey_png(out)
        levels = set(b for row in rows for b in row)
        self.assertIn(0, levels)
        self.assertIn(255, levels)


if __name__ == "__main__":
    main_if_run()
