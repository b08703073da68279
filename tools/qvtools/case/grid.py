"""The stretched grid of a case: uniform core cells around the body,
geometric growth towards the domain ends, and the probe points in it."""

import math

from .recipe import CaseError, number, integer

# Largest grid the solver's field store holds (cells per direction).
# Cell limits of the store (the files carry grid-line counts: one more each).
NX_MAX, NY_MAX, NZ_MAX = 212, 160, 60
# Cap of the solver's viscous time-step bound.
DELM_CAP = 10000.0


def round5(value):
    return round(value, 5)


def stretch_widths(h, distance, ratio, hmax):
    """Widths of the cells that carry the grid from a core cell of size h over
    `distance`, growing by at most `ratio` per cell up to `hmax`.

    The cell count is the smallest that covers `distance` with the full ratio;
    the growth ratio is then lowered so the cells end exactly at `distance`.
    """
    if distance <= 1e-9:
        return []
    cap = max(hmax, h)
    if ratio == 1.0 or cap == h:
        n = max(1, round(distance / h))
        return [distance / n] * n
    widths, total, w = [], 0.0, h
    while total < distance - 1e-12:
        w = min(w * ratio, cap)
        widths.append(w)
        total += w
    n = len(widths)
    if n * h >= distance:
        # only a couple of cells fit: make them uniform
        n = max(1, round(distance / h))
        return [distance / n] * n

    def total_for(r):
        return sum(min(h * r ** k, cap) for k in range(1, n + 1))

    lo, hi = 1.0, ratio
    for _ in range(200):
        mid = 0.5 * (lo + hi)
        if total_for(mid) < distance:
            lo = mid
        else:
            hi = mid
    return [min(h * hi ** k, cap) for k in range(1, n + 1)]


def axis_lines(body_lo, body_hi, h, core_lo, core_hi, dom_lo, dom_hi, ratio, hmax, axis):
    """Grid-line coordinates (rounded to 5 decimals) of one cross-flow axis.

    The body [body_lo, body_hi] and the core box around it are covered by
    uniform cells of size h; beyond the core the cells grow towards the
    domain ends dom_lo, dom_hi.  Core margins are whole cells (rounded up).
    """
    length = body_hi - body_lo
    nbody = round(length / h)
    if nbody < 1 or abs(nbody * h - length) > 1e-9 * max(1.0, length):
        size = "B" if axis == "x" else "D"
        suggest = length / max(1, nbody)
        raise CaseError(f"body {size} = {length:g} is not a whole number of core cells "
                        f"h = {h:g} along {axis} (try h = {suggest!r})")
    m_lo = math.ceil(core_lo / h - 1e-9)
    m_hi = math.ceil(core_hi / h - 1e-9)
    lo_edge = body_lo - m_lo * h
    hi_edge = body_hi + m_hi * h
    if dom_lo > body_lo - 1e-12 or dom_hi < body_hi + 1e-12:
        raise CaseError(f"body outside the domain along {axis}: body spans "
                        f"[{body_lo:g}, {body_hi:g}], domain [{dom_lo:g}, {dom_hi:g}]")
    if dom_lo > lo_edge + 1e-9 or dom_hi < hi_edge - 1e-9:
        raise CaseError(f"domain along {axis} [{dom_lo:g}, {dom_hi:g}] does not contain "
                        f"the core box [{lo_edge:g}, {hi_edge:g}] around the body")
    core = [body_lo + (i - m_lo) * h for i in range(m_lo + nbody + m_hi + 1)]
    below = stretch_widths(h, lo_edge - dom_lo, ratio, hmax)
    above = stretch_widths(h, dom_hi - hi_edge, ratio, hmax)
    lines = list(core)
    c = lo_edge
    for w in below:
        c -= w
        lines.insert(0, c)
    c = hi_edge
    for w in above:
        c += w
        lines.append(c)
    if below:
        lines[0] = dom_lo
    if above:
        lines[-1] = dom_hi
    lines = [round5(v) for v in lines]
    for a, b in zip(lines, lines[1:]):
        if not b > a:
            raise CaseError(f"grid along {axis} is not increasing after rounding to "
                            f"5 decimals near {a:.5f} (cells too small)")
    for face in (body_lo, body_hi):
        if round5(face) not in lines:
            raise CaseError(f"body face {axis} = {face!r} is not a grid line")
    if max(abs(lines[0]), abs(lines[-1])) >= 9999.0:
        raise CaseError(f"domain along {axis} too large for the grid file (|{axis}| < 9999)")
    return lines


def widths(lines):
    return [b - a for a, b in zip(lines, lines[1:])]


def max_ratio(lines):
    w = widths(lines)
    return max([max(a / b, b / a) for a, b in zip(w, w[1:])] or [1.0])


def build_grid(body, grid, Re, warnings):
    """Grid lines x, y, z around the body, its cells and the viscous bound delm."""
    B = number(body["B"], "body.B", positive=True)
    D = number(body["D"], "body.D", positive=True)
    for size, name in ((B, "B"), (D, "D")):
        if round5(size / 2) != size / 2:
            raise CaseError(f"body.{name} / 2 must have at most 5 decimals "
                            "(the grid file holds 5)")
    h = number(grid["h"], "grid.h", positive=True)
    hy = h if grid["hy"] is None else number(grid["hy"], "grid.hy", positive=True)
    ratio = number(grid["ratio"], "grid.ratio", positive=True)
    if ratio < 1.0:
        raise CaseError(f"grid.ratio must be at least 1, got {ratio}")
    if ratio > 1.2:
        warnings.append(f"stretch ratio {ratio} is steep; 1.05-1.1 keeps the "
                        "discretisation error of the stretching small")
    hmax = number(grid["hmax"], "grid.hmax", positive=True)
    if hmax < max(h, hy):
        raise CaseError(f"grid.hmax = {hmax:g} is smaller than the core cell size")
    span = number(grid["span"], "grid.span", positive=True)
    nz = integer(grid["nz"], "grid.nz", minimum=1)

    def side(section, key, what):
        v = section[key]
        if v is None:
            v = section["lateral"]
        return number(v, f"grid.{what}.{key}", nonneg=(what == "core"),
                    positive=(what == "domain"))

    core, dom = grid["core"], grid["domain"]
    x = axis_lines(-B / 2, B / 2, h,
                   number(core["upstream"], "grid.core.upstream", nonneg=True) * D,
                   number(core["downstream"], "grid.core.downstream", nonneg=True) * D,
                   round5(-number(dom["upstream"], "grid.domain.upstream", positive=True) * D),
                   round5(number(dom["downstream"], "grid.domain.downstream", positive=True) * D),
                   ratio, hmax, "x")
    y = axis_lines(-D / 2, D / 2, hy,
                   side(core, "below", "core") * D, side(core, "above", "core") * D,
                   round5(-side(dom, "below", "domain") * D),
                   round5(side(dom, "above", "domain") * D),
                   ratio, hmax, "y")
    z = [round5(k * span / nz) for k in range(nz + 1)]
    if any(not b > a for a, b in zip(z, z[1:])):
        raise CaseError("z cells vanish after rounding to 5 decimals")
    nx, ny = len(x) - 1, len(y) - 1
    over = [f"{n_} = {v} > {m}" for n_, v, m in (("nx", nx, NX_MAX), ("ny", ny, NY_MAX),
                                                 ("nz", nz, NZ_MAX)) if v > m]
    if over:
        raise CaseError("grid exceeds the solver's store (" + ", ".join(over) +
                        f"; limits {NX_MAX} x {NY_MAX} x {NZ_MAX} cells): enlarge h, "
                        "ratio or hmax, or shrink the domain")
    body_cells = (x.index(round5(-B / 2)), x.index(round5(B / 2)),
                  y.index(round5(-D / 2)), y.index(round5(D / 2)))
    if body_cells[0] == 0 or body_cells[1] == nx or body_cells[2] == 0 or body_cells[3] == ny:
        raise CaseError("body touches the domain boundary")

    dxmin, dymin, dzmin = min(widths(x)), min(widths(y)), min(widths(z))
    # viscous bound: d grows with every width, so the smallest widths give the minimum
    delm = min(DELM_CAP, (Re / 2) / (1 / (dxmin * dxmin) + 1 / (dymin * dymin)
                                     + 1 / (dzmin * dzmin)))
    return {"B": B, "D": D, "span": span, "x": x, "y": y, "z": z, "nx": nx, "ny": ny,
            "nz": nz, "body_cells": body_cells, "delm": delm,
            "hmin": min(dxmin, dymin, dzmin)}


# Default probes, in body depths D behind the rear face (x) and off the
# wake centre line (y), at mid-span: three on the centre line, one off it.
DEFAULT_PROBES = ((2.0, 0.0), (5.0, 0.0), (10.0, 0.0), (2.0, 1.0))


def probe_points(points, x, y, z, B, D, warnings):
    """The probe points (x, y, z) of probes.inf.

    None gives DEFAULT_PROBES (those beyond the domain are left out with a
    warning); a list is taken as given and each point must lie in the fluid:
    inside the domain and outside the body.
    """
    zmid = round5((z[0] + z[-1]) / 2)
    if points is None:
        out = []
        for behind, off in DEFAULT_PROBES:
            p = (round5(B / 2 + behind * D), round5(off * D), zmid)
            if p[0] <= x[-1] and y[0] <= p[1] <= y[-1]:
                out.append(p)
            else:
                warnings.append(f"default probe {behind:g} D behind the body is outside the "
                                 f"domain (x up to {x[-1]:g}); left out")
        return out
    if not isinstance(points, list):
        raise CaseError("probes must be a list of [x, y, z] points (or null for the default)")
    out = []
    for n, p in enumerate(points, 1):
        if not (isinstance(p, (list, tuple)) and len(p) == 3):
            raise CaseError(f"probes[{n}] must be [x, y, z], got {p!r}")
        p = tuple(number(v, f"probes[{n}]") for v in p)
        if not (x[0] <= p[0] <= x[-1] and y[0] <= p[1] <= y[-1] and z[0] <= p[2] <= z[-1]):
            raise CaseError(f"probes[{n}] = {list(p)} lies outside the domain "
                            f"x {x[0]:g}..{x[-1]:g}, y {y[0]:g}..{y[-1]:g}, z {z[0]:g}..{z[-1]:g}")
        if -B / 2 <= p[0] < B / 2 and -D / 2 <= p[1] < D / 2:
            raise CaseError(f"probes[{n}] = {list(p)} lies inside the body")
        out.append(p)
    return out
