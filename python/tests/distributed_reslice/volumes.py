"""Volumes and transforms shared by the distributed tests."""

import numpy as np

# A source whose chunking divides none of its counts (z, y, x).
SHAPE_ZYX = (13, 17, 19)
SOURCE_CHUNKS_ZYX = (5, 6, 7)


def rotation(degrees, axis, centre):
    """A world-space rotation about `axis` (0 x, 1 y, 2 z) through `centre`."""
    t = np.deg2rad(degrees)
    c, s = np.cos(t), np.sin(t)
    a, b = [i for i in range(3) if i != axis]
    r = np.eye(4)
    r[a, a], r[a, b], r[b, a], r[b, b] = c, -s, s, c
    move, back = np.eye(4), np.eye(4)
    move[:3, 3], back[:3, 3] = -np.asarray(centre), centre
    return back @ r @ move


def ramp_volume(shape_zyx=SHAPE_ZYX, dtype="<u2", seed=7):
    """Random voxels: every interpolation weight shows in the result."""
    rng = np.random.default_rng(seed)
    return rng.integers(0, 4000, size=shape_zyx).astype(dtype)
