"""Shared fixtures: images of every stored encoding written with nibabel,
and the volaccess program for comparisons with its output."""

import os
import subprocess

import nibabel as nib
import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# The ten stored encodings, each also in the byte order opposite to the machine's.
CODES = ["u1", "i1", "i2", "u2", "i4", "u4", "i8", "u8", "f4", "f8"]
ORDERS = ["<", ">"]
ENCODINGS = [order + code for code in CODES for order in ORDERS if code[1] != "1" or order == "<"]

# Every kind of hold code: nearest, trilinear, Lagrange and windowed sinc,
# small and large stencils.
HOLDS = [0, 1, 2, 3, 4, 7, -1, -2, -5, -9]

AFFINE = np.array([[1.25, 0.1, 0.0, -5.0],
                   [0.0, 1.1, -0.2, 3.0],
                   [0.05, 0.2, 1.6, -7.5],
                   [0.0, 0.0, 0.0, 1.0]])


def program():
    """The volaccess program built beside the package, as scripts/test.sh sets it."""
    path = os.environ.get("VOLACCESS_PROGRAM", os.path.join(ROOT, "build", "release", "tools", "volaccess"))
    if not os.access(path, os.X_OK):
        pytest.skip(f"the volaccess program is not built at {path}")
    return path


def run_program(*args, stdin=""):
    return subprocess.run([program(), *args], input=stdin, capture_output=True, text=True, check=True).stdout


def stored_values(encoding, shape, seed=7):
    """Voxels that reach the ends of the encoding's range."""
    dtype = np.dtype(encoding)
    rng = np.random.default_rng(seed)
    if dtype.kind == "f":
        values = rng.normal(0, 1000, size=shape)
    else:
        info = np.iinfo(dtype)
        values = rng.integers(info.min, info.max, size=shape, endpoint=True, dtype=np.int64 if info.min < 0 else np.uint64)
    return np.asfortranarray(values.astype(dtype))


def write_image(path, data, affine=AFFINE, scale=1.0, offset=0.0, version=1):
    """A NIfTI image of `data` kept in its own byte order and encoding."""
    kind = nib.Nifti1Image if version == 1 else nib.Nifti2Image
    header = kind.header_class()
    if data.dtype.byteorder == ">":
        header = header.as_byteswapped(">")
    image = kind(data, affine, header=header)
    image.set_data_dtype(data.dtype)
    image.header.set_slope_inter(scale, offset)
    image.to_filename(str(path))
    return str(path)


@pytest.fixture
def probe_points():
    """1-based voxel points for a 7x6x5 volume: inside, on the rim, outside,
    and not finite."""
    rng = np.random.default_rng(3)
    inside = rng.uniform(0.5, 7.5, size=(40, 3)) * [1, 6 / 7, 5 / 7]
    special = np.array([[1, 1, 1], [7, 6, 5], [0.5, 3, 3], [7.49, 6.49, 5.49], [-3, 2, 2], [40, 2, 2],
                        [np.nan, 2, 2], [2, np.inf, 2], [2, 2, -np.inf], [1e300, 1, 1]], dtype=float)
    return np.vstack([inside, special])
