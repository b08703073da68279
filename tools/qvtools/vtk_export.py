"""Export of field, snapshot and statistics files to VTK XML rectilinear grids.

The grid of a ``.vtr`` file is the grid lines x(is)..x(ie), y(js)..y(je),
z(ks)..z(ke) of the axis file.  Field and snapshot files give cell data over
the cells (velocity averaged from the faces to the cell centre, the pressure
-- restored from the modified pressure for a snapshot -- eddy viscosity,
vorticity); statistics files give their node arrays as point data and the
modified-pressure moments as cell data.  Body cells are hidden through
VTK's ghost-cell array ("vtkGhostType", hidden-cell flag); node values
strictly inside the body are NaN.  Field data carry the time and, where
the run's history or time series has them, the body's displacement and
rotation at that time.  Arrays are little-endian: raw binary in an appended
section or base64 inline, optionally zlib-compressed.  Several files also
get a ``.pvd`` collection that lists them with their times.
"""

import base64
import math
import os
import struct
import sys
import zlib
from xml.sax.saxutils import quoteattr

import numpy as np

from .readers import (Run, find_grid, find_run_dir, read_axis, read_flags, read_history,
                      read_record_file, read_timeseries)
from .surface import cell_pressure
from .runfiles import case_name, version

HIDDEN_CELL = 32          # vtkDataSetAttributes::HIDDENCELL
ZLIB_BLOCK = 1 << 16      # bytes per compressed block

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
    cells["pressure"] = cell_pressure(f, axis)[0]
    cells["nut"] = f["nut"][0:nx]
    cells["vorticity"] = np.stack(om, axis=-1)
    cells["vorticity_magnitude"] = np.sqrt(om[0] ** 2 + om[1] ** 2 + om[2] ** 2)
    if flags is not None:
        if flags.shape != (nx, ny, nz):
            raise ValueError(f"flag file holds {flags.shape} cells, the field {(nx, ny, nz)}")
        cells["iflag"] = flags.astype(np.int32)
        cells["vtkGhostType"] = ghost_cells(flags)
    return cells


def ghost_cells(flags):
    """VTK ghost-cell array: the hidden-cell flag on body cells."""
    return np.where(flags != 0, HIDDEN_CELL, 0).astype(np.uint8)


def inner_nodes(flags):
    """Grid nodes whose eight neighbouring cells are all body cells."""
    b = np.pad(flags != 0, 1)
    inner = np.ones(tuple(n + 1 for n in flags.shape), bool)
    for di in (0, 1):
        for dj in (0, 1):
            for dk in (0, 1):
                inner &= b[di:di + inner.shape[0], dj:dj + inner.shape[1],
                           dk:dk + inner.shape[2]]
    return inner


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
        inner = inner_nodes(flags)
        for name, a in points.items():
            a = np.array(a, float)
            a[inner] = np.nan
            points[name] = a
        cells["iflag"] = flags.astype(np.int32)
        cells["vtkGhostType"] = ghost_cells(flags)
    return points, cells


def _flat(a, ncomp):
    """Array values in VTK order (x fastest), components interleaved."""
    if ncomp == 1:
        return np.ravel(a, order="F")
    return a.reshape(-1, ncomp, order="F")


def _zlib_block(data):
    """Data in VTK's compressed layout: a UInt64 header (block count, block
    size, size of the last block, compressed size of each block), then the
    zlib streams of the blocks."""
    parts = [data[n:n + ZLIB_BLOCK] for n in range(0, len(data), ZLIB_BLOCK)]
    comp = [zlib.compress(p, 6) for p in parts]
    last = len(parts[-1]) if parts else 0
    head = struct.pack(f"<{3 + len(comp)}Q", len(comp), ZLIB_BLOCK, last,
                       *(len(c) for c in comp))
    return head, b"".join(comp)


def write_vtr(path, x, y, z, point_data=None, cell_data=None, time=None,
              encoding="raw", compress=False, field_data=None):
    """Write a VTK XML rectilinear grid file.

    *point_data* arrays have shape (len(x), len(y), len(z)) or that plus a
    trailing 3 for vectors; *cell_data* arrays one less in each direction;
    *field_data* arrays are small 1-D arrays stored with the time, or
    strings (stored as VTK string arrays).
    *encoding* is "raw" (appended binary) or "base64" (inline); *compress*
    zlib-compresses every array.
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
        if compress:
            size, body = _zlib_block(data)
        else:
            size, body = struct.pack("<Q", len(data)), data
        block = size + body
        comp = f' NumberOfComponents="{ncomp}"' if ncomp > 1 else ""
        if tuples:
            comp += f' NumberOfTuples="{arr.size // ncomp}"'
        head = f'{indent}<DataArray type="{vtype}" Name={quoteattr(name)}{comp}'
        if encoding == "raw":
            blobs.append(block)
            xml = f'{head} format="appended" offset="{offset}"/>'
            offset += len(block)
            return xml
        # compressed: header and data are encoded separately
        text = (base64.b64encode(size) + base64.b64encode(body)).decode("ascii") \
            if compress else base64.b64encode(block).decode("ascii")
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

    comp_attr = ' compressor="vtkZLibDataCompressor"' if compress else ""
    lines = ['<?xml version="1.0"?>',
             '<VTKFile type="RectilinearGrid" version="1.0" '
             f'byte_order="LittleEndian" header_type="UInt64"{comp_attr}>',
             f'  <RectilinearGrid WholeExtent="{ext}">']
    fields = {} if time is None else {"TimeValue": np.array([float(time)])}
    fields.update(field_data or {})
    if fields:
        lines.append("    <FieldData>")
        for name, arr in fields.items():
            if isinstance(arr, str):      # a string: VTK's ASCII form, bytes then a 0
                codes = " ".join(str(b) for b in arr.encode("utf-8") + b"\0")
                lines.append(f'      <DataArray type="String" Name={quoteattr(name)} '
                             f'NumberOfTuples="1" format="ascii">{codes}</DataArray>')
                continue
            arr = np.atleast_1d(np.asarray(arr, float))
            lines.append(array_xml(name, arr, indent="      ", tuples=True))
        lines.append("    </FieldData>")
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


def body_state_at(t, record_path, run=None):
    """Body displacement (xdis, ydis) and rotation tdis at time *t*, from the
    run's vibration history (all three, at a sample within half a sampling
    interval of t, in the last run segment) or else its time series (xdis,
    ydis at a line within 1e-4 of t, tdis unknown).  None where not found."""
    folder = run or find_run_dir(record_path)
    if folder is None or t is None:
        return None
    r = Run(folder)
    t0 = 0.0
    try:
        ts = read_timeseries(r.ts_path)
    except (OSError, ValueError):
        ts = None
    if ts is not None and ts.segments and math.isfinite(ts.segments[-1]["start_time"]):
        t0 = ts.segments[-1]["start_time"]
    try:
        h = read_history(r.history_path)
        if h.header["nsample"]:
            tt = t0 + h["time"]
            n = int(np.argmin(np.abs(tt - t)))
            if abs(tt[n] - t) <= 0.5 * h.header["tsmp"] + 1e-9:
                return float(h["xdis"][n]), float(h["ydis"][n]), float(h["tdis"][n])
    except (OSError, ValueError, KeyError):
        pass
    if ts is not None and len(ts):
        n = int(np.argmin(np.abs(ts["t"] - t)))
        if abs(ts["t"][n] - t) <= 1e-4 * max(1.0, abs(t)):
            return float(ts["xdis"][n]), float(ts["ydis"][n]), float("nan")
    return None


def export(path, out, axis_path=None, flag_path=None, run=None, kind=None,
           encoding="raw", compress=False):
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
    folder = run or find_run_dir(path)
    fields = {"version": version(), "source": os.path.abspath(path)}
    if folder is not None:
        fields["case"] = case_name(folder)
    if rec.kind != "statistics":
        state = body_state_at(rec.header.get("t"), path, run)
        if state is None:
            print(f"qv: note: body position at t = {rec.header.get('t')} not found for "
                  f"{path}", file=sys.stderr)
        else:
            fields["body_displacement"] = np.array([state[0], state[1], 0.0])
            fields["body_rotation"] = np.array([state[2]])
    write_vtr(out, axis.x, axis.y, axis.z, points, cells, time=rec.header.get("t"),
              encoding=encoding, compress=compress, field_data=fields)
    return out


def write_pvd(path, entries):
    """A ParaView collection of (time, .vtr path) entries, sorted by time;
    paths are written relative to the collection's directory."""
    base = os.path.dirname(os.path.abspath(path))
    lines = ['<?xml version="1.0"?>',
             '<VTKFile type="Collection" version="1.0" byte_order="LittleEndian">',
             "  <Collection>"]
    for t, f in sorted(entries, key=lambda e: e[0]):
        rel = os.path.relpath(os.path.abspath(f), base)
        lines.append(f'    <DataSet timestep="{t:.17g}" group="" part="0" '
                     f'file={quoteattr(rel)}/>')
    lines += ["  </Collection>", "</VTKFile>"]
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(lines) + "\n")
    return path
