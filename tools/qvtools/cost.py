"""What a case will cost: its cells, its steps and the wall time expected on
this machine.

The time comes from one of two sources, and the output says which:

- a calibration: the case itself is run for a few steps in a scratch
  folder (its own grid, body and tolerance; ``change.inf`` cut to
  CAL_STEPS steps) and the steps after the first are timed from
  ``change.out``; the time per step times the case's steps is the
  estimate.  The cost per cell and step it gives is stored (COST_FILE) for
  the thread count it ran with;
- the stored cost per cell and step of an earlier calibration with the same
  number of threads, times cells x steps (no calibration).

A step's cost is mostly the pressure iteration, whose count per step
changes over a run (an impulsive start iterates most, a settled wake
least), so the first steps a calibration sees are no exact sample of the
whole run; and the machine may be shared.  The estimate is a guide.

Threads: the cost per cell is kept per thread count (OMP_NUM_THREADS, or
the cores), never scaled from one count to another: two threads on two
cores do not halve it.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

from .readers import read_change
from .runfiles import CHANGE_FILE, CHANGE_INPUT, CONSOLE_FILE, find_program

CAL_STEPS = 20          # steps a calibration runs
CAL_SKIP = 2            # steps it leaves out of the timing (start-up, first allocation)
CAL_LIMIT = 60.0        # seconds after which a calibration stops with what it has
MIN_TIMED = 3           # steps it needs timed to give a cost


def cost_file():
    """Where the per-cell costs are kept: $QV_COST_FILE, else the user's cache."""
    if os.environ.get("QV_COST_FILE"):
        return os.environ["QV_COST_FILE"]
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "quivel_vib8", "cost.json")


def threads():
    """The thread count a run started from here gets: OMP_NUM_THREADS, else the cores."""
    try:
        n = int(os.environ.get("OMP_NUM_THREADS", "").split(",")[0])
        if n > 0:
            return n
    except ValueError:
        pass
    return os.cpu_count() or 1


def per_step(samples, skip=CAL_SKIP):
    """Seconds per step from (wall time, step) readings of change.out: the
    time from the first reading at a step past *skip* to the last, over the
    steps between them.  None with fewer than MIN_TIMED steps timed."""
    first = {}
    for w, nn in samples:                    # the moment each step was first seen
        if nn > skip:
            first.setdefault(nn, w)
    pts = sorted(first.items())
    if len(pts) < 2 or pts[-1][0] - pts[0][0] < MIN_TIMED:
        return None
    (n0, w0), (n1, w1) = pts[0], pts[-1]
    return (w1 - w0) / (n1 - n0)


def load_costs(path=None):
    try:
        with open(path or cost_file(), encoding="utf-8") as fh:
            data = json.load(fh)
        return data if isinstance(data, dict) else {}
    except (OSError, ValueError):
        return {}


def store_cost(seconds_per_cell_step, nthreads, path=None):
    """Keep the cost per cell and step measured with *nthreads* threads."""
    path = path or cost_file()
    data = load_costs(path)
    data[str(nthreads)] = {"seconds_per_cell_step": seconds_per_cell_step,
                           "measured": time.strftime("%Y-%m-%d %H:%M:%S"),
                           "host": os.uname().nodename}
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    tmp = path + ".part"
    with open(tmp, "w", encoding="utf-8") as fh:
        json.dump(data, fh, indent=2)
        fh.write("\n")
    os.replace(tmp, path)


def calibrate(case_dir, program=None, steps=CAL_STEPS, limit=CAL_LIMIT, clock=time.monotonic):
    """Seconds per step of the case in *case_dir*, timed over a short run of
    a copy of it in a scratch folder.  None when too few steps were timed."""
    program = find_program(program)
    scratch = tempfile.mkdtemp(prefix="qv-calibrate-")
    try:
        work = os.path.join(scratch, "case")
        shutil.copytree(case_dir, work)
        with open(os.path.join(work, CHANGE_INPUT), "w", encoding="ascii") as fh:
            fh.write(f"{steps:10d}\n")
        samples = []
        with open(os.path.join(work, CONSOLE_FILE), "rb") as cin:
            proc = subprocess.Popen([program], cwd=work, stdin=cin, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        start = clock()
        try:
            while proc.poll() is None:
                time.sleep(0.02)
                try:
                    nn = read_change(os.path.join(work, CHANGE_FILE))["nn"]
                except (OSError, ValueError):
                    continue
                samples.append((clock(), nn))
                if clock() - start > limit and per_step(samples) is not None:
                    proc.send_signal(signal.SIGTERM)     # ends after its step
                    break
        finally:
            proc.wait()
        return per_step(samples)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def _clock_text(seconds):
    seconds = int(round(seconds))
    h, rest = divmod(seconds, 3600)
    m, s = divmod(rest, 60)
    return f"{h}h{m:02d}m{s:02d}s" if h else f"{m}m{s:02d}s"


def estimate(cells, nt, case_dir=None, program=None, calibrate_case=True, path=None,
             run=calibrate):
    """(seconds or None, the lines that say how it was found).

    With *calibrate_case* the case in *case_dir* is timed (and the cost per
    cell stored); otherwise, or when that fails, the stored cost for this
    thread count is used."""
    n = threads()
    lines = [f"cost: {cells} cells x {nt} steps = {cells * nt:.4g} cell-steps, {n} thread"
             + ("s" if n > 1 else "")]
    if calibrate_case and case_dir:
        try:
            step = run(case_dir, program, min(CAL_STEPS, nt))
        except (OSError, subprocess.SubprocessError) as exc:
            step, why = None, str(exc)
        else:
            why = "too few steps timed"
        if step is not None:
            store_cost(step / cells, n, path)
            lines.append(f"  expected wall time {_clock_text(step * nt)} on this machine, "
                         f"from a calibration of {min(CAL_STEPS, nt)} steps of this case "
                         f"({step:.4g} s per step, {step / cells * 1e6:.4g} µs per cell-step; "
                         f"stored for {n} thread{'s' if n > 1 else ''})")
            return step * nt, lines + _caveat()
        lines.append(f"  no calibration ({why})")
    stored = load_costs(path).get(str(n))
    if stored:
        c = stored["seconds_per_cell_step"]
        lines.append(f"  expected wall time {_clock_text(c * cells * nt)}, from the stored cost "
                     f"of {c * 1e6:.4g} µs per cell-step ({n} thread{'s' if n > 1 else ''}, "
                     f"measured {stored.get('measured', '?')} on {stored.get('host', '?')})")
        return c * cells * nt, lines + _caveat()
    lines.append(f"  no stored cost for {n} thread{'s' if n > 1 else ''}: "
                 "`qv case --out DIR` times a calibration of the case it writes")
    return None, lines


def _caveat():
    return ["  (the pressure iterations per step change over a run, and a shared machine "
            "is slower: a guide, not a promise)",
            "  (a calibration times the first steps of a fresh start, which iterate most: "
            "for a long LES it can overstate the whole run several times over)"]
