"""qv vtk: export field, snapshot and statistics files to .vtr."""

import os
import sys

from .. import readers


def register(sub):
    s = sub.add_parser("vtk", help="export field/snapshot/statistics files to .vtr")
    s.add_argument("files", nargs="+")
    s.add_argument("-o", "--output", help="output file (one input only)")
    s.add_argument("--outdir", help="directory for FILE.vtr outputs")
    s.add_argument("--axis", help="axis file (default: from the run's parameter file)")
    s.add_argument("--flag", help="flag file (default: from the run's parameter file)")
    s.add_argument("--run", help="run directory (default: the file's directory)")
    s.add_argument("--kind", choices=("field", "snapshot", "statistics"))
    s.add_argument("--encoding", choices=("raw", "base64"), default="raw",
                   help="appended raw binary (default) or inline base64")
    s.add_argument("--compress", action="store_true", help="zlib-compress the arrays")
    s.add_argument("--pvd", help="ParaView collection of the field and snapshot files "
                                 "(written for two or more; default OUTDIR/series.pvd)")
    s.set_defaults(func=run)
    return s


def run(args):
    from ..vtk_export import export, write_pvd
    if args.output and len(args.files) > 1:
        raise ValueError("-o names one output file: give one input or use --outdir")
    series = []
    if args.outdir:
        os.makedirs(args.outdir, exist_ok=True)
    for path in args.files:
        out = args.output
        if out is None:
            out = os.path.basename(path) + ".vtr"
            out = os.path.join(args.outdir or os.path.dirname(path) or ".", out)
        export(path, out, args.axis, args.flag, args.run, args.kind, args.encoding,
               args.compress)
        print(f"wrote {out}")
        rec = readers.read_record_file(path, args.kind)
        if rec.kind != "statistics":
            series.append((rec.header["t"], out))
    if len(series) > 1 or (args.pvd and series):
        times = [t for t, _ in series]
        if len(set(times)) != len(times):
            print("qv: warning: several files have the same time; ParaView shows one "
                  "of them per time", file=sys.stderr)
        pvd = args.pvd or os.path.join(args.outdir or os.path.dirname(series[0][1]) or ".",
                                       "series.pvd")
        write_pvd(pvd, series)
        print(f"wrote {pvd} ({len(series)} times)")
    return 0
