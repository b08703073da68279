"""How two-dimensional the near wake is.

A shedding that stays too coherent along the span rolls the shear layers up
close to the body, as a two-dimensional flow does, and raises the drag and
the lift swing.  Whether a finer grid, above all a finer dz, breaks it up
is read here over the near wake: the cells whose centres lie behind the
rear face, up to *reach* D, and within D of the body's centre line.  Every
sum is weighted by the cell's size (dx dy, and dz along the span), so that
grids with different cells there weigh the same region alike.

- ``share_u``, ``share_v``: at one instant (a field file), the part of the
  fluctuation energy that is the same all along the span,

      sum_xy dA Lz (<v>_z - V)^2 / sum_xyz dA dz (v - V)^2,

  v the cell-centred velocity, <v>_z its dz-weighted span mean, V the
  window's mean at the cell: the span mean of the statistics' node means
  (as every span mean of the tools takes it) over the cell's four corners
  in x and y.  1: the near wake is two-dimensional at that instant; 0:
  nothing of it is common to the whole span.
- ``w_v``: over the window (the statistics), sqrt(sum dA w'^2 / sum dA v'^2)
  of the span-mean node variances, taken to the cells of the same box as V
  is.  0 for a two-dimensional wake.
"""

import numpy as np

from .readers import body_box
from .vtk_export import cell_velocity
from .wake import _span_nodes


def _to_cells(rec, name, nk):
    """The span mean of a statistics node array, over the four corners of
    each cell in x and y."""
    node = np.asarray(rec[name], float)[:, :, :nk].mean(axis=2)
    return 0.25 * (node[:-1, :-1] + node[1:, :-1] + node[:-1, 1:] + node[1:, 1:])


def wake_span(field, rec, axis, flags, reach=2.0):
    """The near wake's two-dimensional share of the fluctuations at the
    instant of *field* against the means of the statistics *rec*, and its
    w' / v' over their window.  None when no cell lies in the box."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no near wake")
    D = box["y1"] - box["y0"]
    x, y, z = (np.asarray(c, float) for c in (axis.x, axis.y, axis.z))
    xc, yc = 0.5 * (x[:-1] + x[1:]), 0.5 * (y[:-1] + y[1:])
    mx = (xc > box["x1"]) & (xc <= box["x1"] + reach * D * (1 + 1e-9))
    my = np.abs(yc - 0.5 * (box["y0"] + box["y1"])) <= D * (1 + 1e-9)
    if not mx.any() or not my.any():
        return None
    sel = np.ix_(mx, my)
    area = np.outer(np.diff(x), np.diff(y))[sel]
    dz = np.diff(z)
    nk = _span_nodes(rec, axis)
    out = {"t": float(field.header["t"])}
    for name, vel, mean in zip(("share_u", "share_v"), cell_velocity(field), ("su", "sv")):
        d = (np.asarray(vel, float) - _to_cells(rec, mean, nk)[..., None])[sel]
        common = (d * dz).sum(axis=2) / dz.sum()
        total = float((area[..., None] * dz * d * d).sum())
        out[name] = (None if total == 0 else
                     float((area * dz.sum() * common * common).sum() / total))
    vv, ww = ((area * _to_cells(rec, n, nk)[sel]).sum() for n in ("svv", "sww"))
    out["w_v"] = None if vv <= 0 else float(np.sqrt(max(ww, 0.0) / vv))
    return out
