"""Command line of the quivel_vib8 tools: ``qv SUBCOMMAND ...``."""

import argparse
import os
import sys

import numpy as np

from . import readers
from .records import RecordError

KINDS = ("field", "snapshot", "statistics", "history", "body")


def _ts_path(path):
    return os.path.join(path, readers.TS_FILE) if os.path.isdir(path) else path


def _probes_path(path):
    return os.path.join(path, readers.PROBES_FILE) if os.path.isdir(path) else path


def _default_out(path, suffix):
    base = path.rstrip("/\\") if not os.path.isdir(path) else os.path.join(path, "qv")
    return base + suffix


# ---------------------------------------------------------------- commands

def cmd_info(args):
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


def cmd_vtk(args):
    from .vtk_export import export, write_pvd
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


def _run_geometry(path, vin=None):
    """(Vin, D, frontal area) of a run directory, None where unknown."""
    if not os.path.isdir(path):
        return vin, None, None
    run = readers.Run(path)
    if vin is None and os.path.exists(run.file(readers.CONSOLE_FILE)):
        vin = run.vin()
    try:
        box = readers.body_box(run.axis(), run.flags())
    except (OSError, ValueError):
        box = None
    if not box:
        return vin, None, None
    d = box["y1"] - box["y0"]
    return vin, d, d * (box["z1"] - box["z0"])


def _run_name(path):
    return os.path.basename(os.path.abspath(path.rstrip("/\\")))


def cmd_plot(args):
    from . import plots
    what = args.what
    if what in ("ts", "history"):
        from . import chain
        paths = args.path
        runs = all(os.path.isdir(p) for p in paths)
        if len(paths) > 1 and not runs:
            raise ValueError("several paths are the run folders of a restart chain")
        last = paths[-1]
        name = _run_name(last)
        if what == "ts":
            ts = chain.joined_timeseries(paths) if runs else readers.read_timeseries(last)
            vin, diam, area = _run_geometry(last, args.vin)
            out = plots.plot_timeseries(ts, args.output or _default_out(last, "_ts.png"),
                                        f"{name}: loads and displacements", vin, diam, area)
        elif runs:
            hist = chain.joined_history(paths)
            out = plots.plot_history(hist, args.output or _default_out(last, "_history.png"),
                                     f"{name}: body motion", restarts=hist["restarts"])
        else:
            hist = readers.read_history(last)
            out = plots.plot_history(hist, args.output or _default_out(last, "_history.png"),
                                     f"{name}: body motion")
    elif what == "probes":
        _, data, segs = readers.read_probes(_probes_path(args.path))
        sel = np.ones(len(data["t"]), bool) if args.tmin is None else data["t"] >= args.tmin
        out = plots.plot_probes({k: v[sel] for k, v in data.items()},
                                args.output or _default_out(args.path, "_probes.png"),
                                restarts=[g["start_time"] for g in segs[1:]])
    elif what == "spectrum":
        tmin = args.tmin
        if args.probe is not None:
            _, data, _ = readers.read_probes(_probes_path(args.path))
            name = f"{args.quantity}{args.probe}"
            if name not in data:
                raise ValueError(f"no column {name} in the probes file (probes 1.."
                                 f"{(len(data) - 2) // 4})")
            t, y = data["t"], data[name]
        else:
            from .summary import auto_tmin
            ts = readers.read_timeseries(_ts_path(args.path))
            t, y, name = ts["t"], ts["pfy"], "pfy"
            if tmin is None:
                tmin, rule = auto_tmin(ts["t"], ts["pfy"], ts["pfx"], ts["ydis"])
                print(f"window: {rule}")
        sel = np.ones(len(t), bool) if tmin is None else t >= tmin
        if not sel.any():
            raise ValueError(f"no line at t >= {tmin}")
        vin, diam, _ = _run_geometry(args.path, args.vin)
        what_t = "lift" if name == "pfy" else name
        out, fs = plots.plot_spectrum(t[sel], y[sel],
                                      args.output or _default_out(args.path, "_spectrum.png"),
                                      vin, diam, f"{_run_name(args.path)}: {what_t} spectrum, "
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
        out = plots.plot_slice(f, axis, args.output or _default_out(args.path, f"_{args.quantity}.png"),
                               flags, args.quantity, args.k, vmin=args.vmin, vmax=args.vmax,
                               zoom=zoom)
    print(f"wrote {out}")
    return 0


def cmd_summary(args):
    from .summary import format_table, summarize, write_json
    s = summarize(args.run if len(args.run) > 1 else args.run[0], args.vin, args.tmin)
    print(format_table(s))
    path = args.json or os.path.join(args.run[-1], "summary.json")
    write_json(s, path)
    print(f"wrote {path}")
    return 0


def cmd_restart(args):
    from .chain import write_restart
    from .casegen import program_path
    rec = write_restart(args.run, args.out, args.steps, bool(args.append), args.from_snapshot)
    print(f"wrote {args.out}: segment {rec['segment']} continues {args.run} from "
          f"t = {rec['start_time']:.6g} for {args.steps} steps "
          f"(time series {'appended' if args.append else 'started anew'})")
    print(f"run it: cd {args.out} && {program_path()} < console.in > console.log")
    return 0


def cmd_surface(args):
    from . import plots, surface
    curves = []
    for path in args.files:
        cp = surface.file_cp(path, args.vin, args.k, args.axis, args.flag, args.run, args.kind)
        base = _default_out(path, "_cp")
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
    png = args.output or _default_out(args.files[0], "_cp.png")
    from .published import REFERENCES
    plots.plot_surface(curves, png, args.title, REFERENCES.get(args.reference))
    print(f"wrote {png}")
    return 0


def cmd_wake(args):
    from . import plots, wake
    from .published import REFERENCES
    line = wake.wake(args.runs, args.vin, args.run)
    rec = line["record"]
    if args.save_stat:
        wake.write_statistics(rec, args.save_stat)
        print(f"wrote {args.save_stat} (joined statistics)")
    box, D, xc = line["box"], line["D"], 0.5 * (line["box"]["x0"] + line["box"]["x1"])
    a, b = line["window"]
    print(f"statistics over t = {a:.6g} ... {b:.6g} ({line['steps']} steps, "
          f"{len(args.runs)} file(s)); centre line y = {line['yc']:.6g}, span mean")
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
    png = plots.plot_centre_line(line, out + "_centreline.png", args.title,
                                 REFERENCES.get(args.reference))
    print(f"wrote {png}")
    return 0


def cmd_monitor(args):
    from .monitor import monitor
    monitor(args.run, args.interval, args.once, args.count, args.plot)
    return 0


# ---------------------------------------------------------------- parser

def build_parser():
    p = argparse.ArgumentParser(
        prog="qv", description="Post-processing tools for quivel_vib8 runs.")
    sub = p.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    s = sub.add_parser("info", help="describe record files (bounds, header, arrays)")
    s.add_argument("files", nargs="+")
    s.add_argument("--kind", choices=KINDS, help="file kind (guessed by default)")
    s.set_defaults(func=cmd_info)

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
    s.set_defaults(func=cmd_vtk)

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
    s.set_defaults(func=cmd_plot)

    s = sub.add_parser("summary", help="Cd, Cl, St, amplitudes of a run")
    s.add_argument("run", nargs="*", default=["."],
                   help="run directory (a restart chain is followed back from its last "
                        "folder), or the chain's folders in order")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--tmin", type=float,
                   help="analyse from this time on (default: where the lift has settled)")
    s.add_argument("--json", help="JSON output (default RUN/summary.json)")
    s.set_defaults(func=cmd_summary)

    s = sub.add_parser("restart", help="write the case that continues a finished run",
                       description="Write NEXT, a case that continues RUN from its final "
                                   "field and body-state files; nothing of RUN is overwritten.")
    s.add_argument("run", help="the finished (or SIGTERM-stopped) run folder")
    s.add_argument("--out", required=True, help="new folder for the continuation")
    s.add_argument("--steps", type=int, required=True, help="number of further steps")
    s.add_argument("--append", type=int, choices=(0, 1), default=1,
                   help="1 (default): continue RUN's time series; 0: start it anew")
    s.add_argument("--from-snapshot", action="store_true",
                   help="continue a run that did not reach its end (killed, blown up) from "
                        "the set saved at its last snapshot instant")
    s.set_defaults(func=cmd_restart)

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
    s.add_argument("--reference", choices=("base",),
                   help="mark the published base pressure of the square cylinder at "
                        "Re about 22,000 on the rear face")
    s.set_defaults(func=cmd_surface)

    s = sub.add_parser("wake", help="mean wake on the centre line from statistics files "
                                    "(joins restart segments)")
    s.add_argument("runs", nargs="+", help="run folders or statistics files of consecutive "
                                           "segments, in time order")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--run", help="run folder with the grid and flag files (default: the first)")
    s.add_argument("--out", help="prefix of the CSV and PNG (default LAST/wake)")
    s.add_argument("--save-stat", help="write the joined statistics file here")
    s.add_argument("--reference", choices=("lyn1995",),
                   help="mark published values on the plot")
    s.add_argument("--title", help="title of the figure")
    s.set_defaults(func=cmd_wake)

    from . import sweep
    sweep.add_parser(sub)

    s = sub.add_parser("monitor", help="follow a running case")
    s.add_argument("run", nargs="?", default=".", help="run directory")
    s.add_argument("--interval", type=float, default=10.0, help="seconds between polls")
    s.add_argument("--once", action="store_true", help="print one reading and stop")
    s.add_argument("--count", type=int, help="stop after this many readings")
    s.add_argument("--plot", help="PNG of the loads, redrawn as the run goes on")
    s.set_defaults(func=cmd_monitor)

    try:
        from . import casegen
    except ImportError:
        casegen = None
    if casegen is not None:
        case = casegen.add_parser(sub)
        if case is not None and case.get_default("func") is None:
            case.set_defaults(func=casegen.main)
    return p


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.func(args) or 0
    except (RecordError, readers.FormatError, OSError, ValueError) as exc:
        print(f"qv: error: {exc}", file=sys.stderr)
        return 1
