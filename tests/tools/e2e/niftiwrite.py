"""The tests' own NIfTI writer: headers packed field by field with struct,
in either byte order, independent of the program and of nibabel."""

import gzip
import struct

import numpy as np

# NIfTI datatype code -> numpy type of the stored voxels.
DTYPES = {
    2: np.uint8, 256: np.int8, 4: np.int16, 512: np.uint16, 8: np.int32,
    768: np.uint32, 1024: np.int64, 1280: np.uint64, 16: np.float32, 64: np.float64,
}


def nifti1_header(shape, code, order="<", slope=1.0, inter=0.0, srow=None, qform=None,
                  pixdim=(1.0, 1.0, 1.0), vox_offset=352.0, magic=b"n+1\0", dims=None):
    """A 348-byte NIfTI-1 header; srow is a 3x4 list (sform code 1), qform a
    (b, c, d, qx, qy, qz, qfac) tuple (qform code 1)."""
    dim = list(dims) if dims is not None else [len(shape)] + list(shape)
    dim += [1] * (8 - len(dim))
    bitpix = np.dtype(DTYPES.get(code, np.uint8)).itemsize * 8
    q = qform or (0, 0, 0, 0, 0, 0, 1)
    pix = [q[6]] + list(pixdim) + [1.0] * (7 - len(pixdim))
    s = srow or [[0] * 4] * 3
    h = b""
    h += struct.pack(order + "i", 348)
    h += b"\0" * 36                                  # data_type, db_name, extents, session_error, regular, dim_info
    h += struct.pack(order + "8h", *dim)
    h += struct.pack(order + "3f", 0, 0, 0)          # intent_p1..3
    h += struct.pack(order + "h", 0)                 # intent_code
    h += struct.pack(order + "hh", code, bitpix)
    h += struct.pack(order + "h", 0)                 # slice_start
    h += struct.pack(order + "8f", *pix)
    h += struct.pack(order + "f", vox_offset)
    h += struct.pack(order + "ff", slope, inter)
    h += struct.pack(order + "h", 0) + b"\0\0"       # slice_end, slice_code, xyzt_units
    h += struct.pack(order + "4f", 0, 0, 0, 0)       # cal_max, cal_min, slice_duration, toffset
    h += struct.pack(order + "2i", 0, 0)             # glmax, glmin
    h += b"\0" * 80 + b"\0" * 24                     # descrip, aux_file
    h += struct.pack(order + "hh", 1 if qform else 0, 1 if srow else 0)
    h += struct.pack(order + "6f", *q[:6])
    for row in s:
        h += struct.pack(order + "4f", *row)
    h += b"\0" * 16 + magic
    assert len(h) == 348
    return h


def nifti2_header(shape, code, order="<", slope=1.0, inter=0.0, vox_offset=544):
    dim = [len(shape)] + list(shape)
    dim += [1] * (8 - len(dim))
    bitpix = np.dtype(DTYPES[code]).itemsize * 8
    h = struct.pack(order + "i", 540) + b"n+2\0\r\n\032\n"
    h += struct.pack(order + "hh", code, bitpix)
    h += struct.pack(order + "8q", *dim)
    h += struct.pack(order + "3d", 0, 0, 0)
    h += struct.pack(order + "8d", 1, 1, 1, 1, 1, 1, 1, 1)
    h += struct.pack(order + "q", vox_offset)
    h += struct.pack(order + "dd", slope, inter)
    h += struct.pack(order + "4d", 0, 0, 0, 0)
    h += struct.pack(order + "qq", 0, 0)
    h += b"\0" * 104
    h += struct.pack(order + "ii", 0, 0)
    h += struct.pack(order + "6d", 0, 0, 0, 0, 0, 0)
    h += struct.pack(order + "12d", *([0] * 12))
    h += struct.pack(order + "3i", 0, 0, 0)
    h += b"\0" * 16 + b"\0" + b"\0" * 15
    assert len(h) == 540
    return h


def voxel_bytes(data, code, order="<"):
    """The voxels of a 3-D array, x fastest, in the given byte order."""
    return np.asarray(data, dtype=np.dtype(DTYPES[code]).newbyteorder(order)).tobytes(order="F")


def write_nii(path, data, code, order="<", version=1, compress=False, **header):
    if version == 1:
        blob = nifti1_header(data.shape, code, order, **header) + b"\0" * 4
    else:
        blob = nifti2_header(data.shape, code, order, **header) + b"\0" * 4
    blob += voxel_bytes(data, code, order)
    with (gzip.open if compress else open)(path, "wb") as f:
        f.write(blob)
    return path


def write_pair(stem, data, code, order="<"):
    with open(stem + ".hdr", "wb") as f:
        f.write(nifti1_header(data.shape, code, order, vox_offset=0.0, magic=b"ni1\0"))
    with open(stem + ".img", "wb") as f:
        f.write(voxel_bytes(data, code, order))
    return stem + ".hdr"


def test_values(code, shape=(5, 4, 3), seed=7):
    """Voxels that use the type's range: extremes, zero, and random values."""
    rng = np.random.default_rng(seed + code)
    t = np.dtype(DTYPES[code])
    n = int(np.prod(shape))
    if t.kind == "f":
        values = rng.standard_normal(n) * 1000
        values[:3] = [np.finfo(t).max, np.finfo(t).min, np.finfo(t).tiny]
    else:
        info = np.iinfo(t)
        values = rng.integers(info.min, info.max, size=n, dtype=t, endpoint=True)
        values[:3] = [info.min, info.max, 0]
    return values.astype(t).reshape(shape, order="F")
