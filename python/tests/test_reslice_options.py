"""reslice with each of the program's options writes the program's file,
byte for byte, and holds the same bytes in memory."""

import struct

import nibabel as nib
import numpy as np
import pytest

import volaccess
from conftest import AFFINE, run_program, stored_values, write_image

SHIFT = np.array([[0.96, -0.28, 0.0, 1.5],
                  [0.28, 0.96, 0.0, -2.0],
                  [0.0, 0.0, 1.0, 0.75],
                  [0.0, 0.0, 0.0, 1.0]])


def itk_text(path, parameters):
    """An ITK affine transform text file with the centre at the origin."""
    path.write_text("#Insight Transform File V1.0\n#Transform 0\nTransform: AffineTransform_double_3_3\n"
                    f"Parameters: {' '.join(repr(p) for p in parameters)}\nFixedParameters: 0 0 0\n")
    return str(path)


def itk_mat(path, parameters, centre):
    """A MATLAB level-4 .mat file as ITK writes an affine transform."""
    with open(path, "wb") as f:
        for name, values in (("AffineTransform_double_3_3", parameters), ("fixed", centre)):
            values = np.asarray(values, "<f8")
            raw = name.encode() + b"\0"
            f.write(struct.pack("<5I", 0, values.size, 1, 0, len(raw)) + raw + values.tobytes())
    return str(path)


def displacement_field(path, like_affine):
    """A smooth displacement field (x, y, z, 1, 3) in LPS millimetres."""
    i, j, k = np.meshgrid(np.arange(6), np.arange(7), np.arange(5), indexing="ij")
    field = np.stack([0.3 * np.sin(i / 2.0), 0.2 * np.cos(j / 3.0), 0.1 * k], axis=-1)[:, :, :, None, :]
    image = nib.Nifti1Image(field.astype(np.float32), like_affine)
    image.header.set_intent("vector")
    image.to_filename(str(path))
    return str(path)


def matrix_file(path, m):
    path.write_text("\n".join(" ".join(repr(float(v)) for v in row) for row in m) + "\n")
    return str(path)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("reslice-options")
    like_affine = AFFINE @ np.diag([1.3, 0.9, 1.1, 1.0])
    rng = np.random.default_rng(11)
    series = np.asfortranarray(rng.normal(0, 100, (9, 8, 7, 3)).astype("<f4"))
    labels = np.asfortranarray(rng.choice([0, 3, 4, 40], (9, 8, 7)).astype("<u1"))
    mask = np.asfortranarray((rng.uniform(size=(6, 7, 5)) > 0.3).astype("<u1"))
    return {
        "source": write_image(d / "s.nii", stored_values(">i2", (9, 8, 7)), scale=0.5, offset=3.0),
        "series": write_image(d / "series.nii.gz", series),
        "labels": write_image(d / "labels.nii", labels),
        "like": write_image(d / "r.nii", stored_values("<u1", (6, 7, 5)), affine=like_affine),
        "like2": write_image(d / "r2.nii", stored_values("<u1", (6, 7, 5)), affine=like_affine, version=2),
        "mask": write_image(d / "mask.nii", mask, affine=like_affine),
        "itk": itk_text(d / "a.txt", [1.02, 0.05, 0, -0.04, 0.98, 0.01, 0, 0.02, 1.0, 1.5, -0.5, 0.25]),
        "mat": itk_mat(d / "b.mat", [0.99, 0, 0.03, 0, 1.01, 0, -0.02, 0, 1.0, -0.7, 0.4, 0.1], [1.0, 2.0, 3.0]),
        "field": displacement_field(d / "field.nii.gz", like_affine),
        "flirt": matrix_file(d / "flirt.mat", [[1, 0.02, 0, 0.8], [-0.02, 1, 0, -0.3], [0, 0, 1, 0.5], [0, 0, 0, 1]]),
        "affine": matrix_file(d / "shift.txt", SHIFT),
    }


# (program options, reslice keywords, source): names in angle brackets are
# the fixture's files; the reference is <like> unless --like says otherwise
# (None: no reference).
CASES = [
    ("itk text affine", ["--transform", "<itk>"], dict(transforms=["<itk>"]), "source"),
    (".mat affine", ["--transform", "<mat>"], dict(transforms=["<mat>"]), "source"),
    ("displacement field", ["--transform", "<field>"], dict(transforms=["<field>"]), "source"),
    ("chain with inverse", ["--transform", "<itk>", "--transform", "<mat>,inverse", "--transform", "<field>"],
     dict(transforms=["<itk>", ("<mat>", "inverse"), "<field>"]), "source"),
    ("flirt", ["--fsl", "<flirt>"], dict(fsl="<flirt>"), "source"),
    ("affine file", ["--affine", "<affine>", "--hold", "-4"], dict(affine="<affine>", hold=-4), "source"),
    ("nifti-2 reference", ["--like", "<like2>"], dict(like="<like2>"), "source"),
    ("voxel size", ["--voxel-size", "2", "--like", None], dict(voxel_size=2, like=None), "source"),
    ("voxel sizes and shape", ["--voxel-size", "1.5,2,2.5", "--shape", "5,6,7", "--like", None],
     dict(voxel_size=(1.5, 2, 2.5), shape=(5, 6, 7), like=None), "source"),
    ("labels", ["--hold", "label"], dict(hold="label"), "labels"),
    ("labels as float32", ["--hold", "label", "--datatype", "float32"], dict(hold="label", dtype="float32"),
     "labels"),
    ("clip", ["--hold", "-5", "--clip"], dict(hold=-5, clip=True), "source"),
    ("mask", ["--mask", "<mask>", "--background", "-7"], dict(mask="<mask>", background=-7), "source"),
    ("series", ["--hold", "3"], dict(hold=3), "series"),
    ("one volume of a series", ["--volume", "2"], dict(volume=1), "series"),
    ("nan background", ["--background", "nan", "--datatype", "float64"], dict(background=np.nan, dtype="float64"),
     "source"),
] + [(f"datatype {t}", ["--datatype", t, "--background", "-1.5"], dict(dtype=t, background=-1.5), "source")
     for t in ["int8", "uint8", "int16", "uint16", "int32", "uint32", "source"]]


def filled(value, files):
    """The value with each "<name>" replaced by the fixture's file."""
    if isinstance(value, str) and value.startswith("<"):
        name, _, suffix = value[1:].partition(">")
        return files[name] + suffix
    if isinstance(value, (list, tuple)):
        return type(value)(filled(v, files) for v in value)
    return value


def program_output(tmp_path, files, source, options):
    if "--like" not in options:
        options = options + ["--like", "<like>"]
    elif options[options.index("--like") + 1] is None:
        options = options[:options.index("--like")] + options[options.index("--like") + 2:]
    run_program("reslice", files[source], "--quiet", "-o", str(tmp_path / "program.nii"), *filled(options, files))
    return (tmp_path / "program.nii").read_bytes()


@pytest.mark.parametrize("case", CASES, ids=[c[0] for c in CASES])
def test_each_option_gives_the_program_bytes_in_a_file_and_in_memory(tmp_path, files, case):
    _, options, keywords, source = case
    expected = program_output(tmp_path, files, source, options)
    keywords = {name: filled(value, files) for name, value in keywords.items()}
    keywords.setdefault("like", files["like"])
    out = tmp_path / "package.nii"
    assert volaccess.reslice(files[source], out=out, **keywords) == str(out)
    assert out.read_bytes() == expected
    image = volaccess.reslice(files[source], **keywords)
    # The image reads its voxels from the bytes it was made of.
    assert image.file_map["image"].fileobj.getvalue() == expected
    nifti2 = int.from_bytes(expected[:4], "little") == 540
    assert type(image) is (nib.Nifti2Image if nifti2 else nib.Nifti1Image)


def test_a_compressed_output_is_the_program_file(tmp_path, files):
    run_program("reslice", files["series"], "--like", files["like"], "--quiet", "-o", str(tmp_path / "p.nii.gz"))
    volaccess.reslice(files["series"], files["like"], out=tmp_path / "q.nii.gz")
    assert (tmp_path / "q.nii.gz").read_bytes() == (tmp_path / "p.nii.gz").read_bytes()
