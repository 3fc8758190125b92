"""Writes the files of the README's "Reslicing after a registration" into a
folder (default registration-example/): the transforms and images that ITK
wrote into tests/tools/data/itk/, a label atlas and a 5-volume series on the
source's grid, and the FLIRT matrix and point table the README shows.

Run with Debian's Python, which has nibabel: /usr/bin/python3 scripts/registration_example.py [FOLDER]
"""

import os
import shutil
import sys

import nibabel as nib
import numpy as np

ITK_DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools", "data", "itk")

SOURCE_TO_REFERENCE = """\
0.9104531579  0.2012563239  0.1980111341  -4.3900201411
-0.2095047954  1.0215266126  0.1361318355  8.4503704743
-0.1773212829  -0.1800245068  0.9686283242  -3.3978708469
0.0000000000  0.0000000000  0.0000000000  1.0000000000
"""

POINTS = """\
x,y,z,name
-3.5,12.25,4,p1
5,0,5,p2
"""


def write_atlas(source, path):
    """Labels in boxes of 5 x 6 x 8 voxels, numbered from 1, and background
    in the first two planes along x."""
    i, j, k = np.meshgrid(*[np.arange(n) for n in source.shape], indexing="ij")
    labels = (1 + i // 5 + 4 * (j // 6) + 12 * (k // 8)).astype(np.int16)
    labels[:2] = 0
    nib.save(nib.Nifti1Image(labels, source.affine), path)


def write_bold(source, path):
    """Five volumes 2 s apart: the source's values times 1, 1.01, ... 1.04."""
    values = np.asarray(source.dataobj, dtype=np.float32)
    series = np.stack([values * np.float32(1 + 0.01 * t) for t in range(5)], axis=-1)
    image = nib.Nifti1Image(series, source.affine)
    image.header.set_xyzt_units("mm", "sec")
    image.header["pixdim"][4] = 2.0
    nib.save(image, path)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    for name in ("source.nii.gz", "reference.nii.gz", "field.nii.gz", "affine.mat"):
        shutil.copyfile(os.path.join(ITK_DATA, name), os.path.join(folder, name))
    source = nib.load(os.path.join(ITK_DATA, "source.nii.gz"))
    write_atlas(source, os.path.join(folder, "atlas.nii.gz"))
    write_bold(source, os.path.join(folder, "bold.nii.gz"))
    for name, text in (("source2ref.mat", SOURCE_TO_REFERENCE), ("points.csv", POINTS)):
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "registration-example")
