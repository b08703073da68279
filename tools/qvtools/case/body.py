"""The body parameters of a case: mass, moment of inertia, springs,
damping and the imposed start-up oscillation, as the program reads them
back from the parameter file."""

import math

from ..columns import fmt_e, fmt_f
from .recipe import DEFAULTS, DOF_NAMES, NDOF, CaseError, merge_recipe, number, parse_dof, per_dof
from .writer import as_written

# Natural frequency given to degrees of freedom that do not move; only needs
# to be positive (the solver takes square roots of stiffness / mass).
_IDLE_UR = 5.0


def body_parameters(body, g, iyper, Vin, dt, warnings):
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
        mstar = number(body["mass_ratio"], "body.mass_ratio", positive=True)
    amas = mstar * area_span
    ir = mstar if body["inertia_ratio"] is None else number(
        body["inertia_ratio"], "body.inertia_ratio", positive=True)
    aitm = ir * area_span * (B * B + D * D) / 12.0
    ur = per_dof(body["Ur"], dofs, "body.Ur")
    fn = per_dof(body["fn"], dofs, "body.fn")
    zeta = per_dof(body["zeta"], dofs, "body.zeta")
    freq = {}
    for d in DOF_NAMES:
        if d in fn:
            freq[d] = number(fn[d], f"body.fn.{d}", positive=True)
        elif d in ur:
            freq[d] = Vin / (number(ur[d], f"body.Ur.{d}", positive=True) * D)
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
    beta = number(body["beta"], "body.beta", positive=True)
    startup = merge_recipe(body["startup"], DEFAULTS["body"]["startup"], ("body", "startup"))
    amp = {d: number(startup[d], f"body.startup.{d}") for d in DOF_NAMES}
    tfrc = number(startup["until"], "body.startup.until", nonneg=True)
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
