"""The other image formats in Python: FreeSurfer MGH/MGZ, NRRD and
MetaImage files load as the program reads them, and reslice writes them."""

import os

import nibabel as nib
import numpy as np
import pytest

import volaccess
from conftest import AFFINE, ROOT

ITK_FORMATS = os.path.join(ROOT, "tests", "tools", "data", "itk_formats")


def every_voxel(shape):
    return np.indices(shape).reshape(3, -1).T.astype(np.float64)


@pytest.mark.parametrize("dtype,suffix", [(np.uint8, ".mgz"), (np.int16, ".mgh"), (np.int32, ".mgz"),
                                          (np.float32, ".mgh")])
def test_mgh_loads_with_nibabels_voxels_and_affine(tmp_path, dtype, suffix):
    data = (np.arange(7 * 6 * 5).reshape(7, 6, 5) % 200).astype(dtype)
    path = str(tmp_path / ("v" + suffix))
    nib.save(nib.MGHImage(data, AFFINE), path)
    with volaccess.load(path) as volume:
        assert volume.shape == (7, 6, 5)
        # nibabel forms the voxel sizes times the cosines in float32.
        assert np.allclose(volume.affine, nib.load(path).affine, rtol=0, atol=1e-5)
        points = every_voxel(data.shape)
        values = volume.sample(points, space="voxel", hold=0)
    assert np.array_equal(values, data[tuple(points.astype(int).T)].astype(np.float64))


@pytest.mark.parametrize("name", ["image.nrrd", "detached_nrrd.nhdr", "image.mha", "detached_meta.mhd"])
def test_itk_written_files_load_with_itks_voxels(name):
    rows = np.loadtxt(os.path.join(ITK_FORMATS, "voxels_" + name + ".txt"))
    with volaccess.load(os.path.join(ITK_FORMATS, name)) as volume:
        assert np.array_equal(volume.sample(rows[:, :3], space="voxel", hold=0), rows[:, -1])


def test_a_label_map_reslices_into_mgz_with_its_labels_and_type(tmp_path):
    labels = np.zeros((12, 13, 14), np.int32)
    labels[3:9, 4:10, 5:11] = 17
    labels[5:7, 5:7, 5:7] = 53
    aseg = str(tmp_path / "aseg.mgz")
    nib.save(nib.MGHImage(labels, np.diag([-1.0, 1.0, 1.0, 1.0])), aseg)
    native = str(tmp_path / "native.nii")
    nib.save(nib.Nifti1Image(np.zeros((10, 10, 10), np.float32), np.diag([1.2, 1.2, 1.2, 1.0])), native)
    out = volaccess.reslice(aseg, native, hold="label", out=str(tmp_path / "labels.mgz"))
    result = nib.load(out)
    assert result.get_data_dtype() == np.dtype(">i4")
    assert set(np.unique(np.asarray(result.dataobj))) <= {0, 17, 53}
    assert np.allclose(result.affine, nib.load(native).affine, rtol=0, atol=1e-6)

