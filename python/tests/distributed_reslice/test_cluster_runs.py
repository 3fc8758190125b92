"""Reslices run on a LocalCluster of two worker processes (127.0.0.1):
a worker lost in the middle, sources that cannot be read, the
completion mark, OME-Zarr geometry, cohorts and the command line."""

import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
import zarr

from volaccess.distributed import ResliceError, SourceError, core, grids, reslice, reslice_many

from .volumes import rotation


def stored(path):
    return zarr.open(path, mode="r")["0"][:]


def same_bits(a, b):
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def test_cluster_listens_on_the_loopback_interface_only(cluster_client):
    psutil = pytest.importorskip("psutil")
    pids = [os.getpid(), *cluster_client.run(os.getpid).values()]
    listening = [c.laddr.ip for pid in pids for c in psutil.Process(pid).connections(kind="inet")
                 if c.status == psutil.CONN_LISTEN]
    assert listening and set(listening) == {"127.0.0.1"}


def test_worker_killed_mid_run_leaves_complete_identical_output(tmp_path, source_zarr, cluster_client):
    path, voxels = source_zarr
    transform = rotation(25, 2, (9, 8, 6))
    expected = core.reslice_here(path, path, str(tmp_path / "here.zarr"), affine=transform, hold=-5,
                                 chunks=(4, 4, 4))
    out = str(tmp_path / "out.zarr")
    total = 5 * 5 * 4
    failure = []

    def run():
        try:
            reslice(path, path, out, affine=transform, hold=-5, chunks=(4, 4, 4), client=cluster_client,
                    progress=False)
        except BaseException as exc:  # reported by the assertion below
            failure.append(exc)

    runner = threading.Thread(target=run)
    runner.start()
    level = os.path.join(out, "0")
    while runner.is_alive() and (not os.path.isdir(level) or len(os.listdir(level)) < total // 5):
        time.sleep(0.01)
    written_before_kill = len(os.listdir(level)) - 1  # without .zarray
    victim = next(iter(cluster_client.run(os.getpid).values()))
    os.kill(victim, signal.SIGKILL)
    runner.join()
    assert not failure
    assert written_before_kill < total
    assert zarr.open(out, mode="r").attrs["volaccess"]["complete"] is True
    assert same_bits(stored(out), stored(expected))


@pytest.mark.parametrize("damage,message", [
    (os.remove, "source chunk is missing"),
    (lambda p: open(p, "wb").write(b"\x02\x01\x21\x02not a compressed chunk at all"), "source chunk cannot be decoded"),
])
def test_unreadable_source_chunk_is_named_and_no_output_remains(tmp_path, source_zarr, cluster_client, damage,
                                                               message):
    path, _ = source_zarr
    damage(os.path.join(path, "1.1.1"))
    out = str(tmp_path / "out.zarr")
    with pytest.raises(ResliceError, match=f"source.zarr/1.1.1: {message}"):
        reslice(path, path, out, chunks=(8, 8, 8), client=cluster_client, progress=False)
    assert not os.path.exists(out)


def test_unfinished_output_is_refused_as_input(tmp_path, source_zarr):
    path, _ = source_zarr
    grid = grids.open_grid(path)
    from volaccess.distributed import output

    output.create(str(tmp_path / "unfinished.zarr"), [grid], "float32", (8, 8, 8), 0.0)
    with pytest.raises(SourceError, match="unfinished"):
        grids.open_source(str(tmp_path / "unfinished.zarr"))


def test_existing_output_is_left_alone(tmp_path, source_zarr):
    path, _ = source_zarr
    with pytest.raises(FileExistsError, match="exists already"):
        core.reslice_here(path, path, path)
    assert zarr.open(path, mode="r").shape == (13, 17, 19)


def write_ome_zarr(path, voxels, scale_zyx, translation_zyx):
    root = zarr.open_group(path, mode="w")
    root.create_dataset("0", data=voxels, chunks=(5, 6, 7))
    root.attrs["multiscales"] = [{
        "version": "0.4",
        "axes": [{"name": n, "type": "space", "unit": "micrometer"} for n in "zyx"],
        "datasets": [{"path": "0", "coordinateTransformations": [
            {"type": "scale", "scale": scale_zyx}, {"type": "translation", "translation": translation_zyx}]}],
    }]


def test_ome_zarr_round_trip_keeps_geometry_and_values(tmp_path, source_zarr, cluster_client):
    _, voxels = source_zarr
    source = str(tmp_path / "image.ome.zarr")
    write_ome_zarr(source, voxels, [2.0, 0.5, 0.25], [-3.0, 10.5, 7.25])
    out = str(tmp_path / "out.zarr")
    reslice(source, source, out, dtype="source", chunks=(8, 8, 8), client=cluster_client, progress=False)
    attrs = zarr.open(out, mode="r").attrs
    level = attrs["multiscales"][0]["datasets"][0]["coordinateTransformations"]
    assert level == [{"type": "scale", "scale": [2.0, 0.5, 0.25]},
                     {"type": "translation", "translation": [-3.0, 10.5, 7.25]}]
    assert [a["unit"] for a in attrs["multiscales"][0]["axes"]] == ["micrometer"] * 3
    # The same grid: every sample falls on a voxel centre.
    assert same_bits(stored(out), voxels)
    assert np.array_equal(grids.open_grid(out).affine, grids.open_grid(source).affine)


def test_cohort_reports_a_failed_image_and_writes_the_others(tmp_path, source_zarr, cluster_client):
    path, _ = source_zarr
    triples = [(path, path, str(tmp_path / "a.zarr")),
               (str(tmp_path / "missing.zarr"), path, str(tmp_path / "b.zarr")),
               (path, path, str(tmp_path / "c.zarr"))]
    log = tmp_path / "log.txt"
    with open(log, "w") as stream:
        results = reslice_many(triples, hold=3, chunks=(8, 8, 8), client=cluster_client, stream=stream)
    assert [r.ok for r in results] == [True, False, True]
    assert "missing.zarr: no such Zarr store" in results[1].error
    assert same_bits(stored(tmp_path / "a.zarr"), stored(tmp_path / "c.zarr"))
    text = log.read_text()
    assert "missing.zarr failed" in text and "2 of 3 images written, 1 failed" in text


def test_command_line_on_a_scheduler_address(tmp_path, source_zarr, cluster_client):
    path, _ = source_zarr
    affine = tmp_path / "rotation.txt"
    np.savetxt(affine, rotation(-15, 1, (9, 8, 6)))
    out = str(tmp_path / "cli.zarr")
    run = subprocess.run([sys.executable, "-m", "volaccess.distributed", "reslice", path, "--like", path, "-o", out,
                          "--scheduler", cluster_client.scheduler.address, "--chunks", "8,4,5", "--hold", "-3",
                          "--affine", str(affine)], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert "reslice: 100% (" in run.stderr
    here = core.reslice_here(path, path, str(tmp_path / "here.zarr"), affine=np.loadtxt(affine), hold=-3,
                             chunks=(8, 4, 5))
    assert same_bits(stored(out), stored(here))


def test_command_line_cohort_fails_with_status_one(tmp_path, source_zarr, cluster_client):
    path, _ = source_zarr
    listing = tmp_path / "cohort.csv"
    listing.write_text(f"# source,reference,output\n{path},{path},{tmp_path / 'ok.zarr'}\n"
                       f"{tmp_path / 'absent.zarr'},{path},{tmp_path / 'no.zarr'}\n")
    run = subprocess.run([sys.executable, "-m", "volaccess.distributed", "many", str(listing), "--scheduler",
                          cluster_client.scheduler.address, "--quiet"], capture_output=True, text=True, timeout=120)
    assert run.returncode == 1
    assert "absent.zarr failed" in run.stderr and "1 of 2 images written, 1 failed" in run.stderr
    assert os.path.isdir(tmp_path / "ok.zarr") and not os.path.exists(tmp_path / "no.zarr")
