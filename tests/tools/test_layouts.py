"""The record-file layouts of the program (src/store/layouts.hpp) and of the
readers (qvtools/layouts.py) are one table each, held equal here."""

import re
from pathlib import Path

import pytest

from qvtools import layouts

HEADER = Path(__file__).resolve().parents[2] / "src" / "store" / "layouts.hpp"
RECORD = re.compile(r'\{"([^"]*)", (?:"([^"]*)"|kBlock, (-?\d+), (-?\d+), (-?\d+))\}')


def cpp_tables():
    """Every table of the header as a tuple in the Python form, by its C++ name."""
    tables = {}
    for m in re.finditer(r"RecordLayout (k\w+)\[\] = \{(.*?)\n\};", HEADER.read_text(), re.S):
        rows = []
        for r in RECORD.finditer(m.group(2)):
            rows.append((r[1], r[2]) if r[2] is not None else (r[1], (int(r[3]), int(r[4]), int(r[5]))))
        tables[m.group(1)] = tuple(rows)
    return tables


@pytest.mark.parametrize("cpp, py", [("kFieldFile", "FIELD_FILE"), ("kStatisticsFile", "STATISTICS_FILE"),
                                     ("kBodyStateFile", "BODY_STATE_FILE"), ("kHistoryFile", "HISTORY_FILE")])
def test_the_program_and_the_readers_share_each_layout(cpp, py):
    tables = cpp_tables()
    assert set(tables) == {"kFieldFile", "kStatisticsFile", "kBodyStateFile", "kHistoryFile"}
    assert tables[cpp] == getattr(layouts, py)


def test_field_ranges_follow_the_table():
    b = {"is": 3, "ie": 10, "js": 3, "je": 8, "ks": 3, "ke": 6}
    got = layouts.block_ranges(layouts.FIELD_FILE, b, {"pp": "pm"})
    assert list(got) == ["uu", "vv", "ww", "pm", "fu", "fv", "fw", "nut"]
    assert got["uu"] == ((3, 3, 3), (11, 7, 5))
    assert got["pm"] == ((3, 3, 3), (10, 7, 5))


def test_the_layout_page_is_generated_from_the_tables():
    page = Path(__file__).resolve().parents[2] / "docs" / "layouts.md"
    assert page.read_text() == layouts.document(), \
        "docs/layouts.md differs from the tables: regenerate it (see its first lines)"
    text = layouts.document()
    # every record of every table is on the page, with its number
    for _, table, _ in layouts.DOCUMENTED:
        for n, (name, _) in enumerate(table, start=1):
            assert f"| {n} | `{name}`" in text
    assert "| 1 | `nsample tsmp beta` per sample" not in text
    assert "| 1 | `nsample tsmp beta` | int32, 2 float64 |" in text
    assert "| 3 | `uu` over is..ie+1, js..je-1, ks..ke-1 | float64 array |" in text
