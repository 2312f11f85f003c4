#!/bin/sh
# Builds the libFuzzer targets with clang and runs one of them.
#   scripts/fuzz.sh                 list the targets
#   scripts/fuzz.sh NAME [SECONDS]  run NAME (default 180 s) on its corpus
set -e
cd "$(dirname "$0")/.."
scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVREL_FUZZ=ON -DTAVREL_BENCH=OFF >/dev/null
if [ -z "$1" ]; then
  ls */*_fuzz.cpp | sed 's#.*/##; s#\.cpp$##'
  exit 0
fi
cmake --build build-fuzz --target "$1"
mkdir -p "fuzz-corpus/$1"
exec "build-fuzz/fuzz/$1" -max_total_time="${2:-180}" -print_final_stats=1 "fuzz-corpus/$1"
