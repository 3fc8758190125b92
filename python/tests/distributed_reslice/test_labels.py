"""Labels on the distributed path: the label rule gives the single-machine
bits in blocks of any size, keeps the source's type, and builds pyramid
levels that hold only labels; types that would change a label are
refused, and the program hands label reslices over."""

import nibabel as nib
import numpy as np
import pytest
import zarr

import volaccess
from volaccess.distributed import core, reslice, reslice_array

from .test_program_handover import run_program
from .volumes import SOURCE_CHUNKS_ZYX, rotation

AFFINE = np.diag([0.8, 0.9, 1.1, 1.0])
TRANSFORM = rotation(23, 2, (8.0, 8.0, 8.0)) @ rotation(-11, 0, (8.0, 8.0, 8.0))


def label_map(shape_zyx=(15, 18, 21), dtype="<i4"):
    """Regions around random seeds (z, y, x), labels far apart and large:
    a blend of two would be a value no region holds."""
    rng = np.random.default_rng(3)
    seeds = rng.uniform(0, 1, (9, 3)) * shape_zyx
    grid = np.stack(np.indices(shape_zyx), axis=-1)
    nearest = np.argmin(((grid[..., None, :] - seeds) ** 2).sum(axis=-1), axis=-1)
    return (np.array([0, 7, 100, 2000, 31000, 5, 64, 900, 12]) * 1000 + 3)[nearest].astype(dtype)


@pytest.fixture(scope="module")
def labels(tmp_path_factory):
    folder = tmp_path_factory.mktemp("labels")
    voxels = label_map()
    nib.save(nib.Nifti1Image(np.asfortranarray(voxels.T), AFFINE), folder / "atlas.nii")
    store = str(folder / "atlas.zarr")
    zarr.save_array(store, voxels, chunks=SOURCE_CHUNKS_ZYX)
    # The Zarr array's voxels are 1 mm; the reference shares that grid.
    nib.save(nib.Nifti1Image(voxels.T.astype(np.float32), np.eye(4)), folder / "like.nii")
    return folder, voxels


@pytest.mark.parametrize("chunks", [(4, 5, 6), (16, 16, 16)])
def test_labels_give_the_single_machine_bits_in_the_source_type(labels, tmp_path, cluster_client, chunks):
    folder, voxels = labels
    out = str(tmp_path / "out.zarr")
    reslice(str(folder / "atlas.nii"), str(folder / "like.nii"), out, affine=TRANSFORM, hold="label",
            background=-1, chunks=chunks, levels=2, client=cluster_client, progress=False)
    levels = zarr.open(out, mode="r")
    got = levels["0"][:]
    single = np.asarray(volaccess.reslice(str(folder / "atlas.nii"), str(folder / "like.nii"), affine=TRANSFORM,
                                          hold="label", background=-1).dataobj).T
    assert got.dtype == single.dtype == np.int32
    assert got.tobytes() == np.ascontiguousarray(single).tobytes()
    assert set(np.unique(got)) <= set(np.unique(voxels)) | {-1}
    assert len(np.unique(got)) > 5
    assert np.array_equal(levels["1"][:], got[::2, ::2, ::2])


def test_lazy_labels_match_the_store(labels, tmp_path):
    folder, _ = labels
    out = core.reslice_here(str(folder / "atlas.zarr"), str(folder / "like.nii"), str(tmp_path / "here.zarr"),
                            affine=TRANSFORM, hold="label", chunks=(5, 5, 5), levels=1)
    lazy = reslice_array(str(folder / "atlas.zarr"), str(folder / "like.nii"), affine=TRANSFORM, hold="label",
                         chunks=(7, 3, 9)).compute(scheduler="sync")
    assert lazy.dtype == np.int32
    assert lazy.tobytes() == zarr.open(out, mode="r")["0"][:].tobytes()


@pytest.mark.parametrize("dtype,allowed", [("float32", False), ("float64", True)])
def test_label_types_must_hold_every_label(labels, tmp_path, dtype, allowed):
    folder, _ = labels
    out = str(tmp_path / "out.zarr")

    def call():
        return core.reslice_here(str(folder / "atlas.nii"), str(folder / "like.nii"), out, hold="label",
                                 dtype=dtype, chunks=(8, 8, 8), levels=1)

    if allowed:
        assert zarr.open(call(), mode="r")["0"].dtype == np.float64
    else:
        with pytest.raises(ValueError, match="labels of a int32 source are not all held exactly by float32"):
            call()


def test_program_hands_labels_over(labels, tmp_path, cluster_client):
    folder, _ = labels
    out = str(tmp_path / "out.zarr")
    run = run_program(str(folder / "atlas.zarr"), "--like", str(folder / "like.nii"), "-o", out, "--hold", "label",
                      "--chunks", "6", "--levels", "1", "--scheduler", cluster_client.scheduler.address)
    assert run.returncode == 0, run.stderr
    here = core.reslice_here(str(folder / "atlas.zarr"), str(folder / "like.nii"), str(tmp_path / "here.zarr"),
                             hold="label", chunks=(6, 6, 6), levels=1)
    got, expected = zarr.open(out, mode="r")["0"], zarr.open(here, mode="r")["0"]
    assert got.dtype == np.int32
    assert got[:].tobytes() == expected[:].tobytes()
