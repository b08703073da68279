"""Parameter sweeps end to end: three tiny cases written, run through the real
program side by side, resumed after an interruption, summarised, and handed
to Slurm as a job array."""

import json
import os
import re
import shutil
import subprocess

import pytest

from qvtools import cli, sweep

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
    assert [ln.split()[0] for ln in lines[1:4]] == ["3", "4", "5"]
    rows = (out / "sweep_summary.csv").read_text().splitlines()
    assert rows[0].startswith("body.Ur,A_D,") and len(rows) == 4
    assert all(r.endswith(",done") for r in rows[1:])
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
    assert cmd.startswith("exec ") and '--case "$SLURM_ARRAY_TASK_ID"' in cmd
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

    if not shutil.which("sbatch") or subprocess.run(
            ["scontrol", "ping"], capture_output=True).returncode != 0:
        pytest.skip("no Slurm controller here: the script was checked without sbatch")
    # Slurm itself: sbatch parses the directives and runs the array to its end
    for c in ("Ur_3", "Ur_5"):
        (out / c / sweep.STATUS_FILE).unlink(missing_ok=True)
    r = subprocess.run(["sbatch", "--wait", path], capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stderr
    assert all(sweep.is_done(sweep.status(out, c)) for c in sweep.load(out)["cases"])
