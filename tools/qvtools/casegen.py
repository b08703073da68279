"""Case generator for quivel_vib8.

Writes a complete, runnable case directory for a rectangular cylinder of
breadth B (along x) and depth D (along y) spanning the whole z extent:

    axis.dat          stretched grid (grid lines of x, y, z)
    flag.dat          body flags, one per cell
    quivel_vib8.inf   run parameters (16 fixed-column lines)
    quivel_vib8.fil   snapshot interval and snapshot file names
    esp2.inf          divergence-tolerance ramp
    change.inf        number of steps (re-read by the solver every step)
    console.in        console answers (Vin), so a run is `quivel_vib8 < console.in`
    DAT/              output directory
    case.json         the request, the values actually written and derived checks

A case is described by a recipe (a nested dict, usually a JSON file); every
key has a default, see DEFAULTS.  Lengths are in the units of the body
(normally D = 1); the core margins and the domain distances are in units of D.

Usage:
    casegen case --recipe cases/re100/recipe.json --out run/re100
    casegen case --recipe R --out DIR --set run.nt=500 --set grid.h=0.05
    casegen case --recipe R --check          (derived values only, no files)
"""

from __future__ import annotations

import argparse
import copy
import dataclasses
import json
import math
import os
import sys
from pathlib import Path

if __package__:
    from .columns import (FormatError, fmt_a, fmt_e, fmt_f,  # noqa: F401
                          fmt_f0, fmt_i, fortran_real, param_lines)
else:  # run as a script
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from qvtools.columns import (FormatError, fmt_a, fmt_e, fmt_f,  # noqa: F401
                                 fmt_f0, fmt_i, fortran_real, param_lines)

PROGRAM = "quivel_vib8"

# Largest grid the solver's field store holds (cells per direction).
# Cell limits of the store (the files carry grid-line counts: one more each).
NX_MAX, NY_MAX, NZ_MAX = 212, 160, 60
# Snapshot names the file-name list may hold; body-history samples per run.
NFL_MAX = 100
NSAMPLE_MAX = 70000
# Cap of the solver's viscous time-step bound.
DELM_CAP = 10000.0

DEFAULTS = {
    "name": "case",
    "description": "",
    "flow": {
        "Re": 100.0,
        "Vin": 1.0,
        "Cs": 0.0,
    },
    "body": {
        "B": 1.0,
        "D": 1.0,
        # any subset of x, y, theta; [] = fixed body
        "dof": [],
        # body mass / (rho B D span), rho = 1
        "mass_ratio": None,
        # reduced velocity Vin / (fn D): a number for every moving dof, or
        # {"x": .., "y": .., "theta": ..}; "fn" may be given instead
        "Ur": None,
        "fn": None,
        "zeta": 0.0,
        # moment of inertia / (rho B D span (B^2 + D^2) / 12); default mass_ratio
        "inertia_ratio": None,
        "beta": 0.25,
        # tangential reflection at the body surface: 0 no-slip, 1 slip
        "ca1": 0.0,
        # imposed start-up oscillation: amplitudes (x, y in length units,
        # theta in radians) imposed while t < until
        "startup": {"x": 0.0, "y": 0.0, "theta": 0.0, "until": 0.0},
    },
    "grid": {
        "h": 0.1,          # uniform cell size of the core box (x and y)
        "hy": None,        # optional different core size in y
        "ratio": 1.08,     # geometric growth from the core to the boundaries
        "hmax": 0.5,       # largest cell size
        # core box margins from the body faces, in D
        "core": {"upstream": 0.5, "downstream": 2.0, "lateral": 0.5,
                 "below": None, "above": None},
        # domain extents from the body centre, in D
        "domain": {"upstream": 5.0, "downstream": 12.0, "lateral": 6.0,
                   "below": None, "above": None},
        "span": 4.0,
        "nz": 4,
    },
    "boundaries": {
        "y": "slip",        # slip | periodic
        "z": "periodic",    # periodic | slip | wall-bottom
        "ca2": 0.0,         # bottom wall factor (z = wall-bottom): 0 no-slip, 1 slip
    },
    "run": {
        "dt": None,         # None: derived from cfl_target
        "cfl_target": 0.1,
        "cfl_limit": 0.3,   # warn above, refuse above 1
        "nt": 600,
        "esp": 0.001,
        "omg": 1.5,
        "ramp": {"ic2": 0, "ic3": 50, "sesp": None},   # sesp default 10 esp
        "nsmp": None,       # body-history sampling interval; None: 1 or more
    },
    "output": {
        "axis": "axis.dat",
        "flag": "flag.dat",
        "input": "fffff",
        "final": "DAT/final.dat",
        "stat": "DAT/stat.dat",
        "nfile0": "DAT/body.dat",
        "nfile": "DAT/body.dat",
        "vfile": "DAT/vib.dat",
        "snap_interval": 0,
        "snap_count": 0,
        "snap_prefix": "DAT/snap",
        # restart only (input not "fffff"): answer to the solver's question
        # whether the time series is continued (true) or started anew
        "append_time_series": True,
    },
    # probe points (x, y, z) in grid coordinates for probes.inf; None: the
    # default set (see probe_points), [] for none
    "probes": None,
}

DOF_NAMES = ("x", "y", "theta")
_DOF_ALIASES = {"x": "x", "y": "y", "theta": "theta", "t": "theta",
                "rot": "theta", "rotation": "theta"}
# moving degrees of freedom -> the solver's ndof selector
NDOF = {frozenset(): 0, frozenset({"y"}): 1, frozenset({"x"}): 2,
        frozenset({"theta"}): 3, frozenset({"x", "y"}): 4,
        frozenset({"y", "theta"}): 5, frozenset({"x", "y", "theta"}): 6}

# Natural frequency given to degrees of freedom that do not move; only needs
# to be positive (the solver takes square roots of stiffness / mass).
_IDLE_UR = 5.0


def program_path():
    """The program as built by the README's commands (QV_PROGRAM overrides)."""
    exe = os.environ.get("QV_PROGRAM")
    if not exe:
        root = Path(__file__).resolve().parents[2]
        exe = str(root / "build" / PROGRAM)
    return exe


class CaseError(ValueError):
    """A request the generator refuses."""


# --------------------------------------------------------------------------
# fixed-column fields

def as_written(text):
    """The value the solver reads from a numeric field written here."""
    return fortran_real(text)


def wrap_fields(fields, per_line):
    """Lines of `per_line` fields each (the last one shorter)."""
    return ["".join(fields[i:i + per_line]) for i in range(0, len(fields), per_line)]


# --------------------------------------------------------------------------
# recipe handling

def merge_recipe(recipe, defaults=DEFAULTS, path=()):
    """Defaults overlaid with `recipe`; unknown keys are refused (typos)."""
    if not isinstance(recipe, dict):
        raise CaseError(f"recipe section {'.'.join(path) or '(top)'} must be an object")
    out = copy.deepcopy(defaults)
    for key, value in recipe.items():
        if key.startswith("_") or key == "comment":
            continue
        if key not in defaults:
            where = ".".join(path + (key,))
            raise CaseError(f"unknown recipe key {where!r}")
        sub = defaults[key]
        if isinstance(sub, dict):
            out[key] = merge_recipe(value, sub, path + (key,))
        else:
            out[key] = copy.deepcopy(value)
    return out


def apply_override(recipe, assignment):
    """Apply one `a.b.c=value` override (value parsed as JSON, else a string)."""
    if "=" not in assignment:
        raise CaseError(f"override {assignment!r} is not of the form key=value")
    key, text = assignment.split("=", 1)
    try:
        value = json.loads(text)
    except json.JSONDecodeError:
        value = text
    parts = key.strip().split(".")
    node = recipe
    for part in parts[:-1]:
        node = node.setdefault(part, {})
        if not isinstance(node, dict):
            raise CaseError(f"override {key!r}: {part!r} is not a section")
    node[parts[-1]] = value
    return recipe


def _num(value, what, positive=False, nonneg=False):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise CaseError(f"{what} must be a number, got {value!r}")
    if positive and value <= 0:
        raise CaseError(f"{what} must be positive, got {value}")
    if nonneg and value < 0:
        raise CaseError(f"{what} must not be negative, got {value}")
    return float(value)


def _int(value, what, minimum=None):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or int(value) != value:
        raise CaseError(f"{what} must be an integer, got {value!r}")
    value = int(value)
    if minimum is not None and value < minimum:
        raise CaseError(f"{what} must be at least {minimum}, got {value}")
    return value


def parse_dof(value):
    """'y', 'xy', 'x+y', ['x', 'theta'], 'none', [] -> frozenset of dof names."""
    if value is None:
        return frozenset()
    if isinstance(value, str):
        text = value.strip().lower()
        if text in ("", "none", "fixed"):
            return frozenset()
        if text in _DOF_ALIASES:
            items = [text]
        elif "+" in text or "," in text:
            items = [s for s in text.replace(",", "+").split("+") if s.strip()]
        else:
            items = list(text)
    elif isinstance(value, (list, tuple)):
        items = list(value)
    else:
        raise CaseError(f"body.dof must be a string or a list, got {value!r}")
    dofs = set()
    for item in items:
        name = _DOF_ALIASES.get(str(item).strip().lower())
        if name is None:
            raise CaseError(f"unknown degree of freedom {item!r} (use x, y, theta)")
        dofs.add(name)
    dofs = frozenset(dofs)
    if dofs not in NDOF:
        raise CaseError("x and rotation without y is not a combination the solver "
                        "offers (choose from y, x, theta, x+y, y+theta, x+y+theta)")
    return dofs


def _per_dof(value, dofs, what):
    """A number for every dof in `dofs`, from a number or a per-dof dict."""
    if value is None:
        return {}
    if isinstance(value, dict):
        out = {}
        for key, v in value.items():
            name = _DOF_ALIASES.get(str(key).lower())
            if name is None:
                raise CaseError(f"{what}: unknown degree of freedom {key!r}")
            out[name] = _num(v, f"{what}.{name}")
        return out
    v = _num(value, what)
    return {d: v for d in dofs}


# --------------------------------------------------------------------------
# grid

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
                        f"h = {h:g} along {axis} (try h = {suggest:g})")
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


def _widths(lines):
    return [b - a for a, b in zip(lines, lines[1:])]


def _max_ratio(lines):
    w = _widths(lines)
    return max([max(a / b, b / a) for a, b in zip(w, w[1:])] or [1.0])


# --------------------------------------------------------------------------
# the case

@dataclasses.dataclass
class Case:
    """Everything a case directory is written from."""
    recipe: dict                 # merged recipe (defaults filled in)
    request: dict                # the recipe as given
    x: list
    y: list
    z: list
    body_cells: tuple            # (i0, i1, j0, j1): body cells i0 <= i < i1, j0 <= j < j1 (0-based)
    inf_lines: list
    fil_lines: list
    esp2_line: str
    change_line: str
    console: str
    derived: dict
    warnings: list
    probes: list = dataclasses.field(default_factory=list)

    @property
    def nx(self):
        return len(self.x) - 1

    @property
    def ny(self):
        return len(self.y) - 1

    @property
    def nz(self):
        return len(self.z) - 1

    def counts_line(self):
        """Grid-line counts (cells + 1), as the grid, flag and parameter files hold them."""
        return fmt_i(self.nx + 1, 5) + fmt_i(self.ny + 1, 5) + fmt_i(self.nz + 1, 5)

    def axis_lines(self):
        lines = [self.counts_line()]
        for coords in (self.x, self.y, self.z):
            lines += wrap_fields([fmt_f(v, 10, 5) for v in coords], 5)
        return lines

    def flags(self):
        """Flags in file order: i fastest, then j, then k."""
        i0, i1, j0, j1 = self.body_cells
        row_fluid = [0] * self.nx
        row_body = [1 if i0 <= i < i1 else 0 for i in range(self.nx)]
        plane = []
        for j in range(self.ny):
            plane += row_body if j0 <= j < j1 else row_fluid
        return plane * self.nz

    def flag_lines(self):
        lines = [self.counts_line()]
        fields = [f"{f:5d}" for f in self.flags()]
        return lines + wrap_fields(fields, 10)


def build_case(recipe):
    """Validate a recipe and derive everything a case needs (writes nothing)."""
    if dataclasses.is_dataclass(recipe) and not isinstance(recipe, type):
        recipe = dataclasses.asdict(recipe)
    request = copy.deepcopy(recipe)
    r = merge_recipe(recipe)
    try:
        return _assemble(r, request)
    except FormatError as exc:  # a value that does not fit its field
        raise CaseError(str(exc)) from None


def _assemble(r, request):
    """The case of the merged recipe r, part by part in the order of checking."""
    warnings = []
    flow, body, grid, bnd, run, out = (r[k] for k in
                                       ("flow", "body", "grid", "boundaries", "run", "output"))
    fl = _flow(flow)
    g = _grid(body, grid, fl["Re"], warnings)
    sides = _boundaries(body, bnd)
    step = _time_step(run, g, fl["Vin"], warnings)
    it = _iteration(run)
    b = _body(body, g, sides["iyper"], fl["Vin"], step["dt"], warnings)
    nsmp = _sampling(run, it["nt"])
    files = _files(out, it["nt"], warnings)

    params = {"nx": g["nx"] + 1, "ny": g["ny"] + 1, "nz": g["nz"] + 1,
              "Re": fl["Re"], "Cs": fl["Cs"], "dt": step["dt_asked"], "nt": it["nt"],
              "esp": it["esp"], "omg": it["omg"], "nsmp": nsmp}
    params.update({k: sides[k] for k in ("iyper", "izper", "ca1", "ca2")})
    params.update(b["params"])
    params.update({PARAM_NAMES[k]: v for k, v in files["names"].items()})
    inf = param_lines(params)
    fil = [fmt_i(files["ifc"], 5) + fmt_i(0, 5) + fmt_i(files["nfl"], 5)] + files["snap_lines"]
    esp2 = fmt_i(it["ic2"], 10) + fmt_i(it["ic3"], 10) + it["sesp_text"]
    change = fmt_i(it["nt"], 10)

    x, y, z = g["x"], g["y"], g["z"]
    dxs, dys, dzs = _widths(x), _widths(y), _widths(z)
    nt, dt = it["nt"], step["dt"]
    Vin, D = fl["Vin"], g["D"]
    bc = g["body_cells"]
    derived = {
        "nx": g["nx"], "ny": g["ny"], "nz": g["nz"],
        "grid_lines": [g["nx"] + 1, g["ny"] + 1, g["nz"] + 1],
        "cells": g["nx"] * g["ny"] * g["nz"],
        "x_range": [x[0], x[-1]], "y_range": [y[0], y[-1]], "z_range": [z[0], z[-1]],
        "dx_min": min(dxs), "dx_max": max(dxs), "dy_min": min(dys), "dy_max": max(dys),
        "dz_min": min(dzs), "dz_max": max(dzs),
        "max_neighbour_ratio": max(_max_ratio(x), _max_ratio(y)),
        "body_cells": {"i": [bc[0] + 1, bc[1]], "j": [bc[2] + 1, bc[3]],
                       "cells_across_B": bc[1] - bc[0], "cells_across_D": bc[3] - bc[2]},
        "blockage": D / (y[-1] - y[0]),
        "Re": as_written(fmt_f0(fl["Re"])), "Vin": Vin, "Cs": as_written(fmt_f(fl["Cs"], 10, 5)),
        "dt": dt, "delm": g["delm"], "dt_over_delm": dt / g["delm"],
        "cfl": step["cfl"], "cfl_limit": step["cfl_limit"],
        "nt": nt, "end_time": nt * dt, "end_time_over_D_Vin": nt * dt * Vin / D,
        "iyper": sides["iyper"], "izper": sides["izper"],
        "esp": as_written(it["esp_text"]), "omg": as_written(it["omg_text"]),
        "ramp": {"ic2": it["ic2"], "ic3": it["ic3"], "sesp": as_written(it["sesp_text"])},
        "body": b["derived"],
        "startup": b["startup"],
        "nsmp": nsmp,
        "snapshots": {"interval": files["ifc"], "names": files["snaps"]},
        "files": files["names"],
    }
    derived["probes"] = probes = probe_points(r["probes"], x, y, z, g["B"], D, warnings)
    console = _console(out, fl["Vin"], files["names"])
    return Case(recipe=r, request=request, x=x, y=y, z=z, body_cells=bc,
                inf_lines=inf, fil_lines=fil, esp2_line=esp2, change_line=change,
                console=console, derived=derived, warnings=warnings, probes=probes)


# the recipe's output keys -> the parameter file's names
PARAM_NAMES = {"axis": "axisfile", "flag": "flagfile", "input": "inputfile",
               "final": "finalfile", "stat": "statfile", "nfile0": "nfile0",
               "nfile": "nfile", "vfile": "vfile"}


def _flow(flow):
    """Re, Vin, Cs."""
    return {"Re": _num(flow["Re"], "flow.Re", positive=True),
            "Vin": _num(flow["Vin"], "flow.Vin", positive=True),
            "Cs": _num(flow["Cs"], "flow.Cs", nonneg=True)}


def _grid(body, grid, Re, warnings):
    """Grid lines x, y, z around the body, its cells and the viscous bound delm."""
    B = _num(body["B"], "body.B", positive=True)
    D = _num(body["D"], "body.D", positive=True)
    for size, name in ((B, "B"), (D, "D")):
        if round5(size / 2) != size / 2:
            raise CaseError(f"body.{name} / 2 must have at most 5 decimals "
                            "(the grid file holds 5)")
    h = _num(grid["h"], "grid.h", positive=True)
    hy = h if grid["hy"] is None else _num(grid["hy"], "grid.hy", positive=True)
    ratio = _num(grid["ratio"], "grid.ratio", positive=True)
    if ratio < 1.0:
        raise CaseError(f"grid.ratio must be at least 1, got {ratio}")
    if ratio > 1.2:
        warnings.append(f"stretch ratio {ratio} is steep; 1.05-1.1 keeps the "
                        "discretisation error of the stretching small")
    hmax = _num(grid["hmax"], "grid.hmax", positive=True)
    if hmax < max(h, hy):
        raise CaseError(f"grid.hmax = {hmax:g} is smaller than the core cell size")
    span = _num(grid["span"], "grid.span", positive=True)
    nz = _int(grid["nz"], "grid.nz", minimum=1)

    def side(section, key, what):
        v = section[key]
        if v is None:
            v = section["lateral"]
        return _num(v, f"grid.{what}.{key}", nonneg=(what == "core"),
                    positive=(what == "domain"))

    core, dom = grid["core"], grid["domain"]
    x = axis_lines(-B / 2, B / 2, h,
                   _num(core["upstream"], "grid.core.upstream", nonneg=True) * D,
                   _num(core["downstream"], "grid.core.downstream", nonneg=True) * D,
                   round5(-_num(dom["upstream"], "grid.domain.upstream", positive=True) * D),
                   round5(_num(dom["downstream"], "grid.domain.downstream", positive=True) * D),
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

    dxmin, dymin, dzmin = min(_widths(x)), min(_widths(y)), min(_widths(z))
    # viscous bound: d grows with every width, so the smallest widths give the minimum
    delm = min(DELM_CAP, (Re / 2) / (1 / (dxmin * dxmin) + 1 / (dymin * dymin)
                                     + 1 / (dzmin * dzmin)))
    return {"B": B, "D": D, "span": span, "x": x, "y": y, "z": z, "nx": nx, "ny": ny,
            "nz": nz, "body_cells": body_cells, "delm": delm,
            "hmin": min(dxmin, dymin, dzmin)}


def _boundaries(body, bnd):
    """iyper, izper and the reflection factors ca1, ca2 (as the file holds them)."""
    ykind = str(bnd["y"]).lower()
    zkind = str(bnd["z"]).lower()
    iyper = {"periodic": 0, "slip": 1}.get(ykind)
    izper = {"periodic": 0, "slip": 1, "wall-bottom": 2}.get(zkind)
    if iyper is None:
        raise CaseError(f"boundaries.y must be slip or periodic, got {bnd['y']!r}")
    if izper is None:
        raise CaseError(f"boundaries.z must be periodic, slip or wall-bottom, got {bnd['z']!r}")
    ca1 = _num(body["ca1"], "body.ca1")
    ca2 = _num(bnd["ca2"], "boundaries.ca2")
    for v, what in ((ca1, "body.ca1"), (ca2, "boundaries.ca2")):
        if not 0.0 <= v <= 1.0:
            raise CaseError(f"{what} must lie between 0 (no-slip) and 1 (slip)")
    return {"iyper": iyper, "izper": izper, "ca1": ca1, "ca2": ca2}


def _time_step(run, g, Vin, warnings):
    """dt (asked, and as the solver reads it back) against delm and the convective bound."""
    delm, hmin = g["delm"], g["hmin"]
    cfl_limit = _num(run["cfl_limit"], "run.cfl_limit", positive=True)
    if cfl_limit > 1.0:
        raise CaseError("run.cfl_limit must not exceed 1")
    if run["dt"] is None:
        target = min(_num(run["cfl_target"], "run.cfl_target", positive=True) * hmin / Vin,
                     0.9 * delm)
        dt = float(f"{target:.1e}")
        if dt > target * (1 + 1e-9):
            dt = float(f"{dt - 10 ** math.floor(math.log10(dt) - 1):.1e}")
    else:
        dt = _num(run["dt"], "run.dt", positive=True)
    dt_asked = dt
    dt = as_written(fmt_e(dt))
    if dt > delm:
        raise CaseError(f"time step dt = {dt:g} exceeds the viscous bound delm = {delm:.6g} "
                        "of this grid")
    cfl = dt * Vin / hmin
    if cfl > 1.0:
        raise CaseError(f"time step dt = {dt:g} gives a convective number dt Vin / h_min = "
                        f"{cfl:.3g} above 1")
    if cfl > cfl_limit:
        warnings.append(f"convective number dt Vin / h_min = {cfl:.3g} is above {cfl_limit}")
    return {"dt": dt, "dt_asked": dt_asked, "cfl": cfl, "cfl_limit": cfl_limit}


def _iteration(run):
    """nt, the pressure iteration's esp and omg, the tolerance ramp."""
    nt = _int(run["nt"], "run.nt", minimum=1)
    if nt > 99999:
        raise CaseError(f"run.nt = {nt} does not fit the parameter file (at most 99999); "
                        "split the run into restarts")
    esp = _num(run["esp"], "run.esp", positive=True)
    omg = _num(run["omg"], "run.omg", positive=True)
    if not 0.0 < omg < 2.0:
        raise CaseError(f"run.omg = {omg} must lie between 0 and 2")
    ramp = merge_recipe(run["ramp"], DEFAULTS["run"]["ramp"], ("run", "ramp"))
    ic2 = _int(ramp["ic2"], "run.ramp.ic2", minimum=0)
    ic3 = _int(ramp["ic3"], "run.ramp.ic3", minimum=2)
    sesp = 10 * esp if ramp["sesp"] is None else _num(ramp["sesp"], "run.ramp.sesp",
                                                      positive=True)
    esp_text, omg_text, sesp_text = fmt_f(esp, 10, 5), fmt_f(omg, 10, 5), fmt_f(sesp, 10, 5)
    for text, what in ((esp_text, "run.esp"), (sesp_text, "run.ramp.sesp")):
        if as_written(text) <= 0:
            raise CaseError(f"{what} rounds to 0 with 5 decimals")
    return {"nt": nt, "esp": esp, "omg": omg, "ic2": ic2, "ic3": ic3,
            "esp_text": esp_text, "omg_text": omg_text, "sesp_text": sesp_text}


def _body(body, g, iyper, Vin, dt, warnings):
    """The body's mass, inertia, springs, damping and start-up oscillation."""
    B, D, span = g["B"], g["D"], g["span"]
    dofs = parse_dof(body["dof"])
    ndof = NDOF[dofs]
    area_span = B * D * span
    if body["mass_ratio"] is None:
        if dofs:
            raise CaseError("body.mass_ratio is needed for a moving body")
        mstar = 1.0
    else:
        mstar = _num(body["mass_ratio"], "body.mass_ratio", positive=True)
    amas = mstar * area_span
    ir = mstar if body["inertia_ratio"] is None else _num(
        body["inertia_ratio"], "body.inertia_ratio", positive=True)
    aitm = ir * area_span * (B * B + D * D) / 12.0
    ur = _per_dof(body["Ur"], dofs, "body.Ur")
    fn = _per_dof(body["fn"], dofs, "body.fn")
    zeta = _per_dof(body["zeta"], dofs, "body.zeta")
    freq = {}
    for d in DOF_NAMES:
        if d in fn:
            freq[d] = _num(fn[d], f"body.fn.{d}", positive=True)
        elif d in ur:
            freq[d] = Vin / (_num(ur[d], f"body.Ur.{d}", positive=True) * D)
        elif d in dofs:
            raise CaseError(f"body.Ur or body.fn is needed for the moving dof {d}")
        else:
            freq[d] = Vin / (_IDLE_UR * D)
    inertia = {"x": amas, "y": amas, "theta": aitm}
    stiff = {d: inertia[d] * (2 * math.pi * freq[d]) ** 2 for d in DOF_NAMES}
    damp = {d: zeta.get(d, 0.0) if d in dofs else 0.0 for d in DOF_NAMES}
    for d, v in damp.items():
        if v < 0:
            raise CaseError(f"body.zeta for {d} must not be negative")
    beta = _num(body["beta"], "body.beta", positive=True)
    startup = merge_recipe(body["startup"], DEFAULTS["body"]["startup"], ("body", "startup"))
    amp = {d: _num(startup[d], f"body.startup.{d}") for d in DOF_NAMES}
    tfrc = _num(startup["until"], "body.startup.until", nonneg=True)
    if any(amp[d] and d not in dofs for d in DOF_NAMES):
        warnings.append("start-up oscillation of a dof that does not move has no effect")
    if iyper != 0 and ("y" in dofs or "theta" in dofs):
        # The y walls are fixed in the body frame: they move with the body and
        # hold the fluid between them, which the coupled step cannot carry.
        warnings.append("slip walls in y move with the body; a body moving in y or turning "
                        "confines the fluid between them and the coupled run grows unstable: "
                        "use boundaries.y = periodic")

    # the values as the solver reads them back from the parameter file
    amas_w, aitm_w = as_written(fmt_e(amas)), as_written(fmt_e(aitm))
    inertia_w = {"x": amas_w, "y": amas_w, "theta": aitm_w}
    body_out = {"ndof": ndof, "dof": sorted(dofs, key=DOF_NAMES.index),
                "mass_ratio": mstar, "amas": amas_w, "aitm": aitm_w, "beta": beta}
    steps_per_period = None
    for d in DOF_NAMES:
        k_w = as_written(fmt_e(stiff[d]))
        omega = math.sqrt(k_w / inertia_w[d])
        f_w = omega / (2 * math.pi)
        z_w = as_written(fmt_f(damp[d], 10, 5))
        body_out[d] = {"moving": d in dofs, "stiffness": k_w, "zeta": z_w,
                       "fn": f_w, "Ur": Vin / (f_w * D),
                       "damping_coefficient": 2 * inertia_w[d] * omega * z_w,
                       "steps_per_period": 1 / (f_w * dt)}
        if d in dofs:
            spp = 1 / (f_w * dt)
            steps_per_period = spp if steps_per_period is None else min(steps_per_period, spp)
    if steps_per_period is not None and steps_per_period < 100:
        warnings.append(f"only {steps_per_period:.0f} time steps per natural period")
    params = {"amas": amas, "aitm": aitm, "xkst": stiff["x"], "ykst": stiff["y"],
              "tkst": stiff["theta"], "xh0": damp["x"], "yh0": damp["y"], "th0": damp["theta"],
              "beta": beta, "ndof": ndof, "xamp": amp["x"], "yamp": amp["y"],
              "tamp": amp["theta"], "tfrc": tfrc}
    return {"params": params, "derived": body_out,
            "startup": {"xamp": amp["x"], "yamp": amp["y"], "tamp": amp["theta"], "tfrc": tfrc}}


def _sampling(run, nt):
    """nsmp, the body-history sampling interval."""
    nsmp = run["nsmp"]
    nsmp = max(1, math.ceil(nt / NSAMPLE_MAX)) if nsmp is None else _int(nsmp, "run.nsmp",
                                                                         minimum=0)
    if nsmp and nt / nsmp > NSAMPLE_MAX:
        raise CaseError(f"run.nsmp = {nsmp} takes more than {NSAMPLE_MAX} body-history "
                        f"samples in {nt} steps")
    return nsmp


def _files(out, nt, warnings):
    """The file names and the snapshot schedule."""
    names = {k: out[k] for k in PARAM_NAMES}
    for k, v in names.items():
        fmt_a(v, what=f"output.{k}")
    ifc = _int(out["snap_interval"], "output.snap_interval", minimum=0)
    nfl = _int(out["snap_count"], "output.snap_count", minimum=0)
    if nfl > NFL_MAX:
        raise CaseError(f"output.snap_count = {nfl} exceeds {NFL_MAX} snapshot names")
    if nfl and not ifc:
        raise CaseError("output.snap_count needs a positive output.snap_interval")
    if ifc > 99999:
        raise CaseError("output.snap_interval does not fit the file-name list (at most 99999)")
    prefix = out["snap_prefix"]
    snaps = [f"{prefix}{n:04d}" for n in range(1, nfl + 1)]
    snap_lines = [fmt_a(s, what="snapshot name (output.snap_prefix + 4 digits)") for s in snaps]
    if nfl and nfl * ifc > nt:
        warnings.append(f"only {nt // ifc} of the {nfl} snapshots fall within {nt} steps")
    return {"names": names, "ifc": ifc, "nfl": nfl, "snaps": snaps, "snap_lines": snap_lines}


def _console(out, Vin, names):
    """The console answers: Vin, and on a restart whether the time series goes on."""
    console = f"{Vin!r}\n"
    if not names["input"].startswith("fffff"):
        if not isinstance(out["append_time_series"], bool):
            raise CaseError("output.append_time_series must be true or false")
        console += "0\n" if out["append_time_series"] else "1\n"
    return console


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
        p = tuple(_num(v, f"probes[{n}]") for v in p)
        if not (x[0] <= p[0] <= x[-1] and y[0] <= p[1] <= y[-1] and z[0] <= p[2] <= z[-1]):
            raise CaseError(f"probes[{n}] = {list(p)} lies outside the domain "
                            f"x {x[0]:g}..{x[-1]:g}, y {y[0]:g}..{y[-1]:g}, z {z[0]:g}..{z[-1]:g}")
        if -B / 2 <= p[0] < B / 2 and -D / 2 <= p[1] < D / 2:
            raise CaseError(f"probes[{n}] = {list(p)} lies inside the body")
        out.append(p)
    return out


def _write_text(path, lines):
    with open(path, "w", encoding="ascii", newline="") as fh:
        fh.write("".join(line + "\r\n" for line in lines))


def write_case(directory, recipe, force=False):
    """Build the case of `recipe` (dict or dataclass) and write it to `directory`.

    Refuses a non-empty directory unless `force`; even then refuses when a
    snapshot file already exists (the solver creates snapshots as new files).
    Returns the Case.
    """
    case = build_case(recipe)
    directory = Path(directory)
    if directory.exists() and not directory.is_dir():
        raise CaseError(f"{directory} exists and is not a directory")
    if directory.exists() and any(directory.iterdir()) and not force:
        raise CaseError(f"{directory} is not empty (use --force to overwrite the case files)")
    files = case.derived["files"]
    if not files["input"].startswith("fffff"):
        for key in ("input", "nfile0"):
            if not (directory / files[key]).exists():
                case.warnings.append(f"restart file {files[key]} is not in {directory} yet")
    for name in case.derived["snapshots"]["names"]:
        if (directory / name).exists():
            raise CaseError(f"snapshot file {directory / name} already exists; the solver "
                            "would refuse to overwrite it")
    directory.mkdir(parents=True, exist_ok=True)
    (directory / "DAT").mkdir(exist_ok=True)
    # output files go to directories that must exist before the run
    for key in ("axis", "flag", "final", "stat", "nfile", "vfile"):
        (directory / files[key]).parent.mkdir(parents=True, exist_ok=True)
    for name in case.derived["snapshots"]["names"]:
        (directory / name).parent.mkdir(parents=True, exist_ok=True)
    _write_text(directory / files["axis"], case.axis_lines())
    _write_text(directory / files["flag"], case.flag_lines())
    _write_text(directory / f"{PROGRAM}.inf", case.inf_lines)
    _write_text(directory / f"{PROGRAM}.fil", case.fil_lines)
    _write_text(directory / "esp2.inf", [case.esp2_line])
    _write_text(directory / "change.inf", [case.change_line])
    with open(directory / "console.in", "w", encoding="ascii", newline="") as fh:
        fh.write(case.console)
    if case.probes:
        _write_text(directory / "probes.inf", [" ".join(f"{v:.5f}" for v in p) for p in case.probes])
    record = {"request": case.request, "recipe": case.recipe, "derived": case.derived,
              "warnings": case.warnings}
    with open(directory / "case.json", "w", encoding="utf-8") as fh:
        json.dump(record, fh, indent=2)
        fh.write("\n")
    return case


# --------------------------------------------------------------------------
# command line

def summary(case):
    d = case.derived
    b = d["body"]
    lines = [
        f"case {case.recipe['name']}: grid {d['nx']} x {d['ny']} x {d['nz']} "
        f"= {d['cells']} cells",
        f"  x [{d['x_range'][0]:g}, {d['x_range'][1]:g}]  dx {d['dx_min']:.5g}..{d['dx_max']:.5g}",
        f"  y [{d['y_range'][0]:g}, {d['y_range'][1]:g}]  dy {d['dy_min']:.5g}..{d['dy_max']:.5g}"
        f"  blockage {100 * d['blockage']:.2f}%",
        f"  z [{d['z_range'][0]:g}, {d['z_range'][1]:g}]  dz {d['dz_min']:.5g}",
        f"  body cells i {d['body_cells']['i']} j {d['body_cells']['j']}"
        f"  max stretch {d['max_neighbour_ratio']:.4f}",
        f"  Re {d['Re']:g}  Vin {d['Vin']:g}  Cs {d['Cs']:g}  dt {d['dt']:g}  "
        f"delm {d['delm']:.5g}  dt Vin/h_min {d['cfl']:.3f}",
        f"  nt {d['nt']}  end time {d['end_time']:g}",
        f"  ndof {b['ndof']} {'+'.join(b['dof']) or 'fixed'}  amas {b['amas']:g}"
        f"  aitm {b['aitm']:g}",
    ]
    for dof in b["dof"]:
        v = b[dof]
        lines.append(f"  {dof}: k {v['stiffness']:g}  fn {v['fn']:.5g}  Ur {v['Ur']:.4g}  "
                     f"zeta {v['zeta']:g}  {v['steps_per_period']:.0f} steps/period")
    return "\n".join(lines)


def load_recipe(path):
    try:
        with open(path, encoding="utf-8") as fh:
            return json.load(fh)
    except OSError as exc:
        raise CaseError(f"cannot read recipe {path}: {exc.strerror}") from None
    except json.JSONDecodeError as exc:
        raise CaseError(f"recipe {path} is not valid JSON: {exc}") from None


def _configure(parser):
    parser.add_argument("--recipe", help="recipe JSON file (default: built-in defaults)")
    parser.add_argument("--out", help="case directory to write")
    parser.add_argument("--set", dest="overrides", action="append", default=[],
                        metavar="KEY=VALUE",
                        help="override a recipe value, e.g. run.nt=500 or grid.h=0.05 "
                             "(repeatable; VALUE is JSON or a plain string)")
    parser.add_argument("--force", action="store_true",
                        help="write into a non-empty directory")
    parser.add_argument("--check", action="store_true",
                        help="only validate and print the derived values")
    parser.add_argument("--json", action="store_true",
                        help="print the derived values as JSON")
    return parser


def add_parser(subparsers):
    """Register the `case` subcommand."""
    parser = subparsers.add_parser(
        "case", help="write a runnable case directory",
        description="Write a runnable case directory for a rectangular cylinder.")
    _configure(parser)
    parser.set_defaults(func=main)
    return parser


def main(args):
    """Run the `case` subcommand; returns 0, or exits with status 2 on a refusal."""
    try:
        recipe = load_recipe(args.recipe) if args.recipe else {}
        for assignment in args.overrides:
            apply_override(recipe, assignment)
        if args.check or not args.out:
            if not args.check:
                raise CaseError("--out DIR is required (or --check)")
            case = build_case(recipe)
        else:
            case = write_case(args.out, recipe, force=args.force)
    except CaseError as exc:
        print(f"casegen: error: {exc}", file=sys.stderr)
        raise SystemExit(2)
    for w in case.warnings:
        print(f"casegen: warning: {w}", file=sys.stderr)
    if args.json:
        print(json.dumps(case.derived, indent=2))
    else:
        print(summary(case))
        if args.out and not args.check:
            exe = program_path()
            print(f"written to {args.out}; run there: {exe} < console.in > console.log"
                  + ("" if os.path.exists(exe) else "  (not built yet: scripts/example.sh builds it)"))
    return 0


if __name__ == "__main__":
    _top = argparse.ArgumentParser(prog="casegen")
    _sub = _top.add_subparsers(dest="command", required=True)
    add_parser(_sub)
    _args = _top.parse_args()
    sys.exit(_args.func(_args))
