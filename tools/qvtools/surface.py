"""Pressure coefficient around the body's perimeter.

Cp = (p - p_ref) / (0.5 Vin^2), density 1.

- p on each body face is the pressure of the fluid cell across that face,
  the same value the program's force integral multiplies by the face area.
- p_ref is the pressure of the first cell row on the centre line, cell
  (is, je/2) of the same layer (je/2 rounded down): the upstream cell the
  program itself sets to zero after every pressure correction.  It lies at
  the inflow face, as far upstream of the body as the grid goes, so it is
  the closest the run has to the free-stream static pressure, and for a
  field file (reference cell zero) Cp is simply 2 p / Vin^2 at mid-span.
- What p is follows from the file: a field file holds the pressure; a
  snapshot holds the modified pressure pm = p - (2/3) k_sgs, and since it
  also holds the eddy viscosity the pressure is restored exactly from it;
  a statistics file holds the mean modified pressure only (the mean of
  k_sgs is not stored), so its Cp is that of the mean modified pressure,
  which equals the mean pressure when the eddy viscosity is zero (Cs = 0).
- The perimeter is traversed clockwise seen from +z (body on the right):
  from the lowest point of the most upstream face up the front face, along
  the top downstream, down the rear face and back along the bottom.  s is
  the distance travelled along the faces.  The body must be one block of
  cells in the layer, without enclosed fluid; anything else is refused.
"""

import math
import os

import numpy as np

from .readers import Run, find_grid, find_run_dir, read_axis, read_flags, read_record_file
from .runfiles import CONSOLE_FILE, provenance
from .wake import chain_statistics, statistics_source, window

CK = 0.094                 # the program's constant of the sub-grid energy
EXPONENT = 0.33333         # the program's cube-root exponent of the filter width

# Cells are numbered from 1 in the tables, as the case generator numbers them.
FIRST_CELL = 1

# outward normal -> direction of travel (clockwise) and face name
_FACES = {(-1, 0): "front", (0, 1): "top", (1, 0): "rear", (0, -1): "bottom"}


def ksgs(nut, axis):
    """Sub-grid kinetic energy nut^2 / (D Ck^2 D) of the cells, as the program
    forms it for the snapshot's modified pressure."""
    dx, dy, dz = (np.diff(np.asarray(c, float)) for c in (axis.x, axis.y, axis.z))
    vol = dx[:, None, None] * dy[None, :, None] * dz[None, None, :]
    d = vol ** EXPONENT
    return nut * nut / (d * CK ** 2 * d)


def cell_pressure(rec, axis):
    """(pressure of the fluid cells (nx, ny, nz), what it is) of a record file."""
    nx = rec.bounds["ie"] - rec.bounds["is"]
    if rec.kind == "field":
        return rec["pp"][0:nx], "pressure"
    if rec.kind == "snapshot":
        nut = rec["nut"][0:nx]
        return rec["pm"][0:nx] + (2.0 / 3.0) * ksgs(nut, axis), \
            "pressure (restored from the snapshot's modified pressure and eddy viscosity)"
    if rec.kind == "statistics":
        return rec["spm"][0:nx], "mean modified pressure p - 2/3 k_sgs"
    raise ValueError(f"{rec.path} is a {rec.kind} file: it holds no pressure field")


def _components(mask):
    """Number of 4-connected groups of True cells in a 2-D mask."""
    seen = np.zeros_like(mask, bool)
    count = 0
    for start in zip(*np.nonzero(mask)):
        if seen[start]:
            continue
        count += 1
        stack = [start]
        seen[start] = True
        while stack:
            i, j = stack.pop()
            for a, b in ((i + 1, j), (i - 1, j), (i, j + 1), (i, j - 1)):
                if 0 <= a < mask.shape[0] and 0 <= b < mask.shape[1] and mask[a, b] \
                        and not seen[a, b]:
                    seen[a, b] = True
                    stack.append((a, b))
    return count


def perimeter(mask):
    """Body faces of a 2-D cell mask in clockwise order.

    Returns a list of (i, j, nx, ny): the body cell, and the outward normal
    of the face; the fluid cell is (i + nx, j + ny).  Refuses a mask with no
    body cell, several separate parts, enclosed fluid, parts touching only at
    a corner, or a body on the edge of the grid."""
    mask = np.asarray(mask, bool)
    if not mask.any():
        raise ValueError("no body cell in this layer")
    parts = _components(mask)
    if parts > 1:
        raise ValueError(f"the body has {parts} separate parts in this layer; the surface "
                         f"pressure is traced around one body only")
    ni, nj = mask.shape
    edges = {}
    for i, j in zip(*np.nonzero(mask)):
        for (nx, ny) in _FACES:
            a, b = i + nx, j + ny
            if not (0 <= a < ni and 0 <= b < nj):
                raise ValueError(f"body cell ({i + 3}, {j + 3}) lies on the edge of the grid")
            if mask[a, b]:
                continue
            # nodes (grid-line indices) at the start and end of the clockwise face
            if (nx, ny) == (-1, 0):
                p, q = (i, j), (i, j + 1)
            elif (nx, ny) == (0, 1):
                p, q = (i, j + 1), (i + 1, j + 1)
            elif (nx, ny) == (1, 0):
                p, q = (i + 1, j + 1), (i + 1, j)
            else:
                p, q = (i + 1, j), (i, j)
            if p in edges:
                raise ValueError(f"the body touches itself at grid node ({p[0] + 3}, "
                                 f"{p[1] + 3}) only by a corner; cannot trace its outline")
            edges[p] = (q, (int(i), int(j), nx, ny))
    # start: the lowest face of the most upstream front face
    front = [p for p, (q, e) in edges.items() if (e[2], e[3]) == (-1, 0)]
    p = min(front, key=lambda n: (n[0], n[1]))
    start, out = p, []
    while True:
        q, e = edges[p]
        out.append(e)
        p = q
        if p == start:
            break
    if len(out) != len(edges):
        raise ValueError("the body encloses fluid cells in this layer; the surface pressure "
                         "is traced around a body without holes")
    return out


def layer_values(values, flags, k=None):
    """2-D (values, body mask) of layer k (0-based) or the span mean (k None).

    The span mean needs the same body cells in every layer."""
    nz = values.shape[2]
    if k is not None:
        if not 0 <= k < nz:
            raise ValueError(f"layer k={k} outside 0..{nz - 1}")
        return values[:, :, k], flags[:, :, k] != 0
    body = flags != 0
    if not np.all(body == body[:, :, :1]):
        raise ValueError("the body cells differ between span layers: choose a layer with --k")
    return values.mean(axis=2), body[:, :, 0]


def surface_cp(p2, mask, axis, vin):
    """Cp around the perimeter of *mask* from the cell pressures *p2* (nx, ny).

    Returns a dict of arrays over the faces in traversal order: s (distance
    along the perimeter at the face centre), x, y (face centre), nx, ny
    (outward normal), i, j (cell numbers of the fluid cell from 1, as the
    case generator counts them; the program's own index is 2 more), length,
    cp; plus "corners" (s where the outline turns), "perimeter" (its
    length), "D" (the body's extent in y), "p_ref" and "ref_cell" (cell
    numbers from 1)."""
    if not vin:
        raise ValueError("Vin is needed for Cp: give --vin or a console.in")
    x, y = np.asarray(axis.x, float), np.asarray(axis.y, float)
    faces = perimeter(mask)
    ny_cells = p2.shape[1]
    jref = (ny_cells + 2) // 2 - 3            # je/2 with je = ny + 2, from js = 3
    p_ref = float(p2[0, jref])
    q = 0.5 * vin * vin
    rows = {k: [] for k in ("s", "x", "y", "nx", "ny", "i", "j", "length", "cp")}
    corners, s, prev = [], 0.0, None
    for i, j, nx, ny in faces:
        if nx:
            xf = x[i + 1] if nx > 0 else x[i]
            length = y[j + 1] - y[j]
            yf = 0.5 * (y[j] + y[j + 1])
        else:
            yf = y[j + 1] if ny > 0 else y[j]
            length = x[i + 1] - x[i]
            xf = 0.5 * (x[i] + x[i + 1])
        if prev is not None and prev != (nx, ny):
            corners.append(s)
        prev = (nx, ny)
        a, b = i + nx, j + ny
        for key, v in (("s", s + 0.5 * length), ("x", xf), ("y", yf), ("nx", nx),
                       ("ny", ny), ("i", a + FIRST_CELL), ("j", b + FIRST_CELL), ("length", length),
                       ("cp", (p2[a, b] - p_ref) / q)):
            rows[key].append(v)
        s += length
    if faces and (faces[0][2], faces[0][3]) != prev:
        corners.insert(0, 0.0)
    out = {k: np.array(v) for k, v in rows.items()}
    out.update({"corners": np.array(corners), "perimeter": s, "p_ref": p_ref,
                "ref_cell": (FIRST_CELL, jref + FIRST_CELL),
                "D": float(y[np.nonzero(mask)[1].max() + 1] - y[np.nonzero(mask)[1].min()])
                if np.any(mask) else None})
    return out


def face_mean(cp, face="rear"):
    """Length-weighted mean Cp over the faces of one kind (front, top, rear,
    bottom); the base pressure coefficient is that of the rear."""
    normal = [n for n, name in _FACES.items() if name == face][0]
    sel = (cp["nx"] == normal[0]) & (cp["ny"] == normal[1])
    if not sel.any():
        raise ValueError(f"the body has no {face} face")
    return float(np.sum(cp["cp"][sel] * cp["length"][sel]) / np.sum(cp["length"][sel]))


def file_cp(path, vin=None, k=None, axis_path=None, flag_path=None, run=None, kind=None,
            record=None):
    """Cp around the body from a field, snapshot or statistics file (or its
    *record*, already read or joined, with *path* naming it).

    Vin defaults to the run's console.in.  Returns the dict of
    ``surface_cp`` with "what" (what the pressure is), "t", "layer" and
    "window" (the averaging window of a statistics file) added."""
    rec = read_record_file(path, kind) if record is None else record
    axis_path, flag_path = find_grid(path, axis_path, flag_path, run)
    if flag_path is None:
        raise FileNotFoundError(f"no flag file found for {path}: give --flag")
    axis = read_axis(axis_path)
    flags = read_flags(flag_path)[1]
    p, what = cell_pressure(rec, axis)
    if p.shape != flags.shape:
        raise ValueError(f"{path} holds {p.shape} cells, the flag file {flags.shape}")
    if vin is None:
        folder = run or os.path.dirname(os.path.abspath(axis_path))
        r = Run(folder)
        if os.path.exists(r.file(CONSOLE_FILE)):
            vin = r.vin()
    p2, mask = layer_values(p, flags, k)
    cp = surface_cp(p2, mask, axis, vin)
    h = rec.header
    cp.update({"what": what, "t": h.get("t"), "vin": vin, "path": os.fspath(path),
               "layer": "span mean" if k is None else f"layer k = {k}", "window": None})
    if rec.kind == "statistics" and h.get("nt") and h.get("dt"):
        cp["window"] = window(rec)
    if rec.kind == "statistics" and h.get("Cs") == 0:
        cp["what"] += " (= the mean pressure: Cs = 0)"
    elif rec.kind == "statistics" and h.get("Cs"):
        cp["what"] += f" (Cs = {h['Cs']:g}: differs from the mean pressure near the body " \
                      f"where the eddy viscosity is not zero)"
    return cp


def base_pressure(run, vin, chain=None, tmin=None):
    """(mean base pressure coefficient, where it comes from, averaging
    window) of a run: the rear-face mean of the statistics file's span-mean
    Cp, and the times the statistics average over.

    For a restart chain (*chain*: its folders, oldest first) the statistics
    are those ``wake.chain_statistics`` takes for the window from *tmin* on,
    so the mean covers the analysed window rather than the whole run or the
    last segment only."""
    run = run if isinstance(run, Run) else Run(run)
    record, used, how = chain_statistics(chain or [run.path], tmin)
    cp = file_cp(used[0], vin, run=run.path, record=record)
    a, b = cp["window"] if cp["window"] else (math.nan, math.nan)
    return face_mean(cp), f"{statistics_source(used, how, run.path)}, mean over " \
        f"t = {a:.6g} ... {b:.6g}", (a, b)


def write_csv(cp, path):
    """Cp table: one line per body face in traversal order."""
    folder = find_run_dir(cp["path"]) if cp.get("path") else None
    head = provenance("pressure coefficient around the body, face by face", folder,
                      [cp["path"]] if cp.get("path") else ())
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(head) + "\n")
        fh.write(f"# Cp = (p - p_ref) / (0.5 Vin^2), Vin = {cp['vin']:g}; p: {cp['what']}; "
                 f"{cp['layer']}; t = {cp['t']:.6g}\n")
        fh.write(f"# p_ref = {cp['p_ref']:.6g}, cell (i, j) = {cp['ref_cell']}; "
                 f"corners at s = {', '.join(f'{c:.6g}' for c in cp['corners'])}\n")
        fh.write("s,x,y,nx,ny,i,j,cp\n")
        for n in range(len(cp["s"])):
            fh.write(f"{cp['s'][n]:.6g},{cp['x'][n]:.6g},{cp['y'][n]:.6g},{cp['nx'][n]},"
                     f"{cp['ny'][n]},{cp['i'][n]},{cp['j'][n]},{cp['cp'][n]:.6g}\n")
    return path
