"""qv gridstudy: one flow on several grids, against published values."""

import os

from ..published import REFERENCES


def register(sub):
    s = sub.add_parser("gridstudy", help="table and figures of one flow run on several grids, "
                                         "against published values")
    s.add_argument("--run", action="append", required=True, metavar="LABEL=LAST[@TMIN]",
                   help="a grid: its label, the last folder of its restart chain (or its "
                        "folders, oldest first, joined by commas) and, "
                        "optionally, its own window start (repeat for every grid)")
    s.add_argument("--tmin", type=float,
                   help="window start of every run without its own (default: where the lift "
                        "has settled)")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--out", default="gridstudy",
                   help="prefix of the CSV and figures (default ./gridstudy)")
    s.add_argument("--title", help="title of the figures")
    s.set_defaults(func=run)
    return s


def parse_run(text):
    """(label, folder or list of folders, tmin or None) from LABEL=LAST[@TMIN],
    LAST being the chain's last folder or its folders joined by commas,
    oldest first."""
    label, sep, rest = text.partition("=")
    if not sep or not label or not rest:
        raise ValueError(f"--run {text}: give LABEL=LAST or LABEL=LAST@TMIN")
    folder, at, t = rest.rpartition("@") if "@" in rest else (rest, "", "")
    try:
        tmin = float(t) if at else None
    except ValueError:
        raise ValueError(f"--run {text}: {t!r} after @ is not a time") from None
    folders = folder.split(",")
    for f in folders:
        if not os.path.isdir(f):
            raise FileNotFoundError(f"--run {text}: no run folder {f}")
    return label, folders[0] if len(folders) == 1 else folders, tmin


def run(args):
    from .. import gridstudy, plots
    rows = gridstudy.study([parse_run(r) for r in args.run], args.tmin, args.vin)
    print(gridstudy.format_markdown(rows))
    out = args.out
    folder = os.path.dirname(os.path.abspath(out))
    os.makedirs(folder, exist_ok=True)
    curves = [(f"{r['label']}, h/D = {r['h_D']:.3g}", r["cp"]) for r in rows if r["cp"]]
    for path in (gridstudy.write_csv(rows, out + ".csv"),
                 gridstudy.write_instants_csv(rows, out + "_instants.csv"),
                 plots.plot_grid_study(rows, gridstudy.SCALARS, gridstudy.STUDY_REFERENCES,
                                       out + "_scalars.png", args.title),
                 plots.plot_grid_centre_lines(rows, out + "_centreline.png",
                                              REFERENCES["lyn1995"], args.title),
                 curves and plots.plot_surface(curves, out + "_cp.png", args.title,
                                               REFERENCES["base"])):
        if path:
            print(f"wrote {path}")
    return 0
