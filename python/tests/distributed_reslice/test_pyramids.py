"""Pyramids out and in, nested chunk keys and the lazy array: level 0 is
the one-machine reslice bit for bit, every level opens with plain zarr and
dask.array.from_zarr, and the lazy array equals the stored one."""

import json
import os

import dask.array
import nibabel as nib
import numpy as np
import pytest
import zarr

import volaccess
from volaccess.distributed import core, grids, lazy, reslice, reslice_array

from .volumes import ramp_volume, rotation

AFFINE = np.array([[0.5, 0, 0, -4.0], [0, 0.75, 0, 2.0], [0, 0, 1.25, 6.0], [0, 0, 0, 1]])
TRANSFORM = rotation(11, 2, (4.0, 8.0, 12.0))


@pytest.fixture(scope="module")
def nifti(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pyramid")
    voxels = ramp_volume((21, 19, 23), dtype="<i2")  # z, y, x
    image = nib.Nifti1Image(np.asfortranarray(voxels.T), AFFINE)
    image.header.set_xyzt_units("mm")
    nib.save(image, folder / "source.nii")
    return folder / "source.nii"


def halved_by_hand(values):
    """Each 2x2x2 cell's mean; an odd axis's last cell averages what it holds."""
    out = np.empty(tuple(-(-n // 2) for n in values.shape))
    for z, y, x in np.ndindex(out.shape):
        out[z, y, x] = values[2 * z:2 * z + 2, 2 * y:2 * y + 2, 2 * x:2 * x + 2].mean()
    return out


def test_levels_halve_and_open_with_zarr_and_dask(nifti, tmp_path, cluster_client):
    out = str(tmp_path / "out.zarr")
    reslice(str(nifti), str(nifti), out, affine=TRANSFORM, hold=3, chunks=(8, 6, 5), levels=3,
            client=cluster_client, progress=False)
    root = zarr.open(out, mode="r")
    multiscale = root.attrs["multiscales"][0]
    assert multiscale["version"] == "0.4" and [d["path"] for d in multiscale["datasets"]] == ["0", "1", "2"]
    assert [a["unit"] for a in multiscale["axes"]] == ["millimeter"] * 3
    expected = np.asarray(volaccess.reslice(str(nifti), str(nifti), affine=TRANSFORM, hold=3).dataobj).T
    assert root["0"][:].tobytes() == np.ascontiguousarray(expected).tobytes()
    finer = root["0"][:].astype(float)
    for n in (1, 2):
        stored = root[str(n)]
        assert stored.shape == tuple(-(-s // 2) for s in finer.shape)
        assert np.array_equal(dask.array.from_zarr(out, component=str(n)).compute(), stored[:])
        assert stored[:].tobytes() == halved_by_hand(finer).astype(np.float32).tobytes()
        transforms = multiscale["datasets"][n]["coordinateTransformations"]
        size = 2.0 ** n
        assert transforms == [{"type": "scale", "scale": [1.25 * size, 0.75 * size, 0.5 * size]},
                              {"type": "translation", "translation": [6.0 + 1.25 * (size - 1) / 2,
                                                                      2.0 + 0.75 * (size - 1) / 2,
                                                                      -4.0 + 0.5 * (size - 1) / 2]}]
        finer = stored[:].astype(float)


def test_chunk_keys_are_nested(nifti, tmp_path):
    out = core.reslice_here(str(nifti), str(nifti), str(tmp_path / "out.zarr"), chunks=8, levels=2)
    for level in ("0", "1"):
        assert json.load(open(os.path.join(out, level, ".zarray")))["dimension_separator"] == "/"
        assert os.path.isfile(os.path.join(out, level, "0", "0", "0"))
    assert not any("." in name for name in os.listdir(os.path.join(out, "0")) if not name.startswith("."))


def test_nearest_levels_hold_only_values_of_the_finer_one(nifti, tmp_path):
    out = core.reslice_here(str(nifti), str(nifti), str(tmp_path / "out.zarr"), hold=0, chunks=8, levels=2,
                            affine=TRANSFORM)
    root = zarr.open(out, mode="r")
    assert np.array_equal(root["1"][:], root["0"][::2, ::2, ::2])
    assert root.attrs["multiscales"][0]["datasets"][1]["coordinateTransformations"][1]["translation"] == \
        [6.0, 2.0, -4.0]


def test_auto_levels_stop_at_a_viewer_sized_level():
    from volaccess.distributed import pyramid

    assert [pyramid.level_count(s, "auto") for s in [(20, 30, 40), (256, 1, 1), (257, 9, 9), (8192, 8192, 600)]] \
        == [1, 1, 2, 6]


def test_lazy_array_equals_the_store(nifti, tmp_path, cluster_client):
    lazy_values = reslice_array(str(nifti), str(nifti), affine=TRANSFORM, hold=-4, dtype="source", chunks=(7, 9, 5))
    assert isinstance(lazy_values, dask.array.Array)
    assert lazy_values.chunksize == (5, 9, 7) and lazy_values.dtype == np.dtype("<i2")
    out = str(tmp_path / "out.zarr")
    reslice(str(nifti), str(nifti), out, affine=TRANSFORM, hold=-4, dtype="source", chunks=(7, 9, 5),
            client=cluster_client, progress=False, levels=1)
    stored = zarr.open(out, mode="r")["0"][:]
    assert cluster_client.compute(lazy_values).result().tobytes() == stored.tobytes()
    # It composes: a reduction over it is the reduction over the store.
    assert (lazy_values.astype(np.int64) * 3).sum().compute() == stored.astype(np.int64).sum() * 3


def write_two_levels(path, voxels):
    """An OME-Zarr image of voxels 1 mm wide and its halving, 2 mm wide."""
    root = zarr.open_group(path, mode="w")
    root.create_dataset("full", data=voxels, chunks=(6, 6, 6))
    from volaccess.distributed import pyramid

    root.create_dataset("half", data=pyramid.halve(voxels.astype(float), False).astype("<f4"), chunks=(6, 6, 6))
    axes = [{"name": n, "type": "space", "unit": "millimeter"} for n in "zyx"]
    root.attrs["multiscales"] = [{"version": "0.4", "axes": axes, "datasets": [
        {"path": "full", "coordinateTransformations": [{"type": "scale", "scale": [1.0, 1.0, 1.0]}]},
        {"path": "half", "coordinateTransformations": [{"type": "scale", "scale": [2.0, 2.0, 2.0]},
                                                       {"type": "translation", "translation": [0.5, 0.5, 0.5]}]}]}]


@pytest.mark.parametrize("spacing,chosen", [(0.5, 0), (1.0, 0), (1.9, 0), (2.0, 1), (3.0, 1)])
def test_auto_reads_the_coarsest_level_not_coarser_than_the_output(tmp_path, spacing, chosen):
    source = str(tmp_path / "source.zarr")
    write_two_levels(source, ramp_volume((16, 16, 16), dtype="<f4"))
    like = nib.Nifti1Image(np.zeros((4, 4, 4), np.float32), np.diag([spacing, spacing, spacing, 1.0]))
    like.header.set_xyzt_units("mm")
    nib.save(like, tmp_path / "like.nii")
    levels = grids.source_levels(source)
    assert lazy.pick_level(levels, grids.open_grid(str(tmp_path / "like.nii")), np.eye(4), "auto") == chosen


def test_a_coarse_output_samples_the_coarser_level_as_one_machine_would(tmp_path):
    source = str(tmp_path / "source.zarr")
    voxels = ramp_volume((16, 16, 16), dtype="<f4")
    write_two_levels(source, voxels)
    like = nib.Nifti1Image(np.zeros((7, 6, 5), np.float32), np.diag([2.5, 2.5, 2.5, 1.0]))
    like.header.set_xyzt_units("mm")
    nib.save(like, tmp_path / "like.nii")
    got = core.reslice_here(source, str(tmp_path / "like.nii"), str(tmp_path / "out.zarr"), hold=3)
    half = zarr.open(source, mode="r")["half"][:]
    nib.save(nib.Nifti1Image(np.asfortranarray(half.T), grids.source_levels(source)[1][1].affine),
             tmp_path / "half.nii")
    expected = np.asarray(volaccess.reslice(str(tmp_path / "half.nii"), str(tmp_path / "like.nii"), hold=3).dataobj).T
    assert zarr.open(got, mode="r")["0"][:].tobytes() == np.ascontiguousarray(expected).tobytes()
    full = core.reslice_here(source, str(tmp_path / "like.nii"), str(tmp_path / "full.zarr"), hold=3, level=0)
    assert zarr.open(full, mode="r")["0"][:].tobytes() != expected.tobytes()
