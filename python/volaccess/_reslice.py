"""Reslicing an image onto the grid of another."""

import os
import tempfile

from . import _native
from ._images import load
from ._native import Volume


def _reference(like, opened):
    """What the native reslice takes as the reference: a path or a Volume."""
    if isinstance(like, Volume):
        return like
    if isinstance(like, (str, bytes, os.PathLike)):
        return os.fsdecode(like)
    filename = like.get_filename() if hasattr(like, "get_filename") else None
    if filename:
        return filename
    volume = load(like, volume=0)
    opened.append(volume)
    return volume


def _image_from_bytes(data):
    """A nibabel image held in memory, of the NIfTI version the bytes carry."""
    import nibabel as nib

    header_size = int.from_bytes(data[:4], "little")
    if header_size not in (348, 540):
        header_size = int.from_bytes(data[:4], "big")
    kind = nib.Nifti2Image if header_size == 540 else nib.Nifti1Image
    return kind.from_bytes(data)


def reslice(source, like, *, affine=None, hold=1, background=0.0, dtype=None, out=None, volume=None,
            threads=None):
    """Resample `source` onto the grid of `like`, as ``volaccess reslice`` does.

    source: a path, a Volume or a nibabel image (volume= picks one volume
        of a 4-D source, counting from 0).
    like: the reference whose grid and geometry the output takes: a path,
        a Volume or a nibabel image.
    affine: optional 4x4 world-space transform applied to the source
        (last row 0 0 0 1): the output at world point w shows the source at
        inverse(affine) @ w.
    hold, background: as for Volume.sample; hold="label" gives each
        output voxel the label of largest summed trilinear weight.
    dtype: "float32" (the default, "source" with hold="label"), "float64",
        "int8", "uint8", "int16", "uint16", "int32", "uint32", or "source"
        (the source's encoding);
        integer outputs get a scale and offset that store the background
        exactly, the source's own when they do.
    out: a path ending in .nii, .nii.gz, .mgh, .mgz, .nrrd, .nhdr, .mha or .mhd to
        write, whole, with the program's writer; the path is returned. Without it, the result
        is returned as a nibabel Nifti1Image, or Nifti2Image when the grid
        does not fit NIfTI-1, held in memory.
    threads: threads to share the work; default VOLACCESS_NUM_THREADS
        when set, else every CPU this process may use.

    Output voxel (i, j, k) samples the source at its own point, M @ (i, j,
    k, 1) with M from reference voxels to source voxels, so the result
    does not depend on how the work is shared. Values are those of the
    program's reslice, bit for bit.
    """
    if dtype is None:
        dtype = "source" if isinstance(hold, str) and hold == "label" else "float32"
    opened = []
    try:
        if not isinstance(source, Volume):
            source = load(source, volume)
            opened.append(source)
        reference = _reference(like, opened)
        if out is not None:
            path = os.fsdecode(out)
            _native._reslice_to_file(source, reference, affine, hold, background, dtype, threads, path)
            return path
        with tempfile.TemporaryDirectory(prefix="volaccess-") as folder:
            path = os.path.join(folder, "resliced.nii")
            _native._reslice_to_file(source, reference, affine, hold, background, dtype, threads, path)
            with open(path, "rb") as f:
                data = f.read()
        return _image_from_bytes(data)
    finally:
        for volume_opened in opened:
            volume_opened.close()
