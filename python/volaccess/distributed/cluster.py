"""The Dask cluster a run uses: a local one on the loopback interface, a
scheduler address or a client given; and the checks that fail fast where
its workers could not do the work."""

import ast
import contextlib
import importlib
import inspect
import logging
import os
import sys

from .errors import ResliceError


def _is_main_guard(node):
    """True for the test `__name__ == "__main__"`, either way round."""
    if not (isinstance(node, ast.Compare) and len(node.ops) == 1 and isinstance(node.ops[0], ast.Eq)):
        return False
    sides = [node.left, node.comparators[0]]
    return any(isinstance(s, ast.Name) and s.id == "__name__" for s in sides) and any(
        isinstance(s, ast.Constant) and s.value == "__main__" for s in sides)


def _guarded(path, line):
    """True when line `line` of the script lies under its main guard."""
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    return any(isinstance(node, ast.If) and _is_main_guard(node.test) and node.lineno <= line <= node.end_lineno
               for node in ast.walk(tree))


def refuse_unguarded_start(client):
    """Fails fast where a local cluster's worker processes could never start:
    each of them imports the main script again, so a script read from
    standard input cannot give them one, and a script that starts the
    cluster outside its main guard would start it again in every worker,
    which Dask restarts without end."""
    if not (client is None or client == "local"):
        return
    main = sys.modules.get("__main__")
    path = getattr(main, "__file__", None)
    if path is None:
        return  # an interactive session or python -c: nothing is imported again
    advice = 'put the call under \'if __name__ == "__main__":\''
    if not os.path.isfile(path):
        raise RuntimeError(f"a local Dask cluster cannot start its worker processes from a script read from {path}: "
                           f"save the script to a file and {advice}, or pass a client")
    caller = next((frame for frame, *_ in inspect.stack() if frame.f_globals is vars(main)
                   and frame.f_code.co_name == "<module>" and frame.f_code.co_filename == path), None)
    if caller is not None and not _guarded(path, caller.f_lineno):
        raise RuntimeError(f"{path}, line {caller.f_lineno}: starting a local Dask cluster here would start it again "
                           f"in each of its worker processes, which import this script: {advice}")


def loopback_cluster(workers):
    """A LocalCluster of `workers` single-threaded worker processes with
    every listening socket on 127.0.0.1: the scheduler's and the workers'
    HTTP servers too, which would otherwise listen on every interface.
    The workers log errors only: a failed task's error is ours to report,
    in one line."""
    import distributed

    return distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                                    dashboard_address="127.0.0.1:0", worker_dashboard_address="127.0.0.1:0",
                                    scheduler_kwargs={"dashboard": False}, silence_logs=logging.ERROR)


@contextlib.contextmanager
def connect(client):
    """A distributed.Client for `client`: None starts a LocalCluster on the
    loopback interface (one single-threaded worker process per CPU), a
    string is a scheduler address, a Client is used as it is. What is
    started here is stopped here."""
    import distributed

    if isinstance(client, distributed.Client):
        yield client
        return
    if client is None or client == "local":
        with loopback_cluster(len(os.sched_getaffinity(0))) as cluster, distributed.Client(cluster) as started:
            yield started
        return
    if isinstance(client, str):
        with distributed.Client(client) as started:
            yield started
        return
    raise TypeError(f"client must be None, 'local', a scheduler address or a distributed.Client, not {client!r}")


def check_workers(client):
    """Raises ResliceError when a worker cannot import the package: a task
    sent to it would not even unpack there, and its worker would stop. A
    worker that is coming or going when asked is left to the scheduler."""
    answers = client.run(importlib.import_module, "volaccess.distributed._blocks", on_error="return")
    missing = [a for a in answers.values() if isinstance(a, ImportError)]
    if missing:
        raise ResliceError(f"the Dask workers cannot import the volaccess package ({missing[0]}): install it in the "
                           "workers' environment")
