"""Run summary: force coefficients, Strouhal number, amplitudes, with the
uncertainty of each value.

Coefficients use density 1 and the inflow velocity Vin:
Cd = pfx / (0.5 Vin^2 A), Cl = pfy / (0.5 Vin^2 A), with the frontal area
A = (body extent in y) x (body extent in z) from the flag and axis files, and
St = f D / Vin with f the peak of the pfy spectrum and D the body extent in y.

How sure each value is comes from ``signals``: a frequency with its
resolution, its cycle count and the up-crossing estimate of the lift; means
and rms values with standard errors from batch means over whole lift cycles.
Without --tmin the start-up transient is dropped by the rule of
``signals.auto_tmin``, and the rule is reported.
"""

import json
import math
import os

import numpy as np

from .chain import history_path, joined_history, joined_timeseries, segment_dirs
from .readers import Run, body_box
from .runfiles import CONSOLE_FILE, process_running, version
from .signals import auto_tmin, batch_edges, batch_errors, frequency_estimates, settledness


def _num(v):
    if v is None:
        return None
    v = float(v)
    return v if math.isfinite(v) else None


def _stats(out, key, t, y, edges, scale=1.0, rms=True):
    m, em, r, er = batch_errors(t, y, edges)
    out[key + "_mean"] = _num(m / scale)
    out[key + "_mean_err"] = _num(em / scale)
    if rms:
        out[key + "_rms"] = _num(r / scale)
        out[key + "_rms_err"] = _num(er / scale)


# What the coefficients are, said in every output that gives them.
DEFINITIONS = {
    "cd_cl": "Cd, Cl: pressure force only (the program integrates no viscous stress)",
    "rms": "rms = standard deviation about the mean",
}


def _history_window(dirs, t0, t1, step):
    """The body history (vfile: every nsmp steps, double precision) of the
    chain over [t0, t1], when it holds the whole window; else None and why."""
    try:
        h = joined_history(dirs)
    except (OSError, ValueError) as exc:
        return None, f"no body history ({exc})"
    t = h["time"]
    if len(t) < 2:
        return None, "the body history holds no samples (nsmp = 0?)"
    tol = step + 1e-9 * max(1.0, abs(t1))
    if t[0] > t0 + tol or t[-1] < t1 - tol:
        return None, (f"the body history spans t = {t[0]:.6g} ... {t[-1]:.6g}, not the whole "
                      f"window {t0:.6g} ... {t1:.6g}")
    sel = (t >= t0 - 1e-9) & (t <= t1 + 1e-9)
    return {k: np.asarray(h[k])[sel] for k in ("time", "pfx", "pfy", "xdis", "ydis",
                                                 "tdis")}, None


def summarize(run_dir, vin=None, tmin=None):
    """Summary values of a run as a dict (None where unknown).

    *run_dir* is a run folder, the last folder of a restart chain (found
    through its restart records) or a list of the chain's folders; a chain is
    one run in time, every value taken from the same joined window.  Without
    *tmin* the window starts where ``auto_tmin`` says; its rule is in
    "window_rule".  Warnings about the frequency estimate are in "warnings",
    other remarks in "notes".
    """
    dirs = segment_dirs(run_dir)
    run_dir = dirs[-1]
    run = Run(run_dir)
    ts = joined_timeseries(dirs)
    if len(ts) == 0:
        raise ValueError(f"{run.ts_path} holds no data lines yet")
    if tmin is None:
        tmin, rule = auto_tmin(ts["t"], ts["pfy"], ts["pfx"], ts["ydis"])
    else:
        rule = f"given: t >= {tmin:.6g}"
    sel = ts["t"] >= tmin
    if not sel.any():
        raise ValueError(f"no time-series line at t >= {tmin}")
    step = float(np.median(np.diff(ts["t"]))) if len(ts) > 1 else 0.0
    # the every-step double-precision body history where it holds the window,
    # else the time series (every 10 steps, 4 significant digits)
    hist, why = _history_window(dirs, float(ts["t"][sel][0]), float(ts["t"][-1]), step)
    if hist is not None:
        sig = {"t": hist["time"], "pfx": hist["pfx"], "pfy": hist["pfy"],
               "xdis": hist["xdis"], "ydis": hist["ydis"]}
        source = "body history " + ", ".join(os.path.relpath(history_path(d), run_dir)
                                             for d in dirs) + " (every nsmp steps, double precision)"
    else:
        sig = {k: ts[k][sel] for k in ("t", "pfx", "pfy", "xdis", "ydis")}
        source = f"time series (every 10 steps, 4 significant digits): {why}"
    t = sig["t"]
    out = {"run": os.path.abspath(run_dir),
           "chain": [os.path.abspath(d) for d in dirs] if len(dirs) > 1 else None,
           "t_first": _num(ts["t"][0]), "t_last": _num(ts["t"][-1]),
           "t_from": _num(t[0]), "t_to": _num(t[-1]), "lines": int(len(t)),
           "source": source, "segments": len(ts.segments), "tmin": _num(tmin),
           "window_rule": rule,
           "warnings": [], "notes": [], "version": version(), "definitions": DEFINITIONS,
           "running": bool(process_running(run_dir))}
    if out["running"]:
        out["warnings"].append(f"the program still runs in {run_dir}: these values are of "
                               f"the part written so far (up to t = {ts['t'][-1]:.6g})")

    if vin is None and os.path.exists(run.file(CONSOLE_FILE)):
        vin = run.vin()
    out["vin"] = _num(vin)
    box = None
    try:
        box = body_box(run.axis(), run.flags())
    except (OSError, ValueError) as exc:
        out["notes"].append(f"no body geometry: {exc}")
    if box is None and not out["notes"]:
        out["notes"].append("the flag file marks no body cell")
    dy = box["y1"] - box["y0"] if box else None
    dz = box["z1"] - box["z0"] if box else None
    out.update({"body_height_D": _num(dy), "body_span": _num(dz),
                "frontal_area": _num(dy * dz) if box else None})

    pfx, pfy = sig["pfx"], sig["pfy"]
    fe = frequency_estimates(t, pfy)
    out["warnings"] += fe["warnings"]
    edges, whole = batch_edges(t, fe["upcrossings"])
    out["batches"] = len(edges) - 1
    out["batches_of_cycles"] = whole
    _stats(out, "pfx", t, pfx, edges)
    _stats(out, "pfy", t, pfy, edges)
    out.update({"shedding_frequency": _num(fe["f"]), "upcrossing_frequency": _num(fe["f_up"]),
                "frequency_resolution": _num(fe["resolution"]), "cycles": _num(fe["cycles"])})

    if vin and box:
        q = 0.5 * vin * vin * out["frontal_area"]
        _stats(out, "cd", t, pfx, edges, q)
        _stats(out, "cl", t, pfy, edges, q)
        out.update({"strouhal": _num(fe["f"] * dy / vin),
                    "strouhal_upcrossing": _num(fe["f_up"] * dy / vin),
                    "strouhal_resolution": _num(fe["resolution"] * dy / vin)})
    else:
        if not vin:
            out["notes"].append("Vin unknown: give --vin or a console.in")
        for k in ("cd", "cl"):
            for s in ("_mean", "_mean_err", "_rms", "_rms_err"):
                out[k + s] = None
        out.update({k: None for k in ("strouhal", "strouhal_upcrossing",
                                      "strouhal_resolution")})

    for name in ("xdis", "ydis"):
        d = sig[name]
        _stats(out, name, t, d, edges)
        out[name + "_amp"] = _num(0.5 * (d.max() - d.min()))
    # Settled or not: the lift, and each displacement that moves.
    out["settled"], out["unsettled"] = {}, []
    checks = [("lift", pfy)] + [(name, sig[name]) for name in ("xdis", "ydis")
                                if np.ptp(sig[name]) > 1e-9]
    for name, y in checks:
        st = settledness(t, y, name)
        out["settled"][name] = st
        if name != "lift":
            out[name + "_amp_settled"] = _num(st["amplitude"])
            out[name + "_amp_settled_err"] = _num(st["amplitude_err"])
        if not st["settled"]:
            out["unsettled"].append(name)
            out["warnings"].append(f"NOT SETTLED: {st['reason']}; the values below are not "
                                   "a settled response: run longer (qv restart --exact)")
    out["tdis_amp"] = None
    try:
        hist = joined_history(dirs)
        td = hist["tdis"][(hist["time"] >= t[0] - 1e-9) & (hist["time"] <= t[-1] + 1e-9)]
        if len(td):
            out["tdis_amp"] = _num(0.5 * (td.max() - td.min()))
    except (OSError, ValueError):
        pass

    out.update({"cpb": None, "cpb_source": None})
    if vin:
        try:
            from .surface import base_pressure
            cpb, source, (a, b) = base_pressure(run, vin, dirs, tmin)
            out["cpb"], out["cpb_source"] = _num(cpb), source
            if a < t[0] - step - 1e-9:
                out["notes"].append(f"the statistics file averages from t = {a:.6g}, before "
                                    f"the analysed window: Cpb includes the start-up (a "
                                    f"restart from the settled flow gives clean means)")
        except (OSError, ValueError) as exc:
            out["notes"].append(f"no base pressure: {exc}")
    return out


def _pm(v, e):
    """'v ± e' with e to two significant digits."""
    if v is None:
        return "-"
    if e is None:
        return _fmt(v)
    return f"{v:.6g} ± {e:.2g}"


def _fmt(v):
    if v is None:
        return "-"
    if isinstance(v, int):
        return str(v)
    return f"{v:.6g}"


def format_table(s):
    """The summary as an aligned text table."""
    def row(label, text):
        rows.append(f"{label:<24s} {text}")

    rows = []
    if s.get("running"):
        rows.append("*** the program still runs in this folder: the values are of the part "
                    "written so far ***")
    if s.get("unsettled"):
        rows.append("*" * 72)
        rows.append(f"*** NOT SETTLED: {', '.join(s['unsettled'])} still changing over the "
                    "window; see the warnings ***")
        rows.append("*" * 72)
    row("time span", f"{_fmt(s['t_first'])}  {_fmt(s['t_last'])}")
    row("analysed from", f"{_fmt(s['t_from'])}  {_fmt(s['t_to'])}  ({s['lines']} samples)")
    row("data from", s["source"])
    row("window rule", s["window_rule"])
    row("run segments", _fmt(s["segments"]))
    row("Vin", _fmt(s["vin"]))
    row("D (body extent in y)", _fmt(s["body_height_D"]))
    row("frontal area", _fmt(s["frontal_area"]))
    row("mean pfx", _pm(s["pfx_mean"], s["pfx_mean_err"]))
    row("rms pfy", _pm(s["pfy_rms"], s["pfy_rms_err"]))
    row("mean Cd", _pm(s["cd_mean"], s["cd_mean_err"]))
    row("rms Cd", _pm(s["cd_rms"], s["cd_rms_err"]))
    row("mean Cl", _pm(s["cl_mean"], s["cl_mean_err"]))
    row("rms Cl (std. dev.)", _pm(s["cl_rms"], s["cl_rms_err"]))
    row("shedding frequency", f"{_fmt(s['shedding_frequency'])}  (resolution "
        f"{_fmt(s['frequency_resolution'])}, {_fmt(s['cycles'] and round(s['cycles'], 1))} cycles)")
    row("  from up-crossings", _fmt(s["upcrossing_frequency"]))
    row("St", f"{_fmt(s['strouhal'])}  (resolution {_fmt(s['strouhal_resolution'])}, "
        f"{_fmt(s['cycles'] and round(s['cycles'], 1))} cycles)"
        if s["strouhal"] is not None else "-")
    row("  from up-crossings", _fmt(s["strouhal_upcrossing"]))
    row("base pressure Cpb", _fmt(s["cpb"]) + (f"  ({s['cpb_source']})" if s["cpb_source"] else ""))
    row("xdis mean / amplitude", f"{_pm(s['xdis_mean'], s['xdis_mean_err'])}  {_fmt(s['xdis_amp'])}")
    row("ydis rms / amplitude", f"{_pm(s['ydis_rms'], s['ydis_rms_err'])}  {_fmt(s['ydis_amp'])}")
    row("tdis amplitude", _fmt(s["tdis_amp"]))
    for name in ("xdis", "ydis"):
        st = s.get("settled", {}).get(name)
        if st:
            row(f"{name} amp., last cycles", f"{_pm(st['amplitude'], st['amplitude_err'])}  "
                f"({'settled' if st['settled'] else 'NOT settled'}, {st['cycles']} cycles)")
    rows.append(f"{DEFINITIONS['cd_cl']}; {DEFINITIONS['rms']}")
    how = "whole lift cycles" if s.get("batches_of_cycles") else "equal lengths"
    rows.append(f"± : standard errors from {s.get('batches')} batch means ({how})")
    rows += [f"warning: {w}" for w in s.get("warnings", [])]
    rows += [f"note: {n}" for n in s.get("notes", [])]
    return "\n".join(rows)


def write_json(s, path):
    with open(path, "w", encoding="utf-8") as fh:
        json.dump(s, fh, indent=2, ensure_ascii=False)
        fh.write("\n")
    return path
