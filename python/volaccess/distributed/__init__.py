"""Reslicing beyond one machine on Dask's distributed scheduler.

- ``reslice(source, like, out, ...)`` cuts one reslice into chunk tasks
  over Zarr, OME-Zarr and NIfTI inputs and writes an OME-Zarr store.
- ``reslice_many(triples, ...)`` reslices a cohort, one task per image.

The values are bit-identical to ``volaccess.reslice`` on one machine.
The command line: ``python3 -m volaccess.distributed --help``.
"""

from .cohort import CohortResult, reslice_many
from .core import reslice
from .errors import ResliceError, SourceError

__all__ = ["CohortResult", "ResliceError", "SourceError", "reslice", "reslice_many"]
