"""Opening volumes: attributes, nibabel objects, 4-D images, closing."""

import gzip
import os
import shutil

import nibabel as nib
import numpy as np
import pytest

import volaccess
from conftest import AFFINE, ROOT, stored_values, write_image


def test_attributes_describe_the_stored_image(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values(">i2", (7, 6, 5)), scale=0.25, offset=10.0)
    with volaccess.load(path) as volume:
        assert volume.shape == (7, 6, 5)
        assert volume.dtype == np.dtype(">i2")
        assert np.array_equal(volume.affine, nib.load(path).affine)
        assert (volume.scale, volume.offset, volume.path, volume.nifti_version) == (0.25, 10.0, path, 1)


@pytest.mark.parametrize("suffix", [".nii", ".nii.gz", ".hdr", ".img"])
def test_every_file_form_gives_the_same_values(tmp_path, suffix):
    data = stored_values("<f4", (7, 6, 5))
    reference = write_image(tmp_path / "r.nii", data)
    if suffix in (".hdr", ".img"):
        nib.Nifti1Pair(data, AFFINE).to_filename(str(tmp_path / "p.img"))
        path = str(tmp_path / ("p" + suffix))
    else:
        path = write_image(tmp_path / ("v" + suffix), data)
    points = np.array([[1.2, 2.5, 3.7], [0, 0, 0], [6, 5, 4]])
    with volaccess.load(reference) as a, volaccess.load(path) as b:
        assert np.array_equal(a.sample(points, space="voxel", hold=3), b.sample(points, space="voxel", hold=3))


def test_nifti2_image_reports_its_version(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values("<u2", (7, 6, 5)), version=2)
    with volaccess.load(path) as volume:
        assert volume.nifti_version == 2


def test_nibabel_image_from_a_file_and_in_memory_agree(tmp_path):
    data = stored_values("<i4", (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data, scale=2.0, offset=1.0)
    from_file = nib.load(path)
    in_memory = nib.Nifti1Image(np.asanyarray(from_file.dataobj), from_file.affine)
    points = np.array([[0.5, 1.5, 2.5], [3, 4, 1]])
    with volaccess.load(from_file) as a, volaccess.load(in_memory) as b:
        assert a.path == path and b.path is None
        assert np.array_equal(a.sample(points), b.sample(points))


def test_four_dimensional_image_opens_whole_as_a_series_or_one_volume_counted_from_zero(tmp_path):
    data = stored_values("<i2", (7, 6, 5, 3))
    path = write_image(tmp_path / "v.nii", data)
    with pytest.raises(ValueError, match="volume=3 does not exist"):
        volaccess.load(path, volume=3)
    points = np.array([[1.2, 2.5, 3.0], [0, 0, 0], [6.5, 1, 2]])
    with volaccess.load(path) as series:
        assert series.shape == (7, 6, 5, 3)
        values, gradients = series.sample(points, space="voxel", hold=3, gradient=True)
        labels = series.sample(points, space="voxel", hold="label")
        cut = series.slice(np.eye(4), (4, 3))
    assert values.shape == labels.shape == (3, 3) and gradients.shape == (3, 3, 3) and cut.shape == (4, 3, 3)
    for t in range(3):
        with volaccess.load(path, volume=t) as volume:
            one, one_gradients = volume.sample(points, space="voxel", hold=3, gradient=True)
            assert np.array_equal(values[:, t], one) and np.array_equal(gradients[:, t], one_gradients)
            assert np.array_equal(labels[:, t], volume.sample(points, space="voxel", hold="label"))
            assert np.array_equal(cut[:, :, t], volume.slice(np.eye(4), (4, 3)))


def test_closed_volume_raises_and_context_manager_closes(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values("<u1", (7, 6, 5)))
    with volaccess.load(path) as volume:
        assert not volume.closed
    assert volume.closed
    for use in (lambda: volume.sample([[1, 1, 1]]), lambda: volume.slice(np.eye(4), (2, 2)),
                lambda: volume.scale):
        with pytest.raises(ValueError, match="the volume is closed"):
            use()


def test_gzip_image_is_read_from_a_private_copy(tmp_path):
    data = stored_values("<f8", (7, 6, 5))
    plain = write_image(tmp_path / "v.nii", data)
    packed = tmp_path / "v.nii.gz"
    with open(plain, "rb") as f, gzip.open(packed, "wb") as g:
        shutil.copyfileobj(f, g)
    with volaccess.load(packed) as volume:
        packed.unlink()
        assert volume.sample([[2, 3, 4]], space="voxel", hold=0)[0] == data[2, 3, 4]


def test_gradient_returns_values_and_one_row_of_derivatives_per_point():
    ramp = np.asfortranarray(np.fromfunction(lambda x, y, z: 2 * x + 3 * y - z, (6, 6, 6)))
    values, gradients = volaccess.sample_array(ramp, [[1.5, 2.25, 3.0], [2, 2, 2]], gradient=True)
    assert values.shape == (2,) and gradients.shape == (2, 3)
    assert np.array_equal(gradients, [[2, 3, -1], [2, 3, -1]])
    assert np.array_equal(values, [2 * 1.5 + 3 * 2.25 - 3, 8])


def test_help_of_every_public_function_says_what_it_takes():
    for function, words in [(volaccess.load, "volume"), (volaccess.sample_array, "Fortran"),
                            (volaccess.Volume.sample, "exactly 1.0"), (volaccess.Volume.slice, "pixel")]:
        assert words in function.__doc__


def test_the_package_under_test_is_the_installed_one():
    checkout = os.path.join(ROOT, "python", "volaccess")
    assert not os.path.realpath(volaccess.__file__).startswith(os.path.realpath(checkout))
