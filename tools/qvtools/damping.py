"""How strongly the convection differences damp the shear layers beside the
body's side faces, next to the eddy viscosity there, at one instant.

The four-point upwind-biased difference is a centred one plus a part that
depends on the side the flow comes from; on a uniform grid that part is
|a| h^3/12 times the fourth derivative, a hyper-viscosity, and where the
difference falls back to first order beside the body it is |a| h/2 times
the second derivative, a viscosity. This module takes that part of the
convection of u across the layer (the y-direction term a dU/dy at the u
points of the rows beside the side faces, a the interpolated v) from a
field file, the ghost values inside the body made by the reflection rules,
and fits it to a viscous term nu_up d2U/dy2 by least squares over the span
(and along the face). nu_up is the viscosity that would damp the resolved
field across the layer as much as the upwind side of the differences does;
it is set beside the eddy viscosity of the same u points.

Only this one term is taken: the x and z convection and the v and w
components are not. The point of it is the comparison at the separating
corners, where the layer's gradient is across it.
"""

import numpy as np

from .readers import body_box


def _block(field, name):
    """(array, program index of its first element) of a field's array; every
    array of a field file starts at (is, js, ks) = (3, 3, 3)."""
    lo = field.ranges[name][0] if hasattr(field, "ranges") else (3, 3, 3)
    return np.asarray(field[name], float), tuple(lo)


def _weights4(s, c, pts):
    """Weights of the four points *pts* (positions s[pts]) in the derivative
    at s[c] of the cubic through them."""
    w = []
    for n in pts:
        if n == c:
            w.append(sum(1.0 / (s[c] - s[p]) for p in pts if p != c))
        else:
            num = np.prod([s[c] - s[p] for p in pts if p not in (n, c)])
            den = np.prod([s[n] - s[p] for p in pts if p != n])
            w.append(num / den)
    return w


def _row_terms(q, s, a, my):
    """Upwind part F (of -a dq/dy) and d2q/dy2 at the middle row of q.

    q: values at rows m-2..m+2 (axis 0; further axes i and k); s: their
    cell-centre positions; a: the advecting v at the row; my: body marker
    per i (2 below, 1 above, 0 none), shaped to broadcast against a."""
    m = 2
    hm, hp = s[m] - s[m - 1], s[m + 1] - s[m]
    d1b = (q[m] - q[m - 1]) / hm
    d1f = (q[m + 1] - q[m]) / hp
    wb = _weights4(s, m, (m - 2, m - 1, m, m + 1))
    wf = _weights4(s, m, (m - 1, m, m + 1, m + 2))
    d4b = sum(w * q[n] for w, n in zip(wb, (m - 2, m - 1, m, m + 1)))
    d4f = sum(w * q[n] for w, n in zip(wf, (m - 1, m, m + 1, m + 2)))
    back = np.where(my == 2, d1b, d4b)
    fwd = np.where(my == 1, d1f, d4f)
    sel = np.where(a >= 0, back, fwd)
    first = np.where(a >= 0, my == 2, my == 1)
    cen = np.where(first, 0.5 * (d1b + d1f), 0.5 * (d4b + d4f))
    lap = (d1f - d1b) / ((hm + hp) / 2)
    return -a * (sel - cen), lap


def side_damping(field, axis, flags, ca1=-1.0, rows=3):
    """Equivalent viscosity of the upwind differences and the eddy
    viscosity, both over the molecular one, in the first *rows* rows of
    cells beside each side face.

    For each row r (1 = the row next to the face): "up_corner" and
    "nut_corner" over the u points of the cell beside the front corner
    (its two faces), "up_side" and "nut_side" over the faces of the row's
    cells along the whole side; both sides and the whole span together.
    ``ca1`` is the reflection factor (-1 no slip). Returns None when a side
    has too few cells beyond it, or when the body is one cell long in x
    (there the differences along x write a ghost of their own on the rear
    face line, which this does not follow)."""
    box = body_box(axis, flags)
    if box is None:
        raise ValueError("the flag file marks no body cell: no damping beside it")
    (i0, i1), (j0, j1) = box["cells_x"], box["cells_y"]
    ncy = flags.shape[1]
    if j0 - 3 - rows - 2 < 0 or j1 - 3 + rows + 2 > ncy - 1 or i1 == i0:
        return None
    uu, lu = _block(field, "uu")
    vv, lv = _block(field, "vv")
    nut, ln = _block(field, "nut")
    Re = field.header["Re"]
    x, y = np.asarray(axis.x, float), np.asarray(axis.y, float)
    nz = flags.shape[2]
    ks = np.arange(3, 3 + nz)
    faces = np.arange(i0, i1 + 2)                       # the u faces of the row's cells
    dx = lambda i: x[i + 1 - 3] - x[i - 3]              # noqa: E731
    yc = lambda j: 0.5 * (y[j - 3] + y[j + 1 - 3])      # noqa: E731
    fl = lambda i, j: flags[i - 3, j - 3, 0] != 0       # noqa: E731  (the body spans z)

    def U(i, j):
        return uu[np.ix_(i - lu[0], [j - lu[1]], ks - lu[2])][:, 0, :]

    def V(i, j):
        return vv[np.ix_(i - lv[0], [j - lv[1]], ks - lv[2])][:, 0, :]

    def N(i, j):
        return nut[np.ix_(i - ln[0], [j - ln[1]], ks - ln[2])][:, 0, :]

    inside = np.array([fl(i - 1, j0) and fl(i, j0) for i in faces])[:, None]
    dxm = np.array([dx(i - 1) for i in faces])[:, None]
    dxp = np.array([dx(i) for i in faces])[:, None]
    out = []
    for r in range(1, rows + 1):
        sums = {"corner": np.zeros(4), "side": np.zeros(4)}   # sum F L, L L, nu, F F
        counts = {"corner": 0, "side": 0}
        for side in (+1, -1):
            face_row = j1 if side > 0 else j0                  # body row at the face
            fluid1 = face_row + side                           # first fluid row
            j = face_row + side * r
            q = []
            for jj in range(j - 2, j + 3):
                depth = (face_row - jj) * side                 # 0 at the face row, 1 beyond
                if depth < 0 or not j0 <= jj <= j1:
                    q.append(U(faces, jj))
                else:                                          # group B, then C
                    q.append(np.where(inside, ca1 ** (depth + 1) * U(faces, fluid1), 0.0))
            q = np.array(q)
            s = np.array([yc(jj) for jj in range(j - 2, j + 3)])
            a = ((V(faces, j) + V(faces, j + 1)) * dxm
                 + (V(faces - 1, j) + V(faces - 1, j + 1)) * dxp) / (dxm + dxp) * 0.5
            my = np.array([2 if fl(i, j - 1) else 1 if fl(i, j + 1) else 0 for i in faces])[:, None]
            F, L = _row_terms(q, s, a, my)
            nu = (N(faces - 1, j) * dxp + N(faces, j) * dxm) / ((dxm + dxp) / 2 * 2)
            for key, sel in (("corner", slice(0, 2)), ("side", slice(None))):
                sums[key] += [float(np.sum(F[sel] * L[sel])), float(np.sum(L[sel] ** 2)),
                              float(np.sum(nu[sel])), float(np.sum(F[sel] ** 2))]
                counts[key] += nu[sel].size
        row = {"r": r}
        for key in ("corner", "side"):
            fl_sum, ll_sum, nu_sum, ff_sum = sums[key]
            row["up_" + key] = fl_sum / ll_sum * Re if ll_sum > 0 else float("nan")
            row["fit_" + key] = (fl_sum / np.sqrt(ll_sum * ff_sum) if ll_sum * ff_sum > 0
                                 else float("nan"))
            row["nut_" + key] = nu_sum / counts[key] * Re
        out.append(row)
    return {"rows": out, "t": float(field.header["t"])}
