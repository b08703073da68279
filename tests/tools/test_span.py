"""The near wake's two-dimensional share: a field built from a mean, a part
common to the span and a part that varies along it, on a stretched grid,
against the share those parts give by hand."""

import numpy as np
import pytest

from qvtools.readers import Axis
from qvtools.span import wake_span

NX, NY, NZ = 10, 9, 4                       # cells
I0, I1, J0, J1 = 2, 3, 3, 5                  # body cells, 0-based


class _Rec:
    def __init__(self, arrays, **header):
        self._a, self.header = arrays, header
        self.bounds = {"is": 3, "ie": 3 + NX, "js": 3, "je": 3 + NY, "ks": 3, "ke": 3 + NZ}

    def __getitem__(self, name):
        return self._a[name]


def _grid():
    x = np.cumsum([0.0, 0.9, 0.6, 0.5, 0.5, 0.45, 0.5, 0.6, 0.8, 1.0, 1.3])   # D = 1.5
    y = np.cumsum([0.0, 1.0, 0.8, 0.6, 0.5, 0.5, 0.5, 0.6, 0.8, 1.0])
    z = np.linspace(0.0, 2.0, NZ + 1)
    flags = np.zeros((NX, NY, NZ), np.int32)
    flags[I0:I1 + 1, J0:J1 + 1, :] = 1
    return Axis((NX + 1, NY + 1, NZ + 1), x, y, z), flags


def _mean(x, y):
    return 0.3 + 0.2 * x - 0.1 * y


def _case(common, varying):
    """Face velocities linear across each cell, so the cell centre has
    U = V = mean + common x y + varying cos(2 pi z / L); statistics whose
    node means are that mean, with a wrong image row at k = ke."""
    axis, flags = _grid()
    xc, yc, zc = (Axis.centres(c) for c in (axis.x, axis.y, axis.z))
    wave = np.cos(2 * np.pi * zc / 2.0)

    def value(xs, ys):
        return (_mean(xs, ys) + common * xs * ys + varying * wave[None, None, :])

    uu = value(axis.x[:, None, None], yc[None, :, None])
    vv = value(xc[:, None, None], axis.y[None, :, None])
    ww = np.zeros((NX, NY, NZ + 1))
    nodes = np.broadcast_to(_mean(axis.x[:, None, None], axis.y[None, :, None]),
                            (NX + 1, NY + 1, NZ + 1)).copy()
    nodes[:, :, -1] = 50.0                   # the periodic image row: not part of the span
    svv = np.full_like(nodes, 0.16)
    sww = np.full_like(nodes, 0.04)
    sww[:, :, -1] = 9.0
    field = _Rec({"uu": uu, "vv": vv, "ww": ww}, t=7.5)
    rec = _Rec({"su": nodes, "sv": nodes, "svv": svv, "sww": sww}, izper=0)
    # by hand: the cells behind the rear face (x = 2.5) up to 2 D (x = 5.5),
    # within D of y = 3.15 (five by five); the cos has mean 0 and mean
    # square 1/2 over the span's four cells
    xs = np.array([2.725, 3.2, 3.75, 4.45, 5.35])[:, None]
    ys = np.array([2.1, 2.65, 3.15, 3.65, 4.2])[None, :]
    c2 = common ** 2 * (xs ** 2 * ys ** 2).sum()
    share = c2 / (c2 + 0.5 * varying ** 2 * 25)
    return field, rec, axis, flags, share


def test_shares_of_a_wake_with_a_common_and_a_spanwise_part():
    field, rec, axis, flags, share = _case(0.7, 0.4)
    s = wake_span(field, rec, axis, flags)
    assert s["share_u"] == pytest.approx(share, rel=1e-12)
    assert s["share_v"] == pytest.approx(share, rel=1e-12)
    assert s["w_v"] == pytest.approx(0.5, rel=1e-12)          # sqrt(0.04 / 0.16)
    assert s["t"] == 7.5
    # a two-dimensional wake and one with nothing common to the span
    assert wake_span(*_case(0.7, 0.0)[:4])["share_v"] == pytest.approx(1.0, rel=1e-12)
    assert wake_span(*_case(0.0, 0.4)[:4])["share_v"] == pytest.approx(0.0, abs=1e-12)


def test_a_body_at_the_outflow_has_no_near_wake():
    field, rec, axis, flags, _ = _case(0.7, 0.4)
    flags[:] = 0
    flags[NX - 1, J0:J1 + 1, :] = 1
    assert wake_span(field, rec, axis, flags) is None
