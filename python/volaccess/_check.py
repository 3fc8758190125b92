"""Registration check pictures: an image over the edges of its reference."""

from __future__ import annotations

import os
from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np

from . import _native
from ._images import load
from ._native import Volume

ImageLike = Union[str, bytes, os.PathLike, Volume, Any]


def check(image: ImageLike, ref: ImageLike, out: Optional[Union[str, os.PathLike]] = None, *,
          planes: Optional[Sequence[str]] = None, positions: Optional[Sequence[float]] = None,
          size: Optional[Tuple[int, int]] = None, window: Optional[Tuple[float, float]] = None,
          checkerboard: Optional[int] = None, labels: Optional[str] = None, hold: Union[int, str, None] = None,
          edges: Optional[float] = None, volume: Optional[int] = None,
          threads: Optional[int] = None) -> Union[str, np.ndarray]:
    """Draw `image` on the grid of `ref` with `ref`'s edges over it, as ``volaccess check`` does.

    Parameters
    ----------
    image : str, os.PathLike, Volume or nibabel image
        The image whose registration is judged; ``volume`` picks one volume
        of a 4-D image, counting from 0.
    ref : str, os.PathLike, Volume or nibabel image
        The reference: its world field of view is drawn, and its edges (or
        its label outlines) go over `image`. Its first volume is used.
    out : str or os.PathLike, optional
        A ``.png`` file to write, whole; without it the picture is returned.
    planes : sequence of str, optional
        The mosaic's rows from the top: "axial", "coronal", "sagittal"
        (default all three).
    positions : sequence of float, optional
        The columns: each plane's position in percent of `ref`'s world
        extent along the plane's normal (default 25, 50, 75).
    size : (int, int), optional
        Width and height of each panel in pixels, 8 to 4096 (default 192 x 192).
    window : (float, float), optional
        Grey levels (black, white) of `image` (of `ref` with
        ``labels="image"``); default its 1st to 99th percentile.
    checkerboard : int, optional
        Alternate `image` and `ref` in that many squares along a panel's
        longer side; `ref`'s squares take its own 1st to 99th percentile.
    labels : {"image", "ref"}, optional
        That image holds labels, drawn as outlines in each label's colour
        (nearest neighbour) over the other image in grey.
    hold : int or str, optional
        Interpolation of the grey images, as for Volume.sample (default 1).
    edges : float, optional
        A pixel is an edge of `ref` where the gradient of `ref` (resampled
        with the Lagrange cubic) reaches this fraction of its 1st to 99th
        percentile range per voxel and peaks across the edge (default 0.2).
    volume : int, optional
        The volume of a 4-D `image`.
    threads : int, optional
        Threads sharing the work; the picture does not depend on it.

    Returns
    -------
    str or numpy.ndarray
        The path written when `out` is given, else the picture as a
        (height, width, 3) uint8 RGB array whose first row is the top:
        the same pixels as the program's PNG.

    Raises
    ------
    ValueError
        For a bad option value, naming it.

    Examples
    --------
    >>> import numpy as np, nibabel as nib, volaccess
    >>> cube = np.zeros((20, 20, 20), np.float32)
    >>> cube[5:15, 5:15, 5:15] = 100
    >>> img = nib.Nifti1Image(cube, np.eye(4))
    >>> volaccess.check(img, img, planes=["axial"], positions=[50], size=(64, 64)).shape
    (82, 72, 3)
    """
    options = {name: value for name, value in (
        ("planes", planes), ("positions", positions), ("size", size), ("window", window),
        ("checkerboard", checkerboard), ("labels", labels), ("hold", hold),
        ("edges", edges)) if value is not None}
    if isinstance(planes, str):
        options["planes"] = [planes]
    opened = []
    try:
        if not isinstance(image, Volume):
            image = load(image, volume)
            opened.append(image)
        if not isinstance(ref, Volume):
            ref = load(ref, volume=0)
            opened.append(ref)
        path = None if out is None else os.fsdecode(out)
        if path is not None and not path.lower().endswith(".png"):
            raise ValueError(f"{path}: the output must end in .png")
        picture = _native._check(image, ref, options, threads, path)
        return path if path is not None else picture
    finally:
        for volume_opened in opened:
            volume_opened.close()
