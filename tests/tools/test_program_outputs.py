"""The tools on files written by the program itself: a small case is made
with the case generator, run for 30 steps, and every output is read back."""

import math
import os
import shutil
import subprocess

import numpy as np
import pytest

from qvtools import readers, summary, vtk_export
from qvtools.casegen import write_case
from qvtools.runfiles import program_path

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def program():
    exe = program_path()
    return exe if os.path.exists(exe) else None


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    exe = program()
    if exe is None:
        pytest.fail("the program is not built: run scripts/test.sh (or set QV_PROGRAM)", pytrace=False)
    d = tmp_path_factory.mktemp("prog") / "run"
    recipe = {
        "name": "tiny",
        "flow": {"Re": 100, "Vin": 1.0, "Cs": 0.1},
        "body": {"B": 1.0, "D": 1.0, "dof": ["y"], "mass_ratio": 2.0, "Ur": 5.0, "zeta": 0.0},
        "grid": {"h": 0.25, "ratio": 1.2, "hmax": 0.5,
                 "core": {"upstream": 0.5, "downstream": 1.0, "lateral": 0.5},
                 "domain": {"upstream": 2, "downstream": 4, "lateral": 2},
                 "span": 1.0, "nz": 2},
        "run": {"dt": 0.02, "nt": 30, "nsmp": 2},
        "output": {"snap_interval": 10, "snap_count": 2},
    }
    write_case(d, recipe)
    with open(d / "console.in", "rb") as cin, open(d / "console.log", "wb") as log:
        rc = subprocess.run([exe], cwd=d, stdin=cin, stdout=log, stderr=subprocess.PIPE, timeout=300)
    assert rc.returncode == 0, rc.stderr.decode()
    return readers.Run(d)


def test_field_and_snapshot_files(run):
    f = readers.read_field(run.final_path)
    dt, nt = f.header["dt"], f.header["nt"]
    assert nt == 30 and math.isclose(f.header["t"], 30 * dt)
    b = f.bounds
    nx, ny, nz = b["ie"] - 2, b["je"] - 2, b["ke"] - 2
    assert f["uu"].size == (nx + 1) * (ny - 1) * (nz - 1)
    assert f["fu"].size == nx * ny * nz
    assert np.all(np.isfinite(f["uu"]))
    snaps = run.snapshot_paths
    assert len(snaps) == 2 and all(os.path.exists(s) for s in snaps)
    s = readers.read_field(snaps[1], snapshot=True)
    assert "pm" in s and math.isclose(s.header["t"], 20 * dt)
    # eddy viscosity is positive somewhere, so the modified pressure differs
    assert np.any(f["nut"] > 0)


def test_statistics_history_body(run):
    st = readers.read_statistics(run.stat_path)
    assert np.all(np.isfinite(st["su"])) and st["suu"].min() > -1e-9
    h = readers.read_history(run.history_path)
    assert len(h["pfy"]) == 15                    # every second step of 30
    body = readers.read_body(run.body_path)
    # the last sample is taken at the last step, so it is the final state
    assert body.header["ydis"] == h["ydis"][-1]
    assert body.bounds["je"] == readers.read_field(run.final_path).bounds["je"]


def test_text_outputs(run):
    ts = readers.read_timeseries(run.ts_path)
    assert list(ts["nn"]) == [10, 20, 30]
    p = readers.read_probe(run.file("fort.1"))
    assert list(p["nn"]) == list(range(1, 31))
    ch = readers.read_change(run.change_path)
    assert ch["nt"] == 30 and ch["nn"] == 30


def test_vtk_round_trip_of_a_real_field(run, tmp_path):
    from conftest import need_vtk
    vtk = need_vtk()
    from vtk.util.numpy_support import vtk_to_numpy
    out = tmp_path / "final.vtr"
    vtk_export.export(run.final_path, out, run=run.path)
    r = vtk.vtkXMLRectilinearGridReader()
    r.SetFileName(str(out))
    r.Update()
    g = r.GetOutput()
    f = readers.read_field(run.final_path)
    nut = vtk_to_numpy(g.GetCellData().GetArray("nut"))
    b = f.bounds
    ref = f.blocks["nut"].region((3, 3, 3), (b["ie"] - 1, b["je"] - 1, b["ke"] - 1))
    assert np.allclose(np.sort(nut), np.sort(ref.ravel()))


def test_summary_of_a_real_run(run):
    s = summary.summarize(run.path, tmin=0.0)
    # 3 time-series lines, 10 steps apart: the window holds 11 samples of the history
    assert s["lines"] == 11 and s["vin"] == 1.0 and not s["notes"]
    assert s["source"].startswith("body history") and not s["running"]
