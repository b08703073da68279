"""The drag from the momentum balance on a box: fields whose integrals along
the box's sides are exact for trapezoids, on a grid stretched in x and y,
against the integrals done by hand; each term on its own sides, with its
own sign."""

import numpy as np
import pytest

from qvtools.balance import box_drag, momentum_drag
from qvtools.readers import Axis

X = np.array([0.0, 1.0, 1.8, 2.4, 2.8, 3.2, 3.5, 4.0, 4.6, 5.4, 6.4, 8.0])
Y = np.array([0.0, 1.2, 2.0, 2.6, 3.0, 3.5, 4.0, 4.6, 5.2, 6.6])
Z = np.array([0.0, 0.5, 1.0, 1.5])
NX, NY, NZ = len(X) - 1, len(Y) - 1, len(Z) - 1
# the body: cells i 4..5 (x 2.8 .. 3.5), j 4..5 (y 3.0 .. 4.0): D = 1, yc = 3.5.
# A box 1 D around and 1.2 D behind: node lines x 1.8 and 4.7 -> 4.6 (nearest
# to 4.7), y 2.0 and 5.2 (nearest to 2.0 and 5.0)
XA, XB, YA, YB = 1.8, 4.6, 2.0, 5.2
W, H = XB - XA, YB - YA
U0, ALPHA, BETA, GAMMA, DELTA, EPS, ETA = 1.1, -0.2, 0.3, 0.05, 0.07, 0.02, -0.01
P0, P1 = 0.4, -1.3                       # the pressure upstream of x = 2.8, downstream of 3.5
KAPPA = 0.25                             # times (1 + KAPPA y) at the cell centres


def fields():
    x, y = np.meshgrid(X, Y, indexing="ij")
    xc = 0.5 * (X[:-1] + X[1:])
    yc = 0.5 * (Y[:-1] + Y[1:])
    spm = np.where(xc < 3.0, P0, P1)[:, None] * (1 + KAPPA * yc)[None, :]
    return {"spm": spm, "su": U0 + ALPHA * x, "sv": BETA * np.sign(y - 3.5),
            "suu": GAMMA * x, "suv": DELTA * (y - 3.5), "sgs11": EPS * x * x,
            "tauxy": ETA * y}


def grid():
    flags = np.zeros((NX, NY, NZ), np.int32)
    flags[4:6, 4:6, :] = 1
    return Axis((NX + 1, NY + 1, NZ + 1), X, Y, Z), flags


def test_each_term_of_the_balance_on_its_sides():
    axis, flags = grid()
    d = box_drag(fields(), axis, flags, vin=2.0, around=1.0, behind=1.2)
    assert d["box"] == pytest.approx((XA, XB, YA, YB))
    q = 0.5 * 2.0 ** 2 * 1.0
    # right - left of the x faces, top - bottom of the y faces; F = -(outflow).
    # A node's pressure is the mean of its four cells: in y, of the two
    # centres around the node
    j = np.arange(2, 9)
    ynode = 0.25 * (Y[j - 1] + 2 * Y[j] + Y[j + 1])
    f = 1 + KAPPA * ynode
    want = {"pressure": -(P1 - P0) * np.sum(0.5 * (f[1:] + f[:-1]) * np.diff(Y[j])) / q,
            "momentum": -(((U0 + ALPHA * XB) ** 2 - (U0 + ALPHA * XA) ** 2) * H
                          + 2 * BETA * (U0 * W + ALPHA * (XB ** 2 - XA ** 2) / 2)) / q,
            "resolved": -(GAMMA * W * H + DELTA * (YB - YA) * W) / q,
            "subgrid": -(EPS * (XB ** 2 - XA ** 2) * H + ETA * (YB - YA) * W) / q}
    for k, v in want.items():
        assert d[k] == pytest.approx(v, rel=1e-12), k
    assert d["cd"] == pytest.approx(sum(want.values()), rel=1e-12)


def test_span_means_leave_out_the_periodic_image_and_a_box_must_fit():
    axis, flags = grid()
    f = fields()

    class Rec:
        header = {"izper": 0}
        bounds = {"is": 3, "ie": 3 + NX, "js": 3, "je": 3 + NY, "ks": 3, "ke": 3 + NZ}

        def __getitem__(self, name):
            a = f[name]
            if name == "spm":    # cells in y and z; one plane more in x, as in the file
                a = np.concatenate([a, np.full((1, NY), 99.0)])
                return np.repeat(a[:, :, None], NZ, axis=2)
            a = np.repeat(a[:, :, None], NZ + 1, axis=2)
            a[:, :, -1] = 99.0       # the image of the first node row
            return a

    got = momentum_drag(Rec(), axis, flags, 2.0, boxes=((1.0, 1.2),))[0]
    assert got["cd"] == pytest.approx(box_drag(f, axis, flags, 2.0, 1.0, 1.2)["cd"], rel=1e-12)
    for around, behind in ((3.5, 1.0), (1.0, 4.0), (0.05, 1.0)):
        with pytest.raises(ValueError, match="does not lie inside"):
            box_drag(f, axis, flags, 1.0, around, behind)
