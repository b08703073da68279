"""Run summary: force coefficients, Strouhal number, amplitudes, with the
uncertainty of each value.

Coefficients use density 1 and the inflow velocity Vin:
Cd = pfx / (0.5 Vin^2 A), Cl = pfy / (0.5 Vin^2 A), with the frontal area
A = (body extent in y) x (body extent in z) from the flag and axis files, and
St = f D / Vin with f the peak of the pfy spectrum and D the body extent in y.

How sure each value is:
- a frequency comes with its resolution 1/T (T the analysed window), the
  number of cycles in the window and a second estimate from the up-crossings
  of the lift;
- means and rms values come with a standard error from batch means: the
  window is cut into batches of whole lift cycles (equal lengths when the
  lift does not oscillate), and the scatter of the batch values gives the
  error, which accounts for the correlation in time that a plain
  sample standard error ignores;
- without --tmin the start-up transient is dropped by the rule of
  ``settled_start``, and the rule is reported.
"""

import json
import math
import os

import numpy as np

from .chain import joined_history, joined_timeseries, segment_dirs
from .readers import Run, body_box


def _uniform(t, y):
    """Resample (t, y) onto a uniform grid of the median spacing if needed."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    order = np.argsort(t, kind="stable")
    t, y = t[order], y[order]
    keep = np.concatenate(([True], np.diff(t) > 0))
    t, y = t[keep], y[keep]
    if len(t) < 2:
        return t, y, float("nan")
    dt = float(np.median(np.diff(t)))
    if np.allclose(np.diff(t), dt, rtol=1e-3, atol=1e-9):
        return t, y, dt
    tu = np.arange(t[0], t[-1] + 0.5 * dt, dt)
    return tu, np.interp(tu, t, y), dt


def amplitude_spectrum(t, y):
    """One-sided amplitude spectrum of y(t) (mean removed, Hann window).

    A sine of amplitude a shows a peak of height close to a.  Returns
    (frequencies, amplitudes); both empty for fewer than two samples.
    """
    t, y, dt = _uniform(t, y)
    if len(y) < 2:
        return np.zeros(0), np.zeros(0)
    win = np.hanning(len(y)) if len(y) > 2 else np.ones(len(y))
    coef = np.fft.rfft((y - y.mean()) * win)
    amp = 2.0 * np.abs(coef) / win.sum()
    return np.fft.rfftfreq(len(y), dt), amp


def dominant_frequency(t, y):
    """Frequency of the highest non-zero spectral peak, refined by a parabola
    through the peak bin and its neighbours (log amplitudes); nan when the
    signal is too short or constant."""
    f, amp = amplitude_spectrum(t, y)
    if len(f) < 3 or not np.any(amp[1:] > 0):
        return float("nan")
    k = 1 + int(np.argmax(amp[1:]))
    if k + 1 < len(amp) and amp[k - 1] > 0 and amp[k + 1] > 0:
        a, b, c = np.log(amp[k - 1:k + 2])
        den = a - 2 * b + c
        delta = 0.5 * (a - c) / den if den != 0 else 0.0
        return float(f[k] + max(-0.5, min(0.5, delta)) * (f[1] - f[0]))
    return float(f[k])


def spectral_peak(t, y):
    """(frequency, peak bin, resolution) of the highest non-zero spectral
    peak; the frequency is refined as in ``dominant_frequency``.  The
    resolution is 1 / (window length).  nan and bin 0 when there is none."""
    t = np.asarray(t, float)
    span = float(t.max() - t.min()) if len(t) > 1 else 0.0
    res = 1.0 / span if span > 0 else float("nan")
    f, amp = amplitude_spectrum(t, y)
    if len(f) < 3 or not np.any(amp[1:] > 0):
        return float("nan"), 0, res
    return dominant_frequency(t, y), 1 + int(np.argmax(amp[1:])), res


def upcrossings(t, y, hysteresis=0.25):
    """Times at which y - mean(y) crosses zero upwards, interpolated linearly.

    A crossing counts only after the signal has been below -h and before it
    rises above +h, with h = *hysteresis* x rms(y - mean), so that noise on
    a slow signal does not count as extra cycles; where noise crosses zero
    several times in between, the time is the middle of the first and the
    last of those crossings."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    if len(y) < 3:
        return np.zeros(0)
    y = y - y.mean()
    h = hysteresis * float(np.sqrt(np.mean(y * y)))
    if h == 0:
        return np.zeros(0)
    out, armed, first, last = [], False, None, None
    for n in range(1, len(y)):
        if armed and y[n - 1] < 0 <= y[n]:
            last = t[n - 1] + (t[n] - t[n - 1]) * (-y[n - 1]) / (y[n] - y[n - 1])
            first = last if first is None else first
        if y[n] < -h:
            armed, first, last = True, None, None
        elif armed and y[n] > h and last is not None:
            # noise may cross zero several times: the middle of the first and last
            out.append(0.5 * (first + last))
            armed, first, last = False, None, None
    return np.array(out)


def cycle_amplitudes(t, y, crossings):
    """Half the peak-to-peak of y in each cycle between two up-crossings."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    amps = []
    for a, b in zip(crossings[:-1], crossings[1:]):
        sel = (t >= a) & (t <= b)
        amps.append(0.5 * (y[sel].max() - y[sel].min()) if sel.any() else 0.0)
    return np.array(amps)


SETTLE_TOL = 0.1     # cycle amplitudes within 10 % of the settled amplitude
SETTLE_LAST = 3      # the settled amplitude: median of the last cycles (at least 3)
MIN_CYCLES = 8       # fewer cycles than this in the window draw a warning
NBATCH = 10          # batches for the batch-means errors


def settled_start(t, y, name="lift"):
    """Start of the settled part of an oscillating signal, and the rule used.

    Rule: the settled amplitude is the median amplitude of the last quarter
    of the cycles (at least the last 3); the analysis starts at the first
    up-crossing from which every later cycle's amplitude stays within 10 %
    of it.  A signal with fewer than 4 whole cycles, or no oscillation, gives
    (None, reason)."""
    t = np.asarray(t, float)
    tc = upcrossings(t, y)
    amps = cycle_amplitudes(t, y, tc)
    if len(amps) < 4:
        return None, f"the {name} shows fewer than 4 whole cycles"
    nref = max(SETTLE_LAST, len(amps) // 4)
    ref = float(np.median(amps[-nref:]))
    if ref <= 0:
        return None, f"the {name} does not oscillate"
    bad = np.nonzero(np.abs(amps / ref - 1.0) > SETTLE_TOL)[0]
    first = 0 if len(bad) == 0 else int(bad[-1]) + 1
    if first >= len(amps) - 2:
        return None, f"the {name} amplitude has not settled within {SETTLE_TOL:.0%}"
    return float(tc[first]), (f"{name} cycle amplitudes within {SETTLE_TOL:.0%} of the "
                              f"settled {ref:.4g} from t = {tc[first]:.6g} on")


def auto_tmin(t, pfy, pfx=None, ydis=None):
    """The automatic start of the analysis window and the rule that set it.

    The later of the lift's settled start and, when the body moves in y, the
    displacement's.  When the lift does not oscillate (its rms below 0.1 % of
    the mean drag force) or has not settled, the second half of the record
    is taken."""
    t = np.asarray(t, float)
    half = float(t[0] + 0.5 * (t[-1] - t[0]))
    fallback = f"second half of the record (t >= {half:.6g})"
    pfy = np.asarray(pfy, float)
    scale = abs(float(np.mean(pfx))) if pfx is not None else 0.0
    if np.std(pfy[t >= half]) <= 1e-3 * scale:
        return half, f"the lift does not oscillate: {fallback}"
    start, why = settled_start(t, pfy, "lift")
    if start is None:
        return half, f"{why}: {fallback}"
    rules = [why]
    if ydis is not None and np.ptp(ydis) > 1e-6 * max(1.0, float(np.max(np.abs(ydis)))):
        s2, why2 = settled_start(t, ydis, "ydis")
        if s2 is None:
            return max(start, half), f"{why}; {why2}: {fallback}"
        start = max(start, s2)
        rules.append(why2)
    return start, "; ".join(rules)


def batch_edges(t, crossings, nbatch=NBATCH):
    """Batch boundaries in time: whole cycles between up-crossings when
    there are at least 4 cycles, otherwise *nbatch* equal parts."""
    t = np.asarray(t, float)
    ncyc = len(crossings) - 1
    if ncyc >= 4:
        nb = min(nbatch, ncyc)
        idx = np.round(np.linspace(0, ncyc, nb + 1)).astype(int)
        return np.asarray(crossings)[idx], True
    nb = max(2, min(nbatch, len(t) // 10))
    return np.linspace(t[0], t[-1], nb + 1), False


def batch_errors(t, y, edges):
    """(mean, error of the mean, rms about the mean, error of the rms) of y
    from batch means over the batches between *edges*.  Errors are nan with
    fewer than two non-empty batches."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    mean = float(y.mean())
    rms = float(np.sqrt(np.mean((y - mean) ** 2)))
    means, rmss, counts = [], [], []
    for n, (a, b) in enumerate(zip(edges[:-1], edges[1:])):
        sel = (t >= a) & ((t < b) if n < len(edges) - 2 else (t <= b))
        if sel.sum() == 0:
            continue
        means.append(y[sel].mean())
        rmss.append(np.sqrt(np.mean((y[sel] - mean) ** 2)))
        counts.append(sel.sum())
    nb = len(means)
    if nb < 2:
        return mean, float("nan"), rms, float("nan")
    w = np.array(counts, float) / np.mean(counts)
    means, rmss = np.array(means), np.array(rmss)
    m_b = np.average(means, weights=w)
    r_b = np.average(rmss, weights=w)
    err_m = float(np.sqrt(np.sum(w * (means - m_b) ** 2) / (nb - 1) / nb))
    err_r = float(np.sqrt(np.sum(w * (rmss - r_b) ** 2) / (nb - 1) / nb))
    return mean, err_m, rms, err_r


def frequency_estimates(t, y):
    """Spectral and up-crossing frequency of y over the whole of t, the
    resolution, the cycle count and the warnings that go with them."""
    t = np.asarray(t, float)
    f, k, res = spectral_peak(t, y)
    tc = upcrossings(t, y)
    f_up = (len(tc) - 1) / (tc[-1] - tc[0]) if len(tc) >= 2 else float("nan")
    span = float(t[-1] - t[0]) if len(t) > 1 else 0.0
    cycles = f * span if math.isfinite(f) else float("nan")
    warn = []
    if not math.isfinite(f):
        warn.append("no spectral peak: the signal is constant or too short")
    else:
        if k == 1:
            warn.append(f"the spectral peak is in the lowest bin ({res:.4g} = 1 / window): "
                        f"the window is too short for this frequency, or the signal is "
                        f"not periodic")
        if cycles < MIN_CYCLES:
            warn.append(f"only {cycles:.1f} cycles in the window (fewer than "
                        f"{MIN_CYCLES}): run longer or start the window earlier")
        if not math.isfinite(f_up):
            warn.append("fewer than two up-crossings of the lift: no second estimate")
        elif abs(f - f_up) > res:
            warn.append(f"spectrum ({f:.4g}) and up-crossings ({f_up:.4g}) differ by more "
                        f"than the resolution {res:.4g}")
    return {"f": f, "f_up": f_up, "resolution": res, "cycles": cycles,
            "upcrossings": tc, "warnings": warn}


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
    t = ts["t"][sel]
    out = {"run": os.path.abspath(run_dir),
           "chain": [os.path.abspath(d) for d in dirs] if len(dirs) > 1 else None,
           "t_first": _num(ts["t"][0]), "t_last": _num(ts["t"][-1]),
           "t_from": _num(t[0]), "t_to": _num(t[-1]), "lines": int(sel.sum()),
           "segments": len(ts.segments), "window_rule": rule, "warnings": [], "notes": []}

    if vin is None and os.path.exists(run.file("console.in")):
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

    pfx, pfy = ts["pfx"][sel], ts["pfy"][sel]
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
        d = ts[name][sel]
        _stats(out, name, t, d, edges)
        out[name + "_amp"] = _num(0.5 * (d.max() - d.min()))
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
            step = float(np.median(np.diff(t))) if len(t) > 1 else 0.0
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
    row("time span", f"{_fmt(s['t_first'])}  {_fmt(s['t_last'])}")
    row("analysed from", f"{_fmt(s['t_from'])}  {_fmt(s['t_to'])}  ({s['lines']} lines)")
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
    row("rms Cl", _pm(s["cl_rms"], s["cl_rms_err"]))
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
