"""Case generator for quivel_vib8.

Writes a complete, runnable case directory for a rectangular cylinder of
breadth B (along x) and depth D (along y) spanning the whole z extent:

    axis.dat          stretched grid (grid lines of x, y, z)
    flag.dat          body flags, one per cell
    quivel_vib8.inf   run parameters (16 fixed-column lines)
    quivel_vib8.fil   snapshot interval and snapshot file names
    esp2.inf          divergence-tolerance ramp
    change.inf        number of steps (re-read by the solver every step)
    console.in        console answers (Vin), so a run is `quivel_vib8 < console.in`
    DAT/              output directory
    case.json         the request, the values actually written and derived checks

A case is described by a recipe (``case.recipe``); ``case.build`` checks
the run's values and assembles the grid (``case.grid``), the body
parameters (``case.body``) and the file lines into a Case, which
``case.writer`` writes.  This module is the generator's entry: the
functions below for Python, and the command line when run as a script.

Usage:
    casegen case --recipe cases/re100/recipe.json --out run/re100
    casegen case --recipe R --out DIR --set run.nt=500 --set grid.h=0.05
    casegen case --recipe R --check          (derived values only, no files)
"""

import os
import sys

if __package__:
    from .case.build import build_case, summary, write_case  # noqa: F401
    from .case.recipe import CaseError, apply_override, load_recipe  # noqa: F401
else:  # run as a script
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from qvtools.commands.case import script_main
    sys.exit(script_main())
