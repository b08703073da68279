"""qv wake: the mean wake on the centre line from statistics files."""

import os
import sys

import numpy as np

from ..published import REFERENCES
from ..runfiles import CKPT_SUFFIX


def register(sub):
    s = sub.add_parser("wake", help="mean wake on the centre line from statistics files "
                                    "(joins restart segments)")
    s.add_argument("runs", nargs="+", help="run folders or statistics files of consecutive "
                                           "segments, in time order")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--run", help="run folder with the grid and flag files (default: the first)")
    s.add_argument("--out", help="prefix of the CSV and PNG (default LAST/wake)")
    s.add_argument("--since", metavar="EARLY",
                   help="run folder or statistics file of the same run that ended where the "
                        "window starts (exact restart chains sum from the run's start): "
                        "the statistics after it")
    s.add_argument("--save-stat", help="write the joined (or windowed) statistics file here")
    s.add_argument("--reference", choices=("lyn1995",),
                   help="mark published values on the plot")
    s.add_argument("--title", help="title of the figure")
    s.set_defaults(func=run)
    return s


def run(args):
    from .. import plots, wake
    line = wake.wake(args.runs, args.vin, args.run, args.since)
    rec = line["record"]
    for path in line["files"]:
        if path.endswith(CKPT_SUFFIX):
            print(f"qv: note: {path}: the statistics so far, saved at the last snapshot "
                  "instant of a run that did not reach its end", file=sys.stderr)
    if args.save_stat:
        wake.write_statistics(rec, args.save_stat)
        print(f"wrote {args.save_stat} ({'windowed' if args.since else 'joined'} statistics)")
    box, D, xc = line["box"], line["D"], 0.5 * (line["box"]["x0"] + line["box"]["x1"])
    a, b = line["window"]
    since = f", less {line['files'][-1]}" if args.since else ""
    print(f"statistics over t = {a:.6g} ... {b:.6g} ({line['steps']} steps, "
          f"{len(args.runs)} file(s){since}); centre line y = {line['yc']:.6g}, span mean")
    print(f"recirculation length Lr = {line['Lr']:.4f} D from the rear face "
          f"(x = {box['x1']:.6g})")
    behind = line["x"] > box["x1"]
    n = int(np.argmin(np.where(behind, line["U"], np.inf)))
    print(f"lowest mean U/Vin {line['U'][n]:.4f} at (x - xc)/D = {(line['x'][n] - xc) / D:.3f}")
    for xd in (1.0, 2.0, 3.0, 5.0, 8.0):
        xs = xc + xd * D
        if line["x"][0] <= xs <= line["x"][-1]:
            vals = [np.interp(xs, line["x"], line[k]) for k in ("U", "urms", "vrms", "wrms")]
            print(f"  (x - xc)/D = {xd:3.0f}: U {vals[0]:7.4f}  u' {vals[1]:.4f}  "
                  f"v' {vals[2]:.4f}  w' {vals[3]:.4f}")
    ref = REFERENCES.get(args.reference)
    if ref and ref.get("centre_line"):
        xd, u_ref = ref["centre_line"]
        print(f"mean U/Vin at the points of {ref['centre_line_label']}:")
        for x, u, r in zip(xd, wake.centre_line_at(line, xd), u_ref):
            print(f"  (x - xc)/D = {x:5.2f}: U {u:7.4f}  published {r:7.3f}")
    out = args.out or os.path.join(args.runs[-1] if os.path.isdir(args.runs[-1])
                                   else os.path.dirname(os.path.abspath(args.runs[-1])), "wake")
    csv = out + "_centreline.csv"
    with open(csv, "w", encoding="utf-8") as fh:
        fh.write(f"# centre line y = {line['yc']:.6g}, span mean of the statistics over "
                 f"t = {a:.6g} ... {b:.6g}; velocities / Vin = {line['vin']:g}; "
                 f"x_rel = (x - xc) / D; resolved fluctuations\n")
        fh.write("x,x_rel,U,V,urms,vrms,wrms,uv\n")
        for i in range(len(line["x"])):
            fh.write(",".join(f"{v:.6g}" for v in (
                line["x"][i], (line["x"][i] - xc) / D, line["U"][i], line["V"][i],
                line["urms"][i], line["vrms"][i], line["wrms"][i], line["uv"][i])) + "\n")
    print(f"wrote {csv}")
    png = plots.plot_centre_line(line, out + "_centreline.png", args.title, ref)
    print(f"wrote {png}")
    return 0
