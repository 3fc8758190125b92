"""The volaccess program hands a .zarr or --scheduler reslice to
volaccess.distributed, with its options."""

import os
import subprocess
import sys

import numpy as np
import pytest
import zarr

from volaccess.distributed import core

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def run_program(*args):
    program = os.environ.get("VOLACCESS_PROGRAM", os.path.join(ROOT, "build", "release", "tools", "volaccess"))
    if not os.access(program, os.X_OK):
        pytest.skip(f"the volaccess program is not built at {program}")
    env = dict(os.environ, VOLACCESS_PYTHON=sys.executable)
    return subprocess.run([program, "reslice", *args], capture_output=True, text=True, env=env, timeout=120)


def test_program_reslices_a_zarr_store_on_the_cluster(tmp_path, source_zarr, cluster_client):
    path, _ = source_zarr
    out = str(tmp_path / "out.zarr")
    run = run_program(path, "--like", path, "-o", out, "--hold", "cubic", "--background", "nan", "--chunks", "6",
                      "--levels", "2", "--scheduler", cluster_client.scheduler.address)
    assert run.returncode == 0, run.stderr
    assert "reslice: 100%" in run.stderr
    here = core.reslice_here(path, path, str(tmp_path / "here.zarr"), hold=3, background=float("nan"),
                             chunks=(6, 6, 6))
    got, expected = zarr.open(out, mode="r")["0"], zarr.open(here, mode="r")["0"]
    assert got.chunks == (6, 6, 6)
    assert got[:].tobytes() == expected[:].tobytes()
    assert [d["path"] for d in zarr.open(out, mode="r").attrs["multiscales"][0]["datasets"]] == ["0", "1"]


@pytest.mark.parametrize("extra,message", [
    (["-o", "out.nii.gz", "--scheduler", "local"], "-o out.nii.gz: a .zarr or --scheduler reslice writes an OME-Zarr"),
    (["-o", "out.nii.gz", "--levels", "3"], "-o out.nii.gz: a .zarr or --scheduler reslice writes an OME-Zarr"),
    (["--voxel-size", "2"], "--voxel-size does not apply"),
    (["--datatype", "int16"], "writes float32, float64 or source"),
    (["--volume", "2"], "--volume does not apply"),
    (["--threads", "2"], "--threads does not apply"),
])
def test_program_refuses_options_the_zarr_path_cannot_honour(tmp_path, source_zarr, extra, message):
    path, _ = source_zarr
    run = run_program(path, "--like", path, *(extra if "-o" in extra else ["-o", str(tmp_path / "out.zarr"), *extra]))
    assert run.returncode == 2
    assert message in run.stderr
    assert not os.path.exists(tmp_path / "out.zarr") and not os.path.exists("out.nii.gz")


def test_program_names_a_python_it_cannot_start(tmp_path, source_zarr):
    path, _ = source_zarr
    program = os.environ.get("VOLACCESS_PROGRAM", os.path.join(ROOT, "build", "release", "tools", "volaccess"))
    if not os.access(program, os.X_OK):
        pytest.skip(f"the volaccess program is not built at {program}")
    missing = str(tmp_path / "no-python")
    run = subprocess.run([program, "reslice", path, "--like", path, "-o", str(tmp_path / "out.zarr")],
                         capture_output=True, text=True, env=dict(os.environ, VOLACCESS_PYTHON=missing))
    assert run.returncode == 1
    assert f"{missing}: cannot start it" in run.stderr


def test_program_names_volaccess_python_when_the_package_is_missing(tmp_path, source_zarr):
    path, _ = source_zarr
    program = os.environ.get("VOLACCESS_PROGRAM", os.path.join(ROOT, "build", "release", "tools", "volaccess"))
    bare = "/usr/bin/python3"
    if not os.access(program, os.X_OK) or subprocess.run([bare, "-c", "import volaccess"], cwd=tmp_path,
                                                         capture_output=True).returncode == 0:
        pytest.skip("needs the program and a python3 without volaccess")
    run = subprocess.run([program, "reslice", path, "--like", path, "-o", str(tmp_path / "out.zarr")],
                         capture_output=True, text=True, env=dict(os.environ, VOLACCESS_PYTHON=bare), cwd=tmp_path)
    assert run.returncode == 1
    assert f"{bare} cannot import the volaccess package" in run.stderr and "set VOLACCESS_PYTHON" in run.stderr
