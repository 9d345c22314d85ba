#!/usr/bin/env bash
# Installs the Debian packages the kit builds, runs and tests with. Idempotent:
# does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config gettext
  libwxgtk3.2-dev libssl-dev libsqlite3-dev libboost-dev libx11-dev libpcsclite-dev libp11-kit-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils
  opensc gnutls-bin libnss3-tools softhsm2 p11-kit openssl
  lintian desktop-file-utils python3
  wx3.2-i18n
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
