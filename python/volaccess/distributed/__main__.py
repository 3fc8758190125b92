"""Command line: python3 -m volaccess.distributed reslice|many ..."""

import argparse
import csv
import sys

from . import core
from .cohort import reslice_many


def _chunks(text):
    parts = [p for p in text.split(",") if p]
    try:
        values = [int(p) for p in parts]
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not one or three whole numbers") from None
    if len(values) not in (1, 3) or any(v < 1 for v in values):
        raise argparse.ArgumentTypeError(f"'{text}' is not one or three positive counts")
    return tuple(values * 3 if len(values) == 1 else values)


def _auto_or_count(low):
    def parse(text):
        if text == "auto":
            return text
        try:
            value = int(text)
        except ValueError:
            value = low - 1
        if value < low:
            raise argparse.ArgumentTypeError(f"'{text}' is neither 'auto' nor a whole number from {low}")
        return value
    return parse


def _hold(text):
    if text == "label":
        return text
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is neither a whole number nor 'label'") from None


def _scheduler(text):
    return None if text == "local" else text


def _common(parser):
    parser.add_argument("--scheduler", default="local", type=_scheduler, metavar="ADDRESS|local",
                        help="a Dask scheduler (tcp://host:8786), or 'local' to start one on 127.0.0.1 "
                             "with a worker process per CPU (default)")
    parser.add_argument("--chunks", default=(128, 128, 128), type=_chunks, metavar="N|X,Y,Z",
                        help="output chunk size in voxels (default 128)")
    parser.add_argument("--hold", type=_hold, default=1,
                        help="0 nearest, 1 trilinear (default), 2..170 Lagrange, -1..-254 windowed sinc, or "
                             "'label': the label of largest summed trilinear weight among the eight neighbours")
    parser.add_argument("--background", type=float, default=0.0, help="value outside the source (default 0)")
    parser.add_argument("--datatype", choices=core.DTYPES, default=None,
                        help="output type (default float32; source for labels)")
    parser.add_argument("--affine", metavar="FILE",
                        help="4x4 world-space affine applied to the source (four rows of four numbers)")
    parser.add_argument("--quiet", action="store_true", help="no progress lines")


def _parser():
    parser = argparse.ArgumentParser(prog="python3 -m volaccess.distributed",
                                     description="Reslice Zarr, OME-Zarr and NIfTI images on a Dask cluster.")
    commands = parser.add_subparsers(dest="command", required=True)
    one = commands.add_parser("reslice", help="reslice one image into an OME-Zarr pyramid, a task per block")
    one.add_argument("source", help="Zarr array, OME-Zarr image or NIfTI file")
    one.add_argument("--like", required=True, help="reference image giving the output grid")
    one.add_argument("-o", "--out", required=True, help="new OME-Zarr store (.zarr)")
    one.add_argument("--level", default="auto", type=_auto_or_count(0), metavar="auto|N",
                     help="source pyramid level to read: 'auto' (default) the coarsest whose voxels are no larger "
                          "than the output's, or an index (0 the finest)")
    one.add_argument("--levels", default="auto", type=_auto_or_count(1), metavar="auto|N",
                     help="output pyramid levels, each halved: 'auto' (default) down to 256 voxels an axis, or a "
                          "count")
    one.add_argument("--large-output", action="store_true",
                     help="write a store larger than the free space of its file system")
    _common(one)
    many = commands.add_parser("many", help="reslice a cohort, a task per image")
    many.add_argument("list", help="CSV file of source,reference,output lines ('#' starts a comment)")
    _common(many)
    return parser


def _read_cohort(path):
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f) if r and not r[0].lstrip().startswith("#")]
    for number, row in enumerate(rows, 1):
        if len(row) != 3:
            raise ValueError(f"{path}: row {number}: expected source,reference,output, found {len(row)} fields")
    return [tuple(field.strip() for field in row) for row in rows]


def main(argv=None):
    args = _parser().parse_args(argv)
    try:
        affine = None
        if args.affine:
            from . import _blocks

            affine = _blocks.read_affine_file(args.affine)
        options = dict(affine=affine, hold=args.hold, background=args.background, dtype=args.datatype,
                       chunks=args.chunks, client=args.scheduler, progress=not args.quiet)
        if args.command == "reslice":
            core.reslice(args.source, args.like, args.out, level=args.level, levels=args.levels,
                         large_output=args.large_output, **options)
            return 0
        results = reslice_many(_read_cohort(args.list), **options)
        return 0 if all(r.ok for r in results) else 1
    except (OSError, ValueError, RuntimeError) as exc:
        print(f"volaccess: {exc}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
