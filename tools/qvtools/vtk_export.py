"""Export of field, snapshot and statistics files to VTK XML rectilinear grids.

The grid of a ``.vtr`` file is the grid lines x(is)..x(ie), y(js)..y(je),
z(ks)..z(ke) of the axis file.  Field and snapshot files give cell data over
the fluid cells (velocity averaged from the faces to the cell centre,
pressure or modified pressure, eddy viscosity, vorticity); statistics files
give their node arrays as point data and the modified-pressure moments as
cell data.  Arrays are little-endian, either raw binary in an appended
section or base64 inline.
"""

import base64
import struct
from xml.sax.saxutils import quoteattr

import numpy as np

from .readers import read_axis, read_flags, read_record_file, find_grid

_VTK_TYPES = {"f8": "Float64", "f4": "Float32", "i4": "Int32", "i8": "Int64",
              "u1": "UInt8"}


def cell_velocity(f):
    """Cell-centred (u, v, w) of the fluid cells from the face velocities."""
    nx, ny, nz = _ncells(f.bounds)
    uu, vv, ww = f["uu"], f["vv"], f["ww"]
    u = 0.5 * (uu[0:nx] + uu[1:nx + 1])
    v = 0.5 * (vv[0:nx, 0:ny] + vv[0:nx, 1:ny + 1])
    w = 0.5 * (ww[0:nx, :, 0:nz] + ww[0:nx, :, 1:nz + 1])
    return u, v, w


def _ncells(b):
    return b["ie"] - b["is"], b["je"] - b["js"], b["ke"] - b["ks"]


def _deriv(a, c, axis):
    """d a / d c along *axis* on the nonuniform points *c* (0 if one point)."""
    if a.shape[axis] < 2:
        return np.zeros_like(a)
    return np.gradient(a, c, axis=axis, edge_order=1)


def vorticity(u, v, w, xc, yc, zc):
    """Vorticity (wx, wy, wz) of a cell-centred velocity on centres xc, yc, zc."""
    wx = _deriv(w, yc, 1) - _deriv(v, zc, 2)
    wy = _deriv(u, zc, 2) - _deriv(w, xc, 0)
    wz = _deriv(v, xc, 0) - _deriv(u, yc, 1)
    return wx, wy, wz


def _check_grid(axis, b, path):
    need = (b["ie"] - b["is"] + 1, b["je"] - b["js"] + 1, b["ke"] - b["ks"] + 1)
    have = (len(axis.x), len(axis.y), len(axis.z))
    if need != have:
        raise ValueError(
            f"grid mismatch: {path} needs {need[0]} x {need[1]} x {need[2]} grid "
            f"lines, the axis file gives {have[0]} x {have[1]} x {have[2]}")


def field_arrays(f, axis, flags=None):
    """Cell arrays of a field or snapshot file for export, by name."""
    nx, ny, nz = _ncells(f.bounds)
    u, v, w = cell_velocity(f)
    xc, yc, zc = (axis.centres(c) for c in (axis.x, axis.y, axis.z))
    om = vorticity(u, v, w, xc, yc, zc)
    cells = {"velocity": np.stack([u, v, w], axis=-1)}
    if "pm" in f:
        cells["modified_pressure"] = f["pm"][0:nx]
    else:
        cells["pressure"] = f["pp"][0:nx]
    cells["nut"] = f["nut"][0:nx]
    cells["vorticity"] = np.stack(om, axis=-1)
    cells["vorticity_magnitude"] = np.sqrt(om[0] ** 2 + om[1] ** 2 + om[2] ** 2)
    if flags is not None:
        if flags.shape != (nx, ny, nz):
            raise ValueError(f"flag file holds {flags.shape} cells, the field {(nx, ny, nz)}")
        cells["iflag"] = flags.astype(np.int32)
    return cells


def statistics_arrays(s, flags=None):
    """(point arrays, cell arrays) of a statistics file for export."""
    nx = s.bounds["ie"] - s.bounds["is"]
    points = {"mean_velocity": np.stack([s["su"], s["sv"], s["sw"]], axis=-1)}
    for name in s.names:
        if name in ("spm", "spm2"):
            continue
        points[name] = s[name]
    points["k_resolved"] = 0.5 * (s["suu"] + s["svv"] + s["sww"])
    cells = {"spm": s["spm"][0:nx], "spm2": s["spm2"][0:nx]}
    if flags is not None:
        cells["iflag"] = flags.astype(np.int32)
    return points, cells


def _flat(a, ncomp):
    """Array values in VTK order (x fastest), components interleaved."""
    if ncomp == 1:
        return np.ravel(a, order="F")
    return a.reshape(-1, ncomp, order="F")


def write_vtr(path, x, y, z, point_data=None, cell_data=None, time=None,
              encoding="raw"):
    """Write a VTK XML rectilinear grid file.

    *point_data* arrays have shape (len(x), len(y), len(z)) or that plus a
    trailing 3 for vectors; *cell_data* arrays one less in each direction.
    *encoding* is "raw" (appended binary) or "base64" (inline).
    """
    if encoding not in ("raw", "base64"):
        raise ValueError(f"unknown encoding {encoding!r}: use raw or base64")
    ext = f"0 {len(x) - 1} 0 {len(y) - 1} 0 {len(z) - 1}"
    blobs, offset = [], 0

    def array_xml(name, arr, ncomp=1, indent="        ", tuples=False):
        nonlocal offset
        arr = np.asarray(arr)
        arr = arr.astype(arr.dtype.newbyteorder("<"))
        key = arr.dtype.kind + str(arr.dtype.itemsize)
        vtype = _VTK_TYPES[key]
        data = _flat(arr, ncomp).tobytes()
        block = struct.pack("<Q", len(data)) + data
        comp = f' NumberOfComponents="{ncomp}"' if ncomp > 1 else ""
        if tuples:
            comp += f' NumberOfTuples="{arr.size // ncomp}"'
        head = f'{indent}<DataArray type="{vtype}" Name={quoteattr(name)}{comp}'
        if encoding == "raw":
            blobs.append(block)
            xml = f'{head} format="appended" offset="{offset}"/>'
            offset += len(block)
            return xml
        text = base64.b64encode(block).decode("ascii")
        return f'{head} format="binary">\n{indent}  {text}\n{indent}</DataArray>'

    def section(tag, arrays, shape):
        if not arrays:
            return []
        out = [f"      <{tag}>"]
        for name, arr in arrays.items():
            ncomp = 3 if np.ndim(arr) == 4 else 1
            if tuple(np.shape(arr)[:3]) != shape:
                raise ValueError(f"{tag} array {name} has shape {np.shape(arr)}, "
                                 f"expected {shape}")
            out.append(array_xml(name, arr, ncomp))
        out.append(f"      </{tag}>")
        return out

    lines = ['<?xml version="1.0"?>',
             '<VTKFile type="RectilinearGrid" version="1.0" '
             'byte_order="LittleEndian" header_type="UInt64">',
             f'  <RectilinearGrid WholeExtent="{ext}">']
    if time is not None:
        lines += ["    <FieldData>",
                  array_xml("TimeValue", np.array([float(time)]), indent="      ", tuples=True),
                  "    </FieldData>"]
    lines.append(f'    <Piece Extent="{ext}">')
    lines += section("PointData", point_data or {}, (len(x), len(y), len(z)))
    lines += section("CellData", cell_data or {}, (len(x) - 1, len(y) - 1, len(z) - 1))
    lines.append("      <Coordinates>")
    for name, c in (("x", x), ("y", y), ("z", z)):
        lines.append(array_xml(name, np.asarray(c, dtype=float)))
    lines += ["      </Coordinates>", "    </Piece>", "  </RectilinearGrid>"]
    with open(path, "wb") as fh:
        fh.write("\n".join(lines).encode("ascii") + b"\n")
        if encoding == "raw":
            fh.write(b'  <AppendedData encoding="raw">\n   _')
            for blob in blobs:
                fh.write(blob)
            fh.write(b"\n  </AppendedData>\n")
        fh.write(b"</VTKFile>\n")


def export(path, out, axis_path=None, flag_path=None, run=None, kind=None,
           encoding="raw"):
    """Export one field, snapshot or statistics file to *out* (.vtr).

    The axis and flag files default to those named in the parameter file of
    *run* (or of the record file's directory).  Returns the written path.
    """
    rec = read_record_file(path, kind)
    if rec.kind not in ("field", "snapshot", "statistics"):
        raise ValueError(f"{path} is a {rec.kind} file: only field, snapshot and "
                         f"statistics files carry a flow field")
    axis_path, flag_path = find_grid(path, axis_path, flag_path, run)
    axis = read_axis(axis_path)
    _check_grid(axis, rec.bounds, path)
    flags = read_flags(flag_path)[1] if flag_path else None
    if rec.kind == "statistics":
        points, cells = statistics_arrays(rec, flags)
    else:
        points, cells = {}, field_arrays(rec, axis, flags)
    write_vtr(out, axis.x, axis.y, axis.z, points, cells,
              time=rec.header.get("t"), encoding=encoding)
    return out
