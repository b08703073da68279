#!/usr/bin/env bash
# Builds the program and runs every test (C++ unit and end-to-end tests,
# and the Python tools' tests). Installs the Debian packages it needs first
# (see scripts/packages.sh); a test suite that cannot run fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages g++ make cmake libgtest-dev python3 python3-numpy python3-matplotlib \
  python3-pytest python3-vtk9

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure
