"""Fixtures: a small synthetic run directory written in the program's formats."""

import os
import sys

import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

from qvtools.columns import fmt_e  # noqa: E402
from qvtools.records import pack_record, write_records  # noqa: E402


def need_vtk():
    """VTK's Python module; its absence fails the test (never a silent skip)."""
    try:
        import vtk
    except ImportError:
        pytest.fail("VTK for Python is missing: apt-get install python3-vtk9 "
                    "(scripts/test.sh installs it)", pytrace=False)
    return vtk

# grid of 7 x 6 x 5 grid lines (6 x 5 x 4 cells); body = cell column i=2, j=2 (0-based), all k
X = [0.0, 1.0, 2.0, 2.5, 3.0, 4.0, 6.0]
Y = [0.0, 1.0, 1.5, 2.2, 3.0, 4.0]
Z = [0.0, 0.5, 1.0, 1.5, 2.0]
NX, NY, NZ = len(X), len(Y), len(Z)          # grid lines; cells are one fewer
BOUNDS = dict(zip(("is", "ie", "js", "je", "ks", "ke"),
                  (3, NX + 2, 3, NY + 2, 3, NZ + 2)))
HEADER = (100.0, 0.1, 0.01, 3.25, 500, 1, 0, 17)  # Re Cs dt t nt iyper izper iter
VIN = 1.0
F_SHED = 0.2          # shedding frequency of the synthetic pfy
PFY_AMP = 0.35
PFX_MEAN = 0.84


def wrap(fields, per_line):
    return ["".join(fields[n:n + per_line]) for n in range(0, len(fields), per_line)]


def write_text(path, lines):
    with open(path, "w", newline="", encoding="latin-1") as fh:
        fh.write("".join(ln + "\r\n" for ln in lines))


def axis_lines(x=X, y=Y, z=Z):
    lines = [f"{len(x):5d}{len(y):5d}{len(z):5d}"]
    for c in (x, y, z):
        lines += wrap([f"{v:10.5f}" for v in c], 5)
    return lines


def body_flags():
    f = np.zeros((NX - 1, NY - 1, NZ - 1), dtype=np.int32)
    f[2, 2, :] = 1
    return f


def flag_lines(flags):
    nx, ny, nz = flags.shape
    return [f"{nx + 1:5d}{ny + 1:5d}{nz + 1:5d}"] + wrap([f"{v:5d}" for v in flags.ravel(order="F")], 10)


def field_arrays(seed=1, pressure="pp"):
    """Random arrays over the field-file ranges, keyed like the reader's names."""
    from qvtools.readers import field_ranges
    rng = np.random.default_rng(seed)
    out = {}
    for name, (lo, hi) in field_ranges(BOUNDS, pressure).items():
        out[name] = rng.normal(size=tuple(h - l + 1 for l, h in zip(lo, hi)))
    return out


def write_field(path, arrays, bounds=BOUNDS, header=HEADER):
    recs = [pack_record(*bounds.values()),
            pack_record(*[float(v) for v in header[:4]], *[int(v) for v in header[4:]])]
    recs += [pack_record(a) for a in arrays.values()]
    write_records(path, recs)


def stat_arrays(seed=2):
    from qvtools.readers import stat_ranges
    rng = np.random.default_rng(seed)
    return {name: rng.normal(size=tuple(h - l + 1 for l, h in zip(lo, hi)))
            for name, (lo, hi) in stat_ranges(BOUNDS).items()}


def write_history(path, samples, tsmp=0.1, beta=0.25, first=(1, 2, 3, 4, 5, 6)):
    """samples: array (n, 12) = pfx pfy pft, xacc xvel xdis, yacc.., tacc.."""
    samples = np.asarray(samples, float).reshape(-1, 12)
    recs = [pack_record(len(samples), tsmp, beta),
            pack_record(*map(float, first[:3])), pack_record(*map(float, first[3:]))]
    for c in range(4):
        recs.append(samples[:, 3 * c:3 * c + 3].tobytes())
    write_records(path, recs)


def write_body(path, fxn, fyn, state=(0.1, 0.2, 0.3, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0)):
    b = BOUNDS
    recs = [pack_record(b["is"], b["ie"], b["js"], b["ks"], b["ke"]),
            pack_record(*state[0:3]), pack_record(*state[3:6]), pack_record(*state[6:9]),
            pack_record(fxn), pack_record(fyn)]
    write_records(path, recs)


def ts_line(nn, t, vals):
    return f"{nn:6d}{t:10.4f}" + "".join(fmt_e(v, 12, 4) for v in vals)


def ts_signals(t):
    pfx = PFX_MEAN + 0.02 * np.sin(4 * np.pi * F_SHED * t)
    pfy = PFY_AMP * np.sin(2 * np.pi * F_SHED * t)
    ydis = 0.05 * np.sin(2 * np.pi * F_SHED * t + 0.3)
    xdis = 0.001 + 0.0 * t
    return pfx, pfy, ydis, xdis


def write_timeseries(path, t_split=30.0, t_end=60.0, dt=0.01):
    """Two runs: one from t=0 to t_split, a restart from t_split to t_end."""
    lines = []
    for t0, t1 in ((0.0, t_split), (t_split, t_end)):
        lines += [f" #start at t={t0:25.15f}",
                  " #nn       t         Vin        pfx        pfy        pft      xdis      ydis"]
        nsteps = int(round((t1 - t0) / dt))
        for nn in range(10, nsteps + 1, 10):
            t = t0 + nn * dt
            pfx, pfy, ydis, xdis = ts_signals(np.array(t))
            lines.append(ts_line(nn, t, [VIN, pfx, pfy, -0.01, xdis, ydis]))
    write_text(path, lines)


def param_lines(nt=500):
    names = ["axis.dat", "flag.dat", "fffff", "DAT/final.dat", "DAT/stat.dat"]
    return ["".join("  " + n.ljust(14) for n in names),
            f"{NX:5d}{NY:5d}{NZ:5d}", "    1    0", "      100.", "   0.10000",
            "  0.10000E-01", "   0.00100   1.50000", "   0.00000   0.00000", f"{nt:5d}",
            "".join("  " + n.ljust(14) for n in ("DAT/body0.dat", "DAT/body.dat", "DAT/vib.dat")),
            "  0.40000E+01  0.66667E+00", "  0.63165E+01  0.63165E+01  0.10528E+01",
            "   0.01000   0.02000   0.03000", "   0.25000    1",
            "   0.00000   0.00000   0.00000   0.00000", "   10"]


@pytest.fixture
def run_dir(tmp_path):
    """A run directory with inputs and every result file of a finished run."""
    d = tmp_path
    os.makedirs(d / "DAT")
    write_text(d / "quivel_vib8.inf", param_lines())
    write_text(d / "quivel_vib8.fil", ["  100    0    2", "snap1.dat", "snap2.dat"])
    write_text(d / "axis.dat", axis_lines())
    write_text(d / "flag.dat", flag_lines(body_flags()))
    write_text(d / "console.in", [f"{VIN}"])
    write_field(d / "DAT" / "final.dat", field_arrays(1))
    write_field(d / "snap1.dat", field_arrays(3, "pm"))
    write_field(d / "DAT" / "stat.dat", stat_arrays())
    t = 0.1 * np.arange(1, 301)
    pfx, pfy, ydis, xdis = ts_signals(t)
    samples = np.zeros((len(t), 12))
    samples[:, 0], samples[:, 1] = pfx, pfy
    samples[:, 5], samples[:, 8] = xdis, ydis
    samples[:, 11] = 0.002 * np.sin(2 * np.pi * F_SHED * t)
    write_history(d / "DAT" / "vib.dat", samples)
    full = tuple(BOUNDS[h] - BOUNDS[l] + 1 for l, h in (("is", "ie"), ("js", "je"), ("ks", "ke")))
    write_body(d / "DAT" / "body.dat", np.full(full, 0.5), np.full(full, -0.5))
    write_timeseries(d / "DAT" / "quivel_vib8.ts")
    write_text(d / "change.out", ["       500", "       120   4.4500000", "        17",
                                  "   0.0100000   0.0312500   0.0010000", "   ", "   ", "   ",
                                  " c---------------------------- information"])
    return d


@pytest.fixture(autouse=True)
def cost_file(tmp_path_factory, monkeypatch):
    """Calibrations of `qv case` keep their costs in a scratch file, not the user's."""
    path = tmp_path_factory.mktemp("cost") / "cost.json"
    monkeypatch.setenv("QV_COST_FILE", str(path))
    return path
