"""Record files: the binary framing shared by every result file of quivel_vib8.

A record file is a plain sequence of records.  Each record is a 4-byte
little-endian length L, L data bytes, and L again.  Items inside a record are
packed without gaps: int32 and float64, both little-endian.
"""

import struct

import numpy as np

INT = np.dtype("<i4")
REAL = np.dtype("<f8")


class RecordError(ValueError):
    """A record file is truncated, badly framed or not of the expected kind."""


def read_records(path):
    """Return the data bytes of every record in *path* as a list of bytes.

    Raises RecordError for a file whose framing is broken: a length word cut
    short, a record shorter than its length word says, or a trailing length
    word that differs from the leading one.
    """
    with open(path, "rb") as fh:
        raw = fh.read()
    return split_records(raw, path)


def split_records(raw, name="<bytes>"):
    """Split the bytes *raw* of a record file into the list of record payloads."""
    records = []
    pos, size = 0, len(raw)
    while pos < size:
        n = len(records) + 1
        if size - pos < 4:
            raise RecordError(
                f"truncated record {n} in {name}: expected a 4-byte length word, "
                f"found {size - pos} bytes")
        (length,) = struct.unpack_from("<i", raw, pos)
        if length < 0 or length > size:
            raise RecordError(
                f"not a record file: {name} (record {n} at byte {pos} "
                f"claims a length of {length} bytes)")
        avail = size - pos - 4
        if avail < length + 4:
            found = min(avail, length)
            raise RecordError(
                f"truncated record {n} in {name}: expected {length} bytes, "
                f"found {found}" + ("" if avail < length else " and no closing length word"))
        (tail,) = struct.unpack_from("<i", raw, pos + 4 + length)
        if tail != length:
            raise RecordError(
                f"not a record file: {name} (record {n} starts with length "
                f"{length} but ends with {tail})")
        records.append(raw[pos + 4:pos + 4 + length])
        pos += length + 8
    return records


def pack_record(*items):
    """Pack items into one record payload.

    Python ints become int32, floats float64; numpy arrays are written with
    their own dtype converted to the little-endian record types, in Fortran
    (first index fastest) order.
    """
    parts = []
    for item in items:
        if isinstance(item, np.ndarray):
            dt = INT if item.dtype.kind in "iu" else REAL
            parts.append(np.asarray(item, dtype=dt).tobytes(order="F"))
        elif isinstance(item, (bool, int, np.integer)):
            parts.append(struct.pack("<i", int(item)))
        else:
            parts.append(struct.pack("<d", float(item)))
    return b"".join(parts)


def frame(payload):
    """Return *payload* wrapped in its two length words."""
    head = struct.pack("<i", len(payload))
    return head + payload + head


def write_records(path, payloads):
    """Write a record file from a list of payloads (bytes)."""
    with open(path, "wb") as fh:
        for payload in payloads:
            fh.write(frame(payload))


def unpack(payload, layout, name="<bytes>", record=0):
    """Unpack the leading items of a record by a struct layout such as "4d4i".

    The record may hold more bytes than *layout* needs (the program itself
    reads short lists the same way); fewer is an error.
    """
    fmt = "<" + layout
    need = struct.calcsize(fmt)
    if len(payload) < need:
        raise RecordError(
            f"truncated record {record} in {name}: expected {need} bytes, "
            f"found {len(payload)}")
    return struct.unpack_from(fmt, payload, 0)
