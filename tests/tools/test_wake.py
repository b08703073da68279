"""The mean wake from statistics files: joined restart segments equal one
run over the whole window, the centre line between node rows of a stretched
grid, and the recirculation length."""

import math

import numpy as np
import pytest

import conftest as c
from qvtools import cli, wake
from qvtools.readers import read_axis, read_flags, read_statistics, stat_ranges


def segment_stats(samples):
    """What the program's averaging makes of per-step node samples
    {name: array (steps, ...)}: means, then raw second moments minus the
    products of the means."""
    m = {n: s.mean(axis=0) for n, s in samples.items()}
    out = {}
    for name, (lo, hi) in stat_ranges(c.BOUNDS).items():
        shape = tuple(h - l + 1 for l, h in zip(lo, hi))
        out[name] = np.zeros(shape)
    for n in ("su", "sv", "sw", "snut", "sgs11", "tauxy", "spm"):
        out[n] = m[n]
    for var, a, b in wake._SECOND:
        out[var] = (samples[a] * samples[b]).mean(axis=0) - m[a] * m[b]
    return out


def random_samples(rng, steps):
    out = {}
    for name, (lo, hi) in stat_ranges(c.BOUNDS).items():
        shape = tuple(h - l + 1 for l, h in zip(lo, hi))
        out[name] = 1.5 + rng.normal(size=(steps,) + shape)
    return out


def test_joined_segments_equal_one_run_over_the_whole_window(tmp_path):
    rng = np.random.default_rng(7)
    steps = (30, 50, 20)                           # unequal segments
    samples = random_samples(rng, sum(steps))
    dt, t, paths, n0 = 0.01, 2.0, [], 0
    for s, n in enumerate(steps):
        part = {k: v[n0:n0 + n] for k, v in samples.items()}
        t += n * dt
        header = (c.HEADER[0], c.HEADER[1], dt, t, n) + c.HEADER[5:]
        path = tmp_path / f"stat{s}.dat"
        c.write_field(path, segment_stats(part), header=header)
        paths.append(path)
        n0 += n
    joined = wake.join_statistics(paths)
    whole = segment_stats(samples)
    for name in ("su", "spm", "sgs11", "suu", "suv", "swu", "spm2"):
        np.testing.assert_allclose(joined[name], whole[name], rtol=1e-11, atol=1e-12,
                                   err_msg=name)
    assert joined.header["nt"] == 100 and joined.header["t"] == pytest.approx(3.0)
    assert wake.window(joined) == pytest.approx((2.0, 3.0))
    # written back in the program's layout, it reads as the same statistics
    out = wake.write_statistics(joined, tmp_path / "joined.dat")
    again = read_statistics(out)
    assert again.header == joined.header and again.bounds == joined.bounds
    np.testing.assert_array_equal(again["suv"], joined["suv"])
    # a gap between the segments is refused
    with pytest.raises(ValueError, match="not consecutive"):
        wake.join_statistics([paths[0], paths[2]])


def test_centre_line_between_node_rows_of_a_stretched_grid(run_dir):
    axis, flags = read_axis(run_dir / "axis.dat"), read_flags(run_dir / "flag.dat")[1]
    x, y, z = (np.asarray(v, float) for v in (axis.x, axis.y, axis.z))
    rec = read_statistics(run_dir / "DAT" / "stat.dat")
    # body cell j = 2 spans y 1.5 .. 2.2: the centre line 1.85 lies between rows
    U = np.sin(x)[:, None, None] + 0.4 * y[None, :, None] + 0 * z[None, None, :]
    U = U + 0.1 * np.arange(len(z))[None, None, :]        # varies along the span
    U[:, :, -1] = 99.0                                   # the periodic image row
    rec.blocks["su"].data[...] = U
    rec.blocks["suu"].data[...] = 0.09
    vin = 2.0
    line = wake.centre_line(rec, axis, flags, vin)
    assert line["yc"] == pytest.approx(1.85)
    span = 0.1 * np.arange(len(z) - 1).mean()
    np.testing.assert_allclose(line["U"], (np.sin(x) + 0.4 * 1.85 + span) / vin)
    np.testing.assert_allclose(line["urms"], 0.3 / vin)


def test_recirculation_length_from_the_rear_face():
    x = np.array([0.0, 1.0, 1.5, 1.8, 2.4, 3.0, 4.0])
    U = np.array([0.9, 0.0, -0.3, -0.1, 0.2, 0.5, 0.1])
    # crossing between 1.8 and 2.4: 1.8 + 0.1 / 0.3 * 0.6 = 2.0
    assert wake.recirculation_length(x, U, 1.0) == pytest.approx(1.0)
    assert math.isnan(wake.recirculation_length(x, np.abs(U) + 0.1, 1.0))
    # reversed flow upstream of the rear face does not count
    assert math.isnan(wake.recirculation_length(x, U, 2.5))


def test_wake_command_writes_the_profiles(run_dir, capsys):
    assert cli.main(["wake", str(run_dir), "--reference", "lyn1995",
                     "--save-stat", str(run_dir / "joined.dat")]) == 0
    text = capsys.readouterr().out
    assert "recirculation length" in text and "joined statistics" in text
    rows = np.loadtxt(run_dir / "wake_centreline.csv", delimiter=",", skiprows=2)
    assert rows.shape == (len(c.X), 8)
    assert (run_dir / "wake_centreline.png").stat().st_size > 0
