"""Record framing: round trip, empty records, truncation and foreign files."""

import struct

import numpy as np
import pytest

from qvtools.records import (RecordError, frame, pack_record, read_records,
                             split_records, unpack, write_records)


def test_round_trip_and_sizes(tmp_path):
    a = np.arange(6, dtype=float).reshape((3, 2), order="F")
    payloads = [pack_record(1, 2.5, 3.5), b"", pack_record(a), pack_record(np.array([7, 8]))]
    path = tmp_path / "r.dat"
    write_records(path, payloads)
    raw = path.read_bytes()
    # one int and two reals: L = 20, 28 bytes on disk; an empty record is 8 bytes
    assert raw[:4] == struct.pack("<i", 20) and raw[24:28] == struct.pack("<i", 20)
    assert raw[28:36] == struct.pack("<ii", 0, 0)
    recs = read_records(path)
    assert recs == payloads
    assert unpack(recs[0], "idd") == (1, 2.5, 3.5)
    # first index fastest
    assert np.array_equal(np.frombuffer(recs[2], "<f8"), [0, 1, 2, 3, 4, 5])
    assert np.frombuffer(recs[3], "<i4").tolist() == [7, 8]


def test_unpack_takes_leading_items_but_not_more_than_present():
    rec = pack_record(1, 2, 3)
    assert unpack(rec, "2i") == (1, 2)
    with pytest.raises(RecordError, match=r"truncated record 4 in f: expected 16 bytes, found 12"):
        unpack(rec, "4i", "f", 4)


@pytest.mark.parametrize("cut, message", [
    (2, r"truncated record 2 in .*: expected a 4-byte length word, found 2 bytes"),
    (10, r"truncated record 2 in .*: expected 16 bytes, found 6"),
    (20, r"truncated record 2 in .*: expected 16 bytes, found 16 and no closing"),
])
def test_truncated_file_names_record_and_sizes(tmp_path, cut, message):
    raw = frame(pack_record(1, 2)) + frame(pack_record(1.0, 2.0))
    path = tmp_path / "cut.dat"
    path.write_bytes(raw[:16 + cut])
    with pytest.raises(RecordError, match=message):
        read_records(path)


def test_foreign_files_are_refused():
    with pytest.raises(RecordError, match="not a record file"):
        split_records(b"#start at t= 0.0\r\n  10  0.1000\r\n", "ts")
    bad_tail = struct.pack("<i", 4) + b"abcd" + struct.pack("<i", 5)
    with pytest.raises(RecordError, match="starts with length 4 but ends with 5"):
        split_records(bad_tail, "x")
    with pytest.raises(RecordError, match="not a record file"):
        split_records(struct.pack("<i", -3) + b"abcdefgh", "x")
