"""Figures of quivel_vib8 results (matplotlib, no display needed).

Every figure is non-dimensional where the run gives the scales: lengths by
the body depth D (extent in y), velocities by the inflow velocity Vin, times
as t Vin / D, frequencies as St = f D / Vin; without them (a lone file) the
program's own units are shown and said.  The file's extension picks the
format: .png (raster, at the figure's dpi), .pdf or .svg (vector).  *look*,
where a function takes it, is a dict of "size" (width, height in inches)
and "dpi"."""

import os

import numpy as np

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402

from .signals import dominant_frequency, padded_spectrum  # noqa: E402
from .vtk_export import cell_velocity, vorticity  # noqa: E402


FORMATS = (".png", ".pdf", ".svg")
DPI = 110


def check_output(out):
    """The figure's path, refused unless its extension is one of FORMATS."""
    ext = os.path.splitext(os.fspath(out))[1].lower()
    if ext not in FORMATS:
        raise ValueError(f"{out}: a figure is written as {', '.join(FORMATS)} (by the "
                         f"extension), not {ext or 'a name without extension'}")
    return out


def _save(fig, out, look=None, rect=None):
    look = look or {}
    check_output(out)
    if look.get("size"):
        fig.set_size_inches(*look["size"])
    fig.tight_layout(rect=rect)
    fig.savefig(out, dpi=look.get("dpi") or DPI)
    plt.close(fig)
    return out


def window(t, tmin=None, tmax=None):
    """The samples of t within [tmin, tmax] (either end open when None)."""
    t = np.asarray(t, float)
    sel = np.ones(len(t), bool)
    if tmin is not None:
        sel &= t >= tmin
    if tmax is not None:
        sel &= t <= tmax
    if len(t) and not sel.any():
        raise ValueError(f"no sample within t = {tmin} ... {tmax} (the record spans "
                         f"{t.min():.6g} ... {t.max():.6g})")
    return sel


def time_axis(vin, diameter):
    """(factor, label) of the time axis: t Vin / D, or t itself."""
    if vin and diameter:
        return vin / diameter, "time t Vin / D (-)"
    return 1.0, "time t (program units: D and Vin unknown)"


def plot_timeseries(ts, out, title=None, vin=None, diameter=None, area=None, tmin=None,
                    tmax=None, look=None):
    """Force coefficients, moment and displacements against time.

    With Vin, the body depth D (extent in y) and the frontal area A known,
    the loads are shown as Cd = pfx / (0.5 Vin^2 A), Cl = pfy / (...) and
    Cm = pft / (0.5 Vin^2 A D), displacements as x/D, y/D and time as
    t Vin / D; otherwise as the raw loads and the program's units.  Only
    the lines within [tmin, tmax] are drawn."""
    sel = window(ts["t"], tmin, tmax)
    marks = [ts["t"][seg["index"]] for seg in ts.segments[1:] if seg["index"] < len(ts)]
    ts = {k: ts[k][sel] for k in ("t", "pfx", "pfy", "pft", "xdis", "ydis")}
    moves = any(len(ts[n]) and np.ptp(ts[n]) > 0 for n in ("xdis", "ydis"))
    if moves:
        fig, (a1, a2, a3) = plt.subplots(3, 1, figsize=(8, 7.5), sharex=True,
                                         gridspec_kw={"height_ratios": [2, 1, 1.3]})
    else:   # a fixed body: no displacement panel
        fig, (a1, a2) = plt.subplots(2, 1, figsize=(8, 5.5), sharex=True,
                                     gridspec_kw={"height_ratios": [2, 1]})
        a3 = None
    coef = bool(vin and diameter and area)
    if coef:
        q = 0.5 * vin * vin * area
        tscale, lscale = vin / diameter, 1.0 / diameter
        t = ts["t"] * tscale
        a1.plot(t, ts["pfx"] / q, lw=0.9, label="Cd")
        a1.plot(t, ts["pfy"] / q, lw=0.9, label="Cl")
        a1.set_ylabel("force coefficient (-)")
        a2.plot(t, ts["pft"] / (q * diameter), lw=0.9, color="C2")
        a2.set_ylabel("Cm about x = y = 0 (-)")
        labels = ("x / D", "y / D")
        ylabel, xlabel = "displacement / D (-)", time_axis(vin, diameter)[1]
    else:
        tscale, lscale = 1.0, 1.0
        t = ts["t"]
        a1.plot(t, ts["pfx"], lw=0.9, label="pfx")
        a1.plot(t, ts["pfy"], lw=0.9, label="pfy")
        a1.set_ylabel("force (program units: Vin, D unknown)")
        a2.plot(t, ts["pft"], lw=0.9, color="C2")
        a2.set_ylabel("moment pft\n(program units)")
        labels = ("xdis", "ydis")
        ylabel, xlabel = "displacement (program units)", time_axis(None, None)[1]
    a1.legend(loc="upper right", fontsize=8)
    if a3 is not None:
        for name, label in zip(("xdis", "ydis"), labels):
            a3.plot(t, ts[name] * lscale, lw=0.9, label=label)
        a3.legend(loc="upper right", fontsize=8)
        a3.set_ylabel(ylabel)
    (a3 or a2).set_xlabel(xlabel)
    for ax in (a1, a2, a3) if a3 is not None else (a1, a2):
        for t0 in marks:
            if t[0] <= t0 * tscale <= t[-1]:
                ax.axvline(t0 * tscale, color="0.6", ls="--", lw=0.8)
        ax.grid(alpha=0.3)
    if coef:
        a1.text(0.01, 0.02, "pressure force only", transform=a1.transAxes, fontsize=7,
                color="0.4")
    a1.set_title(title or "loads and displacements")
    return _save(fig, out, look)


def moving_dofs(hist, tol=1e-12):
    """Degrees of freedom whose displacement or velocity is not constant zero."""
    out = []
    for dof in ("x", "y", "t"):
        d, v = hist[dof + "dis"], hist[dof + "vel"]
        if len(d) and (np.ptp(d) > tol or np.max(np.abs(v)) > tol):
            out.append(dof)
    return out


def plot_history(hist, out, title=None, restarts=(), vin=None, diameter=None, tmin=None,
                 tmax=None, look=None):
    """Displacement, velocity and acceleration of each moving degree of
    freedom; the start times of restarted segments are marked.  With Vin and
    D: x/D, u/Vin, a D/Vin^2 against t Vin/D (a rotation in rad, its rate
    by Vin/D); otherwise in the program's units."""
    sel = window(hist["time"], tmin, tmax)
    keys = list(hist.blocks) if hasattr(hist, "blocks") else \
        [k for k in hist if k not in ("restarts", "header")]
    hist = {k: np.asarray(hist[k])[sel] for k in keys}
    dofs = moving_dofs(hist)
    if not dofs:
        raise ValueError("no degree of freedom moves in this history: nothing to plot "
                         "(the loads are in `plot ts`)")
    nondim = bool(vin and diameter)
    ts_, xlabel = time_axis(vin, diameter)
    if nondim:
        scale = {"dis": 1.0 / diameter, "vel": 1.0 / vin, "acc": diameter / (vin * vin)}
        rot = {"dis": 1.0, "vel": diameter / vin, "acc": (diameter / vin) ** 2}
        labels = {"x": ("x / D", "ẋ / Vin", "ẍ D / Vin²"), "y": ("y / D", "ẏ / Vin", "ÿ D / Vin²"),
                  "t": ("θ (rad)", "θ̇ D / Vin", "θ̈ D² / Vin²")}
    else:
        scale = rot = {"dis": 1.0, "vel": 1.0, "acc": 1.0}
        labels = {d: tuple(f"{d}{s} (program units)" for s in ("dis", "vel", "acc"))
                  for d in "xyt"}
    names = {"x": "x", "y": "y", "t": "rotation"}
    fig, axes = plt.subplots(3, len(dofs), figsize=(3.6 * len(dofs) + 1.5, 7),
                             sharex=True, squeeze=False)
    t = hist["time"] * ts_
    for col, dof in enumerate(dofs):
        for row, suffix in enumerate(("dis", "vel", "acc")):
            ax = axes[row, col]
            f = (rot if dof == "t" else scale)[suffix]
            ax.plot(t, hist[dof + suffix] * f, lw=0.9)
            for t0 in restarts:
                if len(t) and t[0] <= t0 * ts_ <= t[-1]:
                    ax.axvline(t0 * ts_, color="0.6", ls="--", lw=0.8)
            ax.grid(alpha=0.3)
            if row == 0:
                ax.set_title(names[dof])
            ax.set_ylabel(labels[dof][row])
            if row == 2:
                ax.set_xlabel(xlabel)
    fig.suptitle(title or "body motion")
    return _save(fig, out, look)


def probe_label(k, point, centre=None, diameter=None):
    """Legend text of probe k at point (x, y, z): its place from the body's
    centre in D when both are known, else in grid coordinates."""
    if point is None:
        return f"probe {k}"
    if centre is not None and diameter:
        x, y = ((point[0] - centre[0]) / diameter, (point[1] - centre[1]) / diameter)
        return f"probe {k}: x/D = {x:.3g}, y/D = {y:.3g}"
    return f"probe {k}: x = {point[0]:.4g}, y = {point[1]:.4g}, z = {point[2]:.4g}"


def plot_probes(data, out, title=None, restarts=(), points=(), vin=None, diameter=None,
                centre=None, tmin=None, tmax=None, look=None):
    """u, v, w and p at each probe of a probes file against time; the legend
    gives each probe's place (from the body's centre *centre* = (xc, yc), in
    D).  With Vin and D: u/Vin and 2 p / Vin² against t Vin/D."""
    sel = window(data["t"], tmin, tmax)
    n = (len(data) - 2) // 4
    nondim = bool(vin and diameter)
    ts_, xlabel = time_axis(vin, diameter)
    fig, axes = plt.subplots(4, 1, figsize=(8, 8.5), sharex=True)
    t = data["t"][sel] * ts_
    for ax, q in zip(axes, "uvwp"):
        f = (2.0 / (vin * vin) if q == "p" else 1.0 / vin) if nondim else 1.0
        for k in range(1, n + 1):
            pt = points[k - 1] if k - 1 < len(points) else None
            ax.plot(t, data[f"{q}{k}"][sel] * f, lw=0.9,
                    label=probe_label(k, pt, centre, diameter))
        for t0 in restarts:
            if len(t) and t[0] <= t0 * ts_ <= t[-1]:
                ax.axvline(t0 * ts_, color="0.6", ls="--", lw=0.8)
        if nondim:
            ax.set_ylabel("2 p / Vin² (-)" if q == "p" else f"{q} / Vin (-)")
        else:
            ax.set_ylabel(f"{q} (program units)")
        ax.grid(alpha=0.3)
    handles, labels = axes[0].get_legend_handles_labels()
    rows = (len(labels) + 1) // 2
    fig.legend(handles, labels, loc="lower center", ncol=2, fontsize=8, frameon=False)
    axes[-1].set_xlabel(xlabel)
    axes[0].set_title(title or "velocities and pressure at the probes")
    return _save(fig, out, look, rect=(0, 0.035 * rows + 0.01, 1, 1))


def _spectrum_panel(ax, t, y, name, vin, diameter, xmax=None):
    """The zero-padded amplitude spectrum of y on a St axis (f without the
    scales), its peak marked with the resolution and cycle count.  Returns
    the peak frequency f."""
    f, amp = padded_spectrum(t, y)
    fs = dominant_frequency(t, y)
    known = bool(vin and diameter)
    st = diameter / vin if known else 1.0
    ax.plot(f * st, amp, lw=1.0, color="C0")
    if np.isfinite(fs):
        span = float(np.max(t) - np.min(t))
        res = 1.0 / span
        what = "St" if known else "f"
        k = int(np.argmin(np.abs(f - fs)))
        ax.plot([fs * st], [amp[k]], "v", color="C3", ms=6,
                label=f"{what} = {fs * st:.4g} ± {0.5 * res * st:.2g} "
                      f"(resolution {res * st:.2g}, {fs * span:.1f} cycles)")
        ax.legend(loc="upper right", fontsize=8)
        ax.set_xlim(0, min(f[-1], xmax or 4 * fs) * st)
    ax.set_xlabel("Strouhal number St = f D / Vin (-)" if known
                  else "frequency f (program units: D and Vin unknown)")
    ax.set_ylabel(f"amplitude of {name}")
    ax.set_ylim(bottom=0)
    ax.grid(alpha=0.3)
    return fs


def plot_spectrum(t, y, out, vin=None, diameter=None, title=None, quantity="pfy",
                  beside=None, look=None):
    """Amplitude spectrum of y (the lift, or a probe signal) on a St axis,
    Hann-windowed and zero-padded so that the peak can be read; *beside*
    = (t, y, name): a second signal's spectrum (the displacement) in a
    panel beside it, on the same axis.  A sine of amplitude a peaks at a.
    Returns (out, peak frequency of y)."""
    if beside is not None:
        fig, (ax, bx) = plt.subplots(1, 2, figsize=(11, 4))
    else:
        fig, ax = plt.subplots(figsize=(7, 4))
    fs = _spectrum_panel(ax, t, y, quantity, vin, diameter)
    if beside is not None:
        _spectrum_panel(bx, *beside, vin, diameter, xmax=4 * fs if np.isfinite(fs) else None)
        bx.set_title(f"{beside[2]}", fontsize=10)
        ax.set_title(f"{quantity}", fontsize=10)
        fig.suptitle(title or "spectra")
    elif title:
        ax.set_title(title)
    return _save(fig, out, look), fs


def body_outline(mask, xg, yg):
    """Line segments around the True cells of a 2-D mask on grid lines xg, yg."""
    m = np.pad(np.asarray(mask, bool), 1)
    segs = []
    di = m[1:, 1:-1] != m[:-1, 1:-1]          # edges at x(i), i = 0..nx
    for i, j in zip(*np.nonzero(di)):
        segs.append([(xg[i], yg[j]), (xg[i], yg[j + 1])])
    dj = m[1:-1, 1:] != m[1:-1, :-1]          # edges at y(j)
    for i, j in zip(*np.nonzero(dj)):
        segs.append([(xg[i], yg[j]), (xg[i + 1], yg[j])])
    return segs


def slice_values(f, axis, quantity="u", k=None):
    """2-D cell array (nx, ny) of a field at cell layer k (0-based, default mid-span)."""
    u, v, w = cell_velocity(f)
    nz = u.shape[2]
    k = nz // 2 if k is None else k
    if not 0 <= k < nz:
        raise ValueError(f"layer k={k} outside 0..{nz - 1}")
    if quantity == "u":
        return u[:, :, k], k
    if quantity == "vorticity":
        xc, yc, zc = (axis.centres(c) for c in (axis.x, axis.y, axis.z))
        return vorticity(u, v, w, xc, yc, zc)[2][:, :, k], k
    raise ValueError(f"unknown quantity {quantity!r}: use u or vorticity")


def wake_limits(vals, axis, flags, k, quantity):
    """Colour limits from the wake: the 1st and 99th percentiles of the
    values within 10 D downstream of the body and 2 D of its centre line
    (symmetric about 0 for the vorticity).  The whole field without a body."""
    xc, yc = axis.centres(axis.x), axis.centres(axis.y)
    sel = np.isfinite(vals)
    if flags is not None and np.any(flags[:, :, k]):
        ii, jj = np.nonzero(flags[:, :, k])
        x1 = axis.x[ii.max() + 1]
        d = axis.y[jj.max() + 1] - axis.y[jj.min()]
        ym = 0.5 * (axis.y[jj.max() + 1] + axis.y[jj.min()])
        wake = (xc[:, None] > x1) & (xc[:, None] < x1 + 10 * d) & \
            (np.abs(yc[None, :] - ym) < 2 * d)
        if np.any(wake & sel):
            sel = wake & sel
    v = vals[sel]
    if quantity == "vorticity":
        lim = float(np.percentile(np.abs(v), 99)) or 1.0
        return -lim, lim
    lo, hi = np.percentile(v, [1, 99])
    return float(lo), float(hi) if hi > lo else float(lo) + 1.0


def default_zoom(axis, flags, k):
    """From 3 D upstream to 15 D downstream of the body, 4 D to each side,
    cut to the grid; the whole grid without a body."""
    if flags is None or not np.any(flags[:, :, k]):
        return (axis.x[0], axis.x[-1]), (axis.y[0], axis.y[-1])
    ii, jj = np.nonzero(flags[:, :, k])
    x0, x1 = axis.x[ii.min()], axis.x[ii.max() + 1]
    y0, y1 = axis.y[jj.min()], axis.y[jj.max() + 1]
    d = y1 - y0
    return ((max(axis.x[0], x0 - 3 * d), min(axis.x[-1], x1 + 15 * d)),
            (max(axis.y[0], y0 - 4 * d), min(axis.y[-1], y1 + 4 * d)))


def body_scales(axis, flags, k=None):
    """(centre (xc, yc), D) of the body's cells in layer k (any layer when
    None); (None, None) without a body."""
    if flags is None:
        return None, None
    m = flags[:, :, k] if k is not None else np.any(flags, axis=2)
    if not np.any(m):
        return None, None
    ii, jj = np.nonzero(m)
    x0, x1 = axis.x[ii.min()], axis.x[ii.max() + 1]
    y0, y1 = axis.y[jj.min()], axis.y[jj.max() + 1]
    return (0.5 * (x0 + x1), 0.5 * (y0 + y1)), y1 - y0


def plot_slice(f, axis, out, flags=None, quantity="u", k=None, title=None,
               vmin=None, vmax=None, zoom=None, vin=None, look=None):
    """Streamwise velocity or z-vorticity in an x-y plane, body outlined and
    its cells left blank.  Colour limits default to ``wake_limits``, the
    view (x0, x1, y0, y1) to ``default_zoom``; zoom "all" shows the grid.
    With a body the axes are (x - xc)/D, (y - yc)/D from its centre, and
    with Vin the values u/Vin, ωz D/Vin; *zoom*, *vmin* and *vmax* are in
    the units shown."""
    vals, k = slice_values(f, axis, quantity, k)
    vals = np.array(vals, float)
    if flags is not None:
        vals[flags[:, :, k] != 0] = np.nan
    centre, D = body_scales(axis, flags, k)
    xc, yc, L = (centre[0], centre[1], D) if D else (0.0, 0.0, 1.0)
    if quantity == "vorticity":
        vs = D / vin if (vin and D) else 1.0
        cmap = "RdBu_r"
        label = "z-vorticity ωz D / Vin (-)" if (vin and D) else \
            "z-vorticity ωz (program units)"
    else:
        vs = 1.0 / vin if vin else 1.0
        cmap = "viridis"
        label = "streamwise velocity u / Vin (-)" if vin else \
            "streamwise velocity u (program units)"
    vals = vals * vs
    lo, hi = wake_limits(vals, axis, flags, k, quantity)
    lo = lo if vmin is None else vmin
    hi = hi if vmax is None else vmax
    xs, ys = (np.asarray(axis.x) - xc) / L, (np.asarray(axis.y) - yc) / L
    if zoom == "all":
        (xa, xb), (ya, yb) = (xs[0], xs[-1]), (ys[0], ys[-1])
    elif zoom is None:
        (xa, xb), (ya, yb) = default_zoom(axis, flags, k)
        xa, xb, ya, yb = (xa - xc) / L, (xb - xc) / L, (ya - yc) / L, (yb - yc) / L
    else:
        xa, xb, ya, yb = zoom
    aspect = (yb - ya) / max(xb - xa, 1e-30)
    fig, ax = plt.subplots(figsize=(9, max(2.5, min(7, 9 * aspect + 0.8))))
    mesh = ax.pcolormesh(xs, ys, vals.T, cmap=cmap, vmin=lo, vmax=hi)
    fig.colorbar(mesh, ax=ax, label=label, extend="both", fraction=0.046 * aspect, pad=0.03)
    if flags is not None:
        segs = body_outline(flags[:, :, k] != 0, xs, ys)
        ax.add_collection(LineCollection(segs, colors="k", linewidths=1.2))
    ax.set_xlim(xa, xb)
    ax.set_ylim(ya, yb)
    ax.set_aspect("equal")
    if D:
        ax.set_xlabel("(x - xc) / D (-)")
        ax.set_ylabel("(y - yc) / D (-)")
    else:
        ax.set_xlabel("x (program units)")
        ax.set_ylabel("y (program units)")
    zc = 0.5 * (axis.z[k] + axis.z[k + 1])
    tt = f.header["t"]
    when = f"t Vin / D = {tt * vin / D:.4g}" if (vin and D) else f"t = {tt:.4g}"
    where = f"z / D = {zc / D:.3g}" if D else f"z = {zc:.4g}"
    ax.set_title(title or f"{label.split(' (')[0]} at {where}, {when}")
    return _save(fig, out, look)


def plot_surface(curves, out, title=None, reference=None, look=None):
    """Cp against the perimeter coordinate s for one or more ``surface_cp``
    results (*curves*: list of (label, cp dict)), corners of the first
    marked and named; *reference*: optional published range of the rear
    face's Cp ({"label", "rear": (low, high)}, ``published.REFERENCES``)."""
    fig, ax = plt.subplots(figsize=(8, 4.5))
    D = curves[0][1].get("D") or 1.0
    for n, (label, cp) in enumerate(curves):
        ax.plot(cp["s"] / D, cp["cp"], marker=".", ms=3, lw=1.0, label=label)
    first = dict(curves[0][1])
    for key in ("s", "length", "corners", "perimeter"):
        first[key] = np.asarray(first[key]) / D if key != "perimeter" else first[key] / D
    for c in first["corners"]:
        ax.axvline(c, color="0.5", ls=":", lw=0.9)
    # face names between corners, from the faces' normals
    names = {(-1, 0): "front", (0, 1): "top", (1, 0): "rear", (0, -1): "bottom"}
    bounds = list(first["corners"]) + [first["perimeter"]]
    if not bounds or bounds[0] > 0:
        bounds = [0.0] + bounds
    for a, b in zip(bounds[:-1], bounds[1:]):
        sel = (first["s"] > a) & (first["s"] < b)
        if sel.any() and b - a > 0.05 * first["perimeter"]:
            n0 = (int(first["nx"][sel][0]), int(first["ny"][sel][0]))
            ax.text(0.5 * (a + b), 1.02, names[n0], transform=ax.get_xaxis_transform(),
                    ha="center", va="bottom", fontsize=8, color="0.3")
    if reference is not None:                  # a published range of the rear face
        rear = (first["nx"] == 1) & (first["ny"] == 0)
        if rear.any():
            lo, hi = reference["rear"]
            s0 = float(np.min(first["s"][rear] - 0.5 * first["length"][rear]))
            s1 = float(np.max(first["s"][rear] + 0.5 * first["length"][rear]))
            ax.fill_between([s0, s1], [lo, lo], [hi, hi], color="k", alpha=0.15,
                            label=f"{reference['label']} {lo:g} ... {hi:g}")
    ax.set_xlim(0, first["perimeter"])
    ax.set_xlabel("distance s / D along the perimeter from the front lower corner, "
                  "clockwise (-)")
    ax.set_ylabel("Cp = (p - p_ref) / (½ Vin²) (-)")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, loc="best")
    ax.set_title(title or "pressure coefficient around the body", pad=16)
    return _save(fig, out, look)


def plot_centre_line(line, out, title=None, reference=None, look=None):
    """Mean streamwise velocity (top) and resolved rms fluctuations (bottom)
    along the wake centre line from ``wake.wake``, against (x - xc)/D from the
    body's centre; *reference*: published values to mark (``wake.REFERENCES``)."""
    box, D = line["box"], line["D"]
    xc = 0.5 * (box["x0"] + box["x1"])
    xr = (line["x"] - xc) / D
    rear = (box["x1"] - xc) / D
    sel = xr >= -1.0
    fig, (a1, a2) = plt.subplots(2, 1, figsize=(7.5, 6.5), sharex=True)
    a, b = line["window"]
    a1.plot(xr[sel], line["U"][sel], "C0-", lw=1.4,
            label=f"this program, t = {a:.4g} ... {b:.4g}")
    a1.axhline(0.0, color="0.5", lw=0.8)
    a1.axvspan(-0.5, rear, color="0.85", lw=0, label="body")
    if np.isfinite(line["Lr"]):
        a1.plot([rear + line["Lr"]], [0.0], "C0o", ms=6, mfc="none",
                label=f"Lr = {line['Lr']:.2f} D")
    if reference:
        a1.plot([rear + reference["Lr"]], [0.0], "ks", ms=7,
                label=f"{reference['label']}: Lr = {reference['Lr']:.2f} D")
        u, x0, x1 = reference["recovery"]
        a1.plot([x0, x1], [u, u], "k--", lw=1.2,
                label=f"{reference['label']}: about {u:g} Vin downstream")
        if reference.get("centre_line"):
            a1.plot(*reference["centre_line"], "kD", ms=4, mfc="none",
                    label=reference["centre_line_label"])
    a1.set_ylabel("mean U / Vin on y = yc")
    a1.grid(alpha=0.3)
    a1.legend(fontsize=8, loc="lower right")
    for key, lab in (("urms", "u'"), ("vrms", "v'"), ("wrms", "w'")):
        a2.plot(xr[sel], line[key][sel], lw=1.2, label=f"{lab} / Vin (resolved)")
    a2.axvspan(-0.5, rear, color="0.85", lw=0)
    a2.set_xlabel("(x - xc) / D")
    a2.set_ylabel("rms / Vin on y = yc")
    a2.grid(alpha=0.3)
    a2.legend(fontsize=8)
    a2.set_xlim(-1.0, xr[sel].max())
    a1.set_title(title or "wake centre line: span mean of the statistics")
    return _save(fig, out, look)


def plot_grid_study(rows, scalars, refs, out, title=None, look=None):
    """Each scalar of a grid study (*scalars*: (key, heading)) against h / D,
    with standard errors where the rows give them ("KEY_err"); a published
    value as a line, a published range as a band (*refs*:
    ``published.STUDY_REFERENCES``)."""
    fig, axes = plt.subplots(1, len(scalars), figsize=(3.2 * len(scalars), 3.8))
    rows = sorted(rows, key=lambda r: r["h_D"])
    h = np.array([r["h_D"] for r in rows], float)
    for ax, (key, heading) in zip(np.atleast_1d(axes), scalars):
        y = np.array([np.nan if r[key] is None else r[key] for r in rows], float)
        err = np.array([np.nan if r.get(key + "_err") is None else r[key + "_err"]
                        for r in rows], float)
        ax.errorbar(h, y, yerr=None if np.all(np.isnan(err)) else err, fmt="C0o-", ms=5,
                    capsize=3, label="this program")
        for i, r in enumerate(rows):
            ax.annotate(r["label"], (h[i], y[i]), textcoords="offset points", xytext=(4, 4),
                        fontsize=7)
        for m, ref in enumerate(refs):          # one colour per source in every panel
            v, colour = ref.get(key), f"C{m + 1}"
            if v is None:
                continue
            if isinstance(v, tuple):
                ax.axhspan(v[0], v[1], color=colour, alpha=0.15, lw=0, label=ref["label"])
            else:
                ax.axhline(v, color=colour, ls="--", lw=1.0, label=ref["label"])
        ax.set_xlim(0, 1.15 * h.max() if len(h) else 1)
        ax.set_xlabel("h / D (smallest cell at the body)")
        ax.set_title(heading, fontsize=10)
        ax.grid(alpha=0.3)
        ax.legend(fontsize=6, loc="best")
    fig.suptitle(title or "grid study (Cd, Cl: pressure force only; rms = standard "
                 "deviation; references quoted second-hand)", fontsize=9)
    return _save(fig, out, look, rect=(0, 0, 1, 0.95))


def plot_grid_centre_lines(rows, out, reference=None, title=None, look=None):
    """Mean centre-line U / Vin of every grid of a study (each row's "line",
    from ``wake.record_wake``) against (x - xc) / D, with published points
    (*reference*: a ``published.REFERENCES`` entry with "centre_line")."""
    fig, ax = plt.subplots(figsize=(7.5, 4.2))
    rows = [r for r in rows if r["line"] is not None]
    for r in rows:
        line = r["line"]
        box, D = line["box"], line["D"]
        xr = (line["x"] - 0.5 * (box["x0"] + box["x1"])) / D
        sel = xr >= -1.0
        ax.plot(xr[sel], line["U"][sel], lw=1.3, label=f"{r['label']}, h/D = {r['h_D']:.3g}")
    if rows:
        box, D = rows[0]["line"]["box"], rows[0]["line"]["D"]
        half = 0.5 * (box["x1"] - box["x0"]) / D
        ax.axvspan(-half, half, color="0.85", lw=0, label="body")
    if reference and reference.get("centre_line"):
        ax.plot(*reference["centre_line"], "kD", ms=5, mfc="none",
                label=reference["centre_line_label"])
    ax.axhline(0.0, color="0.5", lw=0.8)
    ax.set_xlabel("(x - xc) / D")
    ax.set_ylabel("mean U / Vin on y = yc (span mean)")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, loc="lower right")
    ax.set_title(title or "wake centre line on each grid")
    return _save(fig, out, look)
