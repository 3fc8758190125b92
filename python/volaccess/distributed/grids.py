"""Opening sources and reference grids: Zarr arrays, OME-Zarr images and
NIfTI files, with their geometry, and reading blocks of their voxels.

Axes: blocks are (z, y, x), x varying fastest; the geometry is a 4x4
affine in nibabel's convention (0-based voxel indices (x, y, z) to world).
An OME-Zarr image takes each level's geometry from its OME-NGFF 0.4
metadata (ome.py), whatever the order of its space axes; a store written by
this package also keeps the exact affine of each level (oblique ones
included) under the "volaccess" attribute, which wins. A plain Zarr array
is (z, y, x) with unit voxels at the origin.
"""

import dataclasses
import itertools
import json
import os

import numpy as np
import zarr

from . import ome
from .errors import SourceError

ATTRIBUTE = "volaccess"
# NIfTI's length units as nibabel names them, in OME-NGFF's words.
NIFTI_UNITS = {"meter": "meter", "mm": "millimeter", "micron": "micrometer"}


@dataclasses.dataclass(frozen=True)
class Grid:
    """The voxel grid of an image: counts along x, y, z, its affine and the
    unit of its world coordinates (an OME-NGFF name, or None)."""

    shape: tuple
    affine: np.ndarray
    unit: str = None


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
    order: tuple = (0, 1, 2)  # Zarr: the array axes of z, y and x; the others have length one


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


def _attributes(path, node):
    try:
        return dict(node.attrs)
    except json.JSONDecodeError as exc:
        raise SourceError(f"{path}: .zattrs is not JSON ({exc})") from exc


def _check_dtype(path, array):
    if array.dtype.kind not in "iuf" or array.dtype.itemsize > 8 or array.dtype == np.float16:
        raise SourceError(f"{path}: voxels of dtype {array.dtype} cannot be sampled")


def _completion_mark(path, attrs):
    mark = attrs.get(ATTRIBUTE, {})
    if not isinstance(mark, dict):
        ome.Fields(path).fail(ATTRIBUTE, "expected an object")
    if mark and not mark.get("complete", False):
        raise SourceError(f"{path}: an unfinished output of an interrupted reslice (no completion mark)")
    return mark


def _group_levels(path, node, attrs, mark):
    def shape_of(name):
        return node[name].shape if name in node and isinstance(node[name], zarr.Array) else None

    image = ome.read_image(path, attrs, shape_of)
    exact = mark.get("levels", [mark["affine"]] if "affine" in mark else [])
    levels = []
    for n, level in enumerate(image.levels):
        array = node[level.path]
        _check_dtype(path, array)
        affine = np.array(exact[n], dtype=float) if n < len(exact) else _axis_affine(level.scale, level.translation)
        shape = tuple(int(array.shape[a]) for a in reversed(level.order))
        ref = SourceRef(kind="zarr", path=path, array_path=level.path, shape=shape, dtype=array.dtype.str,
                        scale=float(mark.get("scale", 1.0)), offset=float(mark.get("offset", 0.0)),
                        order=level.order)
        levels.append((ref, Grid(shape=shape, affine=affine, unit=image.unit)))
    return levels


def zarr_levels(path):
    """[(SourceRef, Grid)] of each level of a Zarr store, finest first: the
    levels of an OME-Zarr image, or a plain (z, y, x) array alone. Raises
    SourceError naming the store (and the field) for what cannot be used."""
    path = os.fspath(path)
    if not os.path.exists(path):
        raise SourceError(f"{path}: no such Zarr store")
    try:
        node = zarr.open(path, mode="r")
    except Exception as exc:  # zarr raises several kinds for a bad store
        raise SourceError(f"{path}: not a readable Zarr store ({exc})") from exc
    attrs = _attributes(path, node)
    mark = _completion_mark(path, attrs)
    if isinstance(node, zarr.hierarchy.Group):
        return _group_levels(path, node, attrs, mark)
    if node.ndim != 3:
        raise SourceError(f"{path}: expected a 3-D (z, y, x) array, found shape {node.shape}")
    _check_dtype(path, node)
    shape = tuple(int(n) for n in reversed(node.shape))
    ref = SourceRef(kind="zarr", path=path, array_path="", shape=shape, dtype=node.dtype.str, scale=1.0, offset=0.0)
    return [(ref, Grid(shape=shape, affine=np.eye(4)))]


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
    image = nibabel.load(path)
    proxy = image.dataobj
    unit = NIFTI_UNITS.get(image.header.get_xyzt_units()[0])
    ref = SourceRef(kind="nifti", path=path, array_path="", shape=shape, dtype=dtype.str, scale=scale,
                    offset=offset, vox_offset=int(proxy.offset), data_path=os.fspath(proxy.file_like))
    return ref, Grid(shape=shape, affine=affine, unit=unit)


def source_levels(path):
    """[(SourceRef, Grid)] of a source path, finest level first."""
    return zarr_levels(path) if is_zarr_path(path) else [open_nifti(path)]


def open_source(path):
    """The SourceRef and Grid of a source's finest level."""
    return source_levels(path)[0]


def open_grid(path):
    """The Grid of a reference path (Zarr, OME-Zarr or NIfTI): its finest level."""
    return open_source(path)[1]


class ChunkReader:
    """Reads blocks of a Zarr source for one task, decoding each source
    chunk once however many of the task's blocks overlap it, and naming a
    missing or undecodable chunk."""

    def __init__(self, ref):
        self.ref = ref
        array = zarr.open(ref.path, mode="r")
        self.array = array[ref.array_path] if ref.array_path else array
        self.decoded = {}
        chunks, shape = self.array.chunks, self.array.shape
        self.chunks = tuple(chunks[a] for a in ref.order)
        self.shape = tuple(shape[a] for a in ref.order)
        # Storage order of z, y, x once the length-one axes are indexed away.
        self.transpose = tuple(sorted(ref.order).index(a) for a in ref.order)

    def chunk(self, zyx):
        """The voxels (z, y, x) of source chunk zyx, decoded once."""
        if zyx in self.decoded:
            return self.decoded[zyx]
        coords, selection = [0] * self.array.ndim, [0] * self.array.ndim
        for a, c, n, size in zip(self.ref.order, zyx, self.chunks, self.shape):
            coords[a], selection[a] = c, slice(c * n, min((c + 1) * n, size))
        key = self.array._chunk_key(tuple(coords))
        name = os.path.join(self.ref.path, key)
        if key not in self.array.chunk_store:
            raise SourceError(f"{name}: source chunk is missing")
        try:
            values = self.array[tuple(selection)]
        except Exception as exc:  # the codecs raise their own kinds
            raise SourceError(f"{name}: source chunk cannot be decoded ({exc})") from exc
        self.decoded[zyx] = values.transpose(self.transpose)
        return self.decoded[zyx]

    def read(self, lo, hi, block, block_lo):
        """Copies source voxels [lo, hi) (x, y, z) into block."""
        zyx_lo, zyx_hi = lo[::-1], hi[::-1]
        ranges = [range(a // c, (b - 1) // c + 1) for a, b, c in zip(zyx_lo, zyx_hi, self.chunks)]
        for zyx in itertools.product(*ranges):
            start = [max(c * n, a) for c, n, a in zip(zyx, self.chunks, zyx_lo)]
            stop = [min((c + 1) * n, b) for c, n, b in zip(zyx, self.chunks, zyx_hi)]
            inside = tuple(slice(a - c * n, b - c * n) for a, b, c, n in zip(start, stop, zyx, self.chunks))
            target = tuple(slice(a - o, b - o) for a, b, o in zip(start, stop, block_lo[::-1]))
            block[target] = self.chunk(zyx)[inside]


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


def read_block(ref, lo, hi, block_lo, block_hi, reader=None):
    """A C-ordered (z, y, x) block of source voxels [block_lo, block_hi)
    (x, y, z) holding the voxels [lo, hi); the rest stays zero and is never
    read by the sampling. A Zarr source is read through `reader` (a
    ChunkReader shared by the blocks of one task), or a new one."""
    shape = tuple(b - a for a, b in zip(block_lo[::-1], block_hi[::-1]))
    block = np.zeros(shape, dtype=np.dtype(ref.dtype))
    if ref.kind == "zarr":
        (reader or ChunkReader(ref)).read(lo, hi, block, block_lo)
    else:
        _read_nifti_box(ref, lo, hi, block, block_lo)
    return block
