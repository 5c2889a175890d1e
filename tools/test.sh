#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the tests.
#   tools/test.sh          the default suites (everything but the "slow" label)
#   tools/test.sh --full   also the slow suites, then all suites again in an
#                          address + undefined-behaviour sanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."

full=0
for arg in "$@"; do
  case "$arg" in
    --full) full=1 ;;
    *) echo "usage: tools/test.sh [--full]" >&2; exit 2 ;;
  esac
done

tools/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev >/dev/null
cmake --build build -j2
if [[ $full -eq 1 ]]; then
  ctest --test-dir build -j2 --output-on-failure --timeout 900
else
  ctest --test-dir build -j2 --output-on-failure --timeout 900 -LE slow
fi

if [[ $full -eq 1 ]]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMARIL_SANITIZE=ON \
    -DTAMARIL_BUILD_BENCH=OFF -Wno-dev >/dev/null
  cmake --build build-sanitize -j2
  ctest --test-dir build-sanitize -j2 --output-on-failure --timeout 1800
fi
