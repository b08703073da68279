"""qv info: describe record files (bounds, header, arrays)."""

import numpy as np

from .. import readers

KINDS = ("field", "snapshot", "statistics", "history", "body")


def register(sub):
    s = sub.add_parser("info", help="describe record files (bounds, header, arrays)")
    s.add_argument("files", nargs="+")
    s.add_argument("--kind", choices=KINDS, help="file kind (guessed by default)")
    s.set_defaults(func=run)
    return s


def run(args):
    for path in args.files:
        rec = readers.read_record_file(path, args.kind)
        print(f"{path}: {rec.kind} file")
        if rec.bounds:
            print("  bounds  " + " ".join(f"{k}={v}" for k, v in rec.bounds.items()))
        if rec.header:
            print("  header  " + " ".join(f"{k}={v:.6g}" if isinstance(v, float)
                                          else f"{k}={v}" for k, v in rec.header.items()))
        for name, b in rec.blocks.items():
            axes = "ijk" if len(b.lo) == 3 else ("sample",)
            rng = ", ".join(f"{c}={l}..{h}" for c, l, h in zip(axes, b.lo, b.hi))
            if b.data.size:
                stats = (f"min {np.nanmin(b.data):.6g}  max {np.nanmax(b.data):.6g}"
                         f"  mean {np.nanmean(b.data):.6g}")
            else:
                stats = "empty"
            print(f"  {name:<6s} {rng:<28s} {stats}")
    return 0
