"""Opening sources and reference grids: Zarr arrays, OME-Zarr images and
NIfTI files, with their geometry, and reading blocks of their voxels.

Axes: a Zarr array is (z, y, x), x varying fastest, as OME-Zarr lays out
space; the geometry is a 4x4 affine in nibabel's convention (0-based voxel
indices (x, y, z) to world). An OME-Zarr image takes it from the first
level's scale and translation; a store written by this package also keeps
the exact affine (oblique ones included) under the "volaccess" attribute,
which wins. A plain Zarr array has unit voxels at the origin.
"""

import dataclasses
import os

import numpy as np
import zarr

from .errors import SourceError

ATTRIBUTE = "volaccess"


@dataclasses.dataclass(frozen=True)
class Grid:
    """The voxel grid of an image: counts along x, y, z and its affine."""

    shape: tuple
    affine: np.ndarray
    axes: tuple = ()  # OME-Zarr axis records (z, y, x), kept for the output


@dataclasses.dataclass(frozen=True)
class SourceRef:
    """What a chunk task needs to read a source: picklable, small."""

    kind: str  # "zarr" or "nifti"
    path: str
    array_path: str  # the array inside a Zarr store ("" for the store itself)
    shape: tuple  # x, y, z
    dtype: str  # numpy dtype string, byte order included
    scale: float
    offset: float
    vox_offset: int = 0  # NIfTI: byte offset of the voxels
    data_path: str = ""  # NIfTI: the file holding them (the .img of a pair)


def is_zarr_path(path):
    """True for a path that names a Zarr store (a ".zarr" name or a folder
    holding Zarr metadata)."""
    path = os.fspath(path)
    stripped = path.rstrip("/")
    if stripped.endswith(".zarr"):
        return True
    return os.path.isdir(path) and any(
        os.path.exists(os.path.join(path, name)) for name in (".zarray", ".zgroup"))


def _axis_affine(scale, translation):
    """nibabel affine of an axis-aligned (z, y, x) scale and translation."""
    affine = np.eye(4)
    affine[0, 0], affine[1, 1], affine[2, 2] = scale[2], scale[1], scale[0]
    affine[:3, 3] = translation[2], translation[1], translation[0]
    return affine


def _level_transform(dataset, ndim):
    scale, translation = [1.0] * ndim, [0.0] * ndim
    for t in dataset.get("coordinateTransformations", []):
        if t.get("type") == "scale":
            scale = [float(v) for v in t["scale"]]
        elif t.get("type") == "translation":
            translation = [float(v) for v in t["translation"]]
    return scale, translation


def open_zarr(path):
    """Opens a Zarr array or OME-Zarr image: returns (array, array path,
    Grid, scale, offset), the last two turning stored voxels into real
    values (a store written with dtype "source" keeps them). Raises SourceError naming the store for what cannot be used."""
    path = os.fspath(path)
    if not os.path.exists(path):
        raise SourceError(f"{path}: no such Zarr store")
    try:
        node = zarr.open(path, mode="r")
    except Exception as exc:  # zarr raises several kinds for a bad store
        raise SourceError(f"{path}: not a readable Zarr store ({exc})") from exc
    attrs = dict(node.attrs)
    mark = attrs.get(ATTRIBUTE, {})
    if mark and not mark.get("complete", False):
        raise SourceError(f"{path}: an unfinished output of an interrupted reslice (no completion mark)")
    axes = ()
    if isinstance(node, zarr.hierarchy.Group):
        multiscales = attrs.get("multiscales")
        if not multiscales or not multiscales[0].get("datasets"):
            raise SourceError(f"{path}: a Zarr group without OME-Zarr multiscales metadata")
        first = multiscales[0]["datasets"][0]
        array_path = first["path"]
        if array_path not in node:
            raise SourceError(f"{path}: the first multiscales level '{array_path}' is missing")
        array = node[array_path]
        axes = tuple(multiscales[0].get("axes", ()))
        scale, translation = _level_transform(first, array.ndim)
        # Only the three spatial axes: leading time or channel axes of
        # length 1 are dropped.
        scale, translation = scale[-3:], translation[-3:]
        axes = axes[-3:]
    else:
        array, array_path = node, ""
        scale, translation = (1.0, 1.0, 1.0), (0.0, 0.0, 0.0)
    if array.ndim < 3 or any(n != 1 for n in array.shape[:-3]):
        raise SourceError(f"{path}: expected a 3-D (z, y, x) image, found shape {array.shape}")
    if array.dtype.kind not in "iuf" or array.dtype.itemsize > 8 or array.dtype == np.float16:
        raise SourceError(f"{path}: voxels of dtype {array.dtype} cannot be sampled")
    affine = np.array(mark["affine"], dtype=float) if "affine" in mark else _axis_affine(scale, translation)
    shape = tuple(int(n) for n in reversed(array.shape[-3:]))
    grid = Grid(shape=shape, affine=affine, axes=axes)
    return array, array_path, grid, float(mark.get("scale", 1.0)), float(mark.get("offset", 0.0))


def open_nifti(path):
    """Header facts of a NIfTI image: (SourceRef, Grid). The scale and offset
    follow the volume library's reading of the header."""
    import nibabel

    import volaccess

    path = os.fspath(path)
    with volaccess.load(path) as vol:
        shape = tuple(int(n) for n in vol.shape[:3])
        if len(vol.shape) > 3 and any(n != 1 for n in vol.shape[3:]):
            raise SourceError(f"{path}: a 4-D image; reslice one volume of it")
        dtype = np.dtype(vol.dtype)
        affine = np.array(vol.affine, dtype=float)
        scale, offset = float(vol.scale), float(vol.offset)
    # The array proxy knows which file holds the voxels and where they
    # start; the header's own field may be 0 in a file nibabel wrote.
    proxy = nibabel.load(path).dataobj
    ref = SourceRef(kind="nifti", path=path, array_path="", shape=shape, dtype=dtype.str, scale=scale,
                    offset=offset, vox_offset=int(proxy.offset), data_path=os.fspath(proxy.file_like))
    return ref, Grid(shape=shape, affine=affine)


def open_source(path):
    """The SourceRef and Grid of a source path (Zarr, OME-Zarr or NIfTI)."""
    if is_zarr_path(path):
        array, array_path, grid, scale, offset = open_zarr(path)
        ref = SourceRef(kind="zarr", path=os.fspath(path), array_path=array_path, shape=grid.shape,
                        dtype=array.dtype.str, scale=scale, offset=offset)
        return ref, grid
    return open_nifti(path)


def open_grid(path):
    """The Grid of a reference path (Zarr, OME-Zarr or NIfTI)."""
    if is_zarr_path(path):
        return open_zarr(path)[2]
    return open_nifti(path)[1]


def _chunk_name(ref, array, coords):
    key = array._chunk_key(coords)
    return os.path.join(ref.path, key)


def _read_zarr_box(ref, lo, hi, block, block_lo):
    """Copies source voxels [lo, hi) (x, y, z) into block, chunk by chunk,
    so that a missing or undecodable chunk is named."""
    array = zarr.open(ref.path, mode="r")
    if ref.array_path:
        array = array[ref.array_path]
    lead = (0,) * (array.ndim - 3)
    zyx_lo, zyx_hi = lo[::-1], hi[::-1]
    chunks = array.chunks[-3:]
    ranges = [range(a // c, (b - 1) // c + 1) for a, b, c in zip(zyx_lo, zyx_hi, chunks)]
    for cz in ranges[0]:
        for cy in ranges[1]:
            for cx in ranges[2]:
                coords = lead + (cz, cy, cx)
                name = _chunk_name(ref, array, coords)
                if array._chunk_key(coords) not in array.chunk_store:
                    raise SourceError(f"{name}: source chunk is missing")
                start = [max(c * n, a) for c, n, a in zip((cz, cy, cx), chunks, zyx_lo)]
                stop = [min((c + 1) * n, b) for c, n, b in zip((cz, cy, cx), chunks, zyx_hi)]
                selection = lead + tuple(slice(a, b) for a, b in zip(start, stop))
                try:
                    values = array[selection]
                except Exception as exc:  # the codecs raise their own kinds
                    raise SourceError(f"{name}: source chunk cannot be decoded ({exc})") from exc
                target = tuple(slice(a - o, b - o) for a, b, o in zip(start, stop, block_lo[::-1]))
                block[target] = values.reshape(block[target].shape)


def _read_nifti_box(ref, lo, hi, block, block_lo):
    """Copies voxels [lo, hi) of a NIfTI file into block; only the bytes of
    the box are read from an uncompressed file."""
    import nibabel.fileslice
    import nibabel.openers

    sliceobj = tuple(slice(a, b) for a, b in zip(lo, hi))
    try:
        with nibabel.openers.ImageOpener(ref.data_path) as f:
            values = nibabel.fileslice.fileslice(f, sliceobj, ref.shape, np.dtype(ref.dtype), ref.vox_offset,
                                                 order="F")
    except (OSError, EOFError, ValueError) as exc:
        raise SourceError(f"{ref.path}: cannot read voxels {list(lo)}..{list(hi)} ({exc})") from exc
    target = tuple(slice(a - o, b - o) for a, b, o in zip(lo[::-1], hi[::-1], block_lo[::-1]))
    block[target] = values.T


def read_block(ref, lo, hi, block_lo, block_hi):
    """A C-ordered (z, y, x) block of source voxels [block_lo, block_hi)
    (x, y, z) holding the voxels [lo, hi); the rest stays zero and is never
    read by the sampling."""
    shape = tuple(b - a for a, b in zip(block_lo[::-1], block_hi[::-1]))
    block = np.zeros(shape, dtype=np.dtype(ref.dtype))
    if ref.kind == "zarr":
        _read_zarr_box(ref, lo, hi, block, block_lo)
    else:
        _read_nifti_box(ref, lo, hi, block, block_lo)
    return block
