"""The engine's output size guard, as Python code meets it: an output that
cannot fit where it goes is refused before anything is written."""

import os

import numpy as np
import pytest

from volaccess import _native
from volaccess.distributed import grids, output

# 1e5 voxels a side: 4 PB of float32, more than any file system or memory here.
HUGE = (100000, 100000, 100000)


@pytest.mark.parametrize("where, words", [
    (dict(path="out.zarr"), r"out.zarr: the output takes 3.6 PiB \(100000x100000x100000 voxels of float32\), more "
                            r"than the .* free on its file system; large_output=True makes it all the same"),
    (dict(in_memory=True), r"the output: the output takes 3.6 PiB \(100000x100000x100000 voxels of float32\) in "
                           r"memory, more than half of the .* this program may use"),
])
def test_an_output_too_large_for_its_place_is_refused(tmp_path, where, words):
    if "path" in where:
        where = dict(path=os.path.join(tmp_path, where["path"]))
    with pytest.raises(ValueError, match=words):
        _native._check_output_size(HUGE, "float32", 4, **where)
    _native._check_output_size(HUGE, "float32", 4, large_output=True, **where)
    _native._check_output_size((10, 10, 10), "float32", 4, **where)


def test_the_distributed_store_is_weighed_before_it_is_created(tmp_path):
    out = os.path.join(tmp_path, "big.zarr")
    grid = grids.Grid(shape=HUGE, affine=np.eye(4))
    with pytest.raises(ValueError, match="big.zarr: the output takes"):
        output.create(out, [grid], "float32", (128, 128, 128), 0.0)
    assert os.listdir(tmp_path) == []
