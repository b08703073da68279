"""How two-dimensional the near wake is.

A shedding that stays too coherent along the span rolls the shear layers up
close to the body, as a two-dimensional flow does, and raises the drag and
the lift swing.  Whether a finer grid, above all a finer dz, breaks it up
is read here over the near wake: the fluid cells whose centres lie behind
the rear face, up to *reach* D, and within D of the body's centre line.

- ``share_u``, ``share_v``: at one instant (a field file), the part of the
  fluctuation energy that is the same all along the span,

      Nz sum_xy (<v>_z - V)^2 / sum_xyz (v - V)^2,

  v the cell-centred velocity, <v>_z its span mean, V the window's mean at
  the cell (the span mean of the statistics' node means, over the cell's
  four corners in x and y).  1: the near wake is two-dimensional at that
  instant; 0: nothing of it is common to the whole span.
- ``w_v``: over the window (the statistics), sqrt(sum w'^2 / sum v'^2) of
  the span-mean variances at the nodes of the same box: 0 for a
  two-dimensional wake.
"""

import numpy as np

from .readers import body_box
from .vtk_export import cell_velocity
from .wake import _span_nodes


def _region(axis, box, reach):
    """Masks in x and y of the box behind the body, for points *x*, *y*."""
    D = box["y1"] - box["y0"]
    yc = 0.5 * (box["y0"] + box["y1"])

    def masks(x, y):
        return ((x > box["x1"]) & (x <= box["x1"] + reach * D + 1e-9 * D),
                np.abs(y - yc) <= D * (1 + 1e-9))
    return masks


def wake_span(field, rec, axis, flags, reach=2.0):
    """The near wake's two-dimensional share of the fluctuations at the
    instant of *field* against the means of the statistics *rec*, and its
    w' / v' over their window.  None when no cell lies in the box."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no near wake")
    masks = _region(axis, box, reach)
    x, y = np.asarray(axis.x, float), np.asarray(axis.y, float)
    mx, my = masks(0.5 * (x[:-1] + x[1:]), 0.5 * (y[:-1] + y[1:]))
    if not mx.any() or not my.any():
        return None
    nk = _span_nodes(rec, axis)
    sel = np.ix_(mx, my)
    fluid = (flags == 0)[sel].all(axis=2)[..., None]
    out = {"t": float(field.header["t"])}
    for name, vel, mean in zip(("share_u", "share_v"), cell_velocity(field), ("su", "sv")):
        node = np.asarray(rec[mean], float)[:, :, :nk].mean(axis=2)
        cell = 0.25 * (node[:-1, :-1] + node[1:, :-1] + node[:-1, 1:] + node[1:, 1:])
        d = (np.asarray(vel, float) - cell[..., None])[sel] * fluid
        common = d.mean(axis=2)
        total = float((d * d).sum())
        out[name] = None if total == 0 else float(d.shape[2] * (common * common).sum() / total)
    nx, ny = masks(x, y)
    var = {n: np.asarray(rec[n], float)[np.ix_(nx, ny)][:, :, :nk].mean(axis=2).sum()
           for n in ("svv", "sww")}
    out["w_v"] = None if var["svv"] <= 0 else float(np.sqrt(max(var["sww"], 0.0) / var["svv"]))
    return out
