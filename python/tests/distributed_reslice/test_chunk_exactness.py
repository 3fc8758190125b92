"""A chunk task's values against the whole volume's, bit for bit: the
block a task reads must give what the whole volume gives, at the true
edges too, for every kernel whose reach crosses source chunk borders."""

import numpy as np
import pytest
import zarr

from volaccess.distributed import _blocks, grids, lazy, output, plan

from .volumes import SOURCE_CHUNKS_ZYX, ramp_volume, rotation

SHAPE_XYZ = (19, 17, 13)


def translation(t):
    m = np.eye(4)
    m[:3, 3] = t
    return m


# The output grid: one voxel beyond the source at the high ends.
OUT_XYZ = tuple(n + 1 for n in SHAPE_XYZ)


def whole_volume(voxels, matrix, hold, background):
    """The library on the whole volume: one block that is the volume."""
    return _blocks.resample_box(voxels, (0, 0, 0), voxels.shape[::-1], np.array(matrix), (0, 0, 0), OUT_XYZ, hold,
                                background, 1.0, 0.0)


def chunked(path, voxels, matrix, hold, background, chunks):
    """The same grid assembled from chunk tasks run here."""
    ref = grids.SourceRef(kind="zarr", path=path, array_path="", shape=voxels.shape[::-1], dtype=voxels.dtype.str,
                          scale=1.0, offset=0.0)
    result = np.empty(OUT_XYZ[::-1])
    for box in plan.chunk_boxes(OUT_XYZ, chunks):
        job = lazy.Job(source=ref, matrix=matrix, chunks=chunks, hold=hold, background=background, dtype="<f8",
                       scale=1.0, offset=0.0)
        (x, y, z), (nx, ny, nz) = box.lo, box.count
        result[z:z + nz, y:y + ny, x:x + nx] = lazy.sample_box(job, box)
    return result


# Translations put samples exactly on the kernels' rims: x = dim + 0.05
# (inside for the Lagrange and sinc kernels only), 0.95, dim + 0.5 and 0.5
# (nearest neighbour), and just inside and outside them.
CASES = [
    (0, "<u2", translation((0.5, -0.5, 0.49))),
    (0, ">i2", translation((-0.5, 0.5, 0.0))),
    (1, "<u2", translation((0.05, -0.05, 0.04))),
    (1, "<f4", translation((-0.04, 0.05, -0.05))),
    (1, "u1", rotation(23, 2, (9.0, 8.0, 6.0))),
    (3, "<u2", translation((0.05, 0.05, -0.05))),
    (3, ">f8", rotation(-31, 0, (9.0, 8.0, 6.0)) @ translation((0.3, 1.7, -0.2))),
    (2, "<i4", translation((-0.05, 0.06, 0.05))),
    (5, "<u2", rotation(14, 1, (2.0, 3.0, 4.0))),
    (-3, "<u2", translation((0.05, -0.05, 0.05))),
    (-3, ">u2", rotation(40, 2, (9.0, 8.0, 6.0))),
    (-1, "<f4", translation((-0.05, 0.05, 0.5))),
    (-6, "<i2", rotation(-12, 1, (9.0, 0.0, 6.0)) @ translation((0.05, 0.05, 0.05))),
]


@pytest.mark.parametrize("hold,dtype,transform", CASES)
def test_chunk_tasks_give_the_whole_volume_bits(tmp_path, hold, dtype, transform):
    voxels = ramp_volume(dtype=dtype)
    path = str(tmp_path / "source.zarr")
    zarr.save_array(path, voxels, chunks=SOURCE_CHUNKS_ZYX)
    matrix = plan.check_matrix(transform)
    expected = whole_volume(voxels, matrix, hold, -7.5)
    got = chunked(path, voxels, matrix, hold, -7.5, chunks=(4, 5, 3))
    assert np.array_equal(got.view(np.uint64), expected.view(np.uint64))
    # The rims were reached: some samples inside, some outside.
    assert 0 < np.count_nonzero(expected == -7.5) < expected.size


def test_block_short_of_the_kernel_reach_is_refused():
    voxels = ramp_volume()
    matrix = np.eye(4)
    block = np.ascontiguousarray(voxels[2:8, 2:8, :])
    with pytest.raises(ValueError, match="along y"):
        _blocks.resample_box(block, (0, 2, 2), SHAPE_XYZ, matrix, (0, 3, 3), (19, 1, 1), 3, 0.0, 1.0, 0.0)


def test_block_ending_at_the_last_x_voxel_must_hold_all_of_x():
    voxels = ramp_volume()
    block = np.ascontiguousarray(voxels[:, :, 5:])
    with pytest.raises(ValueError, match="start at its first"):
        _blocks.resample_box(block, (5, 0, 0), SHAPE_XYZ, np.eye(4), (12, 0, 0), (7, 17, 13), 1, 0.0, 1.0, 0.0)


@pytest.mark.parametrize("values,dtype,scale,offset,stored", [
    ([2.5, -2.5, 0.49999999999999994, -0.5, np.nan], "<i2", 1.0, 0.0, [3, -3, 0, -1, 0]),
    ([1e9, -1e9, np.inf, -np.inf], "<i2", 1.0, 0.0, [32767, -32768, 32767, -32768]),
    ([300.0, -1.0, 255.49], "u1", 1.0, 0.0, [255, 0, 255]),
    ([10.0, 11.0], "<u2", 0.5, 10.0, [0, 2]),
    ([2.0**63, -2.0**63, 4.6e18, -0.5], "<i8", 1.0, 0.0, [2**63 - 1, -2**63, 4600000000000000000, -1]),
    ([1.5e19, 2.0**64, -1.0, 2.5], "<u8", 1.0, 0.0, [15000000000000000000, 2**64 - 1, 0, 3]),
    ([1.0 / 3.0], "<f4", 1.0, 0.0, [np.float32(1.0 / 3.0)]),
])
def test_values_are_stored_as_the_program_stores_them(values, dtype, scale, offset, stored):
    got = output.stored_values(np.array(values), dtype, scale, offset)
    assert got.dtype == np.dtype(dtype)
    assert got.tolist() == np.array(stored, dtype=dtype).tolist()
