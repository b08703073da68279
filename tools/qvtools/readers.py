"""Readers for the files of a quivel_vib8 run.

Record files (final field file, snapshots, statistics, vibration history,
body state) come back as a :class:`RecordFile` holding named numpy arrays in
program index order (``a[i-lo_i, j-lo_j, k-lo_k]``) together with their index
ranges.  Text files (axis, flag, parameter, file-name list, time series,
probe files, change.out) are read by columns, the way the program reads them:
fields may run together, blanks inside a field are ignored and an F or E
field without a decimal point takes its last d digits as decimals.
"""

import math
import os
import re
from dataclasses import dataclass, field

import numpy as np

from .columns import (PARAM_LAYOUT, FormatError, fortran_int,  # noqa: F401 (part of the API)
                      fortran_real, parse_line)
from . import layouts
from .records import INT, REAL, RecordError, read_records, split_records, unpack
from .runfiles import CHANGE_FILE, CONSOLE_FILE, NAME_FILE, PARAM_FILE, TS_FILE


def _lines(path):
    """Lines of a text file, line ends (CR LF or LF) removed."""
    with open(path, "r", encoding="latin-1", newline="") as fh:
        data = fh.read()
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [ln.rstrip("\r") for ln in lines]


def _repeated(path, lines, start, count, per_line, desc):
    """Read *count* fields of one descriptor laid *per_line* to a line."""
    nlines = math.ceil(count / per_line) if count > 0 else 0
    if start + nlines > len(lines):
        raise FormatError(
            f"{path} ends early: {count} values need {nlines} lines from line "
            f"{start + 1}, the file has {len(lines)} lines")
    values = []
    for n in range(nlines):
        take = min(per_line, count - len(values))
        try:
            values.extend(parse_line(lines[start + n], [desc] * take))
        except FormatError as exc:
            raise FormatError(f"{path}, line {start + n + 1}: {exc}") from None
    return values, start + nlines


def _check_rest(path, lines, end, count, per_line, width, what):
    """Refuse values beyond the last field of a block, and extra lines.

    The program would skip them silently; they mean the file's counts do not
    describe its contents.
    """
    used = count % per_line or per_line
    if count and lines[end - 1][used * width:].strip():
        raise FormatError(
            f"{path}, line {end}: more {what} than the counts in line 1 call "
            f"for ({count}; the counts are numbers of grid lines, ie = nx + 2)")


def _name(text):
    return text.rstrip()


# ---------------------------------------------------------------- inputs

@dataclass
class Axis:
    """Grid-line coordinates x(is)..x(ie), y(js)..y(je), z(ks)..z(ke)."""
    counts: tuple
    x: np.ndarray
    y: np.ndarray
    z: np.ndarray

    @staticmethod
    def centres(c):
        return 0.5 * (c[:-1] + c[1:])


def read_axis(path):
    """Read an axis file: counts (3I5), then x, y, z each in (5F10.5).

    The counts are the numbers of grid lines (nx, with ie = nx + 2); each
    axis lists x(is)..x(ie), five to a line, and starts on a new line.
    """
    lines = _lines(path)
    if not lines:
        raise FormatError(f"{path} is empty")
    counts = tuple(parse_line(lines[0], [("I", 5)] * 3))
    if min(counts) < 2:
        raise FormatError(f"not an axis file: {path} (counts {counts})")
    pos, axes = 1, []
    for name, n in zip("xyz", counts):
        vals, pos = _repeated(path, lines, pos, n, 5, ("F", 10, 5))
        _check_rest(path, lines, pos, n, 5, 10, name + " values")
        axes.append(np.array(vals, dtype=float))
    if any(ln.strip() for ln in lines[pos:]):
        raise FormatError(f"{path}: lines after the z values; the counts in line 1 "
                          f"are numbers of grid lines (ie = nx + 2)")
    return Axis(counts, *axes)


def read_flags(path):
    """Read a body flag file.

    Returns (counts, flags) with counts the grid-line numbers of the header
    and flags[nx-1, ny-1, nz-1] one value per cell, cell (is, js, ks) first.
    """
    lines = _lines(path)
    if not lines:
        raise FormatError(f"{path} is empty")
    counts = tuple(parse_line(lines[0], [("I", 5)] * 3))
    if min(counts) < 2:
        raise FormatError(f"not a flag file: {path} (counts {counts})")
    cells = tuple(n - 1 for n in counts)
    n = int(np.prod(cells))
    vals, pos = _repeated(path, lines, 1, n, 10, ("I", 5))
    _check_rest(path, lines, pos, n, 10, 5, "flags")
    if any(ln.strip() for ln in lines[pos:]):
        raise FormatError(f"{path}: more flags than the {n} cells of a "
                          f"{counts[0]} x {counts[1]} x {counts[2]} grid")
    return counts, np.array(vals, dtype=np.int32).reshape(cells, order="F")


def read_params(path):
    """Read the 16-line parameter file into a dict of named values."""
    lines = _lines(path)
    if len(lines) < len(PARAM_LAYOUT):
        raise FormatError(
            f"{path} ends early: a parameter file has {len(PARAM_LAYOUT)} lines, "
            f"found {len(lines)}")
    params = {}
    for n, (names, layout) in enumerate(PARAM_LAYOUT):
        try:
            vals = parse_line(lines[n], layout)
        except FormatError as exc:
            raise FormatError(f"{path}, line {n + 1}: {exc}") from None
        for key, val in zip(names.split(), vals):
            params[key] = _name(val) if isinstance(val, str) else val
    return params


def read_name_list(path):
    """Read the file-name list: (ifc, kout, names of the snapshots)."""
    lines = _lines(path)
    if not lines:
        raise FormatError(f"{path} is empty")
    ifc, kout, nfl = parse_line(lines[0], [("I", 5)] * 3)
    if nfl > len(lines) - 1:
        raise FormatError(f"{path} ends early: {nfl} names, {len(lines) - 1} lines")
    names = [_name(parse_line(lines[n], [("A", 14)])[0]) for n in range(1, nfl + 1)]
    return ifc, kout, names


def read_console(path):
    """First number of a console answer file (Vin), free format."""
    with open(path, "r", encoding="latin-1") as fh:
        tokens = re.split(r"[\s,]+", fh.read().strip())
    if not tokens or not tokens[0]:
        raise FormatError(f"{path} holds no number")
    try:
        return float(tokens[0].upper().replace("D", "E"))
    except ValueError:
        raise FormatError(f"{path}: first answer {tokens[0]!r} is not a number") from None


# ---------------------------------------------------------------- text outputs

# The third column is uu(is+1, je/2, ke/2): the u face one cell behind the
# inflow face, in the cell row j = je/2 and the layer k = ke/2.
TS_COLUMNS = ("nn", "t", "u_inflow", "pfx", "pfy", "pft", "xdis", "ydis")
_TS_LAYOUT = [("I", 6), ("F", 10, 4)] + [("E", 12, 4)] * 6


@dataclass
class TimeSeries:
    """The time series of one or more runs, concatenated.

    ``data`` maps each column name to an array; ``segments`` lists, per run,
    the index of its first line in the arrays and its start time.
    """
    data: dict
    segments: list = field(default_factory=list)

    def __getitem__(self, key):
        return self.data[key]

    def __len__(self):
        return len(self.data["t"])


def read_timeseries(path):
    """Read "DAT/quivel_vib8.ts": header pairs and (I6,F10.4,6E12.4) lines.

    A last line without its line end (being written) is ignored.
    """
    with open(path, "r", encoding="latin-1", newline="") as fh:
        text = fh.read()
    lines = text.split("\n")
    lines.pop()  # "" after the last line end, or a line still being written
    rows, segments = [], []
    for n, line in enumerate(lines, 1):
        line = line.rstrip("\r")
        s = line.strip()
        if not s:
            continue
        if s.startswith("#"):
            if s.startswith("#start"):
                start = fortran_real(s.split("=", 1)[1]) if "=" in s else float("nan")
                segments.append({"index": len(rows), "start_time": start})
            continue
        try:
            rows.append(parse_line(line, _TS_LAYOUT))
        except FormatError as exc:
            raise FormatError(f"{path}, line {n}: {exc}") from None
    if not segments and rows:
        segments.append({"index": 0, "start_time": float("nan")})
    arr = np.array(rows, dtype=float).reshape(-1, len(TS_COLUMNS))
    data = {name: arr[:, c] for c, name in enumerate(TS_COLUMNS)}
    data["nn"] = data["nn"].astype(int)
    return TimeSeries(data, segments)


def read_probe(path):
    """Read a probe file (fort.1 or fort.2): (I10,4F15.10) lines.

    Returns a dict with nn, t and the three probe velocities v1, v2, v3.
    """
    rows = []
    for n, line in enumerate(_lines(path), 1):
        if not line.strip():
            continue
        try:
            rows.append(parse_line(line, [("I", 10)] + [("F", 15, 10)] * 4))
        except FormatError as exc:
            raise FormatError(f"{path}, line {n}: {exc}") from None
    arr = np.array(rows, dtype=float).reshape(-1, 5)
    out = {name: arr[:, c] for c, name in enumerate(("nn", "t", "v1", "v2", "v3"))}
    out["nn"] = out["nn"].astype(int)
    return out



def read_probes(path):
    """Read "DAT/probes.dat": # header lines naming the points and columns,
    then nn, t and u v w p per point.

    Returns (points, data, segments): the points [(x, y, z), ...] of the last
    header, a dict of column arrays (nn, t, u1, v1, w1, p1, u2, ...) and, per
    header (a restart appends one), the index of its first line and its start
    time.  A last line without its line end (being written) is ignored.
    """
    with open(path, "r", encoding="latin-1", newline="") as fh:
        lines = fh.read().split("\n")
    lines.pop()
    points, names, rows, segments = [], None, [], []
    point_re = re.compile(r"#\s*Probe\s+\d+\s*\(([^)]*)\)")
    for n, line in enumerate(lines, 1):
        s = line.strip()
        if not s:
            continue
        if s.startswith("#"):
            m = point_re.match(s)
            if s.startswith("# probes of"):
                start = float(s.rsplit("=", 1)[1]) if "=" in s else float("nan")
                segments.append({"index": len(rows), "start_time": start})
                points = []
            elif m:
                points.append(tuple(float(v) for v in m.group(1).split()))
            elif s[1:].split()[:2] == ["nn", "t"]:
                cols = s[1:].split()
                if names is not None and cols != names:
                    raise FormatError(f"{path}, line {n}: the probes changed within the file")
                names = cols
            continue
        if names is None:
            raise FormatError(f"{path}, line {n}: data before the column header")
        vals = s.split()
        if len(vals) != len(names):
            raise FormatError(f"{path}, line {n}: {len(vals)} columns, expected {len(names)}")
        try:
            rows.append([fortran_real(v) for v in vals])
        except FormatError as exc:
            raise FormatError(f"{path}, line {n}: {exc}") from None
    if names is None:
        raise FormatError(f"{path} has no column header")
    arr = np.array(rows, dtype=float).reshape(-1, len(names))
    data = {name: arr[:, c] for c, name in enumerate(names)}
    data["nn"] = data["nn"].astype(int)
    return points, data, segments


def read_change(path):
    """Read change.out: nt, nn, t, iter, dt, dtmin, esp."""
    lines = _lines(path)
    if len(lines) < 4:
        raise FormatError(f"{path} ends early: 4 lines needed, found {len(lines)}")
    try:
        (nt,) = parse_line(lines[0], [("I", 10)])
        nn, t = parse_line(lines[1], [("I", 10), ("F", 12, 7)])
        (it,) = parse_line(lines[2], [("I", 10)])
        dt, dtmin, esp = parse_line(lines[3], [("F", 12, 7)] * 3)
    except FormatError as exc:
        raise FormatError(f"{path}: {exc}") from None
    return {"nt": nt, "nn": nn, "t": t, "iter": it, "dt": dt, "dtmin": dtmin, "esp": esp}


# ---------------------------------------------------------------- record files

@dataclass
class Block:
    """One array of a record file with its inclusive program index ranges."""
    name: str
    data: np.ndarray
    lo: tuple
    hi: tuple

    def at(self, i, j, k):
        """Value at program indices (i, j, k)."""
        return self.data[i - self.lo[0], j - self.lo[1], k - self.lo[2]]

    def region(self, lo, hi):
        """Sub-array over inclusive program index ranges lo..hi."""
        sl = tuple(slice(a - o, b - o + 1) for a, b, o in zip(lo, hi, self.lo))
        return self.data[sl]


@dataclass
class RecordFile:
    """A result record file: kind, bounds, header values and named arrays."""
    path: str
    kind: str
    bounds: dict
    header: dict
    blocks: dict

    def __getitem__(self, name):
        return self.blocks[name].data

    def __contains__(self, name):
        return name in self.blocks

    @property
    def ranges(self):
        return {n: (b.lo, b.hi) for n, b in self.blocks.items()}

    @property
    def names(self):
        return list(self.blocks)


FIELD_NAMES = tuple(name for _, name, _ in layouts.blocks(layouts.FIELD_FILE))
STAT_NAMES = tuple(name for _, name, _ in layouts.blocks(layouts.STATISTICS_FILE))
KIND_RECORDS = {"field": len(layouts.FIELD_FILE), "snapshot": len(layouts.FIELD_FILE),
                "statistics": len(layouts.STATISTICS_FILE), "history": len(layouts.HISTORY_FILE),
                "body": len(layouts.BODY_STATE_FILE)}
_KIND_TEXT = {"field": "field file", "snapshot": "snapshot file",
              "statistics": "statistics file", "history": "vibration history file",
              "body": "body state file"}


def field_ranges(b, pressure="pp"):
    """Index ranges (lo, hi) of every array of a field file for bounds *b*."""
    return layouts.block_ranges(layouts.FIELD_FILE, b, {"pp": pressure})


def stat_ranges(b):
    """Index ranges of the statistics arrays for bounds *b*."""
    return layouts.block_ranges(layouts.STATISTICS_FILE, b)


def _desc(name, lo, hi):
    return f"{name} over i={lo[0]}..{hi[0]}, j={lo[1]}..{hi[1]}, k={lo[2]}..{hi[2]}"


def _block(path, kind, recno, payload, name, lo, hi):
    shape = tuple(h - l + 1 for l, h in zip(lo, hi))
    need = int(np.prod(shape)) * 8
    if len(payload) != need:
        raise RecordError(
            f"not a {_KIND_TEXT[kind]}: record {recno} of {path} holds {len(payload)} "
            f"bytes, expected {need} for {_desc(name, lo, hi)}")
    data = np.frombuffer(payload, dtype=REAL).reshape(shape, order="F").astype(float)
    return Block(name, data, tuple(lo), tuple(hi))


def _bounds6(path, kind, rec):
    if len(rec) != 24:
        raise RecordError(
            f"not a {_KIND_TEXT[kind]}: record 1 of {path} holds {len(rec)} bytes, "
            f"expected 24 (six index bounds)")
    vals = unpack(rec, "6i", path, 1)
    b = dict(zip(("is", "ie", "js", "je", "ks", "ke"), vals))
    _check_bounds(path, kind, b)
    return b


def _check_bounds(path, kind, b):
    for lo, hi in (("is", "ie"), ("js", "je"), ("ks", "ke")):
        if not (0 < b[lo] <= b[hi] < 100000):
            raise RecordError(
                f"not a {_KIND_TEXT[kind]}: {path} has index bounds "
                + ", ".join(f"{k}={v}" for k, v in b.items()))


def _run_header(path, kind, rec):
    if len(rec) != 48:
        raise RecordError(
            f"not a {_KIND_TEXT[kind]}: record 2 of {path} holds {len(rec)} bytes, "
            f"expected 48 (Re, Cs, dt, t, nt, iyper, izper, iter)")
    vals = unpack(rec, "4d4i", path, 2)
    return dict(zip(("Re", "Cs", "dt", "t", "nt", "iyper", "izper", "iter"), vals))


def _count(path, kind, recs):
    need = KIND_RECORDS[kind]
    if len(recs) < need:
        raise RecordError(
            f"truncated {_KIND_TEXT[kind]} {path}: {len(recs)} records, expected {need}")
    if len(recs) > need:
        raise RecordError(
            f"not a {_KIND_TEXT[kind]}: {path} has {len(recs)} records, expected {need}")


def read_field(path, snapshot=False, records=None):
    """Read a final field file, or a snapshot (record 6 then holds ``pm``)."""
    kind = "snapshot" if snapshot else "field"
    recs = read_records(path) if records is None else records
    if not recs:
        raise RecordError(f"not a {_KIND_TEXT[kind]}: {path} is empty")
    b = _bounds6(path, kind, recs[0])
    _count(path, kind, recs)
    header = _run_header(path, kind, recs[1])
    rng = field_ranges(b, "pm" if snapshot else "pp")
    blocks = {}
    for n, (name, (lo, hi)) in enumerate(rng.items(), start=3):
        blocks[name] = _block(path, kind, n, recs[n - 1], name, lo, hi)
    return RecordFile(os.fspath(path), kind, b, header, blocks)


def read_statistics(path, records=None):
    """Read a statistics file (18 arrays of means and second moments)."""
    kind = "statistics"
    recs = read_records(path) if records is None else records
    if not recs:
        raise RecordError(f"not a statistics file: {path} is empty")
    b = _bounds6(path, kind, recs[0])
    _count(path, kind, recs)
    header = _run_header(path, kind, recs[1])
    blocks = {}
    for n, (name, (lo, hi)) in enumerate(stat_ranges(b).items(), start=3):
        blocks[name] = _block(path, kind, n, recs[n - 1], name, lo, hi)
    return RecordFile(os.fspath(path), kind, b, header, blocks)


def _triples(path, kind, recno, payload, count, names):
    need = 24 * count
    if len(payload) != need:
        raise RecordError(
            f"not a {_KIND_TEXT[kind]}: record {recno} of {path} holds "
            f"{len(payload)} bytes, expected {need} ({count} x {'/'.join(names)})")
    arr = np.frombuffer(payload, dtype=REAL).reshape(count, 3).astype(float)
    return {n: arr[:, c] for c, n in enumerate(names)}


def read_history(path, records=None):
    """Read a vibration history file.

    Arrays (one value per sample): pfx, pfy, pft and for each degree of
    freedom d in x, y, t: d+"acc", d+"vel", d+"dis"; ``time`` is the sample
    time measured from the start of the run (sample n at n * nsmp * dt).
    The header holds nsample, tsmp (= nsmp * dt), beta and the state after
    the first step (xdis1 ... tvel1).
    """
    kind = "history"
    recs = read_records(path) if records is None else records
    if not recs:
        raise RecordError(f"not a vibration history file: {path} is empty")
    if len(recs[0]) != 20:
        raise RecordError(
            f"not a vibration history file: record 1 of {path} holds "
            f"{len(recs[0])} bytes, expected 20 (nsample, nsmp*dt, beta)")
    _count(path, kind, recs)
    nsample, tsmp, beta = unpack(recs[0], "idd", path, 1)
    if nsample < 0:
        raise RecordError(f"not a vibration history file: {path} has nsample={nsample}")
    header = {"nsample": nsample, "tsmp": tsmp, "beta": beta}
    first, arrays = {}, {}
    for n, (names, code) in enumerate(layouts.HISTORY_FILE[1:], start=2):
        per_sample = code.endswith("*")
        got = _triples(path, kind, n, recs[n - 1], nsample if per_sample else 1, names.split())
        (arrays if per_sample else first).update(got)
    header.update({k: float(v[0]) for k, v in first.items()})
    arrays["time"] = tsmp * np.arange(1, nsample + 1, dtype=float)
    blocks = {k: Block(k, v, (1,), (nsample,)) for k, v in arrays.items()}
    return RecordFile(os.fspath(path), kind, {}, header, blocks)


def read_body(path, records=None):
    """Read a body state file; je, missing from record 1, comes from record 5."""
    kind = "body"
    recs = read_records(path) if records is None else records
    if not recs:
        raise RecordError(f"not a body state file: {path} is empty")
    if len(recs[0]) != 20:
        raise RecordError(
            f"not a body state file: record 1 of {path} holds {len(recs[0])} "
            f"bytes, expected 20 (is, ie, js, ks, ke)")
    _count(path, kind, recs)
    is_, ie, js, ks, ke = unpack(recs[0], "5i", path, 1)
    ni, nk = ie - is_ + 1, ke - ks + 1
    if ni < 1 or nk < 1:
        raise RecordError(f"not a body state file: {path} has is={is_}, ie={ie}, "
                          f"ks={ks}, ke={ke}")
    plane = ni * nk * 8
    size = len(recs[4])
    if size == 0 or size % plane:
        raise RecordError(
            f"not a body state file: record 5 of {path} holds {size} bytes, "
            f"not a multiple of {plane} (i={is_}..{ie}, k={ks}..{ke})")
    b = {"is": is_, "ie": ie, "js": js, "je": js + size // plane - 1, "ks": ks, "ke": ke}
    header = {}
    for n, (names, code) in enumerate(layouts.BODY_STATE_FILE[1:], start=2):
        if isinstance(code, tuple):
            break
        vals = _triples(path, kind, n, recs[n - 1], 1, names.split())
        header.update({k: float(v[0]) for k, v in vals.items()})
    lo, hi = (is_, js, ks), (ie, b["je"], ke)
    blocks = {name: _block(path, kind, n, recs[n - 1], name, lo, hi)
              for n, name, _ in layouts.blocks(layouts.BODY_STATE_FILE)}
    return RecordFile(os.fspath(path), kind, b, header, blocks)


def guess_kind(recs):
    """Guess the kind of a record file from its record count and first records."""
    if not recs:
        return None
    if len(recs[0]) == 24 and len(recs) >= 2 and len(recs[1]) == 48:
        return "statistics" if len(recs) > 10 else "field"
    if len(recs[0]) == 20:
        if len(recs) == 7:
            return "history"
        if len(recs) == 6:
            return "body"
        v = np.frombuffer(recs[0], dtype=INT)
        if v[0] == v[2] == v[3] and v[0] > 0 and v[1] >= v[0] and v[4] >= v[3]:
            return "body"
        return "history"
    return None


def read_record_file(path, kind=None):
    """Read any result record file; *kind* is guessed when not given.

    Kinds: field, snapshot, statistics, history, body.  A field file found
    in the run's snapshot name list is read as a snapshot.
    """
    recs = read_records(path)
    if kind is None:
        kind = guess_kind(recs)
        if kind is None:
            raise RecordError(f"not a quivel_vib8 record file: {path}")
        if kind == "field" and is_snapshot_name(path):
            kind = "snapshot"
    if kind in ("field", "snapshot"):
        return read_field(path, snapshot=(kind == "snapshot"), records=recs)
    reader = {"statistics": read_statistics, "history": read_history,
              "body": read_body}.get(kind)
    if reader is None:
        raise ValueError(f"unknown record file kind {kind!r}")
    return reader(path, records=recs)


def find_run_dir(path, levels=3):
    """The run directory of a result file: the nearest directory, starting at
    the file's own and going up at most *levels* parents, that holds the
    parameter file; None if there is none."""
    folder = os.path.dirname(os.path.abspath(path))
    for _ in range(levels + 1):
        if os.path.exists(os.path.join(folder, PARAM_FILE)):
            return folder
        parent = os.path.dirname(folder)
        if parent == folder:
            break
        folder = parent
    return None


def is_snapshot_name(path):
    """True if *path* is named in the snapshot list of its run directory."""
    run = find_run_dir(path) or os.path.dirname(os.path.abspath(path))
    lst = os.path.join(run, NAME_FILE)
    if not os.path.exists(lst):
        return False
    try:
        _, _, names = read_name_list(lst)
    except (OSError, FormatError):
        return False
    target = os.path.abspath(path)
    return any(os.path.normpath(os.path.join(run, n)) == target for n in names)


# ---------------------------------------------------------------- run directory

def _read_header(path, kind):
    """(bounds, header) of a field or statistics file from its first two
    records only, without reading the arrays (the two share them)."""
    with open(path, "rb") as fh:
        raw = fh.read(4 + 24 + 4 + 4 + 48 + 4)
    recs = split_records(raw, path) if len(raw) == 88 else []
    if len(recs) != 2:
        raise RecordError(f"not a {_KIND_TEXT[kind]}: {path} is too short for its header")
    return _bounds6(path, kind, recs[0]), _run_header(path, kind, recs[1])


def read_statistics_header(path):
    """(bounds, header) of a statistics file, without its arrays."""
    return _read_header(path, "statistics")


def read_field_header(path):
    """(bounds, header) of a field file or snapshot, without its arrays."""
    return _read_header(path, "field")


class Run:
    """A run directory: finds its files through the parameter file."""

    def __init__(self, path="."):
        self.path = os.fspath(path)
        pfile = os.path.join(self.path, PARAM_FILE)
        self.params = read_params(pfile) if os.path.exists(pfile) else {}

    def file(self, name):
        return os.path.join(self.path, name)

    def _param_file(self, key):
        if key not in self.params:
            raise FileNotFoundError(
                f"{os.path.join(self.path, PARAM_FILE)} not found: cannot tell the {key}")
        return self.file(self.params[key])

    axis_path = property(lambda self: self._param_file("axisfile"))
    flag_path = property(lambda self: self._param_file("flagfile"))
    final_path = property(lambda self: self._param_file("finalfile"))
    stat_path = property(lambda self: self._param_file("statfile"))
    body_path = property(lambda self: self._param_file("nfile"))
    history_path = property(lambda self: self._param_file("vfile"))
    ts_path = property(lambda self: self.file(TS_FILE))
    change_path = property(lambda self: self.file(CHANGE_FILE))

    @property
    def snapshot_paths(self):
        lst = self.file(NAME_FILE)
        if not os.path.exists(lst):
            return []
        return [self.file(n) for n in read_name_list(lst)[2]]

    def axis(self):
        return read_axis(self.axis_path)

    def flags(self):
        return read_flags(self.flag_path)[1]

    def vin(self):
        """Vin as answered at the console (first number of console.in)."""
        return read_console(self.file(CONSOLE_FILE))


def find_grid(record_path, axis=None, flag=None, run=None):
    """Axis and flag file paths for a record file.

    Explicit paths win; otherwise the parameter file of *run* (default: the
    run directory the record file lies in) names them.  A flag file that is
    not named or missing gives None.
    """
    if axis is not None and flag is not None:
        return axis, flag
    folder = run or find_run_dir(record_path)
    if folder is None:
        raise FileNotFoundError(
            f"no {PARAM_FILE} found above {record_path}: give the axis file "
            f"(--axis) or the run directory (--run)")
    r = Run(folder)
    if axis is None:
        axis = r.axis_path
    if flag is None and "flagfile" in r.params:
        flag = r.flag_path if os.path.exists(r.flag_path) else None
    return axis, flag


def body_box(axis, flags):
    """Bounding box of the body cells (nonzero flags) in grid coordinates.

    Returns dict with x0, x1, y0, y1, z0, z1 and the cell index ranges, or
    None if there is no body cell.
    """
    idx = np.nonzero(flags)
    if len(idx[0]) == 0:
        return None
    box = {}
    for name, coord, ind in zip("xyz", (axis.x, axis.y, axis.z), idx):
        lo, hi = int(ind.min()), int(ind.max())
        box[name + "0"] = float(coord[lo])
        box[name + "1"] = float(coord[hi + 1])
        box["cells_" + name] = (lo + 3, hi + 3)
    return box
