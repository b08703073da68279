"""The summary on synthetic signals of known frequency, amplitude and noise:
it must give the right answer or say that it cannot."""

import math

import numpy as np
import pytest

import conftest as c
from qvtools.signals import (auto_tmin, batch_edges, batch_errors, frequency_estimates,
                             settled_start, settledness,
                             spectral_peak, upcrossings)
from qvtools.summary import summarize


def write_run(d, t, pfx, pfy, ydis=None):
    """A run directory of the fixture with the time series replaced."""
    ydis = np.zeros_like(t) if ydis is None else ydis
    lines = [f" #start at t={0.0:25.15f}",
             " #nn       t         Vin        pfx        pfy        pft      xdis      ydis"]
    for n, tt in enumerate(t):
        lines.append(c.ts_line(10 * (n + 1), tt, [1.0, pfx[n], pfy[n], 0.0, 0.0, ydis[n]]))
    c.write_text(d / "DAT" / "quivel_vib8.ts", lines)
    (d / "DAT" / "vib.dat").unlink(missing_ok=True)   # the fixture's history is of other signals
    return d


AREA = 0.7 * 2.0          # the fixture's body: D = 0.7, span 2
Q = 0.5 * AREA            # Vin = 1


def test_settling_noisy_lift_gives_frequency_amplitude_and_window(run_dir):
    rng = np.random.default_rng(5)
    t = np.arange(0.1, 300.0, 0.1)
    f, amp = 0.183, 0.6
    envelope = amp * np.tanh(t / 25.0) ** 2           # within 10 % of amp from t ~ 55
    pfy = envelope * np.sin(2 * np.pi * f * t) + 0.05 * rng.normal(size=len(t))
    pfx = 1.2 + 0.1 * envelope ** 2 + 0.02 * rng.normal(size=len(t))
    s = summarize(write_run(run_dir, t, pfx, pfy))
    settled = 25.0 * math.atanh(math.sqrt(0.9))       # envelope = 0.9 amp
    assert settled - 1 / f < s["t_from"] < settled + 4 / f, s["window_rule"]
    assert "within 10%" in s["window_rule"]
    assert s["warnings"] == []
    res = s["frequency_resolution"]
    assert res == pytest.approx(1 / (s["t_to"] - s["t_from"]))
    assert abs(s["shedding_frequency"] - f) < 0.2 * res
    assert abs(s["upcrossing_frequency"] - f) < 0.2 * res
    assert s["strouhal"] == pytest.approx(s["shedding_frequency"] * 0.7)
    assert s["strouhal_resolution"] == pytest.approx(res * 0.7)
    assert s["cycles"] == pytest.approx(f * (s["t_to"] - s["t_from"]), rel=1e-3)
    # rms Cl of the settled part: amp / sqrt(2) with the noise added in quadrature
    want = math.sqrt((amp ** 2 * np.mean(np.tanh(t[t >= s["t_from"]] / 25) ** 4)) / 2
                     + 0.05 ** 2) / Q
    assert abs(s["cl_rms"] - want) < 4 * s["cl_rms_err"] + 1e-3
    assert 0 < s["cd_mean_err"] < 0.01 and 0 < s["cl_rms_err"] < 0.02


@pytest.mark.parametrize("f,window", [(0.105, 15.0), (0.0671, 15.0), (0.12, 40.0)])
def test_short_window_is_right_or_says_so(run_dir, f, window):
    """The rectangle of the report: a 15-unit window cannot resolve St ~ 0.1."""
    t = np.arange(0.1, window, 0.1)
    pfy = 0.4 * np.sin(2 * np.pi * f * t + 0.4)
    s = summarize(write_run(run_dir, t, np.ones_like(t), pfy), tmin=0.0)
    right = abs(s["shedding_frequency"] - f) <= 0.5 * s["frequency_resolution"]
    assert right or s["warnings"]
    if f * window < 8:
        assert any("cycles in the window" in w for w in s["warnings"])
    if f * window < 2:
        # the peak sits in the lowest bin, or there is no second estimate
        assert any("lowest bin" in w or "up-crossings" in w for w in s["warnings"])
    if f * window > 4:
        assert right


def test_disagreeing_estimates_are_flagged():
    # shedding that jumps from 0.1 to 0.14 halfway: the spectrum picks the
    # stronger peak, the crossings count the cycles of both
    t = np.arange(0.0, 100.0, 0.1)
    phase = 2 * np.pi * np.where(t < 50, 0.1 * t, 5.0 + 0.14 * (t - 50))
    y = np.where(t < 50, 1.0, 1.3) * np.sin(phase)
    fe = frequency_estimates(t, y)
    assert fe["f"] == pytest.approx(0.14, abs=fe["resolution"])
    assert fe["f_up"] == pytest.approx(0.12, abs=0.01)
    assert abs(fe["f"] - fe["f_up"]) > fe["resolution"]
    assert any("differ by more than the resolution" in w for w in fe["warnings"])


def ar1(rng, n, rho, sigma):
    e = rng.normal(scale=sigma * math.sqrt(1 - rho * rho), size=n)
    x = np.empty(n)
    x[0] = rng.normal(scale=sigma)
    for k in range(1, n):
        x[k] = rho * x[k - 1] + e[k]
    return x


def test_batch_errors_account_for_correlation():
    """Correlated noise: the error of the mean is sqrt((1+rho)/(1-rho)) times
    the naive sigma/sqrt(n); the batch-means error must find that, and cover
    the true mean about as often as a standard error should."""
    rng = np.random.default_rng(11)
    n, rho, sigma = 4000, 0.95, 0.3
    t = 0.1 * np.arange(n)
    edges, whole = batch_edges(t, np.zeros(0))
    assert not whole and len(edges) == 11
    theory = sigma * math.sqrt((1 + rho) / (1 - rho) / n)
    errs, hits = [], 0
    for _ in range(40):
        x = 1.0 + ar1(rng, n, rho, sigma)
        m, em, r, er = batch_errors(t, x, edges)
        errs.append(em)
        hits += abs(m - 1.0) < 2 * em
        assert r == pytest.approx(sigma, rel=0.25) and er > 0
    assert 0.6 * theory < np.median(errs) < 1.4 * theory
    assert np.median(errs) > 3 * sigma / math.sqrt(n)          # not the naive error
    assert hits >= 30                                           # ~95 % expected


def test_batches_of_whole_cycles_do_not_count_the_oscillation_as_error():
    t = np.arange(0.0, 200.0, 0.05)
    y = 2.0 + np.sin(2 * np.pi * 0.137 * t)
    tc = upcrossings(t, y)
    assert len(tc) - 1 == 26 and np.allclose(np.diff(tc), 1 / 0.137, rtol=1e-3)
    sel = (t >= tc[0]) & (t <= tc[-1])
    edges, whole = batch_edges(t[sel], tc)
    assert whole and len(edges) == 11
    m, em, r, er = batch_errors(t[sel], y[sel], edges)
    assert m == pytest.approx(2.0, abs=1e-3) and em < 1e-3
    assert r == pytest.approx(1 / math.sqrt(2), rel=1e-3) and er < 1e-3


def test_upcrossings_ignore_noise_on_a_slow_signal():
    rng = np.random.default_rng(3)
    t = np.arange(0.0, 100.0, 0.01)
    y = np.sin(2 * np.pi * 0.05 * t) + 0.05 * rng.normal(size=len(t))
    tc = upcrossings(t, y)
    # t = 0 is no counted crossing (the signal was not below -h before)
    assert len(tc) == 4 and np.allclose(tc, [20, 40, 60, 80], atol=0.3)


def test_steady_lift_falls_back_to_the_second_half():
    t = np.arange(0.1, 50.0, 0.1)
    pfx = 1.5 - np.exp(-t)
    pfy = 1e-6 * np.sin(2 * np.pi * 0.2 * t)
    tmin, rule = auto_tmin(t, pfy, pfx)
    assert tmin == pytest.approx(25.0) and "does not oscillate" in rule
    # an oscillation still growing at the end has no settled part
    pfy = np.exp(t / 20) * np.sin(2 * np.pi * 0.2 * t)
    tmin, rule = auto_tmin(t, pfy, pfx)
    assert tmin == pytest.approx(25.0) and "not settled" in rule


@pytest.mark.parametrize("k", [1, 2, 5])
def test_the_spectral_peak_comes_back_in_its_own_bin(k):
    """A sine of exactly k cycles in the record peaks in bin k; only bin 1,
    the lowest, draws the warning."""
    n, dt = 400, 0.05
    t = np.arange(n) * dt
    f = k / (n * dt)
    fe = frequency_estimates(t, np.sin(2 * np.pi * f * t + 0.3))
    assert spectral_peak(t, np.sin(2 * np.pi * f * t + 0.3))[1] == k
    assert fe["f"] == pytest.approx(f, abs=0.2 * fe["resolution"])
    assert any("lowest bin" in w for w in fe["warnings"]) == (k == 1)


@pytest.mark.parametrize("cycles,batches", [(12, 10), (5, 5), (30, 10)])
def test_batch_edges_of_whole_cycles_run_from_the_first_crossing_to_the_last(cycles, batches):
    t = np.linspace(0.0, 100.0, 2001)
    crossings = np.sort(np.random.default_rng(cycles).uniform(3.0, 97.0, cycles + 1))
    edges, whole = batch_edges(t, crossings)
    assert whole and len(edges) == batches + 1
    assert edges[0] == crossings[0] and edges[-1] == crossings[-1]
    assert set(edges) <= set(crossings) and np.all(np.diff(edges) > 0)


# ------------------------------------------------ settled or not

def _oscillation(amp_of_t, f=0.2, dt=0.05, t1=200.0, noise=0.0, seed=1):
    t = np.arange(0.0, t1, dt)
    y = amp_of_t(t) * np.sin(2 * np.pi * f * t)
    if noise:
        y = y + noise * np.random.default_rng(seed).standard_normal(len(t))
    return t, y


def test_a_growing_a_decaying_and_a_settled_response():
    from qvtools.signals import settledness
    # the sweep case of the report: 0.258 -> 0.305 -> 0.347 over three cycles and more
    t, y = _oscillation(lambda t: 0.25 * (1 + t / 200))
    g = settledness(t, y, "ydis")
    assert not g["settled"] and "grows" in g["reason"]
    # the example of the report: the amplitude falls 0.405 -> 0.19
    t, y = _oscillation(lambda t: 0.405 * np.exp(-t / 250))
    d = settledness(t, y, "ydis")
    assert not d["settled"] and "decays" in d["reason"]
    # settled, with noise of 5 % of the amplitude: settled, and its amplitude
    t, y = _oscillation(lambda t: 0.3 + 0 * t, noise=0.015)
    s = settledness(t, y, "ydis")
    assert s["settled"], s["reason"]
    # (half peak-to-peak: the noise adds its extremes)
    assert abs(s["amplitude"] - 0.3) < 0.04 and s["amplitude_err"] < 0.01
    # a step in the amplitude halfway, no trend inside each half: the halves differ
    t, y = _oscillation(lambda t: np.where(t < 100, 0.2, 0.3))
    h = settledness(t, y, "lift")
    assert not h["settled"]
    # too few cycles to tell
    t, y = _oscillation(lambda t: 0.3 + 0 * t, t1=12.0)
    assert not settledness(t, y)["settled"]


def test_the_summary_warns_loudly_of_an_unsettled_response(monkeypatch):
    from qvtools import summary as sm
    t, y = _oscillation(lambda t: 0.25 * (1 + t / 200))
    _, lift = _oscillation(lambda t: 1.0 + 0 * t)

    class TS(dict):
        segments = [{}]
    ts = TS(t=t, pfx=2.0 + 0 * t, pfy=lift, xdis=0 * t, ydis=y)
    monkeypatch.setattr(sm, "segment_dirs", lambda d: [d])
    monkeypatch.setattr(sm, "joined_timeseries", lambda dirs: ts)
    monkeypatch.setattr(sm, "joined_history", lambda dirs: (_ for _ in ()).throw(OSError()))

    class FakeRun:
        def __init__(self, d):
            pass

        def file(self, n):
            return "/nonexistent/" + n

        def axis(self):
            raise OSError("no grid")
    monkeypatch.setattr(sm, "Run", FakeRun)
    s = sm.summarize("x", tmin=0.0)
    assert s["unsettled"] == ["ydis"]
    assert any(w.startswith("NOT SETTLED: the ydis amplitude grows") for w in s["warnings"])
    text = sm.format_table(s)
    assert text.startswith("*" * 72) and "NOT SETTLED: ydis" in text


def test_window_moves_on_past_amplitudes_still_creeping_to_their_end():
    """Cycle amplitudes within 10 % of the end but still growing towards it
    (the example's approach to lock-in): the window starts where they no
    longer grow beyond the settled test, with at least 8 cycles."""
    t = np.arange(0.02, 130.0, 0.02)
    f = 0.147
    env = 1.0 - 0.5 * np.exp(-t / 25.0)                 # within 10 % of 1 from t ~ 40
    pfy = 2.9 * env * np.sin(2 * np.pi * f * t)
    ydis = 0.228 * env * np.sin(2 * np.pi * f * t - 0.7)
    pfx = 3.6 + 0.0 * t
    tmin, rule = auto_tmin(t, pfy, pfx, ydis)
    sel = t >= tmin
    for name, y in (("lift", pfy), ("ydis", ydis)):
        st = settledness(t[sel], y[sel], name)
        assert st["settled"] and st["cycles"] >= 8, (name, st["reason"], rule)
    assert "moved on" in rule and tmin > 50
    # the 10 % start alone would still be reported not settled
    start, _ = settled_start(t, ydis, "ydis")
    assert not settledness(t[t >= start], ydis[t >= start])["settled"]
    # a record whose amplitude never stops growing is not moved anywhere
    grow = 2.9 * (t / 130.0) * np.sin(2 * np.pi * f * t)
    tmin2, rule2 = auto_tmin(t, grow, pfx)
    assert "moved on" not in rule2
