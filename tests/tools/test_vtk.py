"""VTK export, read back with VTK's own XML reader."""

import os

import numpy as np
import pytest

from conftest import need_vtk  # noqa: E402

vtk = need_vtk()
from vtk.util.numpy_support import vtk_to_numpy  # noqa: E402

import conftest as c  # noqa: E402
from qvtools import readers as r  # noqa: E402
from qvtools import cli  # noqa: E402
from qvtools.runfiles import version  # noqa: E402
from qvtools.vtk_export import cell_velocity, export, vorticity, write_vtr  # noqa: E402


def read_vtr(path):
    rd = vtk.vtkXMLRectilinearGridReader()
    rd.SetFileName(str(path))
    rd.Update()
    g = rd.GetOutput()
    assert g.GetNumberOfPoints() > 0, f"VTK could not read {path}"
    return g


def cell_array(g, name, shape):
    """A VTK cell or point array back in (i, j, k[, comp]) order."""
    data = g.GetCellData().GetArray(name) or g.GetPointData().GetArray(name)
    assert data is not None, f"array {name} missing"
    a = vtk_to_numpy(data)
    if a.ndim == 2:  # vectors: tuples in x-fastest order
        return a.reshape(shape[::-1] + (a.shape[1],)).transpose(2, 1, 0, 3)
    return a.reshape(shape, order="F")


CELLS = (c.NX - 1, c.NY - 1, c.NZ - 1)
NODES = (c.NX, c.NY, c.NZ)


@pytest.mark.parametrize("encoding", ["raw", "base64"])
def test_field_export_round_trip(run_dir, tmp_path, encoding):
    src = run_dir / "DAT" / "final.dat"
    out = export(src, tmp_path / "f.vtr", encoding=encoding)
    g = read_vtr(out)
    assert g.GetDimensions() == NODES
    for get, want in ((g.GetXCoordinates, c.X), (g.GetYCoordinates, c.Y), (g.GetZCoordinates, c.Z)):
        np.testing.assert_allclose(vtk_to_numpy(get()), want)
    f = r.read_field(src)
    u, v, w = cell_velocity(f)
    vel = cell_array(g, "velocity", CELLS)
    # face averages: u of cell (is, js, ks) from uu(is) and uu(is+1)
    assert vel[0, 0, 0, 0] == pytest.approx(0.5 * (f["uu"][0, 0, 0] + f["uu"][1, 0, 0]))
    assert vel[2, 1, 3, 1] == pytest.approx(0.5 * (f["vv"][2, 1, 3] + f["vv"][2, 2, 3]))
    assert vel[4, 3, 2, 2] == pytest.approx(0.5 * (f["ww"][4, 3, 2] + f["ww"][4, 3, 3]))
    np.testing.assert_allclose(vel, np.stack([u, v, w], -1))
    # the ghost column i = ie of pp and nut is not exported
    np.testing.assert_allclose(cell_array(g, "pressure", CELLS), f["pp"][:-1])
    np.testing.assert_allclose(cell_array(g, "nut", CELLS), f["nut"][:-1])
    assert np.array_equal(cell_array(g, "iflag", CELLS), c.body_flags())
    axis = r.read_axis(run_dir / "axis.dat")
    om = vorticity(u, v, w, *(axis.centres(a) for a in (axis.x, axis.y, axis.z)))
    np.testing.assert_allclose(cell_array(g, "vorticity_magnitude", CELLS),
                               np.sqrt(sum(o ** 2 for o in om)))
    assert vtk_to_numpy(g.GetFieldData().GetArray("TimeValue"))[0] == 3.25
    # provenance, read back by VTK's own reader as string arrays
    fd = g.GetFieldData()
    got = {n: fd.GetAbstractArray(n).GetValue(0) for n in ("version", "source", "case")}
    assert got["version"] == version() and got["source"] == os.path.abspath(src)
    assert got["case"] == os.path.basename(run_dir)


def test_snapshot_and_statistics_export(run_dir, tmp_path):
    g = read_vtr(export(run_dir / "snap1.dat", tmp_path / "s.vtr"))
    snap = r.read_field(run_dir / "snap1.dat", snapshot=True)
    # one pressure array in field files and snapshots: the snapshot's
    # modified pressure pm = p - 2/3 nut^2 / (D Ck^2 D) is turned back into p
    dx, dy, dz = np.diff(c.X), np.diff(c.Y), np.diff(c.Z)
    d = (dx[:, None, None] * dy[None, :, None] * dz[None, None, :]) ** 0.33333
    nut = snap["nut"][:-1]
    np.testing.assert_allclose(cell_array(g, "pressure", CELLS),
                               snap["pm"][:-1] + 2 / 3 * nut ** 2 / (d * 0.094 ** 2 * d))
    assert g.GetCellData().GetArray("modified_pressure") is None

    g = read_vtr(export(run_dir / "DAT" / "stat.dat", tmp_path / "st.vtr", encoding="base64"))
    s = r.read_statistics(run_dir / "DAT" / "stat.dat")
    mean = cell_array(g, "mean_velocity", NODES)
    np.testing.assert_allclose(mean[..., 0], s["su"])
    np.testing.assert_allclose(mean[..., 2], s["sw"])
    for name in ("suv", "sgs22", "snut", "tauyz"):
        np.testing.assert_allclose(cell_array(g, name, NODES), s[name])
    np.testing.assert_allclose(cell_array(g, "spm2", CELLS), s["spm2"][:-1])


def test_vorticity_of_simple_shear_and_rotation():
    x = np.linspace(0, 1, 5) ** 1.5         # stretched centres
    y = np.linspace(0, 2, 6)
    z = np.linspace(0, 1, 3)
    X, Y, _ = np.meshgrid(x, y, z, indexing="ij")
    zero = np.zeros_like(X)
    wx, wy, wz = vorticity(3.0 * Y, zero, zero, x, y, z)
    np.testing.assert_allclose(wz, -3.0)
    np.testing.assert_allclose(wx, 0.0)
    # solid rotation u = -y, v = x has vorticity 2 even on a stretched grid
    wz = vorticity(-Y, X, zero, x, y, z)[2]
    np.testing.assert_allclose(wz, 2.0)
    # a single cell layer in z gives no z-derivative instead of failing
    assert vorticity(zero[:, :, :1], zero[:, :, :1], zero[:, :, :1], x, y, z[:1])[0].shape == (5, 6, 1)


def test_mismatched_grid_and_wrong_kind(run_dir, tmp_path):
    c.write_text(tmp_path / "ax", c.axis_lines(c.X[:-1]))
    with pytest.raises(ValueError, match="grid mismatch"):
        export(run_dir / "DAT" / "final.dat", tmp_path / "x.vtr", axis_path=tmp_path / "ax")
    with pytest.raises(ValueError, match="history file"):
        export(run_dir / "DAT" / "vib.dat", tmp_path / "x.vtr")
    with pytest.raises(ValueError, match="shape"):
        write_vtr(tmp_path / "y.vtr", [0, 1], [0, 1], [0, 1], cell_data={"a": np.zeros((2, 1, 1))})


def test_body_cells_hidden_and_body_position_in_field_data(run_dir, tmp_path):
    g = read_vtr(export(run_dir / "DAT" / "final.dat", tmp_path / "f.vtr"))
    ghost = cell_array(g, "vtkGhostType", CELLS)
    assert np.array_equal(ghost != 0, c.body_flags() != 0)
    assert set(np.unique(ghost)) == {0, 32}                  # the hidden-cell flag
    # VTK itself treats them as hidden: one visible cell fewer per body cell
    assert g.GetNumberOfCells() - np.count_nonzero(c.body_flags()) == sum(
        g.IsCellVisible(n) for n in range(g.GetNumberOfCells()))
    # t = 3.25 is neither a history sample (the last segment starts at t = 30)
    # nor a time-series line (every 0.1 from 0.1): no position is made up
    fd = g.GetFieldData()
    assert fd.GetArray("body_displacement") is None
    # a time the history holds: sample n at 30 + n * 0.1 in the last segment
    h = r.read_history(run_dir / "DAT" / "vib.dat")
    f = r.read_field(run_dir / "DAT" / "final.dat")
    c.write_field(run_dir / "DAT" / "final.dat", {k: f[k] for k in f.names},
                  header=c.HEADER[:3] + (30.0 + h["time"][41],) + c.HEADER[4:])
    g = read_vtr(export(run_dir / "DAT" / "final.dat", tmp_path / "f2.vtr"))
    disp = vtk_to_numpy(g.GetFieldData().GetArray("body_displacement"))
    np.testing.assert_allclose(disp, [h["xdis"][41], h["ydis"][41], 0.0])
    rot = vtk_to_numpy(g.GetFieldData().GetArray("body_rotation"))
    assert rot[0] == pytest.approx(h["tdis"][41]) and rot[0] != 0
    # statistics: node values strictly inside the body are NaN (none in a
    # one-cell body), the cells hidden
    g = read_vtr(export(run_dir / "DAT" / "stat.dat", tmp_path / "st.vtr"))
    assert np.isfinite(cell_array(g, "su", NODES)).all()
    assert np.array_equal(cell_array(g, "vtkGhostType", CELLS) != 0, c.body_flags() != 0)


def test_inner_nodes_of_a_thick_body():
    from qvtools.vtk_export import inner_nodes
    flags = np.zeros((6, 5, 3), int)
    flags[1:4, 1:3, :] = 1                                   # 3 x 2 cells, all k
    inner = inner_nodes(flags)
    want = np.zeros((7, 6, 4), bool)
    want[2:4, 2, 1:3] = True                                 # interior nodes, not the surface
    assert np.array_equal(inner, want)


@pytest.mark.parametrize("encoding", ["raw", "base64"])
def test_compressed_export_reads_back_equal(run_dir, tmp_path, encoding):
    src = run_dir / "DAT" / "stat.dat"
    plain = read_vtr(export(src, tmp_path / "p.vtr", encoding=encoding))
    packed = export(src, tmp_path / "z.vtr", encoding=encoding, compress=True)
    assert b'compressor="vtkZLibDataCompressor"' in open(packed, "rb").read(400)
    z = read_vtr(packed)
    for name in ("mean_velocity", "suv", "k_resolved"):
        np.testing.assert_array_equal(vtk_to_numpy(z.GetPointData().GetArray(name)),
                                      vtk_to_numpy(plain.GetPointData().GetArray(name)))
    np.testing.assert_array_equal(vtk_to_numpy(z.GetCellData().GetArray("spm")),
                                  vtk_to_numpy(plain.GetCellData().GetArray("spm")))
    # arrays longer than one compression block (64 KiB) cross block boundaries
    big = np.arange(3 * 41 * 41 * 11, dtype=float).reshape(41, 41, 11, 3) * 0.5
    out = tmp_path / "big.vtr"
    write_vtr(out, np.arange(42), np.arange(42), np.arange(12),
              cell_data={"v": big}, encoding=encoding, compress=True)
    np.testing.assert_array_equal(cell_array(read_vtr(out), "v", (41, 41, 11)), big)


def test_series_gets_a_pvd_with_times(run_dir, tmp_path, capsys):
    out = tmp_path / "vtk"
    out.mkdir()
    files = [run_dir / "snap1.dat", run_dir / "DAT" / "final.dat", run_dir / "DAT" / "stat.dat"]
    f = r.read_field(files[1])
    c.write_field(files[1], {k: f[k] for k in f.names}, header=c.HEADER[:3] + (7.5,) + c.HEADER[4:])
    assert cli.main(["vtk", *map(str, files), "--outdir", str(out), "--compress"]) == 0
    pvd = (out / "series.pvd").read_text()
    import xml.etree.ElementTree as ET
    sets = ET.fromstring(pvd).findall("./Collection/DataSet")
    # the statistics file is no instant of the series; sorted by time
    assert [(float(d.get("timestep")), d.get("file")) for d in sets] == [
        (3.25, "snap1.dat.vtr"), (7.5, "final.dat.vtr")]
    for d in sets:
        read_vtr(out / d.get("file"))
