"""OME-NGFF 0.4 geometry of Zarr sources: axes by name and type, both
levels of coordinateTransformations, units, and one error naming the
store and the field for metadata that cannot be used."""

import json
import os

import numpy as np
import pytest
import zarr

from volaccess.distributed import SourceError, grids

SPACE = [{"name": n, "type": "space", "unit": "micrometer"} for n in "zyx"]


def write_image(path, shape, axes, datasets, outer=None):
    root = zarr.open_group(path, mode="w")
    for entry in datasets:
        root.create_dataset(entry["path"], shape=shape, chunks=shape, dtype="<u2")
    multiscale = {"version": "0.4", "axes": axes, "datasets": datasets}
    if outer is not None:
        multiscale["coordinateTransformations"] = outer
    root.attrs["multiscales"] = [multiscale]
    return path


def level(path, scale, translation=None):
    transforms = [{"type": "scale", "scale": scale}]
    if translation is not None:
        transforms.append({"type": "translation", "translation": translation})
    return {"path": path, "coordinateTransformations": transforms}


def test_both_levels_of_transformations_compose(tmp_path):
    path = write_image(str(tmp_path / "a.zarr"), (4, 5, 6), SPACE, [level("0", [2.0, 3.0, 4.0], [1.0, 2.0, 3.0])],
                       outer=[{"type": "scale", "scale": [0.5, 0.5, 0.25]},
                              {"type": "translation", "translation": [10.0, 20.0, 30.0]}])
    ref, grid = grids.open_source(path)
    # world = outer scale * (scale * i + translation) + outer translation, per axis.
    assert np.array_equal(grid.affine, np.array([[1.0, 0, 0, 30.75], [0, 1.5, 0, 21.0], [0, 0, 1.0, 10.5],
                                                 [0, 0, 0, 1]]))
    assert ref.shape == (6, 5, 4) and grid.unit == "micrometer"


def test_axes_in_x_y_z_order_are_read_by_name(tmp_path):
    axes = [{"name": n, "type": "space"} for n in "xyz"]
    path = write_image(str(tmp_path / "a.zarr"), (6, 5, 4), axes, [level("0", [0.5, 2.0, 3.0])])
    voxels = np.arange(120, dtype="<u2").reshape(6, 5, 4)
    zarr.open(path + "/0", mode="r+")[:] = voxels
    ref, grid = grids.open_source(path)
    assert ref.shape == (6, 5, 4) and ref.order == (2, 1, 0)
    assert np.array_equal(np.diag(grid.affine), [0.5, 2.0, 3.0, 1.0])
    block = grids.read_block(ref, (0, 0, 0), (6, 5, 4), (0, 0, 0), (6, 5, 4))
    assert np.array_equal(block, voxels.transpose(2, 1, 0))


def test_length_one_time_and_channel_axes_are_dropped(tmp_path):
    axes = [{"name": "t", "type": "time"}, {"name": "c", "type": "channel"}, *SPACE]
    path = write_image(str(tmp_path / "a.zarr"), (1, 1, 4, 5, 6), axes, [level("0", [9.0, 9.0, 1.0, 2.0, 3.0])])
    ref, grid = grids.open_source(path)
    assert ref.shape == (6, 5, 4) and ref.order == (2, 3, 4)
    assert np.array_equal(np.diag(grid.affine), [3.0, 2.0, 1.0, 1.0])


@pytest.mark.parametrize("change,field", [
    (lambda m: m.update(multiscales="image"), "multiscales: expected a list"),
    (lambda m: m["multiscales"].__setitem__(0, "image"), "multiscales[0]: expected an object"),
    (lambda m: m["multiscales"][0]["datasets"][0].pop("path"), "multiscales[0].datasets[0].path: missing"),
    (lambda m: m["multiscales"][0]["datasets"].__setitem__(0, "0"), "multiscales[0].datasets[0]: expected an object"),
    (lambda m: m["multiscales"][0]["datasets"][0]["coordinateTransformations"][0].update(scale=[1.0, 2.0]),
     "multiscales[0].datasets[0].coordinateTransformations[0].scale: expected 3 numbers"),
    (lambda m: m["multiscales"][0]["datasets"][0]["coordinateTransformations"][0].update(scale=[1.0, 0, 2.0]),
     "coordinateTransformations[0].scale: a scale of 0"),
    (lambda m: m["multiscales"][0]["datasets"][0]["coordinateTransformations"].__setitem__(0, "scale"),
     "coordinateTransformations[0]: expected an object"),
    (lambda m: m["multiscales"][0]["axes"][2].update(unit="furlong"), "axes[2].unit: 'furlong' is not a space unit"),
    (lambda m: m["multiscales"][0]["axes"][0].update(name="q", type="space"), "axis 'q' of type 'space' cannot"),
    (lambda m: m["multiscales"][0]["axes"][0].update(name="y"), "expected the space axes x, y and z once each"),
    (lambda m: m["multiscales"][0]["axes"][1].update(unit="meter"), "the space axes carry different units"),
    (lambda m: m["multiscales"][0]["axes"].pop(), "2 axes for an array of 3 dimensions"),
])
def test_unusable_metadata_names_the_store_and_the_field(tmp_path, change, field):
    path = write_image(str(tmp_path / "a.zarr"), (4, 5, 6), SPACE, [level("0", [1.0, 1.0, 1.0])])
    attrs = json.loads(open(os.path.join(path, ".zattrs")).read())
    change(attrs)
    with open(os.path.join(path, ".zattrs"), "w") as f:
        json.dump(attrs, f)
    with pytest.raises(SourceError) as caught:
        grids.open_source(path)
    assert str(caught.value).startswith(f"{path}: .zattrs: ")
    assert field in str(caught.value)


def test_attributes_that_are_not_json_name_the_store(tmp_path):
    path = write_image(str(tmp_path / "a.zarr"), (4, 5, 6), SPACE, [level("0", [1.0, 1.0, 1.0])])
    with open(os.path.join(path, ".zattrs"), "w") as f:
        f.write("{'multiscales': ")
    with pytest.raises(SourceError, match=f"{path}: .zattrs is not JSON"):
        grids.open_source(path)


def test_a_channel_axis_of_two_is_refused(tmp_path):
    axes = [{"name": "c", "type": "channel"}, *SPACE]
    path = write_image(str(tmp_path / "a.zarr"), (2, 4, 5, 6), axes, [level("0", [1.0] * 4)])
    with pytest.raises(SourceError, match="only time and channel axes of length one"):
        grids.open_source(path)
