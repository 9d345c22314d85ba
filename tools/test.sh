#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests, and runs every
# test; windows open on a virtual display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${VELA5_BUILD_DIR:-$top/build}"
"$top/tools/install-deps.sh"
# Only matters in a sanitizer build: the toolkit's own libraries keep memory until exit.
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VELA5_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
