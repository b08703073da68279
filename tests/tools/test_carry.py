"""qv carry: a real LES run packed and unpacked elsewhere goes on by a plain
restart, with the field in single precision and the span means of its
statistics kept; damaged or hostile carry files are refused."""

import io
import json
import os
import subprocess
import tarfile

import numpy as np
import pytest

from qvtools import carry, chain, cli, readers, wake
from qvtools.casegen import write_case
from qvtools.runfiles import program_path


def run_to_end(d):
    exe = program_path()
    if not os.path.exists(exe):
        pytest.fail(f"the program is not built: {exe}")
    with open(d / "console.in", "rb") as cin, open(d / "console.log", "wb") as log:
        rc = subprocess.run([exe], cwd=d, stdin=cin, stdout=log, stderr=subprocess.PIPE,
                            timeout=300, env={**os.environ, "OMP_NUM_THREADS": "1"})
    return rc.returncode, rc.stderr.decode()


@pytest.fixture(scope="module")
def carried(tmp_path_factory):
    """An LES on a stretched grid, periodic span of four cells, two exact
    segments (so the folder holds linked inputs and a state), packed and
    unpacked."""
    base = tmp_path_factory.mktemp("carry")
    recipe = {
        "name": "carry",
        "flow": {"Re": 1000, "Vin": 1.0, "Cs": 0.1},
        "body": {"B": 1.0, "D": 1.0, "dof": []},
        "grid": {"h": 0.2, "ratio": 1.2, "hmax": 0.5,
                 "core": {"upstream": 0.4, "downstream": 1.0, "lateral": 0.4},
                 "domain": {"upstream": 2, "downstream": 4, "lateral": 2},
                 "span": 1.0, "nz": 4},
        "boundaries": {"y": "slip", "z": "periodic"},
        "run": {"dt": 0.02, "nt": 12},
        "output": {"snap_interval": 6, "snap_count": 1},
    }
    s1, s2, u = base / "s1", base / "s2", base / "u"
    write_case(s1, recipe)
    assert run_to_end(s1)[0] == 0
    chain.write_restart(s1, s2, 8, exact=True)
    assert run_to_end(s2)[0] == 0
    assert cli.main(["carry", "pack", str(s2), "--out", str(base / "s2.tar.xz")]) == 0
    assert cli.main(["carry", "unpack", str(base / "s2.tar.xz"), "--out", str(u)]) == 0
    return s2, u, base / "s2.tar.xz"


def test_the_unpacked_run_is_the_packed_one_in_single_precision(carried):
    s2, u, path = carried
    run, back = readers.Run(s2), readers.Run(u)
    a, b = readers.read_field(run.final_path), readers.read_field(back.final_path)
    assert a.header == b.header and a.bounds == b.bounds
    for name in a.names:
        assert np.array_equal(np.float32(a[name]).astype(float), b[name]), name
    # the statistics: every span mean the analysis takes is kept, the raw
    # second moments' too
    s, t = readers.read_statistics(run.stat_path), readers.read_statistics(back.stat_path)
    assert s.header == t.header
    axis = run.axis()
    nk = len(axis.z) - 1
    for name in ("su", "sv", "sw", "snut", "spm", "sgs11"):
        np.testing.assert_allclose(t[name][:, :, :nk].mean(2), s[name][:, :, :nk].mean(2),
                                   rtol=1e-13, atol=1e-15, err_msg=name)
    for var, x, y in (("suu", "su", "su"), ("suv", "su", "sv"), ("spm2", "spm", "spm")):
        raw_s = (s[var] + s[x] * s[y])[:, :, :nk].mean(2)
        raw_t = (t[var] + t[x] * t[y])[:, :, :nk].mean(2)
        np.testing.assert_allclose(raw_t, raw_s, rtol=1e-12, atol=1e-15, err_msg=var)
    flags = run.flags()
    la, lb = wake.centre_line(s, axis, flags), wake.centre_line(t, axis, flags)
    np.testing.assert_allclose(lb["U"], la["U"], rtol=1e-13)
    # the time series and the small files come back byte for byte; the
    # state, the snapshot and the linked inputs stay behind
    for name in ("DAT/quivel_vib8.ts", "quivel_vib8.inf", "flag.dat", "axis.dat", "change.out"):
        assert (u / name).read_bytes() == (s2 / name).read_bytes(), name
    with tarfile.open(path) as tar:
        names = tar.getnames()
    assert not [n for n in names if n.endswith((".state", "in_fld.dat", "in_bdy.dat"))], names
    assert not [n for n in names if "snap" in os.path.basename(n)], names
    assert json.loads((u / "restart.json").read_text())["previous"] is None


def test_the_unpacked_run_goes_on_by_a_plain_restart_only(carried, tmp_path):
    _, u, _ = carried
    with pytest.raises(chain.ChainError, match="carried"):
        chain.write_restart(u, tmp_path / "exact", None, exact=True)
    nxt = tmp_path / "next"
    chain.write_restart(u, nxt, 3)
    rc, err = run_to_end(nxt)
    assert rc == 0, err
    assert readers.read_field(readers.Run(nxt).final_path).header["t"] == pytest.approx(
        (20 + 3) * 0.02)


def _tar(path, members):
    with tarfile.open(path, "w:xz") as tar:
        for name, data in members.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))


def test_damaged_or_hostile_carry_files_are_refused(carried, tmp_path):
    _, _, path = carried
    with tarfile.open(path) as tar:
        good = {m.name: tar.extractfile(m).read() for m in tar.getmembers() if m.isfile()}
    manifest = json.loads(good[carry.MANIFEST])

    # a packed name that climbs out of the folder writes nothing anywhere
    evil = dict(manifest, files=manifest["files"] + ["../escaped"])
    bad = dict(good, **{carry.MANIFEST: json.dumps(evil).encode(),
                        carry.FILES + "../escaped": b"x"})
    _tar(tmp_path / "evil.tar.xz", bad)
    with pytest.raises(chain.ChainError, match="outside"):
        carry.unpack(str(tmp_path / "evil.tar.xz"), str(tmp_path / "e" / "u"))
    assert not (tmp_path / "e").exists()

    # a field cut short
    short = dict(good, **{carry.FIELD_MEMBER: good[carry.FIELD_MEMBER][:-4]})
    _tar(tmp_path / "short.tar.xz", short)
    with pytest.raises(chain.ChainError, match="cut short"):
        carry.unpack(str(tmp_path / "short.tar.xz"), str(tmp_path / "s"))

    # not a carry file at all, and a folder already in use
    (tmp_path / "plain.txt").write_text("hello")
    with pytest.raises(chain.ChainError, match="no carry file"):
        carry.unpack(str(tmp_path / "plain.txt"), str(tmp_path / "p"))
    (tmp_path / "used").mkdir()
    (tmp_path / "used" / "x").write_text("")
    with pytest.raises(chain.ChainError, match="not an empty folder"):
        carry.unpack(str(path), str(tmp_path / "used"))
