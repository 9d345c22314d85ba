#!/usr/bin/env bash
# Standard PKCS#11 consumers that nobody here wrote use a token module the way
# they use any other: OpenSC's pkcs11-tool, GnuTLS' p11tool, NSS' certutil,
# with OpenSSL checking every signature. Run against the software token and,
# unchanged, against SoftHSMv2's module, so the checks test the standard.
#
#   StandardConsumers.sh BIN_DIR vela5|softhsm CHECK
#
# CHECK is one of: listing, selftest, signatures, decryption, gnutls, nss.
# Exit 77 (skipped) when the tool or the second module is not installed.
set -euo pipefail

bin=$1
kind=$2
check=$3
pin=1234
so_pin=87654321

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELA5_ROOT="$work/root" TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

case "$kind" in
  vela5)
    module="$bin/velapkcs11.so"
    "$bin/vela5-token" reader add "VELA5 Virtual Reader 0" >/dev/null
    serial=$("$bin/vela5-token" token create --test-pin-rounds 1000 --model VELA5-64 --label Demo --user-pin $pin --so-pin $so_pin)
    "$bin/vela5-token" token insert "$serial" "VELA5 Virtual Reader 0"
    ;;
  softhsm)
    module=/usr/lib/softhsm/libsofthsm2.so
    [ -e "$module" ] || skip "SoftHSMv2 is not installed"
    mkdir -p "$work/softhsm"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/softhsm" >"$work/softhsm2.conf"
    export SOFTHSM2_CONF="$work/softhsm2.conf"
    softhsm2-util --init-token --free --label Demo --pin $pin --so-pin $so_pin >/dev/null
    ;;
  *) fail "unknown module kind $kind" ;;
esac

command -v pkcs11-tool >/dev/null || skip "OpenSC's pkcs11-tool is not installed"
p11() { pkcs11-tool --module "$module" "$@" 2>&1; }

# A card holder's key pair and certificate, made by OpenSSL and written to
# the token as any application would.
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -subj "/CN=Card Holder" -days 30 2>/dev/null
openssl x509 -in cert.pem -outform DER -out cert.der
openssl pkey -in key.pem -outform DER -out key.der
openssl pkey -in key.pem -pubout -out pub.pem
openssl pkey -in key.pem -pubout -outform DER -out pub.der
if [ "$kind" = vela5 ] && [ "$check" = selftest ]; then
  # The kit's own way in: a PKCS#12 file through the vendor import.
  openssl pkcs12 -export -inkey key.pem -in cert.pem -out holder.p12 -passout pass:secret
  "$bin/vela5-token" object import "$serial" holder.p12 --password secret --pin $pin >/dev/null \
    || fail "importing the PKCS#12 file"
else
  for object in "key.der privkey" "pub.der pubkey" "cert.der cert"; do
    set -- $object
    p11 --login --pin $pin --write-object "$1" --type "$2" --id 01 --label "Card Holder" >/dev/null \
      || fail "writing the $2 object"
  done
fi
printf 'the data a card holder signs\n' >data.bin

case "$check" in
  listing)
    out=$(p11 -L) || fail "pkcs11-tool -L: $out"
    grep -q "token label *: Demo" <<<"$out" || fail "no token labelled Demo in: $out"
    out=$(p11 -O --login --pin $pin) || fail "pkcs11-tool -O: $out"
    for kind_line in "Private Key Object; RSA" "Public Key Object; RSA 2048 bits" "Certificate Object; type = X.509 cert"; do
      grep -q "$kind_line" <<<"$out" || fail "missing '$kind_line' in: $out"
    done
    out=$(p11 -M) || fail "pkcs11-tool -M: $out"
    for mechanism in RSA-PKCS SHA256-RSA-PKCS RSA-PKCS-PSS SHA256-RSA-PKCS-PSS RSA-PKCS-OAEP SHA256; do
      grep -q "^ *$mechanism[,]" <<<"$out" || fail "mechanism $mechanism not listed in: $out"
    done
    ;;
  selftest)
    out=$(p11 --test --login --pin $pin) || fail "pkcs11-tool --test: $out"
    grep -q "No errors" <<<"$out" || fail "pkcs11-tool --test reported errors: $out"
    ;;
  signatures)
    sign() { p11 --login --pin $pin --id 01 --sign "$@" --input-file data.bin --output-file sig.bin >/dev/null; }
    for hash in sha1 sha256 sha384 sha512; do
      upper=${hash^^}
      sign -m "$upper-RSA-PKCS" || fail "signing with $upper-RSA-PKCS"
      openssl dgst -$hash -verify pub.pem -signature sig.bin data.bin >/dev/null || fail "$upper-RSA-PKCS signature"
      sign -m "$upper-RSA-PKCS-PSS" || fail "signing with $upper-RSA-PKCS-PSS"
      openssl dgst -$hash -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:auto -verify pub.pem \
        -signature sig.bin data.bin >/dev/null || fail "$upper-RSA-PKCS-PSS signature"
    done
    # Raw PKCS#1 v1.5 over a DigestInfo, as TLS 1.2 clients sign.
    openssl dgst -sha256 -binary data.bin >hash.bin
    printf '\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20' | cat - hash.bin >digestinfo.bin
    p11 --login --pin $pin --id 01 --sign -m RSA-PKCS --input-file digestinfo.bin --output-file sig.bin >/dev/null \
      || fail "signing with RSA-PKCS"
    openssl dgst -sha256 -verify pub.pem -signature sig.bin data.bin >/dev/null || fail "RSA-PKCS signature"
    # PSS over a hash the caller made, as TLS 1.3 clients sign.
    p11 --login --pin $pin --id 01 --sign -m RSA-PKCS-PSS --hash-algorithm SHA256 --mgf MGF1-SHA256 \
      --input-file hash.bin --output-file sig.bin >/dev/null || fail "signing with RSA-PKCS-PSS"
    openssl pkeyutl -verify -pubin -inkey pub.pem -in hash.bin -sigfile sig.bin -pkeyopt digest:sha256 \
      -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:auto >/dev/null || fail "RSA-PKCS-PSS signature"
    ;;
  decryption)
    printf 'a session key' >plain.bin
    openssl pkeyutl -encrypt -pubin -inkey pub.pem -in plain.bin -out enc.bin
    p11 --login --pin $pin --id 01 --decrypt -m RSA-PKCS --input-file enc.bin --output-file dec.bin >/dev/null \
      || fail "decrypting with RSA-PKCS"
    cmp -s plain.bin dec.bin || fail "RSA-PKCS decryption gave other bytes"
    # OAEP with SHA-1 and no label: what every module offers.
    openssl pkeyutl -encrypt -pubin -inkey pub.pem -in plain.bin -out enc.bin -pkeyopt rsa_padding_mode:oaep \
      -pkeyopt rsa_oaep_md:sha1 -pkeyopt rsa_mgf1_md:sha1
    p11 --login --pin $pin --id 01 --decrypt -m RSA-PKCS-OAEP --hash-algorithm SHA-1 --mgf MGF1-SHA1 \
      --input-file enc.bin --output-file dec.bin >/dev/null || fail "decrypting with RSA-PKCS-OAEP"
    cmp -s plain.bin dec.bin || fail "RSA-PKCS-OAEP decryption gave other bytes"
    ;;
  gnutls)
    command -v p11tool >/dev/null || skip "GnuTLS' p11tool is not installed"
    out=$(p11tool --provider "$module" --list-all 2>&1) || fail "p11tool --list-all: $out"
    grep -q "Type: X.509 Certificate" <<<"$out" || fail "p11tool lists no certificate: $out"
    grep -q "Label: Card Holder" <<<"$out" || fail "p11tool lists no 'Card Holder': $out"
    ;;
  nss)
    command -v modutil >/dev/null || skip "NSS tools are not installed"
    mkdir nssdb
    certutil -N -d sql:nssdb --empty-password
    modutil -add token -libfile "$module" -dbdir sql:nssdb -force >/dev/null
    out=$(certutil -L -h all -d sql:nssdb 2>&1) || fail "certutil -L: $out"
    grep -q "Demo:Card Holder" <<<"$out" || fail "NSS does not list the token's certificate: $out"
    ;;
  *) fail "unknown check $check" ;;
esac
echo "$kind $check: passed"
