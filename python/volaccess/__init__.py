"""Sample and reslice 3-D images with the volaccess volume library.

The same kernels and the same bits as the ``volaccess`` program, called
on numpy arrays and NIfTI images:

- ``load(path_or_image, volume=None)`` opens a NIfTI-1/-2 image, one
  volume of it or a whole 4-D series, and maps it read-only:
  ``Volume.sample`` and ``Volume.slice``.
- ``sample_array(array, points, ...)`` samples a 3-D numpy array in place.
- ``reslice(source, like, ...)`` resamples an image onto another's grid,
  or onto new voxel sizes, through transform files, a FLIRT matrix or an
  affine, as the ``volaccess reslice`` command does.
- ``check(image, ref, out=None, ...)`` draws an image over the edges of
  its reference, to judge a registration by eye.

Hold codes pick the interpolation: 0 nearest neighbour, 1 trilinear,
2..170 Lagrange through hold + 1 nodes, -1..-254 Hann-windowed sinc over
1 - hold nodes per axis. Errors are FileNotFoundError, PermissionError or
OSError for files, TypeError for an argument of the wrong type and
ValueError for everything else, with the program's messages.
"""

from ._native import Volume, sample_array
from ._images import load
from ._reslice import reslice
from ._check import check

__all__ = ["Volume", "check", "load", "reslice", "sample_array"]
