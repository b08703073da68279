"""Figures: non-dimensional axes, the format by the extension, size, dpi,
title and window, a spectrum whose peak can be read, probes by place."""

import struct

import matplotlib
import numpy as np
import pytest

import conftest as c
from qvtools import cli, plots
from qvtools.signals import amplitude_spectrum, padded_spectrum

matplotlib.rcParams["svg.fonttype"] = "none"      # keep the figures' texts as text


def svg_text(path):
    text = path.read_text()
    assert text.lstrip().startswith("<?xml") and "<svg" in text
    return text


def png_size(path):
    head = path.read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


def test_padded_spectrum_reads_height_and_place_of_a_peak():
    t = np.arange(0.0, 60.0, 0.1)
    f0, a = 0.2 + 0.5 / 60.0, 0.3                 # half-way between two bins
    y = 1.0 + a * np.sin(2 * np.pi * f0 * t)
    f, amp = padded_spectrum(t, y)
    k = int(np.argmax(amp))
    assert abs(f[k] - f0) < 0.25 / 60.0             # within a quarter of a bin
    assert amp[k] == pytest.approx(a, rel=0.01)
    # the plain spectrum loses the peak between its bins (about 15 % for Hann)
    fp, ap = amplitude_spectrum(t, y)
    assert ap.max() < 0.9 * a and f[1] - f[0] <= (fp[1] - fp[0]) / 8


def test_figures_are_non_dimensional_and_take_their_options(run_dir, tmp_path, capsys):
    out = tmp_path / "sp.svg"
    assert cli.main(["plot", "spectrum", str(run_dir), "-o", str(out), "--title",
                     "Figure 3: lift", "--tmax", "50"]) == 0
    text = svg_text(out)
    assert "Figure 3: lift" in text and "St = f D / Vin" in text
    assert "Cl (pressure only)" in text and "y / D" in text    # the displacement beside it
    assert "frequency f (1 / time)" not in text
    printed = capsys.readouterr().out
    assert "St 0.14" in printed                                 # f = 0.2, D = 0.7, Vin = 1

    out = tmp_path / "ts.pdf"
    assert cli.main(["plot", "ts", str(run_dir), "-o", str(out)]) == 0
    assert out.read_bytes()[:5] == b"%PDF-"
    out = tmp_path / "ts.png"
    assert cli.main(["plot", "ts", str(run_dir), "-o", str(out), "--size", "4", "3",
                     "--dpi", "50"]) == 0
    assert png_size(out) == (200, 150)
    out = tmp_path / "h.svg"
    assert cli.main(["plot", "history", str(run_dir), "-o", str(out)]) == 0
    text = svg_text(out)
    assert "y / D" in text and "t Vin / D" in text and "(length" not in text
    out = tmp_path / "u.svg"
    assert cli.main(["plot", "slice", str(run_dir / "DAT" / "final.dat"), "-o", str(out)]) == 0
    text = svg_text(out)
    assert "(x - xc) / D" in text and "u / Vin" in text and "(length)" not in text
    # an extension that is not a figure format is refused before anything is read
    assert cli.main(["plot", "ts", str(run_dir), "-o", str(tmp_path / "ts.jpg")]) == 1
    assert ".png, .pdf, .svg" in capsys.readouterr().err
    # a window without samples is said, not drawn empty
    assert cli.main(["plot", "ts", str(run_dir), "--tmin", "70", "-o",
                     str(tmp_path / "e.png")]) == 1
    assert "no sample within" in capsys.readouterr().err


def test_window_and_time_axis():
    t = np.array([1.0, 2.0, 3.0, 4.0])
    assert list(plots.window(t, 2.0, 3.0)) == [False, True, True, False]
    assert plots.window(t).all() and list(plots.window(t, tmax=1.5)) == [1, 0, 0, 0]
    assert plots.time_axis(2.0, 0.5) == (4.0, "time t Vin / D (-)")
    assert plots.time_axis(None, 0.5)[0] == 1.0


def test_probe_legend_gives_each_place(tmp_path):
    t = np.linspace(0.0, 10.0, 101)
    data = {"nn": np.arange(101), "t": t}
    for k in (1, 2):
        for q in "uvwp":
            data[f"{q}{k}"] = np.sin(t + k)
    out = tmp_path / "p.svg"
    plots.plot_probes(data, out, points=[(2.0, 0.0, 1.0), (5.5, 0.7, 1.0)], vin=2.0,
                      diameter=0.5, centre=(0.5, 0.0))
    text = svg_text(out)
    assert "probe 1: x/D = 3, y/D = 0" in text and "probe 2: x/D = 10, y/D = 1.4" in text
    assert "u / Vin" in text and "2 p / Vin²" in text
    # without a body: grid coordinates
    assert plots.probe_label(2, (5.5, 0.7, 1.0)) == "probe 2: x = 5.5, y = 0.7, z = 1"


def test_unit_scales_still_give_a_strouhal_axis(tmp_path):
    """D = Vin = 1 (the example) is a St axis, not "scales unknown"."""
    t = np.arange(0.0, 50.0, 0.1)
    out, fs = plots.plot_spectrum(t, np.sin(2 * np.pi * 0.15 * t), tmp_path / "s.svg", 1.0, 1.0)
    text = svg_text(out)
    assert "Strouhal number St" in text and "unknown" not in text
    assert fs == pytest.approx(0.15, abs=0.01)
