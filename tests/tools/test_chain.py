"""A restart chain through the real program: three segments, the middle one
stopped by SIGTERM, joined by summary, plot ts and plot history; and the
refusals of qv restart."""

import json
import os
import shutil
import signal
import subprocess
import time

import numpy as np
import pytest

from qvtools import chain, cli, readers, summary, surface, wake
from qvtools.casegen import write_case
from qvtools.runfiles import process_running, program_path

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DT = 0.02


def program():
    exe = program_path()
    if not os.path.exists(exe):
        pytest.fail(f"the program is not built: {exe}")
    return exe


def run_to_end(d):
    with open(d / "console.in", "rb") as cin, open(d / "console.log", "wb") as log:
        rc = subprocess.run([program()], cwd=d, stdin=cin, stdout=log,
                            stderr=subprocess.PIPE, timeout=300)
    return rc.returncode, rc.stderr.decode()


def run_and_stop(d, after_steps):
    """Start the program in d and send SIGTERM once it has done after_steps steps."""
    with open(d / "console.in", "rb") as cin, open(d / "console.log", "wb") as log:
        p = subprocess.Popen([program()], cwd=d, stdin=cin, stdout=log, stderr=subprocess.PIPE)
        until = time.time() + 120
        while time.time() < until and p.poll() is None:
            try:
                if readers.read_change(d / "change.out")["nn"] >= after_steps:
                    break
            except (OSError, ValueError, KeyError):
                pass
            time.sleep(0.05)
        p.send_signal(signal.SIGTERM)
        _, err = p.communicate(timeout=120)
    return p.returncode, err.decode()


@pytest.fixture(scope="module")
def segments(tmp_path_factory):
    base = tmp_path_factory.mktemp("chain")
    s1, s2, s3 = base / "s1", base / "s2", base / "s3"
    recipe = {
        "name": "chain",
        "flow": {"Re": 100, "Vin": 1.0},
        "body": {"B": 1.0, "D": 1.0, "dof": ["y", "theta"], "mass_ratio": 2.0, "Ur": 5.0,
                 "zeta": 0.0, "startup": {"y": 0.05, "theta": 0.02, "until": 1.0}},
        "grid": {"h": 0.25, "ratio": 1.2, "hmax": 0.5,
                 "core": {"upstream": 0.5, "downstream": 1.0, "lateral": 0.5},
                 "domain": {"upstream": 2, "downstream": 4, "lateral": 2},
                 "span": 1.0, "nz": 2},
        "boundaries": {"y": "periodic"},
        "run": {"dt": DT, "nt": 20, "nsmp": 1},
        "output": {"snap_interval": 10, "snap_count": 1},
        "probes": [[1.5, 0.0, 0.5], [2.5, 0.4, 0.5]],
    }
    write_case(s1, recipe)
    rc, err = run_to_end(s1)
    assert rc == 0, err
    assert cli.main(["restart", str(s1), "--out", str(s2), "--steps", "5000"]) == 0
    rc, err = run_and_stop(s2, 23)
    assert rc == 128 + signal.SIGTERM, err
    assert cli.main(["restart", str(s2), "--out", str(s3), "--steps", "10"]) == 0
    rc, err = run_to_end(s3)
    assert rc == 0, err
    return s1, s2, s3


def test_restart_writes_a_case_that_overwrites_nothing(segments):
    s1, s2, s3 = segments
    rec = json.loads((s3 / "restart.json").read_text())
    assert rec["segment"] == 3 and rec["previous"] == "../s2"
    p1, p3 = readers.Run(s1).params, readers.Run(s3).params
    names1 = {p1[k] for k in ("statfile", "vfile", "nfile")} | set(readers.Run(s1).snapshot_paths)
    for k in ("statfile", "vfile", "nfile"):
        assert p3[k] not in names1
    assert readers.read_name_list(s3 / "quivel_vib8.fil")[2] == ["DAT/snap03_001"]
    assert (s3 / "console.in").read_text().split() == ["1.0", "0"]
    assert (s3 / "change.inf").read_text().strip() == "10"
    # the inputs are the earlier run's end-of-run files
    assert (s3 / p3["inputfile"]).read_bytes() == (s2 / readers.Run(s2).params["finalfile"]).read_bytes()
    assert (s3 / p3["nfile0"]).read_bytes() == (s2 / readers.Run(s2).params["nfile"]).read_bytes()
    # segment 1 is untouched: its history still has its own 20 samples
    assert readers.read_history(readers.Run(s1).history_path).header["nsample"] == 20


def test_the_chain_is_one_run_in_time(segments):
    s1, s2, s3 = segments
    n2 = readers.read_history(readers.Run(s2).history_path).header["nsample"]
    assert 23 <= n2 < 5000
    t2 = 20 * DT
    t3 = t2 + n2 * DT
    for paths in ([str(s3)], [str(s1), str(s2), str(s3)]):
        ts = chain.joined_timeseries(paths)
        t = ts["t"]
        assert np.all(np.diff(t) > 0), "lines repeated or out of order"
        assert [g["start_time"] for g in ts.segments][1:] == pytest.approx([t2, t3])
        assert t[-1] == pytest.approx(t3 + 10 * DT)
        assert len(t) == 2 + n2 // 10 + 1
        h = chain.joined_history(paths)
        assert len(h["time"]) == 20 + n2 + 10
        assert np.allclose(np.diff(h["time"]), DT)
        assert h["restarts"] == pytest.approx([t2, t3])
    # the body state carried over: segment 3 starts where segment 2 ended
    body2 = readers.read_body(readers.Run(s2).body_path)
    h = chain.joined_history(str(s3))
    assert h["ydis"][20 + n2 - 1] == body2.header["ydis"]
    assert h["tdis"][20 + n2 - 1] == body2.header["tdis"]
    # the probes file of the last segment holds every step of the chain
    rows = [ln.split() for ln in (s3 / "DAT" / "probes.dat").read_text().splitlines()
            if not ln.startswith("#")]
    assert len(rows) == 20 + n2 + 10
    assert np.all(np.diff([float(r[1]) for r in rows]) > 0)
    points, data, segs = readers.read_probes(s3 / "DAT" / "probes.dat")
    assert points == [(1.5, 0.0, 0.5), (2.5, 0.4, 0.5)] and len(segs) == 3
    assert np.array_equal(data["t"], [float(r[1]) for r in rows])


def test_summary_and_plots_of_a_chain(segments, tmp_path):
    s1, s2, s3 = segments
    # the whole record (without tmin the window starts where the lift settles)
    whole = summary.summarize(str(s3), tmin=0.0)
    listed = summary.summarize([str(s1), str(s2), str(s3)], tmin=0.0)
    for key in ("lines", "t_first", "t_last", "ydis_amp", "tdis_amp", "pfy_rms", "segments"):
        assert whole[key] == listed[key], key
    assert whole["segments"] == 3 and whole["t_first"] == pytest.approx(10 * DT)
    # every amplitude from the same window: tdis from the joined history
    h = chain.joined_history(str(s3))
    sel = (h["time"] >= whole["t_from"] - 1e-9) & (h["time"] <= whole["t_to"] + 1e-9)
    assert whole["tdis_amp"] == pytest.approx(0.5 * np.ptp(h["tdis"][sel]))
    assert sel[:20].any(), "the first segment's rotation is part of the window"
    one = summary.summarize(str(s1), tmin=0.0)
    # two time-series lines (every 10 steps), the history's every step between them
    assert one["segments"] == 1 and one["lines"] == 11
    assert one["source"].startswith("body history") and whole["source"].startswith("body history")
    # the base pressure averages the segments that lie in the window, joined
    t2 = chain.start_time(str(s2))
    late = summary.summarize(str(s3), tmin=t2)
    joined = surface.file_cp(s3, record=wake.join_statistics([s2, s3]), run=str(s3))
    assert late["cpb"] == pytest.approx(surface.face_mean(joined))
    assert "2 segments joined" in late["cpb_source"] and late["cpb"] != whole["cpb"]
    assert cli.main(["summary", str(s3), "--json", str(tmp_path / "s.json")]) == 0
    for what in ("ts", "history"):
        out = tmp_path / f"{what}.png"
        assert cli.main(["plot", what, str(s3), "-o", str(out)]) == 0
        assert out.stat().st_size > 1000


def test_a_plain_restart_with_another_smagorinsky_constant(segments, tmp_path, capsys):
    s1 = segments[0]
    same, other = tmp_path / "same", tmp_path / "other"
    assert cli.main(["restart", str(s1), "--out", str(same), "--steps", "5"]) == 0
    assert cli.main(["restart", str(s1), "--out", str(other), "--steps", "5", "--cs", "0.065"]) == 0
    a = (same / "quivel_vib8.inf").read_text().splitlines()
    b = (other / "quivel_vib8.inf").read_text().splitlines()
    assert [n for n in range(len(a)) if a[n] != b[n]] == [4]       # the Cs line alone
    rec = json.loads((other / "restart.json").read_text())
    assert rec["Cs"] == 0.065 and rec["Cs_before"] == readers.Run(s1).params["Cs"]
    rc, err = run_to_end(other)
    assert rc == 0, err
    stat = readers.read_statistics(chain.statistics_path(str(other)))
    assert stat.header["Cs"] == pytest.approx(0.065)
    capsys.readouterr()
    for args, why in ((["--exact", "--cs", "0.065"], "plain restart"),
                      (["--steps", "5", "--cs", "-0.1"], "at least 0")):
        assert cli.main(["restart", str(s1), "--out", str(tmp_path / "x")] + args) == 1
        assert why in capsys.readouterr().err
    assert not (tmp_path / "x").exists()


def test_a_plain_restart_to_the_planned_end(segments, tmp_path, capsys):
    s1, s2, _ = segments
    # s2 planned 5000 steps and was stopped by SIGTERM after n2 of them
    n2 = readers.read_field_header(readers.Run(s2).final_path)[1]["nt"]
    assert cli.main(["restart", str(s2), "--out", str(tmp_path / "on"), "--to-end"]) == 0
    assert (tmp_path / "on" / "change.inf").read_text().strip() == str(5000 - n2)
    assert json.loads((tmp_path / "on" / "restart.json").read_text())["steps"] == 5000 - n2
    capsys.readouterr()
    for run, args, why in ((s1, ["--to-end"], "reached its planned end"),
                           (s2, ["--to-end", "--steps", "5"], "either --steps or --to-end"),
                           (s2, ["--to-end", "--exact"], "plain restart")):
        assert cli.main(["restart", str(run), "--out", str(tmp_path / "x")] + args) == 1
        assert why in capsys.readouterr().err
    assert not (tmp_path / "x").exists()


def test_restart_refuses_an_incomplete_run(segments, tmp_path, capsys):
    s1 = segments[0]
    broken = tmp_path / "broken"
    shutil.copytree(s1, broken)
    os.remove(broken / "DAT" / "vib.dat")
    assert cli.main(["restart", str(broken), "--out", str(tmp_path / "n1"), "--steps", "5"]) == 1
    err = capsys.readouterr().err
    assert "vibration history file" in err and "DAT/vib.dat" in err and "missing" in err
    assert not (tmp_path / "n1").exists()
    shutil.copy2(s1 / "DAT" / "vib.dat", broken / "DAT" / "vib.dat")
    data = (broken / "DAT" / "final.dat").read_bytes()
    (broken / "DAT" / "final.dat").write_bytes(data[:len(data) // 2])
    assert cli.main(["restart", str(broken), "--out", str(tmp_path / "n2"), "--steps", "5"]) == 1
    assert "final field file" in capsys.readouterr().err
    shutil.copy2(s1 / "DAT" / "final.dat", broken / "DAT" / "final.dat")
    old = os.path.getmtime(broken / "DAT" / "final.dat") - 3600
    os.utime(broken / "DAT" / "body.dat", (old, old))     # left from an earlier run
    assert cli.main(["restart", str(broken), "--out", str(tmp_path / "n4"), "--steps", "5"]) == 1
    assert "DAT/body.dat is older than the final field file" in capsys.readouterr().err
    assert cli.main(["restart", str(tmp_path), "--out", str(tmp_path / "n3"), "--steps", "5"]) == 1
    assert "not a run folder" in capsys.readouterr().err
    assert cli.main(["restart", str(s1), "--out", str(s1), "--steps", "5"]) == 1


def test_restart_finishes_a_set_left_half_renamed(segments, tmp_path, capsys):
    """Killed between the journal and the last rename: vib.dat is in place, the
    final field file and the body state are still parts."""
    s1 = segments[0]
    w = tmp_path / "w"
    shutil.copytree(s1, w)
    dat = w / "DAT"
    for name in ("final.dat", "body.dat"):
        os.rename(dat / name, dat / (name + ".part"))
    journal = dat / "body.dat.commit"
    journal.write_bytes(b"quivel_vib8 commit\nfinal.dat.part\tfinal.dat\n"
                        b"vib.dat.part\tvib.dat\nbody.dat.part\tbody.dat\n")
    damaged = tmp_path / "damaged"
    shutil.copytree(w, damaged)
    (damaged / "DAT" / "body.dat.commit").write_bytes(b"quivel_vib8\nfinal.dat.part\tx\n")
    assert cli.main(["restart", str(damaged), "--out", str(tmp_path / "d2"), "--steps", "5"]) == 1
    assert "DAT/body.dat.commit is not a commit journal" in capsys.readouterr().err
    assert (damaged / "DAT" / "final.dat.part").exists()        # nothing renamed

    assert cli.main(["restart", str(w), "--out", str(tmp_path / "n"), "--steps", "5"]) == 0
    assert "completed the set" in capsys.readouterr().err
    assert sorted(os.listdir(dat)) == sorted(os.listdir(s1 / "DAT"))
    for name in ("final.dat", "body.dat", "vib.dat"):
        assert (dat / name).read_bytes() == (s1 / "DAT" / name).read_bytes()
    assert (tmp_path / "n" / "DAT" / "in_fld.dat").read_bytes() == \
        (s1 / "DAT" / "final.dat").read_bytes()
    # with no journal, a half-written one is only removed
    (dat / "body.dat.commit.part").write_bytes(b"quivel_vib8 commit\n")
    assert not chain.complete_commit(str(journal))
    assert not (dat / "body.dat.commit.part").exists()


def test_wake_and_summary_take_the_statistics_saved_at_a_snapshot_instant(segments, tmp_path,
                                                                          capsys):
    """A run that did not reach its end has only the set saved at its last
    snapshot instant: wake and summary read its statistics from there, and
    with none at all they say which files are missing."""
    s1 = segments[0]
    k = tmp_path / "killed"
    shutil.copytree(s1, k)
    for name in ("stat.dat", "vib.dat"):
        os.rename(k / "DAT" / name, k / "DAT" / (name + ".ckpt"))
    assert cli.main(["wake", str(k), "--out", str(tmp_path / "w")]) == 0
    out, err = capsys.readouterr()
    assert "stat.dat.ckpt: the statistics so far" in err and "statistics over t = 0 ... 0.4" in out
    s = summary.summarize(str(k), tmin=0.0)
    assert s["cpb_source"].startswith("DAT/stat.dat.ckpt, mean over t = 0 ... 0.4")
    assert s["cpb"] == summary.summarize(str(s1), tmin=0.0)["cpb"]

    os.remove(k / "DAT" / "stat.dat.ckpt")
    assert cli.main(["wake", str(k)]) == 1
    assert "holds no statistics: " in capsys.readouterr().err
    for args in (["wake", str(k)], ["wake", str(k / "DAT" / "stat.dat")],
                 ["surface", str(k / "DAT" / "stat.dat")]):
        assert cli.main(args) == 1
        err = capsys.readouterr().err
        assert "DAT/stat.dat" in err and "Errno" not in err


def test_monitor_says_how_a_run_ended(segments, tmp_path, capsys):
    s1, s2, _ = segments
    from qvtools.monitor import Monitor, monitor
    p = monitor(str(s1), once=True)
    assert "stopped: finished normally at step 20" in capsys.readouterr().out
    p = monitor(str(s2), interval=0, sleep=lambda s: None, count=3)   # stops at the first reading
    out = capsys.readouterr().out
    assert f"stopped: stopped by SIGTERM at step {p['nn']}" in out
    assert "end-of-run files written" in out and out.count("\n") == 2
    # a run that blew up: no end-of-run files of its own, the message in its log
    blown = tmp_path / "blown"
    shutil.copytree(s1, blown)
    for name in ("vib.dat", "body.dat"):
        os.remove(blown / "DAT" / name)
    (blown / "console.err").write_text("run stopped: the divergence is no longer finite at "
                                       "step 20 (the flow has blown up)\n")
    monitor(str(blown), once=True)
    assert "stopped: blew up at step 20" in capsys.readouterr().out
    # a program that is still there but makes no progress
    clock = iter([0.0, 1.0, 100.0])
    mon = Monitor(str(s1), clock=lambda: next(clock), running=lambda d: True)
    mtime = os.path.getmtime(s1 / "change.out")
    mon.steps = [(mtime - 2.0, 18), (mtime - 1.0, 19)]
    mon.readings = [(0.0, 19)]
    mon.clock = lambda: mtime + 3.0
    assert mon.poll()[0]["state"] is None           # 2 s after the last step: running
    mon.clock = lambda: mtime + 60.0
    p, line = mon.poll()
    assert p["state"].startswith("stalled: no step for 1m00s (recent step time 1 s)"), line
    # not a run folder
    assert cli.main(["monitor", str(tmp_path / "nonexistent"), "--once"]) == 1
    assert "not a run folder" in capsys.readouterr().err


def test_a_killed_run_continues_from_its_last_snapshot_instant(segments, tmp_path, capsys):
    s1 = segments[0]
    k1, k2 = tmp_path / "k1", tmp_path / "k2"
    shutil.copytree(s1, k1)
    for name in os.listdir(k1 / "DAT"):
        os.remove(k1 / "DAT" / name)
    for name in ("console.log", "change.out", "restart.json", "summary.json"):
        if (k1 / name).exists():
            os.remove(k1 / name)
    (k1 / "change.inf").write_text("      5000\r\n")
    # a build kept under a name of its own is still seen running
    exe = tmp_path / "build_of_monday"
    shutil.copy2(program(), exe)
    with open(k1 / "console.in", "rb") as cin:
        p = subprocess.Popen([str(exe)], cwd=k1, stdin=cin, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        until = time.time() + 120
        while time.time() < until:
            try:
                if readers.read_change(k1 / "change.out")["nn"] >= 14:
                    break
            except (OSError, ValueError, KeyError):
                pass
            time.sleep(0.05)
        assert process_running(k1) is True
        p.kill()
        p.wait()
    assert process_running(k1) is False
    assert (k1 / "DAT" / "vib.dat.ckpt").exists() and not (k1 / "DAT" / "vib.dat").exists()
    assert (k1 / "DAT" / "stat.dat.ckpt").exists() and not (k1 / "DAT" / "stat.dat").exists()
    s = summary.summarize(str(k1), tmin=0.0)
    assert s["cpb_source"].startswith("DAT/stat.dat.ckpt, mean over t = 0 ... 0.2")
    assert cli.main(["restart", str(k1), "--out", str(k2), "--steps", "10"]) == 1
    assert "--from-snapshot" in capsys.readouterr().err
    from qvtools.monitor import monitor
    monitor(str(k1), once=True)
    out = capsys.readouterr().out
    assert "stopped: stopped at step" in out and "without its end-of-run files" in out
    assert "qv restart --from-snapshot" in out
    assert cli.main(["restart", str(k1), "--out", str(k2), "--steps", "10",
                     "--from-snapshot"]) == 0
    assert json.loads((k2 / "restart.json").read_text())["start_time"] == pytest.approx(10 * DT)
    rc, err = run_to_end(k2)
    assert rc == 0, err
    ts = chain.joined_timeseries(str(k2))
    assert list(ts["nn"]) == [10, 10] and np.all(np.diff(ts["t"]) > 0)
    h = chain.joined_history(str(k2))
    assert len(h["time"]) == 10 + 10 and np.allclose(np.diff(h["time"]), DT)
    # the statistics saved at the snapshot instant and the continuation's join
    capsys.readouterr()
    assert cli.main(["wake", str(k1), str(k2), "--out", str(tmp_path / "w")]) == 0
    assert "statistics over t = 0 ... 0.4 (20 steps, 2 file(s))" in capsys.readouterr().out


def test_a_continuation_does_not_ramp_the_tolerance_again(tmp_path):
    """Past the start-up tolerance ramp, 20 + 20 steps through qv restart stay
    within the tolerance's reach of one run of 40 steps.  (Not bit for bit:
    a restart sets the outflow switches and the eddy viscosity afresh.)  A
    continuation that ramped again from 10 esp lands 100 times further off."""
    recipe = {
        "name": "seam",
        "flow": {"Re": 200, "Vin": 1.0},
        "body": {"B": 1.0, "D": 1.0, "dof": []},
        "grid": {"h": 0.25, "ratio": 1.2, "hmax": 0.5,
                 "core": {"upstream": 0.5, "downstream": 1.0, "lateral": 0.5},
                 "domain": {"upstream": 2, "downstream": 4, "lateral": 2},
                 "span": 1.0, "nz": 3},
        "run": {"dt": DT, "nt": 40, "nsmp": 1, "ramp": {"ic2": 2, "ic3": 8}},
        "output": {"snap_interval": 40, "snap_count": 1},
    }
    whole, first, second = tmp_path / "whole", tmp_path / "first", tmp_path / "second"
    write_case(whole, recipe)
    write_case(first, dict(recipe, run=dict(recipe["run"], nt=20)))
    for d in (whole, first):
        rc, err = run_to_end(d)
        assert rc == 0, err
    assert cli.main(["restart", str(first), "--out", str(second), "--steps", "20"]) == 0
    assert (second / "esp2.inf").read_text().rstrip() == "         2         8   0.00100"
    rc, err = run_to_end(second)
    assert rc == 0, err
    fa = readers.read_field(readers.Run(whole).final_path)
    fb = readers.read_field(readers.Run(second).final_path)
    assert fa.header["t"] == fb.header["t"]
    for name in ("uu", "vv", "ww"):
        assert np.abs(fa[name] - fb[name]).max() < 5e-4, name


def test_an_exact_chain_writes_what_one_unbroken_run_writes(tmp_path, capsys, monkeypatch):
    """qv restart --exact twice, two segments stopped by SIGTERM: the
    last folder holds every byte of the unbroken run's end-of-run files,
    time series, probes and history, and the joined history is that run's."""
    recipe = {
        "name": "exact",
        "flow": {"Re": 100, "Vin": 1.0, "Cs": 0.1},
        "body": {"B": 1.0, "D": 1.0, "dof": ["y"], "mass_ratio": 2.0, "Ur": 5.0, "zeta": 0.01,
                 "startup": {"y": 0.05, "until": 0.4}},
        "grid": {"h": 0.25, "ratio": 1.2, "hmax": 0.5,
                 "core": {"upstream": 0.5, "downstream": 1.0, "lateral": 0.5},
                 "domain": {"upstream": 2, "downstream": 4, "lateral": 2},
                 "span": 1.0, "nz": 2},
        "boundaries": {"y": "periodic"},
        "run": {"dt": DT, "nt": 90, "nsmp": 2},
        "output": {"snap_interval": 20, "snap_count": 4},
        "probes": [[1.5, 0.0, 0.5]],
    }
    monkeypatch.setenv("OMP_NUM_THREADS", "1")   # the bytes do not depend on it
    whole, e1, e2, e3 = (tmp_path / n for n in ("whole", "e1", "e2", "e3"))
    write_case(whole, recipe)
    assert run_to_end(whole)[0] == 0
    write_case(e1, recipe)
    rc, err = run_and_stop(e1, 25)
    assert rc == 128 + signal.SIGTERM, err
    with pytest.raises(chain.ChainError, match="planned end"):
        chain.write_restart(whole, tmp_path / "x", None, exact=True)
    # a run counts at most 99,999 steps: a continuation past that is refused,
    # not written
    with pytest.raises(chain.ChainError, match="beyond what the parameter file holds"):
        chain.write_restart(e1, tmp_path / "x", 99999, exact=True)
    assert not (tmp_path / "x").exists()
    assert cli.main(["restart", str(e1), "--out", str(e2), "--exact"]) == 0   # to the planned end
    assert "continues" in capsys.readouterr().out
    rc, err = run_and_stop(e2, 55)
    assert rc == 128 + signal.SIGTERM, err
    assert cli.main(["restart", str(e2), "--out", str(e3), "--exact"]) == 0
    rc, err = run_to_end(e3)
    assert rc == 0 and err == "", err
    end = readers.Run(e3)
    names = {"final": "finalfile", "stat": "statfile", "vfile": "vfile", "nfile": "nfile"}
    w = readers.Run(whole)
    for what, key in names.items():
        assert open(end.file(end.params[key]), "rb").read() == \
            open(w.file(w.params[key]), "rb").read(), what
    for name in ("DAT/quivel_vib8.ts", "DAT/probes.dat", "fort.1", "fort.2", "change.out"):
        assert (e3 / name).read_bytes() == (whole / name).read_bytes(), name
    # each snapshot where its segment wrote it
    for snap in readers.read_name_list(whole / "quivel_vib8.fil")[2]:
        there = [d / snap for d in (e1, e2, e3) if (d / snap).exists()]
        assert len(there) == 1 and there[0].read_bytes() == (whole / snap).read_bytes(), snap
    joined = chain.joined_history(e3)
    alone = chain.joined_history(whole)
    assert np.array_equal(joined["time"], alone["time"])
    assert np.array_equal(joined["ydis"], alone["ydis"])
    # the first and the last folder alone (the middle one lost, or carried
    # away): the last files fill the time between them
    ends = [str(e1), str(e3)]
    assert np.array_equal(chain.joined_history(ends)["time"], alone["time"])
    assert np.array_equal(chain.joined_timeseries(ends)["t"], chain.joined_timeseries(str(whole))["t"])
    # every segment's statistics sum from the run's start: the window after
    # segment 1, taken as the difference of two files, joined to segment 1's
    # own statistics gives the whole run's again
    first = readers.read_statistics(chain.statistics_path(str(e1)))
    t1 = wake.window(first)[1]
    assert wake.window(first)[0] == 0.0 and 0.0 < t1 < 90 * DT
    rec, used, how = wake.chain_statistics([str(e1), str(e2), str(e3)], t1)
    assert how == "since" and wake.window(rec) == pytest.approx((t1, 90 * DT))
    again = wake.join_records([first, rec])
    unbroken = readers.read_statistics(w.file(w.params["statfile"]))
    for name in ("su", "sv", "suu", "suv", "spm", "spm2", "snut"):
        np.testing.assert_allclose(again[name], unbroken[name], rtol=1e-9, atol=1e-10,
                                   err_msg=name)
