"""The structure of the tools: no module imports itself back through others,
the low modules import nothing above them, and every subcommand registers
the same way."""

import ast
import os

import pytest

from qvtools import cli

PACKAGE = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "qvtools")


def import_graph(root=PACKAGE):
    """{module: set of qvtools modules it imports anywhere in its text
    (imports inside functions included)}; modules named as in "case.grid"."""
    graph = {}
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith(".py"):
                continue
            rel = os.path.relpath(os.path.join(folder, name), root)[:-3].replace(os.sep, ".")
            mod = rel[:-len(".__init__")] if rel.endswith(".__init__") else rel
            package = mod.split(".")[:-1] if not rel.endswith("__init__") else mod.split(".")
            with open(os.path.join(folder, name), encoding="utf-8") as fh:
                tree = ast.parse(fh.read())
            deps = set()
            for node in ast.walk(tree):
                if isinstance(node, ast.ImportFrom):
                    if node.level:
                        base = package[:len(package) - (node.level - 1)] if node.level > 1 \
                            else package
                        target = base + (node.module.split(".") if node.module else [])
                    elif node.module and node.module.startswith("qvtools"):
                        target = node.module.split(".")[1:]
                    else:
                        continue
                    for alias in node.names:  # "from . import plots" names a module
                        sub = ".".join(target + [alias.name])
                        deps.add(sub if os.path.exists(os.path.join(root, *sub.split("."))
                                                       + ".py") else ".".join(target))
            deps.discard("")
            graph[mod] = deps - {mod}
    return graph


def cycles(graph):
    """Every import circle, each as the list of its modules."""
    found, state = [], {}

    def visit(node, path):
        state[node] = 1
        for dep in sorted(graph.get(node, ())):
            if state.get(dep) == 1:
                found.append(path[path.index(dep):] + [dep])
            elif dep not in state:
                visit(dep, path + [dep])
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node, [node])
    return found


def test_no_import_circle_in_the_tools():
    graph = import_graph()
    assert "summary" in graph and "commands.plot" in graph
    assert cycles(graph) == []


def test_the_circle_check_finds_a_circle():
    assert cycles({"a": {"b"}, "b": {"c"}, "c": {"a"}, "d": {"a"}}) == [["a", "b", "c", "a"]]
    assert cycles({"a": {"b"}, "b": set()}) == []


@pytest.mark.parametrize("low,above", [
    ("runfiles", ()),
    ("signals", ()),
    ("columns", ()),
    ("records", ()),
    ("layouts", ()),
    ("readers", ("columns", "layouts", "records", "runfiles")),
])
def test_low_modules_import_nothing_above_them(low, above):
    assert import_graph()[low] <= set(above)


def test_every_subcommand_registers_the_same_way():
    parser = cli.build_parser()
    sub = next(a for a in parser._actions if a.dest == "command")
    assert len(cli.COMMANDS) == len(sub.choices)
    for name, p in sub.choices.items():
        assert p.get_default("func").__module__ == f"qvtools.commands.{name}"
        assert p.get_default("func").__name__ == "run"


# ---------------------------------------------------------------- the C++ floors

SRC = os.path.join(os.path.dirname(__file__), "..", "..", "src")
# The floors of src/ (README, Layout): a file includes from its own folder
# or from a lower floor; solver and body share a floor and include neither
# each other.
FLOORS = {"io": 1, "store": 2, "solver": 3, "body": 3, "output": 4, "control": 5}
# What opens, reads or writes a file; none of it belongs in the steps.
FILE_IO = ("io/files.hpp", "<fstream>", "<cstdio>", "fopen", "std::FILE", "RecordWriter", "RecordReader",
           "TextWriter", "TextReader", "ifstream", "ofstream")


def src_files(root=SRC):
    """{folder/name: text} of every source file below root."""
    out = {}
    for folder in sorted(os.listdir(root)):
        for name in sorted(os.listdir(os.path.join(root, folder))):
            with open(os.path.join(root, folder, name), encoding="utf-8") as fh:
                out[f"{folder}/{name}"] = fh.read()
    return out


def upward_includes(files):
    """(file, included) pairs that leave the file's floor upwards or sideways."""
    bad = []
    for path, text in files.items():
        own = path.split("/")[0]
        for line in text.splitlines():
            line = line.strip()
            if not line.startswith('#include "'):
                continue
            inc = line.split('"')[1]
            if "/" not in inc:
                continue  # made by the build (qv_version.hpp)
            folder = inc.split("/")[0]
            if folder == own:
                continue
            if folder not in FLOORS or FLOORS[folder] >= FLOORS[own]:
                bad.append((path, inc))
    return bad


def test_no_include_runs_up_a_floor():
    files = src_files()
    assert set(p.split("/")[0] for p in files) == set(FLOORS)
    assert upward_includes(files) == []


def test_the_floor_check_finds_an_upward_and_a_sideways_include():
    files = {"store/a.hpp": '#include "io/files.hpp"\n#include "control/run.hpp"\n',
             "solver/b.cpp": '#include "body/body.hpp"\n#include "solver/solver.hpp"\n'}
    assert upward_includes(files) == [("store/a.hpp", "control/run.hpp"), ("solver/b.cpp", "body/body.hpp")]


def test_no_step_does_file_io():
    for path, text in src_files().items():
        if path.split("/")[0] in ("solver", "body"):
            code = "\n".join(l for l in text.splitlines() if not l.strip().startswith("//"))
            assert [w for w in FILE_IO if w in code] == [], path
