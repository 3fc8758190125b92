"""The output store: an OME-NGFF 0.4 multiscale image with nested chunk
keys (z/y/x), written block by block, marked complete only after every
block of every level is in place."""

import dataclasses
import errno
import os
import shutil

import numpy as np
import zarr

from .. import _native
from . import ome
from .grids import ATTRIBUTE


@dataclasses.dataclass(frozen=True)
class OutputRef:
    """What a task needs to write into the store: picklable, small."""

    path: str
    dtype: str
    scale: float  # stored = (value - offset) / scale, as the program writes
    offset: float
    shapes: tuple = ()  # x, y, z of each level, finest first


def ome_transform(affine):
    """Scale and translation (z, y, x) for viewers that read only OME-Zarr:
    exact for an axis-aligned affine; the voxel sizes and origin of an
    oblique one, whose exact affine the "volaccess" attribute keeps."""
    a = np.asarray(affine, dtype=float)
    sizes = np.sqrt((a[:3, :3] ** 2).sum(axis=0))
    if np.count_nonzero(a[:3, :3] - np.diag(np.diag(a[:3, :3]))) == 0:
        sizes = np.diag(a[:3, :3])
    return [float(v) for v in sizes[::-1]], [float(v) for v in a[2::-1, 3]]


def check_background(out, dtype, scale, offset, background):
    """Refuses a background that an integer store with this scale and offset
    cannot hold exactly, as the one-machine reslice refuses it."""
    dt = np.dtype(dtype)
    if dt.kind == "f":
        return
    stored = np.round((background - offset) / scale) if np.isfinite(background) else np.nan
    info = np.iinfo(dt)
    if not (np.isfinite(stored) and info.min <= stored <= info.max and stored * scale + offset == background):
        raise ValueError(f"{out}: the background {background!r} cannot be stored in {dt.name} (scale {scale!r}, "
                         f"offset {offset!r}): give a background the source's type holds, or dtype float32")


def _disk_error(path, exc):
    """An OSError naming the store, for a write the file system refused."""
    if isinstance(exc, OSError) and not isinstance(exc, FileExistsError):
        reason = exc.strerror or str(exc)
        if exc.errno == errno.ENOSPC:
            reason = "no space left on the device"
        return OSError(exc.errno, f"{path}: cannot write the output ({reason})")
    return exc


def create(path, levels, dtype, chunks, background, scale=1.0, offset=0.0, unit=None, downsampling="mean",
           large_output=False):
    """Creates the output store at path (which must not exist) with one
    array per level, levels being (Grid) finest first, and an unfinished
    mark. A store that cannot be created whole is removed. A finest level
    larger than the free space of its file system is refused (ValueError)
    before anything is written, unless large_output."""
    path = os.fspath(path)
    if os.path.exists(path):
        raise FileExistsError(f"{path}: the output exists already; choose a new name or remove it")
    dt = np.dtype(dtype)
    _native._check_output_size(tuple(reversed(levels[0].shape)), dt.name, dt.itemsize, path=path,
                               large_output=large_output)
    try:
        root = zarr.open_group(zarr.storage.DirectoryStore(path, dimension_separator="/"), mode="w-")
        described = []
        for n, grid in enumerate(levels):
            shape = tuple(reversed(grid.shape))
            root.create_dataset(str(n), shape=shape, chunks=tuple(min(c, s) for c, s in zip(chunks[::-1], shape)),
                                dtype=dtype, fill_value=None, write_empty_chunks=True, dimension_separator="/")
            described.append((str(n), *ome_transform(grid.affine)))
        root.attrs.put({
            "multiscales": ome.multiscales(os.path.basename(path.rstrip("/")), unit, described, downsampling),
            ATTRIBUTE: {
                "affine": np.asarray(levels[0].affine, dtype=float).tolist(),
                "levels": [np.asarray(g.affine, dtype=float).tolist() for g in levels],
                "scale": scale,
                "offset": offset,
                "background": background,
                "complete": False,
            },
        })
    except BaseException as exc:
        shutil.rmtree(path, ignore_errors=True)
        raise _disk_error(path, exc) from exc
    return OutputRef(path=path, dtype=np.dtype(dtype).str, scale=scale, offset=offset,
                     shapes=tuple(g.shape for g in levels))


def mark_complete(ref):
    """Marks the store complete; written after every chunk is in place."""
    root = zarr.open_group(ref.path, mode="r+")
    mark = dict(root.attrs[ATTRIBUTE])
    mark["complete"] = True
    try:
        root.attrs[ATTRIBUTE] = mark
    except OSError as exc:
        raise _disk_error(ref.path, exc) from exc


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


def real_values(stored, ref):
    """The real values (float64) of stored voxels."""
    return stored.astype(float) * ref.scale + ref.offset


def level_array(ref, level, mode="r+"):
    return zarr.open(os.path.join(ref.path, str(level)), mode=mode)


def write_block(ref, level, lo_zyx, values):
    """Writes stored values (z, y, x) at lo_zyx into a level; an OSError
    names the store."""
    selection = tuple(slice(a, a + n) for a, n in zip(lo_zyx, values.shape))
    try:
        level_array(ref, level)[selection] = values
    except OSError as exc:
        raise _disk_error(ref.path, exc) from exc
