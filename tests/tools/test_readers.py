"""Text-file and record-file readers on files written in the program's layouts."""

import os

import numpy as np
import pytest

import conftest as c
from qvtools import readers as r
from qvtools.records import RecordError, frame, pack_record, read_records, write_records


@pytest.mark.parametrize("text, d, value", [
    ("   10000", 5, 0.1),            # no point: last d digits are decimals
    ("   0.10000", 5, 0.1),
    ("  0.10000E-01", 5, 0.01),
    (" 1 2 ", 0, 12.0),              # blanks inside a field are ignored
    ("     ", 4, 0.0),
    ("-0.1234+100", 4, -1.234e99),   # exponent beyond 99 without the E
    ("0.5000-101", 4, 5e-102),
    ("1.5D+02", 1, 150.0),
])
def test_fortran_real(text, d, value):
    assert r.fortran_real(text, d) == pytest.approx(value, rel=1e-15)


def test_fortran_int_and_conversion_errors():
    assert r.fortran_int("   ") == 0 and r.fortran_int(" 1 2") == 12
    with pytest.raises(r.FormatError):
        r.fortran_int("  1.5")
    with pytest.raises(r.FormatError):
        r.fortran_real("abc")
    assert np.isnan(r.fortran_real("************", 4))


def test_fields_are_cut_by_columns_even_when_they_run_together():
    line = "    10    0.1000 -0.1234E+01-0.5678E+00 0.1000+100\r"
    vals = r.parse_line(line, [("I", 6), ("F", 10, 4)] + [("E", 12, 4)] * 4)
    assert vals == [10, 0.1, -1.234, -0.5678, pytest.approx(1e99), 0.0]


def test_axis_file_layout_and_counts(tmp_path):
    x = [0.1 * n for n in range(12)]        # 12 values: lines of 5 + 5 + 2
    y = [0.0, 1.0, 2.0]
    z = [0.0, 0.5, 1.0]
    lines = c.axis_lines(x, y, z)
    assert lines[0] == "   12    3    3" and lines[4].startswith("   0.00000   1.00000")
    c.write_text(tmp_path / "ax", lines)
    a = r.read_axis(tmp_path / "ax")
    assert a.counts == (12, 3, 3)
    np.testing.assert_allclose(a.x, x)
    np.testing.assert_allclose(a.y, y)
    np.testing.assert_allclose(a.z, z)
    c.write_text(tmp_path / "short", lines[:-1])
    with pytest.raises(r.FormatError, match="ends early"):
        r.read_axis(tmp_path / "short")
    # counts one short of the values listed (cells instead of grid lines)
    c.write_text(tmp_path / "cells", ["   11    2    2"] + lines[1:])
    with pytest.raises(r.FormatError, match="line 4: more x values"):
        r.read_axis(tmp_path / "cells")


def test_flag_file_order_and_body_box(tmp_path):
    flags = c.body_flags()
    flags[0, 4, 3] = 2
    c.write_text(tmp_path / "fl", c.flag_lines(flags))
    lines = c.flag_lines(flags)
    c.write_text(tmp_path / "extra", lines + ["    0"])
    with pytest.raises(r.FormatError, match="more flags than the 120 cells"):
        r.read_flags(tmp_path / "extra")
    counts, got = r.read_flags(tmp_path / "fl")
    assert counts == (c.NX, c.NY, c.NZ) and got.shape == (c.NX - 1, c.NY - 1, c.NZ - 1)
    assert np.array_equal(got, flags)
    axis = r.Axis((c.NX, c.NY, c.NZ), np.array(c.X), np.array(c.Y), np.array(c.Z))
    box = r.body_box(axis, c.body_flags())
    assert (box["x0"], box["x1"], box["y0"], box["y1"]) == (2.0, 2.5, 1.5, 2.2)
    assert box["cells_x"] == (5, 5) and box["cells_z"] == (3, 6)
    assert r.body_box(axis, np.zeros_like(flags)) is None


def test_run_directory_files(run_dir):
    run = r.Run(run_dir)
    p = run.params
    assert p["finalfile"] == "DAT/final.dat" and p["vfile"] == "DAT/vib.dat"
    assert (p["nx"], p["ny"], p["nz"], p["nt"], p["ndof"], p["nsmp"]) == (7, 6, 5, 500, 1, 10)
    assert p["Cs"] == 0.1 and p["dt"] == 0.01 and p["beta"] == 0.25 and p["amas"] == 4.0
    assert run.vin() == c.VIN
    assert [os.path.basename(s) for s in run.snapshot_paths] == ["snap1.dat", "snap2.dat"]
    assert r.is_snapshot_name(run_dir / "snap1.dat")
    assert not r.is_snapshot_name(run_dir / "DAT" / "final.dat")


def test_field_file_arrays_and_ranges(run_dir):
    want = c.field_arrays(1)
    f = r.read_record_file(run_dir / "DAT" / "final.dat")
    assert f.kind == "field" and f.bounds == c.BOUNDS
    assert f.header["t"] == 3.25 and f.header["iter"] == 17 and f.header["izper"] == 0
    b = c.BOUNDS
    assert f.ranges["uu"] == ((3, 3, 3), (b["ie"] + 1, b["je"] - 1, b["ke"] - 1))
    assert f.ranges["ww"] == ((3, 3, 3), (b["ie"], b["je"] - 1, b["ke"]))
    # (nx+1)(ny-1)(nz-1) values of uu, nx ny nz of fu
    assert f["uu"].shape == (c.NX + 1, c.NY - 1, c.NZ - 1) and f["fu"].shape == (c.NX, c.NY, c.NZ)
    for name in want:
        np.testing.assert_array_equal(f[name], want[name])
    # program indices: the last uu point and one vv point
    assert f.blocks["uu"].at(b["ie"] + 1, b["je"] - 1, b["ke"] - 1) == want["uu"][-1, -1, -1]
    assert f.blocks["vv"].at(4, 5, 3) == want["vv"][1, 2, 0]
    np.testing.assert_array_equal(f.blocks["pp"].region((3, 3, 3), (b["ie"] - 1, 4, 3)),
                                  want["pp"][:-1, :2, :1])
    snap = r.read_record_file(run_dir / "snap1.dat")
    assert snap.kind == "snapshot" and "pm" in snap and "pp" not in snap


def test_statistics_file(run_dir):
    s = r.read_record_file(run_dir / "DAT" / "stat.dat")
    want = c.stat_arrays()
    assert s.kind == "statistics" and s.names == list(r.STAT_NAMES)
    assert s["su"].shape == (c.NX, c.NY, c.NZ)
    assert s["spm2"].shape == (c.NX, c.NY - 1, c.NZ - 1)
    np.testing.assert_array_equal(s["tauxz"], want["tauxz"])
    np.testing.assert_array_equal(s["spm"], want["spm"])


def test_history_file_and_empty_history(run_dir, tmp_path):
    h = r.read_record_file(run_dir / "DAT" / "vib.dat")
    assert h.kind == "history" and h.header["nsample"] == 300
    assert h.header["tsmp"] == 0.1 and h.header["tvel1"] == 6.0 and h.header["xdis1"] == 1.0
    t = 0.1 * np.arange(1, 301)
    np.testing.assert_allclose(h["time"], t)
    np.testing.assert_allclose(h["pfy"], c.ts_signals(t)[1])
    np.testing.assert_allclose(h["ydis"], c.ts_signals(t)[2])
    c.write_history(tmp_path / "v0", np.zeros((0, 12)), tsmp=0.0)
    h0 = r.read_history(tmp_path / "v0")
    assert h0.header["nsample"] == 0 and h0["pfx"].size == 0 and h0["time"].size == 0


def test_body_state_infers_je(run_dir):
    b = r.read_record_file(run_dir / "DAT" / "body.dat")
    assert b.kind == "body" and b.bounds == c.BOUNDS
    assert b.header["xacc"] == 0.1 and b.header["tdis"] == 3.0 and b.header["yvel"] == 5.0
    assert np.all(b["fxn"] == 0.5) and b["fyn"].shape == (c.NX, c.NY, c.NZ)


def test_size_errors_name_the_record(run_dir, tmp_path):
    recs = read_records(run_dir / "DAT" / "final.dat")
    recs[4] = recs[4][:-8]
    write_records(tmp_path / "bad", recs)
    with pytest.raises(RecordError, match=r"not a field file: record 5 of .* holds \d+ bytes, "
                                          r"expected \d+ for ww over i=3..9, j=3..7, k=3..7"):
        r.read_field(tmp_path / "bad")
    write_records(tmp_path / "nine", read_records(run_dir / "DAT" / "final.dat")[:9])
    with pytest.raises(RecordError, match="truncated field file .*: 9 records, expected 10"):
        r.read_record_file(tmp_path / "nine")
    raw = (run_dir / "DAT" / "stat.dat").read_bytes()
    (tmp_path / "cut").write_bytes(raw[:-100])
    with pytest.raises(RecordError, match="truncated record 20"):
        r.read_record_file(tmp_path / "cut")
    with pytest.raises(RecordError, match="not a field file"):
        r.read_field(run_dir / "DAT" / "vib.dat")
    (tmp_path / "one").write_bytes(frame(pack_record(1.0)))
    with pytest.raises(RecordError, match="not a quivel_vib8 record file"):
        r.read_record_file(tmp_path / "one")


def test_timeseries_segments_and_partial_last_line(run_dir):
    path = run_dir / "DAT" / "quivel_vib8.ts"
    ts = r.read_timeseries(path)
    assert len(ts) == 600 and [s["index"] for s in ts.segments] == [0, 300]
    assert [s["start_time"] for s in ts.segments] == [0.0, 30.0]
    assert ts["nn"][300] == 10 and ts["t"][300] == pytest.approx(30.1)
    assert np.all(np.diff(ts["t"]) > 0)
    np.testing.assert_allclose(ts["pfy"], c.ts_signals(ts["t"])[1], atol=1e-4)
    with open(path, "a", newline="") as fh:
        fh.write("   610   60.1")        # a line being written
    assert len(r.read_timeseries(path)) == 600


def test_probe_and_change_files(tmp_path, run_dir):
    c.write_text(tmp_path / "fort.1", [f"{1:10d}{0.01:15.10f}{1.0:15.10f}{-0.5:15.10f}{0.25:15.10f}",
                                       f"{2:10d}{0.02:15.10f}{1.1:15.10f}{-0.6:15.10f}{0.35:15.10f}"])
    p = r.read_probe(tmp_path / "fort.1")
    assert p["nn"].tolist() == [1, 2]
    np.testing.assert_allclose(p["v2"], [-0.5, -0.6])
    ch = r.read_change(run_dir / "change.out")
    assert ch == {"nt": 500, "nn": 120, "t": 4.45, "iter": 17, "dt": 0.01,
                  "dtmin": 0.03125, "esp": 0.001}


def test_parameter_file_written_and_read_by_one_layout(tmp_path):
    # Every value of the 16 lines comes back as written, the F10.0 Re with
    # its decimals, the E13.5 fields to five significant digits.
    from qvtools.columns import PARAM_LAYOUT, param_lines
    names = [n for line, _ in PARAM_LAYOUT for n in line.split()]
    values = {n: 0.5 + k for k, n in enumerate(names)}
    values.update({n: f"f{k}.dat" for k, n in enumerate(names) if n.endswith("file") or
                   n.startswith("nfile") or n == "vfile"})
    values.update({n: k for k, n in enumerate(names) if n in
                   ("nx", "ny", "nz", "iyper", "izper", "nt", "ndof", "nsmp")})
    values.update({"Re": 150.5, "dt": 1.234567e-3, "amas": 98765.4})
    path = tmp_path / "quivel_vib8.inf"
    path.write_text("".join(ln + "\r\n" for ln in param_lines(values)), newline="")
    got = r.read_params(path)
    assert got.keys() == values.keys()
    for n, v in values.items():
        if n in ("dt", "amas"):
            assert got[n] == pytest.approx(v, rel=5e-5)
        else:
            assert got[n] == v, n
