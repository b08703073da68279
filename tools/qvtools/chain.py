"""A long run as a chain of restarts: writing the continuation case and
reading the chain back as one run in time.

``qv restart RUN --out NEXT --steps N`` writes NEXT, a case that continues
RUN from its final field file and body-state file.  Nothing of RUN is ever
overwritten: the inputs are linked (or copied) into NEXT under names of
their own, and the outputs carry the segment number.  NEXT holds a small
record, ``restart.json``, that names the folder it continues, so the tools
find the whole chain from its last folder.

Joining: segment k covers the times (start_k, start_k+1]; its time-series
lines and body-history samples in that window are taken, so a time series
that was appended (and so repeats the earlier segments) is not counted twice.
"""

import json
import math
import os
import shutil
import sys

import numpy as np

from .columns import PARAM_LAYOUT, fmt_a, fmt_f, fmt_i, format_line, fortran_int
from .readers import (FormatError, Run, TimeSeries, read_body, read_field, read_history,
                      read_name_list, read_statistics, read_timeseries)
from .records import RecordError
from .runfiles import (CASE_FILE, CHANGE_INPUT, CKPT_SUFFIX, COMMIT_HEAD, COMMIT_SUFFIX, CONSOLE_FILE,
                       CONTINUE_INPUT, NAME_FILE, PARAM_FILE, PROBES_FILE, PROBES_INPUT,
                       STATE_SUFFIX, TOLERANCE_FILE, TS_FILE, process_running)

CHAIN_FILE = "restart.json"
# Inputs of a continuation, linked to the earlier run's end-of-run files.
INPUT_FIELD = "DAT/in_fld.dat"
INPUT_BODY = "DAT/in_bdy.dat"
_EPS = 1e-9


class ChainError(ValueError):
    """A run that cannot be continued or a chain that does not hold together."""


# ---------------------------------------------------------------- the chain

def read_record(run_dir):
    """The restart record of a folder, or None for a run that starts fresh."""
    path = os.path.join(run_dir, CHAIN_FILE)
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as fh:
        return json.load(fh)


def segment_dirs(paths):
    """Run folders of a chain, oldest first.

    Several paths are taken as the chain, in the order given.  One path is
    followed back through the ``previous`` folders its restart records name.
    """
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    paths = [os.fspath(p) for p in paths]
    if len(paths) != 1:
        return paths
    dirs, seen = [paths[0]], {os.path.realpath(paths[0])}
    while True:
        rec = read_record(dirs[0])
        if not rec or not rec.get("previous"):
            return dirs
        prev = os.path.normpath(os.path.join(dirs[0], rec["previous"]))
        if os.path.realpath(prev) in seen:
            raise ChainError(f"the restart records of {paths[0]} run in a circle at {prev}")
        if not os.path.isdir(prev):
            raise ChainError(f"{os.path.join(dirs[0], CHAIN_FILE)} names {prev}, "
                             "which is not there any more")
        seen.add(os.path.realpath(prev))
        dirs.insert(0, prev)


def start_time(run_dir):
    """Time at which a run folder's own (last) segment starts: from its
    restart record, else from the last "#start at t=" header of its time
    series, else 0."""
    rec = read_record(run_dir)
    if rec and "start_time" in rec:
        return float(rec["start_time"])
    path = os.path.join(run_dir, TS_FILE)
    if os.path.exists(path):
        segs = read_timeseries(path).segments
        if segs and np.isfinite(segs[-1]["start_time"]):
            return float(segs[-1]["start_time"])
    return 0.0


def _windows(dirs):
    """Per folder: the start of its segment and the window (lo, hi] of its lines."""
    starts = [start_time(d) for d in dirs]
    lows = [-np.inf] + starts[1:]
    highs = starts[1:] + [np.inf]
    return starts, lows, highs


def joined_timeseries(paths):
    """The time series of a chain as one TimeSeries.

    Each segment's lines in its own time window; ``segments`` holds, per
    segment, the index of its first line, its start time and its folder.
    Where the folders given skip segments of an exact chain (say the first
    and the last, carried from another machine), the later file, which holds
    the run's series from its start, fills the time between them.
    """
    dirs = segment_dirs(paths)
    starts, lows, highs = _windows(dirs)
    cols, segments = None, []
    taken = -np.inf  # the last time taken so far
    for d, start, t0, t1 in zip(dirs, starts, lows, highs):
        path = os.path.join(d, TS_FILE)
        if not os.path.exists(path):
            raise FileNotFoundError(f"no time series in {d}: {path} is missing")
        ts = read_timeseries(path)
        sel = (ts["t"] > min(t0, taken) + _EPS) & (ts["t"] <= t1 + _EPS)
        if sel.any():
            taken = max(taken, float(ts["t"][sel].max()))
        if cols is None:
            cols = {k: [] for k in ts.data}
        first = sum(len(c) for c in cols["t"])
        segments.append({"index": first, "start_time": start, "run": d})
        for k in cols:
            cols[k].append(ts[k][sel])
    data = {k: np.concatenate(v) for k, v in cols.items()}
    if len(dirs) == 1:
        segments = ts.segments  # the file's own header pairs mark its restarts
    return TimeSeries(data, segments)


def joined_history(paths):
    """The body histories of a chain as one dict of arrays.

    ``time`` is absolute (segment start + the sample's time in its segment);
    ``restarts`` lists the start times of the segments after the first.
    Skipped segments of an exact chain are filled from the later history,
    as in ``joined_timeseries``.
    """
    dirs = segment_dirs(paths)
    starts, lows, highs = _windows(dirs)
    parts, header = [], None
    origin = 0.0
    taken = -np.inf  # the last time taken so far
    for d, t0, lo, t1 in zip(dirs, starts, lows, highs):
        h = read_history(history_path(d))
        header = header or dict(h.header)
        rec = read_record(d) or {}
        # an exact continuation's history runs from the start of the run it continues
        origin = origin if rec.get("exact") else t0
        time = h["time"] + origin
        sel = (time > min(lo, taken) + _EPS) & (time <= t1 + _EPS)
        if sel.any():
            taken = max(taken, float(time[sel].max()))
        part = {k: h[k][sel] for k in h.blocks}
        part["time"] = time[sel]
        parts.append(part)
    out = {k: np.concatenate([p[k] for p in parts]) for k in parts[0]}
    out["restarts"] = starts[1:]
    out["header"] = header
    return out


# ---------------------------------------------------------------- restart

def saved_history(run):
    """The body history a killed run saved at its last snapshot instant."""
    return run.history_path + CKPT_SUFFIX


def _end_or_saved(path):
    """An end-of-run file, or the one saved beside it at the last snapshot
    instant of a run that did not reach its end, where only that is there."""
    saved = path + CKPT_SUFFIX
    return saved if not os.path.exists(path) and os.path.exists(saved) else path


def history_path(run_dir):
    """The body history of a folder: vfile, or the one saved at the last
    snapshot instant of a run that did not reach its end."""
    return _end_or_saved(Run(run_dir).history_path)


def statistics_path(run_dir):
    """The statistics of a folder: statfile, or the statistics so far saved
    at the last snapshot instant of a run that did not reach its end."""
    return _end_or_saved(Run(run_dir).stat_path)


def _sync_dir_of(path):
    try:
        fd = os.open(os.path.dirname(path) or ".", os.O_RDONLY | os.O_DIRECTORY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def complete_commit(journal):
    """Finish the renames of a commit journal that a run killed while putting
    its set in place left behind, as the program itself does at its next
    start: every "<part>\t<target>" line (paths relative to the journal's
    folder) whose part is still there is renamed onto its target, then the
    journal is removed.  False, after removing a half-written journal, when
    there is none; ChainError for a journal that is not one."""
    if not os.path.exists(journal):
        if os.path.exists(journal + ".part"):
            os.remove(journal + ".part")
        return False
    with open(journal, "rb") as fh:
        text = fh.read().decode("latin-1")
    base = os.path.dirname(journal)
    pairs, first, pos = [], True, 0
    while pos < len(text):
        end = text.find("\n", pos)
        end = len(text) if end < 0 else end
        line, pos = text[pos:end], end + 1
        if first:
            if line != COMMIT_HEAD:
                raise ChainError(f"{journal} is not a commit journal of {COMMIT_HEAD.split()[0]}: "
                                 f"its first line is {line!r}")
            first = False
        elif "\t" not in line:
            raise ChainError(f"{journal}: the line {line!r} names no file pair")
        else:
            part, target = line.split("\t", 1)
            pairs.append((os.path.join(base, part), os.path.join(base, target)))
    if first:
        raise ChainError(f"{journal} is empty: not a commit journal")
    for part, target in pairs:
        if os.path.exists(part):
            try:
                os.rename(part, target)
            except OSError as exc:
                raise ChainError(f"cannot finish {journal}: {part} -> {target}: "
                                 f"{exc.strerror}") from None
    for _, target in pairs:
        _sync_dir_of(target)
    os.remove(journal)
    _sync_dir_of(journal)
    return True


def _check_end_files(run, from_snapshot=False):
    """Refuse a run without complete end-of-run files, naming the file.

    With *from_snapshot*, the set saved at the last snapshot instant of a run
    that did not reach its end (final field file, nfile, vfile.ckpt) is taken.
    """
    need = [("final field file", "finalfile", read_field),
            ("body-state file (nfile)", "nfile", read_body)]
    if not from_snapshot:
        need[1:1] = [("statistics file", "statfile", read_statistics),
                     ("vibration history file (vfile)", "vfile", read_history)]
    elif not os.path.exists(saved_history(run)):
        raise ChainError(f"{run.path}: no history saved at a snapshot instant "
                         f"({saved_history(run)} is missing)")
    for what, key, reader in need:
        path = run.file(run.params[key])
        if not os.path.exists(path):
            hint = ""
            if os.path.exists(saved_history(run)):
                hint = ("; its last snapshot instant was saved: --from-snapshot continues "
                        "from there")
            raise ChainError(f"{run.path} has no complete end of run: the {what} {path} "
                             f"is missing (the run has not ended, was killed hard, or blew up)"
                             f"{hint}")
        try:
            f = reader(path)
        except (RecordError, FormatError, ValueError) as exc:
            raise ChainError(f"{run.path}: the {what} {path} is incomplete or damaged: {exc}") \
                from None
        if key == "finalfile":
            field = f
    final = run.file(run.params["finalfile"])
    later = [saved_history(run)] if from_snapshot else \
        [run.file(run.params[k]) for k in ("statfile", "vfile", "nfile")]
    for path in later:
        if os.path.getmtime(path) < os.path.getmtime(final) - 2.0:
            raise ChainError(f"{run.path}: {path} is older than the final field file {final}: "
                             "a later run in this folder did not reach its end")
    if not np.all(np.isfinite(field["uu"])):
        raise ChainError(f"{run.path}: the final field file holds non-finite velocities "
                         "(the flow blew up)")
    return field


def _link(src, dst):
    try:
        os.link(src, dst)
    except OSError:
        shutil.copy2(src, dst)


def _segment_names(n, nfl):
    tag = f"{n:02d}"
    snap = "DAT/snap" if len(tag) <= 2 else "DAT/s"
    return {"stat": f"DAT/stat{tag}.dat" if len(tag) <= 2 else f"DAT/st{tag}.dat",
            "vfile": f"DAT/vib{tag}.dat",
            "nfile": f"DAT/body{tag}.dat" if len(tag) <= 2 else f"DAT/bd{tag}.dat",
            "snaps": [f"{snap}{tag}_{m:03d}" for m in range(1, nfl + 1)]}


def _copy_until(src, dst, t_end):
    """Copy a text output with time in its second column, without the lines
    after t_end (written after the snapshot instant a restart goes back to)."""
    with open(src, "r", encoding="latin-1", newline="") as fh:
        lines = fh.read().split("\n")
    keep = []
    for line in lines:
        words = line.split()
        if len(words) >= 2 and not line.lstrip().startswith("#"):
            try:
                if float(words[1]) > t_end + _EPS:
                    continue
            except ValueError:
                pass
        keep.append(line)
    with open(dst, "w", encoding="latin-1", newline="") as fh:
        fh.write("\n".join(keep))


def _continuation_lines(run, inf, names, nt):
    """Lines 1, 9 and 10 of a continuation's parameter file anew (the input
    pair, the segment's output names, nt); every other line exactly as RUN
    had it."""
    p = run.params
    try:
        inf[0] = format_line([p["axisfile"], p["flagfile"], INPUT_FIELD, p["finalfile"],
                              names["stat"]], PARAM_LAYOUT[0][1])
        inf[8] = format_line([nt], PARAM_LAYOUT[8][1])
        inf[9] = format_line([INPUT_BODY, names["nfile"], names["vfile"]], PARAM_LAYOUT[9][1])
    except ValueError as exc:
        raise ChainError(f"{run.file(PARAM_FILE)}: {exc}") from None


def _check_target(run_dir, out_dir):
    if os.path.realpath(run_dir) == os.path.realpath(out_dir):
        raise ChainError("--out must be a new folder, not the run itself")
    if os.path.exists(out_dir) and (not os.path.isdir(out_dir) or os.listdir(out_dir)):
        raise ChainError(f"{out_dir} exists and is not an empty folder")
    if process_running(run_dir):
        raise ChainError(f"{run_dir} is still running: continue it once it has ended "
                         "(SIGTERM ends it after the current step with its end-of-run files)")


def _write_exact(run, run_dir, out_dir, steps, from_snapshot):
    """The exact continuation of run in out_dir (see write_restart)."""
    from .task import state_step
    _check_target(run_dir, out_dir)
    journal = run.file(run.params["nfile"]) + COMMIT_SUFFIX
    if complete_commit(journal):
        print(f"qv: warning: completed the set that {run_dir} left half renamed when it "
              f"stopped ({journal})", file=sys.stderr)
    field = _check_end_files(run, from_snapshot)
    t_end = float(field.header["t"])
    state = run.file(run.params["nfile"]) + STATE_SUFFIX
    step = state_step(state) if os.path.exists(state) else None
    carried = (read_record(run_dir) or {}).get("carried_from", False) is not False
    if step is None and carried:
        raise ChainError(f"{run_dir} was carried (qv carry) without the state an exact "
                         "continuation needs: continue it without --exact")
    if step is None:
        raise ChainError(f"{run_dir} cannot be continued exactly: {state} is missing or is no "
                         "state file (a run of an earlier version of the program); continue "
                         "it without --exact")
    planned = _planned_steps(run)
    nt = planned if steps is None else step + steps
    if steps is not None and steps < 1:
        raise ChainError(f"--steps must be at least 1, got {steps}")
    if nt <= step:
        raise ChainError(f"{run_dir} has reached its planned end (step {step} of {planned}): "
                         "give --steps N to go on")
    if nt > 99999:
        raise ChainError(f"the run would end at step {nt}, beyond what the parameter file holds")
    rec = read_record(run_dir) or {}
    segment = int(rec.get("segment", 1)) + 1
    with open(run.file(PARAM_FILE), "rb") as fh:
        inf = fh.read().decode("latin-1").replace("\r\n", "\n").split("\n")
    names = _segment_names(segment, 0)
    p = run.params
    _continuation_lines(run, inf, names, nt)
    os.makedirs(os.path.join(out_dir, "DAT"), exist_ok=True)
    _, _, snaps = read_name_list(run.file(NAME_FILE))
    for name in (p["axisfile"], p["flagfile"], NAME_FILE, TOLERANCE_FILE, PROBES_INPUT, CASE_FILE,
                 "iter.dat"):
        if os.path.exists(run.file(name)):
            dst = os.path.join(out_dir, name)
            os.makedirs(os.path.dirname(dst) or out_dir, exist_ok=True)
            shutil.copy2(run.file(name), dst)
    for name in (p["finalfile"], names["stat"], *snaps):
        os.makedirs(os.path.dirname(os.path.join(out_dir, name)) or out_dir, exist_ok=True)
    _link(run.file(p["finalfile"]), os.path.join(out_dir, INPUT_FIELD))
    _link(run.file(p["nfile"]), os.path.join(out_dir, INPUT_BODY))
    _link(state, os.path.join(out_dir, INPUT_BODY + STATE_SUFFIX))
    # the text outputs go on where the state stands
    for name in (TS_FILE, PROBES_FILE, "fort.1", "fort.2"):
        if os.path.exists(run.file(name)):
            _copy_until(run.file(name), os.path.join(out_dir, name), t_end)
    with open(os.path.join(out_dir, PARAM_FILE), "w", encoding="latin-1", newline="") as fh:
        fh.write("".join(line + "\r\n" for line in inf[:16]))
    with open(os.path.join(out_dir, CHANGE_INPUT), "w", encoding="latin-1", newline="") as fh:
        fh.write(f"{nt:10d}\r\n")
    with open(run.file(CONSOLE_FILE), encoding="latin-1") as fh:
        vin = fh.read().split()[0]
    with open(os.path.join(out_dir, CONSOLE_FILE), "w", encoding="ascii", newline="") as fh:
        fh.write(f"{vin}\n0\n")
    with open(os.path.join(out_dir, CONTINUE_INPUT), "w", encoding="ascii", newline="") as fh:
        fh.write(INPUT_BODY + STATE_SUFFIX + "\n")
    record = {"previous": os.path.relpath(os.path.abspath(run_dir), os.path.abspath(out_dir)),
              "segment": segment, "start_time": t_end, "steps": nt - step, "exact": True,
              "from_step": step, "end_step": nt, "append_time_series": True,
              "from_snapshot": bool(from_snapshot),
              "inputs": {"field": INPUT_FIELD, "body": INPUT_BODY,
                         "state": INPUT_BODY + STATE_SUFFIX},
              "outputs": {"stat": names["stat"], "vfile": names["vfile"],
                          "nfile": names["nfile"], "snapshots": snaps}}
    with open(os.path.join(out_dir, CHAIN_FILE), "w", encoding="utf-8") as fh:
        json.dump(record, fh, indent=2)
        fh.write("\n")
    return record


def _no_ramp(run):
    """The tolerance line of a continuation: the run's own ic2 and ic3, with
    the starting tolerance equal to esp, so that the continuation iterates to
    esp from its first step.  (The start-up ramp eases an impulsive start; a
    restart that ramped again would loosen the tolerance for ic2 + ic3 steps
    at every seam of a chain.)"""
    path = run.file(TOLERANCE_FILE)
    with open(path, encoding="latin-1") as fh:
        line = fh.readline().rstrip("\r\n")
    try:
        ic2, ic3 = fortran_int(line[0:10]), fortran_int(line[10:20])
    except ValueError as exc:
        raise ChainError(f"{path}: {exc}") from None
    return fmt_i(ic2, 10) + fmt_i(ic3, 10) + fmt_f(run.params["esp"], 10, 5)


def _planned_steps(run):
    """The step count RUN planned (its change.inf)."""
    with open(run.file(CHANGE_INPUT), encoding="latin-1") as fh:
        return fortran_int(fh.readline()[0:10])


def _steps_left(run, from_snapshot):
    """The steps from where RUN's end files stand to the end it planned."""
    field = _check_end_files(run, from_snapshot)
    planned = _planned_steps(run)
    step = int(field.header["nt"])
    if planned <= step:
        raise ChainError(f"{run.path} has reached its planned end (step {step} of {planned}): "
                         "give --steps N to go on")
    return planned - step


def write_restart(run_dir, out_dir, steps, append=True, from_snapshot=False, exact=False,
                  cs=None, to_end=False):
    """Write the case that continues *run_dir* for *steps* steps into *out_dir*.

    *from_snapshot* continues a run that did not reach its end (killed, or
    blown up) from the set saved at its last snapshot instant.  *exact*
    continues it as if it had never stopped (the program reads the state
    saved beside nfile): the step numbering, the schedules, the tolerance
    ramp, the statistics and the history go on; *steps* None then runs to
    the end the run had planned.  *cs* (a plain continuation only) goes on
    with that Smagorinsky constant instead of RUN's.  *to_end* (a plain
    continuation only, without *steps*) runs the steps RUN had left to its
    planned end: on another machine, from a pack, the plain restart that
    takes a chain to where its exact continuations would have.

    Returns the restart record written to out_dir/restart.json.
    """
    run = Run(run_dir)
    if not run.params:
        raise ChainError(f"{run_dir} is not a run folder: {PARAM_FILE} is missing")
    if exact:
        if to_end:
            raise ChainError("--exact goes on to the planned end by itself: --to-end is for "
                             "a plain restart")
        if cs is not None:
            raise ChainError("an exact continuation keeps every parameter: a new Cs needs a "
                             "plain restart")
        return _write_exact(run, run_dir, out_dir, steps, from_snapshot)
    if to_end:
        if steps is not None:
            raise ChainError("give either --steps or --to-end")
        steps = _steps_left(run, from_snapshot)
    if cs is not None and not (math.isfinite(cs) and cs >= 0):
        raise ChainError(f"--cs must be a number at least 0, got {cs}")
    if steps is None:
        raise ChainError("--steps N or --to-end is needed (--exact alone runs to the planned end)")
    if steps < 1:
        raise ChainError(f"--steps must be at least 1, got {steps}")
    if steps > 99999:
        raise ChainError(f"--steps {steps} does not fit the parameter file (at most 99999)")
    if os.path.realpath(run_dir) == os.path.realpath(out_dir):
        raise ChainError("--out must be a new folder, not the run itself")
    if os.path.exists(out_dir) and (not os.path.isdir(out_dir) or os.listdir(out_dir)):
        raise ChainError(f"{out_dir} exists and is not an empty folder")
    running = process_running(run_dir)
    if running:
        raise ChainError(f"{run_dir} is still running: continue it once it has ended "
                         "(SIGTERM ends it after the current step with its end-of-run files)")
    journal = run.file(run.params["nfile"]) + COMMIT_SUFFIX
    if running is None and os.path.exists(journal):
        raise ChainError(f"{journal} exists: the set was being put in place when the run "
                         "stopped, and whether the program still runs cannot be told here; "
                         "once it has surely ended, each line of the journal after the first "
                         "is a rename (part, tab, target) that finishes the set")
    if complete_commit(journal):
        print(f"qv: warning: completed the set that {run_dir} left half renamed when it "
              f"stopped ({journal})", file=sys.stderr)
    field = _check_end_files(run, from_snapshot)
    t_end = float(field.header["t"])
    ts_path = run.file(TS_FILE)
    if append and not os.path.exists(ts_path):
        raise ChainError(f"cannot append: {ts_path} is missing (use --append 0)")
    rec = read_record(run_dir) or {}
    segment = int(rec.get("segment", 1)) + 1

    with open(run.file(PARAM_FILE), "rb") as fh:
        raw = fh.read().decode("latin-1")
    inf = raw.replace("\r\n", "\n").split("\n")
    if len(inf) < 16:
        raise ChainError(f"{run.file(PARAM_FILE)} has {len(inf)} lines, expected 16")
    ifc, kout, snaps = read_name_list(run.file(NAME_FILE))
    names = _segment_names(segment, len(snaps))
    p = run.params
    _continuation_lines(run, inf, names, steps)
    if cs is not None:
        try:
            inf[4] = format_line([cs], PARAM_LAYOUT[4][1])
        except ValueError as exc:
            raise ChainError(f"--cs {cs:g}: {exc}") from None

    os.makedirs(os.path.join(out_dir, "DAT"), exist_ok=True)
    for key in ("axisfile", "flagfile"):
        dst = os.path.join(out_dir, p[key])
        os.makedirs(os.path.dirname(dst) or out_dir, exist_ok=True)
        shutil.copy2(run.file(p[key]), dst)
    for name in (p["finalfile"], names["stat"], names["nfile"], names["vfile"], *names["snaps"]):
        os.makedirs(os.path.dirname(os.path.join(out_dir, name)), exist_ok=True)
    _link(run.file(p["finalfile"]), os.path.join(out_dir, INPUT_FIELD))
    _link(run.file(p["nfile"]), os.path.join(out_dir, INPUT_BODY))

    def write(name, lines):
        with open(os.path.join(out_dir, name), "w", encoding="latin-1", newline="") as fh:
            fh.write("".join(line + "\r\n" for line in lines))

    write(PARAM_FILE, inf[:16])
    write(NAME_FILE, [f"{ifc:5d}{kout:5d}{len(snaps):5d}"] +
          [fmt_a(s, what="snapshot name") for s in names["snaps"]])
    write(CHANGE_INPUT, [f"{steps:10d}"])
    write(TOLERANCE_FILE, [_no_ramp(run)])
    with open(run.file(CONSOLE_FILE), encoding="latin-1") as fh:
        vin = fh.read().split()[0]
    with open(os.path.join(out_dir, CONSOLE_FILE), "w", encoding="ascii", newline="") as fh:
        fh.write(f"{vin}\n{0 if append else 1}\n")
    if append:
        _copy_until(ts_path, os.path.join(out_dir, TS_FILE), t_end)
    if os.path.exists(run.file(PROBES_INPUT)):
        shutil.copy2(run.file(PROBES_INPUT), os.path.join(out_dir, PROBES_INPUT))
        if os.path.exists(run.file(PROBES_FILE)):
            _copy_until(run.file(PROBES_FILE), os.path.join(out_dir, PROBES_FILE), t_end)
    for extra in (CASE_FILE,):
        if os.path.exists(run.file(extra)):
            shutil.copy2(run.file(extra), os.path.join(out_dir, extra))

    record = {"previous": os.path.relpath(os.path.abspath(run_dir), os.path.abspath(out_dir)),
              "segment": segment, "start_time": t_end, "steps": steps,
              "append_time_series": bool(append), "from_snapshot": bool(from_snapshot),
              "inputs": {"field": INPUT_FIELD, "body": INPUT_BODY},
              "outputs": {"stat": names["stat"], "vfile": names["vfile"],
                          "nfile": names["nfile"], "snapshots": names["snaps"]}}
    if cs is not None:
        record.update({"Cs": cs, "Cs_before": p["Cs"]})
    with open(os.path.join(out_dir, CHAIN_FILE), "w", encoding="utf-8") as fh:
        json.dump(record, fh, indent=2)
        fh.write("\n")
    return record
