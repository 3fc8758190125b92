"""Benchmark of volaccess.distributed (not a test): a synthetic compressed
uint16 Zarr volume resliced under a rotation on a LocalCluster of 1 and
of 2 worker processes on this machine (127.0.0.1): wall time, peak
resident memory of each worker, the scaling, and a paper estimate of a
larger volume on a larger cluster from the measured cost per chunk.

Run with the installed package:
    build/venv/bin/python bench/distributed_reslice.py [--size 1024] [--work DIR]
"""

import argparse
import os
import shutil
import tempfile
import time

import numpy as np
import zarr


def synthetic_source(path, size, chunk):
    """A smooth ramp with rings and noise: compresses like real images do."""
    array = zarr.open(path, mode="w", shape=(size,) * 3, chunks=(chunk,) * 3, dtype="<u2")
    rng = np.random.default_rng(1)
    centre = size / 2.0
    for z0 in range(0, size, chunk):
        z = np.arange(z0, min(z0 + chunk, size))[:, None, None]
        for y0 in range(0, size, chunk):
            y = np.arange(y0, min(y0 + chunk, size))[None, :, None]
            x = np.arange(size)[None, None, :]
            r = np.sqrt((x - centre) ** 2 + (y - centre) ** 2 + (z - centre) ** 2)
            values = 1000 + 800 * np.sin(r / 9.0) + (x + 2 * y + 3 * z) / 8.0
            values = values + rng.normal(0, 20, size=values.shape)
            array[z0:z0 + len(z), y0:y0 + values.shape[1], :] = np.clip(values, 0, 65535).astype("<u2")
    return array


def rotation(size):
    """12 degrees about z, then 7 about x, through the volume's centre."""
    def turn(degrees, a, b):
        t = np.deg2rad(degrees)
        m = np.eye(4)
        m[a, a], m[a, b], m[b, a], m[b, b] = np.cos(t), -np.sin(t), np.sin(t), np.cos(t)
        return m
    centre = np.eye(4)
    centre[:3, 3] = (size - 1) / 2.0
    back = np.linalg.inv(centre)
    return centre @ turn(12, 0, 1) @ turn(7, 1, 2) @ back


def read_plan(size, chunk, hold):
    """Mean number of source chunks a task reads under the rotation, and
    the largest source block a task holds (bytes of uint16)."""
    from volaccess.distributed import _blocks, plan

    matrix = plan.check_matrix(_blocks.reference_to_source(np.eye(4), np.eye(4), rotation(size)))
    counts, largest = [], 0
    for box in plan.chunk_boxes((size,) * 3, (chunk,) * 3):
        region = plan.source_region(matrix, box, (size,) * 3, hold)
        if not region.empty:
            counts.append(np.prod([(b - 1) // chunk - a // chunk + 1 for a, b in zip(region.lo, region.hi)]))
            largest = max(largest, 2 * int(np.prod([b - a for a, b in zip(region.block_lo, region.block_hi)])))
    return float(np.mean(counts)), largest


def peak_rss():
    """This process's peak resident memory in bytes (VmHWM)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def cpu_seconds():
    """CPU time this process has used, in seconds."""
    return time.process_time()


def run(source, out, workers, chunk, hold):
    import distributed

    from volaccess.distributed import cluster, reslice

    with cluster.loopback_cluster(workers) as local, distributed.Client(local) as client:
        idle = client.run(peak_rss)
        cpu_before = client.run(cpu_seconds)
        start = time.perf_counter()
        reslice(source, source, out, affine=rotation(zarr.open(source).shape[0]), hold=hold, dtype="source",
                chunks=(chunk,) * 3, client=client, progress=False)
        seconds = time.perf_counter() - start
        cpu = sum(client.run(cpu_seconds).values()) - sum(cpu_before.values())
        peaks = client.run(peak_rss)
    return seconds, cpu, sorted(idle.values()), sorted(peaks.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=int, default=1024, help="voxels along each axis (default 1024)")
    parser.add_argument("--chunk", type=int, default=128, help="chunk size of source and output (default 128)")
    parser.add_argument("--hold", type=int, default=1, help="interpolation (default 1, trilinear)")
    parser.add_argument("--work", default=None, help="folder for the stores (default: a temporary one)")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="volaccess-bench-")
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, f"source{args.size}.zarr")
    try:
        if not os.path.exists(source):
            start = time.perf_counter()
            synthetic_source(source, args.size, args.chunk)
            print(f"source: {args.size}^3 uint16, chunks {args.chunk}^3, written in "
                  f"{time.perf_counter() - start:.1f} s")
        stored = sum(os.path.getsize(os.path.join(source, n)) for n in os.listdir(source))
        print(f"source: {stored / 2**20:.0f} MiB compressed of {args.size ** 3 * 2 / 2**20:.0f} MiB")
        chunks = -(-args.size // args.chunk) ** 3
        times, cpus = {}, {}
        print(f"machine: {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.1f} at the start")
        for workers in (1, 2):
            out = os.path.join(work, f"out{workers}.zarr")
            shutil.rmtree(out, ignore_errors=True)
            seconds, cpu, idle, peaks = run(source, out, workers, args.chunk, args.hold)
            times[workers], cpus[workers] = seconds, cpu
            print(f"{workers} worker(s): {seconds:.1f} s, {chunks} chunks, {seconds * workers / chunks * 1e3:.0f} "
                  f"ms per chunk per worker ({cpu / chunks * 1e3:.0f} ms of CPU), "
                  f"{args.size ** 3 / seconds / 1e6:.1f} Mvoxel/s; peak resident memory "
                  f"per worker {', '.join(f'{p / 2**20:.0f}' for p in peaks)} MiB (idle "
                  f"{', '.join(f'{p / 2**20:.0f}' for p in idle)} MiB)")
        same = np.array_equal(zarr.open(os.path.join(work, "out1.zarr"))["0"][:64],
                              zarr.open(os.path.join(work, "out2.zarr"))["0"][:64])
        print(f"scaling 1 -> 2 workers: {times[1] / times[2]:.2f}x; first 64 planes identical: {same}")
        # CPU time per chunk: what the chunk costs a worker that has a core
        # of its own, which a machine shared with other work does not show.
        per_chunk = cpus[1] / chunks
        reads, largest = read_plan(args.size, args.chunk, args.hold)
        print(f"each task reads {reads:.1f} source chunks on average; the largest block a task holds is "
              f"{largest / 2**20:.0f} MiB")
        # A 20 um whole brain: about 8192^3 uint16 voxels, 1 TiB, on 64
        # nodes of 32 workers with storage serving 20 GiB/s in all.
        big, nodes, cores, storage = 8192, 64, 32, 20 * 2**30
        big_chunks = (big // args.chunk) ** 3
        big_reads, big_largest = read_plan(big, args.chunk, args.hold)
        compute = big_chunks * per_chunk / (nodes * cores)
        traffic = big ** 3 * 2 * (big_reads + 1)
        print(f"estimate: {big}^3 uint16 ({big ** 3 * 2 / 2**40:.1f} TiB), {big_chunks} chunks of {args.chunk}^3 "
              f"at {per_chunk:.2f} CPU s each = {big_chunks * per_chunk / 3600:.0f} core-hours: "
              f"{compute / 60:.1f} min on {nodes} nodes x {cores} workers; the tasks read {big_reads:.1f} source "
              f"chunks each, {traffic / 2**40:.1f} TiB of reads and writes, {traffic / storage / 60:.0f} min at "
              f"{storage / 2**30:.0f} GiB/s; largest block {big_largest / 2**20:.0f} MiB per task")
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
