"""Carrying a long run to another machine in a small file.

An exact continuation needs the run's whole state: for a grid of a million
cells that is more than half a gigabyte (the state, the final field and the
statistics at full precision).  When a chain must move to another machine,
or must survive the loss of the one it runs on, ``pack`` writes the little
it takes to go on, xz-compressed in one tar file:

- the final field, every array rounded to single precision (the flow goes
  on from it as from a slightly perturbed state: a seam, not an exact
  continuation), its bytes stored by plane (every value's first byte, then
  every second byte, ...), which xz packs a sixth smaller;
- the statistics as span means: per (i, j) node the mean over the span of
  each mean and of each raw second moment, mean + a b (so that later
  windows taken from them with ``wake.since_records`` keep their span means);
- every other small file of the folder as it is: the parameters, grid and
  flags, body state and history, time series, probes, console logs.

The state for an exact continuation, snapshots, checkpoints and the linked
inputs of a continuation stay behind.

``unpack`` writes a folder that holds an ended run: the field in double
precision again, the statistics spread back over the span.  It continues
only by a plain restart (``qv restart FOLDER --out NEXT --steps N``), which
starts its statistics afresh; the span means the analysis takes are those
of the packed run.
"""

import io
import json
import os
import tarfile

import numpy as np

from .chain import CHAIN_FILE, INPUT_BODY, INPUT_FIELD, ChainError, _check_end_files, read_record
from .readers import (FIELD_NAMES, STAT_NAMES, Block, RecordFile, Run, field_ranges, read_field,
                      read_name_list, read_statistics, stat_ranges)
from .records import pack_record, write_records
from .runfiles import (CKPT_SUFFIX, COMMIT_SUFFIX, CONTINUE_INPUT, NAME_FILE, STATE_SUFFIX,
                       process_running)
from .wake import _SECOND, write_statistics

FORMAT = 1
MANIFEST = "carry.json"
FIELD_MEMBER = "field.f4"
STAT_MEMBER = "stat.span"
FILES = "files/"


def _span_rows(lo, hi, bounds, periodic):
    """The k rows of an array a span mean takes: with periodic sides the node
    row k = ke is the image of k = ks and is left out."""
    n = hi[2] - lo[2] + 1
    return n - 1 if periodic and hi[2] == bounds["ke"] and n > 1 else n


def span_means(rec):
    """{name: 2-D array} of a statistics record: the span mean of each mean
    and of each raw second moment (variance + product of the means)."""
    periodic = rec.header.get("izper") == 0
    raw = {name: np.array(rec[name]) for name in STAT_NAMES}
    for var, a, b in _SECOND:
        raw[var] = rec[var] + rec[a] * rec[b]
    out = {}
    for name in STAT_NAMES:
        lo, hi = rec.blocks[name].lo, rec.blocks[name].hi
        out[name] = raw[name][:, :, :_span_rows(lo, hi, rec.bounds, periodic)].mean(axis=2)
    return out


def spread(rec, means):
    """The arrays of a statistics record like *rec* holding the span means
    *means* at every k: second moments back as variances."""
    data = {name: np.repeat(means[name][:, :, None], rec[name].shape[2], axis=2)
            for name in STAT_NAMES}
    for var, a, b in _SECOND:
        data[var] = data[var] - data[a] * data[b]
    return data


def _skipped(run):
    """Paths (relative to the run folder) that a pack leaves behind."""
    p = run.params
    skip = {p["finalfile"], p["statfile"], p["nfile"] + STATE_SUFFIX, INPUT_FIELD, INPUT_BODY,
            INPUT_BODY + STATE_SUFFIX, CONTINUE_INPUT}
    if os.path.exists(run.file(NAME_FILE)):
        skip.update(read_name_list(run.file(NAME_FILE))[2])
    return {os.path.normpath(s) for s in skip}


def pack(run_dir, out_file):
    """Write the carry file of the ended run *run_dir*; returns its manifest."""
    run = Run(run_dir)
    if not run.params:
        raise ChainError(f"{run_dir} is not a run folder")
    if process_running(run_dir):
        raise ChainError(f"{run_dir} is still running: pack it once it has ended")
    field = _check_end_files(run)
    stats = read_statistics(run.file(run.params["statfile"]))
    skip = _skipped(run)
    files = []
    for top, dirs, names in os.walk(run_dir):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(top, name)
            rel = os.path.normpath(os.path.relpath(path, run_dir))
            if (os.path.islink(path) or not os.path.isfile(path) or rel in skip
                    or name.endswith((CKPT_SUFFIX, COMMIT_SUFFIX))):
                continue
            files.append(rel)
    manifest = {"format": FORMAT, "run": os.path.abspath(run_dir),
                "t": field.header["t"], "field": {"bounds": field.bounds, "header": field.header,
                                                  "arrays": list(FIELD_NAMES)},
                "statistics": {"bounds": stats.bounds, "header": stats.header,
                               "arrays": list(STAT_NAMES)},
                "files": files}
    f4 = _by_plane(b"".join(np.asarray(field[n], "<f4").tobytes(order="F") for n in FIELD_NAMES))
    means = span_means(stats)
    sp = b"".join(np.asarray(means[n], "<f8").tobytes(order="F") for n in STAT_NAMES)
    tmp = out_file + ".part"
    with tarfile.open(tmp, "w:xz") as tar:
        for name, data in ((MANIFEST, json.dumps(manifest, indent=1).encode()),
                           (FIELD_MEMBER, f4), (STAT_MEMBER, sp)):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
        for rel in files:
            tar.add(os.path.join(run_dir, rel), FILES + rel, recursive=False)
    os.replace(tmp, out_file)
    return manifest


def _by_plane(raw):
    """The bytes of 4-byte values regrouped: every first byte, then every
    second, ..."""
    return np.frombuffer(raw, np.uint8).reshape(-1, 4).T.tobytes()


def _by_value(raw):
    """The inverse of _by_plane."""
    return np.frombuffer(raw, np.uint8).reshape(4, -1).T.tobytes()


def _member(tar, name, what):
    try:
        m = tar.getmember(name)
    except KeyError:
        raise ChainError(f"{tar.name} is no carry file: {what} ({name}) is missing") from None
    if not m.isfile():
        raise ChainError(f"{tar.name}: {name} is not a plain file")
    return tar.extractfile(m).read()


def _take(buf, pos, shape, dtype, what, path):
    n = int(np.prod(shape)) * np.dtype(dtype).itemsize
    if pos + n > len(buf):
        raise ChainError(f"{path}: {what} is cut short")
    return np.frombuffer(buf, dtype, count=int(np.prod(shape)), offset=pos).reshape(
        shape, order="F").astype(float), pos + n


def _safe_target(out_dir, rel, path):
    """The place of a packed file under out_dir; refuses a name that would
    land outside it."""
    if os.path.isabs(rel) or os.path.normpath(rel).split(os.sep)[0] in ("..", ""):
        raise ChainError(f"{path}: the packed name {rel!r} would be written outside the folder")
    return os.path.join(out_dir, os.path.normpath(rel))


def unpack(path, out_dir):
    """Write the ended run carried in *path* into the new folder *out_dir*;
    returns the manifest."""
    if os.path.exists(out_dir) and (not os.path.isdir(out_dir) or os.listdir(out_dir)):
        raise ChainError(f"{out_dir} exists and is not an empty folder")
    try:
        tar = tarfile.open(path, "r:xz")
    except (tarfile.TarError, EOFError, OSError) as exc:
        raise ChainError(f"{path} is no carry file: {exc}") from None
    with tar:
        try:
            manifest = json.loads(_member(tar, MANIFEST, "the manifest"))
        except json.JSONDecodeError as exc:
            raise ChainError(f"{path}: the manifest is damaged: {exc}") from None
        if manifest.get("format") != FORMAT:
            raise ChainError(f"{path} is a carry file of format {manifest.get('format')}, "
                             f"this program reads format {FORMAT}")
        fb, fh = manifest["field"]["bounds"], manifest["field"]["header"]
        sb, sh = manifest["statistics"]["bounds"], manifest["statistics"]["header"]
        f4, sp = _member(tar, FIELD_MEMBER, "the field"), _member(tar, STAT_MEMBER, "the statistics")
        if len(f4) % 4:
            raise ChainError(f"{path}: the field is cut short")
        f4 = _by_value(f4)
        arrays, pos = {}, 0
        for name, (lo, hi) in field_ranges(fb).items():
            shape = tuple(h - l + 1 for l, h in zip(lo, hi))
            arrays[name], pos = _take(f4, pos, shape, "<f4", "the field", path)
        means, pos2 = {}, 0
        for name, (lo, hi) in stat_ranges(sb).items():
            shape = (hi[0] - lo[0] + 1, hi[1] - lo[1] + 1)
            means[name], pos2 = _take(sp, pos2, shape, "<f8", "the statistics", path)
        if pos != len(f4) or pos2 != len(sp):
            raise ChainError(f"{path}: the field or the statistics hold more than the grid")
        targets = [(_safe_target(out_dir, rel, path), FILES + rel) for rel in manifest["files"]]
        os.makedirs(out_dir, exist_ok=True)
        for target, member in targets:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(_member(tar, member, "a packed file"))
    run = Run(out_dir)
    if not run.params:
        raise ChainError(f"{path} holds no parameter file: nothing to continue")
    hdr = [float(fh[k]) for k in ("Re", "Cs", "dt", "t")] + \
          [int(fh[k]) for k in ("nt", "iyper", "izper", "iter")]
    write_records(run.file(run.params["finalfile"]),
                  [pack_record(*(int(fb[k]) for k in ("is", "ie", "js", "je", "ks", "ke"))),
                   pack_record(*hdr[:4], *hdr[4:])]
                  + [pack_record(arrays[n]) for n in FIELD_NAMES])
    stat = run.file(run.params["statfile"])
    write_statistics(_statistics_record(stat, sb, sh, means), stat)
    read_field(run.file(run.params["finalfile"]))       # what was written reads back
    rec = read_record(out_dir)
    if rec is not None:
        rec["carried_from"] = rec.pop("previous", None)
        rec["previous"] = None
        with open(os.path.join(out_dir, CHAIN_FILE), "w", encoding="utf-8") as fh_:
            json.dump(rec, fh_, indent=2)
            fh_.write("\n")
    return manifest


def _statistics_record(path, bounds, header, means):
    """The statistics record of the given bounds and header holding the span
    means *means* at every k (second moments back as variances)."""
    blocks = {n: Block(n, np.zeros(tuple(h - l + 1 for l, h in zip(lo, hi))), lo, hi)
              for n, (lo, hi) in stat_ranges(bounds).items()}
    shell = RecordFile(path, "statistics", dict(bounds), dict(header), blocks)
    data = spread(shell, means)
    return RecordFile(path, "statistics", shell.bounds, shell.header,
                      {n: Block(n, data[n], b.lo, b.hi) for n, b in blocks.items()})
