"""Reslicing chunked volumes on Dask's distributed scheduler into an
OME-NGFF 0.4 pyramid: the blocks of lazy.py's array, each computed and
written by one task (whole chunks, so no two tasks write the same one),
then each coarser level from the finer one, every task counted before the
store is marked complete."""

import os
import sys
import time


from . import grids, lazy, output, plan, pyramid
from .cluster import check_workers, connect, refuse_unguarded_start
from .errors import ResliceError

DTYPES = lazy.DTYPES
MAX_TASKS = 20000  # what one scheduler hands out in seconds, not minutes


class Progress:
    """One line on standard error per tenth of the work done."""

    def __init__(self, total, enabled, stream=None, label="reslice", unit="chunks"):
        self.total, self.enabled, self.done, self.shown = total, enabled, 0, 0
        self.stream = stream or sys.stderr
        self.label, self.unit = label, unit

    def step(self):
        self.done += 1
        tenth = self.done * 10 // max(self.total, 1)
        if self.enabled and tenth > self.shown:
            self.shown = tenth
            print(f"{self.label}: {tenth * 10}% ({self.done} of {self.total} {self.unit})", file=self.stream,
                  flush=True)


def _executing(dask_worker):
    """The keys a worker is running now (cancelled ones too)."""
    return [str(ts.key) for ts in dask_worker.state.executing]


def stop_tasks(client, futures):
    """Cancels every task and waits until no worker runs one of them, so
    that no chunk is written after this returns: a worker finishes a task it
    has started, cancelled or not. Two quiet looks a moment apart, since a
    worker may take a task before its cancellation reaches it."""
    keys = {str(f.key) for f in futures}
    client.cancel(futures)
    quiet = 0
    while quiet < 2:
        running = client.run(_executing, on_error="return").values()
        busy = any(k in keys for answer in running if isinstance(answer, list) for k in answer)
        quiet = 0 if busy else quiet + 1
        time.sleep(0.05)


def task_error(future):
    """ResliceError for a task that did not finish: its own message, or
    what a cancelled or lost task means."""
    if future.status == "cancelled":
        return ResliceError("a task was cancelled before it finished (the scheduler stopped, or a client "
                            "restarted the cluster): the output is incomplete")
    return ResliceError(str(future.exception()))


def run_graph(client, graph, keys, progress):
    """Runs the tasks `keys` of `graph`; returns only when every one of them
    finished without error. On the first that did not, stops the rest and
    raises ResliceError."""
    import distributed

    check_workers(client)
    futures = client.get(graph, keys, sync=False)
    bar = Progress(len(futures), progress)
    try:
        for future in distributed.as_completed(futures, loop=client.loop):
            if future.status != "finished":
                raise task_error(future)
            bar.step()
    except BaseException:
        stop_tasks(client, futures)
        raise


def write_finest(ref, job, lo, count):
    """One task: a block of the lazy array's values, written into level 0."""
    output.write_block(ref, 0, lo[::-1], lazy.block_values(job, lo, count))
    return lo


def check_out(out):
    """The output's name: a Zarr store, since the workers write its chunks
    side by side, which a NIfTI file (one stream, compressed or not)
    cannot take."""
    out = os.fspath(out)
    if not out.rstrip("/").endswith(".zarr"):
        raise ValueError(f"{out}: a distributed reslice writes an OME-Zarr store: name it .zarr (or reslice "
                         "to NIfTI on one machine with volaccess.reslice)")
    return out


def plan_graph(source, like, out, *, affine, hold, background, dtype, chunks, level, levels, max_tasks,
               large_output=False):
    """Opens the inputs, creates the output store and builds the task graph.
    Returns (output ref, graph, keys)."""
    import dask.base

    out = check_out(out)
    reslice_plan = lazy.make_plan(source, like, affine=affine, hold=hold, background=background, dtype=dtype,
                                  chunks=chunks, level=level, out=out)
    job, grid = reslice_plan.job, reslice_plan.grid
    from . import _blocks

    # Levels of labels, like those of nearest values, hold only values
    # the finer level holds.
    nearest = job.hold in (0, _blocks.LABEL_HOLD)
    count = pyramid.level_count(grid.shape, levels)
    shapes = [grid.shape]
    for _ in range(1, count):
        shapes.append(pyramid.halved(shapes[-1]))
    grids_out = [grids.Grid(shape=s, affine=pyramid.level_affine(grid.affine, n, nearest), unit=grid.unit)
                 for n, s in enumerate(shapes)]
    # The finest level's tasks and the coarser levels' (about an eighth as
    # many per level) share the budget.
    block = plan.task_block(grid.shape, job.chunks, max(1, max_tasks * 7 // 8))
    out_ref = output.create(out, grids_out, job.dtype, job.chunks, job.background, job.scale, job.offset, grid.unit,
                            "nearest" if nearest else "mean", large_output)
    try:
        name = "volaccess-write-" + dask.base.tokenize(out_ref, job, block)
        finest = lazy.block_tasks(job, grid.shape, block, write_finest, out_ref)
        graph = {(name, *index): task for index, task in finest.items()}
        coarse, coarse_keys = pyramid.tasks(out_ref, block, job.chunks, {i: (name, *i) for i in finest}, nearest,
                                            name)
    except BaseException:
        output.remove(out_ref)
        raise
    keys = list(graph)
    graph.update(coarse)
    return out_ref, graph, keys + coarse_keys


def reslice(source, like, out, *, affine=None, hold=1, background=0.0, dtype=None, chunks=(128, 128, 128),
            client=None, progress=True, level="auto", levels="auto", max_tasks=MAX_TASKS, large_output=False):
    """Reslices `source` onto the grid of `like` into a new OME-Zarr store
    `out`, an OME-NGFF 0.4 multiscale image written by Dask tasks.

    source: a Zarr array (axes z, y, x), an OME-Zarr image (any order of
        its space axes, length-one time and channel axes, both levels of
        coordinateTransformations, its units converted to the reference's)
        or a NIfTI path.
    like: a NIfTI, Zarr or OME-Zarr path giving the output grid and geometry.
    out: the path of the new store (named .zarr); it must not exist. Its
        arrays "0", "1", ... have axes (z, y, x), `chunks` (x, y, z; one
        number for all three) and nested chunk keys (z/y/x).
    affine: a 4x4 world-space transform applied to the source (the output at
        world point w shows the source at inverse(affine) * w).
    hold, background: the library's interpolation code, or "label" for
        the label rule (the label of largest summed trilinear weight among
        each point's eight neighbours, ties to the smaller), and the value
        of points outside the source.
    dtype: "float32" (the default), "float64" or "source" (the source's
        type, scale and offset; values rounded half away from zero and
        clamped; a background that type cannot hold is refused). Labels
        default to "source"; another type must hold every value of the
        source's type exactly.
    client: None starts a LocalCluster on 127.0.0.1 for this call (a script
        doing so needs 'if __name__ == "__main__":' around the call, since
        the worker processes import it again); a scheduler address
        ("tcp://host:8786") or a distributed.Client runs on that cluster.
    progress: one line on standard error per tenth of the tasks.
    level: the source pyramid level to read, "auto" or an index (see
        reslice_array).
    levels: the output pyramid: "auto" halves until no axis holds more than
        256 voxels; a count gives that many levels (1: the grid alone).
    max_tasks: the most tasks the run may hand the scheduler; a task
        computes a block of chunks.
    large_output: write a store larger than the free space of its file
        system, which is otherwise refused before anything is written.

    Level 0 holds the values of reslice_array(), computed by the same
    function in blocks of chunks, bit-identical to volaccess.reslice on the
    whole volume. The store is marked complete only after every task
    finished without error; a failed, cancelled or lost task removes it and
    raises ResliceError (a missing or undecodable source chunk is named).
    Returns the path of the store.
    """
    refuse_unguarded_start(client)
    out_ref, graph, keys = plan_graph(source, like, out, affine=affine, hold=hold, background=background, dtype=dtype,
                                      chunks=chunks, level=level, levels=levels, max_tasks=max_tasks,
                                      large_output=large_output)
    try:
        with connect(client) as c:
            run_graph(c, graph, keys, progress)
        output.mark_complete(out_ref)
    except BaseException:
        output.remove(out_ref)
        raise
    return out_ref.path


def reslice_here(source, like, out, *, affine=None, hold=1, background=0.0, dtype=None,
                 chunks=(128, 128, 128), level="auto", levels="auto"):
    """The tasks of reslice() run one after another in this process: for
    one image of a cohort, which is itself one task."""
    import dask.local

    out_ref, graph, keys = plan_graph(source, like, out, affine=affine, hold=hold, background=background, dtype=dtype,
                                      chunks=chunks, level=level, levels=levels, max_tasks=MAX_TASKS)
    try:
        dask.local.get_sync(graph, keys)
        output.mark_complete(out_ref)
    except BaseException:
        output.remove(out_ref)
        raise
    return out_ref.path
