"""One case of a sweep as a batch task: run it, or continue it exactly where
a signal stopped it, and record its state.  Needs nothing beyond the
standard library, so that a task starts on any node.

A case whose status is "done" with exit code 0 is skipped.  A case that a
signal stopped (the wall-time limit of a batch system sends SIGTERM) has
its end-of-run files and the state saved beside its body-state file: the
next task continues it in place, exactly (the program reads the state
named in "continue.inf"), so that the case ends with the files one
unbroken run would have written.  Anything else (a case never started, one
killed without warning, one that failed) is cleaned back to its case files
and run anew.
"""

import json
import os
import signal
import struct
import subprocess
import threading
import time

from .runfiles import CONSOLE_FILE, CONTINUE_INPUT, PARAM_FILE, STATE_SUFFIX, process_running

SWEEP_FILE = "sweep.json"
STATUS_FILE = "qv_status.json"
LOG_FILE = "console.log"
# Statistics of a stopped segment (over its own steps) are kept under this suffix.
SEGMENT_STATS = ".segment"


def load(folder):
    path = os.path.join(folder, SWEEP_FILE)
    if not os.path.exists(path):
        raise FileNotFoundError(f"{folder} is not a sweep: {SWEEP_FILE} is missing")
    with open(path, encoding="utf-8") as fh:
        return json.load(fh)


def manifest(folder):
    files = []
    for root, _, names in os.walk(folder):
        files += [os.path.relpath(os.path.join(root, n), folder) for n in names]
    return sorted(files)


def status(folder, case):
    path = os.path.join(folder, case["name"], STATUS_FILE)
    if not os.path.exists(path):
        return {"state": "new"}
    try:
        with open(path, encoding="utf-8") as fh:
            return json.load(fh)
    except (OSError, ValueError):
        return {"state": "unknown"}


def is_done(st):
    return st.get("state") == "done" and st.get("rc") == 0


def write_status(folder, st):
    tmp = os.path.join(folder, STATUS_FILE + ".tmp")
    with open(tmp, "w", encoding="utf-8") as fh:
        json.dump(st, fh)
    os.replace(tmp, os.path.join(folder, STATUS_FILE))


def clean(folder, case):
    """Remove every file of the case directory that the case did not start
    with (results of an earlier, unfinished run)."""
    keep = set(case["files"])
    for rel in manifest(folder):
        if rel not in keep:
            os.remove(os.path.join(folder, rel))


# ------------------------------------------------- continuing exactly in place

def _param_lines(run_dir):
    with open(os.path.join(run_dir, PARAM_FILE), "rb") as fh:
        return fh.read().decode("latin-1").split("\r\n")


def _field(line, col):
    """The 14-column file name starting at column col (from 1)."""
    return line[col - 1:col + 13].strip()


def _set_field(line, col, name):
    if len(name) > 14:
        raise ValueError(f"the file name {name!r} does not fit its 14 columns")
    line = line.ljust(col + 13)
    return line[:col - 1] + name.ljust(14) + line[col + 13:]


def run_files(run_dir):
    """The names of the run's files that a continuation touches."""
    inf = _param_lines(run_dir)
    return {"inputfile": _field(inf[0], 35), "finalfile": _field(inf[0], 51),
            "statfile": _field(inf[0], 67), "nfile0": _field(inf[9], 3),
            "nfile": _field(inf[9], 19), "vfile": _field(inf[9], 35)}


def state_step(path):
    """The step number a state file was saved at, or None when it is not one."""
    try:
        with open(path, "rb") as fh:
            head = fh.read(4 + 44 + 8 + 8)
        (n1,) = struct.unpack_from("<i", head, 0)
        magic, layout = struct.unpack_from("<ii", head, 4)
        (n2,) = struct.unpack_from("<i", head, 4 + n1 + 4)
        (nn,) = struct.unpack_from("<i", head, 4 + n1 + 8)
    except (OSError, struct.error):
        return None
    if magic != 0x53435651 or layout != 1 or n1 != 44 or n2 < 4:
        return None
    return nn


def continuable(run_dir):
    """The step a run stopped in run_dir can be continued exactly from, or
    None: it needs its final field file, its body state and the state
    beside it, and no half-finished commit."""
    try:
        f = run_files(run_dir)
    except (OSError, IndexError):
        return None
    final = os.path.join(run_dir, f["finalfile"])
    nfile = os.path.join(run_dir, f["nfile"])
    state = nfile + STATE_SUFFIX
    if not (os.path.isfile(final) and os.path.isfile(nfile) and os.path.isfile(state)):
        return None
    return state_step(state)


def continue_in_place(run_dir):
    """Turn the stopped run in run_dir into the case that continues it
    exactly: the restart pair it wrote as input, "continue.inf" naming the
    state beside it, the stopped segment's statistics put aside.  Returns
    the step the run goes on from."""
    step = continuable(run_dir)
    if step is None:
        raise ValueError(f"{run_dir} holds no run that can be continued exactly")
    f = run_files(run_dir)
    inf = _param_lines(run_dir)
    inf[0] = _set_field(inf[0], 35, f["finalfile"])
    inf[9] = _set_field(inf[9], 3, f["nfile"])
    tmp = os.path.join(run_dir, PARAM_FILE + ".tmp")
    with open(tmp, "wb") as fh:
        fh.write("\r\n".join(inf).encode("latin-1"))
    os.replace(tmp, os.path.join(run_dir, PARAM_FILE))
    stat = os.path.join(run_dir, f["statfile"])
    if os.path.exists(stat):
        n = 1
        while os.path.exists(f"{stat}{SEGMENT_STATS}{n}"):
            n += 1
        os.replace(stat, f"{stat}{SEGMENT_STATS}{n}")
    with open(os.path.join(run_dir, CONTINUE_INPUT), "w", encoding="ascii") as fh:
        fh.write(f["nfile"] + STATE_SUFFIX + "\n")
    with open(os.path.join(run_dir, CONSOLE_FILE), encoding="latin-1") as fh:
        vin = fh.read().split()[0]
    with open(os.path.join(run_dir, CONSOLE_FILE), "w", encoding="ascii") as fh:
        fh.write(f"{vin}\n0\n")
    return step


# --------------------------------------------------------------- one task

def _threads():
    return os.environ.get("QV_THREADS") or os.environ.get("SLURM_CPUS_PER_TASK") or "1"


def run_case(folder, case, program, out=None):
    """Run one case in its directory (console.in to the program, its console
    to console.log, appended to by a continuation); returns the status written."""
    cdir = os.path.join(folder, case["name"])
    st = status(folder, case)
    if is_done(st):
        return dict(st, skipped=True)
    if process_running(cdir):
        return {"state": "running", "rc": None, "seconds": 0.0, "skipped": True,
                "error": f"{case['name']} is running elsewhere"}
    step = continuable(cdir) if st.get("state") == "stopped" else None
    if step is not None:
        continue_in_place(cdir)
        mode = "ab"
    else:
        clean(cdir, case)
        mode = "wb"
    start = time.time()
    write_status(cdir, {"state": "running", "started": start, "host": os.uname().nodename,
                        "pid": os.getpid(), "continued_from": step})
    env = dict(os.environ, OMP_NUM_THREADS=_threads())
    with open(os.path.join(cdir, CONSOLE_FILE), "rb") as cin, \
            open(os.path.join(cdir, LOG_FILE), mode) as log:
        child = subprocess.Popen([program], cwd=cdir, stdin=cin, stdout=log,
                                 stderr=subprocess.STDOUT, env=env)

        # A batch system's SIGTERM reaches the task: the program ends after
        # its step with its end-of-run files, and the case is left "stopped".
        def forward(sig, _frame):
            child.send_signal(sig)
        main_thread = threading.current_thread() is threading.main_thread()
        old = {s: signal.signal(s, forward) for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)} \
            if main_thread else {}
        try:
            rc = child.wait()
        finally:
            for s, h in old.items():
                signal.signal(s, h)
    seconds = round(time.time() - start, 3)
    stopped = rc is not None and rc > 128 and continuable(cdir) is not None
    st = {"state": "stopped" if stopped else "done", "rc": rc, "seconds": seconds,
          "continued_from": step}
    write_status(cdir, st)
    return st


def main(argv=None):
    """python3 -m qvtools.task SWEEP_DIR CASE [--program P]: one task."""
    import argparse
    p = argparse.ArgumentParser(prog="qvtools.task", description=main.__doc__)
    p.add_argument("folder")
    p.add_argument("case")
    p.add_argument("--program", required=True)
    a = p.parse_args(argv)
    cases = load(a.folder)["cases"]
    pick = [c for n, c in enumerate(cases) if a.case in (c["name"], str(n))]
    if not pick:
        print(f"qvtools.task: no case {a.case!r} in {a.folder}")
        return 2
    st = run_case(a.folder, pick[0], a.program)
    what = "skipped (done already)" if st.get("skipped") and is_done(st) else st["state"]
    print(f"{pick[0]['name']}: {what}, exit code {st.get('rc')}")
    return 0 if is_done(st) else (st.get("rc") or 1)


if __name__ == "__main__":
    raise SystemExit(main())
