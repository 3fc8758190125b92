"""Cutting a reslice into chunk tasks and finding the source voxels each
one reads.

The source coordinate of output voxel (i, j, k), 1-based, is
x = ((M00*i + M01*j) + M02*k) + M03 (y and z alike), each product and sum
rounded on its own. Every step is monotone in i, j and k, so over a box of
output voxels each coordinate takes its least and greatest value at
corners: the eight corners bound the box's coordinates exactly.
"""

import dataclasses
import itertools
import math

import numpy as np


@dataclasses.dataclass(frozen=True)
class Box:
    """Output voxels [lo, lo + count) along x, y, z (0-based)."""

    lo: tuple
    count: tuple


@dataclasses.dataclass(frozen=True)
class Region:
    """Source voxels a task reads, [lo, hi), and the block that holds them,
    [block_lo, block_hi) (x, y, z, 0-based). Empty when the box maps
    wholly outside the source."""

    lo: tuple
    hi: tuple
    block_lo: tuple
    block_hi: tuple

    @property
    def empty(self):
        return any(a >= b for a, b in zip(self.lo, self.hi))


def chunk_boxes(shape, chunks):
    """The boxes of a grid of `shape` voxels cut into `chunks` (x, y, z),
    in storage order (x fastest)."""
    starts = [range(0, n, c) for n, c in zip(shape, chunks)]
    for z, y, x in itertools.product(starts[2], starts[1], starts[0]):
        lo = (x, y, z)
        yield Box(lo=lo, count=tuple(min(c, n - a) for a, c, n in zip(lo, chunks, shape)))


def reach(hold):
    """Voxels a kernel reads on each side of floor(c - 1), c 1-based, as
    the engine says."""
    from . import _blocks

    return _blocks.read_reach(hold)


def coordinate(matrix, i, j, k):
    """Source coordinates (1-based) of output voxel (i, j, k), 1-based, in
    the reslice's own order of operations."""
    m = matrix
    return tuple(((m[a][0] * i + m[a][1] * j) + m[a][2] * k) + m[a][3] for a in range(3))


def coordinate_bounds(matrix, box):
    """Least and greatest source coordinate along x, y, z over a box."""
    ends = [(a + 1.0, float(a + n)) for a, n in zip(box.lo, box.count)]
    corners = [coordinate(matrix, i, j, k) for i, j, k in itertools.product(*ends)]
    low = tuple(min(c[a] for c in corners) for a in range(3))
    high = tuple(max(c[a] for c in corners) for a in range(3))
    return low, high


def source_region(matrix, box, dims, hold):
    """The source voxels a box's samples read, and the block to hold them.

    Along each axis the voxels from floor(c - 1) - reach to floor(c - 1) +
    reach of the box's least and greatest coordinate c, within the
    volume. The block is that region, except along x when the region
    reaches the volume's last voxel but not its first: the sampling then
    needs the volume's own x extent (its row pitch is the block's), so the
    block spans all of x while only the region is read into it.
    """
    low, high = coordinate_bounds(matrix, box)
    r = reach(hold)
    lo, hi = [], []
    for a in range(3):
        if not (math.isfinite(low[a]) and math.isfinite(high[a])):
            raise ValueError("the transform sends output voxels to non-finite source coordinates")
        first = max(math.floor(low[a] - 1.0) - r, 0)
        last = min(math.floor(high[a] - 1.0) + r, dims[a] - 1)
        lo.append(first)
        hi.append(max(last + 1, first))
    block_lo, block_hi = list(lo), list(hi)
    if hi[0] == dims[0] and lo[0] > 0:
        block_lo[0] = 0
    return Region(lo=tuple(lo), hi=tuple(hi), block_lo=tuple(block_lo), block_hi=tuple(block_hi))


def check_matrix(matrix):
    """A 4x4 float64 matrix of finite numbers, as nested tuples."""
    m = np.asarray(matrix, dtype=float)
    if m.shape != (4, 4) or not np.all(np.isfinite(m)):
        raise ValueError("the reference-to-source matrix must be 4x4 and finite")
    return tuple(tuple(float(v) for v in row) for row in m)


def blocks_of(shape, block):
    """Dask chunks (z, y, x) of a grid of `shape` (x, y, z) cut into blocks
    of `block` voxels."""
    return tuple(tuple([b] * (n // b) + ([n % b] if n % b else [])) for n, b in zip(shape[::-1], block[::-1]))


def block_count(shape, block):
    return math.prod(-(-n // b) for n, b in zip(shape, block))


def task_block(shape, chunks, max_tasks):
    """The voxels (x, y, z) one task computes: `chunks` doubled along z, y
    and x in turn until the grid needs at most `max_tasks` blocks. Blocks
    stay whole multiples of the chunks, so that each task writes whole
    chunks and no two tasks write the same one."""
    block = list(chunks)
    axis = 2
    while block_count(shape, block) > max_tasks:
        whole = [-(-n // c) * c for n, c in zip(shape, chunks)]
        if block == whole:
            break
        while block[axis] >= whole[axis]:
            axis = (axis + 2) % 3
        block[axis] = min(2 * block[axis], whole[axis])
        axis = (axis + 2) % 3
    return tuple(block)
