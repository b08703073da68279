"""The files of a case: the grid, flag, parameter and control files in their
fixed columns, the console answers, the probes and case.json."""

import dataclasses
import json
from pathlib import Path

from ..columns import fmt_f, fmt_i, fortran_real
from ..runfiles import (CASE_FILE, CHANGE_INPUT, CONSOLE_FILE, NAME_FILE, PARAM_FILE,
                        PROBES_INPUT, TOLERANCE_FILE, version)
from .recipe import CaseError


def as_written(text):
    """The value the solver reads from a numeric field written here."""
    return fortran_real(text)


def wrap_fields(fields, per_line):
    """Lines of `per_line` fields each (the last one shorter)."""
    return ["".join(fields[i:i + per_line]) for i in range(0, len(fields), per_line)]


@dataclasses.dataclass
class Case:
    """Everything a case directory is written from."""
    recipe: dict                 # merged recipe (defaults filled in)
    request: dict                # the recipe as given
    x: list
    y: list
    z: list
    body_cells: tuple            # (i0, i1, j0, j1): body cells i0 <= i < i1, j0 <= j < j1 (0-based)
    inf_lines: list
    fil_lines: list
    esp2_line: str
    change_line: str
    console: str
    derived: dict
    warnings: list
    probes: list = dataclasses.field(default_factory=list)

    @property
    def nx(self):
        return len(self.x) - 1

    @property
    def ny(self):
        return len(self.y) - 1

    @property
    def nz(self):
        return len(self.z) - 1

    def counts_line(self):
        """Grid-line counts (cells + 1), as the grid, flag and parameter files hold them."""
        return fmt_i(self.nx + 1, 5) + fmt_i(self.ny + 1, 5) + fmt_i(self.nz + 1, 5)

    def axis_lines(self):
        lines = [self.counts_line()]
        for coords in (self.x, self.y, self.z):
            lines += wrap_fields([fmt_f(v, 10, 5) for v in coords], 5)
        return lines

    def flags(self):
        """Flags in file order: i fastest, then j, then k."""
        i0, i1, j0, j1 = self.body_cells
        row_fluid = [0] * self.nx
        row_body = [1 if i0 <= i < i1 else 0 for i in range(self.nx)]
        plane = []
        for j in range(self.ny):
            plane += row_body if j0 <= j < j1 else row_fluid
        return plane * self.nz

    def flag_lines(self):
        lines = [self.counts_line()]
        fields = [f"{f:5d}" for f in self.flags()]
        return lines + wrap_fields(fields, 10)


def _write_text(path, lines):
    with open(path, "w", encoding="ascii", newline="") as fh:
        fh.write("".join(line + "\r\n" for line in lines))


def write_files(directory, case, force=False):
    """Write the files of `case` to `directory`.

    Refuses a non-empty directory unless `force`; even then refuses when a
    snapshot file already exists (the solver creates snapshots as new files).
    Returns the Case.
    """
    directory = Path(directory)
    if directory.exists() and not directory.is_dir():
        raise CaseError(f"{directory} exists and is not a directory")
    if directory.exists() and any(directory.iterdir()) and not force:
        raise CaseError(f"{directory} is not empty (use --force to overwrite the case files)")
    files = case.derived["files"]
    if not files["input"].startswith("fffff"):
        for key in ("input", "nfile0"):
            if not (directory / files[key]).exists():
                case.warnings.append(f"restart file {files[key]} is not in {directory} yet")
    for name in case.derived["snapshots"]["names"]:
        if (directory / name).exists():
            raise CaseError(f"snapshot file {directory / name} already exists; the solver "
                            "would refuse to overwrite it")
    directory.mkdir(parents=True, exist_ok=True)
    (directory / "DAT").mkdir(exist_ok=True)
    # output files go to directories that must exist before the run
    for key in ("axis", "flag", "final", "stat", "nfile", "vfile"):
        (directory / files[key]).parent.mkdir(parents=True, exist_ok=True)
    for name in case.derived["snapshots"]["names"]:
        (directory / name).parent.mkdir(parents=True, exist_ok=True)
    _write_text(directory / files["axis"], case.axis_lines())
    _write_text(directory / files["flag"], case.flag_lines())
    _write_text(directory / PARAM_FILE, case.inf_lines)
    _write_text(directory / NAME_FILE, case.fil_lines)
    _write_text(directory / TOLERANCE_FILE, [case.esp2_line])
    _write_text(directory / CHANGE_INPUT, [case.change_line])
    with open(directory / CONSOLE_FILE, "w", encoding="ascii", newline="") as fh:
        fh.write(case.console)
    if case.probes:
        _write_text(directory / PROBES_INPUT,
                    [" ".join(f"{v:.5f}" for v in p) for p in case.probes])
    record = {"request": case.request, "recipe": case.recipe, "derived": case.derived,
              "warnings": case.warnings, "version": version()}
    with open(directory / CASE_FILE, "w", encoding="utf-8") as fh:
        json.dump(record, fh, indent=2)
        fh.write("\n")
    return case


