"""qv plot: PNG plots of a run."""

import os

import numpy as np

from .. import readers
from .common import default_out, probes_path, run_geometry, run_name, ts_path


def register(sub):
    s = sub.add_parser("plot", help="PNG plots")
    psub = s.add_subparsers(dest="what", metavar="WHAT")
    psub.required = True
    q = psub.add_parser("ts", help="Cd, Cl, moment and displacements against time")
    q.add_argument("path", nargs="+",
                   help="run directory (a restart chain is followed back from its last "
                        "folder), the chain's folders in order, or a time-series file")
    q.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    q = psub.add_parser("history", help="displacement, velocity, acceleration of the "
                                        "moving degrees of freedom")
    q.add_argument("path", nargs="+",
                   help="run directory (a restart chain is followed back from its last "
                        "folder), the chain's folders in order, or a vibration history file")
    q = psub.add_parser("probes", help="velocities and pressure at the probes against time")
    q.add_argument("path", help="run directory or probes file (DAT/probes.dat)")
    q.add_argument("--tmin", type=float, help="ignore lines before this time")
    q = psub.add_parser("spectrum", help="amplitude spectrum of pfy or of a probe signal")
    q.add_argument("path", help="run directory, time-series file or (with --probe) probes file")
    q.add_argument("--probe", type=int, help="spectrum of this probe (1, 2, ...) of DAT/probes.dat")
    q.add_argument("--quantity", choices=("u", "v", "w", "p"), default="v",
                   help="probe signal for --probe (default v)")
    q.add_argument("--vin", type=float, help="inflow velocity (for St)")
    q.add_argument("--tmin", type=float,
                   help="ignore lines before this time (default: the summary's rule)")
    q = psub.add_parser("slice", help="u or vorticity in the mid-span x-y plane")
    q.add_argument("path", help="field or snapshot file")
    q.add_argument("--quantity", choices=("u", "vorticity"), default="u")
    q.add_argument("--k", type=int, help="cell layer from 0 (default: mid-span)")
    q.add_argument("--vmin", type=float, help="lower colour limit (default: from the wake)")
    q.add_argument("--vmax", type=float, help="upper colour limit (default: from the wake)")
    q.add_argument("--zoom", type=float, nargs=4, metavar=("X0", "X1", "Y0", "Y1"),
                   help="view box (default: 3 D upstream to 15 D downstream, 4 D aside)")
    q.add_argument("--full", action="store_true", help="show the whole grid")
    q.add_argument("--axis")
    q.add_argument("--flag")
    q.add_argument("--run")
    q.add_argument("--kind", choices=("field", "snapshot"))
    for q in psub.choices.values():
        q.add_argument("-o", "--output", help="PNG file")
    s.set_defaults(func=run)
    return s


def run(args):
    from .. import plots
    what = args.what
    if what in ("ts", "history"):
        from .. import chain
        paths = args.path
        runs = all(os.path.isdir(p) for p in paths)
        if len(paths) > 1 and not runs:
            raise ValueError("several paths are the run folders of a restart chain")
        last = paths[-1]
        name = run_name(last)
        if what == "ts":
            ts = chain.joined_timeseries(paths) if runs else readers.read_timeseries(last)
            vin, diam, area = run_geometry(last, args.vin)
            out = plots.plot_timeseries(ts, args.output or default_out(last, "_ts.png"),
                                        f"{name}: loads and displacements", vin, diam, area)
        elif runs:
            hist = chain.joined_history(paths)
            out = plots.plot_history(hist, args.output or default_out(last, "_history.png"),
                                     f"{name}: body motion", restarts=hist["restarts"])
        else:
            hist = readers.read_history(last)
            out = plots.plot_history(hist, args.output or default_out(last, "_history.png"),
                                     f"{name}: body motion")
    elif what == "probes":
        _, data, segs = readers.read_probes(probes_path(args.path))
        sel = np.ones(len(data["t"]), bool) if args.tmin is None else data["t"] >= args.tmin
        out = plots.plot_probes({k: v[sel] for k, v in data.items()},
                                args.output or default_out(args.path, "_probes.png"),
                                restarts=[g["start_time"] for g in segs[1:]])
    elif what == "spectrum":
        tmin = args.tmin
        if args.probe is not None:
            _, data, _ = readers.read_probes(probes_path(args.path))
            name = f"{args.quantity}{args.probe}"
            if name not in data:
                raise ValueError(f"no column {name} in the probes file (probes 1.."
                                 f"{(len(data) - 2) // 4})")
            t, y = data["t"], data[name]
        else:
            from ..signals import auto_tmin
            ts = readers.read_timeseries(ts_path(args.path))
            t, y, name = ts["t"], ts["pfy"], "pfy"
            if tmin is None:
                tmin, rule = auto_tmin(ts["t"], ts["pfy"], ts["pfx"], ts["ydis"])
                print(f"window: {rule}")
        sel = np.ones(len(t), bool) if tmin is None else t >= tmin
        if not sel.any():
            raise ValueError(f"no line at t >= {tmin}")
        vin, diam, _ = run_geometry(args.path, args.vin)
        what_t = "lift" if name == "pfy" else name
        out, fs = plots.plot_spectrum(t[sel], y[sel],
                                      args.output or default_out(args.path, "_spectrum.png"),
                                      vin, diam, f"{run_name(args.path)}: {what_t} spectrum, "
                                      f"t = {t[sel][0]:.4g} ... {t[sel][-1]:.4g}", quantity=name)
        print(f"{'shedding' if name == 'pfy' else 'peak'} frequency {fs:.6g}")
    else:  # slice
        f = readers.read_record_file(args.path, args.kind)
        if f.kind not in ("field", "snapshot"):
            raise ValueError(f"{args.path} is a {f.kind} file, not a field file")
        axis_path, flag_path = readers.find_grid(args.path, args.axis, args.flag, args.run)
        axis = readers.read_axis(axis_path)
        flags = readers.read_flags(flag_path)[1] if flag_path else None
        zoom = "all" if args.full else args.zoom
        out = plots.plot_slice(f, axis, args.output or default_out(args.path, f"_{args.quantity}.png"),
                               flags, args.quantity, args.k, vmin=args.vmin, vmax=args.vmax,
                               zoom=zoom)
    print(f"wrote {out}")
    return 0
