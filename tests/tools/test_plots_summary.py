"""Spectra, run summary, plots, the monitor and the command line."""

import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import conftest as c
from qvtools import cli, plots, readers
from qvtools.monitor import Monitor, monitor
from qvtools.signals import amplitude_spectrum, dominant_frequency
from qvtools.summary import format_table, summarize

PNG = b"\x89PNG\r\n\x1a\n"
QV = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "qv")


def test_spectrum_peak_height_and_off_bin_frequency():
    t = 0.1 * np.arange(1, 601)
    f, amp = amplitude_spectrum(t, 3.0 + 0.5 * np.sin(2 * np.pi * 0.2 * t))
    k = np.argmax(amp)
    assert f[k] == pytest.approx(0.2) and amp[k] == pytest.approx(0.5, rel=0.02)
    assert amp[0] < 0.01                              # the mean is removed
    t = 0.05 * np.arange(512)
    assert dominant_frequency(t, np.sin(2 * np.pi * 0.237 * t)) == pytest.approx(0.237, abs=3e-3)
    # uneven sampling (a restart at another output interval) is resampled
    t2 = np.concatenate([np.arange(0, 30, 0.1), np.arange(30, 60, 0.2)])
    assert dominant_frequency(t2, np.sin(2 * np.pi * 0.3 * t2)) == pytest.approx(0.3, abs=5e-3)
    assert np.isnan(dominant_frequency([0.0, 1.0], [1.0, 1.0]))


def test_summary_coefficients(run_dir):
    s = summarize(run_dir, tmin=0.0)
    area = 0.7 * 2.0                                  # body: y 1.5..2.2, z 0..2
    q = 0.5 * c.VIN ** 2 * area
    assert s["frontal_area"] == pytest.approx(area) and s["body_height_D"] == pytest.approx(0.7)
    assert s["cd_mean"] == pytest.approx(c.PFX_MEAN / q, rel=1e-3)
    assert s["cl_rms"] == pytest.approx(c.PFY_AMP / np.sqrt(2) / q, rel=2e-3)
    assert s["strouhal"] == pytest.approx(c.F_SHED * 0.7 / c.VIN, rel=1e-2)
    assert s["ydis_amp"] == pytest.approx(0.05, rel=1e-2)
    assert s["tdis_amp"] == pytest.approx(0.002, rel=1e-2)
    assert (s["t_first"], s["t_last"], s["segments"], s["lines"]) == (0.1, 60.0, 2, 600)
    # --vin overrides console.in: Cd scales with 1/Vin^2, St with 1/Vin
    s2 = summarize(run_dir, vin=2.0, tmin=30.0)
    assert s2["cd_mean"] == pytest.approx(s["cd_mean"] / 4, rel=1e-3)
    assert s2["strouhal"] == pytest.approx(s["strouhal"] / 2, rel=2e-2)
    # the window from t = 30 lies within the body history (the last segment,
    # every 0.1 in double precision): its samples are taken, not the 4-digit series
    assert s2["t_from"] == pytest.approx(30.1) and s2["lines"] == 300
    assert s2["source"].startswith("body history DAT/vib.dat")
    h = readers.read_history(run_dir / "DAT" / "vib.dat")
    assert s2["ydis_amp"] == pytest.approx(0.5 * np.ptp(h["ydis"]), rel=1e-12)
    assert s2["xdis_mean"] == pytest.approx(np.mean(h["xdis"]), rel=1e-12)
    # from t = 0 it does not: the time series, and why
    assert s["source"].startswith("time series") and "not the whole window" in s["source"]
    assert s["definitions"]["rms"] == "rms = standard deviation about the mean"
    assert "pressure force only" in s["definitions"]["cd_cl"]
    # by default the window starts where the lift has settled: here, a sine
    # from t = 0, at its first whole cycle
    s3 = summarize(run_dir)
    assert s3["t_from"] == pytest.approx(1 / c.F_SHED, abs=0.11)
    assert "within 10%" in s3["window_rule"]
    assert s3["cycles"] == pytest.approx(c.F_SHED * (60 - s3["t_from"]), rel=0.02)
    os.remove(run_dir / "console.in")
    s3 = summarize(run_dir)
    assert s3["cd_mean"] is None and any("Vin" in n for n in s3["notes"])


def test_plots_are_written(run_dir, tmp_path):
    ts = readers.read_timeseries(run_dir / "DAT" / "quivel_vib8.ts")
    hist = readers.read_history(run_dir / "DAT" / "vib.dat")
    f = readers.read_field(run_dir / "DAT" / "final.dat")
    axis = readers.read_axis(run_dir / "axis.dat")
    outs = [plots.plot_timeseries(ts, tmp_path / "ts.png"),
            plots.plot_history(hist, tmp_path / "h.png"),
            plots.plot_spectrum(ts["t"], ts["pfy"], tmp_path / "sp.png", 1.0, 0.7)[0],
            plots.plot_slice(f, axis, tmp_path / "u.png", c.body_flags()),
            plots.plot_slice(f, axis, tmp_path / "w.png", c.body_flags(), "vorticity", k=0)]
    for out in outs:
        assert open(out, "rb").read(8) == PNG
    vals, k = plots.slice_values(f, axis)
    assert k == (c.NZ - 1) // 2
    np.testing.assert_allclose(vals, 0.5 * (f["uu"][:-2, :, k] + f["uu"][1:-1, :, k]))
    with pytest.raises(ValueError, match="layer"):
        plots.slice_values(f, axis, k=c.NZ)


def test_body_outline_follows_cell_edges():
    x, y = [0, 1, 2, 3], [0, 1, 2]
    one = np.zeros((3, 2), bool)
    one[1, 0] = True
    segs = plots.body_outline(one, x, y)
    assert sorted(map(tuple, map(lambda s: tuple(map(tuple, s)), segs))) == sorted([
        ((1, 0), (1, 1)), ((2, 0), (2, 1)), ((1, 0), (2, 0)), ((1, 1), (2, 1))])
    two = one.copy()
    two[2, 0] = True                                  # shared edge disappears
    assert len(plots.body_outline(two, x, y)) == 6


def test_monitor_progress_eta_and_bounds(run_dir, capsys):
    p = monitor(run_dir, once=True)
    line = capsys.readouterr().out
    assert p["nn"] == 120 and "step 120/500" in line and "left 380" in line
    assert "t_end=8.2500" in line and "ETA --" in line and "warning" not in line

    clock = iter([0.0, 10.0, 20.0])
    mon = Monitor(run_dir, clock=lambda: next(clock))
    mon.poll()
    c.write_text(run_dir / "change.out", ["       500", "       220   5.4500000", "        9",
                                          "   0.0100000   0.0050000   0.0010000"])
    p, line = mon.poll()
    assert mon.rate() == pytest.approx(10.0) and "ETA 0m28s" in line
    assert "warning: dt=0.01 exceeds the admissible dtmin=0.005" in line

    c.write_text(run_dir / "change.out", ["       220", "       220   5.4500000", "        9",
                                          "   0.0100000   0.0312500   0.0010000"])
    calls = []
    p = monitor(run_dir, interval=0, sleep=calls.append, plot=str(run_dir / "loads.png"))
    assert "finished" in capsys.readouterr().out and calls == []   # stops at nt
    assert open(run_dir / "loads.png", "rb").read(8) == PNG


def test_cli_commands(run_dir, tmp_path, capsys):
    assert cli.main(["summary", str(run_dir)]) == 0
    js = json.loads((run_dir / "summary.json").read_text())
    assert js["strouhal"] == pytest.approx(0.14, rel=1e-2)
    assert "mean Cd" in capsys.readouterr().out
    assert cli.main(["info", str(run_dir / "snap1.dat"), str(run_dir / "DAT" / "body.dat")]) == 0
    out = capsys.readouterr().out
    assert "snapshot file" in out and "pm" in out and "je=8" in out
    assert cli.main(["vtk", str(run_dir / "DAT" / "stat.dat"), "--outdir", str(tmp_path)]) == 0
    assert (tmp_path / "stat.dat.vtr").exists()
    assert cli.main(["plot", "spectrum", str(run_dir), "-o", str(tmp_path / "s.png")]) == 0
    assert "shedding frequency 0.2" in capsys.readouterr().out
    assert cli.main(["plot", "slice", str(run_dir / "snap1.dat"), "--quantity", "vorticity",
                     "-o", str(tmp_path / "v.png")]) == 0
    (tmp_path / "junk").write_bytes(b"hello world, not a record file")
    assert cli.main(["info", str(tmp_path / "junk")]) == 1
    assert "qv: error: not a record file" in capsys.readouterr().err


def test_qv_script_runs():
    res = subprocess.run([sys.executable, QV, "--help"], capture_output=True, text=True)
    assert res.returncode == 0 and "summary" in res.stdout and "monitor" in res.stdout


def test_summary_says_when_the_program_still_runs(run_dir):
    """A program of that name working in the folder (a copy of sleep stands in)."""
    exe = run_dir / "bin" / "quivel_vib8"
    exe.parent.mkdir()
    shutil.copy("/bin/sleep", exe)
    proc = subprocess.Popen([str(exe), "60"], cwd=run_dir)
    try:
        s = summarize(run_dir)
        assert s["running"] and any("still runs" in w for w in s["warnings"])
        assert "still runs in this folder" in format_table(s).splitlines()[0]
    finally:
        proc.kill()
        proc.wait()
    s = summarize(run_dir)
    assert not s["running"] and not any("still runs" in w for w in s["warnings"])
