"""reslice gives the program's output: the same file, byte for byte, and
the same values held in memory as a nibabel image."""

import os

import nibabel as nib
import numpy as np
import pytest

import volaccess
from conftest import AFFINE, run_program, stored_values, write_image

# Where the 80 bytes of a NIfTI-1 header's description start.
DESCRIP = 148

ROTATION = np.array([[0.96, -0.28, 0.0, 1.5],
                     [0.28, 0.96, 0.0, -2.0],
                     [0.0, 0.0, 1.0, 0.75],
                     [0.0, 0.0, 0.0, 1.0]])


@pytest.fixture
def images(tmp_path):
    source = write_image(tmp_path / "s.nii", stored_values(">i2", (9, 8, 7)), scale=0.5, offset=3.0)
    like = write_image(tmp_path / "r.nii", stored_values("<u1", (6, 7, 5)),
                       affine=AFFINE @ np.diag([1.3, 0.9, 1.1, 1.0]))
    affine_file = tmp_path / "a.txt"
    affine_file.write_text("\n".join(" ".join(repr(v) for v in row) for row in ROTATION) + "\n")
    return source, like, str(affine_file)


@pytest.mark.parametrize("hold,dtype", [(1, "float32"), (0, "source"), (3, "float64"), (-4, "int16"), (1, "uint8")])
def test_out_file_is_the_program_output_byte_for_byte(tmp_path, images, hold, dtype):
    source, like, affine_file = images
    expected = tmp_path / "program.nii"
    run_program("reslice", source, "--like", like, "--affine", affine_file, "--hold", str(hold),
                "--datatype", dtype, "--background", "-1.5", "--quiet", "-o", str(expected))
    got = volaccess.reslice(source, like, affine=ROTATION, hold=hold, background=-1.5, dtype=dtype,
                            out=tmp_path / "package.nii")
    assert got == str(tmp_path / "package.nii")
    # Byte for byte but the description, where the program names the
    # affine's file and the package, given an array, has none to name.
    program, package = expected.read_bytes(), (tmp_path / "package.nii").read_bytes()
    assert program[:DESCRIP] + program[DESCRIP + 80:] == package[:DESCRIP] + package[DESCRIP + 80:]
    assert package[DESCRIP:DESCRIP + 80].startswith(b"volaccess reslice hold " + str(hold).encode())


@pytest.mark.parametrize("dtype", [None, "float32"])
def test_label_reslice_is_the_program_output_byte_for_byte(tmp_path, images, dtype):
    _, like, affine_file = images
    rng = np.random.default_rng(5)
    source = write_image(tmp_path / "labels.nii", np.asfortranarray(rng.choice([0, 3, 4, 40], (9, 8, 7)).astype("<u1")))
    expected = tmp_path / "program.nii"
    # The program's datatype default for labels is the source's, as the package's.
    chosen = [] if dtype is None else ["--datatype", dtype]
    run_program("reslice", source, "--like", like, "--affine", affine_file, "--hold", "label", *chosen,
                "--quiet", "-o", str(expected))
    volaccess.reslice(source, like, affine=ROTATION, hold="label", dtype=dtype, out=tmp_path / "package.nii")
    program, package = expected.read_bytes(), (tmp_path / "package.nii").read_bytes()
    assert program[:DESCRIP] + program[DESCRIP + 80:] == package[:DESCRIP] + package[DESCRIP + 80:]
    assert package[DESCRIP:DESCRIP + 80].startswith(b"volaccess reslice hold label")
    image = nib.load(tmp_path / "package.nii")
    assert image.get_data_dtype() == (np.uint8 if dtype is None else np.float32)
    assert np.all(np.isin(np.asanyarray(image.dataobj), [0, 3, 4, 40]))


def test_in_memory_result_holds_the_program_values_and_the_reference_geometry(tmp_path, images):
    source, like, affine_file = images
    expected = tmp_path / "program.nii"
    run_program("reslice", source, "--like", like, "--hold", "-3", "--datatype", "float64", "--quiet",
                "-o", str(expected))
    image = volaccess.reslice(volaccess.load(source), nib.load(like), hold=-3, dtype="float64")
    assert isinstance(image, nib.Nifti1Image)
    program = nib.load(expected)
    assert image.shape == program.shape == (6, 7, 5)
    assert np.array_equal(image.affine, program.affine)
    got = np.asanyarray(image.dataobj).view(np.uint64)
    assert np.array_equal(got, np.asanyarray(program.dataobj).view(np.uint64))


def test_result_does_not_depend_on_the_thread_count(images):
    source, like, _ = images
    one = volaccess.reslice(source, like, affine=ROTATION, hold=-5, dtype="float64", threads=1)
    two = volaccess.reslice(source, like, affine=ROTATION, hold=-5, dtype="float64", threads=2)
    assert np.array_equal(np.asanyarray(one.dataobj).view(np.uint64), np.asanyarray(two.dataobj).view(np.uint64))


BAD_RESLICES = [
    ("unknown dtype", dict(dtype="int7"), ValueError, "dtype: 'int7' is none of int8, uint8, int16"),
    ("dtype of no kind", dict(dtype=object()), TypeError, "dtype: expected a name"),
    ("affine of 3x3", dict(affine=np.eye(3)), ValueError, "affine: expected a 4x4 array"),
    ("affine of text", dict(affine=[["a"] * 4] * 4), TypeError, "affine: expected a path or a 4x4 array"),
    ("affine not affine", dict(affine=np.ones((4, 4))), ValueError, "affine: the last row of the matrix must be"),
    ("singular affine", dict(affine=np.diag([1.0, 0.0, 1.0, 1.0])), ValueError, "affine: the affine is singular"),
    ("affine with nan", dict(affine=np.diag([1.0, np.nan, 1.0, 1.0])), ValueError, "not every element is a finite"),
    ("affine and fsl", dict(affine=np.eye(4), fsl=np.eye(4)), ValueError, "transforms, fsl and affine exclude"),
    ("transforms as one path", dict(transforms="a.txt"), TypeError, "transforms: expected a sequence"),
    ("transform pair not inverse", dict(transforms=[("a.txt", "back")]), ValueError, "transforms: .* neither"),
    ("output of no image format", dict(out="x.png"), ValueError,
     r"x.png: the output must end in .nii, .nii.gz, .mgh, .mgz, .nrrd, .nhdr, .mha or .mhd"),
    ("hold out of range", dict(hold=200), ValueError, "hold=200 is out of range"),
    ("hold of no kind", dict(hold=1.5), TypeError, "hold: expected a whole number or a kernel's name, got float"),
    ("like and voxel size", dict(voxel_size=2), ValueError, r"reslice\(\) takes either like or voxel_size"),
    ("voxel size of text", dict(like=None, voxel_size="2"), TypeError, "voxel_size: expected one size"),
    ("voxel size of two", dict(like=None, voxel_size=(1, 2)), ValueError, "voxel_size: expected one size .* got 2"),
    ("voxel size zero", dict(like=None, voxel_size=(1, 0, 1)), ValueError,
     r"voxel_size: \(1, 0, 1\) holds a size that is not a positive"),
    ("shape without voxel size", dict(like=None, shape=(4, 4, 4)), ValueError, "shape needs voxel_size"),
    ("shape of zero", dict(like=None, voxel_size=2, shape=(4, 0, 4)), ValueError, "shape: .* holds a count"),
    ("shape beyond 64 bits", dict(like=None, voxel_size=2, shape=(4, 2**70, 4)), ValueError, "holds a count"),
    ("no grid", dict(like=None), ValueError, r"reslice\(\) needs like=REFERENCE or voxel_size=MM"),
    ("background of text", dict(background="0"), TypeError, "background: expected a number"),
    ("nan background in integers", dict(background=np.nan, dtype=np.int16), ValueError,
     r"reslice\(\): the background nan cannot be stored in int16: give background a number, or dtype='float32'"),
    ("volume below 0", dict(volume=-1), ValueError, "volume"),
    ("volume of text", dict(volume="1"), TypeError, "volume: expected a whole number"),
    ("clip of text", dict(clip="yes"), TypeError, "clip: expected True or False"),
    ("threads of text", dict(threads="2"), TypeError, "threads: expected a whole number"),
    ("threads beyond 32 bits", dict(threads=2**40), ValueError, "threads=.* must be 1 to"),
    ("mask of a number", dict(mask=3), TypeError, "mask: expected the path"),
]


@pytest.mark.parametrize("case", BAD_RESLICES, ids=[c[0] for c in BAD_RESLICES])
def test_bad_reslice_argument_raises_and_writes_nothing(tmp_path, images, case):
    source, like, _ = images
    _, options, error, words = case
    options.setdefault("like", like)
    before = sorted(os.listdir(tmp_path))
    with pytest.raises(error, match=words) as raised:
        volaccess.reslice(source, **options)
    # Python's own words: no option of the program, no file of its own.
    assert "--" not in str(raised.value) and "volaccess-" not in str(raised.value)
    assert sorted(os.listdir(tmp_path)) == before


def test_numpy_dtypes_and_scalars_are_taken_as_python_ones(images):
    source, like, _ = images
    by_type = volaccess.reslice(source, like, dtype=np.int16, background=np.float32(-1), hold=np.int64(1))
    by_name = volaccess.reslice(source, like, dtype="int16", background=-1)
    assert by_type.get_data_dtype() == np.int16
    assert by_type.file_map["image"].fileobj.getvalue() == by_name.file_map["image"].fileobj.getvalue()


def test_a_source_of_no_kind_is_a_type_error(images):
    _, like, _ = images
    with pytest.raises(TypeError, match="source: expected a path, a Volume or a nibabel image, got int"):
        volaccess.reslice(3, like)


def test_missing_reference_raises_file_not_found(tmp_path, images):
    source, _, _ = images
    with pytest.raises(FileNotFoundError, match="none.nii: cannot open"):
        volaccess.reslice(source, tmp_path / "none.nii")
