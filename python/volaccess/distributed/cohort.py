"""Reslicing a cohort: one task per (source, reference, output) triple on
one client; one failed image does not stop the others."""

import dataclasses
import sys

from . import cluster, core, grids, lazy


@dataclasses.dataclass(frozen=True)
class CohortResult:
    """The outcome of one image: error is None when it was written."""

    source: str
    reference: str
    output: str
    error: str = None

    @property
    def ok(self):
        return self.error is None


def reslice_one(triple, options):
    """One image of a cohort, resliced inside one task: into a Zarr store
    chunk by chunk, or into a NIfTI file by volaccess.reslice."""
    source, reference, output = triple
    if grids.is_zarr_path(output):
        return core.reslice_here(source, reference, output, **options)
    if grids.is_zarr_path(source):
        raise ValueError(f"{source}: a Zarr source needs a .zarr output, not {output}")
    import volaccess

    options = {k: v for k, v in options.items() if k != "chunks"}
    return volaccess.reslice(source, reference, out=output, **options)


def _triples(pairs):
    triples = []
    for entry in pairs:
        entry = tuple(str(p) for p in entry)
        if len(entry) != 3:
            raise ValueError(f"each cohort entry needs a source, a reference and an output, not {entry!r}")
        triples.append(entry)
    outputs = [t[2] for t in triples]
    repeated = sorted({o for o in outputs if outputs.count(o) > 1})
    if repeated:
        raise ValueError(f"outputs named more than once: {', '.join(repeated)}")
    return triples


def reslice_many(pairs, *, affine=None, hold=1, background=0.0, dtype=None, chunks=(128, 128, 128),
                 client=None, progress=True, stream=None):
    """Reslices a cohort of (source, reference, output) triples, one task
    per image, on one client (None starts a LocalCluster on 127.0.0.1, a
    string is a scheduler address, or a distributed.Client).

    Outputs ending in ".zarr" are OME-Zarr stores written as reslice()
    writes them; other outputs are NIfTI files written by
    volaccess.reslice. The options apply to every image. An image that
    fails is reported with its name and its error, and the others go on.
    Prints one line per failure and a summary on `stream` (standard error
    by default) and returns a CohortResult per triple, in input order.
    """
    import distributed

    cluster.refuse_unguarded_start(client)
    triples = _triples(pairs)
    options = dict(affine=affine, hold=lazy.check_hold(hold), background=float(background), dtype=dtype,
                   chunks=lazy.check_chunks(chunks))
    stream = stream or sys.stderr
    results = {}
    with cluster.connect(client) as c:
        cluster.check_workers(c)
        futures = {c.submit(reslice_one, t, options, pure=False): t for t in triples}
        bar = core.Progress(len(futures), progress, stream, label="cohort", unit="images")
        for future in distributed.as_completed(futures, loop=c.loop):
            triple = futures[future]
            error = None
            if future.status != "finished":
                error = str(core.task_error(future))
                print(f"cohort: {triple[0]} failed: {error}", file=stream, flush=True)
            results[triple] = CohortResult(*triple, error=error)
            bar.step()
    failed = sum(1 for r in results.values() if not r.ok)
    print(f"cohort: {len(triples) - failed} of {len(triples)} images written, {failed} failed", file=stream,
          flush=True)
    return [results[t] for t in triples]
