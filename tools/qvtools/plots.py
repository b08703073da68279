"""PNG plots of quivel_vib8 results (matplotlib, no display needed)."""

import numpy as np

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402

from .summary import amplitude_spectrum, dominant_frequency  # noqa: E402
from .vtk_export import cell_velocity, vorticity  # noqa: E402


def _save(fig, out):
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    plt.close(fig)
    return out


def _segments(ax, ts):
    """Mark where a restarted run continues the series."""
    for seg in ts.segments[1:]:
        if seg["index"] < len(ts):
            ax.axvline(ts["t"][seg["index"]], color="0.6", ls="--", lw=0.8)


def plot_timeseries(ts, out, title=None):
    """Loads (pfx, pfy, pft) and displacements (xdis, ydis) against time."""
    fig, (a1, a2) = plt.subplots(2, 1, figsize=(8, 6), sharex=True)
    t = ts["t"]
    for name in ("pfx", "pfy", "pft"):
        a1.plot(t, ts[name], lw=0.9, label=name)
    a1.set_ylabel("load")
    a1.legend(loc="upper right", fontsize=8)
    for name in ("xdis", "ydis"):
        a2.plot(t, ts[name], lw=0.9, label=name)
    a2.set_ylabel("displacement")
    a2.set_xlabel("t")
    a2.legend(loc="upper right", fontsize=8)
    for ax in (a1, a2):
        _segments(ax, ts)
        ax.grid(alpha=0.3)
    if title:
        a1.set_title(title)
    return _save(fig, out)


def plot_history(hist, out, title=None, restarts=()):
    """Displacement, velocity and acceleration of each degree of freedom;
    the start times of restarted segments are marked."""
    fig, axes = plt.subplots(3, 3, figsize=(10, 7), sharex=True)
    t = hist["time"]
    for col, (dof, label) in enumerate((("x", "x"), ("y", "y"), ("t", "rotation"))):
        for row, (suffix, what) in enumerate((("dis", "displacement"),
                                              ("vel", "velocity"),
                                              ("acc", "acceleration"))):
            ax = axes[row, col]
            ax.plot(t, hist[dof + suffix], lw=0.9)
            for t0 in restarts:
                ax.axvline(t0, color="0.6", ls="--", lw=0.8)
            ax.grid(alpha=0.3)
            if row == 0:
                ax.set_title(label)
            if col == 0:
                ax.set_ylabel(what)
            if row == 2:
                ax.set_xlabel("t")
    if title:
        fig.suptitle(title)
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
        label = f"f = {fs:.4g}"
        if vin and diameter:
            label += f", St = {fs * diameter / vin:.4g}"
        ax.axvline(fs, color="r", ls="--", lw=0.9, label=label)
        ax.legend(loc="upper right")
        ax.set_xlim(0, min(f[-1], 6 * fs))
    ax.set_xlabel("frequency")
    ax.set_ylabel(f"amplitude of {quantity}")
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


def plot_slice(f, axis, out, flags=None, quantity="u", k=None, title=None):
    """Streamwise velocity or z-vorticity in an x-y plane, body outlined."""
    vals, k = slice_values(f, axis, quantity, k)
    fig, ax = plt.subplots(figsize=(9, 4.5))
    if quantity == "vorticity":
        lim = float(np.nanmax(np.abs(vals))) or 1.0
        mesh = ax.pcolormesh(axis.x, axis.y, vals.T, cmap="RdBu_r", vmin=-lim, vmax=lim)
        label = "z-vorticity"
    else:
        mesh = ax.pcolormesh(axis.x, axis.y, vals.T, cmap="viridis")
        label = "u"
    fig.colorbar(mesh, ax=ax, label=label)
    if flags is not None:
        segs = body_outline(flags[:, :, k] != 0, axis.x, axis.y)
        ax.add_collection(LineCollection(segs, colors="k", linewidths=1.2))
    ax.set_aspect("equal")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    zc = 0.5 * (axis.z[k] + axis.z[k + 1])
    ax.set_title(title or f"{label} at z = {zc:.4g} (t = {f.header['t']:.4g})")
    return _save(fig, out)
