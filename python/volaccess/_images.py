"""Opening volumes from paths and from nibabel image objects."""

import os

from ._native import Volume


def _nifti_bytes(image):
    """The bytes of a single-file NIfTI image holding `image`."""
    import nibabel as nib
    import numpy as np

    if isinstance(image, (nib.Nifti1Image, nib.Nifti2Image)):
        return image.to_bytes()
    return nib.Nifti1Image(np.asanyarray(image.dataobj), image.affine).to_bytes()


def load(image, volume=None):
    """Open one volume of an image for sampling.

    image: a path (.nii, .nii.gz, either half of a .hdr/.img pair, also
        gzip-compressed; NIfTI-1 or NIfTI-2; or FreeSurfer .mgh/.mgz,
        NRRD .nrrd/.nhdr, MetaImage .mha/.mhd), or a nibabel image object.
        A nibabel image read from a file is opened from that file; one in
        memory is opened from its array, affine and (for NIfTI images)
        header.
    volume: which volume of a 4-D image, counting from 0 as numpy indexes
        the fourth axis; required when the image holds more than one.

    The header goes through the same reading and checking code as the
    ``volaccess`` program, and the voxels are mapped read-only, not copied
    (a compressed file is decompressed once into an unnamed temporary
    file). Returns a Volume; use it as a context manager or call close().

    Raises FileNotFoundError, PermissionError or OSError when the file
    cannot be read, and ValueError for a bad header or volume, each with
    a message naming the file and the reason.

    >>> with volaccess.load("head.nii.gz") as v:
    ...     v.sample([[0.0, 0.0, 0.0]])          # world coordinates
    """
    if isinstance(image, (str, bytes, os.PathLike)):
        return Volume._open(os.fsdecode(image), volume)
    filename = image.get_filename() if hasattr(image, "get_filename") else None
    if filename:
        return Volume._open(filename, volume)
    if not hasattr(image, "dataobj") or not hasattr(image, "affine"):
        raise ValueError(f"image: expected a path or a nibabel image, got {type(image).__name__}")
    return Volume._from_bytes(_nifti_bytes(image), "<nibabel image>", volume)
