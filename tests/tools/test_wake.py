"""The mean wake from statistics files: joined restart segments equal one
run over the whole window, the centre line between node rows of a stretched
grid, and the recirculation length."""

import math
import os
import shutil
from pathlib import Path
from types import SimpleNamespace

import numpy as np
import pytest

import conftest as c
from qvtools import cli, surface, wake
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
    # the run's mean U beside each of Lyn's points
    assert text.count("published") == 11 and "(x - xc)/D =  2.02" in text
    rows = np.loadtxt(run_dir / "wake_centreline.csv", delimiter=",", skiprows=2)
    assert rows.shape == (len(c.X), 8)
    assert (run_dir / "wake_centreline.png").stat().st_size > 0


def cumulative_files(folder, samples, ends, dt=0.01, t0=0.0, name="stat{}.dat"):
    """Statistics files of one run continued exactly: the file at each step
    count of *ends* averages every sample from the run's first step."""
    paths = []
    for s, n in enumerate(ends):
        header = (c.HEADER[0], c.HEADER[1], dt, t0 + n * dt, n) + c.HEADER[5:]
        path = folder / name.format(s)
        c.write_field(path, segment_stats({k: v[:n] for k, v in samples.items()}),
                      header=header)
        paths.append(path)
    return paths


def test_the_window_after_an_earlier_file_of_one_run(tmp_path):
    samples = random_samples(np.random.default_rng(11), 100)
    early, late = cumulative_files(tmp_path, samples, (40, 100))
    rec = wake.since_records(read_statistics(late), read_statistics(early))
    direct = segment_stats({k: v[40:] for k, v in samples.items()})
    for name in ("su", "sgs11", "tauxy", "spm", "suu", "svw", "spm2"):
        np.testing.assert_allclose(rec[name], direct[name], rtol=1e-10, atol=1e-12,
                                   err_msg=name)
    assert rec.header["nt"] == 60 and wake.window(rec) == pytest.approx((0.4, 1.0))
    # written back, its window reads as (t_a, t_b]
    again = read_statistics(wake.write_statistics(rec, tmp_path / "window.dat"))
    assert wake.window(again) == pytest.approx((0.4, 1.0))


def test_files_not_of_one_run_are_refused_with_both_names(tmp_path):
    samples = random_samples(np.random.default_rng(12), 60)
    early, late = (read_statistics(p) for p in cumulative_files(tmp_path, samples, (20, 60)))
    other_start = read_statistics(cumulative_files(tmp_path, samples, (20,), t0=0.1,
                                                   name="moved{}.dat")[0])
    other_dt = read_statistics(cumulative_files(tmp_path, samples, (20,), dt=0.02,
                                                name="dt{}.dat")[0])
    cases = [(late, other_start, "averages from"), (late, other_dt, "time step"),
             (early, late, "not before"), (late, late, "not before")]
    for a, b, why in cases:
        with pytest.raises(ValueError, match=why) as err:
            wake.since_records(a, b)
        assert os.fspath(a.path) in str(err.value) and os.fspath(b.path) in str(err.value)
    moved = read_statistics(early.path)
    moved.bounds = dict(moved.bounds, ie=moved.bounds["ie"] + 1)
    with pytest.raises(ValueError, match="another grid"):
        wake.since_records(late, moved)


def chain_folders(run_dir, tmp_path, samples, windows):
    """Copies of run_dir as the folders of a chain; folder s holds the
    statistics of the samples in windows[s] = (first step, last step)."""
    dirs = []
    for s, (n0, n1) in enumerate(windows):
        d = tmp_path / f"s{s + 1}"
        shutil.copytree(run_dir, d)
        header = (c.HEADER[0], c.HEADER[1], 0.01, n1 * 0.01, n1 - n0) + c.HEADER[5:]
        c.write_field(d / "DAT" / "stat.dat",
                      segment_stats({k: v[n0:n1] for k, v in samples.items()}), header=header)
        dirs.append(str(d))
    return dirs


def test_a_chain_gives_the_statistics_of_the_window_from_tmin(run_dir, tmp_path_factory):
    tmp_path = tmp_path_factory.mktemp("chains")
    samples = random_samples(np.random.default_rng(13), 90)
    direct = {n0: segment_stats({k: v[n0:] for k, v in samples.items()}) for n0 in (30, 60)}
    exact = chain_folders(run_dir, tmp_path / "exact", samples, ((0, 30), (0, 60), (0, 90)))
    plain = chain_folders(run_dir, tmp_path / "plain", samples, ((0, 30), (30, 60), (60, 90)))
    for dirs in (exact, plain):
        # from the first segment end at or after tmin
        for tmin, n0 in ((0.3, 30), (0.2996, 30), (0.31, 60), (0.6, 60)):
            rec, used, how = wake.chain_statistics(dirs, tmin)
            assert wake.window(rec) == pytest.approx((n0 * 0.01, 0.9)), (dirs, tmin)
            np.testing.assert_allclose(rec["suv"], direct[n0]["suv"], rtol=1e-10, atol=1e-12)
        # no boundary after tmin: the last file as it is
        rec, used, how = wake.chain_statistics(dirs, 0.7)
        assert how == "" and rec.header["nt"] == (90 if dirs is exact else 30)
    rec, used, how = wake.chain_statistics(exact, 0.3)
    assert how == "since" and wake.statistics_source(used, how, exact[-1]).replace(
        os.sep, "/") == "DAT/stat.dat minus ../s1/DAT/stat.dat"
    # the summary's base pressure takes the same window
    cpb, source, window = surface.base_pressure(exact[-1], 1.0, exact, 0.3)
    assert window == pytest.approx((0.3, 0.9)) and "minus" in source
    cp = surface.file_cp(os.path.join(exact[-1], "DAT", "stat.dat"), 1.0, run=exact[-1],
                         record=wake.chain_statistics(exact, 0.3)[0])
    assert cpb == surface.face_mean(cp)


def test_a_chain_restarted_plainly_between_exact_runs_joins_its_runs(run_dir, tmp_path_factory):
    # run A exact (s1, s2), a plain restart at step 60, run B exact (s3, s4):
    # a window from before the restart takes A's later part and the whole of B
    samples = random_samples(np.random.default_rng(15), 120)
    tmp_path = tmp_path_factory.mktemp("mixed")
    dirs = chain_folders(run_dir, tmp_path / "a", samples, ((0, 30), (0, 60), (60, 90), (60, 120)))
    for tmin, n0, how in ((0.3, 30, "joined since"), (0.0, 0, "joined"), (0.45, 60, ""),
                          (0.6, 60, ""), (0.9, 90, "since")):
        rec, used, got = wake.chain_statistics(dirs, tmin)
        assert got == how and wake.window(rec) == pytest.approx((n0 * 0.01, 1.2)), tmin
        direct = segment_stats({k: v[n0:] for k, v in samples.items()})
        for name in ("su", "suv", "spm2"):
            np.testing.assert_allclose(rec[name], direct[name], rtol=1e-10, atol=1e-12)
    rec, used, how = wake.chain_statistics(dirs, 0.3)
    assert wake.statistics_source(used, how, dirs[-1]).replace(os.sep, "/") == \
        "2 pieces joined: (../s2/DAT/stat.dat minus ../s1/DAT/stat.dat) + DAT/stat.dat"
    # the window cut at every end of a file inside it, across the restart
    for tmin, cuts in ((0.3, (30, 60, 90, 120)), (0.0, (0, 30, 60, 90, 120))):
        batches = wake.statistics_batches(dirs, tmin)
        assert len(batches) == len(cuts) - 1, tmin
        for b, n0, n1 in zip(batches, cuts[:-1], cuts[1:]):
            assert wake.window(b) == pytest.approx((n0 * 0.01, n1 * 0.01))
            direct = segment_stats({k: v[n0:n1] for k, v in samples.items()})
            np.testing.assert_allclose(b["suv"], direct["suv"], rtol=1e-10, atol=1e-12)
    # a plain rerun from the end of s1 starts where s2 did, but is not its run
    rerun = chain_folders(run_dir, tmp_path / "b", samples, ((0, 30), (30, 60), (30, 90)))
    for d in rerun[1:]:
        (Path(d) / "restart.json").write_text('{"exact": false}')
    rec, used, how = wake.chain_statistics(rerun, 0.45)
    assert how == "" and wake.window(rec) == pytest.approx((0.3, 0.9))


def test_wake_and_surface_commands_take_the_window_since(run_dir, tmp_path, capsys):
    samples = random_samples(np.random.default_rng(14), 50)
    early, late = cumulative_files(run_dir / "DAT", samples, (20, 50))
    os.replace(late, run_dir / "DAT" / "stat.dat")
    out = tmp_path / "w.dat"
    assert cli.main(["wake", str(run_dir), "--since", str(early), "--save-stat", str(out)]) == 0
    assert "windowed statistics" in capsys.readouterr().out
    rec = read_statistics(out)
    np.testing.assert_allclose(rec["svv"], segment_stats({k: v[20:] for k, v in
                                                          samples.items()})["svv"],
                               rtol=1e-10, atol=1e-12)
    assert cli.main(["surface", str(run_dir), "--since", str(early),
                     "--csv", str(tmp_path / "cp.csv"), "-o", str(tmp_path / "cp.png")]) == 0
    assert "mean over t = 0.2 ... 0.5" in capsys.readouterr().out
    # a file that does not end before the window's end leaves no window
    assert cli.main(["wake", str(run_dir), "--since", str(run_dir / "DAT" / "stat.dat")]) == 1
    assert "not before" in capsys.readouterr().err


def test_shear_layer_thickness_on_a_stretched_grid():
    # the body spans x, y in [-0.5, 0.5]; the cells grow by 4 % away from
    # its faces in y, so the cell at the steepest slope is known
    faces = 0.5 + np.cumsum(0.01 * 1.04 ** np.arange(60))
    y = np.concatenate([-faces[::-1], np.linspace(-0.5, 0.5, 11), faces])
    x = np.linspace(-2.0, 3.0, 51)
    z = np.linspace(0.0, 1.0, 5)
    axis = SimpleNamespace(x=x, y=y, z=z)
    flags = np.zeros((len(x) - 1, len(y) - 1, len(z) - 1), int)
    flags[15:25, 60:70, :] = 1                              # x, y in [-0.5, 0.5]
    assert (x[15], x[25], y[60], y[70]) == pytest.approx((-0.5, 0.5, -0.5, 0.5))
    layer = {"centre": (0.12, 0.8), "rear": (0.25, 0.9)}   # thickness, centre |y|
    su = np.zeros((len(x), len(y), len(z)))
    for where, xs in (("centre", 0.0), ("rear", 0.5)):
        delta, yc = layer[where]
        U = 0.5 + 0.75 * np.tanh(2 * (np.abs(y) - yc) / delta)     # Vin = 2
        su[int(np.argmin(np.abs(x - xs))), :, :] = U[:, None]
    su[:, :, -1] = 9.0 * y[None, :]                         # the periodic image row
    out = wake.shear_layer(_Record({"izper": 0}, {"su": su}), axis, flags, vin=2.0)
    for where, (delta, yc) in layer.items():
        assert out[where]["delta_D"] == pytest.approx(delta, rel=0.05)  # slopes between nodes
        n = int(np.searchsorted(faces, yc))
        assert out[where]["cells"] == pytest.approx(delta / (faces[n] - faces[n - 1]), rel=0.08)


class _Record:
    def __init__(self, header, arrays):
        self.header, self._arrays = header, arrays

    def __getitem__(self, name):
        return self._arrays[name]
