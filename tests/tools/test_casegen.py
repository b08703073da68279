"""Tests of the case generator: the written files are re-read by columns,
as the solver reads them, and checked against the request."""

import json
import math
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))

from qvtools import columns  # noqa: E402
from qvtools.casegen import CaseError, build_case, write_case  # noqa: E402
from qvtools.columns import FormatError  # noqa: E402

CASES = sorted(p.parent.name for p in (ROOT / "cases").glob("*/recipe.json"))
E135 = re.compile(r"^ *-?0\.\d{5}E[+-]\d\d$")


def recipe(name):
    return json.loads((ROOT / "cases" / name / "recipe.json").read_text())


def lines_of(path):
    data = path.read_bytes()
    assert data.endswith(b"\r\n")
    assert data.count(b"\n") == data.count(b"\r\n"), "every line must end with CR LF"
    return data.decode("ascii").split("\r\n")[:-1]


def fields(line, width, count=None):
    out = [line[i:i + width] for i in range(0, len(line), width)]
    assert all(len(f) == width for f in out), f"ragged line {line!r}"
    return out if count is None else out[:count]


def read_axis(path):
    """Cell counts and coordinates, read as the solver does: the first line
    holds grid-line counts (cells + 1) and each axis as many values, five
    F10.5 fields per line, every axis starting on a new line."""
    lines = lines_of(path)
    n = [int(f) - 1 for f in fields(lines[0], 5)]
    pos, axes = 1, []
    for cells in n:
        vals = []
        while len(vals) < cells + 1:
            row = fields(lines[pos], 10)
            assert len(row) == min(5, cells + 1 - len(vals))
            assert all("." in f for f in row)
            vals += [float(f) for f in row]
            pos += 1
        axes.append(vals)
    assert pos == len(lines)
    return n, axes


def read_flags(path, n):
    lines = lines_of(path)
    assert [int(f) - 1 for f in fields(lines[0], 5)] == n
    flags = [int(f) for line in lines[1:] for f in fields(line, 5)]
    assert all(len(fields(line, 5)) == 10 for line in lines[1:-1])
    assert len(flags) == n[0] * n[1] * n[2]
    return flags


@pytest.fixture(scope="module")
def written(tmp_path_factory):
    """Every shipped case written once (flag files of the big cases included)."""
    out = {}
    for name in CASES:
        d = tmp_path_factory.mktemp(name)
        out[name] = (d, write_case(d / "run", recipe(name)))
    return out


def test_shipped_cases_present():
    assert {"example", "re100", "lockin", "lockin-off", "les22k"} <= set(CASES)
    for name in CASES:
        assert (ROOT / "cases" / name / "README.md").exists()


@pytest.mark.parametrize("name", CASES)
def test_grid_matches_request(written, name):
    d, case = written[name]
    r = case.recipe
    g, D, B = r["grid"], r["body"]["D"], r["body"]["B"]
    (nx, ny, nz), (x, y, z) = read_axis(d / "run" / "axis.dat")
    assert nx <= 212 and ny <= 160 and nz <= 60
    assert (nx, ny, nz) == (case.nx, case.ny, case.nz)
    assert x[0] == -g["domain"]["upstream"] * D and x[-1] == g["domain"]["downstream"] * D
    assert y[0] == -g["domain"]["lateral"] * D and y[-1] == g["domain"]["lateral"] * D
    assert z[0] == 0 and z[-1] == g["span"] and nz == g["nz"]
    for coords in (x, y, z):
        w = [b - a for a, b in zip(coords, coords[1:])]
        assert min(w) > 0
        assert coords is z or max(w) <= g["hmax"] + 2e-5
        ratios = [max(a / b, b / a) for a, b in zip(w, w[1:])]
        assert max(ratios) <= g["ratio"] * (1 + 1e-3)
    # body faces on grid lines, body centred at the origin, uniform core cells
    for coords, half in ((x, B / 2), (y, D / 2)):
        i0, i1 = coords.index(-half), coords.index(half)
        core = [b - a for a, b in zip(coords[i0 - 5:i1 + 5], coords[i0 - 4:i1 + 6])]
        assert all(abs(c - g["h"]) < 2e-5 for c in core)


@pytest.mark.parametrize("name", CASES)
def test_flags_mark_exactly_the_body(written, name):
    d, case = written[name]
    B, D = case.recipe["body"]["B"], case.recipe["body"]["D"]
    n, (x, y, z) = read_axis(d / "run" / "axis.dat")
    flags = read_flags(d / "run" / "flag.dat", n)
    nx, ny, nz = n
    for k in (0, nz - 1):
        for j in range(ny):
            yc = (y[j] + y[j + 1]) / 2
            for i in range(nx):
                xc = (x[i] + x[i + 1]) / 2
                inside = abs(xc) < B / 2 and abs(yc) < D / 2
                assert flags[i + nx * (j + ny * k)] == (1 if inside else 0)
    assert sum(flags) == nz * round(B / case.recipe["grid"]["h"]) * round(D / case.recipe["grid"]["h"])


def test_parameter_file_layout_reads_back(written):
    d, case = written["lockin"]
    inf = lines_of(d / "run" / "quivel_vib8.inf")
    assert len(inf) == 16
    names = [inf[0][c:c + 14].rstrip() for c in (2, 18, 34, 50, 66)]
    assert all(inf[0][c - 2:c] == "  " for c in (2, 18, 34, 50, 66))
    assert names == ["axis.dat", "flag.dat", "fffff", "DAT/final.dat", "DAT/stat.dat"]
    assert [int(f) for f in fields(inf[1], 5)] == [case.nx + 1, case.ny + 1, case.nz + 1]
    assert [int(f) for f in fields(inf[2], 5)] == [0, 0]
    assert len(inf[3]) == 10 and float(inf[3]) == 100 and "." in inf[3]
    assert len(inf[5]) == 13 and E135.match(inf[5]) and float(inf[5]) == 0.01
    esp, omg = map(float, fields(inf[6], 10))
    assert (esp, omg) == (0.001, 1.5)
    assert [float(f) for f in fields(inf[7], 10)] == [0.0, 0.0]
    assert int(inf[8]) == 30000 and len(inf[8]) == 5
    assert [inf[9][c:c + 14].rstrip() for c in (2, 18, 34)] == \
        ["DAT/body.dat", "DAT/body.dat", "DAT/vib.dat"]
    e = fields(inf[10], 13) + fields(inf[11], 13)
    assert len(e) == 5 and all(E135.match(f) for f in e)
    amas, aitm, xk, yk, tk = map(float, e)
    assert amas == 5.0 * 4.0 and aitm == pytest.approx(amas / 6, rel=5e-5)
    # Ur = 7 with D = Vin = 1: k = M (2 pi / 7)^2, to five significant digits
    assert yk == pytest.approx(amas * (2 * math.pi / 7) ** 2, rel=5e-5)
    assert xk > 0 and tk > 0
    assert [float(f) for f in fields(inf[12], 10)] == [0.0, 0.005, 0.0]
    assert inf[13][:10] == "   0.25000" and int(inf[13][10:15]) == 1
    assert [float(f) for f in fields(inf[14], 10)] == [0.0, 0.02, 0.0, 7.0]
    assert int(inf[15]) == 1
    # derived values are those of the written fields
    assert case.derived["body"]["y"]["stiffness"] == yk
    assert case.derived["body"]["y"]["Ur"] == pytest.approx(7.0, rel=3e-5)


def test_small_files(written):
    d, case = written["example"]
    fil = lines_of(d / "run" / "quivel_vib8.fil")
    assert [int(f) for f in fields(fil[0], 5)] == [3250, 0, 2]
    assert fil[1:] == ["DAT/snap0001  ", "DAT/snap0002  "]
    esp2 = lines_of(d / "run" / "esp2.inf")[0]
    assert (int(esp2[:10]), int(esp2[10:20]), float(esp2[20:30])) == (0, 50, 0.01)
    assert int(lines_of(d / "run" / "change.inf")[0][:10]) == 6500
    assert (d / "run" / "console.in").read_text().split() == ["1.0"]
    assert (d / "run" / "DAT").is_dir()
    assert not any((d / "run" / "DAT").iterdir())
    info = json.loads((d / "run" / "case.json").read_text())
    assert info["request"] == recipe("example")
    assert info["derived"]["blockage"] == pytest.approx(1 / 12)


def test_delm_matches_cell_by_cell_bound(written):
    d, case = written["re100"]
    n, (x, y, z) = read_axis(d / "run" / "axis.dat")
    dx = [b - a for a, b in zip(x, x[1:])]
    dy = [b - a for a, b in zip(y, y[1:])]
    dz = [b - a for a, b in zip(z, z[1:])]
    delm = min([10000.0] + [50 / (1 / (a * a) + 1 / (b * b) + 1 / (c * c))
                            for a in dx for b in dy for c in dz[:1]])
    assert case.derived["delm"] == pytest.approx(delm, rel=1e-12)
    assert case.derived["dt"] <= delm


@pytest.mark.parametrize("value,text", [
    (0.0, "  0.00000E+00"), (12.345, "  0.12345E+02"), (-0.01, " -0.10000E-01"),
    (0.999999, "  0.10000E+01"), (22000.0, "  0.22000E+05")])
def test_exponent_fields(value, text):
    assert columns.fmt_e(value) == text


def test_fixed_point_fields():
    assert columns.fmt_f0(22000) == "    22000."
    assert columns.fmt_f0(150.5) == "     150.5"
    assert columns.fmt_f(-0.000001, 10, 5) == "   0.00000"
    with pytest.raises(FormatError):
        columns.fmt_f(-10000.0, 10, 5)


@pytest.mark.parametrize("dof,ndof", [
    ([], 0), ("y", 1), ("x", 2), ("theta", 3), ("xy", 4), (["y", "rot"], 5), ("x+y+theta", 6)])
def test_dof_selector_and_body_conversion(dof, ndof):
    body = {"dof": dof, "mass_ratio": 3.0, "Ur": {"x": 5, "y": 6, "theta": 8},
            "zeta": 0.02, "inertia_ratio": 2.0, "B": 2.0}
    case = build_case({"body": body, "grid": {"span": 2.0}})
    b = case.derived["body"]
    assert b["ndof"] == ndof
    assert b["amas"] == pytest.approx(3.0 * 2.0 * 1.0 * 2.0)
    assert b["aitm"] == pytest.approx(2.0 * 4.0 * 5.0 / 12, rel=5e-5)
    for d in ("x", "y", "theta"):
        assert b[d]["stiffness"] > 0
        if d in b["dof"]:
            assert b[d]["Ur"] == pytest.approx(body["Ur"][d], rel=3e-5)
            assert b[d]["zeta"] == 0.02
        else:
            assert b[d]["zeta"] == 0.0


def test_damping_coefficient_is_the_programs_own(tmp_path):
    """2 m omega zeta from the parameter file as the program reads it back:
    c = m * 2 * sqrt(k / m) * zeta, with zeta and m, k as written."""
    from qvtools.readers import read_params
    body = {"dof": "x+y+theta", "mass_ratio": 2.7, "Ur": {"x": 4.3, "y": 6.1, "theta": 7.7},
            "zeta": {"x": 0.0234567, "y": 0.01, "theta": 0.3141592}, "inertia_ratio": 1.3}
    case = write_case(tmp_path / "c", {"body": body})
    p = read_params(tmp_path / "c" / "quivel_vib8.inf")
    for d, m, k, zeta in (("x", "amas", "xkst", "xh0"), ("y", "amas", "ykst", "yh0"),
                          ("theta", "aitm", "tkst", "th0")):
        want = p[m] * 2 * math.sqrt(p[k] / p[m]) * p[zeta]
        assert case.derived["body"][d]["damping_coefficient"] == want
    assert p["xh0"] == 0.02346 != body["zeta"]["x"]


def test_periodic_y_keeps_all_grid_lines():
    slip = build_case({})
    periodic = build_case({"boundaries": {"y": "periodic"}})
    assert periodic.y == slip.y and periodic.inf_lines[2] == "    0    0"


@pytest.mark.parametrize("change,message", [
    ({"grid": {"domain": {"upstream": 0.4}}}, "body outside the domain"),
    ({"grid": {"domain": {"upstream": 0.8}}}, "does not contain the core box"),
    ({"grid": {"h": 0.02, "ratio": 1.02}}, "exceeds the solver's store"),
    ({"grid": {"nz": 61}}, "nz = 61 > 60"),
    ({"grid": {"h": -0.1}}, "grid.h must be positive"),
    ({"grid": {"h": 0.3}}, "not a whole number of core cells"),
    ({"grid": {"ratio": 0.95}}, "grid.ratio must be at least 1"),
    ({"body": {"D": 0}}, "body.D must be positive"),
    ({"output": {"final": "DAT/final_field.dat"}}, "longer than 14"),
    ({"output": {"snap_count": 3, "snap_interval": 10, "snap_prefix": "DAT/snapshot"}},
     "longer than 14"),
    ({"run": {"dt": 0.5}}, "exceeds the viscous bound"),
    ({"flow": {"Re": 1e6}, "run": {"dt": 0.2}}, "above 1"),
    ({"run": {"nt": 100000}}, "at most 99999"),
    ({"body": {"dof": "x+theta", "mass_ratio": 1, "Ur": 5}}, "not a combination"),
    ({"body": {"dof": "y", "Ur": 5}}, "mass_ratio is needed"),
    ({"body": {"dof": "y", "mass_ratio": 2}}, "Ur or body.fn is needed"),
    ({"grid": {"hmx": 1}}, "unknown recipe key 'grid.hmx'"),
])
def test_refusals(change, message):
    with pytest.raises(CaseError, match=re.escape(message)):
        build_case(change)


def test_the_suggested_core_cell_size_is_accepted():
    # 60 cells across D = 1: a cell size printed to six digits would be
    # refused again
    with pytest.raises(CaseError) as refused:
        build_case({"grid": {"h": 0.01667}})
    h = float(re.search(r"try h = ([0-9.e-]+)", str(refused.value)).group(1))
    small = {"ratio": 1.15, "core": {"upstream": 0.1, "downstream": 0.2, "lateral": 0.1}}
    assert round(1.0 / h) == 60 and build_case({"grid": {"h": h, **small}}).x


def test_warning_above_cfl_limit():
    case = build_case({"run": {"dt": 0.05}})
    assert any("convective" in w for w in case.warnings)


def test_existing_directory_and_snapshots(tmp_path):
    r = {"output": {"snap_interval": 10, "snap_count": 1}}
    write_case(tmp_path / "c", r)
    with pytest.raises(CaseError, match="not empty"):
        write_case(tmp_path / "c", r)
    write_case(tmp_path / "c", r, force=True)
    (tmp_path / "c" / "DAT" / "snap0001").write_text("x")
    with pytest.raises(CaseError, match="already exists"):
        write_case(tmp_path / "c", r, force=True)


def test_restart_case_answers_the_console(tmp_path):
    write_case(tmp_path / "c", {})
    case = write_case(tmp_path / "c", {"output": {"input": "DAT/final.dat",
                                                  "append_time_series": False}}, force=True)
    assert (tmp_path / "c" / "console.in").read_text().split() == ["1.0", "1"]
    assert lines_of(tmp_path / "c" / "quivel_vib8.inf")[0][34:48] == "DAT/final.dat "
    assert any("DAT/final.dat" in w for w in case.warnings)


def test_command_line(tmp_path):
    script = ROOT / "tools" / "qvtools" / "casegen.py"
    ok = subprocess.run([sys.executable, str(script), "case", "--recipe",
                         str(ROOT / "cases" / "example" / "recipe.json"),
                         "--out", str(tmp_path / "ex"), "--set", "run.nt=50"],
                        capture_output=True, text=True)
    assert ok.returncode == 0, ok.stderr
    assert lines_of(tmp_path / "ex" / "change.inf") == ["        50"]
    bad = subprocess.run([sys.executable, str(script), "case", "--check",
                          "--set", "grid.nz=100"], capture_output=True, text=True)
    assert bad.returncode != 0 and "store" in bad.stderr


def test_case_json_records_the_version_of_the_tools(tmp_path):
    from qvtools.runfiles import version
    recipe = json.loads((ROOT / "cases" / "example" / "recipe.json").read_text())
    write_case(tmp_path / "c", recipe)
    rec = json.loads((tmp_path / "c" / "case.json").read_text())
    want = subprocess.run(["git", "describe", "--always", "--dirty", "--tags"], cwd=ROOT,
                          capture_output=True, text=True).stdout.strip()
    assert rec["version"] == version() == want
