"""Signal analysis of a sampled record: the amplitude spectrum and its peak,
up-crossings and cycle amplitudes, the settled start of an oscillation and
batch means with their standard errors.

How sure each value is:
- a frequency comes with its resolution 1/T (T the analysed window), the
  number of cycles in the window and a second estimate from the up-crossings;
- means and rms values come with a standard error from batch means: the
  window is cut into batches of whole cycles (equal lengths when the signal
  does not oscillate), and the scatter of the batch values gives the error,
  which accounts for the correlation in time that a plain sample standard
  error ignores;
- the start-up transient is dropped by the rule of ``settled_start``.
"""

import math

import numpy as np


def _uniform(t, y):
    """Resample (t, y) onto a uniform grid of the median spacing if needed."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    order = np.argsort(t, kind="stable")
    t, y = t[order], y[order]
    keep = np.concatenate(([True], np.diff(t) > 0))
    t, y = t[keep], y[keep]
    if len(t) < 2:
        return t, y, float("nan")
    dt = float(np.median(np.diff(t)))
    if np.allclose(np.diff(t), dt, rtol=1e-3, atol=1e-9):
        return t, y, dt
    tu = np.arange(t[0], t[-1] + 0.5 * dt, dt)
    return tu, np.interp(tu, t, y), dt


def amplitude_spectrum(t, y):
    """One-sided amplitude spectrum of y(t) (mean removed, Hann window).

    A sine of amplitude a shows a peak of height close to a.  Returns
    (frequencies, amplitudes); both empty for fewer than two samples.
    """
    t, y, dt = _uniform(t, y)
    if len(y) < 2:
        return np.zeros(0), np.zeros(0)
    win = np.hanning(len(y)) if len(y) > 2 else np.ones(len(y))
    coef = np.fft.rfft((y - y.mean()) * win)
    amp = 2.0 * np.abs(coef) / win.sum()
    return np.fft.rfftfreq(len(y), dt), amp


PAD = 8             # zero padding of a plotted spectrum: 8 points per bin


def padded_spectrum(t, y, pad=PAD):
    """The amplitude spectrum of ``amplitude_spectrum`` zero-padded to *pad*
    times the record length (rounded up to a power of two): the same Hann
    window and scale, sampled *pad* times more finely between the bins, so
    that a peak's height and place can be read off the curve.  Padding
    interpolates; it does not sharpen the peak, whose width stays about two
    bins of 1 / (window length)."""
    t, y, dt = _uniform(t, y)
    if len(y) < 2:
        return np.zeros(0), np.zeros(0)
    win = np.hanning(len(y)) if len(y) > 2 else np.ones(len(y))
    n = 1 << int(math.ceil(math.log2(max(2, pad) * len(y))))
    coef = np.fft.rfft((y - y.mean()) * win, n)
    return np.fft.rfftfreq(n, dt), 2.0 * np.abs(coef) / win.sum()


def dominant_frequency(t, y):
    """Frequency of the highest non-zero spectral peak, refined by a parabola
    through the peak bin and its neighbours (log amplitudes); nan when the
    signal is too short or constant."""
    f, amp = amplitude_spectrum(t, y)
    if len(f) < 3 or not np.any(amp[1:] > 0):
        return float("nan")
    k = 1 + int(np.argmax(amp[1:]))
    if k + 1 < len(amp) and amp[k - 1] > 0 and amp[k + 1] > 0:
        a, b, c = np.log(amp[k - 1:k + 2])
        den = a - 2 * b + c
        delta = 0.5 * (a - c) / den if den != 0 else 0.0
        return float(f[k] + max(-0.5, min(0.5, delta)) * (f[1] - f[0]))
    return float(f[k])


def spectral_peak(t, y):
    """(frequency, peak bin, resolution) of the highest non-zero spectral
    peak; the frequency is refined as in ``dominant_frequency``.  The
    resolution is 1 / (window length).  nan and bin 0 when there is none."""
    t = np.asarray(t, float)
    span = float(t.max() - t.min()) if len(t) > 1 else 0.0
    res = 1.0 / span if span > 0 else float("nan")
    f, amp = amplitude_spectrum(t, y)
    if len(f) < 3 or not np.any(amp[1:] > 0):
        return float("nan"), 0, res
    return dominant_frequency(t, y), 1 + int(np.argmax(amp[1:])), res


def upcrossings(t, y, hysteresis=0.25):
    """Times at which y - mean(y) crosses zero upwards, interpolated linearly.

    A crossing counts only after the signal has been below -h and before it
    rises above +h, with h = *hysteresis* x rms(y - mean), so that noise on
    a slow signal does not count as extra cycles; where noise crosses zero
    several times in between, the time is the middle of the first and the
    last of those crossings."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    if len(y) < 3:
        return np.zeros(0)
    y = y - y.mean()
    h = hysteresis * float(np.sqrt(np.mean(y * y)))
    if h == 0:
        return np.zeros(0)
    out, armed, first, last = [], False, None, None
    for n in range(1, len(y)):
        if armed and y[n - 1] < 0 <= y[n]:
            last = t[n - 1] + (t[n] - t[n - 1]) * (-y[n - 1]) / (y[n] - y[n - 1])
            first = last if first is None else first
        if y[n] < -h:
            armed, first, last = True, None, None
        elif armed and y[n] > h and last is not None:
            # noise may cross zero several times: the middle of the first and last
            out.append(0.5 * (first + last))
            armed, first, last = False, None, None
    return np.array(out)


def cycle_amplitudes(t, y, crossings):
    """Half the peak-to-peak of y in each cycle between two up-crossings."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    amps = []
    for a, b in zip(crossings[:-1], crossings[1:]):
        sel = (t >= a) & (t <= b)
        amps.append(0.5 * (y[sel].max() - y[sel].min()) if sel.any() else 0.0)
    return np.array(amps)


SETTLE_TOL = 0.1     # cycle amplitudes within 10 % of the settled amplitude
SETTLE_LAST = 3      # the settled amplitude: median of the last cycles (at least 3)
MIN_CYCLES = 8       # fewer cycles than this in the window draw a warning
NBATCH = 10          # batches for the batch-means errors


def settled_start(t, y, name="lift"):
    """Start of the settled part of an oscillating signal, and the rule used.

    Rule: the settled amplitude is the median amplitude of the last quarter
    of the cycles (at least the last 3); the analysis starts at the first
    up-crossing from which every later cycle's amplitude stays within 10 %
    of it.  A signal with fewer than 4 whole cycles, or no oscillation, gives
    (None, reason)."""
    t = np.asarray(t, float)
    tc = upcrossings(t, y)
    amps = cycle_amplitudes(t, y, tc)
    if len(amps) < 4:
        return None, f"the {name} shows fewer than 4 whole cycles"
    nref = max(SETTLE_LAST, len(amps) // 4)
    ref = float(np.median(amps[-nref:]))
    if ref <= 0:
        return None, f"the {name} does not oscillate"
    bad = np.nonzero(np.abs(amps / ref - 1.0) > SETTLE_TOL)[0]
    first = 0 if len(bad) == 0 else int(bad[-1]) + 1
    if first >= len(amps) - 2:
        return None, f"the {name} amplitude has not settled within {SETTLE_TOL:.0%}"
    return float(tc[first]), (f"{name} cycle amplitudes within {SETTLE_TOL:.0%} of the "
                              f"settled {ref:.4g} from t = {tc[first]:.6g} on")


SETTLED_LAST = 5     # the response: mean amplitude of the last cycles of the window
TREND_TOL = 0.05     # a trend over the window beyond 5 % of the amplitude ...
TREND_SIGMA = 3.0    # ... and beyond 3 standard errors of the fitted trend
HALVES_TOL = 0.1     # or halves of the window whose mean amplitudes differ by 10 %


def settledness(t, y, name="ydis"):
    """Whether the cycle amplitudes of y (half peak-to-peak between
    up-crossings) have settled over the window t.

    Not settled: fewer than 4 whole cycles; or a linear trend of the
    amplitudes whose change over the window exceeds TREND_TOL of the mean
    amplitude and TREND_SIGMA standard errors (a trend beyond its noise);
    or mean amplitudes of the first and second half of the cycles that
    differ by more than HALVES_TOL.  The response is the mean amplitude of
    the last SETTLED_LAST cycles (fewer when the window has fewer), with the
    standard error of that mean.  Returns a dict with "settled", "cycles",
    "amplitude", "amplitude_err", "first", "last" (amplitudes of the first
    and last cycle) and "reason"."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    amps = cycle_amplitudes(t, y, upcrossings(t, y))
    n = len(amps)
    out = {"name": name, "cycles": n, "amplitude": None, "amplitude_err": None,
           "first": float(amps[0]) if n else None, "last": float(amps[-1]) if n else None,
           "settled": False, "reason": ""}
    if n == 0:
        out["reason"] = f"no whole {name} cycle in the window"
        return out
    last = amps[-min(SETTLED_LAST, n):]
    out["amplitude"] = float(last.mean())
    out["amplitude_err"] = float(last.std(ddof=1) / np.sqrt(len(last))) if len(last) > 1 else None
    if n < 4:
        out["reason"] = f"only {n} whole {name} cycles in the window (at least 4 are needed to tell)"
        return out
    mean = float(amps.mean())
    k = np.arange(n, dtype=float)
    slope, icept = np.polyfit(k, amps, 1)
    resid = amps - (slope * k + icept)
    se = float(np.sqrt(np.sum(resid ** 2) / (n - 2) / np.sum((k - k.mean()) ** 2)))
    change = float(slope * (n - 1))
    h = n // 2
    m1, m2 = float(amps[:h].mean()), float(amps[n - h:].mean())
    how = "grows" if change > 0 else "decays"
    if mean > 0 and abs(change) > TREND_TOL * mean and abs(slope) > TREND_SIGMA * se:
        out["reason"] = (f"the {name} amplitude {how} over the window: {amps[0]:.4g} in the first "
                         f"cycle, {amps[-1]:.4g} in the last ({change / mean:+.0%} by a fitted "
                         f"trend, beyond its noise)")
    elif mean > 0 and abs(m2 - m1) > HALVES_TOL * mean:
        out["reason"] = (f"the {name} amplitude changes between the halves of the window: "
                         f"{m1:.4g} in the first, {m2:.4g} in the second")
    else:
        out["settled"] = True
        out["reason"] = (f"{name} settled over {n} cycles (mean amplitude of the last "
                         f"{len(last)}: {out['amplitude']:.4g})")
    return out


def auto_tmin(t, pfy, pfx=None, ydis=None):
    """The automatic start of the analysis window and the rule that set it.

    The later of the lift's settled start and, when the body moves in y, the
    displacement's.  When the lift does not oscillate (its rms below 0.1 % of
    the mean drag force) or has not settled, the second half of the record
    is taken."""
    t = np.asarray(t, float)
    half = float(t[0] + 0.5 * (t[-1] - t[0]))
    fallback = f"second half of the record (t >= {half:.6g})"
    pfy = np.asarray(pfy, float)
    scale = abs(float(np.mean(pfx))) if pfx is not None else 0.0
    if np.std(pfy[t >= half]) <= 1e-3 * scale:
        return half, f"the lift does not oscillate: {fallback}"
    start, why = settled_start(t, pfy, "lift")
    if start is None:
        return half, f"{why}: {fallback}"
    rules = [why]
    checks = [("lift", pfy)]
    if ydis is not None and np.ptp(ydis) > 1e-6 * max(1.0, float(np.max(np.abs(ydis)))):
        s2, why2 = settled_start(t, ydis, "ydis")
        if s2 is None:
            return max(start, half), f"{why}; {why2}: {fallback}"
        start = max(start, s2)
        rules.append(why2)
        checks.append(("ydis", np.asarray(ydis, float)))
    later = later_settled_start(t, checks, start)
    if later is not None and later > start:
        rules.append(f"moved on to t = {later:.6g}, from which every amplitude passes the "
                     f"settled test over at least {MIN_CYCLES} cycles")
        start = later
    return start, "; ".join(rules)


def later_settled_start(t, checks, start):
    """The first up-crossing of the lift at or after *start* from which every
    signal of *checks* [(name, y)] passes ``settledness`` over the rest of
    the record with at least MIN_CYCLES whole cycles left: a window whose
    amplitudes are within 10 % of the end but still creep towards it is
    moved on to where they no longer do.  *start* itself when it already
    passes; None when no start does (the caller keeps its own)."""
    t = np.asarray(t, float)
    lift = checks[0][1]
    for tc in [start] + [c for c in upcrossings(t, lift) if c > start + 1e-12]:
        sel = t >= tc
        ok, enough = True, True
        for name, y in checks:
            st = settledness(t[sel], np.asarray(y)[sel], name)
            enough &= st["cycles"] >= MIN_CYCLES
            ok &= st["settled"]
        if not enough:
            return None
        if ok:
            return float(tc)
    return None


def batch_edges(t, crossings, nbatch=NBATCH):
    """Batch boundaries in time: whole cycles between up-crossings when
    there are at least 4 cycles, otherwise *nbatch* equal parts."""
    t = np.asarray(t, float)
    ncyc = len(crossings) - 1
    if ncyc >= 4:
        nb = min(nbatch, ncyc)
        idx = np.round(np.linspace(0, ncyc, nb + 1)).astype(int)
        return np.asarray(crossings)[idx], True
    nb = max(2, min(nbatch, len(t) // 10))
    return np.linspace(t[0], t[-1], nb + 1), False


def batch_errors(t, y, edges):
    """(mean, error of the mean, rms about the mean, error of the rms) of y
    from batch means over the batches between *edges*.  Errors are nan with
    fewer than two non-empty batches."""
    t = np.asarray(t, float)
    y = np.asarray(y, float)
    mean = float(y.mean())
    rms = float(np.sqrt(np.mean((y - mean) ** 2)))
    means, rmss, counts = [], [], []
    for n, (a, b) in enumerate(zip(edges[:-1], edges[1:])):
        sel = (t >= a) & ((t < b) if n < len(edges) - 2 else (t <= b))
        if sel.sum() == 0:
            continue
        means.append(y[sel].mean())
        rmss.append(np.sqrt(np.mean((y[sel] - mean) ** 2)))
        counts.append(sel.sum())
    nb = len(means)
    if nb < 2:
        return mean, float("nan"), rms, float("nan")
    w = np.array(counts, float) / np.mean(counts)
    means, rmss = np.array(means), np.array(rmss)
    m_b = np.average(means, weights=w)
    r_b = np.average(rmss, weights=w)
    err_m = float(np.sqrt(np.sum(w * (means - m_b) ** 2) / (nb - 1) / nb))
    err_r = float(np.sqrt(np.sum(w * (rmss - r_b) ** 2) / (nb - 1) / nb))
    return mean, err_m, rms, err_r


def frequency_estimates(t, y):
    """Spectral and up-crossing frequency of y over the whole of t, the
    resolution, the cycle count and the warnings that go with them."""
    t = np.asarray(t, float)
    f, k, res = spectral_peak(t, y)
    tc = upcrossings(t, y)
    f_up = (len(tc) - 1) / (tc[-1] - tc[0]) if len(tc) >= 2 else float("nan")
    span = float(t[-1] - t[0]) if len(t) > 1 else 0.0
    cycles = f * span if math.isfinite(f) else float("nan")
    warn = []
    if not math.isfinite(f):
        warn.append("no spectral peak: the signal is constant or too short")
    else:
        if k == 1:
            warn.append(f"the spectral peak is in the lowest bin ({res:.4g} = 1 / window): "
                        f"the window is too short for this frequency, or the signal is "
                        f"not periodic")
        if cycles < MIN_CYCLES:
            warn.append(f"only {cycles:.1f} cycles in the window (fewer than "
                        f"{MIN_CYCLES}): run longer or start the window earlier")
        if not math.isfinite(f_up):
            warn.append("fewer than two up-crossings of the lift: no second estimate")
        elif abs(f - f_up) > res:
            warn.append(f"spectrum ({f:.4g}) and up-crossings ({f_up:.4g}) differ by more "
                        f"than the resolution {res:.4g}")
    return {"f": f, "f_up": f_up, "resolution": res, "cycles": cycles,
            "upcrossings": tc, "warnings": warn}
