"""Benchmark of volaccess.distributed (not a test): a synthetic compressed
uint16 Zarr volume resliced under a rotation on a Dask scheduler and two
worker processes started here on 127.0.0.1, against the dask + scipy
map_blocks equivalent on the same chunks: wall time, CPU per chunk, peak
worker memory, task count, the scheduler's time per task; then the
planning of an 8192^3 output and a paper estimate of it on 64 nodes.

Run with the installed package:
    build/venv/bin/python bench/distributed_reslice.py [--size 1024] [--work DIR]
"""

import argparse
import contextlib
import json
import os
import pickle
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
import psutil
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


def block_reads(size, chunk, hold, max_tasks, sample=None):
    """Mean source chunks a task decodes (each once, however many of its
    chunks overlap it), over every task or `sample` tasks spread evenly."""
    from volaccess.distributed import _blocks, plan

    shape = (size,) * 3
    matrix = plan.check_matrix(_blocks.reference_to_source(np.eye(4), np.eye(4), rotation(size)))
    block = plan.task_block(shape, (chunk,) * 3, max_tasks)
    blocks = list(plan.chunk_boxes(shape, block))
    if sample:
        blocks = blocks[::max(1, len(blocks) // sample)]
    counts = []
    for task in blocks:
        touched = set()
        for box in plan.chunk_boxes(task.count, (chunk,) * 3):
            inner = plan.Box(lo=tuple(a + b for a, b in zip(task.lo, box.lo)), count=box.count)
            region = plan.source_region(matrix, inner, shape, hold)
            if not region.empty:
                ranges = [range(a // chunk, (b - 1) // chunk + 1) for a, b in zip(region.lo, region.hi)]
                touched.update((x, y, z) for x in ranges[0] for y in ranges[1] for z in ranges[2])
        counts.append(len(touched))
    return block, len(list(plan.chunk_boxes(shape, block))), float(np.mean(counts))


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


@contextlib.contextmanager
def hand_started_cluster(work, workers):
    """A scheduler process and `workers` single-threaded worker processes,
    all listening on 127.0.0.1, stopped on leaving; yields (client, the
    scheduler's psutil.Process)."""
    import distributed

    file = os.path.join(work, "scheduler.json")
    if os.path.exists(file):
        os.remove(file)
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    scheduler = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                  "--port", "0", "--no-dashboard", "--scheduler-file", file], **quiet)
    started = [scheduler]
    try:
        while not os.path.exists(file):
            time.sleep(0.1)
        time.sleep(0.5)
        for _ in range(workers):
            started.append(subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", "--scheduler-file",
                                             file, "--host", "127.0.0.1", "--nthreads", "1", "--no-dashboard",
                                             "--memory-limit", "0"], **quiet))
        with distributed.Client(scheduler_file=file) as client:
            client.wait_for_workers(workers, timeout=120)
            yield client, psutil.Process(scheduler.pid)
    finally:
        for process in reversed(started):
            process.terminate()
            process.wait(timeout=60)


def scheduler_cost_of_noops(client, scheduler, count=4000):
    """Scheduler CPU seconds per no-op task, over `count` of them."""
    before = sum(scheduler.cpu_times()[:2])
    client.gather(client.map(int, range(count), pure=False))
    return (sum(scheduler.cpu_times()[:2]) - before) / count


def scipy_block(source, matrix, hold, block_info=None):
    """The dask + scipy equivalent of one chunk: read the source box its
    corners reach (plus the kernel's margin) and let scipy resample it."""
    from scipy import ndimage

    from volaccess.distributed import plan

    (z0, z1), (y0, y1), (x0, x1) = block_info[None]["array-location"]
    box = plan.Box(lo=(x0, y0, z0), count=(x1 - x0, y1 - y0, z1 - z0))
    array = zarr.open(source, mode="r")
    region = plan.source_region(matrix, box, array.shape[::-1], hold)
    if region.empty:
        return np.zeros(box.count[::-1], dtype=array.dtype)
    values = array[tuple(slice(a, b) for a, b in zip(region.lo[::-1], region.hi[::-1]))].astype(np.float32)
    # 1-based (x, y, z) to 0-based (z, y, x), relative to the box and region.
    m = np.asarray(matrix)
    turn = m[2::-1, 2::-1]
    offset = turn @ np.array([z0, y0, x0], float) + turn.sum(axis=1) + m[2::-1, 3] - 1 - np.array(region.lo[::-1])
    out = ndimage.affine_transform(values, turn, offset=offset, output_shape=box.count[::-1], order=hold,
                                   mode="constant", cval=0.0)
    return np.clip(np.round(out), 0, 65535).astype(array.dtype)


def run_method(method, work, source, out, chunk, hold):
    """One run on a fresh cluster: (seconds, worker CPU s, peak worker
    memory in bytes, tasks, scheduler CPU s)."""
    import dask.array

    from volaccess.distributed import _blocks, core, plan

    size = zarr.open(source, mode="r").shape[0]
    with hand_started_cluster(work, 2) as (client, scheduler):
        cpu_before = client.run(cpu_seconds)
        scheduler_before = sum(scheduler.cpu_times()[:2])
        start = time.perf_counter()
        if method == "volaccess":
            _, graph, keys = core.plan_graph(source, source, out, affine=rotation(size), hold=hold, background=0.0,
                                             dtype="source", chunks=(chunk,) * 3, level=0, levels=1,
                                             max_tasks=core.MAX_TASKS)
            core.run_graph(client, graph, keys, progress=False)
            tasks = len(graph)
        else:
            matrix = plan.check_matrix(_blocks.reference_to_source(np.eye(4), np.eye(4), rotation(size)))
            lazy = dask.array.map_blocks(scipy_block, source, matrix, hold, dtype="<u2",
                                         chunks=plan.blocks_of((size,) * 3, (chunk,) * 3))
            stored = lazy.to_zarr(out, compute=False)
            tasks = len(stored.__dask_optimize__(stored.__dask_graph__(), stored.__dask_keys__()))
            client.compute(stored).result()
        seconds = time.perf_counter() - start
        scheduler_cpu = sum(scheduler.cpu_times()[:2]) - scheduler_before
        cpu = sum(client.run(cpu_seconds).values()) - sum(cpu_before.values())
        peak = max(client.run(peak_rss).values())
        noop = scheduler_cost_of_noops(client, scheduler)
    return seconds, cpu, peak, tasks, scheduler_cpu, noop


def plan_big(work, size, chunk):
    """Planning an output of size^3 from a source of that size whose chunks
    are not written (metadata only): seconds, tasks and pickled bytes."""
    from volaccess.distributed import core

    source = os.path.join(work, f"empty{size}.zarr")
    zarr.open(source, mode="w", shape=(size,) * 3, chunks=(chunk,) * 3, dtype="<u2")
    out = os.path.join(work, f"plan{size}.zarr")
    start = time.perf_counter()
    try:
        _, graph, keys = core.plan_graph(source, source, out, affine=rotation(size), hold=1, background=0.0,
                                         dtype="source", chunks=(chunk,) * 3, level=0, levels="auto",
                                         max_tasks=core.MAX_TASKS)
        seconds = time.perf_counter() - start
        return seconds, len(keys), len(pickle.dumps(graph))
    finally:
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(source, ignore_errors=True)


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
    results = {}
    try:
        if not os.path.exists(source):
            start = time.perf_counter()
            synthetic_source(source, args.size, args.chunk)
            print(f"source: {args.size}^3 uint16, chunks {args.chunk}^3, written in "
                  f"{time.perf_counter() - start:.1f} s")
        stored = sum(os.path.getsize(os.path.join(source, n)) for n in os.listdir(source))
        print(f"source: {stored / 2**20:.0f} MiB compressed of {args.size ** 3 * 2 / 2**20:.0f} MiB")
        chunks = -(-args.size // args.chunk) ** 3
        print(f"machine: {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.1f} at the start")
        for method in ("volaccess", "scipy"):
            out = os.path.join(work, f"out-{method}.zarr")
            shutil.rmtree(out, ignore_errors=True)
            seconds, cpu, peak, tasks, scheduler_cpu, noop = run_method(method, work, source, out, args.chunk,
                                                                        args.hold)
            results[method] = dict(seconds=seconds, cpu_per_chunk=cpu / chunks, peak=peak, tasks=tasks,
                                   scheduler_per_task=scheduler_cpu / tasks, noop=noop)
            print(f"{method}: {seconds:.1f} s on 2 workers, {chunks} chunks, {cpu / chunks:.2f} CPU s per chunk, "
                  f"peak worker memory {peak / 2**20:.0f} MiB, {tasks} tasks, scheduler {scheduler_cpu:.2f} CPU s "
                  f"({scheduler_cpu / tasks * 1e3:.1f} ms per task; {noop * 1e3:.2f} ms per no-op task)")
            shutil.rmtree(out, ignore_errors=True)
        plan_seconds, plan_tasks, plan_bytes = plan_big(work, 8192, args.chunk)
        print(f"planning 8192^3 (pyramid levels 'auto'): {plan_seconds:.1f} s, {plan_tasks} tasks, "
              f"{plan_bytes / 2**20:.0f} MiB pickled")
        big, nodes, cores, storage = 8192, 64, 32, 20 * 2**30
        block, tasks_big, reads = block_reads(big, args.chunk, args.hold, core_budget(), sample=64)
        ours = results["volaccess"]
        compute = (big // args.chunk) ** 3 * ours["cpu_per_chunk"] / (nodes * cores)
        # The scheduler's own cost of a task is the no-op figure; the run's
        # figure adds what an idle scheduler spends each second (heartbeats).
        scheduler = plan_tasks * ours["noop"]
        traffic = big ** 3 * 2 * (reads / np.prod([b / args.chunk for b in block]) + 1)
        print(f"estimate: {big}^3 uint16 on {nodes} nodes x {cores} workers: {compute / 60:.1f} min of computing, "
              f"{scheduler:.0f} s of scheduler time for {plan_tasks} tasks (blocks of {block} voxels, "
              f"{reads:.0f} source chunks decoded per task), {traffic / 2**40:.1f} TiB of reads and writes, "
              f"{traffic / storage / 60:.0f} min at {storage / 2**30:.0f} GiB/s")
        print(json.dumps(results))
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


def core_budget():
    from volaccess.distributed import core

    return core.MAX_TASKS * 7 // 8


if __name__ == "__main__":
    main()
