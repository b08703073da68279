"""The upwind differences' damping beside the side faces: against the
equivalent viscosities a uniform grid gives by hand, and against a cubic
profile, which the four-point differences take exactly on any grid."""

import numpy as np
import pytest

from qvtools.damping import side_damping
from qvtools.readers import Axis

RE = 1000.0
NX, NY, NZ = 9, 16, 3                  # cells
I0, I1, J0, J1 = 3, 5, 6, 8            # body cells, 0-based (3 rows thick)


class _Field:
    def __init__(self, uu, vv, nut):
        self._a = {"uu": uu, "vv": vv, "nut": nut}
        self.header = {"Re": RE, "t": 4.0}

    def __getitem__(self, name):
        return self._a[name]


def _grid(y):
    x = np.cumsum([0.0, 1.0, 0.7, 0.5, 0.4, 0.35, 0.4, 0.5, 0.8, 1.1])   # stretched in x
    z = np.linspace(0.0, 1.5, NZ + 1)
    flags = np.zeros((NX, NY, NZ), np.int32)
    flags[I0:I1 + 1, J0:J1 + 1, :] = 1
    return Axis((NX + 1, NY + 1, NZ + 1), x, np.asarray(y, float), z), flags


def _field(axis, profile, a):
    """u = profile(yc) in the fluid rows (a ripple along the span), v = +a
    above the body and -a below it (away from both faces), nut = 0.02.
    u is zero on the lines of the front and rear faces, where the body's
    faces hold zero, so that the mirror of the profile holds at every face
    that reads it."""
    yc = 0.5 * (axis.y[:-1] + axis.y[1:])
    ripple = np.array([1.0, 0.8, 1.3])
    uu = np.zeros((NX + 1, NY, NZ))
    uu[:] = profile(yc)[None, :, None] * ripple[None, None, :]
    uu[[I0, I1 + 1]] = 0.0
    uu[I0 + 1:I1 + 1, J0:J1 + 1, :] = 99.0          # stale values inside the body
    vv = np.zeros((NX, NY + 1, NZ))
    mid = 0.5 * (axis.y[J0] + axis.y[J1 + 1])
    vv[:] = np.where(axis.y > mid, a, -a)[None, :, None]
    return _Field(uu, vv, np.full((NX + 1, NY, NZ), 0.02))


def test_on_a_uniform_grid_the_damping_is_the_hand_value_of_each_difference():
    h, a, k = 0.1, 0.4, 2.1
    axis, flags = _grid(np.arange(NY + 1) * h)
    yt, yb = axis.y[J1 + 1], axis.y[J0]
    # odd about each face, as the no-slip mirror makes the ghost row next to it
    prof = lambda yc: np.where(yc > yt - 1e-9, np.sin(k * (yc - yt)),   # noqa: E731
                               np.sin(k * (yc - yb)))
    d = side_damping(_field(axis, prof, a), axis, flags, ca1=-1.0)
    rows = {r["r"]: r for r in d["rows"]}
    # next to the face the difference falls back to first order: a h / 2
    assert rows[1]["up_corner"] == pytest.approx(a * h / 2 * RE, rel=1e-9)
    assert rows[1]["up_side"] == pytest.approx(a * h / 2 * RE, rel=1e-9)
    # beyond it the four-point difference: a h sin^2(k h / 2) / 3, the second
    # row reading the mirror inside the body
    four = a * h * np.sin(k * h / 2) ** 2 / 3 * RE
    for r in (2, 3):
        assert rows[r]["up_side"] == pytest.approx(four, rel=1e-9)
        assert rows[r]["fit_side"] == pytest.approx(1.0)
        assert rows[r]["nut_side"] == pytest.approx(0.02 * RE)
    assert d["t"] == 4.0


@pytest.mark.parametrize("ca1, share", [(-1.0, 1 / 2), (1.0, 1 / 6)])
def test_flow_towards_the_face_reads_both_mirror_rows(ca1, share):
    # u rises by 1 a row away from each face; v towards the faces; next to a
    # face the four-point difference reads the mirror row (ca1 u) and the
    # centred part the one beyond it (ca1^2 u): |a| h / 2 with no slip,
    # |a| h / 6 with slip, by hand on a uniform grid
    h, a = 0.1, 0.4
    axis, flags = _grid(np.arange(NY + 1) * h)
    yt, yb = axis.y[J1 + 1], axis.y[J0]
    prof = lambda yc: np.where(yc > yt, (yc - yt) / h, (yb - yc) / h) + 0.5   # noqa: E731
    d = side_damping(_field(axis, prof, -a), axis, flags, ca1=ca1)
    assert d["rows"][0]["up_side"] == pytest.approx(share * a * h * RE, rel=1e-9)


def test_a_cubic_profile_is_not_damped_on_a_stretched_grid():
    dy = np.concatenate([np.geomspace(0.3, 0.08, 6), np.full(5, 0.08),
                         np.geomspace(0.08 * 1.15, 0.3, 5)])
    axis, flags = _grid(np.concatenate([[0.0], np.cumsum(dy)]))
    cubic = lambda yc: 0.3 + 0.8 * yc - 0.5 * yc ** 2 + 0.2 * yc ** 3   # noqa: E731
    d = side_damping(_field(axis, cubic, 0.4), axis, flags, ca1=-1.0)
    # the third row's stencils hold fluid rows only: their cubic is the profile
    assert abs(d["rows"][2]["up_side"]) < 1e-9 * RE


def test_a_body_too_near_the_side_of_the_grid_has_no_rows():
    axis, flags = _grid(np.arange(NY + 1) * 0.1)
    flags[:, :3, :] = 0
    flags[I0:I1 + 1, 2:J1 + 1, :] = 1
    assert side_damping(_field(axis, np.sin, 0.4), axis, flags) is None
    flags[:] = 0                                    # one cell long in x
    flags[I0, J0:J1 + 1, :] = 1
    assert side_damping(_field(axis, np.sin, 0.4), axis, flags) is None
