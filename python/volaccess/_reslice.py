"""Reslicing an image onto the grid of another, or onto new voxel sizes."""

from __future__ import annotations

import numbers
import os
from typing import Any, Iterable, Optional, Sequence, Tuple, Union

import numpy as np

from . import _native
from ._images import load
from ._native import Volume

PathLike = Union[str, bytes, "os.PathLike[str]"]
Transform = Union[PathLike, Tuple[PathLike, str]]
Matrix = Union[PathLike, np.ndarray, Sequence[Sequence[float]]]

_MAX_INT64 = 2**63 - 1
_MAX_INT32 = 2**31 - 1


def _is_path(value: Any) -> bool:
    return isinstance(value, (str, bytes, os.PathLike))


def _is_image(value: Any) -> bool:
    return hasattr(value, "dataobj") and hasattr(value, "affine")


def _is_integer(value: Any) -> bool:
    return isinstance(value, (numbers.Integral, np.integer)) and not isinstance(value, (bool, np.bool_))


def _is_real(value: Any) -> bool:
    return isinstance(value, (numbers.Real, np.floating, np.integer)) and not isinstance(value, (bool, np.bool_))


def _kind(value: Any) -> str:
    return type(value).__name__


def _source(source: Any, volume: Any, opened: list) -> Union[str, Volume]:
    """What the native reslice takes as the source: a path or a Volume."""
    if volume is not None:
        if isinstance(source, Volume):
            raise ValueError("volume: a Volume holds its own volume; give volume= with a path or an image")
        if not _is_integer(volume):
            raise TypeError(f"volume: expected a whole number counting from 0, got {_kind(volume)}")
    if isinstance(source, Volume):
        return source
    if volume is None and _is_path(source):
        return os.fsdecode(source)
    if not (_is_path(source) or _is_image(source)):
        raise TypeError(f"source: expected a path, a Volume or a nibabel image, got {_kind(source)}")
    loaded = load(source) if volume is None else load(source, int(volume))
    opened.append(loaded)
    return loaded


def _reference(like: Any, opened: list) -> Union[None, str, Volume]:
    """What the native reslice takes as the reference: a path or a Volume."""
    if like is None or isinstance(like, Volume):
        return like
    if _is_path(like):
        return os.fsdecode(like)
    if not _is_image(like):
        raise TypeError(f"like: expected a path, a Volume or a nibabel image, got {_kind(like)}")
    filename = like.get_filename() if hasattr(like, "get_filename") else None
    if filename:
        return filename
    volume = load(like, volume=0)
    opened.append(volume)
    return volume


def _transforms(transforms: Iterable[Transform]) -> list:
    """(path, inverse) pairs in the order given."""
    if _is_path(transforms) or not isinstance(transforms, Iterable):
        raise TypeError(f"transforms: expected a sequence of paths or (path, 'inverse') pairs, got {_kind(transforms)}")
    pairs = []
    for item in transforms:
        if _is_path(item):
            pairs.append((os.fsdecode(item), False))
        elif isinstance(item, (tuple, list)) and len(item) == 2 and _is_path(item[0]) and item[1] == "inverse":
            pairs.append((os.fsdecode(item[0]), True))
        else:
            raise ValueError(f"transforms: {item!r} is neither a path nor a (path, 'inverse') pair")
    return pairs


def _matrix(name: str, value: Any) -> Any:
    """A matrix file's path, or a 4x4 array of real numbers."""
    if value is None:
        return None
    if _is_path(value):
        return os.fsdecode(value)
    array = np.asarray(value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name}: expected a path or a 4x4 array of numbers, got {_kind(value)}")
    return array.astype(np.float64)


def _triple(name: str, value: Any, expected: str, each: Any, kind: str) -> list:
    """Three items that each pass `each`; TypeError or ValueError naming the argument otherwise."""
    if _is_path(value) or not isinstance(value, Iterable):
        raise TypeError(f"{name}: expected {expected}, got {_kind(value)}")
    items = list(value)
    if len(items) != 3:
        raise ValueError(f"{name}: expected {expected}, got {len(items)}")
    if not all(each(item) for item in items):
        raise TypeError(f"{name}: expected {kind}, got {value!r}")
    return items


def _voxel_size(value: Any) -> Optional[Tuple[float, ...]]:
    if value is None:
        return None
    sizes = [value] * 3 if _is_real(value) else value
    return tuple(float(s) for s in _triple("voxel_size", sizes, "one size in mm or three (x, y, z)", _is_real,
                                           "numbers"))


def _shape(value: Any) -> Optional[Tuple[int, ...]]:
    if value is None:
        return None
    counts = _triple("shape", value, "three voxel counts (nx, ny, nz)", _is_integer, "whole numbers")
    # Counts beyond 64 bits are as wrong as any the engine refuses.
    return tuple(max(min(int(n), _MAX_INT64), -_MAX_INT64) for n in counts)


def _hold(value: Any) -> Union[int, str]:
    """A kernel's name, or its code as a Python int."""
    if isinstance(value, str):
        return value
    if not _is_integer(value):
        raise TypeError(f"hold: expected a whole number or a kernel's name, got {_kind(value)}")
    return int(value)


def _threads(value: Any) -> Optional[int]:
    if value is None:
        return None
    if not _is_integer(value):
        raise TypeError(f"threads: expected a whole number, got {_kind(value)}")
    # Counts beyond 32 bits are as wrong as any the engine refuses.
    return max(min(int(value), _MAX_INT32), -_MAX_INT32)


def _dtype(value: Any) -> Optional[str]:
    if value is None or isinstance(value, str):
        return value
    try:
        return np.dtype(value).name
    except TypeError:
        raise TypeError(f"dtype: expected a name such as 'int16' or 'source', or a numpy dtype, "
                        f"got {_kind(value)}") from None


def _mask(value: Any) -> Optional[str]:
    if value is None:
        return None
    if _is_path(value):
        return os.fsdecode(value)
    filename = value.get_filename() if hasattr(value, "get_filename") else None
    if isinstance(value, Volume) and value.path is not None:
        filename = value.path
    if not filename:
        raise TypeError(f"mask: expected the path of an image on the output grid, got {_kind(value)}")
    return filename


def _image_from_bytes(data: bytes) -> Any:
    """A nibabel image held in memory, of the NIfTI version the bytes carry."""
    import nibabel as nib

    header_size = int.from_bytes(data[:4], "little")
    if header_size not in (348, 540):
        header_size = int.from_bytes(data[:4], "big")
    kind = nib.Nifti2Image if header_size == 540 else nib.Nifti1Image
    return kind.from_bytes(data)


def reslice(source: Union[PathLike, Volume, Any], like: Union[None, PathLike, Volume, Any] = None, *,
            transforms: Iterable[Transform] = (), fsl: Optional[Matrix] = None, affine: Optional[Matrix] = None,
            voxel_size: Union[None, float, Sequence[float]] = None, shape: Optional[Sequence[int]] = None,
            hold: Union[int, str] = 1, background: float = 0.0, dtype: Any = None, clip: bool = False,
            mask: Union[None, PathLike, Any] = None, volume: Optional[int] = None,
            out: Optional[PathLike] = None, threads: Optional[int] = None, large_output: bool = False) -> Any:
    """Resample an image onto another's grid, or onto new voxel sizes.

    The same request as ``volaccess reslice`` with the same options, run
    by the same engine: the output holds the same bytes.

    Parameters
    ----------
    source : path, Volume or nibabel image
        The image to resample. A 4-D source gives a 4-D result unless
        `volume` picks one volume.
    like : path, Volume or nibabel image, optional
        The reference whose grid (dimensions and voxel-to-world matrix) the
        result takes; only its header is read. Give either `like` or
        `voxel_size`.
    transforms : sequence of paths or (path, "inverse") pairs, optional
        Transforms from output points to source points, in the order of
        the program's repeated ``--transform`` options: the last is
        applied first. ITK transform text files, .mat files and
        displacement fields (NIfTI vector images in LPS millimetres).
    fsl : path or (4, 4) array, optional
        A FLIRT matrix from `source` to the reference.
    affine : path or (4, 4) array, optional
        A world-space affine (last row 0 0 0 1) that moves the source onto
        the output: the result at world point w shows the source at
        ``inverse(affine) @ w``. Only one of `transforms`, `fsl` and
        `affine` may be given.
    voxel_size : float or three floats, optional
        Instead of `like`: voxels of this many millimetres along the
        source's axes, covering its field of view.
    shape : three ints, optional
        With `voxel_size`: exactly this many voxels, centred on the source.
    hold : int or str, default 1
        The interpolation: a code (0 nearest, 1 trilinear, 2..170 Lagrange,
        -1..-254 windowed sinc) or nearest, linear, cubic, sinc; "label"
        gives each voxel the label of largest summed trilinear weight.
    background : float, default 0.0
        The value outside the source (NaN accepted for float outputs).
    dtype : str or numpy dtype, optional
        int8, uint8, int16, uint16, int32, uint32, float32, float64 or
        "source"; by default float32, and the source's own for labels.
        Integer outputs get a scale and offset that store the background
        exactly.
    clip : bool, default False
        Clamp each value to the range of the source voxels its kernel read.
    mask : path, optional
        An image on the output grid: where it is 0 the result holds the
        background.
    volume : int, optional
        Only this volume of a 4-D source, counting from 0.
    out : path, optional
        A file to write instead of returning the image: .nii, .nii.gz,
        .mgh, .mgz, .nrrd, .nhdr, .mha or .mhd.
    threads : int, optional
        Threads sharing the work; by default VOLACCESS_NUM_THREADS when
        set, else every CPU this process may use. The result is the same.
    large_output : bool, default False
        Make a result larger than its place can hold (the free space of
        the file system of `out`; half the memory for a result held in
        memory), which is otherwise refused before any of it is computed.

    Returns
    -------
    nibabel.Nifti1Image or nibabel.Nifti2Image or str
        The result held in memory (Nifti2Image when the grid does not fit
        NIfTI-1), or the path of `out` when it was given.

    Raises
    ------
    TypeError
        An argument of the wrong type, named as written.
    ValueError
        An argument of the right type that cannot be used, or arguments
        that do not go together.
    OSError
        A file that cannot be read or written (FileNotFoundError,
        PermissionError), or one that another process cut short while it
        was read (the source, the mask or a displacement field).

    Examples
    --------
    >>> import os, shutil, tempfile
    >>> import nibabel as nib, numpy as np
    >>> import volaccess
    >>> folder = tempfile.mkdtemp()
    >>> path = os.path.join(folder, "ramp.nii")
    >>> ramp = np.arange(4 * 4 * 4, dtype=np.float32).reshape(4, 4, 4)
    >>> nib.Nifti1Image(ramp, np.eye(4)).to_filename(path)
    >>> coarse = volaccess.reslice(path, voxel_size=2)
    >>> coarse.shape, coarse.header.get_zooms()
    ((2, 2, 2), (2.0, 2.0, 2.0))
    >>> shift = np.array([[1, 0, 0, 1], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1.0]])
    >>> moved = volaccess.reslice(path, path, affine=shift, hold="nearest", background=-1)
    >>> moved.get_fdata()[:, 0, 0]
    array([-1.,  0., 16., 32.])
    >>> volaccess.reslice(path, path, dtype=np.int16, out=os.path.join(folder, "same.nii")).endswith("same.nii")
    True
    >>> shutil.rmtree(folder)
    """
    opened: list = []
    try:
        native_source = _source(source, volume, opened)
        reference = _reference(like, opened)
        if not _is_real(background):
            raise TypeError(f"background: expected a number, got {_kind(background)}")
        if not isinstance(clip, (bool, np.bool_)):
            raise TypeError(f"clip: expected True or False, got {_kind(clip)}")
        if not isinstance(large_output, (bool, np.bool_)):
            raise TypeError(f"large_output: expected True or False, got {_kind(large_output)}")
        if out is not None and not _is_path(out):
            raise TypeError(f"out: expected a path, got {_kind(out)}")
        path = None if out is None else os.fsdecode(out)
        written = {name: repr(value) for name, value in (("voxel_size", voxel_size), ("shape", shape))
                   if value is not None}
        data = _native._reslice(native_source, reference, _transforms(transforms), _matrix("fsl", fsl),
                                _matrix("affine", affine), _voxel_size(voxel_size), _shape(shape), _hold(hold),
                                float(background), _dtype(dtype), bool(clip), _mask(mask), path,
                                _threads(threads), bool(large_output), written)
        return path if out is not None else _image_from_bytes(data)
    finally:
        for volume_opened in opened:
            volume_opened.close()
