"""The record files' layouts, one table each, record by record.

The program holds the same tables (src/store/layouts.hpp); a test keeps the
two equal.  A record is either a list of items, ``(names, code)`` with a
struct-style code ("6i", "4d4i"; a trailing "*" repeats the items once per
sample), or the block of one array, ``(name, (di, dj, dk))``, over
is..ie+di, js..je+dj, ks..ke+dk with i fastest.
"""

import re

FIELD_FILE = (
    ("is ie js je ks ke", "6i"),
    ("Re Cs dt t nt iyper izper iter", "4d4i"),
    ("uu", (1, -1, -1)),
    ("vv", (0, 0, -1)),
    ("ww", (0, -1, 0)),
    ("pp", (0, -1, -1)),
    ("fu", (0, 0, 0)),
    ("fv", (0, 0, 0)),
    ("fw", (0, 0, 0)),
    ("nut", (0, -1, -1)),
)

STATISTICS_FILE = (
    ("is ie js je ks ke", "6i"),
    ("Re Cs dt t nt iyper izper iter", "4d4i"),
) + tuple((n, (0, 0, 0)) for n in ("su", "sv", "sw", "suu", "svv", "sww", "suv", "svw", "swu",
                                   "sgs11", "sgs22", "sgs33")) + (
    ("spm", (0, -1, -1)),
    ("spm2", (0, -1, -1)),
) + tuple((n, (0, 0, 0)) for n in ("snut", "tauxy", "tauyz", "tauxz"))

BODY_STATE_FILE = (
    ("is ie js ks ke", "5i"),
    ("xacc yacc tacc", "3d"),
    ("xdis ydis tdis", "3d"),
    ("xvel yvel tvel", "3d"),
    ("fxn", (0, 0, 0)),
    ("fyn", (0, 0, 0)),
)

HISTORY_FILE = (
    ("nsample tsmp beta", "idd"),
    ("xdis1 ydis1 tdis1", "3d"),
    ("xvel1 yvel1 tvel1", "3d"),
    ("pfx pfy pft", "3d*"),
    ("xacc xvel xdis", "3d*"),
    ("yacc yvel ydis", "3d*"),
    ("tacc tvel tdis", "3d*"),
)


def blocks(layout):
    """The block records of *layout*: (record number from 1, name, (di, dj, dk))."""
    return [(n, name, shape) for n, (name, shape) in enumerate(layout, start=1)
            if isinstance(shape, tuple)]


def block_ranges(layout, b, rename=None):
    """Index ranges (lo, hi) of every block of *layout* for bounds *b*, by name
    (*rename* maps a table name to the name the caller uses)."""
    lo = (b["is"], b["js"], b["ks"])
    out = {}
    for _, name, (di, dj, dk) in blocks(layout):
        out[(rename or {}).get(name, name)] = (lo, (b["ie"] + di, b["je"] + dj, b["ke"] + dk))
    return out


# The record files, as docs/layouts.md lists them: (title, table, what it is).
DOCUMENTED = (
    ("Final field file and snapshots", FIELD_FILE,
     "The final field file (the restart state) and each snapshot; a snapshot holds the "
     "modified pressure pm in place of pp. Record 2: Re, Cs, dt, t (reals), nt, iyper, "
     "izper and the last pressure iteration count (integers)."),
    ("Statistics file (and `STATFILE.ckpt`)", STATISTICS_FILE,
     "Means, (co)variances and sub-grid stresses over the steps of the run (record 2's nt: "
     "the steps averaged)."),
    ("Body state `nfile`", BODY_STATE_FILE,
     "The body's state at the end (x, y, rotation) and the frame terms fxn, fyn: the "
     "restart state of the body."),
    ("Body history `vfile` (and `VFILE.ckpt`)", HISTORY_FILE,
     "Sampled every nsmp steps: record 1 the sample count, the interval nsmp dt and beta; "
     "records 2 and 3 the state after step 1; then per sample the loads and, per degree of "
     "freedom, acceleration, velocity and displacement (each triple together, sample by "
     "sample)."),
)

_CODES = {"i": "int32", "d": "float64"}


def _items(names, code):
    """(name, type) of each item of a record of items."""
    kinds = []
    for m in re.finditer(r"(\d*)([id])", code.rstrip("*")):
        kinds += [_CODES[m.group(2)]] * int(m.group(1) or 1)
    return list(zip(names.split(), kinds))


def document():
    """docs/layouts.md: every record file's table, record by record."""
    out = ["# Record layouts of the output files", "",
           "Generated from the layout tables the program writes by "
           "(`src/store/layouts.hpp`) and the tools read by (`tools/qvtools/layouts.py`); "
           "a test holds the three equal. Regenerate with "
           "`/usr/bin/python3 -c 'import sys; sys.path.insert(0, \"tools\"); "
           "from qvtools import layouts; print(layouts.document(), end=\"\")' "
           "> docs/layouts.md`.", "",
           "Every record is framed by its length in bytes, a 4-byte little-endian integer, "
           "before and after it. Integers are 32-bit, reals 64-bit, little-endian. An array "
           "record holds one array over i = is..ie+di, j = js..je+dj, k = ks..ke+dk (is = js = "
           "ks = 3 in the program's files), i fastest, then j, then k.", ""]
    for title, table, what in DOCUMENTED:
        out += [f"## {title}", "", what, "", "| record | holds | type |", "|---|---|---|"]
        for n, (name, shape) in enumerate(table, start=1):
            if isinstance(shape, tuple):
                di, dj, dk = shape
                rng = ", ".join(f"{a}s..{a}e{d:+d}".replace("+0", "") for a, d in
                                zip("ijk", (di, dj, dk)))
                out.append(f"| {n} | `{name}` over {rng} | float64 array |")
            else:
                runs = []                        # the items' types in order, runs counted
                for _, kind in _items(name, shape):
                    if runs and runs[-1][1] == kind:
                        runs[-1][0] += 1
                    else:
                        runs.append([1, kind])
                per = " per sample" if shape.endswith("*") else ""
                kinds = ", ".join(f"{c} {k}" if c > 1 else k for c, k in runs)
                out.append(f"| {n} | `{name}`{per} | {kinds} |")
        out.append("")
    out += ["## Text files and the rest", "",
            "The time series `DAT/quivel_vib8.ts`, `fort.1`, `fort.2`, `DAT/probes.dat`, "
            "`change.out` and `iter.dat` are described in the README (Output files, "
            "Probes). The state of an exact continuation, `NFILE.state`, is laid out in "
            "[nondimensional.md](nondimensional.md#layouts-of-the-body-files); its one "
            "definition is `src/control/continuation.cpp`. The tools' own tables "
            "(`qv export`, `sweep_summary.csv`, `FILE_cp.csv`) carry their columns' "
            "meanings in their `#` header lines (see tools.md).", ""]
    return "\n".join(out)
