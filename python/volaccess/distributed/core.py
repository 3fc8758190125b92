"""Reslicing chunked volumes on Dask's distributed scheduler: one task per
output chunk, each reading only the source chunks its samples reach."""

import contextlib
import dataclasses
import os
import sys

import numpy as np

from . import grids, output, plan
from .errors import ResliceError

DTYPES = ("float32", "float64", "source")


@dataclasses.dataclass(frozen=True)
class ChunkTask:
    """Everything one chunk task needs; small and picklable."""

    source: grids.SourceRef
    out: output.OutputRef
    matrix: tuple  # 1-based reference voxels to 1-based source voxels
    box: plan.Box
    hold: int
    background: float


def resample_chunk(task):
    """The real values of one output chunk, shaped (z, y, x): read the
    source block its samples reach and sample it with the library."""
    from . import _blocks

    region = plan.source_region(task.matrix, task.box, task.source.shape, task.hold)
    count_zyx = tuple(reversed(task.box.count))
    if region.empty:
        return np.full(count_zyx, task.background, dtype=float)
    block = grids.read_block(task.source, region.lo, region.hi, region.block_lo, region.block_hi)
    return _blocks.resample_box(block, region.block_lo, task.source.shape, np.array(task.matrix), task.box.lo,
                                task.box.count, task.hold, task.background, task.source.scale,
                                task.source.offset)


def run_chunk(task):
    """One task: resample the chunk and write it. Returns the chunk's
    origin. Writing a chunk twice writes the same bytes, so a task that
    the scheduler reruns after losing a worker changes nothing."""
    output.write_chunk(task.out, task.box, resample_chunk(task))
    return task.box.lo


def check_hold(hold):
    from . import _blocks

    if isinstance(hold, bool) or not isinstance(hold, (int, np.integer)):
        raise ValueError(f"hold must be an integer, not {hold!r}")
    if not _blocks.MIN_HOLD <= hold <= _blocks.MAX_HOLD:
        raise ValueError(f"hold {hold} is outside {_blocks.MIN_HOLD} .. {_blocks.MAX_HOLD}"
                         f" (Lagrange above {_blocks.MAX_HOLD + 1} nodes overflows)")
    return int(hold)


def check_chunks(chunks):
    if isinstance(chunks, (int, np.integer)):
        chunks = (chunks,) * 3
    chunks = tuple(int(c) for c in chunks)
    if len(chunks) != 3 or any(c < 1 for c in chunks):
        raise ValueError(f"chunks must be one or three positive counts, not {chunks!r}")
    return chunks


def reference_to_source(source_grid, like_grid, affine):
    """The matrix from 1-based reference voxels to 1-based source voxels:
    inverse(source) * inverse(affine) * reference."""
    from . import _blocks

    return plan.check_matrix(_blocks.reference_to_source(source_grid.affine, like_grid.affine, affine))


def plan_tasks(source, like, out, *, affine, hold, background, dtype, chunks):
    """Opens the inputs, creates the output store and lists the chunk
    tasks. Returns (output ref, tasks)."""
    hold = check_hold(hold)
    chunks = check_chunks(chunks)
    if dtype not in DTYPES:
        raise ValueError(f"dtype must be one of {', '.join(DTYPES)}, not {dtype!r}")
    source_ref, source_grid = grids.open_source(source)
    like_grid = grids.open_grid(like)
    matrix = reference_to_source(source_grid, like_grid, np.eye(4) if affine is None else affine)
    if dtype == "source":
        out_dtype, scale, offset = source_ref.dtype, source_ref.scale, source_ref.offset
    else:
        out_dtype, scale, offset = dtype, 1.0, 0.0
    out_ref = output.create(out, like_grid, out_dtype, chunks, float(background), scale, offset)
    tasks = [ChunkTask(source=source_ref, out=out_ref, matrix=matrix, box=box, hold=hold,
                       background=float(background))
             for box in plan.chunk_boxes(like_grid.shape, chunks)]
    return out_ref, tasks


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


def loopback_cluster(workers):
    """A LocalCluster of `workers` single-threaded worker processes with
    every listening socket on 127.0.0.1: the scheduler's and the workers'
    HTTP servers too, which would otherwise listen on every interface."""
    import distributed

    return distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                                    dashboard_address="127.0.0.1:0", worker_dashboard_address="127.0.0.1:0",
                                    scheduler_kwargs={"dashboard": False})


@contextlib.contextmanager
def connect(client):
    """A distributed.Client for `client`: None starts a LocalCluster on the
    loopback interface (one single-threaded worker process per CPU), a
    string is a scheduler address, a Client is used as it is. What is
    started here is stopped here."""
    import distributed

    if isinstance(client, distributed.Client):
        yield client
        return
    if client is None or client == "local":
        with loopback_cluster(len(os.sched_getaffinity(0))) as cluster, distributed.Client(cluster) as started:
            yield started
        return
    if isinstance(client, str):
        with distributed.Client(client) as started:
            yield started
        return
    raise TypeError(f"client must be None, 'local', a scheduler address or a distributed.Client, not {client!r}")


def stop_tasks(client, futures):
    """Cancels the tasks no worker has taken yet and waits for the others,
    so that no chunk is written after this returns (a cancelled task that
    is already running would finish, and write, whatever happens)."""
    import distributed

    taken = {key for keys in client.processing().values() for key in keys}
    client.cancel([f for f in futures if f.key not in taken])
    distributed.wait([f for f in futures if f.key in taken])


def run_tasks(client, tasks, progress):
    """Runs the chunk tasks; on the first failure stops the rest and
    raises ResliceError with the task's own message."""
    import distributed

    futures = client.map(run_chunk, tasks, pure=False)
    bar = Progress(len(futures), progress)
    try:
        for future in distributed.as_completed(futures):
            if future.status == "error":
                error = future.exception()
                raise ResliceError(str(error)) from error
            bar.step()
    except BaseException:
        stop_tasks(client, futures)
        raise


def reslice(source, like, out, *, affine=None, hold=1, background=0.0, dtype="float32", chunks=(128, 128, 128),
            client=None, progress=True):
    """Reslices `source` onto the grid of `like` into a new OME-Zarr store
    `out`, one Dask task per output chunk.

    source: a Zarr array (axes z, y, x), an OME-Zarr image (its first level,
        with its scale and translation) or a NIfTI path.
    like: a NIfTI, Zarr or OME-Zarr path giving the output grid and geometry.
    out: the path of the new store; it must not exist. Its array "0" has
        axes (z, y, x) and `chunks` (x, y, z; one number for all three).
    affine: a 4x4 world-space transform applied to the source (the output at
        world point w shows the source at inverse(affine) * w).
    hold, background: the library's interpolation code and the value of
        points outside the source.
    dtype: "float32", "float64" or "source" (the source's type, scale and
        offset; values rounded half away from zero and clamped).
    client: None starts a LocalCluster on 127.0.0.1 for this call; a
        scheduler address ("tcp://host:8786") or a distributed.Client runs
        on that cluster.
    progress: one line on standard error per tenth of the chunks.

    Each task maps its chunk's corners to the source region its kernel
    reaches, reads only the source chunks that overlap it and writes its
    chunk; the values are bit-identical to volaccess.reslice on the whole
    volume. The store is marked complete after the last chunk; a failed run
    removes it and raises ResliceError (a missing or undecodable source
    chunk is named). Returns the path of the store.
    """
    out_ref, tasks = plan_tasks(source, like, out, affine=affine, hold=hold, background=background, dtype=dtype,
                                chunks=chunks)
    try:
        with connect(client) as c:
            run_tasks(c, tasks, progress)
        output.mark_complete(out_ref)
    except BaseException:
        output.remove(out_ref)
        raise
    return out_ref.path


def reslice_here(source, like, out, *, affine=None, hold=1, background=0.0, dtype="float32",
                 chunks=(128, 128, 128)):
    """The chunk tasks of reslice() run one after another in this process:
    for one image of a cohort, which is itself one task."""
    out_ref, tasks = plan_tasks(source, like, out, affine=affine, hold=hold, background=background, dtype=dtype,
                                chunks=chunks)
    try:
        for task in tasks:
            run_chunk(task)
        output.mark_complete(out_ref)
    except BaseException:
        output.remove(out_ref)
        raise
    return out_ref.path
