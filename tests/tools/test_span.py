"""The near wake's two-dimensional share: a field built from a window mean,
a part common to the span and a part that varies along it, on a grid
stretched in x, y and z, against the sums the definition makes of them
over the box counted out by hand."""

import numpy as np
import pytest

from qvtools.readers import Axis
from qvtools.span import wake_span

X = np.array([0.0, 0.9, 1.5, 2.0, 2.5, 2.9, 3.4, 4.2, 5.0, 6.0, 7.5])
Y = np.array([0.0, 1.0, 1.7, 2.4, 2.9, 3.4, 3.9, 4.4, 4.9, 5.9])
Z = np.array([0.0, 0.4, 0.9, 1.3, 2.0])
NX, NY, NZ = len(X) - 1, len(Y) - 1, len(Z) - 1
# the body: cells i 2..3 (x 1.5 .. 2.5), j 3..5 (y 2.4 .. 3.9): D = 1.5, yc = 3.15.
# The box: centres x 2.7 .. 5.5 (the last on its edge, x1 + 2 D), cells i 4..8;
# centres y 2.05 .. 4.65 (the last on its edge, yc + D), cells j 2..7
BOX_I, BOX_J = range(4, 9), range(2, 8)
XC, YC, ZC = (0.5 * (c[:-1] + c[1:]) for c in (X, Y, Z))
DZ = np.diff(Z)
WAVE = np.array([1.0, -0.3, 0.8, -0.9])          # along the span, at the cell centres
WAVE = WAVE - (WAVE * DZ).sum() / DZ.sum()       # no dz-weighted span mean


class _Rec:
    def __init__(self, arrays, **header):
        self._a, self.header = arrays, header
        self.bounds = {"is": 3, "ie": 3 + NX, "js": 3, "je": 3 + NY, "ks": 3, "ke": 3 + NZ}

    def __getitem__(self, name):
        return self._a[name]


# window means (bilinear: the mean of a cell's corners is its centre value),
# the common parts (linear across each cell along the face's direction) and
# the spanwise parts, different for u and v
def mean_u(x, y):
    return 0.3 + 0.3 * x - 0.1 * y + 0.15 * x * y


def mean_v(x, y):
    return -0.2 + 0.2 * x + 0.05 * y - 0.1 * x * y


def common_u(x, y):
    return 0.7 * x * y + 0.2 * y * y


def common_v(x, y):
    return -0.5 * x * y + 0.3 * x * x


def var_v(x, y):
    return 0.16 + 0.01 * x


def var_w(x, y):
    return 0.04 + 0.02 * y


def _case(a=1.0, b=1.0, izper=0):
    """A field and statistics; *a*, *b* scale the common and the spanwise
    parts. The node rows beyond the box and the periodic image row hold
    values far off."""
    flags = np.zeros((NX, NY, NZ), np.int32)
    flags[2:4, 3:6, :] = 1
    axis = Axis((NX + 1, NY + 1, NZ + 1), X, Y, Z)
    uu = (mean_u(X[:, None], YC[None, :]) + a * common_u(X[:, None], YC[None, :]))[..., None] \
        + b * 0.4 * WAVE
    vv = (mean_v(XC[:, None], Y[None, :]) + a * common_v(XC[:, None], Y[None, :]))[..., None] \
        + b * 0.25 * Y[None, :, None] * WAVE
    ww = np.zeros((NX, NY, NZ + 1))
    xn, yn = np.meshgrid(X, Y, indexing="ij")
    nodes = {n: np.repeat(f(xn, yn)[..., None], NZ + 1, axis=2)
             for n, f in (("su", mean_u), ("sv", mean_v), ("svv", var_v), ("sww", var_w))}
    outside = np.ones((NX + 1, NY + 1), bool)
    outside[BOX_I[0]:BOX_I[-1] + 2, BOX_J[0]:BOX_J[-1] + 2] = False
    for n in ("svv", "sww"):
        nodes[n][outside] = 1e3
    if izper == 0:
        for a_ in nodes.values():
            a_[:, :, -1] = 50.0
    field = _Rec({"uu": uu, "vv": vv, "ww": ww}, t=7.5)
    return field, _Rec(nodes, izper=izper), axis, flags


def by_hand(a=1.0, b=1.0, mean_u_up=0.0):
    """The shares and w'/v' of _case over the box, cell by cell; with the
    window's mean U raised by *mean_u_up*."""
    lz = DZ.sum()
    out = {}
    for name, common, spread in (("share_u", lambda x, y: common_u(x, y) - mean_u_up / a,
                                  lambda y: 0.4),
                                 ("share_v", common_v, lambda y: 0.25 * y)):
        num = den = 0.0
        for i in BOX_I:
            for j in BOX_J:
                area = (X[i + 1] - X[i]) * (Y[j + 1] - Y[j])
                c = a * common(XC[i], YC[j])
                num += area * lz * c * c
                den += area * sum(dz * (c + b * spread(YC[j]) * w) ** 2
                                  for dz, w in zip(DZ, WAVE))
        out[name] = num / den
    sv = sw = 0.0
    for i in BOX_I:
        for j in BOX_J:
            area = (X[i + 1] - X[i]) * (Y[j + 1] - Y[j])
            sv += area * var_v(XC[i], YC[j])
            sw += area * var_w(XC[i], YC[j])
    out["w_v"] = np.sqrt(sw / sv)
    return out


def test_shares_and_w_over_v_of_the_box_weighted_by_the_cells():
    s = wake_span(*_case())
    for key, value in by_hand().items():
        assert s[key] == pytest.approx(value, rel=1e-12), key
    assert s["t"] == 7.5
    # a two-dimensional wake, and one with nothing common to the span
    assert wake_span(*_case(b=0.0))["share_v"] == pytest.approx(1.0, rel=1e-12)
    assert wake_span(*_case(a=0.0))["share_u"] == pytest.approx(0.0, abs=1e-12)


def test_walls_in_z_take_every_node_row_into_the_mean():
    field, rec, axis, flags = _case(b=4.0, izper=1)
    rec["su"][:, :, -1] += 0.5 * (NZ + 1)      # the mean U of every cell up by 0.5
    s = wake_span(field, rec, axis, flags)
    assert s["share_u"] == pytest.approx(by_hand(b=4.0, mean_u_up=0.5)["share_u"], rel=1e-12)


def test_a_body_at_the_outflow_has_no_near_wake():
    field, rec, axis, flags = _case()
    flags[:] = 0
    flags[NX - 1, 3:6, :] = 1
    assert wake_span(field, rec, axis, flags) is None
