"""Live progress of a running case from change.out and the time series.

change.out is rewritten by the program after every step (nt, nn, t, iter,
dt, dtmin, esp); the time series gains a line every 10 steps.  The monitor
re-reads both, prints one progress line per poll and estimates the time to
finish from the step rate seen between polls.
"""

import os
import re
import sys
import time

from .readers import FormatError, read_change, read_params, read_timeseries
from .runfiles import (CHANGE_FILE, CKPT_SUFFIX, LOG_FILES, PARAM_FILE, TS_FILE,
                       process_running)

# A run is stalled when no step has come for this many recent step times ...
STALL_STEPS = 5
# ... and at least this long (file times are coarse); without a step time yet.
STALL_MIN, STALL_UNKNOWN = 5.0, 300.0


def read_progress(run_dir):
    """Current state of a run as a dict; keys missing when their file is."""
    change = os.path.join(run_dir, CHANGE_FILE)
    tsfile = os.path.join(run_dir, TS_FILE)
    p = {}
    if os.path.exists(change):
        try:
            p.update(read_change(change))
            p["change_mtime"] = os.path.getmtime(change)
        except FormatError:
            pass  # caught while being rewritten; the next poll reads it
    if os.path.exists(tsfile):
        ts = read_timeseries(tsfile)
        p["ts"] = ts
        if len(ts):
            last = {k: ts[k][-1] for k in ("nn", "t", "pfx", "pfy", "pft", "xdis", "ydis")}
            p["last"] = last
            p.setdefault("nn", int(last["nn"]))
            p.setdefault("t", float(last["t"]))
    return p


def how_it_ended(run_dir, p):
    """How a run that no longer runs ended, as far as its files tell: a text."""
    nn, nt = p.get("nn"), p.get("nt")
    text = ""
    for name in LOG_FILES:
        path = os.path.join(run_dir, name)
        if os.path.exists(path):
            with open(path, "rb") as fh:
                fh.seek(max(0, os.path.getsize(path) - 8192))
                text += fh.read().decode("latin-1")
    blown = re.search(r"blown up|no longer finite", text)
    sig = re.search(r"interrupted by signal\s+(\d+)", text)
    stop = re.search(r"run stopped: (.*)", text)
    ends, saved = [], False
    try:
        params = read_params(os.path.join(run_dir, PARAM_FILE))
        ends = [os.path.join(run_dir, params[k]) for k in ("vfile", "nfile")]
        saved = os.path.exists(ends[0] + CKPT_SUFFIX)  # the set of the last snapshot instant
    except (OSError, FormatError, KeyError):
        pass
    resume = "; qv restart --from-snapshot continues from its last snapshot instant" \
        if saved else ""
    changed = p.get("change_mtime", 0.0)
    end_files = bool(ends) and all(os.path.exists(f) and os.path.getmtime(f) >= changed - 1.0
                                   for f in ends)
    step = f" at step {nn}" if nn is not None else ""
    if blown:
        return f"blew up{step}; the final field file holds the last snapshot instant" + resume
    if end_files and nt is not None and nn is not None and nn >= nt:
        return f"finished normally{step}"
    if sig:
        num = int(sig.group(1))
        name = {2: "SIGINT", 15: "SIGTERM", 1: "SIGHUP"}.get(num, f"signal {num}")
        return f"stopped by {name}{step}; end-of-run files " + \
            ("written (qv restart continues it)" if end_files else "missing")
    if end_files:
        return f"stopped early{step} with its end-of-run files written (a signal)"
    if stop:
        return f"stopped{step}: {stop.group(1).strip()}" + resume
    return f"stopped{step} without its end-of-run files (killed, crashed or blew up; " \
           "its console log may tell)" + resume


def _duration(sec):
    sec = int(round(sec))
    h, rem = divmod(sec, 3600)
    m, s = divmod(rem, 60)
    return f"{h}h{m:02d}m" if h else f"{m}m{s:02d}s"


class Monitor:
    """Keeps the (wall time, step) readings of one run to estimate its rate."""

    def __init__(self, run_dir, clock=time.time, running=process_running):
        self.run_dir = run_dir
        self.clock = clock
        self.running = running
        self.readings = []
        self.steps = []

    def poll(self):
        """Read the run once; returns (progress dict, text line)."""
        p = read_progress(self.run_dir)
        now = self.clock()
        if "nn" in p:
            if self.readings and p["nn"] < self.readings[-1][1]:
                self.readings, self.steps = [], []  # a new run started in the directory
            if not self.readings or p["nn"] != self.readings[-1][1]:
                self.readings.append((now, p["nn"]))
                if "change_mtime" in p:  # the time of the step itself
                    self.steps.append((p["change_mtime"], p["nn"]))
        p["rate"] = self.rate()
        p["state"] = self.state(p, now)
        return p, format_progress(p, now)

    def state(self, p, now):
        """None while the run goes on; else "stalled: ..." or "stopped: ..."."""
        if "nn" not in p:
            return None
        alive = self.running(self.run_dir)
        if alive is False:
            return "stopped: " + how_it_ended(self.run_dir, p)
        changed = p.get("change_mtime")
        if changed is None:
            return None
        age = now - changed
        rate = self.recent_rate()
        limit = max(STALL_STEPS / rate, STALL_MIN) if rate else STALL_UNKNOWN
        if age <= limit:
            return None
        why = f"no step for {_duration(age)}"
        if rate:
            why += f" (recent step time {1 / rate:.3g} s)"
        if alive:
            return "stalled: " + why
        return f"stalled or stopped: {why}; if it has stopped, it " + how_it_ended(self.run_dir, p)

    def recent_rate(self):
        """Steps per second between the last two steps seen."""
        if len(self.steps) < 2:
            return None
        (w0, n0), (w1, n1) = self.steps[-2], self.steps[-1]
        return (n1 - n0) / (w1 - w0) if w1 > w0 and n1 > n0 else None

    def rate(self):
        """Steps per second between the first and the latest reading."""
        if len(self.readings) < 2:
            return None
        (w0, n0), (w1, n1) = self.readings[0], self.readings[-1]
        return (n1 - n0) / (w1 - w0) if w1 > w0 and n1 > n0 else None


def format_progress(p, now=None):
    """One progress line from a read_progress dict (with optional rate)."""
    if "nn" not in p:
        return f"no progress yet: neither {CHANGE_FILE} nor {TS_FILE} has data"
    parts = []
    nt = p.get("nt")
    parts.append(f"step {p['nn']}" + (f"/{nt}" if nt is not None else ""))
    parts.append(f"t={p['t']:.4f}")
    if nt is not None:
        left = max(nt - p["nn"], 0)
        parts.append(f"left {left}")
        if "dt" in p and left:
            parts.append(f"t_end={p['t'] + left * p['dt']:.4f}")
        rate = p.get("rate")
        if left == 0:
            parts.append("finished")
        elif rate:
            parts.append(f"ETA {_duration(left / rate)} ({rate:.3g} steps/s)")
        else:
            parts.append("ETA --")
    if "iter" in p:
        parts.append(f"iter {p['iter']}")
    if "last" in p:
        last = p["last"]
        parts.append(f"pfx={last['pfx']:.4g} pfy={last['pfy']:.4g}")
    line = "  ".join(parts)
    if p.get("dt") and p.get("dtmin") and p["dt"] > p["dtmin"]:
        line += f"\n  warning: dt={p['dt']:.6g} exceeds the admissible dtmin={p['dtmin']:.6g}"
    if p.get("state"):
        line += f"\n  {p['state']}"
    return line


def monitor(run_dir, interval=10.0, once=False, count=None, plot=None,
            out=None, sleep=time.sleep, clock=time.time):
    """Poll a run and print its progress.

    With *once* one reading is printed; with *count* that many; otherwise
    it polls until the run reaches nt, stops, or the user interrupts.  A run
    that makes no progress for several recent step times is reported stalled;
    one whose program is gone, stopped, with how it ended as its files tell.  *plot* names
    a PNG of the loads that is redrawn whenever the time series grows.
    """
    out = out or sys.stdout
    if not os.path.exists(os.path.join(run_dir, PARAM_FILE)):
        raise FileNotFoundError(f"{run_dir} is not a run folder: {PARAM_FILE} is missing")
    mon = Monitor(run_dir, clock)
    polls, drawn = 0, -1
    try:
        while True:
            p, line = mon.poll()
            print(line, file=out, flush=True)
            polls += 1
            ts = p.get("ts")
            if plot and ts is not None and len(ts) and len(ts) != drawn:
                from .plots import plot_timeseries
                plot_timeseries(ts, plot, title=os.path.abspath(run_dir))
                drawn = len(ts)
            if once or (count is not None and polls >= count):
                return p
            if "nt" in p and p["nn"] >= p["nt"]:
                return p
            if p.get("state", "") and p["state"].startswith("stopped"):
                return p
            sleep(interval)
    except KeyboardInterrupt:
        return None
