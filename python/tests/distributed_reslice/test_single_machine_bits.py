"""The distributed reslice against volaccess.reslice on one machine, bit
for bit: Zarr, OME-Zarr and NIfTI sources whose chunking divides none of
their counts, a reference grid reaching past the source's edges, and a
rotation."""

import nibabel as nib
import numpy as np
import pytest
import zarr

import volaccess
from volaccess.distributed import reslice

from .volumes import SOURCE_CHUNKS_ZYX, ramp_volume, rotation

# Geometry exact in single precision, as a NIfTI header keeps it.
SOURCE_AFFINE = np.array([[0.5, 0, 0, -4.5], [0, 0.75, 0, 2.25], [0, 0, 1.25, 6.0], [0, 0, 0, 1]])
LIKE_AFFINE = np.array([[1.0, 0, 0, -6.0], [0, 1.0, 0, 1.0], [0, 0, 1.0, 5.0], [0, 0, 0, 1]])
LIKE_SHAPE = (12, 16, 20)
TRANSFORM = rotation(17, 2, (0.0, 8.0, 12.0)) @ rotation(-9, 0, (0.0, 8.0, 12.0))


@pytest.fixture(scope="module")
def images(tmp_path_factory):
    """The same voxels as NIfTI (scaled int16), OME-Zarr and a reference."""
    folder = tmp_path_factory.mktemp("images")
    voxels = ramp_volume(dtype="<i2")  # z, y, x
    source = nib.Nifti1Image(np.asfortranarray(voxels.T), SOURCE_AFFINE)
    source.header.set_slope_inter(0.5, 3.0)
    nib.save(source, folder / "source.nii")
    nib.save(source, folder / "source.nii.gz")
    pair = nib.Nifti1Pair(np.asfortranarray(voxels.T), SOURCE_AFFINE)
    pair.header.set_slope_inter(0.5, 3.0)
    nib.save(pair, folder / "pair.img")
    ome = str(folder / "source.ome.zarr")
    root = zarr.open_group(ome, mode="w")
    root.create_dataset("0", data=voxels, chunks=SOURCE_CHUNKS_ZYX)
    root.attrs["multiscales"] = [{"version": "0.4", "axes": [{"name": n, "type": "space"} for n in "zyx"],
                                  "datasets": [{"path": "0", "coordinateTransformations": [
                                      {"type": "scale", "scale": [1.25, 0.75, 0.5]},
                                      {"type": "translation", "translation": [6.0, 2.25, -4.5]}]}]}]
    # The same image in micrometres, its space axes stored x, y, z.
    micro = zarr.open_group(str(folder / "micrometres.ome.zarr"), mode="w")
    micro.create_dataset("0", data=voxels.transpose(2, 1, 0), chunks=SOURCE_CHUNKS_ZYX[::-1])
    micro.attrs["multiscales"] = [{"version": "0.4", "axes": [{"name": n, "type": "space", "unit": "micrometer"}
                                                              for n in "xyz"],
                                   "datasets": [{"path": "0", "coordinateTransformations": [
                                       {"type": "scale", "scale": [500.0, 750.0, 1250.0]},
                                       {"type": "translation", "translation": [-4500.0, 2250.0, 6000.0]}]}]}]
    nib.save(nib.Nifti1Image(np.zeros(LIKE_SHAPE, dtype=np.float32), LIKE_AFFINE), folder / "like.nii")
    like_mm = nib.Nifti1Image(np.zeros(LIKE_SHAPE, dtype=np.float32), LIKE_AFFINE)
    like_mm.header.set_xyzt_units("mm")
    nib.save(like_mm, folder / "like-mm.nii")
    # The Zarr copy holds stored voxels; its reference is the unscaled NIfTI.
    unscaled = nib.Nifti1Image(np.asfortranarray(voxels.T), SOURCE_AFFINE)
    unscaled.header.set_slope_inter(1.0, 0.0)
    nib.save(unscaled, folder / "unscaled.nii")
    return folder


def single_machine(source, like, hold):
    image = volaccess.reslice(str(source), str(like), affine=TRANSFORM, hold=hold, background=-1.5)
    return np.asarray(image.dataobj).T  # z, y, x


@pytest.mark.parametrize("hold", [0, 1, 3, -3])
def test_ome_zarr_source_gives_the_single_machine_bits(images, tmp_path, cluster_client, hold):
    out = str(tmp_path / "out.zarr")
    reslice(str(images / "source.ome.zarr"), str(images / "like.nii"), out, affine=TRANSFORM, hold=hold,
            background=-1.5, chunks=(5, 4, 6), client=cluster_client, progress=False)
    got = zarr.open(out, mode="r")["0"][:]
    expected = single_machine(images / "unscaled.nii", images / "like.nii", hold)
    assert got.dtype == expected.dtype == np.float32
    assert got.tobytes() == np.ascontiguousarray(expected).tobytes()
    assert 0 < np.count_nonzero(expected == -1.5) < expected.size


@pytest.mark.parametrize("name,hold", [("source.nii", 1), ("source.nii.gz", -4), ("pair.hdr", 3)])
def test_nifti_source_gives_the_single_machine_bits(images, tmp_path, cluster_client, name, hold):
    out = str(tmp_path / "out.zarr")
    reslice(str(images / name), str(images / "like.nii"), out, affine=TRANSFORM, hold=hold, background=-1.5,
            chunks=(7, 7, 7), client=cluster_client, progress=False)
    got = zarr.open(out, mode="r")["0"][:]
    expected = single_machine(images / "source.nii", images / "like.nii", hold)
    assert got.tobytes() == np.ascontiguousarray(expected).tobytes()
    assert np.array_equal(np.array(zarr.open(out, mode="r").attrs["volaccess"]["affine"]), LIKE_AFFINE)


def test_micrometre_source_on_a_millimetre_grid_gives_the_single_machine_bits(images, tmp_path, cluster_client):
    out = str(tmp_path / "out.zarr")
    reslice(str(images / "micrometres.ome.zarr"), str(images / "like-mm.nii"), out, affine=TRANSFORM, hold=3,
            background=-1.5, chunks=(5, 4, 6), client=cluster_client, progress=False)
    expected = single_machine(images / "unscaled.nii", images / "like.nii", 3)
    assert zarr.open(out, mode="r")["0"][:].tobytes() == np.ascontiguousarray(expected).tobytes()
    axes = zarr.open(out, mode="r").attrs["multiscales"][0]["axes"]
    assert [a["unit"] for a in axes] == ["millimeter"] * 3
