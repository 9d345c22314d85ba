#!/usr/bin/env bash
# Installs what is missing, builds, and starts the token manager on the
# software token. A machine root that is still empty gets a demo state: one
# reader "VELA5 Virtual Reader 0" holding a blank "VELA5-64" token.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELA5_BUILD_TESTS=OFF -DVELA5_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build" -j "$(nproc)"

bin="$top/build/bin"
root="${VELA5_ROOT:-${XDG_DATA_HOME:-$HOME/.local/share}/vela5}"
export VELA5_ROOT="$root"
if [ ! -d "$root/tokens" ] || [ -z "$(ls -A "$root/tokens" 2>/dev/null)" ]; then
  "$bin/vela5-token" reader add "VELA5 Virtual Reader 0"
  serial=$("$bin/vela5-token" token create --model VELA5-64 --blank)
  "$bin/vela5-token" token insert "$serial" "VELA5 Virtual Reader 0"
fi
"$bin/vela5-token" list

# The key storage provider, registered the way an installation registers it,
# so vela5-cng (and any client of the router) can open it.
providers='HKLM\System\CurrentControlSet\Control\Cryptography\Providers\Nurvon KSP v1.0'
"$bin/vela5-reg" add "$providers" /v Image /t REG_SZ /d "$bin/velaksp.so" /f >/dev/null
"$bin/vela5-reg" add "$providers" /v Aliases /t REG_MULTI_SZ /d "Nurvon KSP v1.0" /f >/dev/null
"$bin/vela5-reg" add "$providers" /v "Default Key Length" /t REG_DWORD /d 2048 /f >/dev/null

if [ -x "$bin/PavixManager" ]; then
  if [ -z "${DISPLAY:-}" ]; then
    echo "No display: set DISPLAY to start the token manager (or use xvfb-run)." >&2
    exit 1
  fi
  exec "$bin/PavixManager"
fi
