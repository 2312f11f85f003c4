#!/bin/sh
# Builds Tavrel and runs the whole test suite twice: once as released,
# once under AddressSanitizer + UndefinedBehaviorSanitizer.
# Exits non-zero when anything fails.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)

scripts/setup.sh

JOBS=$(nproc 2>/dev/null || echo 2)
status=0

run_suite() {
  dir=$1; shift
  echo "== configure $dir"
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  echo "== build $dir"
  cmake --build "$dir" -j "$JOBS"
  echo "== test $dir"
  if ! (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 600); then
    status=1
  fi
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVREL_SANITIZE=ON -DTAVREL_BENCH=OFF

if [ $status -ne 0 ]; then
  echo "test.sh: FAILED"
else
  echo "test.sh: all suites passed"
fi
exit $status
