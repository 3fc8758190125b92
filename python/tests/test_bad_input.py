"""Bad input gives a clear exception naming what is wrong, and leaves the
interpreter healthy: no crash, no leaked memory or descriptors."""

import gzip
import os
import shutil

import numpy as np
import pytest

import volaccess
from conftest import stored_values, write_image


@pytest.fixture
def volume(tmp_path):
    with volaccess.load(write_image(tmp_path / "v.nii", stored_values("<i2", (7, 6, 5)))) as v:
        yield v


ARRAY = stored_values("<i2", (7, 6, 5))

# (call on a volume or on sample_array, what it raises, words of the message)
BAD_SAMPLES = [
    ("points of two columns", lambda v: v.sample([[1, 2]]), ValueError, r"expected an \(N, 3\) array, got shape \(1, 2\)"),
    ("flat points", lambda v: v.sample([1, 2, 3]), ValueError, r"got shape \(3,\)"),
    ("text points", lambda v: v.sample([["a", "b", "c"]]), ValueError, "is not a real number type"),
    ("object points", lambda v: v.sample(np.array([[1, 2, None]])), ValueError, "dtype object"),
    ("complex points", lambda v: v.sample(np.ones((2, 3), complex)), ValueError, "dtype complex128"),
    ("bool points", lambda v: v.sample(np.ones((2, 3), bool)), ValueError, "dtype bool"),
    ("ragged points", lambda v: v.sample([[1, 2, 3], [1, 2]]), ValueError, "points"),
    ("unknown space", lambda v: v.sample([[1, 2, 3]], space="mm"), ValueError, "'mm' is none of world, voxel"),
    ("misspelt keyword", lambda v: v.sample([[1, 2, 3]], spcae="voxel"), TypeError, "unexpected keyword argument 'spcae'"),
    ("space by position", lambda v: v.sample([[1, 2, 3]], "voxel"), TypeError, "takes 1 positional argument"),
    ("points twice", lambda v: v.sample([[1, 2, 3]], points=[[1, 2, 3]]), TypeError, "multiple values for argument 'points'"),
    ("no points", lambda v: v.sample(space="voxel"), TypeError, "missing the argument points"),
    ("space not text", lambda v: v.sample([[1, 2, 3]], space=1), TypeError, "space= must be a string, got int"),
    ("background text", lambda v: v.sample([[1, 2, 3]], background="0"), TypeError, "background= must be a number, got str"),
    ("gradient text", lambda v: v.sample([[1, 2, 3]], gradient="yes"), TypeError, "gradient= must be True or False"),
    ("threads fraction", lambda v: v.sample([[1, 2, 3]], threads=1.5), TypeError, "threads= must be a whole number"),
    ("threads past 64 bits", lambda v: v.sample([[1, 2, 3]], threads=10**30), ValueError, "must be 1 to 1024"),
    ("slice shape of one side", lambda v: v.slice(np.eye(4), (2,)), TypeError, r"slice\(\): shape= must be two whole numbers"),
    ("slice background text", lambda v: v.slice(np.eye(4), (2, 2), background="0"), TypeError, "background= must be a number"),
    ("array scale text", lambda v: volaccess.sample_array(ARRAY, [[1, 1, 1]], scale="2"), TypeError,
     r"sample_array\(\): scale= must be a number, got str"),
    ("array threads fraction", lambda v: volaccess.sample_array(ARRAY, [[1, 1, 1]], threads=2.0), TypeError, "threads="),
    ("volume as text", lambda v: volaccess.load(v.path, volume="1"), TypeError, "volume must be a whole number or None"),
    ("Lagrange too high", lambda v: v.sample([[1, 2, 3]], hold=171), ValueError, "hold=171 is out of range: Lagrange"),
    ("sinc too wide", lambda v: v.sample([[1, 2, 3]], hold=-255), ValueError, "hold=-255 is out of range: windowed-sinc"),
    ("hold not whole", lambda v: v.sample([[1, 2, 3]], hold=2.5), ValueError, "hold=2.5 is not a whole number"),
    ("hold of no kernel", lambda v: v.sample([[1, 2, 3]], hold="bicubic"), ValueError, "hold='bicubic' is none of nearest"),
    ("hold past 64 bits", lambda v: v.sample([[1, 2, 3]], hold=10**30), ValueError, "is out of range: Lagrange"),
    ("no threads", lambda v: v.sample([[1, 2, 3]], threads=0), ValueError, "threads=0 must be 1 to 1024"),
    ("label gradient", lambda v: v.sample([[1, 2, 3]], hold="label", gradient=True), ValueError, "hold='label' has no gradient"),
    ("label slice", lambda v: v.slice(np.eye(4), (2, 2), hold="label"), ValueError, "hold='label' is not available in slice"),
    ("label sample_array", lambda v: volaccess.sample_array(ARRAY, [[1, 1, 1]], hold="label"), ValueError, "not available in sample_array"),
    ("slice matrix 3x3", lambda v: v.slice(np.eye(3), (2, 2)), ValueError, "expected a 4x4 array"),
    ("slice of no pixels", lambda v: v.slice(np.eye(4), (0, 2)), ValueError, "each side must be 1"),
    ("slice to infinity", lambda v: v.slice(np.zeros((4, 4)), (2, 2)), ValueError, r"its w becomes 0"),
    ("2-D array", lambda v: volaccess.sample_array(np.zeros((3, 3)), [[1, 1, 1]]), ValueError, "expected a 3-D array"),
    ("4-D array", lambda v: volaccess.sample_array(np.zeros((3, 3, 3, 2)), [[1, 1, 1]]), ValueError, "got 4 dimensions"),
    ("bool array", lambda v: volaccess.sample_array(np.zeros((3, 3, 3), bool), [[1, 1, 1]]), ValueError, "dtype bool has no kernels"),
    ("complex array", lambda v: volaccess.sample_array(np.zeros((3, 3, 3), complex), [[1, 1, 1]]), ValueError, "has no kernels"),
    ("object array", lambda v: volaccess.sample_array(np.zeros((3, 3, 3), object), [[1, 1, 1]]), ValueError, "has no kernels"),
    ("empty array", lambda v: volaccess.sample_array(np.zeros((3, 0, 3)), [[1, 1, 1]]), ValueError, "each dimension must hold 1"),
]


@pytest.mark.parametrize("case", BAD_SAMPLES, ids=[c[0] for c in BAD_SAMPLES])
def test_bad_argument_raises_a_clear_exception(volume, case):
    _, call, error, words = case
    with pytest.raises(error, match=words):
        call(volume)


def test_non_finite_points_take_the_background_as_the_program_does(volume):
    points = [[np.nan, 1, 1], [1, np.inf, 1], [1, 1, -np.inf]]
    assert np.all(volume.sample(points, space="voxel", background=-7.0) == -7.0)
    assert np.all(np.isnan(volaccess.sample_array(ARRAY, points, background=np.nan)))


def test_empty_points_give_empty_results(volume):
    assert volume.sample(np.zeros((0, 3))).shape == (0,)
    values, gradients = volume.sample(np.zeros((0, 3)), gradient=True)
    assert values.shape == (0,) and gradients.shape == (0, 3)


def header_only(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values("<i2", (7, 6, 5)))
    with open(path, "r+b") as f:
        f.truncate(400)
    return path


def series_cut_short(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values("<i2", (7, 6, 5, 3)))
    os.truncate(path, os.path.getsize(path) - 10)
    return path


def text_file(path):
    path.write_text("hello, not an image\n")
    return str(path)


# (how the file is bad, the exception type, words of the message)
BAD_FILES = [
    ("missing", lambda p: str(p / "none.nii"), FileNotFoundError, "none.nii: cannot open: No such file"),
    ("a folder", lambda p: str(p), ValueError, "is a directory"),
    ("not an image", lambda p: text_file(p / "t.nii"), ValueError, "t.nii: "),
    ("voxels missing", header_only, ValueError, "v.nii: File too small."),
    ("series missing the end of its last volume", series_cut_short, ValueError, "v.nii: File too small."),
]


@pytest.mark.parametrize("case", BAD_FILES, ids=[c[0] for c in BAD_FILES])
def test_bad_file_raises_the_program_message_naming_it(tmp_path, case):
    _, make, error, words = case
    with pytest.raises(error, match=words):
        volaccess.load(make(tmp_path))


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file_raises_permission_error(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values("<i2", (7, 6, 5)))
    os.chmod(path, 0)
    with pytest.raises(PermissionError, match="v.nii: cannot open: Permission denied"):
        volaccess.load(path)


def test_file_truncated_after_loading_raises_oserror_naming_it(tmp_path):
    path = write_image(tmp_path / "v.nii", stored_values("<i2", (7, 6, 5)))
    with volaccess.load(path) as volume:
        with open(path, "r+b") as f:
            f.truncate(360)
        with pytest.raises(OSError, match="v.nii: the image changed on disk"):
            volume.sample([[1, 1, 1]])
        with pytest.raises(OSError, match="v.nii: the image changed on disk"):
            volume.slice(np.eye(4), (2, 2))


def zeros_at_the_end(count):
    """Voxels of which the last `count` are zero, the rest not."""
    data = np.ones(count + 2000, np.int16)
    data[-count:] = 0
    return data.reshape((1000, -1, 1), order="F")


# (the voxels, how many bytes to cut from the end, whether the call fails)
SHRINKS = [
    ("every page vanishes", stored_values("<i2", (64, 64, 8)), None, True),
    ("within the trailing zeros", zeros_at_the_end(1000), 1500, False),
    ("into the last non-zero voxel", zeros_at_the_end(1000), 2002, True),
    ("past a megabyte of trailing zeros", zeros_at_the_end(600_000), 100, True),
]


@pytest.mark.parametrize("case", SHRINKS, ids=[c[0] for c in SHRINKS])
def test_shrunk_file_fails_every_later_call_unless_it_lost_only_zeros(tmp_path, case):
    _, data, cut, fails = case
    path = write_image(tmp_path / "v.nii", data)
    last = np.array(data.shape) - 1
    points = np.array([[0, 0, 0], last, last - [1e-3, 0, 0]])
    with volaccess.load(path) as volume:
        expected = volume.sample(points, space="voxel")
        os.truncate(path, 0 if cut is None else os.path.getsize(path) - cut)
        for _ in range(2):
            if fails:
                with pytest.raises(OSError, match="v.nii: the image changed on disk"):
                    volume.sample(points, space="voxel")
            else:
                assert np.array_equal(volume.sample(points, space="voxel"), expected)


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_ten_thousand_failing_calls_leak_no_memory_and_no_descriptor(tmp_path):
    short = header_only(tmp_path)
    good = write_image(tmp_path / "g.nii", stored_values("<i2", (7, 6, 5)))
    volume = volaccess.load(good)
    failing = [lambda: volaccess.load(short), lambda: volaccess.load(str(tmp_path / "none.nii")),
               lambda: volume.sample([[1, 2]]), lambda: volume.sample([[1, 2, 3]], hold=999),
               lambda: volaccess.sample_array(ARRAY, [[1, 2]])]

    def fail_many(n):
        for i in range(n):
            try:
                failing[i % len(failing)]()
            except (ValueError, OSError):
                pass

    fail_many(2000)  # let caches and allocator pools settle first
    descriptors, memory = open_descriptors(), resident_bytes()
    fail_many(10_000)
    assert open_descriptors() == descriptors
    # Each failed load would hold at least a record, its planes and a
    # mapping: a leak would show as megabytes.
    assert resident_bytes() - memory < 1 << 20


def private_copies():
    """The descriptors of this process's decompressed image copies."""
    found = []
    for fd in os.listdir("/proc/self/fd"):
        try:
            if os.readlink(f"/proc/self/fd/{fd}").startswith("/memfd:volaccess-image"):
                found.append(f"/proc/self/fd/{fd}")
        except OSError:
            pass
    return found


def test_decompressed_copy_cannot_shrink_so_its_mapping_cannot_fault(tmp_path):
    data = stored_values("<i2", (7, 6, 5))
    plain = write_image(tmp_path / "v.nii", data)
    packed = tmp_path / "v.nii.gz"
    with open(plain, "rb") as f, gzip.open(packed, "wb") as g:
        shutil.copyfileobj(f, g)
    before = set(private_copies())
    with volaccess.load(packed) as volume:
        (copy,) = set(private_copies()) - before
        with pytest.raises(PermissionError):
            os.truncate(copy, 0)
        assert volume.sample([[1, 2, 3]], space="voxel", hold=0)[0] == data[1, 2, 3]
