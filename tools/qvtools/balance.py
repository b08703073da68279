"""The mean drag from a momentum balance on a box around the body.

The program integrates the pressure on the body's faces.  Independently of
that, the mean force on the body is what the mean flow loses in x-momentum
through any closed box around it.  For a statistically steady window, per
unit span (span means of the statistics, the frame of the body fixed),

    F = - [ int_right (P + U U + u'u' + t11) dy - int_left (...) dy
            + int_top (U V + u'v' + t12) dx - int_bottom (...) dx ],

with P the mean modified pressure (``spm``), u'u' and u'v' the resolved
(co)variances (``suu``, ``suv``), t11 the mean normal sub-grid stress
(``sgs11``, which holds the 2/3 k_sgs that the modified pressure leaves
out) and t12 the mean sub-grid shear stress (``tauxy``).  The molecular
stress (1 / Re) and the change of the box's momentum over the window are
left out.  Cd = F Lz / (0.5 Vin^2 D Lb), Lz the domain's span and Lb the
body's (the same when the body spans the domain).

The sides of the box are node lines, the nearest to the distances asked
for; the node pressure is interpolated linearly from the cell centres, in
x and then in y; the integrals are trapezoidal along the node lines.  The
sub-grid shear stress is taken as a node value (it is summed at the
corner of a cell, from the rate at its centre: half a cell off).  The box's drag equals the
pressure drag of the faces only up to the friction on the body, the
terms left out and the truncation of these sums: a few per cent, the
same for any box.  A gap beyond that, or one that changes with the box,
is a fault in one of the two.
"""

import numpy as np

from .readers import body_box
from .wake import _span_nodes

# (around, behind): the box's distance from the side and front faces, and
# from the rear face, in body depths D
BOXES = ((1.0, 1.0), (2.0, 2.0), (3.0, 2.0))
PARTS = ("pressure", "momentum", "resolved", "subgrid")


def _trapezoid(f, s):
    return float(np.sum(0.5 * (f[1:] + f[:-1]) * np.diff(s)))


class BoxOutside(ValueError):
    """A box that does not lie inside the grid's inner nodes."""


def _to_nodes(a, x):
    """Values at the inner nodes x[1:-1] of *a* given at the cell centres
    along axis 0 (linear between the two centres around each node)."""
    xc = 0.5 * (x[:-1] + x[1:])
    w = ((x[1:-1] - xc[:-1]) / (xc[1:] - xc[:-1])).reshape((-1,) + (1,) * (a.ndim - 1))
    return (1.0 - w) * a[:-1] + w * a[1:]


def node_pressure(cells, x, y):
    """(nx + 1, ny + 1) node values of a (nx, ny) cell field, interpolated
    linearly from the cell centres in x and then in y; NaN on the boundary
    nodes."""
    p = np.full((cells.shape[0] + 1, cells.shape[1] + 1), np.nan)
    p[1:-1, 1:-1] = _to_nodes(_to_nodes(cells, x).T, y).T
    return p


def box_drag(means, axis, flags, vin=1.0, around=1.0, behind=1.0):
    """Cd from the momentum balance on one box, with its parts.

    *means*: span-mean 2-D arrays "su", "sv", "suu", "suv", "sgs11", "tauxy"
    at the nodes (nx + 1, ny + 1) and "spm" at the cells (nx, ny).  Returns
    {"cd", "pressure", "momentum", "resolved", "subgrid" (each a Cd),
    "box": (x_left, x_right, y_bottom, y_top)}.  Refused (BoxOutside) when
    the box does not fit inside the grid's inner nodes."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no drag")
    D = box["y1"] - box["y0"]
    x, y = np.asarray(axis.x, float), np.asarray(axis.y, float)
    ia = int(np.argmin(np.abs(x - (box["x0"] - around * D))))
    ib = int(np.argmin(np.abs(x - (box["x1"] + behind * D))))
    ja = int(np.argmin(np.abs(y - (box["y0"] - around * D))))
    jb = int(np.argmin(np.abs(y - (box["y1"] + around * D))))
    if min(ia, ja) < 1 or ib > len(x) - 2 or jb > len(y) - 2 \
            or not (x[ia] < box["x0"] and x[ib] > box["x1"] and y[ja] < box["y0"] and y[jb] > box["y1"]):
        raise BoxOutside(f"a box {around:g} D around the body and {behind:g} D behind it does "
                         f"not lie inside the grid's inner nodes")
    P = node_pressure(means["spm"], x, y)
    U, V = means["su"], means["sv"]
    rows, cols = slice(ja, jb + 1), slice(ia, ib + 1)

    def net(fx, fy):
        """Outflow of x-momentum through the box: right - left + top - bottom."""
        return (_trapezoid(fx[ib, rows], y[rows]) - _trapezoid(fx[ia, rows], y[rows])
                + _trapezoid(fy[cols, jb], x[cols]) - _trapezoid(fy[cols, ja], x[cols]))

    zero = np.zeros_like(U)
    z = np.asarray(axis.z, float)
    q = 0.5 * vin * vin * D * (box["z1"] - box["z0"]) / (z[-1] - z[0])
    parts = {"pressure": -net(P, zero) / q, "momentum": -net(U * U, U * V) / q,
             "resolved": -net(means["suu"], means["suv"]) / q,
             "subgrid": -net(means["sgs11"], means["tauxy"]) / q}
    parts["cd"] = sum(parts[k] for k in PARTS)
    parts["box"] = (float(x[ia]), float(x[ib]), float(y[ja]), float(y[jb]))
    return parts


def momentum_drag(rec, axis, flags, vin=1.0, boxes=BOXES):
    """``box_drag`` of a statistics record on each of *boxes*, from the span
    means of its arrays; None for a box that does not fit the grid.  The
    sub-grid shear stress is summed over the cells only (k < ke)."""
    if body_box(axis, flags) is None:
        raise ValueError("the flag file marks no body cell: no drag")
    nk = _span_nodes(rec, axis)
    nx = rec.bounds["ie"] - rec.bounds["is"]
    means = {n: rec[n][:, :, :nk].mean(axis=2) for n in ("su", "sv", "suu", "suv", "sgs11")}
    means["tauxy"] = rec["tauxy"][:, :, :len(axis.z) - 1].mean(axis=2)
    means["spm"] = rec["spm"][0:nx].mean(axis=2)
    out = []
    for a, b in boxes:
        try:
            out.append(dict(box_drag(means, axis, flags, vin, a, b), around=a, behind=b))
        except BoxOutside:
            out.append(None)
    return out
