"""VTK export, read back with VTK's own XML reader."""

import numpy as np
import pytest

from conftest import need_vtk  # noqa: E402

vtk = need_vtk()
from vtk.util.numpy_support import vtk_to_numpy  # noqa: E402

import conftest as c  # noqa: E402
from qvtools import readers as r  # noqa: E402
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


def test_snapshot_and_statistics_export(run_dir, tmp_path):
    g = read_vtr(export(run_dir / "snap1.dat", tmp_path / "s.vtr"))
    snap = r.read_field(run_dir / "snap1.dat", snapshot=True)
    np.testing.assert_allclose(cell_array(g, "modified_pressure", CELLS), snap["pm"][:-1])
    assert g.GetCellData().GetArray("pressure") is None

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
