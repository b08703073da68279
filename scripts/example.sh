#!/usr/bin/env bash
# Builds the program, writes the shipped example case into run/example,
# runs it and prints its summary. Installs the Debian packages it needs
# first (see scripts/packages.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/packages.sh
need_packages g++ make cmake python3 python3-numpy python3-matplotlib

# The example needs the program only: a first build leaves the tests out
# (scripts/test.sh turns them on), so nothing warns about test packages.
tests=()
[ -e build/CMakeCache.txt ] || tests=(-DQV_TESTS=OFF)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${tests[@]}" >/dev/null
cmake --build build -j2 --target quivel_vib8
if [ -e run/example ]; then
  n=$(find run/example -type f | wc -l)
  echo "replacing the earlier run/example ($n file$([ "$n" -eq 1 ] || echo s), last changed $(date -r run/example '+%F %T'))"
  rm -rf run/example
fi
/usr/bin/python3 tools/qv case --recipe cases/example/recipe.json --out run/example
cd run/example
echo "running the example in run/example (console output in run/example/console.log) ..."
start=$(date +%s)
"$root/build/quivel_vib8" < console.in > console.log
echo "done in $(( $(date +%s) - start )) s"
cd "$root"
/usr/bin/python3 tools/qv summary run/example
/usr/bin/python3 tools/qv plot ts run/example -o run/example/timeseries.png
echo "time-series plot: run/example/timeseries.png"
