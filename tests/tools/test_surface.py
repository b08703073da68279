"""Pressure coefficient around the body: values of a known pressure field,
the traversal order, what the pressure of each kind of file is, and bodies
that cannot be traced."""

import os

import numpy as np
import pytest

import conftest as c
from qvtools import cli, readers, summary
from qvtools.readers import Axis
from qvtools.surface import face_mean, file_cp, layer_values, perimeter, surface_cp

# stretched grid, 8 x 7 cells; body 3 cells long (i 2..4) and 2 high (j 3..4)
XS = np.array([0.0, 1.0, 1.7, 2.1, 2.6, 3.0, 3.6, 4.6, 6.0])
YS = np.array([0.0, 0.8, 1.4, 1.8, 2.3, 2.7, 3.3, 4.2])
AX = Axis((9, 8, 2), XS, YS, np.array([0.0, 1.0]))


def body_mask():
    m = np.zeros((8, 7), bool)
    m[2:5, 3:5] = True
    return m


def test_known_linear_pressure_in_clockwise_order():
    xc, yc = AX.centres(XS), AX.centres(YS)
    p = 0.3 + 0.5 * xc[:, None] - 0.2 * yc[None, :]          # p of the cell centres
    vin = 2.0
    cp = surface_cp(p, body_mask(), AX, vin)
    jref = (7 + 2) // 2 - 3                                   # je/2 from js: cell 1
    # cells numbered from 1, as the case generator numbers the body's cells
    assert cp["ref_cell"] == (1, 2) and cp["p_ref"] == pytest.approx(p[0, jref])
    # front face (x = x(2)) upwards, top (y = y(5)) downstream, rear (x = x(5))
    # downwards, bottom (y = y(3)) back upstream
    normals = list(zip(cp["nx"], cp["ny"]))
    assert normals == [(-1, 0)] * 2 + [(0, 1)] * 3 + [(1, 0)] * 2 + [(0, -1)] * 3
    fluid = [(1, 3), (1, 4), (2, 5), (3, 5), (4, 5), (5, 4), (5, 3), (4, 2), (3, 2), (2, 2)]
    assert list(zip(cp["i"] - 1, cp["j"] - 1)) == fluid
    assert cp["D"] == pytest.approx(YS[5] - YS[3])
    want = [(p[i, j] - p[0, jref]) / (0.5 * vin * vin) for i, j in fluid]
    np.testing.assert_allclose(cp["cp"], want)
    # face centres and the distance along the perimeter
    np.testing.assert_allclose(cp["x"][:2], [XS[2]] * 2)
    np.testing.assert_allclose(cp["y"][:2], [0.5 * (YS[3] + YS[4]), 0.5 * (YS[4] + YS[5])])
    np.testing.assert_allclose(cp["y"][2:5], [YS[5]] * 3)
    B, D = XS[5] - XS[2], YS[5] - YS[3]
    assert cp["perimeter"] == pytest.approx(2 * (B + D))
    np.testing.assert_allclose(cp["corners"], [0.0, D, D + B, 2 * D + B])
    assert np.all(np.diff(cp["s"]) > 0)
    assert cp["s"][0] == pytest.approx(0.5 * (YS[4] - YS[3]))
    # the base pressure: length-weighted mean over the rear face
    lengths = np.array([YS[5] - YS[4], YS[4] - YS[3]])
    assert face_mean(cp) == pytest.approx(np.sum(np.array(want)[[5, 6]] * lengths) / lengths.sum())


def test_bodies_that_cannot_be_traced_are_refused():
    two = body_mask()
    two[6, 1] = True
    with pytest.raises(ValueError, match="2 separate parts"):
        perimeter(two)
    ring = np.zeros((8, 7), bool)
    ring[1:6, 1:6] = True
    ring[3, 3] = False
    with pytest.raises(ValueError, match="encloses fluid"):
        perimeter(ring)
    # an L whose arms meet diagonally around an empty cell
    corner = np.zeros((8, 7), bool)
    corner[2:5, 2] = True
    corner[4, 2:5] = True
    corner[2, 3] = True
    corner[3, 4] = True
    with pytest.raises(ValueError, match="by a corner"):
        perimeter(corner)
    edge = np.zeros((8, 7), bool)
    edge[0, 3] = True
    with pytest.raises(ValueError, match="edge of the grid"):
        perimeter(edge)
    with pytest.raises(ValueError, match="no body cell"):
        perimeter(np.zeros((8, 7), bool))
    # an L-shaped body is one block: traced, turning at every corner
    ell = np.zeros((8, 7), bool)
    ell[2:5, 2] = True
    ell[2, 3:5] = True
    faces = perimeter(ell)
    assert len(faces) == 12 and faces[0][:2] == (2, 2)


def test_span_mean_needs_the_same_body_in_every_layer():
    p = np.arange(8 * 7 * 3, dtype=float).reshape(8, 7, 3)
    flags = np.zeros((8, 7, 3), int)
    flags[2:5, 3:5, :] = 1
    v, m = layer_values(p, flags)
    np.testing.assert_allclose(v, p.mean(axis=2))
    flags[2, 3, 2] = 0
    with pytest.raises(ValueError, match="differ between span layers"):
        layer_values(p, flags)
    v, m = layer_values(p, flags, k=2)
    assert not m[2, 3] and np.array_equal(v, p[:, :, 2])


def test_file_kinds_give_pressure_or_say_modified_pressure(run_dir):
    field = file_cp(run_dir / "DAT" / "final.dat")
    assert field["what"] == "pressure" and field["layer"] == "span mean"
    f = readers.read_field(run_dir / "DAT" / "final.dat")
    pp = f["pp"][:-1].mean(axis=2)                            # body: cell (2, 2)
    # faces around the one-cell body: front, top, rear, bottom
    fluid = [(1, 2), (2, 3), (3, 2), (2, 1)]
    jref = (5 + 2) // 2 - 3
    np.testing.assert_allclose(field["cp"], [(pp[i, j] - pp[0, jref]) / 0.5 for i, j in fluid])

    # a snapshot with the same pressure: its pm = p - 2/3 k_sgs is undone
    arrays = {k: f[k] for k in f.names}
    dx, dy, dz = np.diff(c.X), np.diff(c.Y), np.diff(c.Z)
    d = (dx[:, None, None] * dy[None, :, None] * dz[None, None, :]) ** 0.33333
    nut = np.abs(arrays["nut"])
    arrays["nut"] = nut
    pm = arrays.pop("pp").copy()
    pm[:-1] -= 2 / 3 * nut[:-1] ** 2 / (d * 0.094 ** 2 * d)
    arrays["pm"] = pm
    order = ["uu", "vv", "ww", "pm", "fu", "fv", "fw", "nut"]
    c.write_field(run_dir / "snap2.dat", {k: arrays[k] for k in order})
    s = file_cp(run_dir / "snap2.dat")
    assert s["what"].startswith("pressure (restored")
    np.testing.assert_allclose(s["cp"], field["cp"], rtol=1e-12, atol=1e-12)

    st = file_cp(run_dir / "DAT" / "stat.dat", k=1)
    assert st["what"].startswith("mean modified pressure") and "Cs = 0.1" in st["what"]
    assert st["layer"] == "layer k = 1"
    assert st["window"] == pytest.approx((3.25 - 500 * 0.01, 3.25))
    spm = readers.read_statistics(run_dir / "DAT" / "stat.dat")["spm"][:-1, :, 1]
    np.testing.assert_allclose(st["cp"], [(spm[i, j] - spm[0, jref]) / 0.5 for i, j in fluid])


def test_command_and_base_pressure_in_the_summary(run_dir, tmp_path, capsys):
    out = tmp_path / "cp.png"
    assert cli.main(["surface", str(run_dir / "DAT" / "stat.dat"), "-o", str(out),
                     "--csv", str(tmp_path / "cp.csv"), "--reference", "base"]) == 0
    text = capsys.readouterr().out
    assert "mean modified pressure" in text and "first cell row on the centre line" in text
    assert open(out, "rb").read(8) == b"\x89PNG\r\n\x1a\n"
    lines = (tmp_path / "cp.csv").read_text().splitlines()
    head = [ln for ln in lines if ln.startswith("#")]
    assert f"# source {os.path.abspath(run_dir / 'DAT' / 'stat.dat')}" in head
    assert any(ln.startswith("# written by qv, version ") for ln in head)
    lines = lines[len(head):]
    assert lines[0] == "s,x,y,nx,ny,i,j,cp" and len(lines) == 1 + 4
    cp = file_cp(run_dir / "DAT" / "stat.dat")
    s = summary.summarize(run_dir)
    assert s["cpb"] == pytest.approx(face_mean(cp)) and "stat.dat" in s["cpb_source"]
    # the fixture's statistics end at t = 3.25, long before the window: said so
    assert any("includes the start-up" in n for n in s["notes"])
    assert "base pressure Cpb" in summary.format_table(s)
