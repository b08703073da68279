"""qv surface: pressure coefficient around the body (CSV and PNG)."""

import os

from ..published import REFERENCES
from .common import default_out


def register(sub):
    s = sub.add_parser("surface", help="pressure coefficient around the body (CSV + PNG)")
    s.add_argument("files", nargs="+", help="field, snapshot or statistics files")
    s.add_argument("--k", type=int, help="cell layer from 0 (default: mean over the span)")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--csv", help="CSV output (one input; default FILE_cp.csv)")
    s.add_argument("-o", "--output", help="PNG of all inputs (default FILE_cp.png)")
    s.add_argument("--title", help="title of the figure")
    s.add_argument("--axis")
    s.add_argument("--flag")
    s.add_argument("--run")
    s.add_argument("--kind", choices=("field", "snapshot", "statistics"))
    s.add_argument("--since", metavar="EARLY",
                   help="statistics inputs (files or run folders): take the window after "
                        "EARLY, the same run's statistics that ended where it starts")
    s.add_argument("--reference", choices=("base",),
                   help="mark the published base pressure of the square cylinder at "
                        "Re about 22,000 on the rear face")
    s.set_defaults(func=run)
    return s


def run(args):
    from .. import plots, surface, wake
    from ..readers import read_statistics
    curves = []
    for path in args.files:
        record = None
        if args.since:
            path = wake.stat_path(path)
            record = wake.since_records(read_statistics(path),
                                        read_statistics(wake.stat_path(args.since)))
        cp = surface.file_cp(path, args.vin, args.k, args.axis, args.flag, args.run, args.kind,
                             record)
        base = default_out(path, "_cp")
        csv = args.csv if args.csv and len(args.files) == 1 else base + ".csv"
        surface.write_csv(cp, csv)
        window = (f", mean over t = {cp['window'][0]:.6g} ... {cp['window'][1]:.6g}"
                  if cp["window"] else "")
        print(f"{path}: {cp['what']}, {cp['layer']}, t = {cp['t']:.6g}{window}")
        print(f"  p_ref = {cp['p_ref']:.6g} (cell i, j = {cp['ref_cell']}: first cell row on "
              f"the centre line), Vin = {cp['vin']:g}")
        for face in ("front", "top", "rear", "bottom"):
            try:
                print(f"  mean Cp {face:<6s} {surface.face_mean(cp, face):8.4f}")
            except ValueError:
                pass
        print(f"wrote {csv}")
        label = os.path.basename(path) + (f" (t = {cp['window'][0]:.4g} ... "
                                          f"{cp['window'][1]:.4g})" if cp["window"]
                                          else f" (t = {cp['t']:.4g})")
        curves.append((label, cp))
    png = args.output or default_out(args.files[0], "_cp.png")
    plots.plot_surface(curves, png, args.title, REFERENCES.get(args.reference))
    print(f"wrote {png}")
    return 0
