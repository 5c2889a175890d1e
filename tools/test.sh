#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the tests.
#   tools/test.sh          the default suites (everything but the "slow" label)
#   tools/test.sh --full   also the slow suites, then all suites again in an
#                          address + undefined-behaviour sanitizer build, then the
#                          libFuzzer targets (Clang) for a fixed number of runs each, then
#                          the formatting and clang-tidy checks of tools/lint.sh
# With TAMARIL_WERROR=ON in the environment (as .ci/run sets it) compiler warnings are errors.
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

# Warnings stop the build only when asked (.ci/run asks); a person's build stays warning-tolerant.
werror="-DTAMARIL_WERROR=${TAMARIL_WERROR:-OFF}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$werror" -Wno-dev >/dev/null
cmake --build build -j2
if [[ $full -eq 1 ]]; then
  ctest --test-dir build -j2 --output-on-failure --timeout 900
else
  ctest --test-dir build -j2 --output-on-failure --timeout 900 -LE slow
fi

if [[ $full -eq 1 ]]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMARIL_SANITIZE=ON "$werror" \
    -DTAMARIL_BUILD_BENCH=OFF -DTAMARIL_BUILD_UI=OFF -Wno-dev >/dev/null
  cmake --build build-sanitize -j2
  ctest --test-dir build-sanitize -j2 --output-on-failure --timeout 1800
fi

if [[ $full -eq 1 ]]; then
  # Each target starts from a copy of its seeds (the fuzzer adds what it finds to the folder).
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMARIL_BUILD_FUZZ=ON "$werror" \
    -DTAMARIL_BUILD_TESTS=OFF -DTAMARIL_BUILD_BENCH=OFF -DTAMARIL_BUILD_UI=OFF -Wno-dev >/dev/null
  cmake --build build-fuzz -j2 --target archive_reader_fuzz memtable_reader_fuzz
  fuzz_work=$(mktemp -d)
  trap 'rm -rf "$fuzz_work"' EXIT
  for target in archive:archive_reader_fuzz:250000 memtable:memtable_reader_fuzz:800000; do
    IFS=: read -r corpus program runs <<<"$target"
    mkdir "$fuzz_work/$corpus"
    cp fuzz/corpus/"$corpus"/* "$fuzz_work/$corpus/"
    echo "fuzzing $program ($runs runs)"
    build-fuzz/fuzz/"$program" -runs="$runs" -max_len=4096 -max_total_time=90 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/ "$fuzz_work/$corpus" 2>"$fuzz_work/$program.log" ||
      { tail -n 60 "$fuzz_work/$program.log"; echo "$program found a crash; the input is in build-fuzz/" >&2; exit 1; }
  done
fi

if [[ $full -eq 1 ]]; then
  # build/compile_commands.json of the default build tells clang-tidy how each file is built.
  tools/lint.sh --check
fi
