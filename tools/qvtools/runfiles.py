"""The names of a run's files, where the program is, and whether it runs.

The one home of every fixed file name and suffix the tools share, at the
bottom of the package: it imports nothing of qvtools.
"""

import os
import shutil
from pathlib import Path

PROGRAM = "quivel_vib8"

# Inputs and outputs with fixed names in the run folder.
PARAM_FILE = PROGRAM + ".inf"
NAME_FILE = PROGRAM + ".fil"
TS_FILE = os.path.join("DAT", PROGRAM + ".ts")
CHANGE_INPUT = "change.inf"
CHANGE_FILE = "change.out"
TOLERANCE_FILE = "esp2.inf"
CONSOLE_FILE = "console.in"
PROBES_INPUT = "probes.inf"
PROBES_FILE = os.path.join("DAT", "probes.dat")
CASE_FILE = "case.json"
# Console logs the README's way of running leaves behind.
LOG_FILES = ("console.log", "console.err", "console.out", "nohup.out")

# Beside nfile: the journal of a pair being put in place; beside vfile: the
# history saved at the last snapshot instant of a run not yet ended.
COMMIT_SUFFIX = ".commit"
CKPT_SUFFIX = ".ckpt"
# Beside nfile: the whole state of the run at that instant, which a run
# continues exactly when its folder holds CONTINUE_INPUT naming it.
STATE_SUFFIX = ".state"
CONTINUE_INPUT = "continue.inf"
# The first line of a commit journal; "<part>\t<target>" lines follow.
COMMIT_HEAD = PROGRAM + " commit"


def _built():
    return str(Path(__file__).resolve().parents[2] / "build" / PROGRAM)


def program_path():
    """The program as built by the README's commands (QV_PROGRAM overrides)."""
    return os.environ.get("QV_PROGRAM") or _built()


def find_program(program=None):
    """The program to run: *program*, $QV_PROGRAM, the repository's build,
    or the one on PATH; FileNotFoundError when there is none."""
    for cand in (program, os.environ.get("QV_PROGRAM"), _built()):
        if cand and os.path.isfile(cand) and os.access(cand, os.X_OK):
            return os.path.abspath(cand)
    found = shutil.which(PROGRAM)
    if found:
        return found
    raise FileNotFoundError(f"the program {PROGRAM} is not found: give --program or set "
                            "QV_PROGRAM")


def version():
    """The git description of the tools' tree (the program's own is printed
    by `quivel_vib8 --version`); "unknown" outside a git checkout."""
    import subprocess
    try:
        r = subprocess.run(["git", "describe", "--always", "--dirty", "--tags"],
                           cwd=Path(__file__).resolve().parent, capture_output=True, text=True,
                           timeout=10)
    except (OSError, subprocess.SubprocessError):
        return "unknown"
    return r.stdout.strip() if r.returncode == 0 and r.stdout.strip() else "unknown"


def case_record(run_dir):
    """The case.json the case generator left in run_dir ({} when none)."""
    import json
    try:
        with open(os.path.join(run_dir, CASE_FILE), encoding="utf-8") as fh:
            rec = json.load(fh)
    except (OSError, ValueError):
        return {}
    return rec if isinstance(rec, dict) else {}


def case_name(run_dir):
    """The recipe's name of the case in run_dir, else the folder's name."""
    name = (case_record(run_dir).get("recipe") or {}).get("name")
    return str(name) if name else os.path.basename(os.path.abspath(run_dir))


def provenance(what, run_dir=None, sources=()):
    """Header lines ("# ...") of a table the tools write: what it holds, the
    version of the tools writing it (the git description, as the program's
    --version prints it), the case and the version that wrote the case, and
    the files it was read from."""
    lines = [f"# {what}", f"# written by qv, version {version()}"]
    if run_dir is not None:
        made = case_record(run_dir).get("version")
        lines.append(f"# case {case_name(run_dir)} ({os.path.abspath(run_dir)})"
                     + (f", written by version {made}" if made else ""))
    for src in sources:
        lines.append(f"# source {os.path.abspath(src)}")
    return [line.replace("\n", " ") for line in lines]


def process_running(run_dir):
    """True when the program runs with run_dir as its working directory,
    False when it does not, None where processes cannot be looked at.

    The program is known by its name, or, built or copied under another
    name, by the lock table it holds open from its start
    (/tmp/quivel_vib8-<uid>.lock)."""
    if not os.path.isdir("/proc"):
        return None
    target = os.path.realpath(run_dir)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{pid}/cwd") != target:
                continue
            if os.path.basename(os.readlink(f"/proc/{pid}/exe")).startswith(PROGRAM):
                return True
            if any(_is_lock_table(os.readlink(f"/proc/{pid}/fd/{fd}"))
                   for fd in os.listdir(f"/proc/{pid}/fd")):
                return True
        except OSError:
            continue
    return False


def _is_lock_table(path):
    """Whether *path* is a user's lock table of the program's runs."""
    name = os.path.basename(path)
    stem = PROGRAM + "-"
    return (os.path.dirname(path) == "/tmp" and name.startswith(stem) and name.endswith(".lock")
            and name[len(stem):-len(".lock")].isdigit())
