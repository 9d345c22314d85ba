#!/usr/bin/env bash
# The Debian package as a user gets it: made by CPack from this build,
# unpacked into a throw-away root, its files where Debian expects them, its
# p11-kit module file naming a module that p11-kit loads and that shows the
# software token, and lintian without errors.
#
#   DebPackage.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAILED: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/out/vela5-kit_*_amd64.deb)
dpkg-deb -x "$deb" "$work/root"
cd "$work/root"

# Everything under /usr (or /etc), nothing setuid or setgid.
outside=$(find . -mindepth 1 -maxdepth 1 ! -name usr ! -name etc)
[ -z "$outside" ] || fail "files outside /usr and /etc: $outside"
special=$(find . -perm /6000)
[ -z "$special" ] || fail "setuid or setgid files: $special"

for path in usr/lib/vela5/PavixManager usr/lib/vela5/velapkcs11.so usr/lib/vela5/Certlens.so usr/lib/vela5/vela5-token \
  usr/lib/vela5/vela5-reg usr/lib/vela5/vela5-store usr/lib/vela5/PavixManagerLauncher usr/lib/vela5/Language/Bulgarian.mo usr/lib/vela5/Language/Portuguese.mo \
  usr/lib/vela5/Language/Spanish.mo usr/share/applications/pavix-manager.desktop \
  usr/share/icons/hicolor/48x48/apps/pavix-manager.png usr/share/icons/hicolor/256x256/apps/pavix-manager.png \
  usr/share/p11-kit/modules/vela5.module usr/share/man/man1/vela5-token.1.gz \
  usr/share/man/man1/vela5-reg.1.gz usr/share/man/man1/vela5-store.1.gz usr/share/man/man1/pavix-manager.1.gz usr/share/doc/vela5-kit/copyright; do
  [ -e "$path" ] || fail "missing /$path"
done
[ -x "usr/lib/vela5/VELA5 CertProp Svc" ] || fail "missing /usr/lib/vela5/VELA5 CertProp Svc"
# The user guide the manager opens from its folder, with every picture it shows.
guide="usr/lib/vela5/Pavix Manager-EN.html"
[ -f "$guide" ] || fail "missing /$guide"
for picture in $(grep -o 'screens/[A-Za-z0-9_-]*\.png' "$guide" | sort -u); do
  [ -f "usr/lib/vela5/$picture" ] || fail "the guide shows /usr/lib/vela5/$picture, which is missing"
done
for link in pavix-manager vela5-token vela5-reg vela5-store; do
  [ -x "usr/bin/$link" ] || fail "/usr/bin/$link does not lead to a program"
done
grep -q "^module: /usr/lib/vela5/velapkcs11.so$" usr/share/p11-kit/modules/vela5.module \
  || fail "the p11-kit module file does not name the installed module"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate usr/share/applications/pavix-manager.desktop >/dev/null || fail "desktop entry"
fi

# The unpacked programs work from their folder: the tool reaches the module
# beside it through the /usr/bin link.
export VELA5_ROOT="$work/state"
usr/bin/vela5-token reader add "VELA5 Virtual Reader 0" >/dev/null || fail "vela5-token from the package"
serial=$(usr/bin/vela5-token token create --test-pin-rounds 1000 --model VELA5-64 --label Packaged --user-pin 1234 --so-pin 87654321)
usr/bin/vela5-token token insert "$serial" "VELA5 Virtual Reader 0"

# p11-kit reads the packaged module file (pointed at the unpacked module) as a
# user's own; as root it would ignore per-user files, so it runs as nobody.
if command -v p11-kit >/dev/null && command -v setpriv >/dev/null; then
  home="$work/home"
  mkdir -p "$home/.config/pkcs11/modules"
  sed "s|/usr/lib/vela5|$work/root/usr/lib/vela5|" usr/share/p11-kit/modules/vela5.module \
    >"$home/.config/pkcs11/modules/vela5.module"
  chmod -R a+rwX "$work"
  chmod a+x "$(dirname "$work")" 2>/dev/null || true
  run_as() { if [ "$(id -u)" -eq 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi; }
  out=$(run_as env HOME="$home" XDG_CONFIG_HOME="$home/.config" VELA5_ROOT="$VELA5_ROOT" p11-kit list-modules 2>&1) \
    || fail "p11-kit list-modules: $out"
  grep -q "library-manufacturer: Nurvon Ltd." <<<"$out" || fail "p11-kit does not load the module: $out"
  grep -q "token: Packaged" <<<"$out" || fail "p11-kit does not see the software token: $out"
fi

if command -v lintian >/dev/null; then
  errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
  [ -z "$errors" ] || fail "lintian: $errors"
fi
echo "package $(basename "$deb"): passed"
