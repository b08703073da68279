"""Live progress of a running case from change.out and the time series.

change.out is rewritten by the program after every step (nt, nn, t, iter,
dt, dtmin, esp); the time series gains a line every 10 steps.  The monitor
re-reads both, prints one progress line per poll and estimates the time to
finish from the step rate seen between polls.
"""

import os
import sys
import time

from .readers import CHANGE_FILE, TS_FILE, FormatError, read_change, read_timeseries


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


def _duration(sec):
    sec = int(round(sec))
    h, rem = divmod(sec, 3600)
    m, s = divmod(rem, 60)
    return f"{h}h{m:02d}m" if h else f"{m}m{s:02d}s"


class Monitor:
    """Keeps the (wall time, step) readings of one run to estimate its rate."""

    def __init__(self, run_dir, clock=time.time):
        self.run_dir = run_dir
        self.clock = clock
        self.readings = []

    def poll(self):
        """Read the run once; returns (progress dict, text line)."""
        p = read_progress(self.run_dir)
        now = self.clock()
        if "nn" in p:
            if self.readings and p["nn"] < self.readings[-1][1]:
                self.readings = []  # a new run started in the directory
            if not self.readings or p["nn"] != self.readings[-1][1]:
                self.readings.append((now, p["nn"]))
        p["rate"] = self.rate()
        return p, format_progress(p, now)

    def rate(self):
        """Steps per second between the first and the latest reading."""
        if len(self.readings) < 2:
            return None
        (w0, n0), (w1, n1) = self.readings[0], self.readings[-1]
        return (n1 - n0) / (w1 - w0) if w1 > w0 and n1 > n0 else None


def format_progress(p, now=None):
    """One progress line from a read_progress dict (with optional rate)."""
    if "nn" not in p:
        return "no progress yet: neither change.out nor DAT/quivel_vib8.ts has data"
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
    if now is not None and "change_mtime" in p and now - p["change_mtime"] > 300 \
            and nt is not None and p["nn"] < nt:
        line += f"\n  note: change.out not updated for {_duration(now - p['change_mtime'])}"
    return line


def monitor(run_dir, interval=10.0, once=False, count=None, plot=None,
            out=None, sleep=time.sleep, clock=time.time):
    """Poll a run and print its progress.

    With *once* one reading is printed; with *count* that many; otherwise
    it polls until the run reaches nt or the user interrupts.  *plot* names
    a PNG of the loads that is redrawn whenever the time series grows.
    """
    out = out or sys.stdout
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
            sleep(interval)
    except KeyboardInterrupt:
        return None
