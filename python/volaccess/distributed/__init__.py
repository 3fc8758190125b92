"""Reslicing beyond one machine on Dask's distributed scheduler.

- ``reslice(source, like, out, ...)`` cuts one reslice into chunk tasks
  over Zarr, OME-Zarr and NIfTI inputs and writes an OME-Zarr pyramid.
- ``reslice_array(source, like, ...)`` is the same reslice as a lazy
  ``dask.array.Array``, to compose with other Dask operations.
- ``reslice_many(triples, ...)`` reslices a cohort, one task per image.

The values are bit-identical to ``volaccess.reslice`` on one machine.
The command line: ``python3 -m volaccess.distributed --help``.
"""

from .cohort import CohortResult, reslice_many
from .core import reslice
from .errors import ResliceError, SourceError
from .lazy import reslice_array

__all__ = ["CohortResult", "ResliceError", "SourceError", "reslice", "reslice_array", "reslice_many"]
