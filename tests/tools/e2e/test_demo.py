"""The embedded default: the demo writes its phantom, the resliced result
and its pictures into the folder it names."""

import os
import shutil
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402
from test_slice import read_grey_png, read_png  # noqa: E402

PICTURES = [f"{stem}-{plane}.png" for stem in ("phantom", "rotated") for plane in ("axial", "coronal", "sagittal")]


class Demo(ProgramTest):
    def test_demo_writes_images_and_pictures_into_its_folder(self):
        import nibabel as nib
        folder = self.path("out")
        out = self.ok("demo", "--out", folder)
        self.assertIn(folder, out.splitlines()[0])
        for name in PICTURES + ["overview.png"]:
            with self.subTest(picture=name):
                width, height, rows = read_grey_png(os.path.join(folder, name))
                self.assertGreater(max(max(r) for r in rows), 200)
                if shutil.which("pngcheck"):
                    subprocess.run(["pngcheck", "-q", os.path.join(folder, name)], check=True)
        width, height, bpp, _ = read_png(os.path.join(folder, "check.png"))
        # Three 192-pixel panels a row and a column, 4 pixels apart, each under a 20-pixel caption.
        self.assertEqual((width, height, bpp), (3 * (192 + 4) + 4, 3 * (20 + 192 + 4) + 4, 3))
        phantom = nib.load(os.path.join(folder, "phantom.nii.gz"))
        rotated = nib.load(os.path.join(folder, "rotated.nii.gz"))
        self.assertEqual(phantom.get_data_dtype(), np.int16)
        self.assertEqual((phantom.dataobj.slope, phantom.dataobj.inter), (0.25, 10.0))
        np.testing.assert_array_equal(rotated.affine, phantom.affine)
        self.assertFalse(np.allclose(rotated.get_fdata(), phantom.get_fdata()))
        self.assertEqual(sorted(os.listdir(folder)),
                         sorted(PICTURES + ["check.png", "overview.png", "phantom.nii.gz", "rotated.nii.gz",
                                 "rotation.txt"]))


if __name__ == "__main__":
    main_if_run()
