"""Cutting the output into chunks and bounding what each chunk reads."""

import itertools

import numpy as np
import pytest

from volaccess.distributed import plan

from .volumes import rotation



@pytest.mark.parametrize("shape,chunks", [
    ((19, 17, 13), (7, 6, 5)),
    ((8, 8, 8), (8, 8, 8)),
    ((5, 1, 3), (2, 2, 2)),
    ((1, 1, 1), (128, 128, 128)),
])
def test_chunk_boxes_cover_every_voxel_once(shape, chunks):
    seen = np.zeros(shape[::-1], dtype=int)
    for box in plan.chunk_boxes(shape, chunks):
        assert all(0 < n <= c for n, c in zip(box.count, chunks))
        (x, y, z), (nx, ny, nz) = box.lo, box.count
        seen[z:z + nz, y:y + ny, x:x + nx] += 1
    assert np.all(seen == 1)


def _all_coordinates(matrix, box):
    ranges = [range(a + 1, a + n + 1) for a, n in zip(box.lo, box.count)]
    return np.array([plan.coordinate(matrix, float(i), float(j), float(k))
                     for i, j, k in itertools.product(*ranges)])


@pytest.mark.parametrize("matrix", [
    rotation(33, 2, (3.3, 7.1, 2.0)),
    rotation(-71, 0, (0.1, 0.2, 0.3)) @ rotation(12.5, 1, (4, 4, 4)),
    np.array([[-1.1, 0.3, 1e-9, 7.25], [0.0, -0.7, 0.2, 3.0], [0.4, 0.0, -1.3, -2.0], [0, 0, 0, 1]]),
])
def test_corners_bound_every_coordinate_of_a_box_exactly(matrix):
    m = plan.check_matrix(matrix)
    box = plan.Box(lo=(3, 1, 4), count=(5, 9, 2))
    coords = _all_coordinates(m, box)
    low, high = plan.coordinate_bounds(m, box)
    assert tuple(coords.min(axis=0)) == low
    assert tuple(coords.max(axis=0)) == high


def test_region_reaching_the_last_x_voxel_holds_all_of_x():
    # A shift that sends the box to the source's high x end.
    matrix = plan.check_matrix(np.array([[1, 0, 0, 14.0], [0, 1, 0, 2.0], [0, 0, 1, 3.0], [0, 0, 0, 1]]))
    region = plan.source_region(matrix, plan.Box(lo=(0, 0, 0), count=(4, 3, 2)), (19, 17, 13), hold=3)
    assert region.hi[0] == 19 and region.lo[0] > 0
    assert region.block_lo == (0, region.lo[1], region.lo[2])
    assert region.block_hi == region.hi


@pytest.mark.parametrize("hold,reach", [(0, 2), (1, 2), (2, 2), (3, 3), (-1, 2), (-3, 3), (-254, 128)])
def test_region_carries_the_kernel_reach(hold, reach):
    assert plan.reach(hold) == reach
    matrix = plan.check_matrix(np.eye(4))
    region = plan.source_region(matrix, plan.Box(lo=(300, 300, 300), count=(2, 2, 2)), (1000,) * 3, hold)
    # Coordinates 301 and 302 (1-based) read from floor(301 - 1) - reach.
    assert region.lo == (300 - reach,) * 3
    assert region.hi == (301 + reach + 1,) * 3


@pytest.mark.parametrize("shift", [-50.0, 60.0])
def test_box_mapped_outside_the_source_reads_nothing(shift):
    matrix = plan.check_matrix(np.array([[1, 0, 0, shift], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1.0]]))
    assert plan.source_region(matrix, plan.Box(lo=(0, 0, 0), count=(4, 4, 4)), (10, 10, 10), 1).empty


def test_matrix_with_non_finite_entries_is_refused():
    bad = np.eye(4)
    bad[1, 3] = np.inf
    with pytest.raises(ValueError, match="finite"):
        plan.check_matrix(bad)


def pyramid_graph(shape, chunks, levels, max_tasks):
    from volaccess.distributed import output, pyramid

    shapes = [shape]
    for _ in range(1, levels):
        shapes.append(pyramid.halved(shapes[-1]))
    block = plan.task_block(shape, chunks, max_tasks)
    finest = {index[::-1]: ("finest",) + index[::-1] for index in itertools.product(
        *[range(-(-n // b)) for n, b in zip(shape, block)])}
    ref = output.OutputRef(path="", dtype="<f4", scale=1.0, offset=0.0, shapes=tuple(shapes))
    graph, keys = pyramid.tasks(ref, block, chunks, finest, False, "t")
    return block, finest, graph, keys


def test_an_8192_cube_plans_under_the_task_budget():
    from volaccess.distributed import core, pyramid

    shape, chunks = (8192,) * 3, (128,) * 3
    block, finest, _, keys = pyramid_graph(shape, chunks, pyramid.level_count(shape, "auto"),
                                           core.MAX_TASKS * 7 // 8)
    assert all(b % c == 0 for b, c in zip(block, chunks))
    assert len(finest) + len(keys) <= core.MAX_TASKS
    assert len(finest) <= core.MAX_TASKS * 7 // 8 < 2 * len(finest)


@pytest.mark.parametrize("shape,chunks,max_tasks", [((37, 20, 9), (4, 3, 2), 40), ((64, 64, 64), (8, 8, 8), 10)])
def test_a_coarser_block_waits_for_every_finer_block_it_reads(shape, chunks, max_tasks):
    block, finest, graph, _ = pyramid_graph(shape, chunks, 4, max_tasks)
    boxes = {key: plan.Box(lo=tuple(i * b for i, b in zip(key[1:][::-1], block)), count=None)
             for key in finest.values()}
    for key, (_, ref, level, lo, count, *_rest) in sorted(graph.items()):
        needs = set(graph[key][7:])
        finer_shape = ref.shapes[level - 1]
        finer_block = tuple(min(b, -(-n // c) * c) for b, n, c in zip(block, finer_shape, chunks))
        read = [(2 * a, min(2 * (a + n), s)) for a, n, s in zip(lo, count, finer_shape)]
        overlapping = {k for k, box in boxes.items() if k[0] == ("finest" if level == 1 else f"t-level{level - 1}")
                       and all(b < hi and b + fb > lo_ for b, fb, (lo_, hi) in zip(box.lo, finer_block, read))}
        assert needs == overlapping
        boxes[key] = plan.Box(lo=lo, count=count)
