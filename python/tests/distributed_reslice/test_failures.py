"""Runs that must not end in a silent wrong answer: a cancelled task, a
client that is not the default one, workers without the package, a full
disk, a background the store cannot hold, a NIfTI output name, a script
without a main guard, and the one-line error of a failed run."""

import errno
import os
import shutil
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest
import zarr

from volaccess.distributed import ResliceError, cluster, core, reslice

from .volumes import rotation


def python_script(tmp_path, text, name="script.py"):
    script = tmp_path / name
    script.write_text(textwrap.dedent(text))
    return script


def test_restarting_the_cluster_mid_run_is_an_error_and_leaves_no_store(tmp_path, source_zarr):
    distributed = pytest.importorskip("distributed")
    path, _ = source_zarr
    out = str(tmp_path / "out.zarr")
    failure = []
    with cluster.loopback_cluster(2) as local, distributed.Client(local) as client:
        def run():
            try:
                reslice(path, path, out, affine=rotation(20, 2, (9, 8, 6)), hold=-9, chunks=(1, 1, 1),
                        client=client, progress=False, levels=1, max_tasks=10 ** 6)
            except ResliceError as exc:
                failure.append(exc)

        runner = threading.Thread(target=run)
        runner.start()
        level = os.path.join(out, "0")
        while runner.is_alive() and not (os.path.isdir(level) and len(os.listdir(level)) > 1):
            time.sleep(0.01)
        with distributed.Client(local.scheduler_address, set_as_default=False) as other:
            other.restart()
        runner.join()
    assert failure and "cancelled" in str(failure[0])
    assert not os.path.exists(out)


def test_a_client_that_is_not_the_default_one_is_waited_on(tmp_path, source_zarr):
    path, _ = source_zarr
    script = python_script(tmp_path, f"""
        import distributed
        from volaccess.distributed import cluster, reslice
        if __name__ == "__main__":
            with cluster.loopback_cluster(1) as local:
                with distributed.Client(local, set_as_default=False) as client:
                    reslice({path!r}, {path!r}, {str(tmp_path / "out.zarr")!r}, chunks=8, client=client,
                            progress=False)
        """)
    run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert zarr.open(str(tmp_path / "out.zarr"), mode="r").attrs["volaccess"]["complete"] is True


def test_workers_without_the_package_are_named(tmp_path, source_zarr):
    distributed = pytest.importorskip("distributed")
    bare = shutil.which("python3", path="/usr/bin")
    if bare is None or subprocess.run([bare, "-c", "import distributed, volaccess"], cwd=tmp_path,
                                      capture_output=True).returncode != 1:
        pytest.skip("needs a python3 with Dask but without volaccess")
    path, _ = source_zarr
    with distributed.LocalCluster(n_workers=0, host="127.0.0.1", dashboard_address="127.0.0.1:0",
                                  scheduler_kwargs={"dashboard": False}) as cluster, \
            distributed.Client(cluster) as client:
        worker = subprocess.Popen([bare, "-m", "distributed.cli.dask_worker", cluster.scheduler_address,
                                   "--host", "127.0.0.1", "--no-dashboard", "--nthreads", "1", "--no-nanny"],
                                  cwd=tmp_path, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            client.wait_for_workers(1, timeout=60)
            with pytest.raises(ResliceError, match="the Dask workers cannot import the volaccess package"):
                reslice(path, path, str(tmp_path / "out.zarr"), chunks=8, client=client, progress=False)
        finally:
            worker.terminate()
            worker.wait(timeout=30)
    assert not os.path.exists(tmp_path / "out.zarr")


@pytest.mark.parametrize("name", ["chunk", "metadata"])
def test_a_full_disk_names_the_store_and_leaves_nothing(tmp_path, source_zarr, monkeypatch, name):
    path, _ = source_zarr
    writes = zarr.storage.DirectoryStore._tofile

    def full(data, fn):
        if name == "metadata" or os.path.basename(fn).lstrip(".").split(".")[0].isdigit():
            raise OSError(errno.ENOSPC, "No space left on device")
        writes(data, fn)

    monkeypatch.setattr(zarr.storage.DirectoryStore, "_tofile", staticmethod(full))
    out = str(tmp_path / "out.zarr")
    with pytest.raises(OSError, match=f"{out}: cannot write the output \\(no space left on the device\\)"):
        core.reslice_here(path, path, out, chunks=8)
    assert not os.path.exists(out)


@pytest.mark.parametrize("background", [float("nan"), -1.3, 70000.0])
def test_a_background_the_source_type_cannot_hold_is_refused(tmp_path, source_zarr, background):
    path, _ = source_zarr
    out = str(tmp_path / "out.zarr")
    with pytest.raises(ValueError, match=f"{out}: the background .* cannot be stored in uint16"):
        core.reslice_here(path, path, out, dtype="source", background=background)
    assert not os.path.exists(out)


def test_a_background_the_source_type_holds_is_stored(tmp_path, source_zarr):
    path, _ = source_zarr
    out = core.reslice_here(path, path, str(tmp_path / "out.zarr"), dtype="source", background=7.0, chunks=8,
                            affine=rotation(30, 2, (0, 0, 0)))
    assert np.count_nonzero(zarr.open(out, mode="r")["0"][:] == 7) > 0


def test_a_nifti_output_name_is_refused(tmp_path, source_zarr):
    path, _ = source_zarr
    with pytest.raises(ValueError, match="out.nii.gz: a distributed reslice writes an OME-Zarr store"):
        core.reslice_here(path, path, str(tmp_path / "out.nii.gz"))
    assert not os.path.exists(tmp_path / "out.nii.gz")


@pytest.mark.parametrize("from_stdin", [False, True])
def test_a_script_without_a_main_guard_fails_fast(tmp_path, source_zarr, from_stdin):
    path, _ = source_zarr
    script = python_script(tmp_path, f"""
        from volaccess.distributed import reslice
        reslice({path!r}, {path!r}, {str(tmp_path / "out.zarr")!r}, chunks=8, progress=False)
        """)
    command = [sys.executable] if from_stdin else [sys.executable, str(script)]
    with open(script) as stdin:
        run = subprocess.run(command, stdin=stdin if from_stdin else subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=240, cwd=tmp_path)
    assert run.returncode != 0
    assert "put the call under 'if __name__ == \"__main__\":'" in run.stderr


def test_a_failed_run_ends_with_one_line_and_no_worker_log(tmp_path, source_zarr):
    path, _ = source_zarr
    os.remove(os.path.join(path, "1.1.1"))
    run = subprocess.run([sys.executable, "-m", "volaccess.distributed", "reslice", path, "--like", path, "-o",
                          str(tmp_path / "out.zarr"), "--chunks", "8", "--quiet"], capture_output=True, text=True,
                         timeout=240, cwd=tmp_path)
    assert run.returncode == 1
    assert "Compute Failed" not in run.stderr
    assert run.stderr.strip().splitlines()[-1] == f"volaccess: {path}/1.1.1: source chunk is missing"
