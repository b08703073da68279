"""The mean wake behind the body, from statistics files.

A run sums its statistics from its own first step (a restart starts the sums
afresh), so a long run made of restart segments has one statistics file per
segment.  ``join_statistics`` turns consecutive segments into the file one
run over their whole window would have written (up to rounding): means
weighted by the segments' step counts, second moments through the raw
moments of each segment,

    mean = sum(n_s m_s) / N,   cov = sum(n_s (cov_s + a_s b_s)) / N - A B.

A run continued exactly (``qv restart --exact``) goes on summing, so each
segment's file averages from the run's first step.  ``since_records`` takes
the later part of such a run, (t_a, t_b], from the file that ended at t_b
and the one that ended at t_a, through the same raw moments:

    n = n_b - n_a,   mean = (n_b m_b - n_a m_a) / n,
    cov = (n_b (cov_b + a_b b_b) - n_a (cov_a + a_a b_a)) / n - A B.

``chain_statistics`` picks, for a restart chain of either kind, the window
that starts at or after a given time.

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
                      read_statistics, read_statistics_header)
from .chain import read_record, statistics_path
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


def check_one_run(a, b):
    """Refuse statistics records *a*, *b* that cannot be of one run: another
    grid, time step, Re or Cs."""
    if b.bounds != a.bounds:
        raise ValueError(f"{b.path} is on another grid than {a.path}")
    for key, name in (("dt", "time step"), ("Re", "Re"), ("Cs", "Cs")):
        if b.header[key] != a.header[key]:
            raise ValueError(f"{b.path} has {name} {b.header[key]:g}, "
                             f"{a.path} {a.header[key]:g}")


def _record(like, header, data):
    """A statistics record shaped like *like* holding the arrays *data*."""
    return RecordFile(like.path, "statistics", dict(like.bounds), header,
                      {name: Block(name, data[name], like.blocks[name].lo, like.blocks[name].hi)
                       for name in STAT_NAMES})


def join_records(recs):
    """One statistics record over the consecutive segments' records *recs*.

    The segments must share the grid bounds and time step and follow each
    other in time without gap or overlap."""
    if not recs:
        raise ValueError("no statistics file given")
    first = recs[0]
    for a, b in zip(recs[:-1], recs[1:]):
        check_one_run(a, b)
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
    return _record(first, header, data)


def since_records(late, early):
    """The statistics over (t_a, t_b] of one run from its record *late*,
    averaged from the run's start to t_b, and *early*, from the same start
    to t_a (the files two segments of an exact restart chain end with).

    Refused when the two cannot be of one run (``check_one_run``), when they
    average from different starts, or when *early* does not end before
    *late*."""
    check_one_run(late, early)
    (s_a, t_a), (s_b, t_b) = window(early), window(late)
    tol = 0.5 * late.header["dt"]
    if abs(s_a - s_b) > tol:
        raise ValueError(
            f"{early.path} averages from t = {s_a:.6g} but {late.path} from t = {s_b:.6g}: "
            f"they are not the sums of one run, so the earlier cannot be taken from the later")
    n_a, n_b = early.header["nt"], late.header["nt"]
    if t_a > t_b - tol or n_a >= n_b:
        raise ValueError(
            f"{early.path} ends at t = {t_a:.6g}, not before {late.path} (t = {t_b:.6g}): "
            f"no window lies between them")
    n = n_b - n_a
    data = {}
    for name in _MEANS:
        data[name] = (n_b * late[name] - n_a * early[name]) / n
    for var, a, b in _SECOND:
        raw = (n_b * (late[var] + late[a] * late[b])
               - n_a * (early[var] + early[a] * early[b])) / n
        data[var] = raw - data[a] * data[b]
    header = dict(late.header)
    header["nt"] = int(n)
    return _record(late, header, data)


def _header_only(path):
    b, h = read_statistics_header(path)
    return RecordFile(os.fspath(path), "statistics", b, h, {})


def chain_statistics(dirs, tmin=None):
    """The statistics of a restart chain (*dirs*: its folders, oldest first)
    over the longest window the files give that starts at or after *tmin* and
    ends with the chain.

    The files fall into runs: consecutive files that average from one start
    are the segments of one run continued exactly, each summing from the
    run's start; a plain restart starts a new run (a folder whose restart
    record says so is never taken for a continuation, even where its
    statistics start when the run before it started: a rerun of it).  Going back from the last
    file, each run gives one piece of the window: the file of it that ends
    where the later piece starts, as it is when the run starts at or after
    tmin; when it starts before, that file minus the earliest of the run's
    files that ends at or after tmin (``since_records``), and no earlier run
    is taken.  The pieces are joined (``join_records``).

    Without such a window (one folder, no tmin, or tmin inside the last
    segment) the last file as it is.  Returns (record, the files used, last
    first, how): how is "" (the last file), "since" (the first used minus
    the second), "joined" (each file a piece) or "joined since" (as joined,
    the oldest piece the last two files' difference)."""
    last = stat_path(dirs[-1])
    pieces = _pieces(dirs, tmin)
    if not pieces:
        return read_statistics(last), [last], ""
    recs = [_piece_record(top, early) for top, early, _ in pieces]
    used = [h.path for top, early, _ in pieces for h in (top, early) if h is not None]
    since = pieces[-1][1] is not None
    if len(pieces) == 1:
        return recs[0], used, "since" if since else ""
    return join_records(recs[::-1]), used, "joined since" if since else "joined"


def _piece_record(late, early):
    return read_statistics(late.path) if early is None else \
        since_records(read_statistics(late.path), read_statistics(early.path))


def _pieces(dirs, tmin):
    """The pieces of ``chain_statistics``'s window, last first: (the file
    that ends the piece, the file subtracted or None, the files of the run
    that end inside the piece, in time), or [] without such a window."""
    if tmin is None or len(dirs) < 2:
        return []
    end = _header_only(stat_path(dirs[-1]))
    tol = 0.5 * end.header["dt"]
    heads = [(d, _header_only(p)) for d, p in ((d, statistics_path(d)) for d in dirs[:-1])
             if os.path.exists(p)]
    runs = []
    for d, h in heads + [(dirs[-1], end)]:
        record = read_record(d) if os.path.isdir(d) else None
        plain = record is not None and not record.get("exact")
        if runs and not plain and abs(window(h)[0] - window(runs[-1][0])[0]) <= tol:
            runs[-1].append(h)
        else:
            runs.append([h])
    pieces, top = [], end
    for run in reversed(runs):
        if pieces:
            tops = [h for h in run if abs(window(h)[1] - window(pieces[-1][0])[0]) <= tol]
            if not tops:
                break
            top = tops[-1]
        early = None
        if window(top)[0] < tmin - tol:
            prefixes = [h for h in run if tmin - tol <= window(h)[1] < window(top)[1] - tol]
            if not prefixes:
                break
            early = min(prefixes, key=lambda h: window(h)[1])
        start = window(top)[0] if early is None else window(early)[1]
        inside = sorted((h for h in run if start + tol < window(h)[1] < window(top)[1] - tol),
                        key=lambda h: window(h)[1])
        pieces.append((top, early, inside))
        if early is not None:
            break
    return pieces


def statistics_batches(dirs, tmin=None):
    """The window of ``chain_statistics`` cut at every end of a statistics
    file inside it (a segment's end, a seam): one record per batch, in time.
    One record (the whole window) when there is nothing to cut at."""
    pieces = _pieces(dirs, tmin)
    if not pieces:
        return [chain_statistics(dirs, tmin)[0]]
    out = []
    for top, early, inside in reversed(pieces):
        ends = inside + [top]
        befores = [early] + inside
        out += [_piece_record(late, before) for late, before in zip(ends, befores)]
    return out


def statistics_source(used, how, folder):
    """Words for where ``chain_statistics`` took its record from, the files
    named relative to *folder*."""
    names = [os.path.relpath(p, folder) for p in used]
    if how == "since":
        return f"{names[0]} minus {names[1]}"
    if how == "joined":
        return f"{len(names)} segments joined: " + " + ".join(names[::-1])
    if how == "joined since":
        parts = [f"({names[-2]} minus {names[-1]})"] + names[-3::-1]
        return f"{len(parts)} pieces joined: " + " + ".join(parts)
    return names[0]


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


def _span_nodes(rec, axis):
    """The node rows in z a span mean takes: all, but with periodic sides the
    last row (k = ke) is the image of the first and is left out."""
    periodic = rec.header.get("izper") == 0
    return len(axis.z) - (1 if periodic and len(axis.z) > 1 else 0)


def centre_line(rec, axis, flags, vin=1.0):
    """Span-mean profiles along y = yc of the body, normalised by *vin*.

    Returns x, U (mean streamwise velocity), V, urms, vrms, wrms (resolved),
    uv (resolved shear stress), the body box and the rows used."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file holds no body: there is no centre line")
    yc = 0.5 * (box["y0"] + box["y1"])
    rows = _row_weights(axis.y, yc)
    nk = _span_nodes(rec, axis)

    def line(name):
        a = rec[name]
        return sum(wt * a[:, j, :nk].mean(axis=1) for j, wt in rows)

    out = {"x": np.asarray(axis.x, float), "yc": yc, "rows": rows, "box": box,
           "U": line("su") / vin, "V": line("sv") / vin, "uv": line("suv") / vin ** 2}
    for var, name in (("suu", "urms"), ("svv", "vrms"), ("sww", "wrms")):
        out[name] = np.sqrt(np.maximum(line(var), 0.0)) / vin
    return out


def shear_layer(rec, axis, flags, vin=1.0, reach=1.5):
    """Vorticity thickness of the separated shear layers over the body's
    side faces, from the span-mean U of the statistics.

    At the grid line through the body's centre (x = xc) and at its rear face
    (x = x1), U(y) is taken over each side, from the face out to *reach* D:
    delta = (max U - min U) / max |dU/dy| (slopes between neighbouring nodes),
    and the cells across it are delta over the width of the cell where the
    slope is steepest.  Returns {"centre": .., "rear": ..}, each the mean
    over the two sides of delta / D and of the cells, or None where a side
    has no node beyond the face."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no shear layer")
    D = box["y1"] - box["y0"]
    x, y = np.asarray(axis.x, float), np.asarray(axis.y, float)
    nk = _span_nodes(rec, axis)
    out = {}
    for where, xs in (("centre", 0.5 * (box["x0"] + box["x1"])), ("rear", box["x1"])):
        i = int(np.argmin(np.abs(x - xs)))
        U = rec["su"][i, :, :nk].mean(axis=1) / vin
        sides = []
        for side in (np.nonzero((y >= box["y1"] - 1e-9) & (y <= box["y1"] + reach * D))[0],
                     np.nonzero((y <= box["y0"] + 1e-9) & (y >= box["y0"] - reach * D))[0]):
            if len(side) < 3:
                continue
            u, yy = U[side], y[side]
            slope = np.abs(np.diff(u) / np.diff(yy))
            n = int(np.argmax(slope))
            delta = (u.max() - u.min()) / slope[n]
            sides.append((delta / D, delta / abs(yy[n + 1] - yy[n])))
        out[where] = None if not sides else {"delta_D": float(np.mean([a for a, _ in sides])),
                                             "cells": float(np.mean([c for _, c in sides]))}
    return out


def side_viscosity(field, axis, flags):
    """The eddy viscosity beside the body's side faces at one instant, as
    nut Re (over the molecular viscosity), from a field file or snapshot.

    The row of cells just outside each side face, over the body's length in
    x, is averaged over the span: "corner" is its cell in the body's first
    column (beside the front corner, where the shear layer separates),
    "side" its mean along the face; both the mean of the two sides. "max"
    is the largest value of any cell of the two rows. Returns None when a
    side has no cell beyond it."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no eddy viscosity beside it")
    (i0, i1), (j0, j1) = (tuple(n - 3 for n in box[c]) for c in ("cells_x", "cells_y"))
    nx, ny, nz = flags.shape
    if j0 < 1 or j1 + 1 >= ny:
        return None
    nut = np.asarray(field["nut"], float)[:nx, :ny, :nz] * field.header["Re"]
    rows = [nut[i0:i1 + 1, j, :] for j in (j0 - 1, j1 + 1)]
    return {"corner": float(np.mean([r[0].mean() for r in rows])),
            "side": float(np.mean([r.mean() for r in rows])),
            "max": float(max(r.max() for r in rows)), "t": float(field.header["t"])}


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


def record_wake(rec, folder, vin=None):
    """Centre-line profiles and recirculation length of the statistics record
    *rec* on the grid of the run folder *folder* (Vin from its console.in
    unless given)."""
    r = Run(folder)
    axis, flags = read_axis(r.axis_path), read_flags(r.flag_path)[1]
    if vin is None:
        vin = r.vin()
    line = centre_line(rec, axis, flags, vin)
    D = line["box"]["y1"] - line["box"]["y0"]
    line["Lr"] = recirculation_length(line["x"], line["U"], line["box"]["x1"]) / D
    line["D"] = D
    line["window"] = window(rec)
    line["steps"] = rec.header["nt"]
    line["record"] = rec
    line["vin"] = vin
    return line


def wake(paths, vin=None, run=None, since=None):
    """Centre-line profiles and recirculation length over the joined
    statistics of *paths* (run folders or statistics files, in time order),
    less the part they share with *since* (the file of the same run that
    ends where the window starts: ``since_records``)."""
    files = [stat_path(p) for p in paths]
    rec = join_records([read_statistics(f) for f in files])
    if since is not None:
        files.append(stat_path(since))
        rec = since_records(rec, read_statistics(files[-1]))
    folder = run or (paths[0] if os.path.isdir(paths[0]) else os.path.dirname(
        os.path.abspath(paths[0])))
    line = record_wake(rec, folder, vin)
    line["files"] = files
    return line


def centre_line_at(line, xd):
    """Mean U / Vin on the centre line at (x - xc) / D = each of *xd*,
    interpolated linearly between nodes; nan beyond the grid."""
    box, D = line["box"], line["D"]
    xs = 0.5 * (box["x0"] + box["x1"]) + np.asarray(xd, float) * D
    return np.interp(xs, line["x"], line["U"], left=math.nan, right=math.nan)
