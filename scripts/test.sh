#!/usr/bin/env bash
# Builds setup.exe for both architectures and runs every test: the unit tests and the
# black-box tests of the 64-bit build under 64-bit Wine in a headless X server, and the smoke
# test of the 32-bit build under 32-bit Wine. As root on Debian it first installs what it
# needs. TEST_PORT (default 47810) is the loopback port of the test package server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

port=${TEST_PORT:-47810}
jobs=$(nproc)
cmake -S . -B build/x86_64 --toolchain cmake/mingw-x86_64.cmake -DWEB_HOST="127.0.0.1:$port" >/dev/null
cmake --build build/x86_64 -j"$jobs"
# The benchmark's programs (scripts/bench.sh runs them): built here so that they keep building.
cmake --build build/x86_64 -j"$jobs" --target bareget bench_package desktop_hold uicost
cmake -S . -B build/i686 --toolchain cmake/mingw-i686.cmake -DWEB_HOST="127.0.0.1:$port" -DBUILD_TESTING=OFF >/dev/null
cmake --build build/i686 -j"$jobs" --target setup sample_package

session=build/wine
trap 'scripts/wine-session.sh stop "$session"' EXIT
eval "$(scripts/wine-session.sh start "$session")"

status=0
ctest --test-dir build/x86_64 --output-on-failure || status=1
# The shipped 32-bit executable's resources and imports.
SETUP_EXE_I686=$PWD/build/i686/setup.exe /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/app || status=1
# The release command: size, reproducibility, signing.
/usr/bin/python3 -m pytest -v -s -p no:cacheprovider tests/release || status=1
if [ "${SKIP_WINE32:-0}" != 1 ] && [ -f tests/smoke32/test_smoke32.py ]; then
  # The 32-bit prefix takes many minutes to make under qemu: it is kept between runs.
  SETUP_EXE_I686=$PWD/build/i686/setup.exe SAMPLE_PACKAGE_I686=$PWD/build/i686/sample_package.exe \
    WEB_PORT=$port ARTIFACTS_DIR=$PWD/build/i686/artifacts \
    WINE32_STATE_DIR=${WINE32_STATE_DIR:-/var/tmp/setup-wine32} \
    /usr/bin/python3 -m pytest -v -p no:cacheprovider tests/smoke32 || status=1
fi
exit $status
