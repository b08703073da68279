"""The mean wake behind the body, from statistics files.

A run sums its statistics from its own first step (a restart starts the sums
afresh), so a long run made of restart segments has one statistics file per
segment.  ``join_statistics`` turns consecutive segments into the file one
run over their whole window would have written (up to rounding): means
weighted by the segments' step counts, second moments through the raw
moments of each segment,

    mean = sum(n_s m_s) / N,   cov = sum(n_s (cov_s + a_s b_s)) / N - A B.

``centre_line`` reads the mean and the resolved fluctuations along the line
through the body's centre parallel to x, averaged over the span.  The
statistics hold node values: mean velocities ``su``, ``sv``, ``sw`` and their
variances at the grid nodes (x(i), y(j), z(k)), in the frame of the body.
The centre line y = yc of the body lies on a node row when the grid has a
line there; otherwise the two rows around it are interpolated linearly.
With periodic sides in z the node row k = ke is the image of k = ks and is
left out of the span mean.
"""

import math
import os

import numpy as np

from .readers import (STAT_NAMES, Block, RecordFile, Run, body_box, read_axis, read_flags,
                      read_statistics)
from .chain import statistics_path
from .records import pack_record, write_records
from .runfiles import CKPT_SUFFIX

# (variance or covariance, first mean, second mean)
_SECOND = (("suu", "su", "su"), ("svv", "sv", "sv"), ("sww", "sw", "sw"),
           ("suv", "su", "sv"), ("svw", "sv", "sw"), ("swu", "sw", "su"),
           ("spm2", "spm", "spm"))
_MEANS = tuple(n for n in STAT_NAMES if n not in {s for s, _, _ in _SECOND})


def window(rec):
    """(start, end) times a statistics file averages over."""
    h = rec.header
    start = h["t"] - h["nt"] * h["dt"]
    return (0.0 if abs(start) < 1e-9 * max(1.0, abs(h["t"])) else start), h["t"]


def stat_path(path):
    """The statistics file of a run folder (the one saved at its last snapshot
    instant when the run did not reach its end), or *path* itself."""
    if not os.path.isdir(path):
        if not os.path.exists(path):
            raise FileNotFoundError(f"no statistics file {path}")
        return os.fspath(path)
    found = statistics_path(path)
    if not os.path.exists(found):
        raise FileNotFoundError(
            f"{path} holds no statistics: {found} is missing (the run has not ended), and "
            f"no statistics were saved at a snapshot instant ({found + CKPT_SUFFIX})")
    return found


def join_statistics(paths):
    """One statistics record over the consecutive segments' files *paths*
    (run folders or statistics files)."""
    return join_records([read_statistics(stat_path(p)) for p in paths])


def join_records(recs):
    """One statistics record over the consecutive segments' records *recs*.

    The segments must share the grid bounds and time step and follow each
    other in time without gap or overlap."""
    if not recs:
        raise ValueError("no statistics file given")
    first = recs[0]
    for a, b in zip(recs[:-1], recs[1:]):
        if b.bounds != a.bounds:
            raise ValueError(f"{b.path} is on another grid than {a.path}")
        if b.header["dt"] != a.header["dt"]:
            raise ValueError(f"{b.path} has time step {b.header['dt']:g}, "
                             f"{a.path} {a.header['dt']:g}")
        gap = window(b)[0] - window(a)[1]
        if abs(gap) > 0.5 * a.header["dt"]:
            raise ValueError(
                f"{b.path} starts at t = {window(b)[0]:.6g} but {a.path} ends at "
                f"t = {window(a)[1]:.6g}: the segments are not consecutive")
    n = np.array([r.header["nt"] for r in recs], float)
    if np.any(n <= 0):
        raise ValueError("a statistics file with no steps cannot be joined")
    w = n / n.sum()
    data = {}
    for name in _MEANS:
        data[name] = sum(wi * r[name] for wi, r in zip(w, recs))
    for var, a, b in _SECOND:
        raw = sum(wi * (r[var] + r[a] * r[b]) for wi, r in zip(w, recs))
        data[var] = raw - data[a] * data[b]
    header = dict(first.header)
    header["t"] = recs[-1].header["t"]
    header["nt"] = int(n.sum())
    header["iter"] = recs[-1].header["iter"]
    return RecordFile(recs[-1].path, "statistics", dict(first.bounds), header,
                      {name: Block(name, data[name], first.blocks[name].lo, first.blocks[name].hi)
                       for name in STAT_NAMES})


def write_statistics(rec, path):
    """Write *rec* in the program's statistics-file layout."""
    b, h = rec.bounds, rec.header
    payloads = [pack_record(*(np.int32(b[k]) for k in ("is", "ie", "js", "je", "ks", "ke"))),
                pack_record(*(np.float64(h[k]) for k in ("Re", "Cs", "dt", "t")),
                            *(np.int32(h[k]) for k in ("nt", "iyper", "izper", "iter")))]
    for name in STAT_NAMES:
        payloads.append(np.asarray(rec[name], "<f8").tobytes(order="F"))
    write_records(path, payloads)
    return path


def _row_weights(coord, c):
    """[(index, weight)] that interpolate node values at coordinate c."""
    coord = np.asarray(coord, float)
    j = int(np.searchsorted(coord, c))
    if j < len(coord) and math.isclose(coord[j], c, rel_tol=0, abs_tol=1e-9 * max(1.0, abs(c))):
        return [(j, 1.0)]
    if j == 0 or j == len(coord):
        raise ValueError(f"y = {c:g} lies outside the grid")
    f = (c - coord[j - 1]) / (coord[j] - coord[j - 1])
    return [(j - 1, 1.0 - f), (j, f)]


def centre_line(rec, axis, flags, vin=1.0):
    """Span-mean profiles along y = yc of the body, normalised by *vin*.

    Returns x, U (mean streamwise velocity), V, urms, vrms, wrms (resolved),
    uv (resolved shear stress), the body box and the rows used."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file holds no body: there is no centre line")
    yc = 0.5 * (box["y0"] + box["y1"])
    rows = _row_weights(axis.y, yc)
    periodic = rec.header.get("izper") == 0
    nk = len(axis.z) - (1 if periodic and len(axis.z) > 1 else 0)

    def line(name):
        a = rec[name]
        return sum(wt * a[:, j, :nk].mean(axis=1) for j, wt in rows)

    out = {"x": np.asarray(axis.x, float), "yc": yc, "rows": rows, "box": box,
           "U": line("su") / vin, "V": line("sv") / vin, "uv": line("suv") / vin ** 2}
    for var, name in (("suu", "urms"), ("svv", "vrms"), ("sww", "wrms")):
        out[name] = np.sqrt(np.maximum(line(var), 0.0)) / vin
    return out


def recirculation_length(x, U, x_rear):
    """Distance from the rear face x_rear to where the mean streamwise
    velocity on the centre line first turns from negative to positive; nan
    when there is no reversed flow behind the body."""
    x, U = np.asarray(x, float), np.asarray(U, float)
    behind = np.nonzero(x > x_rear + 1e-9 * max(1.0, abs(x_rear)))[0]
    neg = [n for n in behind if U[n] < 0]
    if not neg:
        return math.nan
    for n in range(neg[0], len(x) - 1):
        if U[n] < 0 <= U[n + 1]:
            return float(x[n] - U[n] * (x[n + 1] - x[n]) / (U[n + 1] - U[n]) - x_rear)
    return math.nan


def wake(paths, vin=None, run=None):
    """Centre-line profiles and recirculation length over the joined
    statistics of *paths* (run folders or statistics files, in time order)."""
    files = [stat_path(p) for p in paths]
    rec = join_records([read_statistics(f) for f in files])
    folder = run or (paths[0] if os.path.isdir(paths[0]) else os.path.dirname(
        os.path.abspath(paths[0])))
    r = Run(folder)
    axis, flags = read_axis(r.axis_path), read_flags(r.flag_path)[1]
    if vin is None:
        vin = r.vin()
    line = centre_line(rec, axis, flags, vin)
    D = line["box"]["y1"] - line["box"]["y0"]
    line["Lr"] = recirculation_length(line["x"], line["U"], line["box"]["x1"]) / D
    line["D"] = D
    line["window"] = (window(rec)[0], rec.header["t"])
    line["steps"] = rec.header["nt"]
    line["record"] = rec
    line["files"] = files
    line["vin"] = vin
    return line

