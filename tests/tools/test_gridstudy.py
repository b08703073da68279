"""The grid study: its values are those of summary and wake on the same
window, h/D is the cell at the body of a stretched grid, and the table
carries every warning and note."""

import csv
import shutil

import numpy as np
import pytest

import conftest as c
from qvtools import balance, chain, cli, gridstudy, readers, summary, wake
from qvtools.readers import Axis, read_statistics, stat_ranges


def test_h_is_the_smallest_cell_at_the_body_of_a_stretched_grid():
    # finest cells far from the body in x and in y; the body spans x 2 .. 3
    # (cells 0.6 and 0.4) and y 1 .. 2.5 (0.5, 0.45, 0.55)
    x = np.array([0.0, 0.1, 2.0, 2.6, 3.0, 4.0])
    y = np.array([0.0, 0.05, 1.0, 1.5, 1.95, 2.5, 4.0])
    z = np.array([0.0, 0.3, 1.0])
    flags = np.zeros((5, 6, 2), np.int32)
    flags[2:4, 2:5, :] = 1
    g = gridstudy.grid_size(Axis((6, 7, 3), x, y, z), flags)
    assert g["h_D"] == pytest.approx(0.4 / 1.5)
    assert (g["across"], g["cells"]) == (3, 5 * 6 * 2)
    assert g["dz_D"] == pytest.approx(0.3 / 1.5)


def wake_statistics(path, shift):
    """A statistics file whose mean u on every node is x - shift."""
    rec = read_statistics(path)
    x = np.asarray(c.X, float)
    arrays = {n: rec[n] for n in stat_ranges(c.BOUNDS)}
    arrays["su"] = np.broadcast_to(x[:, None, None] - shift, arrays["su"].shape).copy()
    c.write_field(path, arrays, header=tuple(rec.header.values()))


def final_at(folder, t, seed=1):
    """The final field file of *folder* rewritten to hold the time *t*."""
    header = list(c.HEADER)
    header[3] = t
    c.write_field(folder / "DAT" / "final.dat", c.field_arrays(seed), header=tuple(header))


def test_the_table_holds_what_summary_and_wake_give(run_dir, tmp_path_factory, capsys):
    base = tmp_path_factory.mktemp("study")
    coarse, fine = base / "coarse", base / "fine"
    shutil.copytree(run_dir, coarse)
    shutil.copytree(run_dir, fine)
    # the fine grid: a finer cell far upstream, the same cells at the body
    c.write_text(fine / "axis.dat", c.axis_lines(x=[0.0, 0.2] + c.X[2:]))
    wake_statistics(coarse / "DAT" / "stat.dat", 3.5)
    wake_statistics(fine / "DAT" / "stat.dat", 3.25)
    for folder in (coarse, fine):                # the field file of the series' end
        final_at(folder, 60.0)
    out = base / "res" / "grid"
    assert cli.main(["gridstudy", "--run", f"coarse={coarse}", "--run", f"fine={fine}@40",
                     "--tmin", "35", "--out", str(out)]) == 0
    text = capsys.readouterr().out
    rows = {r["label"]: r for r in csv.DictReader(
        line for line in open(str(out) + ".csv", encoding="utf-8") if not line.startswith("#"))}
    for label, folder, tmin in (("coarse", coarse, 35.0), ("fine", fine, 40.0)):
        s = summary.summarize(str(folder), tmin=tmin)
        r = rows[label]
        for key, col in (("strouhal", "st"), ("cd_mean", "cd"), ("cd_mean_err", "cd_err"),
                         ("cl_rms", "cl_rms"), ("cpb", "cpb"), ("t_from", "t_from")):
            assert float(r[col]) == pytest.approx(s[key], rel=1e-5), (label, key)
        assert float(r["h_D"]) == pytest.approx(0.5 / 0.7)
        line = wake.wake([str(folder)])
        assert float(r["lr"]) == pytest.approx(line["Lr"], rel=1e-5)
        assert float(r["U_2.02"]) == pytest.approx(wake.centre_line_at(line, [2.02])[0],
                                                   rel=1e-5)
        # the summary's warnings and notes carried through, none dropped, and
        # a run that has not settled marked as such
        assert r["settled"] == ("no" if s["unsettled"] else "yes")
        assert (f"| {label} (NOT SETTLED) |" in text) == bool(s["unsettled"])
        carried = r["warnings"] + r["notes"]
        for w in s["warnings"] + s["notes"]:
            assert w in carried and w in text
    # Lr from the rear face (x = 2.5) to where u = x - shift turns positive
    assert float(rows["coarse"]["lr"]) == pytest.approx(1.0 / 0.7, rel=1e-5)
    assert float(rows["fine"]["lr"]) == pytest.approx(0.75 / 0.7, rel=1e-5)
    assert rows["Lyn et al. 1995, experiment at Re 21,400"]["U_2.02"] == "0.35"
    assert "| fine |" in text and "pressure force only" in text
    # the eddy viscosity beside the body, from each run's final field file
    assert "eddy viscosity nut Re beside the sides" in text
    assert float(rows["coarse"]["nut_Re_t"]) > 0 and rows["coarse"]["nut_Re_corner"] != ""
    assert "damping across the layers beside the sides" in text
    # the momentum balance of the window's statistics (the 2 D and 3 D boxes
    # do not fit this grid), beside the faces' drag over the statistics' window
    run = readers.Run(str(coarse))
    rec = wake.chain_statistics([str(coarse)], 35.0)[0]
    boxes = balance.momentum_drag(rec, run.axis(), run.flags(), c.VIN)
    assert float(rows["coarse"]["cd_box_1_1"]) == pytest.approx(boxes[0]["cd"], rel=1e-5)
    assert rows["coarse"]["cd_box_2_2"] == rows["coarse"]["cd_box_3_2"] == ""
    ts = chain.joined_timeseries(str(coarse))
    a, b = wake.window(rec)
    s = summary.summarize(str(coarse), tmin=35.0)
    faces = ts["pfx"][(ts["t"] > a) & (ts["t"] <= b + 1e-9)].mean() / (0.5 * c.VIN ** 2
                                                                     * s["frontal_area"])
    assert float(rows["coarse"]["cd_faces_stat_window"]) == pytest.approx(faces, rel=1e-5)
    assert "drag from the momentum balance" in text
    for suffix in ("_scalars.png", "_centreline.png", "_cp.png"):
        assert (base / "res" / ("grid" + suffix)).stat().st_size > 0


def test_the_front_face_middle_and_the_faces_drag():
    # a body of 1 x 4 cells on unequal cells: front cells at y 0.1 0.3 0.65 0.8,
    # the middle (0.45) between the second and the third
    n = np.array([(-1, 0)] * 4 + [(0, 1), (1, 0), (1, 0), (1, 0), (1, 0), (0, -1)])
    cp = {"nx": n[:, 0], "ny": n[:, 1], "y": np.array([0.1, 0.3, 0.65, 0.8, 1, .8, .6, .3, .1, 0]),
          "length": np.array([0.2, 0.2, 0.3, 0.2, 1, 0.2, 0.3, 0.2, 0.2, 1]),
          "cp": np.array([0.2, 0.9, 0.95, 0.3, -1.5, -1.0, -1.2, -1.2, -1.0, -1.4])}
    f = gridstudy.face_pressures(cp)
    assert f["stagnation"] == pytest.approx(0.9)          # y 0.3 is nearer 0.45 than 0.6
    cp["y"][2] = 0.6                                      # now both 0.15 off: their mean
    assert gridstudy.face_pressures(cp)["stagnation"] == pytest.approx(0.925)
    assert f["front"] == pytest.approx((0.04 + 0.18 + 0.285 + 0.06) / 0.9)
    assert f["front_less_rear"] == pytest.approx(f["front"] - (-1.2 * 0.5 - 1.0 * 0.4) / 0.9)


def test_batch_error_of_equal_batches_is_the_standard_error_of_their_mean():
    x = [0.52, 0.47, 0.61, 0.55]
    want = np.std(x, ddof=1) / np.sqrt(len(x))
    assert gridstudy.batch_error(x, [3] * 4, float(np.mean(x))) == pytest.approx(want)
    assert gridstudy.batch_error([0.5], [3], 0.5) is None


def test_statistics_that_start_before_the_window_are_flagged(run_dir):
    # one folder: its statistics sum from the run's start
    start, end = gridstudy.study_run("g", str(run_dir), tmin=35.0)["stat_window"]
    for tmin, flagged in (((start + end) / 2, True), (start, False)):
        row = gridstudy.study_run("g", str(run_dir), tmin=tmin)
        assert any("before the window's" in w for w in row["warnings"]) == flagged


def test_a_run_without_statistics_keeps_its_row(run_dir, tmp_path, capsys):
    (run_dir / "DAT" / "stat.dat").unlink()     # a segment that has not ended
    assert cli.main(["gridstudy", "--run", f"g={run_dir}", "--tmin", "35",
                     "--out", str(tmp_path / "g")]) == 0
    text = capsys.readouterr().out
    s = summary.summarize(str(run_dir), tmin=35.0)
    assert f"{s['cd_mean']:.4g} ± " in text and "note: no wake and no mean Cp" in text
    assert not (tmp_path / "g_cp.png").exists()


class _Field:
    """The two things side_viscosity reads of a field file."""

    def __init__(self, nut, Re, t):
        self._nut, self.header = nut, {"Re": Re, "t": t}

    def __getitem__(self, name):
        assert name == "nut"
        return self._nut


def test_the_eddy_viscosity_is_read_in_the_rows_beside_the_side_faces():
    # the body spans cells i 2..4, j 2..3 of a stretched grid; nut carries
    # its cell's indices, and one extra ghost plane in i as a file holds
    x = np.cumsum([0.0, 1.0, 0.8, 0.5, 0.3, 0.3, 0.5, 0.9])
    y = np.cumsum([0.0, 1.0, 0.6, 0.3, 0.3, 0.6, 1.0])
    z = np.array([0.0, 0.5, 1.0, 1.5])
    flags = np.zeros((7, 6, 3), np.int32)
    flags[2:5, 2:4, :] = 1
    i, j, k = np.meshgrid(np.arange(8), np.arange(6), np.arange(3), indexing="ij")
    Re = 400.0
    nut = (100.0 * i + j * j + 0.1 * k) / Re
    v = wake.side_viscosity(_Field(nut, Re, 7.5), Axis((8, 7, 4), x, y, z), flags)
    # rows j = 1 (below) and j = 4 (above): (1 + 16) / 2; the span mean of k adds 0.1
    assert v["corner"] == pytest.approx(200 + 8.5 + 0.1)
    assert v["side"] == pytest.approx(300 + 8.5 + 0.1)
    assert v["max"] == pytest.approx(400 + 16 + 0.2)
    assert v["t"] == 7.5
    # a body touching the side of the grid has no row beyond it
    flags[2:5, 0:4, :] = 1
    assert wake.side_viscosity(_Field(nut, Re, 7.5), Axis((8, 7, 4), x, y, z), flags) is None


def test_every_field_file_of_the_chain_in_the_window_is_an_instant(run_dir, tmp_path, capsys):
    first, second, third = (tmp_path / n for n in ("s1", "s2", "s3"))
    for folder, t, seed in ((first, 20.0, 4), (second, 40.0, 5), (third, 60.0, 6)):
        shutil.copytree(run_dir, folder)
        final_at(folder, t, seed)
    chain = f"{first},{second},{third}"
    out = tmp_path / "res" / "grid"
    assert cli.main(["gridstudy", "--run", f"g={chain}", "--tmin", "35", "--out", str(out)]) == 0
    text = capsys.readouterr().out
    row = gridstudy.study_run("g", [str(first), str(second), str(third)], tmin=35.0)
    # the end of s1 (t = 20) lies before the window; s2 and s3 in time order
    assert [(at["folder"], at["t"]) for at in row["instants"]] == [(str(second), 40.0),
                                                                   (str(third), 60.0)]
    # each instant is its own file's; the grid's row holds the last folder's
    nuts = [at["nut"]["corner"] for at in row["instants"]]
    assert nuts[0] != nuts[1] and row["nut"]["corner"] == nuts[1]
    assert row["span"]["t"] == 60.0
    assert "| g | 40 |" in text and "| g | 60 |" in text and "| g | 20 |" not in text
    lines = [ln for ln in open(str(out) + "_instants.csv", encoding="utf-8")
             if not ln.startswith("#")]
    assert len(lines) == 3 and lines[1].startswith(f"g,{second},40,")


def test_field_files_that_cannot_give_an_instant(run_dir, tmp_path, capsys):
    folders = [tmp_path / f"s{n}" for n in range(1, 5)]
    for folder, t in zip(folders, (40.0, 45.0, 50.0, 30.0)):
        shutil.copytree(run_dir, folder)
        final_at(folder, t)
    (folders[0] / "DAT" / "final.dat").unlink()              # passed over
    with open(folders[1] / "DAT" / "final.dat", "r+b") as fh:   # cut short: a note
        fh.truncate(200)
    row = gridstudy.study_run("g", [str(f) for f in folders], tmin=35.0)
    assert [at["t"] for at in row["instants"]] == [50.0]
    notes = "\n".join(row["notes"])
    assert f"at the end of {folders[1]}" in notes and str(folders[0]) not in notes
    # the last folder ends before the window: said so, and its row is empty
    assert f"last folder {folders[3]} holds t = 30" in notes
    assert row["nut"] is None and row["span"] is None
    # a grid with no instant at all keeps a line of dashes
    row["instants"] = []
    lines = gridstudy.format_markdown([row]).splitlines()
    for head, dashes in (("| eddy viscosity nut Re", 4), ("| damping across", 8),
                         ("| the near wake's span", 4)):
        at = next(n for n, ln in enumerate(lines) if ln.startswith(head))
        assert lines[at + 2] == "| g |" + " - |" * dashes
