"""Parameter sweeps: one case per value of a recipe key, run side by side.

    qv sweep --recipe R --vary body.Ur=3:0.5:10 --out DIR   # write the cases
    qv sweep run DIR [--jobs N]                              # run them (resumable)
    qv sweep summary DIR                                     # table + plot
    qv sweep slurm DIR                                       # Slurm job-array script

DIR/sweep.json lists the cases.  Each case directory holds the case files
and, once run, "console.log" (the program's console) and "qv_status.json"
(state, exit code, seconds).  A case whose status is "done" with exit code 0
is not run again; any other case is cleaned back to its case files (every
file that was not there when the case was written is removed) and run anew,
so an interrupted sweep resumes where it stopped.  A case that a signal
stopped (a batch system's wall-time limit) is continued exactly, in place
(see qvtools.task).
"""

import concurrent.futures
import json
import math
import os
import re
import shutil
import subprocess
import sys
import time

import numpy as np

from .runfiles import CASE_FILE, CONSOLE_FILE, TS_FILE, find_program
from .task import (LOG_FILE, STATUS_FILE, SWEEP_FILE, clean, is_done, load,  # noqa: F401 (API)
                   run_case, status)
from .task import manifest as _manifest

HERE = os.path.dirname(os.path.abspath(__file__))


def parse_values(values_text):
    """Values of "A:STEP:B" (A to B inclusive) or "v1,v2,..."."""
    try:
        if ":" in values_text:
            a, step, b = (float(v) for v in values_text.split(":"))
            if step <= 0 or b < a:
                raise ValueError
            n = int(math.floor((b - a) / step + 1e-9)) + 1
            return [round(a + m * step, 12) for m in range(n)]
        return [float(v) for v in values_text.split(",") if v.strip()]
    except ValueError:
        raise ValueError(f"cannot read the values {values_text!r}: use A:STEP:B with STEP > 0 "
                         f"and B >= A, or a comma-separated list") from None


def _case_name(key, value):
    return f"{key.split('.')[-1]}_{value:g}"




def create(out, recipe_path, vary, overrides=(), force=False):
    """Write one case per value of *vary* ("key=A:STEP:B" or "key=a,b,c") into *out*."""
    from .case.build import write_case
    from .case.recipe import CaseError, apply_override, load_recipe
    if "=" not in vary:
        raise ValueError(f"--vary {vary!r} is not of the form key=A:STEP:B")
    key, values_text = vary.split("=", 1)
    values = parse_values(values_text)
    if not values:
        raise ValueError(f"--vary {vary!r} gives no value")
    if os.path.exists(os.path.join(out, SWEEP_FILE)) and not force:
        raise ValueError(f"{out} already holds a sweep (use --force to write it anew)")
    try:
        recipe = load_recipe(recipe_path) if recipe_path else {}
        for a in overrides:
            apply_override(recipe, a)
        cases = []
        for v in values:
            name = _case_name(key, v)
            r = json.loads(json.dumps(recipe))
            apply_override(r, f"{key}={json.dumps(v)}")
            folder = os.path.join(out, name)
            if os.path.isdir(folder) and os.listdir(folder):
                if not force:
                    raise ValueError(f"{folder} exists and is not empty (use --force to "
                                     f"write the sweep anew)")
                shutil.rmtree(folder)
            case = write_case(folder, r)
            cases.append({"name": name, "value": v, "warnings": case.warnings,
                          "files": _manifest(folder)})
    except CaseError as exc:
        raise ValueError(str(exc)) from None
    record = {"recipe": recipe_path and os.path.abspath(recipe_path), "key": key,
              "values": values_text, "overrides": list(overrides), "cases": cases}
    with open(os.path.join(out, SWEEP_FILE), "w", encoding="utf-8") as fh:
        json.dump(record, fh, indent=2)
        fh.write("\n")
    return record














def run(folder, jobs=None, program=None, only=None, out=None):
    """Run the cases of a sweep that are not done, *jobs* at a time (default:
    the number of cores).  *only*: a case name or index to run alone.
    Returns the number of cases that failed."""
    out = out or sys.stdout
    rec = load(folder)
    cases = rec["cases"]
    program = find_program(program)
    if only is not None:
        pick = [c for n, c in enumerate(cases) if str(only) in (c["name"], str(n))]
        if not pick:
            raise ValueError(f"no case {only!r} in {folder} (0..{len(cases) - 1} or a name)")
        st = run_case(folder, pick[0], program)
        if st.get("skipped"):
            print(f"{pick[0]['name']}: {'done already' if is_done(st) else st.get('error')}, "
                  f"not run again", file=out)
        else:
            print(f"{pick[0]['name']}: exit code {st['rc']} after {st['seconds']:.1f} s"
                  + (" (stopped by a signal; the next run continues it exactly)"
                     if st["state"] == "stopped" else ""), file=out)
        return int(not is_done(st))
    todo = [c for c in cases if not is_done(status(folder, c))]
    jobs = max(1, jobs or os.cpu_count() or 1)
    n_all, n_done = len(cases), len(cases) - len(todo)
    print(f"{n_all} cases, {n_done} done already, {len(todo)} to run, {jobs} at a time",
          file=out, flush=True)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(run_case, folder, c, program): c for c in todo}
        for fut in concurrent.futures.as_completed(futures):
            c = futures[fut]
            n_done += 1
            try:
                st = fut.result()
            except OSError as exc:
                st = {"rc": None, "seconds": 0.0, "error": str(exc)}
            ok = st.get("rc") == 0
            failed += not ok
            what = "done" if ok else f"FAILED (exit code {st.get('rc')}, see " \
                                     f"{os.path.join(c['name'], LOG_FILE)})"
            print(f"[{n_done}/{n_all}] {c['name']} {what} in {st['seconds']:.1f} s",
                  file=out, flush=True)
    return failed


def _natural_frequency(case_dir):
    """(dof, natural frequency) of the first moving degree of freedom."""
    with open(os.path.join(case_dir, CASE_FILE), encoding="utf-8") as fh:
        body = json.load(fh)["derived"]["body"]
    for d in body.get("dof", []):
        return d, body[d]["fn"]
    return None, None


def summary_rows(folder, tmin=None):
    """One dict per case: the varied value, amplitudes, frequencies,
    coefficients (None for cases not done)."""
    from .readers import read_timeseries
    from .signals import dominant_frequency
    from .summary import summarize
    rec = load(folder)
    rows = []
    for c in rec["cases"]:
        row = {"case": c["name"], "value": c["value"], "state": "not run"}
        st = status(folder, c)
        rows.append(row)
        if not is_done(st):
            row["state"] = st.get("state", "new") if st.get("rc") in (None, 0) else \
                f"failed ({st.get('rc')})"
            continue
        cdir = os.path.join(folder, c["name"])
        try:
            s = summarize(cdir, tmin=tmin)
        except (OSError, ValueError) as exc:
            row["state"] = "no summary"
            print(f"qv: warning: {c['name']}: {exc}", file=sys.stderr)
            continue
        dof, fn = _natural_frequency(cdir)
        ts = read_timeseries(os.path.join(cdir, TS_FILE))
        sel = ts["t"] >= s["t_from"]
        col = {"x": "xdis", "y": "ydis"}.get(dof)
        f_body = dominant_frequency(ts["t"][sel], ts[col][sel]) if col else float("nan")
        d = s["body_height_D"] or float("nan")
        amp = s[col + "_amp"] if col else None
        row.update({"state": "done", "dof": dof, "A_D": amp / d if amp is not None else None,
                    "f_body": f_body if math.isfinite(f_body) else None, "fn": fn,
                    "f_ratio": f_body / fn if fn and math.isfinite(f_body) else None,
                    "f_lift": s["shedding_frequency"], "St": s["strouhal"],
                    "cd_mean": s["cd_mean"], "cl_rms": s["cl_rms"], "cycles": s["cycles"],
                    "t_from": s["t_from"], "t_to": s["t_to"], "warnings": len(s["warnings"]),
                    "settled": not s["unsettled"],
                    "A_D_err": (s.get(col + "_amp_settled_err") or 0.0) / d if col else None})
        if col and s.get(col + "_amp_settled") is not None:
            # the response: the amplitude of the last cycles, not the window's extreme
            row["A_D"] = s[col + "_amp_settled"] / d
        if s["unsettled"]:
            row["state"] = "UNSETTLED"
            print(f"qv: warning: {c['name']}: NOT SETTLED: "
                  + "; ".join(st["reason"] for st in s["settled"].values() if not st["settled"]),
                  file=sys.stderr)
    return rec["key"], rows


_COLS = [("value", "{:g}"), ("A_D", "{:.4g}"), ("A_D_err", "{:.2g}"), ("f_body", "{:.4g}"), ("fn", "{:.4g}"),
         ("f_ratio", "{:.4g}"), ("f_lift", "{:.4g}"), ("St", "{:.4g}"), ("cd_mean", "{:.4g}"),
         ("cl_rms", "{:.4g}"), ("cycles", "{:.1f}"), ("warnings", "{}")]


def format_rows(key, rows):
    head = [key] + [n for n, _ in _COLS[1:]] + ["state"]
    lines = ["  ".join(f"{h:>9s}" for h in head)]
    for r in rows:
        cells = [f.format(r[n]) if r.get(n) is not None else "-" for n, f in _COLS]
        lines.append("  ".join(f"{v:>9s}" for v in cells) + f"  {r['state']:>9s}")
    lines.append("cd_mean, cl_rms: pressure force only; cl_rms = standard deviation of Cl "
                 "about its mean")
    return "\n".join(lines)


# What each column of the sweep table holds (the header of its CSV).
COLUMN_UNITS = (
    ("A_D", "amplitude / D of the moving dof: mean half peak-to-peak of the last cycles"),
    ("A_D_err", "standard error of A_D"),
    ("f_body", "frequency of the body's displacement, program units (1 / time)"),
    ("fn", "natural frequency of the case, program units"),
    ("f_ratio", "f_body / fn"),
    ("f_lift", "frequency of the lift, program units"),
    ("St", "f_lift D / Vin"),
    ("cd_mean", "mean Cd, pressure force only"),
    ("cl_rms", "standard deviation of Cl about its mean, pressure force only"),
    ("cycles", "lift cycles in the analysed window"),
    ("warnings", "number of warnings of the case's summary"),
    ("state", "done, UNSETTLED (the response still changes: not a result), failed, not run"),
)


def write_csv(key, rows, path, folder=None):
    """The sweep table as CSV under "#" lines of provenance and units."""
    from .runfiles import provenance
    rec = load(folder) if folder else None
    head = provenance(f"sweep of {key}: one row per case", None,
                      [os.path.join(folder, c["name"]) for c in rec["cases"]] if rec else ())
    head += [f"# {key}: the varied recipe value"] + [f"# {n}: {m}" for n, m in COLUMN_UNITS]
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(head) + "\n")
        fh.write(",".join([key] + [n for n, _ in _COLS[1:]] + ["state"]) + "\n")
        for r in rows:
            vals = ["" if r.get(n) is None else f"{r[n]:.8g}" if isinstance(r[n], float)
                    else str(r[n]) for n, _ in _COLS]
            fh.write(",".join(vals + [r["state"]]) + "\n")
    return path


def plot_rows(key, rows, path, title=None, look=None):
    """Amplitude and frequency ratio against the varied value: settled cases
    as dots with their standard error, unsettled ones as red crosses."""
    from .plots import _save, check_output, plt
    check_output(path)
    done = [r for r in rows if r["state"] in ("done", "UNSETTLED")]
    v = np.array([r["value"] for r in done], float)

    def col(name):
        return np.array([np.nan if r.get(name) is None else r[name] for r in done], float)

    fig, (a1, a2) = plt.subplots(2, 1, figsize=(6.5, 6), sharex=True)
    dof = next((r["dof"] for r in done if r.get("dof")), None)
    ok = np.array([bool(r.get("settled")) for r in done])
    a1.plot(v, col("A_D"), "-", color="C0", lw=1)
    if ok.any():
        a1.errorbar(v[ok], col("A_D")[ok], yerr=np.nan_to_num(col("A_D_err")[ok]), fmt="o",
                    color="C0", capsize=3, label="settled (± standard error)")
    if (~ok).any():
        a1.plot(v[~ok], col("A_D")[~ok], "x", color="C3", ms=9, mew=2, label="NOT settled")
    a1.legend(fontsize=8)
    a1.set_ylabel(f"A{dof or ''}/D\n(mean of the last cycles)")
    a1.set_ylim(bottom=0)
    if np.any(np.isfinite(col("f_ratio"))):
        a2.plot(v, col("f_ratio"), "o-", label="body f / fn")
        a2.plot(v, col("f_lift") / col("fn"), "s--", mfc="none", label="lift f / fn")
        a2.axhline(1.0, color="0.5", lw=0.8, ls=":")
        a2.set_ylabel("f / fn")
        a2.legend(fontsize=8)
    else:
        a2.plot(v, col("St"), "o-")
        a2.set_ylabel("St = f D / Vin")
    labels = {"Ur": "Ur = Vin / (fn D)", "Re": "Re", "mass_ratio": "m*", "zeta": "ζ"}
    a2.set_xlabel(labels.get(key.split(".")[-1], key))
    for ax in (a1, a2):
        ax.grid(alpha=0.3)
    a1.set_title(title or f"sweep of {key}")
    return _save(fig, path, look)


def _sbatch_value(text, what, pattern=""):
    """A value for an #SBATCH line: sbatch reads the line itself (no shell).
    A literal % is doubled (it starts a file-name pattern there) before
    *pattern* (Slurm's own %A, %a) is added, and the value is double-quoted
    unless it is plain.  A newline, carriage return, NUL, double quote or
    backslash cannot be carried at all and is refused."""
    bad = [c for c in ("\n", "\r", "\0", '"', "\\") if c in text]
    if bad:
        raise ValueError(f"the {what} {text!r} holds {', '.join(repr(c) for c in bad)}, which an "
                         "#SBATCH line cannot carry: move the sweep to a plainer path")
    value = text.replace("%", "%%") + pattern
    return value if re.fullmatch(r"[\w./:,+=@%-]+", value) else '"' + value + '"'


def slurm_script(folder, program=None, time_limit="24:00:00", partition=None,
                 account=None, python=None, preamble=None, threads=1, mem=None, throttle=None):
    """Write DIR/sweep.sbatch: a job array with one task per case.

    Each task runs one case through qvtools.task, which needs no numpy: it
    skips a case that is done, continues exactly one that a signal stopped
    (the wall-time limit sends SIGTERM; submit the script again to go on),
    and runs any other.  *python* is the interpreter on the nodes
    (default "python3" from the PATH the preamble sets up); *preamble* a
    list of site commands (module load ...) run before it; *threads* the
    cores per task (OMP_NUM_THREADS); *mem* Slurm's --mem; *throttle* the
    most tasks at a time (--array=0-N%T).
    """
    rec = load(folder)
    folder = os.path.abspath(folder)
    program = os.path.abspath(program) if program else find_program(None)
    tools = os.path.abspath(os.path.join(HERE, ".."))
    python = python or "python3"
    threads = int(threads)
    if threads < 1:
        raise ValueError(f"--threads must be at least 1, got {threads}")
    n = len(rec["cases"])
    array = f"0-{n - 1}" + (f"%{int(throttle)}" if throttle else "")
    name = "qv-" + os.path.basename(folder.rstrip("/"))
    lines = ["#!/bin/bash",
             f"#SBATCH --job-name={_sbatch_value(name, 'job name')}",
             f"#SBATCH --array={array}",
             "#SBATCH --ntasks=1",
             f"#SBATCH --cpus-per-task={threads}",
             f"#SBATCH --time={_sbatch_value(time_limit, 'time limit')}",
             f"#SBATCH --output={_sbatch_value(folder, 'sweep folder', '/slurm-%A_%a.out')}"]
    for flag, value in (("partition", partition), ("account", account), ("mem", mem)):
        if value:
            lines.append(f"#SBATCH --{flag}={_sbatch_value(str(value), flag)}")
    for what, path in (("program", program), ("tools folder", tools), ("interpreter", python)):
        if any(c in path for c in "\n\r\0"):
            raise ValueError(f"the {what} path {path!r} holds a line break or NUL")
    lines += ["# One task per case of the sweep; the case's own console goes to",
              "# CASE/console.log, its state to CASE/" + STATUS_FILE + ". A task stopped",
              "# by the time limit is continued exactly when the script is submitted again.",
              "set -euo pipefail"]
    lines += list(preamble or [])
    lines += [f"export OMP_NUM_THREADS={threads}",
              f"export QV_THREADS={threads}",
              f"export PYTHONPATH={_q(tools)}${{PYTHONPATH:+:$PYTHONPATH}}",
              f"exec {_q(python)} -m qvtools.task {_q(folder)} \"$SLURM_ARRAY_TASK_ID\" "
              f"--program {_q(program)}"]
    path = os.path.join(folder, "sweep.sbatch")
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(lines) + "\n")
    os.chmod(path, 0o755)
    return path


def _q(text):
    import shlex
    return shlex.quote(text)
