"""The coarser levels of an output pyramid, each halved along every axis
from the level before it, as Dask tasks that read the finer level from the
store once its blocks are written.

Downsampling: the mean of each 2x2x2 cell of real values (a box filter,
the least smoothing that halves without aliasing every frequency the
finer level holds, and what viewers assume), or for nearest-neighbour
outputs (hold 0: labels, masks) the cell's first voxel, so that a level
holds only values the finer one holds. An odd count keeps its last voxel:
the cell is cut by the edge and averages the voxels it holds. A mean with
a not-a-number voxel (a background of NaN) is not a number.
"""

import math

import numpy as np

from . import output, plan

VIEWER_SIZE = 256  # "auto" halves until no axis holds more voxels than this


def halved(shape):
    return tuple(-(-n // 2) for n in shape)


def level_count(shape, levels):
    """Levels of a pyramid over `shape` (x, y, z): "auto" halves until every
    axis fits VIEWER_SIZE; a count is taken as it is (at least one)."""
    if levels == "auto":
        return 1 + max(0, math.ceil(math.log2(max(shape) / VIEWER_SIZE)))
    if isinstance(levels, bool) or not isinstance(levels, (int, np.integer)) or levels < 1:
        raise ValueError(f"levels must be 'auto' or a positive count, not {levels!r}")
    return int(levels)


def level_affine(affine, level, nearest):
    """Voxel-to-world affine of a level: voxels 2^level times larger, the
    first one centred on the cell it stands for (on the cell's first
    voxel for nearest-neighbour levels)."""
    factor = 2.0 ** level
    step = np.diag([factor, factor, factor, 1.0])
    if not nearest:
        step[:3, 3] = (factor - 1.0) / 2.0
    return np.asarray(affine, dtype=float) @ step


def halve(values, nearest):
    """One 2x2x2 halving of real values (z, y, x)."""
    if nearest:
        return values[::2, ::2, ::2]
    even = [(0, n % 2) for n in values.shape]
    padded = np.pad(values, even, mode="edge")
    nz, ny, nx = (n // 2 for n in padded.shape)
    return padded.reshape(nz, 2, ny, 2, nx, 2).mean(axis=(1, 3, 5))


def halve_block(ref, level, lo, count, chunks, nearest, *written):
    """One task: the block [lo, lo + count) (x, y, z) of `level`, chunk by
    chunk from the finer level's store. `written` are the tasks of the
    finer level's blocks it reads, which it waits for."""
    finer = output.level_array(ref, level - 1, mode="r")
    for box in plan.chunk_boxes(count, chunks):
        start = [2 * (a + b) for a, b in zip(lo, box.lo)][::-1]
        stop = [min(2 * (a + b + n), s) for a, b, n, s in zip(lo, box.lo, box.count, ref.shapes[level - 1])][::-1]
        values = finer[tuple(slice(a, b) for a, b in zip(start, stop))]
        coarse = halve(output.real_values(values, ref), nearest)
        at = [a + b for a, b in zip(lo, box.lo)][::-1]
        output.write_block(ref, level, at, output.stored_values(coarse, ref.dtype, ref.scale, ref.offset))
    return level


def _level_block(block, shape, chunks):
    return tuple(min(b, -(-n // c) * c) for b, n, c in zip(block, shape, chunks))


def tasks(ref, block, chunks, finest_keys, nearest, name):
    """The graph of levels 1 and up: ({key: task}, their keys), finest_keys
    being the level-0 write tasks indexed (z, y, x) by block. A level's
    blocks hold as many voxels as the finest level's, so each reads the
    eight (or fewer, at the edges) finer blocks under it."""
    graph, finer = {}, finest_keys
    for level in range(1, len(ref.shapes)):
        level_block = _level_block(block, ref.shapes[level], chunks)
        finer_block = _level_block(block, ref.shapes[level - 1], chunks)
        extent = [-(-n // b) for n, b in zip(ref.shapes[level - 1], finer_block)]
        current = {}
        for box in plan.chunk_boxes(ref.shapes[level], level_block):
            under = [range(2 * a // f, min((2 * (a + n) - 1) // f + 1, e))
                     for a, n, f, e in zip(box.lo, box.count, finer_block, extent)]
            needs = [finer[(z, y, x)] for z in under[2] for y in under[1] for x in under[0]]
            index = tuple(a // b for a, b in zip(box.lo, level_block))[::-1]
            key = (f"{name}-level{level}",) + index
            graph[key] = (halve_block, ref, level, box.lo, box.count, chunks, nearest, *needs)
            current[index] = key
        finer = current
    return graph, list(graph)
