"""qv export: non-dimensional tables under a header of units and provenance."""

import json
import os

import numpy as np
import pytest

import conftest as c
from qvtools import cli, readers
from qvtools.runfiles import version

D, AREA = 0.7, 0.7 * 2.0                  # the fixture's body: y 1.5..2.2, z 0..2


def table(path):
    """(header lines, column names, data) of an exported CSV."""
    lines = path.read_text().splitlines()
    head = [ln for ln in lines if ln.startswith("#")]
    assert lines[:len(head)] == head, "the header comes first"
    names = lines[len(head)].split(",")
    data = np.loadtxt(path, delimiter=",", skiprows=len(head) + 1, ndmin=2)
    return head, names, {n: data[:, k] for k, n in enumerate(names)}


def test_time_series_and_history_tables(run_dir, tmp_path):
    (run_dir / "case.json").write_text(json.dumps({"recipe": {"name": "vivcase"},
                                                   "version": "v0-case"}))
    out = tmp_path / "ts.csv"
    assert cli.main(["export", "ts", str(run_dir), "-o", str(out)]) == 0
    head, names, col = table(out)
    text = "\n".join(head)
    assert f"version {version()}" in text
    assert "# case vivcase" in text and "written by version v0-case" in text
    assert f"# source {os.path.abspath(run_dir / 'DAT' / 'quivel_vib8.ts')}" in head
    assert "pressure force only" in text and "D = 0.7 " in text
    assert names == ["t", "tVin_D", "Cd", "Cl", "Cm", "x_D", "y_D"]
    ts = readers.read_timeseries(run_dir / "DAT" / "quivel_vib8.ts")
    q = 0.5 * c.VIN ** 2 * AREA
    np.testing.assert_allclose(col["t"], ts["t"])
    np.testing.assert_allclose(col["tVin_D"], ts["t"] * c.VIN / D)
    np.testing.assert_allclose(col["Cd"], ts["pfx"] / q, rtol=1e-9)
    np.testing.assert_allclose(col["Cl"], ts["pfy"] / q, rtol=1e-9)
    np.testing.assert_allclose(col["Cm"], ts["pft"] / (q * D), rtol=1e-9)
    np.testing.assert_allclose(col["y_D"], ts["ydis"] / D, rtol=1e-9)
    assert "segments start at t = 30" in text

    out = tmp_path / "h.csv"
    assert cli.main(["export", "history", str(run_dir), "-o", str(out), "--vin", "2"]) == 0
    head, names, col = table(out)
    h = readers.read_history(run_dir / "DAT" / "vib.dat")
    q = 0.5 * 4.0 * AREA
    assert len(col["t"]) == h.header["nsample"]
    np.testing.assert_allclose(col["Cl"], h["pfy"] / q, rtol=1e-9)
    np.testing.assert_allclose(col["y_D"], h["ydis"] / D, rtol=1e-9)
    np.testing.assert_allclose(col["yvel_Vin"], h["yvel"] / 2.0, rtol=1e-9)
    np.testing.assert_allclose(col["yacc_D_Vin2"], h["yacc"] * D / 4.0, rtol=1e-9)
    np.testing.assert_allclose(col["theta"], h["tdis"], rtol=1e-9)
    assert f"# source {os.path.abspath(run_dir / 'DAT' / 'vib.dat')}" in head
    assert "Vin = 2," in "\n".join(head)


def test_tables_need_their_scales(run_dir, tmp_path, capsys):
    os.remove(run_dir / "console.in")
    assert cli.main(["export", "ts", str(run_dir), "-o", str(tmp_path / "x.csv")]) == 1
    assert "Vin" in capsys.readouterr().err and not (tmp_path / "x.csv").exists()
    with pytest.raises(SystemExit):
        cli.main(["export", "nothing", str(run_dir)])
