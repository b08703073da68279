"""The record files' layouts, one table each, record by record.

The program holds the same tables (src/store/layouts.hpp); a test keeps the
two equal.  A record is either a list of items, ``(names, code)`` with a
struct-style code ("6i", "4d4i"; a trailing "*" repeats the items once per
sample), or the block of one array, ``(name, (di, dj, dk))``, over
is..ie+di, js..je+dj, ks..ke+dk with i fastest.
"""

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
