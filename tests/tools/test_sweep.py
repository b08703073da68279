"""Parameter sweeps end to end: three tiny cases written, run through the real
program side by side, resumed after an interruption, summarised, and handed
to Slurm as a job array."""

import json
import os
import re
import shutil
import signal
import subprocess
import time

import pytest

from qvtools import cli, sweep
from qvtools.runfiles import version

from test_program_outputs import program

PNG = b"\x89PNG\r\n\x1a\n"

TINY = {
    "name": "tiny",
    "flow": {"Re": 100, "Vin": 1.0, "Cs": 0.0},
    "body": {"B": 1.0, "D": 1.0, "dof": ["y"], "mass_ratio": 2.0, "Ur": 5.0, "zeta": 0.0},
    "grid": {"h": 0.25, "ratio": 1.2, "hmax": 0.5,
             "core": {"upstream": 0.5, "downstream": 1.0, "lateral": 0.5},
             "domain": {"upstream": 2, "downstream": 4, "lateral": 2},
             "span": 1.0, "nz": 2},
    "boundaries": {"y": "periodic", "z": "periodic"},
    "run": {"dt": 0.02, "nt": 40, "nsmp": 1},
    "output": {"snap_interval": 20, "snap_count": 1},
}


def test_values_of_a_range():
    assert sweep.parse_values("3:0.5:5") == [3.0, 3.5, 4.0, 4.5, 5.0]
    assert sweep.parse_values("0.1:0.1:0.3") == [0.1, 0.2, 0.3]   # no lost end point
    assert sweep.parse_values("7,3") == [7.0, 3.0]
    for bad in ("3:0:5", "5:1:3", "a:b:c"):
        with pytest.raises(ValueError, match="cannot read"):
            sweep.parse_values(bad)


@pytest.fixture(scope="module")
def swept(tmp_path_factory):
    exe = program()
    if exe is None:
        pytest.fail("the program is not built: run scripts/test.sh (or set QV_PROGRAM)", pytrace=False)
    d = tmp_path_factory.mktemp("sweep")
    recipe = d / "tiny.json"
    recipe.write_text(json.dumps(TINY))
    out = d / "ur"
    assert cli.main(["sweep", "--recipe", str(recipe), "--vary", "body.Ur=3:1:5",
                     "--out", str(out), "--set", "run.nt=40"]) == 0
    return exe, out


def test_sweep_written_run_resumed_and_summarised(swept, capsys):
    exe, out = swept
    rec = sweep.load(out)
    assert [(c["name"], c["value"]) for c in rec["cases"]] == [
        ("Ur_3", 3.0), ("Ur_4", 4.0), ("Ur_5", 5.0)]
    fn = [json.load(open(out / c["name"] / "case.json"))["derived"]["body"]["y"]["fn"]
          for c in rec["cases"]]
    assert fn[0] == pytest.approx(1 / 3, rel=1e-4) and fn[2] == pytest.approx(0.2, rel=1e-4)

    capsys.readouterr()
    assert cli.main(["sweep", "run", str(out), "--jobs", "2", "--program", exe]) == 0
    text = capsys.readouterr().out
    assert "3 cases, 0 done already, 3 to run, 2 at a time" in text
    assert len(re.findall(r"^\[\d/3\] Ur_\d done in", text, re.M)) == 3
    for c in rec["cases"]:
        st = sweep.status(out, c)
        assert st["state"] == "done" and st["rc"] == 0
        assert "nn =" in (out / c["name"] / "console.log").read_text()

    # an interrupted case: status left at "running", half-written results
    # (a snapshot the program would refuse to overwrite) -- only it runs again
    case = out / "Ur_4"
    (case / sweep.STATUS_FILE).write_text(json.dumps({"state": "running"}))
    first = (case / "DAT" / "quivel_vib8.ts").stat().st_mtime_ns
    untouched = (out / "Ur_3" / "DAT" / "quivel_vib8.ts").stat().st_mtime_ns
    (case / "stray.out").write_text("left over")
    assert cli.main(["sweep", "run", str(out), "--program", exe]) == 0
    text = capsys.readouterr().out
    assert "3 cases, 2 done already, 1 to run" in text and "Ur_4 done" in text
    assert not (case / "stray.out").exists()
    assert (case / "DAT" / "quivel_vib8.ts").stat().st_mtime_ns != first
    assert (out / "Ur_3" / "DAT" / "quivel_vib8.ts").stat().st_mtime_ns == untouched

    assert cli.main(["sweep", "summary", str(out), "--tmin", "0"]) == 0
    text = capsys.readouterr().out
    lines = text.splitlines()
    assert lines[0].split()[:2] == ["body.Ur", "A_D"]
    assert "cd_mean, cl_rms: pressure force only; cl_rms = standard deviation" in text
    assert [ln.split()[0] for ln in lines[1:4]] == ["3", "4", "5"]
    rows = (out / "sweep_summary.csv").read_text().splitlines()
    head = [r for r in rows if r.startswith("#")]
    rows = rows[len(head):]
    # a header of provenance and units, then the table
    assert f"# written by qv, version {version()}" in head
    assert f"# source {os.path.abspath(out / 'Ur_3')}" in head
    assert any("cd_mean: mean Cd, pressure force only" in h for h in head)
    assert rows[0].startswith("body.Ur,A_D,") and len(rows) == 4
    # 40 steps from rest are a start-up transient: no case has settled, and each says so
    assert all(r.endswith(",UNSETTLED") for r in rows[1:])
    fn_col = rows[0].split(",").index("fn")
    assert float(rows[1].split(",")[fn_col]) == pytest.approx(1 / 3, rel=1e-4)
    assert open(out / "sweep_summary.png", "rb").read(8) == PNG


def test_failed_case_is_reported_and_rerun(tmp_path, capsys):
    recipe = tmp_path / "tiny.json"
    recipe.write_text(json.dumps(TINY))
    out = tmp_path / "s"
    sweep.create(out, recipe, "run.nt=10,20")
    with pytest.raises(ValueError, match="already holds a sweep"):
        sweep.create(out, recipe, "run.nt=10,20")
    # a folder of the same name that is no sweep of ours is left alone
    other = tmp_path / "o"
    (other / "nt_20").mkdir(parents=True)
    (other / "nt_20" / "results.txt").write_text("keep")
    with pytest.raises(ValueError, match="not empty"):
        sweep.create(other, recipe, "run.nt=10,20")
    assert (other / "nt_20" / "results.txt").read_text() == "keep"
    fake = tmp_path / "fails"
    fake.write_text("#!/bin/sh\necho broken\nexit 3\n")
    fake.chmod(0o755)
    capsys.readouterr()
    assert cli.main(["sweep", "run", str(out), "--program", str(fake)]) == 1
    text = capsys.readouterr().out
    assert text.count("FAILED (exit code 3") == 2
    assert (out / "nt_10" / "console.log").read_text() == "broken\n"
    assert not sweep.is_done(sweep.status(out, sweep.load(out)["cases"][0]))
    key, rows = sweep.summary_rows(out)
    assert key == "run.nt" and [r["state"] for r in rows] == ["failed (3)"] * 2


def test_slurm_job_array(swept, tmp_path):
    exe, out = swept
    path = sweep.slurm_script(out, exe, time_limit="0:10:00")
    text = open(path).read()
    assert "#SBATCH --array=0-2" in text and "#SBATCH --time=0:10:00" in text
    # the per-case command is the one `sweep run` offers, and it runs
    cmd = text.strip().splitlines()[-1]
    assert cmd.startswith("exec ") and ' "$SLURM_ARRAY_TASK_ID" ' in cmd
    assert subprocess.run(["bash", "-n", path]).returncode == 0
    # every #SBATCH line precedes the first command (sbatch stops reading there)
    lines = text.splitlines()
    first_cmd = next(n for n, ln in enumerate(lines) if ln and not ln.startswith("#"))
    assert all(n < first_cmd for n, ln in enumerate(lines) if ln.startswith("#SBATCH"))
    env = dict(os.environ, SLURM_ARRAY_TASK_ID="1")
    case = out / "Ur_4"
    (case / sweep.STATUS_FILE).unlink(missing_ok=True)
    assert subprocess.run(["bash", path], env=env, capture_output=True).returncode == 0
    assert sweep.is_done(sweep.status(out, sweep.load(out)["cases"][1]))

    # Slurm itself (sbatch parsing the directives and running the array) is
    # checked by tests/tools/slurm_check.py where a controller answers.


# ------------------------------------------------------- surviving a cluster

FAKE_SBATCH = r"""#!/usr/bin/python3
# A stand-in for sbatch: reads --array=A-B[%T] from the script's #SBATCH
# lines and runs every task of the array in turn, as Slurm would.
import os, re, subprocess, sys
script = sys.argv[-1]
text = open(script).read()
m = re.search(r"^#SBATCH --array=(\d+)-(\d+)", text, re.M)
for n in range(int(m.group(1)), int(m.group(2)) + 1):
    env = dict(os.environ, SLURM_ARRAY_TASK_ID=str(n), SLURM_CPUS_PER_TASK="1")
    subprocess.run(["bash", script], env=env)
"""


def _tree(d):
    return {str(p.relative_to(d)): p.read_bytes() for p in sorted(d.rglob("*")) if p.is_file()}


def test_a_half_finished_array_resubmitted_continues_exactly(tmp_path):
    """Task 0 done, task 1 stopped by SIGTERM mid-run, task 2 never started;
    the array submitted again skips 0, continues 1 exactly and runs 2.  The
    path holds a space, a % and a $; the nodes have no numpy."""
    exe = program()
    if exe is None:
        pytest.fail("the program is not built: run scripts/test.sh (or set QV_PROGRAM)", pytrace=False)
    recipe = tmp_path / "tiny.json"
    recipe.write_text(json.dumps(TINY))
    out = tmp_path / "my sweep %A $HOME"
    args = ["--vary", "body.Ur=3,4,5", "--set", "run.nt=300", "--set", "output.snap_interval=40",
            "--set", "output.snap_count=7"]
    assert cli.main(["sweep", "--recipe", str(recipe), "--out", str(out)] + args) == 0
    whole = tmp_path / "whole"
    assert cli.main(["sweep", "--recipe", str(recipe), "--out", str(whole)] + args) == 0
    assert cli.main(["sweep", "run", str(whole), "--case", "1", "--program", exe]) == 0

    no_numpy = tmp_path / "no_numpy" / "numpy"
    no_numpy.mkdir(parents=True)
    (no_numpy / "__init__.py").write_text("raise ImportError('no numpy on this node')\n")
    path = sweep.slurm_script(out, exe, time_limit="0:10:00", python="/usr/bin/python3",
                              preamble=["echo site preamble ran"], threads=1, mem="1G", throttle=2)
    text = open(path).read()
    assert "#SBATCH --array=0-2%2" in text and "#SBATCH --mem=1G" in text
    assert f'#SBATCH --output="{out}'.replace("%A", "%%A") + '/slurm-%A_%a.out"' in text
    assert "echo site preamble ran" in text
    env = dict(os.environ, PYTHONPATH=str(no_numpy.parent))

    # task 0 runs to its end; task 1 is stopped by SIGTERM halfway
    assert subprocess.run(["bash", path], env=dict(env, SLURM_ARRAY_TASK_ID="0"),
                          capture_output=True).returncode == 0
    done0 = (out / "Ur_3" / sweep.STATUS_FILE).read_bytes()
    task = subprocess.Popen(["bash", path], env=dict(env, SLURM_ARRAY_TASK_ID="1"),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    log = out / "Ur_4" / "console.log"
    for _ in range(600):
        if log.exists() and log.read_text(errors="replace").count("itm2c nn2 nn =") >= 30:
            break
        time.sleep(0.05)
    task.send_signal(signal.SIGTERM)
    msg = task.communicate(timeout=120)[0].decode()
    assert task.returncode != 0, msg
    st = sweep.status(out, sweep.load(out)["cases"][1])
    assert st["state"] == "stopped" and st["rc"] == 128 + signal.SIGTERM, (st, msg)

    # the whole array again, through a stand-in for sbatch
    fake = tmp_path / "bin" / "sbatch"
    fake.parent.mkdir()
    fake.write_text(FAKE_SBATCH)
    fake.chmod(0o755)
    r = subprocess.run([str(fake), path], env=env, capture_output=True, text=True)
    assert (out / "Ur_3" / sweep.STATUS_FILE).read_bytes() == done0   # not run again
    cases = sweep.load(out)["cases"]
    assert all(sweep.is_done(sweep.status(out, c)) for c in cases), r.stdout + r.stderr
    assert 30 <= sweep.status(out, cases[1])["continued_from"] < 300
    # the continued case holds every byte the unbroken run wrote
    a, b = _tree(whole / "Ur_4"), _tree(out / "Ur_4")
    for name, data in a.items():
        if name in ("console.log", sweep.STATUS_FILE, "quivel_vib8.inf", "console.in"):
            continue
        assert b.get(name) == data, name


def test_paths_no_sbatch_line_can_carry_are_refused(swept, tmp_path):
    exe, out = swept
    bad = tmp_path / "line\nbreak"
    shutil.copytree(out, bad)
    with pytest.raises(ValueError, match="cannot carry"):
        sweep.slurm_script(bad, exe)
    with pytest.raises(ValueError, match="cannot carry"):
        sweep.slurm_script(out, exe, partition='a"b')
