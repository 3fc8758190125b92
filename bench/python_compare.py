#!/usr/bin/env python3
"""The Python package against its peers on the same data in the same run:
the cost of one call of 1, 10 and 100 points against
scipy.ndimage.map_coordinates, a 40-volume series at one point against
nibabel's dataobj[i, j, k, :], throughput on many random points (order 0,
1 and 3 without prefilter), a reslice against
nibabel.processing.resample_from_to, and the memory and descriptors left
after 10,000 failing calls. Run with the interpreter that has volaccess
installed (scripts/install-python.sh): build/venv/bin/python
bench/python_compare.py [--side N]"""

import argparse
import os
import tempfile
import time

import nibabel as nib
import nibabel.processing
import numpy as np
from scipy import ndimage

import volaccess


def best_seconds(call, repeat, number=1):
    """The fastest of `repeat` runs of `number` calls, per call."""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(number):
            call()
        best = min(best, (time.perf_counter() - start) / number)
    return best


def row(label, ours, peer, unit, scale):
    ratio = peer / ours if ours > 0 else float("nan")
    print(f"{label:<52} {ours * scale:>10.3f} {peer * scale:>10.3f} {unit:<6} {ratio:>7.2f}x")


def phantom(side):
    rng = np.random.default_rng(1)
    data = ndimage.gaussian_filter(rng.normal(0, 400, (side,) * 3), 2).astype("<i2")
    return np.asfortranarray(data)


def per_call_costs(plain, packed, data, repeat):
    """No call asks the system about the file: a fault watch and a sentinel
    byte catch a file that shrinks, and a decompressed copy is sealed."""
    print(f"\n{'one call (best of runs)':<52} {'volaccess':>10} {'scipy':>10} {'':<6} {'scipy/us':>8}")
    rng = np.random.default_rng(2)
    for n in (1, 10, 100):
        voxel = rng.uniform(1, data.shape[0] - 2, size=(n, 3))
        columns = np.ascontiguousarray(voxel.T)
        peer = best_seconds(lambda: ndimage.map_coordinates(data, columns, order=1), repeat, 2000)
        for label, call in ((".nii file, Volume.sample", lambda: plain.sample(voxel, space="voxel")),
                            (".nii.gz file, Volume.sample", lambda: packed.sample(voxel, space="voxel")),
                            ("array, sample_array", lambda: volaccess.sample_array(data, voxel))):
            row(f"{n:>3} points, trilinear, {label}", best_seconds(call, repeat, 2000), peer, "us", 1e6)


def series_at_a_point(folder, side, repeat):
    """Opening a 40-volume series and reading one point of every volume,
    whole and with the file already open, for .nii and .nii.gz."""
    print(f"\n{'40 volumes of ' + str(side) + '^3 int16 at one point':<52} {'volaccess':>10} {'nibabel':>10} "
          f"{'':<6} {'nib/us':>8}")
    rng = np.random.default_rng(4)
    series = rng.integers(-1000, 1000, size=(side, side, side, 40), dtype=np.int16)
    i, j, k = side // 3, side // 2, side // 4
    for suffix in (".nii", ".nii.gz"):
        path = os.path.join(folder, "series" + suffix)
        nib.Nifti1Image(series, np.eye(4)).to_filename(path)
        point = np.array([[i, j, k]], dtype=np.float64)

        def ours():
            with volaccess.load(path) as volume:
                return volume.sample(point, space="voxel", hold=0)

        assert np.array_equal(ours()[0], nib.load(path).dataobj[i, j, k, :])
        peer = best_seconds(lambda: nib.load(path).dataobj[i, j, k, :], repeat, 5)
        row(f"open and read, {suffix} file", best_seconds(ours, repeat, 5), peer, "ms", 1e3)
        with volaccess.load(path) as volume:
            image = nib.load(path)
            peer = best_seconds(lambda: image.dataobj[i, j, k, :], repeat, 20)
            call = best_seconds(lambda: volume.sample(point, space="voxel", hold=0), repeat, 2000)
            row(f"read, already open, {suffix} file", call, peer, "us", 1e6)


def throughput(volume, data, points, repeat):
    print(f"\n{f'{len(points)} random points':<52} {'volaccess':>10} {'scipy':>10} {'':<6} {'scipy/us':>8}")
    columns = np.ascontiguousarray(points.T)
    for hold, order, name in ((0, 0, "nearest"), (1, 1, "trilinear"), (3, 3, "cubic (scipy: B-spline, no prefilter)")):
        peer = best_seconds(lambda: ndimage.map_coordinates(data, columns, order=order, prefilter=False), repeat)
        ours = best_seconds(lambda: volume.sample(points, space="voxel", hold=hold), repeat)
        one = best_seconds(lambda: volume.sample(points, space="voxel", hold=hold, threads=1), repeat)
        row(f"{name}, all CPUs", ours, peer, "ns/pt", 1e9 / len(points))
        row(f"{name}, one thread", one, peer, "ns/pt", 1e9 / len(points))


def reslice(path, side, repeat):
    print(f"\n{f'reslice {side}^3 under a rotation':<52} {'volaccess':>10} {'nibabel':>10} {'':<6} {'nib/us':>8}")
    image = nib.load(path)
    angle = np.deg2rad(12)
    rotation = np.eye(4)
    rotation[:2, :2] = [[np.cos(angle), -np.sin(angle)], [np.sin(angle), np.cos(angle)]]
    rotated = nib.Nifti1Image(np.zeros((side,) * 3, np.float32), rotation @ image.affine)
    for hold, order in ((1, 1), (3, 3)):
        peer = best_seconds(lambda: nibabel.processing.resample_from_to(image, rotated, order=order), repeat)
        ours = best_seconds(lambda: volaccess.reslice(path, rotated, hold=hold), repeat)
        row(f"hold {hold} against order {order}", ours, peer, "s", 1)


def failing_calls(path, folder):
    short = os.path.join(folder, "short.nii")
    with open(path, "rb") as f:
        head = f.read(400)
    with open(short, "wb") as f:
        f.write(head)
    volume = volaccess.load(path)
    calls = [lambda: volaccess.load(short), lambda: volaccess.load(os.path.join(folder, "none.nii")),
             lambda: volume.sample([[1, 2]]), lambda: volume.sample([[1, 2, 3]], hold=999)]

    def run(n):
        for i in range(n):
            try:
                calls[i % len(calls)]()
            except (ValueError, OSError):
                pass

    def resident():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    run(2000)
    memory, descriptors = resident(), len(os.listdir("/proc/self/fd"))
    start = time.perf_counter()
    run(10_000)
    seconds = time.perf_counter() - start
    print(f"\n10,000 failing calls: resident memory {resident() - memory:+d} bytes, "
          f"descriptors {len(os.listdir('/proc/self/fd')) - descriptors:+d}, {seconds / 10_000 * 1e6:.1f} us per call")


def processor():
    """The processor's model name, as lscpu shows it."""
    with open("/proc/cpuinfo") as f:
        names = [line.split(":", 1)[1].strip() for line in f if line.startswith("model name")]
    return names[0] if names else "unknown processor"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--side", type=int, default=128, help="voxels along each axis (default 128)")
    parser.add_argument("--points", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    data = phantom(args.side)
    with tempfile.TemporaryDirectory(prefix="volaccess-bench-") as folder:
        path = os.path.join(folder, "phantom.nii")
        nib.Nifti1Image(data, np.diag([1.2, 1.2, 1.5, 1])).to_filename(path)
        packed = path + ".gz"
        nib.Nifti1Image(data, np.diag([1.2, 1.2, 1.5, 1])).to_filename(packed)
        with volaccess.load(path) as volume, volaccess.load(packed) as sealed:
            print(f"volaccess {volaccess.__file__}\nvolume {args.side}^3 int16, {os.cpu_count()} CPUs, {processor()}")
            per_call_costs(volume, sealed, data, args.repeat)
            points = np.random.default_rng(3).uniform(0, args.side - 1, size=(args.points, 3))
            throughput(volume, data, points, args.repeat)
        series_at_a_point(folder, min(args.side, 96), args.repeat)
        reslice(path, args.side, max(1, args.repeat // 2))
        failing_calls(path, folder)


if __name__ == "__main__":
    main()
