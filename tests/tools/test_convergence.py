"""The trend with the grid: the observed order and extrapolation of three
grids refined by unequal ratios, the gap to a value or a range, and the
study's trend table from its rows."""

import math

import pytest

from qvtools import gridstudy
from qvtools.convergence import gap, observed_order

H = (0.05, 0.025, 0.0167)          # the ratios 2 and 1.5 of a coarse, medium, fine study


@pytest.mark.parametrize("p, c", [(2.0, 3.0), (1.3, -0.8), (0.7, 0.2)])
def test_the_order_and_the_limit_of_a_power_law_come_back(p, c):
    f = [2.18 + c * h ** p for h in H]
    order, limit, note = observed_order(list(reversed(H)), list(reversed(f)))
    assert order == pytest.approx(p, rel=1e-8) and note == ""
    assert limit == pytest.approx(2.18, abs=1e-9)


def test_the_order_comes_back_when_the_coarser_ratio_is_much_the_larger():
    order, limit, _ = observed_order([1.0, 1.1, 3.0], [2 + 2 * h ** 2 for h in (1.0, 1.1, 3.0)])
    assert order == pytest.approx(2.0, rel=1e-9) and limit == pytest.approx(2.0, abs=1e-9)


def test_no_order_where_there_is_none():
    assert observed_order(H, [2.5, 2.3, 2.4])[0] is None          # oscillates
    assert "oscillates" in observed_order(H, [2.5, 2.3, 2.4])[2]
    assert observed_order(H[:2], [2.5, 2.3])[0] is None            # two grids
    assert observed_order(H, [2.5, 2.5, 2.3])[0] is None           # no change


def test_the_gap_to_a_value_and_to_a_range():
    assert gap(2.54, 2.18) == pytest.approx(0.36)
    assert gap(-1.87, (-1.6, -1.3)) == pytest.approx(-0.27)
    assert gap(-1.2, (-1.6, -1.3)) == pytest.approx(0.1)
    assert gap(-1.45, (-1.6, -1.3)) == 0.0
    assert gap(None, 2.18) is None and gap(math.nan, 2.18) is None


def _row(label, h, cd, u, unsettled=()):
    return {"label": label, "h_D": h, "st": 0.14, "cd": cd, "cl_rms": 1.4, "cpb": -1.9,
            "lr": 0.5, "u": u, "unsettled": list(unsettled)}


def test_the_trend_runs_from_the_coarsest_grid_to_the_finest():
    lyn = gridstudy.LYN_CENTRE_LINE[1]
    rows = [_row("fine", 0.0167, 2.18 + 3 * 0.0167 ** 2, [v + 0.01 for v in lyn]),
            _row("coarse", 0.05, 2.18 + 3 * 0.05 ** 2, [v + 0.1 for v in lyn]),
            _row("medium", 0.025, 2.18 + 3 * 0.025 ** 2, [None] + [v - 0.05 for v in lyn[1:]],
                 unsettled=["lift"])]
    t = {line["key"]: line for line in gridstudy.trend(rows)}
    assert t["cd"]["grids"] == ["coarse", "medium (NOT SETTLED)", "fine"]
    assert t["cd"]["gaps"] == pytest.approx([3 * h ** 2 for h in H])
    assert t["cd"]["ratio"] == pytest.approx((0.0167 / 0.05) ** 2)
    assert t["cd"]["order"] == pytest.approx(2.0) and t["cd"]["extrapolated"] == pytest.approx(2.18)
    assert t["u"]["gaps"] == pytest.approx([0.1, 0.05, 0.01])
    assert t["cpb"]["gaps"] == pytest.approx([-0.3] * 3)
    text = "\n".join(gridstudy.format_trend(gridstudy.trend(rows)))
    assert "| mean Cd | 2.18 (Trias, Gorobets & Oliva 2015, DNS *) | 0.0075 |" in text
