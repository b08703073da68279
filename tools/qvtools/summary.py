"""Run summary: force coefficients, Strouhal number, amplitudes, time span.

Coefficients use density 1 and the inflow velocity Vin:
Cd = pfx / (0.5 Vin^2 A), Cl = pfy / (0.5 Vin^2 A), with the frontal area
A = (body extent in y) x (body extent in z) from the flag and axis files, and
St = f D / Vin with f the peak of the pfy spectrum and D the body extent in y.
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


def _num(v):
    if v is None:
        return None
    v = float(v)
    return v if math.isfinite(v) else None


def summarize(run_dir, vin=None, tmin=None):
    """Summary values of a run as a dict (None where unknown).

    *run_dir* is a run folder, the last folder of a restart chain (found
    through its restart records) or a list of the chain's folders; a chain is
    one run in time, every value taken from the same joined window.
    """
    dirs = segment_dirs(run_dir)
    run_dir = dirs[-1]
    run = Run(run_dir)
    ts = joined_timeseries(dirs)
    if len(ts) == 0:
        raise ValueError(f"{run.ts_path} holds no data lines yet")
    sel = np.ones(len(ts), bool) if tmin is None else ts["t"] >= tmin
    if not sel.any():
        raise ValueError(f"no time-series line at t >= {tmin}")
    t = ts["t"][sel]
    out = {"run": os.path.abspath(run_dir),
           "chain": [os.path.abspath(d) for d in dirs] if len(dirs) > 1 else None,
           "t_first": _num(ts["t"][0]), "t_last": _num(ts["t"][-1]),
           "t_from": _num(t[0]), "t_to": _num(t[-1]), "lines": int(sel.sum()),
           "segments": len(ts.segments), "notes": []}

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
    out.update({"pfx_mean": _num(pfx.mean()), "pfy_mean": _num(pfy.mean()),
                "pfy_rms": _num(pfy.std())})
    freq = dominant_frequency(t, pfy)
    out["shedding_frequency"] = _num(freq)

    if vin and box:
        q = 0.5 * vin * vin * out["frontal_area"]
        out.update({"cd_mean": _num(pfx.mean() / q), "cd_rms": _num(pfx.std() / q),
                    "cl_mean": _num(pfy.mean() / q), "cl_rms": _num(pfy.std() / q),
                    "strouhal": _num(freq * dy / vin)})
    else:
        if not vin:
            out["notes"].append("Vin unknown: give --vin or a console.in")
        out.update({k: None for k in ("cd_mean", "cd_rms", "cl_mean", "cl_rms",
                                      "strouhal")})

    for name in ("xdis", "ydis"):
        d = ts[name][sel]
        out[name + "_mean"] = _num(d.mean())
        out[name + "_amp"] = _num(0.5 * (d.max() - d.min()))
    out["tdis_amp"] = None
    try:
        hist = joined_history(dirs)
        td = hist["tdis"][(hist["time"] >= t[0] - 1e-9) & (hist["time"] <= t[-1] + 1e-9)]
        if len(td):
            out["tdis_amp"] = _num(0.5 * (td.max() - td.min()))
    except (OSError, ValueError):
        pass
    return out


_ROWS = [("time span", "t_first", "t_last"), ("analysed from", "t_from", "t_to"),
         ("time-series lines", "lines"), ("run segments", "segments"),
         ("Vin", "vin"), ("D (body extent in y)", "body_height_D"),
         ("frontal area", "frontal_area"), ("mean pfx", "pfx_mean"),
         ("rms pfy", "pfy_rms"), ("mean Cd", "cd_mean"), ("rms Cl", "cl_rms"),
         ("shedding frequency", "shedding_frequency"), ("St", "strouhal"),
         ("xdis mean / amplitude", "xdis_mean", "xdis_amp"),
         ("ydis mean / amplitude", "ydis_mean", "ydis_amp"),
         ("tdis amplitude", "tdis_amp")]


def _fmt(v):
    if v is None:
        return "-"
    if isinstance(v, int):
        return str(v)
    return f"{v:.6g}"


def format_table(s):
    """The summary as an aligned text table."""
    lines = []
    for label, *keys in _ROWS:
        lines.append(f"{label:<24s} " + "  ".join(_fmt(s.get(k)) for k in keys))
    lines += [f"note: {n}" for n in s.get("notes", [])]
    return "\n".join(lines)


def write_json(s, path):
    with open(path, "w", encoding="utf-8") as fh:
        json.dump(s, fh, indent=2)
        fh.write("\n")
    return path
