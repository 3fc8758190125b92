"""The package's values are the program's and the library's, bit for bit,
for every hold code, stored encoding and byte order."""

import numpy as np
import pytest

import volaccess
from conftest import ENCODINGS, HOLDS, run_program, stored_values, write_image


def bits(values):
    return np.ascontiguousarray(values, dtype=np.float64).view(np.uint64)


def program_samples(path, points, hold, gradient, coords="voxel1", background="0"):
    text = "".join(f"{x!r} {y!r} {z!r}\n" for x, y, z in points)
    args = ["sample", path, "--coords", coords, "--hold", str(hold), "--background", background]
    out = run_program(*(args + ["--gradient"] if gradient else args), stdin=text)
    rows = [[float(word) for word in line.split()] for line in out.splitlines()]
    return np.array(rows, dtype=np.float64)


@pytest.mark.parametrize("encoding", ENCODINGS)
def test_volume_sample_equals_program_output_bit_for_bit(tmp_path, encoding, probe_points):
    data = stored_values(encoding, (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data, scale=0.75, offset=-3.5)
    with volaccess.load(path) as volume:
        assert volume.dtype == np.dtype(encoding)
        for hold in HOLDS:
            for gradient in (False, True):
                expected = program_samples(path, probe_points, hold, gradient)
                got = volume.sample(probe_points, space="voxel1", hold=hold, gradient=gradient)
                got = np.column_stack(got) if gradient else got[:, None]
                assert np.array_equal(bits(got), bits(expected)), (hold, gradient)


@pytest.mark.parametrize("encoding", ENCODINGS)
def test_sample_array_reads_every_encoding_in_place_with_the_same_bits(tmp_path, encoding, probe_points):
    data = stored_values(encoding, (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data, scale=0.75, offset=-3.5)
    with volaccess.load(path) as volume:
        for hold in HOLDS:
            from_file = volume.sample(probe_points, space="voxel1", hold=hold, gradient=True)
            in_memory = volaccess.sample_array(data, probe_points - 1.0, hold=hold, gradient=True,
                                               scale=0.75, offset=-3.5)
            for a, b in zip(from_file, in_memory):
                assert np.array_equal(bits(a), bits(b)), hold


def test_voxel_space_adds_exactly_one_to_each_coordinate(tmp_path, probe_points):
    data = stored_values("<f4", (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data)
    zero_based = probe_points - 0.3
    with volaccess.load(path) as volume:
        for hold in (1, 3, -4):
            a = volume.sample(zero_based, space="voxel", hold=hold)
            b = volume.sample(zero_based + 1.0, space="voxel1", hold=hold)
            assert np.array_equal(bits(a), bits(b))


def test_world_points_equal_program_world_coordinates(tmp_path, probe_points):
    data = stored_values(">i2", (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data, scale=0.5, offset=2.0)
    with volaccess.load(path) as volume:
        world = probe_points[:40] @ volume.affine[:3, :3].T + volume.affine[:3, 3]
        for hold in (0, 1, -3):
            expected = program_samples(path, world, hold, False, coords="world")[:, 0]
            assert np.array_equal(bits(volume.sample(world, hold=hold)), bits(expected))


@pytest.mark.parametrize("layout", ["fortran", "c_order", "strided_view", "transposed_points"])
def test_memory_layout_of_array_and_points_changes_no_bit(layout, probe_points):
    data = stored_values("<i2", (7, 6, 5))
    points = probe_points[:40] - 1.0
    expected = volaccess.sample_array(data, points, hold=3)
    if layout == "c_order":
        got = volaccess.sample_array(np.ascontiguousarray(data), points, hold=3)
    elif layout == "strided_view":
        wide = np.zeros((14, 6, 10), dtype="<i2", order="F")
        wide[::2, :, ::2] = data
        got = volaccess.sample_array(wide[::2, :, ::2], points, hold=3)
    else:
        got = volaccess.sample_array(data, np.asfortranarray(points.T.copy()).T, hold=3)
    assert np.array_equal(bits(got), bits(expected))


def test_slice_equals_the_program_npy_output(tmp_path):
    data = stored_values("<u2", (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data, scale=1.5)
    rows = [0.9, 0.1, 0, 0.3, -0.2, 0.8, 0, 1.1, 0.05, 0.02, 1, 2.4, 0, 0, 0, 1]
    out = tmp_path / "s.npy"
    run_program("slice", path, "--transform", ",".join(map(repr, rows)), "--size", "9x8", "--hold", "-3",
                "-o", str(out))
    expected = np.load(out)
    with volaccess.load(path) as volume:
        for threads in (None, 1, 3):
            got = volume.slice(np.array(rows).reshape(4, 4), (9, 8), hold=-3, threads=threads)
            assert got.shape == expected.shape == (9, 8)
            assert np.array_equal(bits(got), bits(expected))


def test_more_threads_give_the_same_bits():
    data = stored_values("<f8", (30, 20, 10))
    points = np.random.default_rng(5).uniform(-1, 30, size=(200_000, 3))
    one = volaccess.sample_array(data, points, hold=-4, threads=1)
    four = volaccess.sample_array(data, points, hold=-4, threads=4)
    assert np.array_equal(bits(one), bits(four))


@pytest.mark.parametrize("name", ["nearest", "linear", "cubic", "sinc"])
def test_kernel_names_mean_what_they_mean_to_the_program(tmp_path, name, probe_points):
    data = stored_values("<f4", (7, 6, 5))
    path = write_image(tmp_path / "v.nii", data)
    with volaccess.load(path) as volume:
        expected = program_samples(path, probe_points, name, False)[:, 0]
        assert np.array_equal(bits(volume.sample(probe_points, space="voxel1", hold=name)), bits(expected))


def label_image(tmp_path, encoding="<i2"):
    """Few labels in blocks, so that points between voxels meet ties and mixtures."""
    rng = np.random.default_rng(11)
    labels = np.asfortranarray(rng.choice([0, 2, 5, 9], size=(7, 6, 5)).astype(encoding))
    return write_image(tmp_path / "labels.nii", labels)


@pytest.mark.parametrize("space,coords", [("voxel1", "voxel1"), ("world", "world")])
def test_label_sampling_equals_program_output_bit_for_bit(tmp_path, probe_points, space, coords):
    path = label_image(tmp_path)
    # Midpoints between voxels make the eight weights equal: ties go to the smaller label.
    points = np.vstack([probe_points, [[1.5, 1.5, 1.5], [3.5, 2.5, 4.5], [6.5, 5.5, 4.5]]])
    with volaccess.load(path) as volume:
        if space == "world":
            finite = points[np.all(np.isfinite(points), axis=1)]
            points = finite @ volume.affine[:3, :3].T + volume.affine[:3, 3]
        for background in ("0", "-7.25"):
            expected = program_samples(path, points, "label", False, coords=coords, background=background)[:, 0]
            got = volume.sample(points, space=space, hold="label", background=float(background))
            assert np.array_equal(bits(got), bits(expected)), background
            assert np.all(np.isin(got, [0, 2, 5, 9, float(background)]))


def test_python_threads_sampling_side_by_side_get_the_bits_of_one_thread(tmp_path):
    import concurrent.futures

    volumes = [volaccess.load(write_image(tmp_path / f"v{i}.nii", stored_values(encoding, (20, 18, 16), seed=i)))
               for i, encoding in enumerate(["<i2", ">f4", "<u1", ">u8"])]
    points = np.random.default_rng(9).uniform(-1, 20, size=(20_000, 3))
    holds = [1, -4, 3, 0]
    alone = [v.sample(points, space="voxel", hold=h, threads=1) for v, h in zip(volumes, holds)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda vh: vh[0].sample(points, space="voxel", hold=vh[1], threads=1),
                                 zip(volumes, holds)))
    for a, b in zip(alone, together):
        assert np.array_equal(bits(a), bits(b))
