"""nibabel images are sampled as nibabel shows them: from their file only
while the object still matches it, else from the object's header, exact
affine and data."""

import nibabel as nib
import numpy as np
import pytest

import volaccess
from conftest import AFFINE, stored_values, write_image

# A translation that float32, the sform of NIfTI-1, cannot hold.
MOVED = AFFINE.copy()
MOVED[0, 3] = 0.123456789012345


def set_sform(image):
    image.set_sform(MOVED)


def edit_fdata(image):
    image.get_fdata()[1, 2, 3] = 99.0


def edit_header(image):
    image.header["descrip"] = b"edited"


def rewrite_file(image):
    write_image(image.get_filename(), stored_values(">i2", (7, 6, 5), seed=9), scale=2.0)


# (what is done to the image read from its file, whether it is still mapped from the file)
CHANGES = [
    ("untouched", lambda image: None, True),
    ("set_sform", set_sform, False),
    ("edited through get_fdata", edit_fdata, False),
    ("header edited", edit_header, False),
    ("file rewritten after loading", rewrite_file, False),
]

VOXELS = np.array([[1, 2, 3], [0, 0, 0], [6, 5, 4], [3, 1, 2]])


def assert_shown_as_nibabel_shows(image, volume):
    assert np.array_equal(volume.affine, image.affine)
    shown = image.get_fdata(caching="unchanged")[tuple(VOXELS.T)]
    assert np.array_equal(volume.sample(VOXELS, space="voxel", hold=0), shown)
    world = VOXELS @ image.affine[:3, :3].T + image.affine[:3, 3] + 0.3
    assert np.all(np.isfinite(volume.sample(world, background=np.nan)[:2]))


@pytest.mark.parametrize("case", CHANGES, ids=[c[0] for c in CHANGES])
def test_image_from_a_file_is_mapped_only_while_it_matches_the_file(tmp_path, case):
    _, change, from_file = case
    path = write_image(tmp_path / "v.nii", stored_values(">i2", (7, 6, 5)), scale=0.5, offset=3.0)
    image = nib.load(path)
    change(image)
    with volaccess.load(image) as volume:
        assert volume.path == (path if from_file else None)
        assert_shown_as_nibabel_shows(image, volume)


# Images held in memory, each as nibabel makes them.
IN_MEMORY = [
    ("NIfTI-1", lambda data: nib.Nifti1Image(data, MOVED)),
    ("NIfTI-2", lambda data: nib.Nifti2Image(data, MOVED)),
    ("NIfTI-1 pair", lambda data: nib.Nifti1Pair(data, MOVED)),
    ("MGH", lambda data: nib.MGHImage(data.astype(np.float32), MOVED)),
    ("big-endian array", lambda data: nib.Nifti1Image(data.astype(">f8"), MOVED)),
]


@pytest.mark.parametrize("case", IN_MEMORY, ids=[c[0] for c in IN_MEMORY])
def test_image_in_memory_gives_its_exact_affine_and_values(case):
    _, make = case
    image = make(stored_values("<i2", (7, 6, 5)))
    with volaccess.load(image) as volume:
        assert volume.path is None
        assert_shown_as_nibabel_shows(image, volume)


def test_voxel_size_that_is_not_finite_raises_value_error_in_memory_and_from_an_edited_file(tmp_path):
    header = nib.Nifti1Header()
    header["pixdim"][1:4] = np.nan
    in_memory = nib.Nifti1Image(np.zeros((3, 3, 3), np.float32), None, header=header)
    with pytest.raises(ValueError, match=r"<nibabel image>: pixdim\[1\] is not finite"):
        volaccess.load(in_memory)
    path = str(tmp_path / "nan.nii")
    in_memory.to_filename(path)
    edited = nib.load(path)
    edited.get_fdata()[0, 0, 0] = 1.0
    with pytest.raises(ValueError, match="<nibabel image>: its affine has entries that are not finite"):
        volaccess.load(edited)


def test_object_that_is_no_image_raises_type_error():
    with pytest.raises(TypeError, match="image must be a path or a nibabel image, got list"):
        volaccess.load([1, 2, 3])
