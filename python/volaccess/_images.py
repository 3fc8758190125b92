"""Opening volumes from paths and from nibabel image objects."""

from __future__ import annotations

import numbers
import os
from typing import Any, Optional, Tuple

import numpy as np

from ._native import Volume

_NIFTI_NAMES = ("Nifti1Image", "Nifti2Image", "Nifti1Pair", "Nifti2Pair")


def _is_nifti(image: Any) -> bool:
    import nibabel as nib

    return isinstance(image, tuple(getattr(nib, name) for name in _NIFTI_NAMES))


def _matches_its_file(image: Any, filename: str) -> bool:
    """Whether a file-backed nibabel image still shows what its file holds.

    Its data must still be the proxy of that file, with nothing cached
    (get_fdata keeps an array that may have been edited), and its header,
    scaling and affine those the file gives.
    """
    import nibabel as nib
    from nibabel.arrayproxy import is_proxy

    if not _is_nifti(image) or image.in_memory or not is_proxy(image.dataobj):
        return False
    if os.fspath(getattr(image.dataobj, "file_like", "")) != filename:
        return False
    on_disk = nib.load(filename)
    # nibabel keeps the scaling in the proxy, not in the image's header.
    scaling = [(proxy.slope, proxy.inter, proxy.offset) for proxy in (image.dataobj, on_disk.dataobj)]
    return (type(on_disk) is type(image) and image.header.binaryblock == on_disk.header.binaryblock
            and scaling[0] == scaling[1] and np.array_equal(image.affine, on_disk.affine))


def _shown_values(image: Any) -> Tuple[np.ndarray, float, float]:
    """The stored values nibabel shows, with the scale and offset that make
    them real: those of the file through its proxy, else the array held
    (the one get_fdata cached, which edits reach, first)."""
    from nibabel.arrayproxy import is_proxy

    proxy = image.dataobj
    if is_proxy(proxy) and image.in_memory:
        return image.get_fdata(caching="unchanged"), 1.0, 0.0
    if is_proxy(proxy) and hasattr(proxy, "get_unscaled"):
        return np.asanyarray(proxy.get_unscaled()), float(proxy.slope), float(proxy.inter)
    return np.asanyarray(proxy), 1.0, 0.0


def _nifti_bytes(image: Any) -> bytes:
    """A single-file NIfTI image of what `image` shows: its values stored
    as they are, and its header's other fields; the affine goes apart."""
    import nibabel as nib
    from nibabel.spatialimages import HeaderDataError
    from nibabel.volumeutils import native_code

    values, scale, offset = _shown_values(image)
    values = values.astype(values.dtype.newbyteorder("="), copy=False)
    wide = isinstance(image, (nib.Nifti2Image, nib.Nifti2Pair))
    kind = nib.Nifti2Header if wide else nib.Nifti1Header
    header = kind.from_header(image.header) if _is_nifti(image) else kind()
    # The values were made native: the header must say so.
    if header.endianness != native_code:
        header = header.as_byteswapped(native_code)
    try:
        header.set_data_dtype(values.dtype)
    except HeaderDataError:
        raise ValueError(f"<nibabel image>: its data of dtype {values.dtype} has no NIfTI datatype") from None
    header.set_data_shape(values.shape)
    header.set_slope_inter(scale, offset)
    header["magic"] = header.single_magic
    header["vox_offset"] = header.single_vox_offset
    extension_flag = bytes(4)
    return header.binaryblock + extension_flag + values.tobytes(order="F")


def load(image: Any, volume: Optional[int] = None) -> Volume:
    """Open an image, or one volume of it, for sampling.

    The header goes through the same reading and checking code as the
    ``volaccess`` program, and the voxels of a file are mapped read-only,
    not copied (a compressed file is decompressed once into an unnamed
    temporary file).

    A nibabel image is taken as nibabel shows it. One read from a file
    that it still matches (the same header and affine, its data never
    loaded, edited or cached by ``get_fdata``) is mapped from that file.
    Any other, in memory or changed since it was loaded (``set_sform``,
    header edits, edits through ``get_fdata()`` or an array ``dataobj``),
    is opened from what the object holds: ``np.asanyarray(img.dataobj)``
    with its header's scaling, and ``img.affine`` exactly as the geometry
    (nibabel's choice among sform, qform and voxel sizes), or the header's
    when the affine is None.

    Parameters
    ----------
    image : str, bytes, os.PathLike or nibabel image
        A path (.nii, .nii.gz, either half of a .hdr/.img pair, also
        gzip-compressed; NIfTI-1 or NIfTI-2; or FreeSurfer .mgh/.mgz, NRRD
        .nrrd/.nhdr, MetaImage .mha/.mhd), or a nibabel image object.
    volume : int, optional
        Which volume of a 4-D image, counting from 0 as numpy indexes the
        fourth axis. Without it, an image of several volumes opens whole
        as a series: its shape is (x, y, z, T) and ``Volume.sample`` gives
        one column per volume.

    Returns
    -------
    Volume
        Use it as a context manager, or call its ``close()``.

    Raises
    ------
    FileNotFoundError, PermissionError, OSError
        When the file cannot be read, with the reason.
    ValueError
        For a bad header (a voxel size that is not finite among them), an
        affine that is not finite, or a volume that does not exist; the
        message names the file, or "<nibabel image>".
    TypeError
        When `image` is neither a path nor a nibabel image, or `volume`
        not a whole number.

    Examples
    --------
    >>> import os, tempfile
    >>> import nibabel as nib, numpy as np, volaccess
    >>> folder = tempfile.TemporaryDirectory()
    >>> path = os.path.join(folder.name, "head.nii.gz")
    >>> nib.Nifti1Image(np.ones((4, 4, 4), np.float32), np.eye(4)).to_filename(path)
    >>> with volaccess.load(path) as volume:
    ...     volume.sample([[1.5, 1.5, 1.5]])
    array([1.])
    >>> image = nib.load(path)
    >>> image.get_fdata()[:] = 5.0
    >>> with volaccess.load(image) as edited:
    ...     edited.sample([[1.5, 1.5, 1.5]]), edited.path is None
    (array([5.]), True)
    >>> folder.cleanup()
    """
    if volume is not None:
        if isinstance(volume, bool) or not isinstance(volume, numbers.Integral):
            raise TypeError(f"load(): volume must be a whole number or None, got {type(volume).__name__}")
        volume = int(volume)
    if isinstance(image, (str, bytes, os.PathLike)):
        return Volume._open(os.fsdecode(image), volume)
    if not hasattr(image, "dataobj") or not hasattr(image, "affine"):
        raise TypeError(f"load(): image must be a path or a nibabel image, got {type(image).__name__}")
    filename = image.get_filename() if hasattr(image, "get_filename") else None
    if filename and _matches_its_file(image, filename):
        return Volume._open(filename, volume)
    affine = None if image.affine is None else np.asarray(image.affine, dtype=np.float64)
    if affine is not None and not np.all(np.isfinite(affine)):
        raise ValueError("<nibabel image>: its affine has entries that are not finite (is a voxel size not finite?)")
    return Volume._from_bytes(_nifti_bytes(image), "<nibabel image>", volume, affine)
