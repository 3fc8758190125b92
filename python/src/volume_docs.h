// The docstrings of volaccess.Volume, in numpydoc form; their examples
// run as doctests in the package's tests.
#ifndef VOLACCESS_PYTHON_VOLUME_DOCS_H
#define VOLACCESS_PYTHON_VOLUME_DOCS_H

namespace vapy {

constexpr char kVolumeDoc[] = R"(One volume of a NIfTI image, or all of a 4-D image's as a series, mapped read-only.

Made by volaccess.load(). Voxels are read in place from the file (a
compressed file is decompressed once into an unnamed temporary file).
Usable as a context manager; close() unmaps, and a closed volume raises
ValueError.

A file that changes on disk after loading is caught without asking the
system at each call: a read of a part of the file that vanished gives
zeros instead of ending the process, and that call, and every later one,
raise OSError naming the file as "changed on disk"; a file that lost
only some bytes of its last page is caught by its last non-zero byte,
which must keep its value (the zeros after it read as zeros whatever
happens to them).

Examples
--------
>>> import nibabel as nib, numpy as np, volaccess
>>> image = nib.Nifti1Image(np.zeros((4, 4, 4, 3), np.int16), np.eye(4))
>>> with volaccess.load(image) as series:
...     series.shape, series.dtype.name, series.path
((4, 4, 4, 3), 'int16', None)
)";

constexpr char kSampleDoc[] =
    R"(sample($self, points, *, space='world', hold=1, background=0.0, gradient=False, threads=None)
--

Values of the volume, or of every volume of a series, at points.

Bit-identical to ``volaccess sample`` with the same options.

Parameters
----------
points : array_like, shape (N, 3)
    Coordinates; float64 is used as is, in any order and with any
    strides; other integer and float dtypes are converted.
space : {"world", "voxel", "voxel1"}
    "world" goes through the inverse of the image's matrix (nibabel's
    affine); "voxel" takes 0-based indices as numpy uses them:
    exactly 1.0 is added to each coordinate before the library is called;
    "voxel1" takes the library's own 1-based coordinates.
hold : int or str
    0 nearest neighbour, 1 trilinear, 2..170 Lagrange through hold + 1
    nodes, -1..-254 Hann-windowed sinc over 1 - hold nodes per axis; or
    a name: "nearest", "linear", "cubic", "sinc", or "label" (for label
    images: of the eight trilinear neighbours, the value whose weights
    sum highest, the smaller value on a tie).
background : float
    Value of points outside the volume, and of non-finite ones.
gradient : bool
    Also return the derivatives along the voxel axes x, y, z.
threads : int, optional
    Threads for large calls; by default VOLACCESS_NUM_THREADS when set,
    else every CPU this process may use. The result does not depend on it.

Returns
-------
values : ndarray of float64
    Shape (N,), or (N, T) for a series of T volumes.
gradients : ndarray of float64
    With gradient=True only, returned as ``(values, gradients)``: shape
    (N, 3), or (N, T, 3) for a series.

Raises
------
ValueError
    For a bad argument (naming it), a closed volume, or hold="label"
    with gradient=True.
TypeError
    For an argument of the wrong type.
OSError
    When the file changed on disk since it was loaded.

Examples
--------
>>> import os, tempfile
>>> import nibabel as nib, numpy as np, volaccess
>>> ramp = np.arange(2 * 3 * 4 * 2, dtype=np.float32).reshape((2, 3, 4, 2), order="F")
>>> folder = tempfile.TemporaryDirectory()
>>> path = os.path.join(folder.name, "ramp.nii")
>>> nib.save(nib.Nifti1Image(ramp, np.eye(4)), path)
>>> with volaccess.load(path) as series:
...     series.sample([[0.5, 1, 2]], space="voxel")
array([[14.5, 38.5]])
>>> with volaccess.load(path, volume=1) as second:
...     second.sample([[0.5, 1, 2]], space="voxel", gradient=True)
(array([38.5]), array([[1., 2., 6.]]))
>>> folder.cleanup()
)";

constexpr char kSliceDoc[] = R"(A 2-D image cut through the volume, or through each volume of a series.

Parameters
----------
matrix : array_like, shape (4, 4)
    Written row by row, taking pixel (i, j, 0, 1) to 1-based voxel
    coordinates, as the program's slice transform; pixels count from 1
    in it.
shape : tuple of int
    (width, height) in pixels.
hold, background, threads
    As for sample (hold="label" is a ValueError); rows are shared among
    the threads, with the same bits.

Returns
-------
ndarray of float64
    Shape (width, height), or (width, height, T) for a series:
    out[i, j] is the pixel (i + 1, j + 1), 0-based indexing of the
    program's pixels.

Raises
------
ValueError
    For a bad argument, naming it, or a closed volume.
OSError
    When its file was cut short or rewritten after loading.

Examples
--------
>>> import pathlib, shutil, tempfile
>>> import nibabel as nib, numpy as np, volaccess
>>> ramp = np.arange(24, dtype=np.float32).reshape((2, 3, 4), order="F")
>>> path = pathlib.Path(tempfile.mkdtemp()) / "ramp.nii"
>>> nib.save(nib.Nifti1Image(ramp, np.eye(4)), path)
>>> first_plane = np.eye(4)
>>> first_plane[2, 3] = 1.0
>>> with volaccess.load(path) as volume:
...     volume.slice(first_plane, (2, 3), hold=0)
array([[0., 2., 4.],
       [1., 3., 5.]])
>>> shutil.rmtree(path.parent)
)";

}  // namespace vapy

#endif
