#!/usr/bin/env bash
# Renders every window and dialog of the token manager into docs/screens/ as
# PNG files, on a virtual display: tools/gallery.sh [language] (English when
# not given; another language goes to docs/screens/<language>/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${VELA5_BUILD_DIR:-$top/build}"
language="${1:-English}"
out="$top/docs/screens"
[ "$language" = English ] || out="$out/$language"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VELA5_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(nproc)" --target ManagerGallery
gallery="$build/tests/ManagerGallery"
# One process per window: the toolkit pictures the screen once per process.
VELA5_BIN_DIR="$build/bin" xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -e
  for window in $("$0" --list); do
    "$0" "$1" "$2" "$window"
  done' "$gallery" "$out" "$language"
echo "written to $out"
