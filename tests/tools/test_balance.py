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
P0, LAMBDA, KAPPA, MU = 0.4, -0.6, 0.25, 0.15     # P = P0 + LAMBDA x + KAPPA y + MU x y


def fields():
    x, y = np.meshgrid(X, Y, indexing="ij")
    xc, yc = np.meshgrid(0.5 * (X[:-1] + X[1:]), 0.5 * (Y[:-1] + Y[1:]), indexing="ij")
    spm = P0 + LAMBDA * xc + KAPPA * yc + MU * xc * yc     # at the cell centres
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
    # right - left of the x faces, top - bottom of the y faces; F = -(outflow)
    want = {"pressure": -W * (LAMBDA * H + MU * (YB ** 2 - YA ** 2) / 2) / q,
            "momentum": -(((U0 + ALPHA * XB) ** 2 - (U0 + ALPHA * XA) ** 2) * H
                          + 2 * BETA * (U0 * W + ALPHA * (XB ** 2 - XA ** 2) / 2)) / q,
            "resolved": -(GAMMA * W * H + DELTA * (YB - YA) * W) / q,
            "subgrid": -(EPS * (XB ** 2 - XA ** 2) * H + ETA * (YB - YA) * W) / q}
    for k, v in want.items():
        assert d[k] == pytest.approx(v, rel=1e-12), k
    assert d["cd"] == pytest.approx(sum(want.values()), rel=1e-12)
    # a body over two thirds of the span: the drag of the domain's span
    # carried by the body's
    flags[:, :, 2] = 0
    assert box_drag(fields(), axis, flags, 2.0, 1.0, 1.2)["cd"] == pytest.approx(1.5 * d["cd"])


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
