"""The sweep's job array through a real Slurm controller: sbatch parses the
generated directives and runs the array to its end.

Not part of the test suite (a laptop or a CI machine has no controller);
run it on a machine where `scontrol ping` answers, for example a one-node
Debian `slurm-wlm`:

    QV_PROGRAM=build/quivel_vib8 /usr/bin/python3 -m pytest -q tests/tools/slurm_check.py
"""

import shutil
import subprocess

import pytest

from qvtools import sweep

from test_sweep import swept  # noqa: F401  (the fixture: three tiny cases)


def test_array_runs_through_sbatch(swept):  # noqa: F811
    exe, out = swept
    if not shutil.which("sbatch") or subprocess.run(
            ["scontrol", "ping"], capture_output=True).returncode != 0:
        pytest.fail("no Slurm controller answers here (scontrol ping)", pytrace=False)
    path = sweep.slurm_script(out, exe, time_limit="0:10:00")
    r = subprocess.run(["sbatch", "--wait", path], capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stderr
    assert all(sweep.is_done(sweep.status(out, c)) for c in sweep.load(out)["cases"])
