"""How a quantity moves with the cell size: its gap to a reference on each
grid, and, from three grids, the observed order of convergence and the
value it extrapolates to.

The order follows the usual procedure for grids refined by unequal ratios
(Celik et al., J. Fluids Eng. 130, 2008): with h1 < h2 < h3 and the values
f1, f2, f3, e21 = f2 - f1, e32 = f3 - f2 and s = sign(e32 / e21),

    p = | ln|e32 / e21| + q(p) | / ln r21,   q(p) = ln((r21^p - s) / (r32^p - s)),

solved for its smallest root by bisection, and the extrapolated value
f1 + (f1 - f2) / (r21^p - 1). With s < 0 the values oscillate with the grid
and no order is given; with two grids there is none either.
"""

import math


def gap(value, ref):
    """Signed distance of *value* from a reference: a number, or a range
    (low, high), which a value inside has reached (gap 0). None when either
    is missing."""
    if value is None or ref is None or (isinstance(value, float) and math.isnan(value)):
        return None
    if isinstance(ref, tuple):
        lo, hi = ref
        return value - hi if value > hi else value - lo if value < lo else 0.0
    return value - ref


def observed_order(h, f, p_max=50.0):
    """(p, extrapolated value, note) from three grids; h and f in any order
    of the grids. p is None, with a note saying why, when the values do not
    converge monotonically or no order up to *p_max* fits them."""
    if len(h) != 3 or None in f:
        return None, None, "needs three grids"
    (h1, f1), (h2, f2), (h3, f3) = sorted(zip(h, f))
    if not h1 < h2 < h3:
        return None, None, "two grids have the same cell"
    e21, e32 = f2 - f1, f3 - f2
    if e21 == 0 or e32 == 0:
        return None, None, "the value does not change between two grids"
    if e32 / e21 < 0:
        return None, None, "the value oscillates with the grid"
    r21, r32 = h2 / h1, h3 / h2

    def g(p):      # zero at the order; s = +1
        return p - abs(math.log(abs(e32 / e21)) + math.log((r21 ** p - 1) / (r32 ** p - 1))) \
            / math.log(r21)

    # the smallest root: scan, then bisect (a fixed-point iteration diverges
    # when r32 > r21^2)
    grid = [p_max * 10 ** (-4 + 4 * n / 400) for n in range(401)]
    lo = next((a for a, b in zip(grid, grid[1:]) if g(a) * g(b) <= 0), None)
    if lo is None:
        return None, None, f"no order up to {p_max:g} fits"
    hi = grid[grid.index(lo) + 1]
    for _ in range(200):
        mid = 0.5 * (lo + hi)
        if g(lo) * g(mid) <= 0:
            hi = mid
        else:
            lo = mid
        if hi - lo < 1e-13 * hi:
            break
    p = 0.5 * (lo + hi)
    return p, f1 + (f1 - f2) / (r21 ** p - 1), ""
