#!/usr/bin/env bash
# Builds the program and runs every test (C++ unit and end-to-end tests,
# and the Python tools' tests).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure
