#!/usr/bin/env bash
# Builds the release: the 32-bit setup.exe, optimised for size and stripped, for the vendor's
# web host; signs it when given a code-signing certificate and its key; prints its size, its
# SHA-256 and where its bytes go. Every run is a clean build, and two runs of one commit give
# the same bytes (before signing: a signature holds its signing time).
#
#   bash scripts/release.sh --host HOST[:PORT] [--cert CERT --key KEY] [--out DIR]
#
# CERT and KEY are PEM or DER files (the key unencrypted); the signature is Authenticode with
# a SHA-256 digest. DIR is the build folder (default build/release); the release is DIR/setup.exe.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: $0 --host HOST[:PORT] [--cert CERT --key KEY] [--out DIR]" >&2; exit 2; }
fail() { echo "release: $*" >&2; exit 1; }

host= cert= key= out=$repo/build/release
while [ $# -gt 0 ]; do
  case "$1" in
  --host) host=${2:-}; shift 2 || usage ;;
  --cert) cert=${2:-}; shift 2 || usage ;;
  --key) key=${2:-}; shift 2 || usage ;;
  --out) out=${2:-}; shift 2 || usage ;;
  *) usage ;;
  esac
done
[ -n "$host" ] || fail "no --host: the vendor's web host is compiled into the program"
[[ "$host" =~ ^[A-Za-z0-9.-]+(:[0-9]+)?$ ]] || fail "--host '$host' is not a host name with an optional :port"
[ -n "$out" ] || usage
if [ -n "$cert$key" ]; then
  [ -n "$cert" ] && [ -n "$key" ] || fail "signing needs both --cert and --key"
  [ -r "$cert" ] || fail "cannot read the certificate $cert"
  [ -r "$key" ] || fail "cannot read the key $key"
fi

bash "$repo/scripts/install-deps.sh" release

# A clean build, so that nothing from an earlier configuration leaks into the release; only a
# build folder is ever emptied.
if [ -e "$out" ] && [ -n "$(ls -A "$out" 2>/dev/null)" ] && [ ! -f "$out/CMakeCache.txt" ]; then
  fail "$out is not empty and not a build folder: not touching it"
fi
rm -rf "$out"
cmake -S "$repo" -B "$out" --toolchain "$repo/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DWEB_HOST="$host" >/dev/null
cmake --build "$out" -j"$(nproc)" --target setup >/dev/null
exe=$out/setup.exe

if [ -n "$cert" ]; then
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n setup \
    -in "$exe" -out "$exe.signed" >/dev/null || { rm -f "$exe.signed"; fail "signing failed"; }
  mv "$exe.signed" "$exe"
fi

echo "release: $exe (http://$host)${cert:+, signed}"
echo "size: $(stat -c %s "$exe") bytes"
echo "sha256: $(sha256sum "$exe" | cut -d' ' -f1)"
python3 "$repo/scripts/size_report.py" "$exe" "$out/setup.map"
