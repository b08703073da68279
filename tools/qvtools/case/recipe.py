"""The recipe of a case: its defaults, the overrides of the command line,
and the checks of single values and of the degrees of freedom.

A case is described by a recipe (a nested dict, usually a JSON file); every
key has a default, see DEFAULTS.  Lengths are in the units of the body
(normally D = 1); the core margins and the domain distances are in units of D.
"""

import copy
import json
import math


class CaseError(ValueError):
    """A request the generator refuses."""


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


def number(value, what, positive=False, nonneg=False):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise CaseError(f"{what} must be a number, got {value!r}")
    if positive and value <= 0:
        raise CaseError(f"{what} must be positive, got {value}")
    if nonneg and value < 0:
        raise CaseError(f"{what} must not be negative, got {value}")
    return float(value)


def integer(value, what, minimum=None):
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


def per_dof(value, dofs, what):
    """A number for every dof in `dofs`, from a number or a per-dof dict."""
    if value is None:
        return {}
    if isinstance(value, dict):
        out = {}
        for key, v in value.items():
            name = _DOF_ALIASES.get(str(key).lower())
            if name is None:
                raise CaseError(f"{what}: unknown degree of freedom {key!r}")
            out[name] = number(v, f"{what}.{name}")
        return out
    v = number(value, what)
    return {d: v for d in dofs}


def load_recipe(path):
    try:
        with open(path, encoding="utf-8") as fh:
            return json.load(fh)
    except OSError as exc:
        raise CaseError(f"cannot read recipe {path}: {exc.strerror}") from None
    except json.JSONDecodeError as exc:
        raise CaseError(f"recipe {path} is not valid JSON: {exc}") from None
