"""Helpers the commands share: default paths and a run's geometry."""

import os

from .. import readers
from ..runfiles import CONSOLE_FILE, PROBES_FILE, TS_FILE


def ts_path(path):
    return os.path.join(path, TS_FILE) if os.path.isdir(path) else path


def probes_path(path):
    return os.path.join(path, PROBES_FILE) if os.path.isdir(path) else path


def default_out(path, suffix):
    base = path.rstrip("/\\") if not os.path.isdir(path) else os.path.join(path, "qv")
    return base + suffix


def run_geometry(path, vin=None):
    """(Vin, D, frontal area) of a run directory, None where unknown."""
    if not os.path.isdir(path):
        return vin, None, None
    run = readers.Run(path)
    if vin is None and os.path.exists(run.file(CONSOLE_FILE)):
        vin = run.vin()
    try:
        box = readers.body_box(run.axis(), run.flags())
    except (OSError, ValueError):
        box = None
    if not box:
        return vin, None, None
    d = box["y1"] - box["y0"]
    return vin, d, d * (box["z1"] - box["z0"])


def run_name(path):
    return os.path.basename(os.path.abspath(path.rstrip("/\\")))
