"""Probe points from the case generator, and the probes file read back."""

import os

import numpy as np
import pytest

from qvtools import cli, readers
from qvtools.casegen import CaseError, build_case, write_case

RECIPE = {"body": {"B": 1.0, "D": 1.0},
          "grid": {"h": 0.25, "ratio": 1.2, "hmax": 0.5,
                   "domain": {"upstream": 3, "downstream": 8, "lateral": 3},
                   "span": 1.0, "nz": 2}}


def test_default_probes_lie_in_the_wake_and_those_beyond_the_domain_are_left_out(tmp_path):
    case = write_case(tmp_path / "c", RECIPE)
    # 2 and 5 D behind the rear face on the centre line, 2 D behind and 1 D off it;
    # 10 D behind lies beyond x = 8
    assert case.probes == [(2.5, 0.0, 0.5), (5.5, 0.0, 0.5), (2.5, 1.0, 0.5)]
    assert any("10 D behind" in w for w in case.warnings)
    lines = (tmp_path / "c" / "probes.inf").read_text().splitlines()
    assert lines == ["2.50000 0.00000 0.50000", "5.50000 0.00000 0.50000",
                     "2.50000 1.00000 0.50000"]
    long = dict(RECIPE, grid=dict(RECIPE["grid"], domain={"upstream": 3, "downstream": 12,
                                                           "lateral": 3}))
    assert [p[0] for p in build_case(long).probes] == [2.5, 5.5, 10.5, 2.5]


def test_recipe_probes_are_checked_and_an_empty_list_writes_none(tmp_path):
    case = build_case(dict(RECIPE, probes=[[1.0, 0.2, 0.3]]))
    assert case.probes == [(1.0, 0.2, 0.3)]
    for bad, why in (([[9.0, 0, 0.5]], "outside the domain"), ([[0.0, 0.1, 0.5]], "inside the body"),
                     ([[1.0, 0.5]], r"must be \[x, y, z\]"), ("1 2 3", "must be a list")):
        with pytest.raises(CaseError, match=why):
            build_case(dict(RECIPE, probes=bad))
    write_case(tmp_path / "none", dict(RECIPE, probes=[]))
    assert not (tmp_path / "none" / "probes.inf").exists()


def test_probes_file_with_a_restart_is_read_and_plotted(tmp_path, capsys):
    path = tmp_path / "probes.dat"
    head = ["# probes of probes.inf, start at t = {t}", "# Probe 1 (2.5 0 0.5)",
            "# Probe 2 (5.5 0 0.5)",
            "#       nn              t" + "".join(f"{q}{k}".rjust(20) for k in (1, 2) for q in "uvwp")]
    t = np.arange(1, 401) * 0.05
    rows = []
    for n, tt in enumerate(t, 1):
        if n == 201:
            rows += [h.format(t=f"{t[199]:.10g}") for h in head]
        vals = [0.9, 0.3 * np.sin(2 * np.pi * 0.8 * tt), 0.0, -0.1] * 2
        rows.append(f"{(n - 1) % 200 + 1:10d}{tt:15.6f}" + "".join(f"{v:20.12E}" for v in vals))
    path.write_text("\n".join([h.format(t=0) for h in head] + rows) + "\n")
    points, data, segs = readers.read_probes(path)
    assert points == [(2.5, 0.0, 0.5), (5.5, 0.0, 0.5)]
    assert [g["index"] for g in segs] == [0, 200] and segs[1]["start_time"] == pytest.approx(10.0)
    assert len(data["t"]) == 400 and np.all(np.diff(data["t"]) > 0)
    assert cli.main(["plot", "probes", str(path), "-o", str(tmp_path / "p.png")]) == 0
    assert cli.main(["plot", "spectrum", str(path), "--probe", "2", "-o",
                     str(tmp_path / "s.png")]) == 0
    out = capsys.readouterr().out
    assert "peak frequency 0.8" in out
    assert cli.main(["plot", "spectrum", str(path), "--probe", "3"]) == 1
    path.write_text("\n".join([h.format(t=0) for h in head] + [rows[0][:30]]) + "\n")
    with pytest.raises(readers.FormatError, match="line 5: 3 columns, expected 10"):
        readers.read_probes(path)


def test_the_generator_prints_the_programs_path(tmp_path, capsys, monkeypatch):
    monkeypatch.setenv("QV_PROGRAM", "/opt/qv/quivel_vib8")
    assert cli.main(["case", "--out", str(tmp_path / "c"), "--set", "run.nt=10"]) == 0
    assert "run there: /opt/qv/quivel_vib8 < console.in" in capsys.readouterr().out
    monkeypatch.delenv("QV_PROGRAM")
    assert cli.main(["case", "--out", str(tmp_path / "d"), "--set", "run.nt=10"]) == 0
    exe = capsys.readouterr().out.split("run there: ")[1].split(" <")[0]
    assert os.path.isabs(exe) and exe.endswith(os.path.join("build", "quivel_vib8"))
