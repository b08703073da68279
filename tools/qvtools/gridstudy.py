"""Grid study: one flow run on several grids, side by side with published
values.

Each run is the last folder of its restart chain and a window start tmin
(default: where ``summary`` says the lift has settled).  Every value of a
run comes from that window:

- St (with its resolution and cycle count), mean Cd and rms Cl with their
  standard errors, Cpb, and the warnings and notes: ``summary.summarize``;
- Lr and the mean centre-line velocity at Lyn's points: ``wake`` over the
  statistics ``wake.chain_statistics`` takes for the window (the same ones
  the summary's Cpb is taken from), and mean Cp around the body from them;
- h/D: the smallest cell side, in x or in y, of the cells the body spans;
  with it the cells across the body (in y), dz / D and the cell count;
- the vorticity thickness of the shear layers over the side faces, at the
  body's centre and at its rear face, and the cells across it: ``wake``;
- the eddy viscosity beside the side faces at one instant (not a window
  mean): ``wake.side_viscosity``; at every instant the chain's folders
  hold in the window, the final field file of each, the last folder's
  being the one of the CSV's row;
- from the same files, the damping of the upwind differences across the
  shear layers in the first rows beside the side faces, as an equivalent
  viscosity, beside the eddy viscosity of the same points:
  ``damping.side_damping``;
- how two-dimensional the near wake is: at the same instant the share of
  the fluctuations common to the whole span, against the window's means,
  and w' / v' over the window: ``span.wake_span``;
- the mean Cp of each face and beside the middle of the front face (the
  stagnation value 1 where the pressure and its reference are right), and
  the drag front less rear they give a square;
- standard errors of Cpb and Lr from the statistics' batches: the window
  cut at every end of a statistics file inside it (``wake.statistics_batches``);
- the mean drag from the momentum balance on three boxes around the body,
  from the window's statistics, beside the drag of the faces over the same
  window: ``balance.momentum_drag``.

Below them, the trend with the grid: each quantity's gap to one reference
on each grid, coarse to fine, and from three grids the observed order and
the extrapolated value (``convergence``).
"""

import csv
import math
import os

import numpy as np

from .balance import BOXES, PARTS, momentum_drag
from .chain import joined_timeseries, segment_dirs
from .convergence import gap, observed_order
from .damping import side_damping
from .published import LYN_CENTRE_LINE, STUDY_REFERENCES
from .readers import Run, body_box, read_field, read_field_header
from .span import wake_span
from .summary import DEFINITIONS, summarize
from .surface import face_mean, file_cp
from .wake import (centre_line_at, chain_statistics, record_wake, shear_layer,
                   side_viscosity, statistics_batches, statistics_source)

# (key, heading) of the scalars of the table and the figure
SCALARS = (("st", "St"), ("cd", "mean Cd"), ("cl_rms", "rms Cl"), ("cpb", "Cpb"),
           ("lr", "Lr / D"))


def grid_size(axis, flags):
    """h / D, cells across the body in y, dz / D and the number of cells of
    a grid: h is the smallest cell side, in x or in y, of the cells the body
    spans; D its extent in y; dz the smallest cell in z."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no h / D")
    D = box["y1"] - box["y0"]
    (i0, i1), (j0, j1) = box["cells_x"], box["cells_y"]     # program indices, from 3
    dx = np.diff(np.asarray(axis.x, float))[i0 - 3:i1 - 2]
    dy = np.diff(np.asarray(axis.y, float))[j0 - 3:j1 - 2]
    dz = np.diff(np.asarray(axis.z, float))
    cells = (len(axis.x) - 1) * (len(axis.y) - 1) * (len(axis.z) - 1)
    return {"h_D": float(min(dx.min(), dy.min()) / D), "across": j1 - j0 + 1,
            "dz_D": float(dz.min() / D), "cells": int(cells)}


def study_run(label, last, tmin=None, vin=None):
    """One row of the study: the run whose chain ends in the folder *last*,
    over the window from *tmin* on."""
    s = summarize(last, vin, tmin)
    dirs = segment_dirs(last)
    run = Run(dirs[-1])
    row = {"label": label, "run": s["run"], "t_from": s["t_from"], "t_to": s["t_to"],
           "window_rule": s["window_rule"], "vin": s["vin"],
           "warnings": list(s["warnings"]), "notes": list(s["notes"]),
           "unsettled": list(s["unsettled"])}
    axis, flags = run.axis(), run.flags()
    row.update(grid_size(axis, flags))
    row.update({"st": s["strouhal"], "st_res": s["strouhal_resolution"], "cycles": s["cycles"],
                "st_up": s["strouhal_upcrossing"], "cd": s["cd_mean"], "cd_err": s["cd_mean_err"],
                "cl_rms": s["cl_rms"], "cl_rms_err": s["cl_rms_err"], "cpb": s["cpb"]})
    row.update({"lr": None, "u": [None] * len(LYN_CENTRE_LINE[0]), "cp": None, "line": None,
                "stat_window": None, "stat_source": None, "shear": {}, "nut": None,
                "damping": None, "span": None, "instants": [], "balance": None,
                "cd_faces": None, "stat_batches": None, "lr_err": None, "cpb_err": None,
                "faces": None})
    rec = _window_statistics(row, dirs, s, axis, flags)
    row["instants"] = instants(dirs, axis, flags, rec, s["tmin"], row["notes"])
    last = [v for v in row["instants"] if v["folder"] == dirs[-1]]
    if last:
        row.update({k: last[0][k] for k in ("nut", "damping", "span")})
    return row


def instants(dirs, axis, flags, rec, tmin, notes):
    """The values of one instant at the final field file of each folder of
    the chain that ends at or after *tmin*: the eddy viscosity and the
    upwind damping beside the side faces, and, against the window's
    statistics *rec* (when there are), how two-dimensional the near wake is.
    A field file that cannot be read or used, and a last folder whose field
    file ends before *tmin*, add a note to *notes*; an earlier folder
    without one is passed over (a chain unpacked from packs, say)."""
    out = []
    for d in dirs:
        last = d == dirs[-1]
        try:
            run = Run(d)
            path = run.final_path
            if not last and not os.path.exists(path):
                continue
            _, head = read_field_header(path)
            if tmin is not None and head["t"] < tmin - 0.5 * head["dt"]:
                if last:
                    notes.append(f"the field file of the last folder {d} holds t = "
                                 f"{head['t']:.6g}, before the window: no instant from it")
                continue
            field = read_field(path)
            out.append({"folder": d, "t": float(field.header["t"]),
                        "nut": side_viscosity(field, axis, flags),
                        "damping": side_damping(field, axis, flags,
                                                ca1=2 * run.params["ca1"] - 1, rows=DAMPING_ROWS),
                        "span": None if rec is None else wake_span(field, rec, axis, flags)})
        except (OSError, ValueError) as exc:
            notes.append(f"no eddy viscosity beside the body at the end of {d}: {exc}")
    return out


def _window_statistics(row, dirs, s, axis, flags):
    """The wake, the mean Cp and the shear layers of *row* from the
    statistics of the window; returns them, or None (with a note) when the
    chain has none that can be read."""
    try:
        rec, used, how = chain_statistics(dirs, s["tmin"])
        line = record_wake(rec, dirs[-1], s["vin"])
        cp = file_cp(used[0], s["vin"], run=dirs[-1], record=rec)
    except (OSError, ValueError) as exc:        # a segment still running, say
        row["notes"].append(f"no wake and no mean Cp: {exc}")
        return None
    row["stat_window"] = line["window"]
    row["stat_source"] = statistics_source(used, how, dirs[-1])
    if s["tmin"] is not None and line["window"][0] < s["tmin"] - 0.5 * rec.header["dt"]:
        row["warnings"].append(
            f"the statistics start at t = {line['window'][0]:.6g}, before the window's "
            f"t = {s['tmin']:.6g}: Cpb, Lr, U and Cp include the time before it (no earlier "
            f"segment of the chain ends at or after it: end a segment there)")
    row["lr"] = None if math.isnan(line["Lr"]) else float(line["Lr"])
    row["u"] = [None if math.isnan(u) else float(u)
                for u in centre_line_at(line, LYN_CENTRE_LINE[0])]
    row["cp"] = cp
    row["shear"] = shear_layer(rec, axis, flags, s["vin"])
    try:
        row["faces"] = face_pressures(cp)
    except ValueError as exc:
        row["notes"].append(f"no mean Cp of the faces: {exc}")
    _balance(row, dirs, rec, axis, flags, s)
    _batch_errors(row, dirs, s, cp)
    del line["record"]
    row["line"] = line
    return rec


FACE_KEYS = ("stagnation", "front", "top", "rear", "bottom", "front_less_rear")


def face_pressures(cp):
    """The mean Cp of each face of ``surface_cp``'s *cp*, the Cp of the cell
    beside the middle of the front face (the mean of the two nearest its
    middle when it has an even number of cells), and front less rear."""
    out = {face: face_mean(cp, face) for face in ("front", "top", "rear", "bottom")}
    front = np.nonzero((cp["nx"] == -1) & (cp["ny"] == 0))[0]
    y = np.asarray(cp["y"], float)[front]
    mid = 0.5 * (y.min() + y.max())
    near = np.sort(np.abs(y - mid))
    sel = np.abs(y - mid) <= near[0] + 1e-9 * max(1.0, abs(mid))
    out["stagnation"] = float(np.mean(np.asarray(cp["cp"], float)[front][sel]))
    out["front_less_rear"] = out["front"] - out["rear"]
    return out


def batch_error(values, weights, whole):
    """Standard error of a window's value *whole* from the values of its
    batches, each weighted by its length: sqrt(sum w (x - whole)^2 /
    ((n - 1) sum w)); None from fewer than two batches."""
    pairs = [(x, w) for x, w in zip(values, weights) if x is not None and not math.isnan(x)]
    if len(pairs) < 2 or whole is None:
        return None
    total = sum(w for _, w in pairs)
    return math.sqrt(sum(w * (x - whole) ** 2 for x, w in pairs) / ((len(pairs) - 1) * total))


def _batch_errors(row, dirs, s, cp):
    """Cpb and Lr of each batch of the statistics' window, and their
    standard errors about the window's own values."""
    try:
        batches = statistics_batches(dirs, s["tmin"])
        row["stat_batches"] = len(batches)
        if len(batches) < 2:
            return
        lr = [record_wake(b, dirs[-1], s["vin"])["Lr"] for b in batches]
        cpb = [face_mean(file_cp(cp["path"], s["vin"], run=dirs[-1], record=b)) for b in batches]
    except (OSError, ValueError) as exc:
        row["notes"].append(f"no batches of the statistics: {exc}")
        return
    steps = [b.header["nt"] for b in batches]
    row["lr_err"] = batch_error(lr, steps, row["lr"])
    row["cpb_err"] = batch_error(cpb, steps, face_mean(cp))


def _balance(row, dirs, rec, axis, flags, s):
    """The drag of the momentum balance on the boxes, and the mean drag of
    the faces (the time series) over the same statistics window."""
    if not s["vin"]:
        row["notes"].append("no momentum balance: Vin unknown")
        return
    try:
        row["balance"] = momentum_drag(rec, axis, flags, s["vin"])
    except ValueError as exc:
        row["notes"].append(f"no momentum balance: {exc}")
        return
    a, b = row["stat_window"]
    ts = joined_timeseries(dirs)
    sel = (ts["t"] > a + 0.5 * rec.header["dt"]) & (ts["t"] <= b + 0.5 * rec.header["dt"])
    if s["frontal_area"] and sel.any():
        row["cd_faces"] = float(np.mean(ts["pfx"][sel]) / (0.5 * s["vin"] ** 2 * s["frontal_area"]))


# the reference each quantity's trend is measured against (a row of
# STUDY_REFERENCES, by label); "u" is the centre line at Lyn's points
TREND_REFERENCES = (("st", "Lyn et al. 1995, experiment at Re 21,400"),
                    ("cd", "Trias, Gorobets & Oliva 2015, DNS"),
                    ("cl_rms", "simulations (range)"),
                    ("cpb", "Lee 1975; Bearman & Obasaju 1982 (range)"),
                    ("lr", "Lyn et al. 1995, experiment at Re 21,400"),
                    ("u", "Lyn et al. 1995, experiment at Re 21,400"))


def _u_gap(u, ref):
    """Root mean square of the centre-line U less Lyn's, over his points."""
    d = [a - b for a, b in zip(u, ref) if a is not None]
    return math.sqrt(sum(x * x for x in d) / len(d)) if d else None


def trend(rows, refs=STUDY_REFERENCES):
    """The trend of each quantity with the grid: the grids coarse to fine
    (by h/D), each quantity's gap to its reference on each, the last gap over
    the first, and from three grids the observed order and extrapolation."""
    grids = sorted((r for r in rows if r.get("h_D")), key=lambda r: -r["h_D"])
    by_label = {ref["label"]: ref for ref in refs}
    out = []
    for key, label in TREND_REFERENCES:
        ref = by_label[label][key]
        if key == "u":
            gaps = [_u_gap(r["u"], ref) for r in grids]
            order = (None, None, "the rms gap of a profile has no order")
        else:
            gaps = [gap(r[key], ref) for r in grids]
            order = observed_order([r["h_D"] for r in grids], [r[key] for r in grids])
        ratio = None
        if len(gaps) > 1 and None not in (gaps[0], gaps[-1]) and gaps[0] != 0:
            ratio = abs(gaps[-1]) / abs(gaps[0])
        out.append({"key": key, "reference": label, "ref": ref, "gaps": gaps, "ratio": ratio,
                    "order": order[0], "extrapolated": order[1], "note": order[2],
                    "grids": [r["label"] + (" (NOT SETTLED)" if r["unsettled"] else "")
                              for r in grids]})
    return out


def study(runs, tmin=None, vin=None):
    """Rows of the study for *runs*, a list of (label, last folder, tmin or
    None for the common *tmin*)."""
    return [study_run(label, last, tmin if t is None else t, vin) for label, last, t in runs]


def _fmt(v, digits=4):
    return "-" if v is None else f"{v:.{digits}g}"


def _pm(v, e):
    return "-" if v is None else _fmt(v) + ("" if e is None else f" ± {e:.2g}")


def _ref(v):
    if v is None:
        return ""
    if isinstance(v, tuple):
        return f"{v[0]:g} to {v[1]:g}"
    return f"{v:g}"


def scalar_cells(row):
    """The table's texts of a run's scalars, in the order of SCALARS."""
    st = "-" if row["st"] is None else (
        f"{_fmt(row['st'])} (res. {_fmt(row['st_res'], 2)}, "
        f"{_fmt(row['cycles'] and round(row['cycles'], 1), 3)} cycles)")
    return [st, _pm(row["cd"], row["cd_err"]), _pm(row["cl_rms"], row["cl_rms_err"]),
            _pm(row["cpb"], row.get("cpb_err")),
            "-" if row["lr"] is None else _fmt(row["lr"], 3)
            + ("" if row.get("lr_err") is None else f" ± {row['lr_err']:.2g}")]


def _md(cells):
    return "| " + " | ".join(cells) + " |"


def format_markdown(rows, refs=STUDY_REFERENCES):
    """The study as Markdown: the scalars with the reference rows, the
    centre-line velocity with Lyn's points, and every warning and note."""
    out = [_md(["grid", "h/D", "cells across", "dz/D", "cells", "window"]
               + [h for _, h in SCALARS]),
           _md(["---"] * (6 + len(SCALARS)))]
    for r in rows:
        flag = " (NOT SETTLED)" if r["unsettled"] else ""
        out.append(_md([r["label"] + flag, _fmt(r["h_D"], 3), str(r["across"]),
                        _fmt(r["dz_D"], 3), str(r["cells"]),
                        f"{_fmt(r['t_from'])} ... {_fmt(r['t_to'])}"] + scalar_cells(r)))
    for ref in refs:
        out.append(_md([ref["label"] + (" *" if ref.get("second_hand") else ""), "", "", "", "",
                        ""] + [_ref(ref.get(k)) for k, _ in SCALARS]))
    out += ["", f"{DEFINITIONS['cd_cl']}; {DEFINITIONS['rms']}.  ± : standard errors from "
            "batch means of whole lift cycles (the averaging time, not the grid); of Cpb and "
            "Lr, from the statistics' batches between the ends of its files (segments, "
            "seams), weighted by length: rough with few batches (their count in the CSV), "
            "none with one.  "
            "* quoted second-hand, not checked against the paper.", ""]
    xd = LYN_CENTRE_LINE[0]
    out.append(_md(["mean U / Vin at (x - xc)/D"] + [f"{x:g}" for x in xd]))
    out.append(_md(["---"] * (1 + len(xd))))
    for r in rows:
        out.append(_md([r["label"]] + [_fmt(u, 3) for u in r["u"]]))
    for ref in refs:
        if ref.get("u"):
            out.append(_md([ref["label"] + " (digitised) *"] + [f"{u:g}" for u in ref["u"]]))
    out.append("")
    out.append(_md(["shear layer over the sides", "delta/D at the centre", "cells across",
                    "delta/D at the rear face", "cells across"]))
    out.append(_md(["---"] * 5))
    for r in rows:
        cells = []
        for where in ("centre", "rear"):
            v = r["shear"].get(where)
            cells += ["-", "-"] if v is None else [_fmt(v["delta_D"], 3), _fmt(v["cells"], 3)]
        out.append(_md([r["label"]] + cells))
    out += ["", "delta: vorticity thickness (max U - min U) / max |dU/dy| of the span-mean U "
            "from the face out to 1.5 D, mean of the two sides; cells: delta over the cell "
            "width where the slope is steepest.", ""]
    out.append(_md(["eddy viscosity nut Re beside the sides", "t", "front corner cell",
                    "along the side", "largest"]))
    out.append(_md(["---"] * 5))
    for r, at in _instants(rows):
        v = at["nut"]
        out.append(_md([r["label"], _fmt(at["t"])] + (["-"] * 3 if v is None else
                                                     [_fmt(v[k], 3) for k in NUT_KEYS])))
    out += ["", "nut Re: the eddy viscosity over the molecular one at one instant (the final "
            "field file of each folder of the chain in the window), span means in the row of "
            "cells just outside each side face, mean of the two sides; largest: any cell of "
            "the two rows.", ""]
    out.append(_md(["damping across the layers beside the sides, over 1/Re", "t", "row",
                    "upwind, corner", "eddy, corner", "upwind, side", "eddy, side",
                    "fit, corner", "fit, side"]))
    out.append(_md(["---"] * 9))
    for r, at in _instants(rows):
        d = at["damping"]
        if d is None:
            out.append(_md([r["label"], _fmt(at["t"])] + ["-"] * (1 + len(DAMPING_KEYS))))
        for row in ([] if d is None else d["rows"]):
            out.append(_md([r["label"], _fmt(at["t"]), str(row["r"])]
                           + [_fmt(row[k], 3) for k in DAMPING_KEYS]))
    out += ["", "upwind: the equivalent viscosity of the upwind side of the differences of "
            "a dU/dy (a the interpolated v) at the u points of the row (1 = next to the face), "
            "fitted to nu d2U/dy2 by least squares; eddy: the eddy viscosity at the same "
            "points; fit: the correlation of that fit (1: the differences act as a viscosity). "
            "corner: the two u faces of the cell beside the front corner; side: the row along "
            "the face; both sides and the span together, one instant (the final field file "
            "of each folder).",
            ""]
    out.append(_md(["the near wake's span", "t", "common to the span: u'", "v'",
                    "w' / v' over the window"]))
    out.append(_md(["---"] * 5))
    for r, at in _instants(rows):
        v = at["span"]
        out.append(_md([r["label"], _fmt(at["t"])] + (["-"] * 3 if v is None else
                                                     [_fmt(v[k], 3) for k in SPAN_KEYS])))
    out += ["", "common to the span: the share of the fluctuation energy (about the window's "
            "means) that the span mean holds, at one instant (the final field file of each "
            "folder), over the "
            "cells behind the rear face up to 2 D and within D of the centre line; 1: the near "
            "wake is two-dimensional. w' / v': sqrt(sum w'^2 / sum v'^2) of the span-mean "
            "variances of the window over the same box. Both weighted by the cells' sizes.", ""]
    out.append(_md(["mean Cp on the faces", "middle of the front", "front", "top", "rear",
                    "bottom", "front less rear"]))
    out.append(_md(["---"] * 7))
    for r in rows:
        f = r["faces"]
        out.append(_md([r["label"]] + (["-"] * 6 if f is None else
                                       [_fmt(f[k], 4) for k in FACE_KEYS])))
    out += ["", "the cells beside each face, span means of the statistics' window, each face's "
            "mean weighted by the cells' lengths; middle of the front: the cell nearest its "
            "middle (stagnation: 1); front less rear: the drag of a square of side D from "
            "them.", ""]
    out.append(_md(["drag from the momentum balance", "statistics window", "Cd of the faces"]
                   + [f"box {a:g} D / {b:g} D" for a, b in BOXES]
                   + [f"{BOXES[1][0]:g} D box: {k}" for k in PARTS]))
    out.append(_md(["---"] * (3 + len(BOXES) + len(PARTS))))
    for r in rows:
        if r["balance"] is None:
            out.append(_md([r["label"]] + ["-"] * (2 + len(BOXES) + len(PARTS))))
            continue
        a, b = r["stat_window"]
        mid = r["balance"][1] or {}
        out.append(_md([r["label"], f"{a:.6g} ... {b:.6g}", _fmt(r["cd_faces"])]
                       + [_fmt((v or {}).get("cd")) for v in r["balance"]]
                       + [_fmt(mid.get(k), 3) for k in PARTS]))
    out += ["", "box a D / b D: the x-momentum the mean flow loses through a box a D off the "
            "front and side faces and b D behind the rear face (span means of the statistics: "
            "pressure, mean momentum flux, resolved and sub-grid stresses; the molecular stress "
            "and the change of the box's momentum left out), as a Cd; Cd of the faces: the "
            "time series' mean pressure drag over the statistics window. They differ by the "
            "friction on the body and the terms left out, a few per cent for any box; "
            "-: the box does not fit the grid.", ""]
    out += format_trend(trend(rows, refs))
    for r in rows:
        stats = "no statistics"
        if r["stat_window"] is not None:
            a, b = r["stat_window"]
            stats = f"Cpb, Lr, U from {r['stat_source']} (t = {a:.6g} ... {b:.6g})"
        out.append(f"- {r['label']}: h/D the smallest cell side at the body; window rule "
                   f"{r['window_rule']}; {stats}")
        out += [f"  - warning: {w}" for w in r["warnings"]]
        out += [f"  - note: {n}" for n in r["notes"]]
    return "\n".join(out)


def _instants(rows):
    """(row, instant) of every grid's instants, grid by grid, in time; a
    grid without any keeps one line, of dashes."""
    return [(r, at) for r in rows
            for at in (r["instants"] or [{"t": None, "nut": None, "damping": None,
                                          "span": None}])]


def format_trend(lines):
    """The trend table as Markdown lines."""
    if not lines:
        return []
    grids = lines[0]["grids"]
    names = dict(SCALARS, u="centre-line U (rms over Lyn's points)")
    out = [_md(["trend with the grid", "reference"] + [f"gap, {g}" for g in grids]
               + ["last gap / first", "observed order", "extrapolated"]),
           _md(["---"] * (5 + len(grids)))]
    for t in lines:
        ref = "Lyn's points" if t["key"] == "u" else _ref(t["ref"])
        out.append(_md([names[t["key"]], f"{ref} ({t['reference']} *)"]
                       + [_fmt(g, 3) for g in t["gaps"]]
                       + [_fmt(t["ratio"], 3), _fmt(t["order"], 3) if t["order"] else
                          t["note"] or "-", _fmt(t["extrapolated"])]))
    out += ["", "gap: the value less the reference (0 inside a published range; for the "
            "centre line the rms of U - U_Lyn); grids from the coarsest to the finest; "
            "last gap / first below 1: the finest grid is closer. The order needs three "
            "grids that converge monotonically.", ""]
    return out


CSV_COLUMNS = ("label", "h_D", "across", "dz_D", "cells", "t_from", "t_to", "st", "st_res",
               "cycles", "st_up", "cd", "cd_err", "cl_rms", "cl_rms_err", "cpb", "cpb_err", "lr",
               "lr_err", "stat_batches")
SHEAR_COLUMNS = ("shear_centre_D", "shear_centre_cells", "shear_rear_D", "shear_rear_cells")
NUT_KEYS = ("corner", "side", "max")
NUT_COLUMNS = ("nut_Re_t",) + tuple("nut_Re_" + k for k in NUT_KEYS)
DAMPING_KEYS = ("up_corner", "nut_corner", "up_side", "nut_side", "fit_corner", "fit_side")
DAMPING_ROWS = 3
SPAN_KEYS = ("share_u", "share_v", "w_v")
SPAN_COLUMNS = ("span_t",) + tuple("span_" + k for k in SPAN_KEYS)
FACE_COLUMNS = tuple("cp_" + k for k in FACE_KEYS)
BALANCE_COLUMNS = ("cd_faces_stat_window",) + tuple(f"cd_box_{a:g}_{b:g}" for a, b in BOXES)
DAMPING_COLUMNS = tuple(f"damping_r{n}_{k}" for n in range(1, DAMPING_ROWS + 1)
                        for k in DAMPING_KEYS)


def write_csv(rows, path, refs=STUDY_REFERENCES):
    """One line per grid and per reference (a published range as the text
    "low to high")."""
    xd = LYN_CENTRE_LINE[0]
    with open(path, "w", newline="", encoding="utf-8") as fh:
        fh.write(f"# grid study; {DEFINITIONS['cd_cl']}; {DEFINITIONS['rms']}; U_x: mean "
                 f"centre-line U / Vin at (x - xc)/D = x; reference rows quoted second-hand\n")
        w = csv.writer(fh, lineterminator="\n")
        w.writerow(CSV_COLUMNS + tuple(f"U_{x:g}" for x in xd) + SHEAR_COLUMNS + NUT_COLUMNS
                   + DAMPING_COLUMNS + SPAN_COLUMNS + FACE_COLUMNS + BALANCE_COLUMNS
                   + ("settled", "warnings", "notes"))
        for r in rows:
            shear = [_csv((r["shear"].get(where) or {}).get(key)) for where in ("centre", "rear")
                     for key in ("delta_D", "cells")]
            w.writerow([_csv(r[k]) for k in CSV_COLUMNS] + [_csv(u) for u in r["u"]] + shear
                       + _instant_cells(r) + [_csv((r["faces"] or {}).get(k)) for k in FACE_KEYS]
                       + [_csv(r["cd_faces"])]
                       + [_csv((v or {}).get("cd")) for v in (r["balance"] or [None] * len(BOXES))]
                       + ["no" if r["unsettled"] else "yes", "; ".join(r["warnings"]),
                          "; ".join(r["notes"])])
        for ref in refs:
            u = [f"{v:g}" for v in ref["u"]] if ref.get("u") else [""] * len(xd)
            w.writerow([ref["label"]] + [_ref(ref.get(k)) for k in CSV_COLUMNS[1:]] + u
                       + [""] * (len(SHEAR_COLUMNS) + len(NUT_COLUMNS) + len(DAMPING_COLUMNS)
                                 + len(SPAN_COLUMNS) + len(FACE_COLUMNS) + len(BALANCE_COLUMNS))
                       + ["", "", "second-hand" if ref.get("second_hand") else ""])
    return path


def _instant_cells(at):
    """The CSV cells of one instant's eddy viscosity, damping and span."""
    nut = [_csv((at["nut"] or {}).get(key)) for key in ("t",) + NUT_KEYS]
    drows = (at["damping"] or {}).get("rows") or [{}] * DAMPING_ROWS
    damp = [_csv(row.get(k)) for row in drows for k in DAMPING_KEYS]
    span = [_csv((at["span"] or {}).get(k)) for k in ("t",) + SPAN_KEYS]
    return nut + damp + span


def write_instants_csv(rows, path):
    """One line per grid and instant: the values of each final field file
    in the window (the grid's line of the main CSV holds its last)."""
    with open(path, "w", newline="", encoding="utf-8") as fh:
        fh.write("# grid study, one instant per line: the final field file of each folder of "
                 "a chain in the window\n")
        w = csv.writer(fh, lineterminator="\n")
        w.writerow(("label", "folder", "t") + NUT_COLUMNS + DAMPING_COLUMNS + SPAN_COLUMNS)
        for r, at in _instants(rows):
            if at["t"] is None:
                continue
            w.writerow([r["label"], at["folder"], _csv(at["t"])] + _instant_cells(at))
    return path


def _csv(v):
    if v is None:
        return ""
    return f"{v:.6g}" if isinstance(v, float) else str(v)
