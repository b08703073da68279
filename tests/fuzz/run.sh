#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (address + undefined
# sanitizers) and runs each for the given number of seconds (default 15).
#   tests/fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)
secs=${1:-15}
src=../../src
out=$(realpath -m "${FUZZ_BUILD:-../../build-fuzz}")
mkdir -p "$out"
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$src"
common="$src/io/format.cpp $src/io/files.cpp"
clang++ $flags fuzz_format.cpp $src/io/format.cpp -o "$out/fuzz_format"
clang++ $flags fuzz_param.cpp $common $src/io/console.cpp $src/control/rdparm.cpp $src/control/params.cpp \
  $src/control/runinputs.cpp $src/store/store.cpp $src/store/lanes.cpp \
  -o "$out/fuzz_param"
clang++ $flags fuzz_record.cpp $common $src/store/store.cpp $src/store/lanes.cpp -o "$out/fuzz_record"
clang++ $flags fuzz_runinputs.cpp $common $src/io/console.cpp $src/control/runinputs.cpp -o "$out/fuzz_runinputs"
for t in format param record runinputs; do
  work="$out/corpus-$t"
  mkdir -p "$work"
  echo "fuzzing $t for $secs s"
  rm -f "$out/$t-"*
  "$out/fuzz_$t" -max_total_time="$secs" -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$out/$t-" \
    "$work" "$here/corpus/$t" 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY" || true
  if ls "$out/$t-"* >/dev/null 2>&1; then echo "fuzzing $t found a failure: $(ls "$out/$t-"*)"; exit 1; fi
done
