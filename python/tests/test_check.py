"""volaccess.check: the program's check picture, as an array or a file."""

import doctest
import os
import sys

import nibabel as nib
import numpy as np
import pytest

import volaccess
from conftest import AFFINE, ROOT, run_program, write_image

sys.path.insert(0, os.path.join(ROOT, "tests", "tools", "e2e"))
from test_slice import read_png  # noqa: E402


@pytest.fixture
def images(tmp_path):
    box = np.zeros((30, 26, 22), np.float32)
    box[8:20, 6:18, 5:15] = 100
    box[12:16, 9:13, 8:12] = 40
    labels = (box > 50).astype(np.int16) * 4 + (box == 40).astype(np.int16) * 9
    return {"image": write_image(tmp_path / "image.nii", np.roll(box, 1, axis=1), AFFINE),
            "ref": write_image(tmp_path / "ref.nii", box, AFFINE),
            "labels": write_image(tmp_path / "labels.nii", labels, AFFINE)}


def program_picture(tmp_path, image, ref, *options):
    out = str(tmp_path / "program.png")
    run_program("check", image, ref, "-o", out, *options)
    width, height, _, rows = read_png(out)
    with open(out, "rb") as f:
        return np.frombuffer(b"".join(rows), np.uint8).reshape(height, width, 3), f.read()


CASES = [
    ({}, []),
    ({"planes": ["sagittal", "axial"], "positions": [30, 60], "size": (100, 80)},
     ["--planes", "sagittal,axial", "--positions", "30,60", "--size", "100x80"]),
    ({"window": (10, 90), "hold": "cubic", "edges": 0.1}, ["--window", "10,90", "--hold", "cubic", "--edges", "0.1"]),
    ({"checkerboard": 5}, ["--checkerboard", "5"]),
    ({"labels": "ref"}, ["--labels", "ref"]),
]


@pytest.mark.parametrize("kwargs, options", CASES)
def test_array_and_file_are_the_program_picture(tmp_path, images, kwargs, options):
    ref = images["labels"] if kwargs.get("labels") == "ref" else images["ref"]
    expected, png = program_picture(tmp_path, images["image"], ref, *options)
    np.testing.assert_array_equal(volaccess.check(images["image"], ref, threads=2, **kwargs), expected)
    out = str(tmp_path / "python.png")
    assert volaccess.check(images["image"], ref, out, **kwargs) == out
    with open(out, "rb") as f:
        assert f.read() == png


def test_nibabel_images_in_memory_and_labels_as_image(tmp_path, images):
    expected, _ = program_picture(tmp_path, images["labels"], images["ref"], "--labels", "image")
    in_memory = [nib.Nifti1Image(np.asanyarray(nib.load(images[k]).dataobj), AFFINE) for k in ("labels", "ref")]
    for image in in_memory:
        image.set_sform(AFFINE, 1)
    np.testing.assert_array_equal(volaccess.check(*in_memory, labels="image"), expected)


@pytest.mark.parametrize("kwargs, named", [
    ({"planes": ["axial", "top"]}, "planes"), ({"positions": [101]}, "positions"), ({"size": (4, 300)}, "size"),
    ({"size": (2 ** 40, 64)}, "size"), ({"size": (4000, 4000)}, "size"), ({"window": (3, 3)}, "window"), ({"checkerboard": 1}, "checkerboard"),
    ({"checkerboard": 4, "labels": "image"}, "checkerboard"), ({"labels": "both"}, "labels"),
    ({"edges": 1.5}, "edges"), ({"hold": "label"}, "label"), ({"positions": 50}, "positions"),
    ({"size": (64.5, 64)}, "size"), ({"window": (1,)}, "window"), ({"planes": ["axial", 3]}, "planes"),
    ({"checkerboard": 2.5}, "checkerboard"), ({"edges": "x"}, "edges"),
])
def test_bad_arguments_raise_value_error_naming_them_and_write_nothing(tmp_path, images, kwargs, named):
    out = tmp_path / "bad.png"
    with pytest.raises(ValueError, match=named):
        volaccess.check(images["image"], images["ref"], out, **kwargs)
    assert not out.exists()


def test_output_must_be_png(tmp_path, images):
    with pytest.raises(ValueError, match="x.jpg"):
        volaccess.check(images["image"], images["ref"], tmp_path / "x.jpg")


def test_docstring_example_runs():
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner()
    for test in finder.find(volaccess.check, "check", globs={}):
        runner.run(test)
    assert runner.summarize(verbose=False).failed == 0
    assert runner.summarize(verbose=False).attempted > 0
