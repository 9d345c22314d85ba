#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests, and runs every
# test; windows open on a virtual display. Then each fuzz target, built with
# clang as a project of its own, runs briefly from its seeds
# (VELA5_FUZZ=0 skips that, VELA5_FUZZ_SECONDS sets the time per target).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${VELA5_BUILD_DIR:-$top/build}"
"$top/tools/install-deps.sh"
# Only matters in a sanitizer build: the toolkit's own libraries keep memory
# until exit, and thread-local storage is left unscanned (tests/lsan.supp says why).
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0:use_tls=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VELA5_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
# A failed test runs once more: some window tests wait on another process's
# window, and on a loaded machine that wait can run out. The first failure
# stays in the output.
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300 --repeat until-pass:2

if [ "${VELA5_FUZZ:-1}" != 0 ]; then
  fuzz="$build/fuzz"
  cmake -S "$top/tests/fuzz" -B "$fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$fuzz" -j "$(nproc)"
  for target in "$fuzz"/*Fuzz; do
    name=$(basename "$target")
    corpus="$fuzz/corpus/$name"
    mkdir -p "$corpus"
    echo "fuzzing $name for ${VELA5_FUZZ_SECONDS:-20} s"
    # A finding is written beside the corpus and fails the run.
    "$target" -max_total_time="${VELA5_FUZZ_SECONDS:-20}" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$fuzz/" -print_final_stats=1 "$corpus" "$top/tests/fuzz/seeds/$name"
  done
fi
