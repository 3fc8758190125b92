"""The output store: an OME-Zarr image written chunk by chunk, marked
complete only after its last chunk."""

import dataclasses
import os
import shutil

import numpy as np
import zarr

from .. import _native
from .grids import ATTRIBUTE

LEVEL = "0"


@dataclasses.dataclass(frozen=True)
class OutputRef:
    """What a chunk task needs to write its chunk: picklable, small."""

    path: str
    dtype: str
    scale: float  # stored = (value - offset) / scale, as the program writes
    offset: float


def _ome_axes(axes):
    if len(axes) == 3:
        return [dict(a) for a in axes]
    return [{"name": n, "type": "space"} for n in ("z", "y", "x")]


def _ome_transform(affine):
    """Scale and translation (z, y, x) for viewers that read only OME-Zarr:
    exact for an axis-aligned affine; the voxel sizes and origin of an
    oblique one, whose exact affine the "volaccess" attribute keeps."""
    a = np.asarray(affine, dtype=float)
    sizes = np.sqrt((a[:3, :3] ** 2).sum(axis=0))
    if np.count_nonzero(a[:3, :3] - np.diag(np.diag(a[:3, :3]))) == 0:
        sizes = np.diag(a[:3, :3])
    return [float(v) for v in sizes[::-1]], [float(v) for v in a[2::-1, 3]]


def create(path, grid, dtype, chunks, background, scale=1.0, offset=0.0, large_output=False):
    """Creates the output store at path (which must not exist) for a grid,
    with its geometry and an unfinished mark. A store larger than the free
    space of its file system is refused (ValueError) before anything is
    written, unless large_output."""
    path = os.fspath(path)
    if os.path.exists(path):
        raise FileExistsError(f"{path}: the output exists already; choose a new name or remove it")
    dt = np.dtype(dtype)
    _native._check_output_size(tuple(reversed(grid.shape)), dt.name, dt.itemsize, path=path,
                               large_output=large_output)
    scale_zyx, translation_zyx = _ome_transform(grid.affine)
    root = zarr.open_group(path, mode="w-")
    try:
        root.create_dataset(LEVEL, shape=tuple(reversed(grid.shape)), chunks=tuple(reversed(chunks)),
                            dtype=dtype, fill_value=None, write_empty_chunks=True)
        root.attrs.put({
            "multiscales": [{
                "version": "0.4",
                "name": os.path.basename(path.rstrip("/")),
                "axes": _ome_axes(grid.axes),
                "datasets": [{
                    "path": LEVEL,
                    "coordinateTransformations": [
                        {"type": "scale", "scale": scale_zyx},
                        {"type": "translation", "translation": translation_zyx},
                    ],
                }],
            }],
            ATTRIBUTE: {
                "affine": np.asarray(grid.affine, dtype=float).tolist(),
                "scale": scale,
                "offset": offset,
                "background": background,
                "complete": False,
            },
        })
    except BaseException:
        shutil.rmtree(path, ignore_errors=True)
        raise
    return OutputRef(path=path, dtype=np.dtype(dtype).str, scale=scale, offset=offset)


def mark_complete(ref):
    """Marks the store complete; written after every chunk is in place."""
    root = zarr.open_group(ref.path, mode="r+")
    mark = dict(root.attrs[ATTRIBUTE])
    mark["complete"] = True
    root.attrs[ATTRIBUTE] = mark


def remove(ref):
    """Removes an output that did not finish."""
    shutil.rmtree(ref.path, ignore_errors=True)


def stored_values(values, dtype, scale, offset):
    """Real values converted as the program stores them: (v - offset) /
    scale, then a float cast, or for integers rounded half away from zero
    and clamped to the type's range (not a number stores 0)."""
    raw = (values - offset) / scale
    dt = np.dtype(dtype)
    if dt.kind == "f":
        return raw.astype(dt)
    info = np.iinfo(dt)
    fraction, whole = np.modf(np.abs(raw))
    whole += fraction >= 0.5
    rounded = np.copysign(whole, raw, out=whole)
    rounded[np.isnan(raw)] = 0.0
    if dt.itemsize <= 4:
        # Every bound of these types is a double: clamping is exact.
        return np.clip(rounded, info.min, info.max, out=rounded).astype(dt)
    # 2^63 - 1 and 2^64 - 1 are no doubles: decide on 2^63 and 2^64.
    high_exclusive = 2.0 ** (info.bits - (1 if info.min < 0 else 0))
    too_low, too_high = rounded <= float(info.min), rounded >= high_exclusive
    out = np.where(too_low | too_high, 0.0, rounded).astype(dt)
    out[too_low], out[too_high] = info.min, info.max
    return out


def write_chunk(ref, box, values):
    """Writes one chunk's real values (shaped z, y, x) into the store."""
    array = zarr.open(os.path.join(ref.path, LEVEL), mode="r+")
    x0, y0, z0 = box.lo
    nx, ny, nz = box.count
    array[z0:z0 + nz, y0:y0 + ny, x0:x0 + nx] = stored_values(values, ref.dtype, ref.scale, ref.offset)
