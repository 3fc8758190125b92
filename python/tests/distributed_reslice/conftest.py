"""Fixtures of the distributed tests: small Zarr and NIfTI volumes and one
LocalCluster of two worker processes on the loopback interface, started
and stopped by the tests."""

import pytest
import zarr

from .volumes import SOURCE_CHUNKS_ZYX, ramp_volume


@pytest.fixture
def source_zarr(tmp_path):
    """(path, voxels as z, y, x) of a plain Zarr array."""
    voxels = ramp_volume()
    path = str(tmp_path / "source.zarr")
    zarr.save_array(path, voxels, chunks=SOURCE_CHUNKS_ZYX)
    return path, voxels


@pytest.fixture(scope="session")
def cluster_client():
    """A distributed.Client on a LocalCluster of two single-threaded worker
    processes bound to 127.0.0.1."""
    distributed = pytest.importorskip("distributed")
    from volaccess.distributed import cluster

    with cluster.loopback_cluster(2) as local, distributed.Client(local) as client:
        yield client
