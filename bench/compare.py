#!/usr/bin/python3
"""The side-by-side table: runs peer_compare (our rows and, when built in,
ITK's), times scipy.ndimage on the same data in the same run, and prints
each row with our time, every peer's time, the ratio to the fastest peer
and the targets (our time, and the least ratio), then the speed-up of the
reslices from one thread to the default count. Rows marked "defaults" run
both us and ITK at their default thread counts; every other row runs one
thread each. Usage: compare.py PEER_COMPARE_BINARY"""
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy import ndimage

SIDE = 256
REPS = 7
RESLICE_REPS = 3

# key, label, unit, our target time, least ratio peer / ours
ROWS = [
    ("nearest_random", "nearest, random points", "ns/pt", 13, 2.0),
    ("trilinear_random", "trilinear, random points", "ns/pt", 30, None),
    ("trilinear_rows", "trilinear, points in row order", "ns/pt", 7, None),
    ("lagrange4_random", "4-node Lagrange (hold 3), random", "ns/pt", 100, None),
    ("sinc4_random", "4-node windowed sinc (hold -3), random", "ns/pt", 300, None),
    ("trilinear_grad_random", "trilinear value + 3 derivatives, random", "ns/pt", 40, None),
    ("slice_trilinear", "oblique 256x256 slice, trilinear", "ns/px", 8, 3.0),
    ("reslice_trilinear", "reslice 256^3 under a rotation, trilinear", "s", 0.12, 2.9),
    ("reslice_sinc4", "the same, 4-node windowed sinc", "s", 3, None),
    ("reslice_trilinear_default", "reslice 256^3, trilinear, defaults", "s", None, 2.9),
    ("reslice_sinc4_default", "the same, 4-node windowed sinc, defaults", "s", None, 4.3),
    ("open_sample", "open a 256^3 volume and sample one point", "us", None, None),
    ("open_sample_32", "open a 32^3 volume and sample one point", "us", None, None),
    ("reslice_nearest_labels", "reslice 256^3 label map, nearest", "s", None, None),
    ("reslice_label", "the same, label rule", "s", None, None),
    ("reslice_label_noise", "label rule on the noisy volume (worst case)", "s", None, None),
    ("one_point_trilinear", "one point a call, trilinear", "us", None, None),
    ("one_point_label", "one point a call, label rule", "us", None, None),
]
# The most a label reslice may take against a nearest-neighbour one.
LABEL_TARGET = 1.5
# The least speed-up of our trilinear reslice from one thread to two.
SPEED_UP_TARGET = 1.85


def median_seconds(reps, run):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def load_points(path):
    xyz = np.fromfile(path, dtype="<f8").reshape(3, -1)
    # 1-based x, y, z to 0-based indices of an array indexed [z, y, x].
    return np.ascontiguousarray(xyz[::-1] - 1.0)


def scipy_rows(data_dir):
    volume = np.fromfile(f"{data_dir}/volume.i16", dtype="<i2").reshape(SIDE, SIDE, SIDE)
    random = load_points(f"{data_dir}/random.f64")
    rows = load_points(f"{data_dir}/rows.f64")
    n = random.shape[1]
    out = {}

    def points(coords, order):
        return median_seconds(REPS, lambda: ndimage.map_coordinates(
            volume, coords, output=np.float64, order=order, prefilter=False)) * 1e9 / coords.shape[1]

    out["nearest_random"] = points(random, 0)
    out["trilinear_random"] = points(random, 1)
    out["trilinear_rows"] = points(rows, 1)
    out["lagrange4_random"] = points(random, 3)
    # The rotation maps 1-based (x, y, z); scipy's arrays run [z, y, x] from 0.
    m = np.fromfile(f"{data_dir}/rotation.f64", dtype="<f8").reshape(4, 4)
    r = m[:3, :3][::-1, ::-1]
    t = (m[:3, 3] + m[:3, :3].sum(axis=1) - 1.0)[::-1]

    def reslice(shape, first_plane, reps, order):
        offset = t + r[:, 0] * first_plane
        return median_seconds(reps, lambda: ndimage.affine_transform(
            volume, r, offset=offset, output_shape=shape, output=np.float64, order=order, prefilter=False))

    out["slice_trilinear"] = reslice((1, SIDE, SIDE), SIDE // 2 - 1, REPS * 5, 1) * 1e9 / (SIDE * SIDE)
    out["reslice_trilinear"] = reslice((SIDE, SIDE, SIDE), 0, RESLICE_REPS, 1)
    assert n > 0
    return out


def fmt(v):
    if v is None:
        return "-"
    return f"{v:.3g}" if v < 100 else f"{v:.0f}"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    results = {}
    with tempfile.TemporaryDirectory() as data_dir:
        # The data come from peer_compare, so scipy's first timing needs a
        # quick run of it that only writes them.
        subprocess.run([sys.argv[1], data_dir, "--data-only"], check=True)
        # scipy runs in this process: it is timed before and after ours and
        # keeps its better figure, so a machine that slows down meanwhile
        # does not favour us.
        first = scipy_rows(data_dir)
        run = subprocess.run([sys.argv[1], data_dir], check=True, capture_output=True, text=True)
        for line in run.stdout.splitlines():
            row, peer, value = line.split()
            results.setdefault(row, {})[peer] = float(value)
        second = scipy_rows(data_dir)
        for row, value in first.items():
            results.setdefault(row, {})["scipy"] = min(value, second[row])
    threads = results.get("threads", {})
    print(f"threads at defaults: ours {fmt(threads.get('ours'))}, itk {fmt(threads.get('itk'))}")
    print(f"{'row':44} {'unit':6} {'ours':>8} {'scipy':>8} {'itk':>8} {'mmap':>8} {'peer/ours':>9} "
          f"{'target':>7} {'least':>6}")
    for key, label, unit, target, least in ROWS:
        r = results.get(key, {})
        ours = r.get("ours")
        peers = [v for p, v in r.items() if p != "ours"]
        ratio = f"{min(peers) / ours:.2f}x" if peers and ours else "-"
        print(f"{label:44} {unit:6} {fmt(ours):>8} {fmt(r.get('scipy')):>8} {fmt(r.get('itk')):>8} "
              f"{fmt(r.get('mmap')):>8} {ratio:>9} {fmt(target):>7} {least and f'{least}x' or '-':>6}")
    for key in ("reslice_trilinear", "reslice_sinc4"):
        one, all_ = results.get(key, {}), results.get(key + "_default", {})
        speed = {p: one[p] / all_[p] for p in ("ours", "itk") if one.get(p) and all_.get(p)}
        print(f"{key} speed-up from 1 thread to the default: ours {fmt(speed.get('ours'))}x, "
              f"itk {fmt(speed.get('itk'))}x (target for ours, trilinear: {SPEED_UP_TARGET}x)")
    nearest, label = results.get("reslice_nearest_labels", {}), results.get("reslice_label", {})
    if nearest.get("ours") and label.get("ours"):
        print(f"label reslice / nearest reslice: {label['ours'] / nearest['ours']:.2f}x (at most {LABEL_TARGET}x)")


if __name__ == "__main__":
    main()
