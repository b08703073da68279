"""qv export: a run's time series or body history, or a sweep's table, as
CSV with a header of units and provenance."""

import os

from .common import default_out


def register(sub):
    s = sub.add_parser("export", help="time series, body history or sweep table as CSV",
                       description="Write the joined, non-dimensional time series (ts) or "
                                   "body history (history) of a run or restart chain, or the "
                                   "table of a sweep (sweep), as CSV under '#' lines of "
                                   "units and provenance.")
    s.add_argument("what", choices=("ts", "history", "sweep"))
    s.add_argument("path", nargs="+",
                   help="run directory (a restart chain is followed back from its last "
                        "folder), the chain's folders in order, or (sweep) the sweep folder")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--tmin", type=float, help="analysis window start (sweep)")
    s.add_argument("-o", "--output", help="CSV file (default RUN/qv_WHAT.csv)")
    s.set_defaults(func=run)
    return s


def run(args):
    from .. import export
    last = args.path[-1]
    out = args.output or default_out(last, f"_{args.what}.csv")
    paths = args.path if len(args.path) > 1 else last
    if args.what == "ts":
        export.export_timeseries(paths, out, args.vin)
    elif args.what == "history":
        export.export_history(paths, out, args.vin)
    else:
        from .. import sweep
        if len(args.path) > 1:
            raise ValueError("a sweep is one folder")
        key, rows = sweep.summary_rows(last, args.tmin)
        sweep.write_csv(key, rows, out, last)
    print(f"wrote {out}")
    return 0
