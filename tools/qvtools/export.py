"""Tables of a run for other tools: the joined time series and the body
history, non-dimensional, as CSV under a header of units and provenance.

Every table starts with "#" lines (what it holds, the version of the tools,
the case, the source files, the scales D, Vin and A and what each column
means), then one line of column names, then the rows.  numpy.loadtxt,
pandas.read_csv(comment="#") and gnuplot read it as it is.
"""

import os

import numpy as np

from .chain import history_path, joined_history, joined_timeseries, segment_dirs
from .readers import Run, body_box
from .runfiles import CONSOLE_FILE, TS_FILE, provenance

# (column, meaning) of the tables; the scales are those of the header.
TS_COLUMNS = (
    ("t", "time in the program's units"),
    ("tVin_D", "t Vin / D"),
    ("Cd", "pfx / (0.5 Vin^2 A), pressure force only"),
    ("Cl", "pfy / (0.5 Vin^2 A), pressure force only"),
    ("Cm", "pft / (0.5 Vin^2 A D), about the grid origin, pressure only"),
    ("x_D", "xdis / D"),
    ("y_D", "ydis / D"),
)
HISTORY_COLUMNS = (
    ("t", "time in the program's units (every nsmp steps)"),
    ("tVin_D", "t Vin / D"),
    ("Cd", "pfx / (0.5 Vin^2 A), pressure force only"),
    ("Cl", "pfy / (0.5 Vin^2 A), pressure force only"),
    ("Cm", "pft / (0.5 Vin^2 A D), pressure only"),
) + tuple(item for d in ("x", "y") for item in (
    (f"{d}_D", f"{d}dis / D"),
    (f"{d}vel_Vin", f"{d}vel / Vin"),
    (f"{d}acc_D_Vin2", f"{d}acc D / Vin^2"))) + (
    ("theta", "tdis, rad"),
    ("tvel_D_Vin", "tvel D / Vin"),
    ("tacc_D2_Vin2", "tacc D^2 / Vin^2"),
)


def scales(run_dir, vin=None):
    """(Vin, D, A) of a run: Vin from --vin or console.in, D the body's
    extent in y and A = D x its extent in z; ValueError where one is missing."""
    run = Run(run_dir)
    if vin is None and os.path.exists(run.file(CONSOLE_FILE)):
        vin = run.vin()
    if not vin:
        raise ValueError(f"Vin of {run_dir} unknown: give --vin or a console.in")
    box = body_box(run.axis(), run.flags())
    if not box:
        raise ValueError(f"the flag file of {run_dir} marks no body cell: no D to scale by")
    d = box["y1"] - box["y0"]
    return vin, d, d * (box["z1"] - box["z0"])


def _header(what, run_dir, sources, vin, d, area, columns, extra=()):
    lines = provenance(what, run_dir, sources)
    lines.append(f"# scales: Vin = {vin:.9g}, D = {d:.9g} (body extent in y), "
                 f"A = {area:.9g} (frontal area), density 1")
    lines += [f"# {line}" for line in extra]
    lines += [f"# {name}: {meaning}" for name, meaning in columns]
    lines.append(",".join(name for name, _ in columns))
    return lines


def _write(path, header, cols):
    rows = np.column_stack(cols) if cols else np.zeros((0, 0))
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(header) + "\n")
        for row in rows:
            fh.write(",".join(f"{v:.10g}" for v in row) + "\n")
    return path


def export_timeseries(paths, out, vin=None):
    """The time series of a run or a restart chain (joined, each segment's
    own lines) as a non-dimensional CSV table."""
    dirs = segment_dirs(paths)
    ts = joined_timeseries(dirs)
    vin, d, area = scales(dirs[-1], vin)
    q = 0.5 * vin * vin * area
    t = ts["t"]
    starts = [f"{seg['start_time']:.9g}" for seg in ts.segments[1:]]
    extra = [f"segments start at t = {', '.join(starts)}"] if starts else []
    header = _header("time series of the loads and the displacements", dirs[-1],
                     [os.path.join(x, TS_FILE) for x in dirs], vin, d, area, TS_COLUMNS,
                     extra)
    return _write(out, header, [t, t * vin / d, ts["pfx"] / q, ts["pfy"] / q,
                                ts["pft"] / (q * d), ts["xdis"] / d, ts["ydis"] / d])


def export_history(paths, out, vin=None):
    """The body history (vfile, every nsmp steps in double precision) of a
    run or chain as a non-dimensional CSV table."""
    dirs = segment_dirs(paths)
    h = joined_history(dirs)
    vin, d, area = scales(dirs[-1], vin)
    q = 0.5 * vin * vin * area
    t = h["time"]
    cols = [t, t * vin / d, h["pfx"] / q, h["pfy"] / q, h["pft"] / (q * d)]
    for dof in ("x", "y"):
        cols += [h[dof + "dis"] / d, h[dof + "vel"] / vin, h[dof + "acc"] * d / vin ** 2]
    cols += [h["tdis"], h["tvel"] * d / vin, h["tacc"] * (d / vin) ** 2]
    extra = [f"segments start at t = {', '.join(f'{s:.9g}' for s in h['restarts'])}"] \
        if len(h["restarts"]) else []
    header = _header("body history: loads and motion of every degree of freedom", dirs[-1],
                     [history_path(x) for x in dirs], vin, d, area, HISTORY_COLUMNS, extra)
    return _write(out, header, cols)
