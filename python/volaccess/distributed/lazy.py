"""The reslice as a lazy dask.array.Array: each block is one task that
samples its output chunks one after another, each from the source voxels
its kernel reaches, decoding a source chunk once however many of the
task's chunks overlap it.

Pyramid in: when the output's voxels are coarser than the source's, the
source level read is the coarsest whose voxels are no larger than the
output's smallest spacing (level="auto"), or the level given. The kernel
then samples that level as it would any image: the only smoothing is
what the pyramid's own downsampling did; none is added.
"""

import dataclasses

import numpy as np

from . import grids, ome, output, plan

DTYPES = ("float32", "float64", "source")


@dataclasses.dataclass(frozen=True)
class Job:
    """What every block task of one reslice needs; small and picklable."""

    source: grids.SourceRef
    matrix: tuple  # 1-based reference voxels to 1-based source voxels
    chunks: tuple  # x, y, z: the boxes a task samples at a time
    hold: int
    background: float
    dtype: str  # stored type
    scale: float  # stored = (value - offset) / scale
    offset: float


@dataclasses.dataclass(frozen=True)
class Plan:
    job: Job
    grid: grids.Grid  # the output grid, in the reference's unit


def sample_box(job, box, reader=None):
    """The real values of an output box, shaped (z, y, x): read the source
    block its samples reach and sample it with the library."""
    from . import _blocks

    region = plan.source_region(job.matrix, box, job.source.shape, job.hold)
    if region.empty:
        return np.full(tuple(reversed(box.count)), job.background, dtype=float)
    block = grids.read_block(job.source, region.lo, region.hi, region.block_lo, region.block_hi, reader)
    return _blocks.resample_box(block, region.block_lo, job.source.shape, np.array(job.matrix), box.lo, box.count,
                                job.hold, job.background, job.source.scale, job.source.offset)


def block_values(job, lo, count):
    """One task: the stored values (z, y, x) of output voxels [lo, lo +
    count) (x, y, z), sampled a chunk at a time."""
    values = np.empty(tuple(reversed(count)), dtype=np.dtype(job.dtype))
    reader = grids.ChunkReader(job.source) if job.source.kind == "zarr" else None
    for box in plan.chunk_boxes(count, job.chunks):
        (x, y, z), (nx, ny, nz) = box.lo, box.count
        real = sample_box(job, plan.Box(lo=tuple(a + b for a, b in zip(lo, box.lo)), count=box.count), reader)
        values[z:z + nz, y:y + ny, x:x + nx] = output.stored_values(real, job.dtype, job.scale, job.offset)
    return values


def block_tasks(job, shape, block, function, *args):
    """{(z, y, x) block index: task} of a grid cut into blocks: each task
    calls function(*args, job, lo, count)."""
    return {tuple(a // b for a, b in zip(box.lo, block))[::-1]: (function, *args, job, box.lo, box.count)
            for box in plan.chunk_boxes(shape, block)}


def check_hold(hold):
    """The kernel's code: an integer of the library's, or "label" for the
    label rule (each voxel the label of largest summed trilinear weight
    among its eight neighbours, ties to the smaller)."""
    from . import _blocks

    if isinstance(hold, str) and hold == "label":
        return _blocks.LABEL_HOLD
    if isinstance(hold, bool) or not isinstance(hold, (int, np.integer)):
        raise ValueError(f"hold must be an integer or 'label', not {hold!r}")
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


def in_unit(grid, unit):
    """A grid's affine with its lengths in `unit`."""
    affine = np.array(grid.affine, dtype=float)
    affine[:3] = ome.in_unit(affine[:3], grid.unit, unit)
    return affine


def pick_level(levels, like, affine, level):
    """The index of the source level to read (see the module's text)."""
    if level != "auto":
        if isinstance(level, bool) or not isinstance(level, (int, np.integer)) or not 0 <= level < len(levels):
            raise ValueError(f"level must be 'auto' or an index below {len(levels)}, not {level!r}")
        return int(level)
    try:
        steps = (np.linalg.inv(affine) @ like.affine)[:3, :3]
    except np.linalg.LinAlgError:
        raise ValueError("the affine is singular") from None
    spacing = float(np.sqrt((steps ** 2).sum(axis=0)).min())
    chosen = 0
    for n, (_, grid) in enumerate(levels):
        voxels = in_unit(grid, like.unit)[:3, :3]
        if float(np.sqrt((voxels ** 2).sum(axis=0)).max()) <= spacing * (1 + 1e-9):
            chosen = n
    return chosen


def check_label_dtype(source_ref, dtype):
    """Labels keep their values: an output type other than the source's
    must hold every stored value of an unscaled source exactly."""
    stored = np.dtype(source_ref.dtype)
    if (source_ref.scale, source_ref.offset) != (1.0, 0.0) or not np.can_cast(stored, dtype, "safe"):
        scaled = " scaled" if (source_ref.scale, source_ref.offset) != (1.0, 0.0) else ""
        raise ValueError(f"labels of a{scaled} {stored.name} source are not all held exactly by {dtype}: "
                         "use dtype 'source'")


def make_plan(source, like, *, affine, hold, background, dtype, chunks, level, out=None):
    """Opens the inputs and fixes everything the tasks need."""
    from . import _blocks

    hold, chunks = check_hold(hold), check_chunks(chunks)
    if dtype is None:
        dtype = "source" if hold == _blocks.LABEL_HOLD else "float32"
    if dtype not in DTYPES:
        raise ValueError(f"dtype must be one of {', '.join(DTYPES)}, not {dtype!r}")
    like_grid = grids.open_grid(like)
    affine = np.eye(4) if affine is None else np.asarray(affine, dtype=float)
    levels = grids.source_levels(source)
    index = pick_level(levels, like_grid, affine, level)
    source_ref, source_grid = levels[index]
    matrix = plan.check_matrix(_blocks.reference_to_source(in_unit(source_grid, like_grid.unit), like_grid.affine,
                                                           affine))
    if dtype == "source":
        out_dtype, scale, offset = source_ref.dtype, source_ref.scale, source_ref.offset
    else:
        out_dtype, scale, offset = np.dtype(dtype).str, 1.0, 0.0
        if hold == _blocks.LABEL_HOLD:
            check_label_dtype(source_ref, dtype)
    output.check_background(out or source, out_dtype, scale, offset, float(background))
    job = Job(source=source_ref, matrix=matrix, chunks=chunks, hold=hold, background=float(background),
              dtype=out_dtype, scale=scale, offset=offset)
    return Plan(job=job, grid=like_grid)


def as_array(reslice_plan, block):
    """The output grid as a dask array (z, y, x) of `block`-sized tasks."""
    import dask.array
    import dask.base
    import dask.highlevelgraph

    job, shape = reslice_plan.job, reslice_plan.grid.shape
    name = "volaccess-reslice-" + dask.base.tokenize(job, shape, block)
    graph = {(name, *index): task for index, task in block_tasks(job, shape, block, block_values).items()}
    dtype = np.dtype(job.dtype)
    return dask.array.Array(dask.highlevelgraph.HighLevelGraph.from_collections(name, graph, dependencies=()), name,
                            chunks=plan.blocks_of(shape, block), dtype=dtype, meta=np.empty((0, 0, 0), dtype=dtype))


def reslice_array(source, like, *, affine=None, hold=1, background=0.0, dtype=None, chunks=(128, 128, 128),
                  level="auto"):
    """The reslice of `source` onto the grid of `like` as a lazy
    dask.array.Array shaped (z, y, x), one task per block of `chunks`
    (x, y, z; one number for all three). It computes bit-identically to
    reslice() (which writes it) and to volaccess.reslice on one machine,
    and composes with other Dask operations.

    source, like, affine, hold, background, dtype: as for reslice().
    level: "auto" reads the coarsest source pyramid level whose voxels are
        no larger than the output's smallest spacing; an index reads that
        level (0 the finest). No smoothing is added to the kernel's own.

    Its values are the stored ones: float32 by default (the source's type
    for labels), or with dtype "source" the source's type (real value =
    stored * scale + offset with the source's scale and offset).
    """
    reslice_plan = make_plan(source, like, affine=affine, hold=hold, background=background, dtype=dtype,
                             chunks=chunks, level=level)
    return as_array(reslice_plan, reslice_plan.job.chunks)
