"""qv plot: figures of a run (PNG, PDF or SVG by the extension)."""

import os

import numpy as np

from .. import readers
from ..plots import DPI, check_output
from .common import default_out, probes_path, run_geometry, run_name, ts_path


def add_figure_options(q, times=True):
    """The options every figure takes: its file, title, size and dpi, and
    (for signals in time) the window."""
    q.add_argument("-o", "--output", help="figure file: .png, .pdf or .svg (by the extension)")
    q.add_argument("--title", help="title of the figure (default: the run and what it shows)")
    q.add_argument("--size", type=float, nargs=2, metavar=("W", "H"),
                   help="figure size in inches")
    q.add_argument("--dpi", type=int, help=f"resolution of a PNG (default {DPI})")
    if times:
        q.add_argument("--tmin", type=float, help="from this time on (program time t)")
        q.add_argument("--tmax", type=float, help="up to this time (program time t)")


def look(args):
    """The size and dpi of ``plots._save`` from the options."""
    return {"size": args.size, "dpi": args.dpi}


def register(sub):
    s = sub.add_parser("plot", help="figures (PNG, PDF or SVG by the file's extension)")
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
    q.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    q = psub.add_parser("probes", help="velocities and pressure at the probes against time")
    q.add_argument("path", help="run directory or probes file (DAT/probes.dat)")
    q.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    q = psub.add_parser("spectrum", help="amplitude spectrum of pfy or of a probe signal")
    q.add_argument("path", help="run directory, time-series file or (with --probe) probes file")
    q.add_argument("--probe", type=int, help="spectrum of this probe (1, 2, ...) of DAT/probes.dat")
    q.add_argument("--quantity", choices=("u", "v", "w", "p"), default="v",
                   help="probe signal for --probe (default v)")
    q.add_argument("--vin", type=float, help="inflow velocity (for St)")
    q = psub.add_parser("slice", help="u or vorticity in the mid-span x-y plane")
    q.add_argument("path", help="field or snapshot file")
    q.add_argument("--vin", type=float, help="inflow velocity (default: the run's console.in)")
    q.add_argument("--quantity", choices=("u", "vorticity"), default="u")
    q.add_argument("--k", type=int, help="cell layer from 0 (default: mid-span)")
    q.add_argument("--vmin", type=float, help="lower colour limit (default: from the wake)")
    q.add_argument("--vmax", type=float, help="upper colour limit (default: from the wake)")
    q.add_argument("--zoom", type=float, nargs=4, metavar=("X0", "X1", "Y0", "Y1"),
                   help="view box in (x - xc)/D, (y - yc)/D (default: 3 D upstream to 15 D "
                        "downstream, 4 D aside)")
    q.add_argument("--full", action="store_true", help="show the whole grid")
    q.add_argument("--axis")
    q.add_argument("--flag")
    q.add_argument("--run")
    q.add_argument("--kind", choices=("field", "snapshot"))
    for name, q in psub.choices.items():
        add_figure_options(q, times=name != "slice")
    s.set_defaults(func=run)
    return s


def run(args):
    from .. import plots
    what = args.what
    if args.output:
        check_output(args.output)
    fig = look(args)
    tmin, tmax = getattr(args, "tmin", None), getattr(args, "tmax", None)
    if what in ("ts", "history"):
        from .. import chain
        paths = args.path
        runs = all(os.path.isdir(p) for p in paths)
        if len(paths) > 1 and not runs:
            raise ValueError("several paths are the run folders of a restart chain")
        last = paths[-1]
        name = run_name(last)
        vin, diam, area = run_geometry(last, args.vin)
        if what == "ts":
            ts = chain.joined_timeseries(paths) if runs else readers.read_timeseries(last)
            out = plots.plot_timeseries(ts, args.output or default_out(last, "_ts.png"),
                                        args.title or f"{name}: loads and displacements",
                                        vin, diam, area, tmin, tmax, fig)
        else:
            hist = chain.joined_history(paths) if runs else readers.read_history(last)
            restarts = hist["restarts"] if runs else ()
            out = plots.plot_history(hist, args.output or default_out(last, "_history.png"),
                                     args.title or f"{name}: body motion", restarts, vin, diam,
                                     tmin, tmax, fig)
    elif what == "probes":
        points, data, segs = readers.read_probes(probes_path(args.path))
        vin, diam, _ = run_geometry(args.path, args.vin)
        centre = body_centre(args.path)
        out = plots.plot_probes(data, args.output or default_out(args.path, "_probes.png"),
                                args.title or f"{run_name(args.path)}: velocities and pressure "
                                              "at the probes",
                                [g["start_time"] for g in segs[1:]], points, vin, diam, centre,
                                tmin, tmax, fig)
    elif what == "spectrum":
        vin, diam, area = run_geometry(args.path, args.vin)
        beside = None
        if args.probe is not None:
            _, data, _ = readers.read_probes(probes_path(args.path))
            name = f"{args.quantity}{args.probe}"
            if name not in data:
                raise ValueError(f"no column {name} in the probes file (probes 1.."
                                 f"{(len(data) - 2) // 4})")
            t, y = data["t"], data[name]
            label = name
            if vin:
                y = y * (2.0 / vin ** 2 if args.quantity == "p" else 1.0 / vin)
                label = f"2 p{args.probe} / Vin²" if args.quantity == "p" else \
                    f"{args.quantity}{args.probe} / Vin"
        else:
            from ..signals import auto_tmin
            ts = readers.read_timeseries(ts_path(args.path))
            t, y, name = ts["t"], ts["pfy"], "pfy"
            if tmin is None:
                tmin, rule = auto_tmin(ts["t"], ts["pfy"], ts["pfx"], ts["ydis"])
                print(f"window: {rule}")
            label = "pfy (program units)"
            if vin and area:
                y, label = y / (0.5 * vin * vin * area), "Cl (pressure only)"
            if np.ptp(ts["ydis"]) > 0:
                d = ts["ydis"] / diam if diam else ts["ydis"]
                beside = (t, d, "y / D" if diam else "ydis (program units)")
        sel = plots.window(t, tmin, tmax)
        if beside is not None:
            beside = (beside[0][sel], beside[1][sel], beside[2])
        what_t = "lift" if name == "pfy" else name
        out, fs = plots.plot_spectrum(
            t[sel], y[sel], args.output or default_out(args.path, "_spectrum.png"), vin, diam,
            args.title or f"{run_name(args.path)}: {what_t} spectrum, "
                          f"{window_text(t[sel], vin, diam)}", label, beside, fig)
        print(f"{'shedding' if name == 'pfy' else 'peak'} frequency {fs:.6g}"
              + (f", St {fs * diam / vin:.6g}" if vin and diam else ""))
    else:  # slice
        f = readers.read_record_file(args.path, args.kind)
        if f.kind not in ("field", "snapshot"):
            raise ValueError(f"{args.path} is a {f.kind} file, not a field file")
        axis_path, flag_path = readers.find_grid(args.path, args.axis, args.flag, args.run)
        axis = readers.read_axis(axis_path)
        flags = readers.read_flags(flag_path)[1] if flag_path else None
        vin = args.vin
        if vin is None:
            folder = args.run or readers.find_run_dir(args.path)
            vin = run_geometry(folder)[0] if folder else None
        zoom = "all" if args.full else args.zoom
        out = plots.plot_slice(f, axis, args.output or default_out(args.path, f"_{args.quantity}.png"),
                               flags, args.quantity, args.k, args.title, vmin=args.vmin,
                               vmax=args.vmax, zoom=zoom, vin=vin, look=fig)
    print(f"wrote {out}")
    return 0


def window_text(t, vin, diam):
    """The analysed window in words, non-dimensional where it can be."""
    if vin and diam:
        return f"t Vin / D = {t[0] * vin / diam:.4g} ... {t[-1] * vin / diam:.4g}"
    return f"t = {t[0]:.4g} ... {t[-1]:.4g}"


def body_centre(path):
    """The centre (xc, yc) of the body of a run directory, None if unknown."""
    if not os.path.isdir(path):
        return None
    run = readers.Run(path)
    try:
        box = readers.body_box(run.axis(), run.flags())
    except (OSError, ValueError):
        return None
    return (0.5 * (box["x0"] + box["x1"]), 0.5 * (box["y0"] + box["y1"])) if box else None
