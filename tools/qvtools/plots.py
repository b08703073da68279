"""PNG plots of quivel_vib8 results (matplotlib, no display needed)."""

import numpy as np

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402

from .signals import amplitude_spectrum, dominant_frequency  # noqa: E402
from .vtk_export import cell_velocity, vorticity  # noqa: E402


def _save(fig, out):
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    plt.close(fig)
    return out


def plot_timeseries(ts, out, title=None, vin=None, diameter=None, area=None):
    """Force coefficients, moment and displacements against time.

    With Vin, the body depth D (extent in y) and the frontal area A known,
    the loads are shown as Cd = pfx / (0.5 Vin^2 A), Cl = pfy / (...) and
    Cm = pft / (0.5 Vin^2 A D), displacements as x/D, y/D and time as
    t Vin / D; otherwise as the raw loads and the program's units."""
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
        ylabel, xlabel = "displacement / D (-)", "time t Vin / D (-)"
    else:
        tscale, lscale = 1.0, 1.0
        t = ts["t"]
        a1.plot(t, ts["pfx"], lw=0.9, label="pfx")
        a1.plot(t, ts["pfy"], lw=0.9, label="pfy")
        a1.set_ylabel("force (pressure x area)")
        a2.plot(t, ts["pft"], lw=0.9, color="C2")
        a2.set_ylabel("moment pft\n(pressure x area x length)")
        labels = ("xdis", "ydis")
        ylabel, xlabel = "displacement (length)", "time t (length / velocity)"
    a1.legend(loc="upper right", fontsize=8)
    if a3 is not None:
        for name, label in zip(("xdis", "ydis"), labels):
            a3.plot(t, ts[name] * lscale, lw=0.9, label=label)
        a3.legend(loc="upper right", fontsize=8)
        a3.set_ylabel(ylabel)
    (a3 or a2).set_xlabel(xlabel)
    for ax in (a1, a2, a3) if a3 is not None else (a1, a2):
        for seg in ts.segments[1:]:
            if seg["index"] < len(ts):
                ax.axvline(ts["t"][seg["index"]] * tscale, color="0.6", ls="--", lw=0.8)
        ax.grid(alpha=0.3)
    a1.set_title(title or "loads and displacements")
    return _save(fig, out)


def moving_dofs(hist, tol=1e-12):
    """Degrees of freedom whose displacement or velocity is not constant zero."""
    out = []
    for dof in ("x", "y", "t"):
        d, v = hist[dof + "dis"], hist[dof + "vel"]
        if len(d) and (np.ptp(d) > tol or np.max(np.abs(v)) > tol):
            out.append(dof)
    return out


def plot_history(hist, out, title=None, restarts=()):
    """Displacement, velocity and acceleration of each moving degree of
    freedom; the start times of restarted segments are marked."""
    dofs = moving_dofs(hist)
    if not dofs:
        raise ValueError("no degree of freedom moves in this history: nothing to plot "
                         "(the loads are in `plot ts`)")
    names = {"x": ("x", "length"), "y": ("y", "length"), "t": ("rotation", "rad")}
    fig, axes = plt.subplots(3, len(dofs), figsize=(3.6 * len(dofs) + 1.5, 7),
                             sharex=True, squeeze=False)
    t = hist["time"]
    for col, dof in enumerate(dofs):
        label, unit = names[dof]
        for row, (suffix, what, per) in enumerate((("dis", "displacement", ""),
                                                   ("vel", "velocity", " / time"),
                                                   ("acc", "acceleration", " / time²"))):
            ax = axes[row, col]
            ax.plot(t, hist[dof + suffix], lw=0.9)
            for t0 in restarts:
                ax.axvline(t0, color="0.6", ls="--", lw=0.8)
            ax.grid(alpha=0.3)
            if row == 0:
                ax.set_title(label)
            ax.set_ylabel(f"{what} ({unit}{per})")
            if row == 2:
                ax.set_xlabel("time t")
    fig.suptitle(title or "body motion")
    return _save(fig, out)


def plot_probes(data, out, title=None, restarts=()):
    """u, v, w and p at each probe of a probes file against time."""
    n = (len(data) - 2) // 4
    fig, axes = plt.subplots(4, 1, figsize=(8, 8), sharex=True)
    for ax, q in zip(axes, "uvwp"):
        for k in range(1, n + 1):
            ax.plot(data["t"], data[f"{q}{k}"], lw=0.9, label=f"probe {k}")
        for t0 in restarts:
            ax.axvline(t0, color="0.6", ls="--", lw=0.8)
        ax.set_ylabel(q)
        ax.grid(alpha=0.3)
    axes[0].legend(loc="upper right", fontsize=8)
    axes[-1].set_xlabel("t")
    if title:
        axes[0].set_title(title)
    return _save(fig, out)


def plot_spectrum(t, pfy, out, vin=None, diameter=None, title=None, quantity="pfy"):
    """Amplitude spectrum of pfy (or another signal) with its peak marked.

    Returns (out, shedding frequency).
    """
    f, amp = amplitude_spectrum(t, pfy)
    fs = dominant_frequency(t, pfy)
    fig, ax = plt.subplots(figsize=(7, 4))
    ax.plot(f, amp, lw=0.9)
    if np.isfinite(fs):
        res = 1.0 / (np.max(t) - np.min(t))
        label = f"f = {fs:.4g} (resolution {res:.2g}, {fs / res:.1f} cycles)"
        if vin and diameter:
            label += f"\nSt = {fs * diameter / vin:.4g}"
        ax.axvline(fs, color="r", ls="--", lw=0.9, label=label)
        ax.legend(loc="upper right")
        ax.set_xlim(0, min(f[-1], 6 * fs))
    ax.set_xlabel("frequency f (1 / time)")
    unit = " (pressure x area)" if quantity == "pfy" else ""
    ax.set_ylabel(f"amplitude of {quantity}{unit}")
    ax.grid(alpha=0.3)
    if title:
        ax.set_title(title)
    return _save(fig, out), fs


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


def plot_slice(f, axis, out, flags=None, quantity="u", k=None, title=None,
               vmin=None, vmax=None, zoom=None):
    """Streamwise velocity or z-vorticity in an x-y plane, body outlined and
    its cells left blank.  Colour limits default to ``wake_limits``, the
    view (x0, x1, y0, y1) to ``default_zoom``; zoom "all" shows the grid."""
    vals, k = slice_values(f, axis, quantity, k)
    vals = np.array(vals, float)
    if flags is not None:
        vals[flags[:, :, k] != 0] = np.nan
    lo, hi = wake_limits(vals, axis, flags, k, quantity)
    lo = lo if vmin is None else vmin
    hi = hi if vmax is None else vmax
    if zoom == "all":
        (xa, xb), (ya, yb) = (axis.x[0], axis.x[-1]), (axis.y[0], axis.y[-1])
    elif zoom is None:
        (xa, xb), (ya, yb) = default_zoom(axis, flags, k)
    else:
        xa, xb, ya, yb = zoom
    aspect = (yb - ya) / max(xb - xa, 1e-30)
    fig, ax = plt.subplots(figsize=(9, max(2.5, min(7, 9 * aspect + 0.8))))
    if quantity == "vorticity":
        cmap, label = "RdBu_r", "z-vorticity ωz (velocity / length)"
    else:
        cmap, label = "viridis", "streamwise velocity u (velocity)"
    mesh = ax.pcolormesh(axis.x, axis.y, vals.T, cmap=cmap, vmin=lo, vmax=hi)
    fig.colorbar(mesh, ax=ax, label=label, extend="both", fraction=0.046 * aspect, pad=0.03)
    if flags is not None:
        segs = body_outline(flags[:, :, k] != 0, axis.x, axis.y)
        ax.add_collection(LineCollection(segs, colors="k", linewidths=1.2))
    ax.set_xlim(xa, xb)
    ax.set_ylim(ya, yb)
    ax.set_aspect("equal")
    ax.set_xlabel("x (length)")
    ax.set_ylabel("y (length)")
    zc = 0.5 * (axis.z[k] + axis.z[k + 1])
    ax.set_title(title or f"{label.split(' (')[0]} at z = {zc:.4g}, t = {f.header['t']:.4g}")
    return _save(fig, out)


def plot_surface(curves, out, title=None, reference=None):
    """Cp against the perimeter coordinate s for one or more ``surface_cp``
    results (*curves*: list of (label, cp dict)), corners of the first
    marked and named; *reference*: optional published range of the rear
    face's Cp ({"label", "rear": (low, high)}, ``published.REFERENCES``)."""
    fig, ax = plt.subplots(figsize=(8, 4.5))
    for n, (label, cp) in enumerate(curves):
        ax.plot(cp["s"], cp["cp"], marker=".", ms=3, lw=1.0, label=label)
    first = curves[0][1]
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
    ax.set_xlabel("distance s along the perimeter from the front lower corner, clockwise "
                  "(length)")
    ax.set_ylabel("Cp = (p - p_ref) / (½ Vin²) (-)")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, loc="best")
    ax.set_title(title or "pressure coefficient around the body", pad=16)
    return _save(fig, out)


def plot_centre_line(line, out, title=None, reference=None):
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
    return _save(fig, out)
