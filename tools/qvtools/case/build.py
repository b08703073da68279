"""A case assembled: the run's values checked, the grid, the body
parameters and the lines of every file brought together in a Case, which
``writer`` writes."""

import copy
import dataclasses
import math

from ..columns import FormatError, fmt_a, fmt_e, fmt_f, fmt_f0, fmt_i, param_lines
from .body import body_parameters
from .grid import build_grid, max_ratio, probe_points, widths
from .recipe import DEFAULTS, CaseError, integer, merge_recipe, number
from .writer import Case, as_written, write_files

# Snapshot names the file-name list may hold; body-history samples per run.
NFL_MAX = 100
NSAMPLE_MAX = 70000


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
    g = build_grid(body, grid, fl["Re"], warnings)
    sides = _boundaries(body, bnd)
    step = _time_step(run, g, fl["Vin"], warnings)
    it = _iteration(run)
    b = body_parameters(body, g, sides["iyper"], fl["Vin"], step["dt"], warnings)
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
    dxs, dys, dzs = widths(x), widths(y), widths(z)
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
        "max_neighbour_ratio": max(max_ratio(x), max_ratio(y)),
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
    return {"Re": number(flow["Re"], "flow.Re", positive=True),
            "Vin": number(flow["Vin"], "flow.Vin", positive=True),
            "Cs": number(flow["Cs"], "flow.Cs", nonneg=True)}


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
    ca1 = number(body["ca1"], "body.ca1")
    ca2 = number(bnd["ca2"], "boundaries.ca2")
    for v, what in ((ca1, "body.ca1"), (ca2, "boundaries.ca2")):
        if not 0.0 <= v <= 1.0:
            raise CaseError(f"{what} must lie between 0 (no-slip) and 1 (slip)")
    return {"iyper": iyper, "izper": izper, "ca1": ca1, "ca2": ca2}


def _time_step(run, g, Vin, warnings):
    """dt (asked, and as the solver reads it back) against delm and the convective bound."""
    delm, hmin = g["delm"], g["hmin"]
    cfl_limit = number(run["cfl_limit"], "run.cfl_limit", positive=True)
    if cfl_limit > 1.0:
        raise CaseError("run.cfl_limit must not exceed 1")
    if run["dt"] is None:
        target = min(number(run["cfl_target"], "run.cfl_target", positive=True) * hmin / Vin,
                     0.9 * delm)
        dt = float(f"{target:.1e}")
        if dt > target * (1 + 1e-9):
            dt = float(f"{dt - 10 ** math.floor(math.log10(dt) - 1):.1e}")
    else:
        dt = number(run["dt"], "run.dt", positive=True)
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
    nt = integer(run["nt"], "run.nt", minimum=1)
    if nt > 99999:
        raise CaseError(f"run.nt = {nt} does not fit the parameter file (at most 99999); "
                        "split the run into restarts")
    esp = number(run["esp"], "run.esp", positive=True)
    omg = number(run["omg"], "run.omg", positive=True)
    if not 0.0 < omg < 2.0:
        raise CaseError(f"run.omg = {omg} must lie between 0 and 2")
    ramp = merge_recipe(run["ramp"], DEFAULTS["run"]["ramp"], ("run", "ramp"))
    ic2 = integer(ramp["ic2"], "run.ramp.ic2", minimum=0)
    ic3 = integer(ramp["ic3"], "run.ramp.ic3", minimum=2)
    sesp = 10 * esp if ramp["sesp"] is None else number(ramp["sesp"], "run.ramp.sesp",
                                                      positive=True)
    esp_text, omg_text, sesp_text = fmt_f(esp, 10, 5), fmt_f(omg, 10, 5), fmt_f(sesp, 10, 5)
    for text, what in ((esp_text, "run.esp"), (sesp_text, "run.ramp.sesp")):
        if as_written(text) <= 0:
            raise CaseError(f"{what} rounds to 0 with 5 decimals")
    return {"nt": nt, "esp": esp, "omg": omg, "ic2": ic2, "ic3": ic3,
            "esp_text": esp_text, "omg_text": omg_text, "sesp_text": sesp_text}


def _sampling(run, nt):
    """nsmp, the body-history sampling interval."""
    nsmp = run["nsmp"]
    nsmp = max(1, math.ceil(nt / NSAMPLE_MAX)) if nsmp is None else integer(nsmp, "run.nsmp",
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
    ifc = integer(out["snap_interval"], "output.snap_interval", minimum=0)
    nfl = integer(out["snap_count"], "output.snap_count", minimum=0)
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


def write_case(directory, recipe, force=False):
    """Build the case of `recipe` (dict or dataclass) and write it to `directory`.

    Refuses a non-empty directory unless `force`; even then refuses when a
    snapshot file already exists (the solver creates snapshots as new files).
    Returns the Case.
    """
    return write_files(directory, build_case(recipe), force)


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
