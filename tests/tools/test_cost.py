"""The cost of a case: cells, steps and the expected wall time, from a
calibration of the case or from the stored cost per cell (no timing is
checked here: only how the numbers are put together and kept)."""

import json
import os

import pytest

from qvtools import cli, cost
from qvtools.casegen import write_case
from test_program_outputs import program
from test_sweep import TINY


def test_time_per_step_from_the_readings_of_change_out():
    # step 1 and 2 (start-up) left out; from step 3 at 2.0 s to step 6 at 6.0 s
    readings = [(0.0, 0), (0.5, 1), (1.0, 2), (2.0, 3), (2.0, 3), (3.5, 4), (5.0, 5), (6.0, 6)]
    assert cost.per_step(readings) == pytest.approx(4.0 / 3)
    # a reading repeated at the same step counts at its first time
    assert cost.per_step([(2.0, 3), (9.0, 3), (3.0, 4), (4.0, 5), (5.0, 6)]) == pytest.approx(1.0)
    assert cost.per_step([(1.0, 3), (2.0, 4), (3.0, 5)]) is None       # 2 steps timed: too few
    assert cost.per_step([]) is None


def test_calibration_is_stored_per_thread_count_and_used_later(tmp_path, monkeypatch):
    path = str(tmp_path / "c.json")
    monkeypatch.setenv("OMP_NUM_THREADS", "3")
    seconds, lines = cost.estimate(1000, 500, "somewhere", path=path,
                                   run=lambda case, program, steps: 0.25)
    assert seconds == pytest.approx(125.0)
    assert "1000 cells x 500 steps" in lines[0] and "3 threads" in lines[0]
    assert "from a calibration" in lines[1] and "2m05s" in lines[1]
    stored = json.load(open(path))
    assert stored["3"]["seconds_per_cell_step"] == pytest.approx(0.25 / 1000)
    # a bigger case from the stored cost: cells x steps x the cost per cell-step
    seconds, lines = cost.estimate(4000, 100, None, path=path, calibrate_case=False)
    assert seconds == pytest.approx(0.25 / 1000 * 4000 * 100)
    assert "from the stored cost" in lines[1]
    # another thread count has its own cost: none yet, and nothing made up
    monkeypatch.setenv("OMP_NUM_THREADS", "1")
    seconds, lines = cost.estimate(4000, 100, None, path=path, calibrate_case=False)
    assert seconds is None and "no stored cost for 1 thread" in lines[-1]
    # a calibration that times too few steps falls back on the stored cost
    monkeypatch.setenv("OMP_NUM_THREADS", "3")
    seconds, lines = cost.estimate(4000, 100, "x", path=path, run=lambda case, program, steps: None)
    assert "no calibration (too few steps timed)" in lines[1] and seconds is not None


def test_qv_case_calibrates_the_case_it_writes(tmp_path, cost_file, capsys):
    if program() is None:
        pytest.fail("the program is not built: run scripts/test.sh", pytrace=False)
    recipe = tmp_path / "tiny.json"
    recipe.write_text(json.dumps(TINY))
    out = tmp_path / "c"
    assert cli.main(["case", "--recipe", str(recipe), "--out", str(out)]) == 0
    text = capsys.readouterr().out
    cells = write_case(tmp_path / "ref", TINY).derived["cells"]
    assert f"cost: {cells} cells x 40 steps" in text and "from a calibration" in text
    # the calibration ran in a scratch folder: the case is as written
    assert sorted(os.listdir(out)) == sorted(os.listdir(tmp_path / "ref"))
    assert not (out / "change.out").exists()
    assert list(json.load(open(cost_file)).values())[0]["seconds_per_cell_step"] > 0
    assert cli.main(["case", "--recipe", str(recipe), "--check"]) == 0
    assert "from the stored cost" in capsys.readouterr().out
