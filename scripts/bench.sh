#!/usr/bin/env bash
# Benchmark: setup.exe against a bare WinInet downloader of our own (bench/bareget.c), both
# under 64-bit Wine in a headless X server, fetching from a loopback server of the benchmark's
# own. Prints the medians and ratios (throughput, start-up, peak memory) and writes them to
# build/bench/results.md. As root on Debian it first installs what it needs.
#
#   bash scripts/bench.sh [--runs N] [--big BYTES] [--small BYTES] [--desktop held|cold]
#                         [--diagnose auto|always|never] [--link-rates BYTES_S,...|none]
#                         [--link-seconds S]
#
# Defaults: 5 runs of each program per body, bodies of 2000000 bytes and 256 MiB, then links
# capped at 12.5, 25 and 60 MB/s (1.25 s of body each). BENCH_PORT
# (default 47812) is the port on 127.0.0.1. Exit code 0 when it measured, whether or not
# setup.exe met its targets; non-zero when it could not measure.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)

WITH_WINE32=0 bash scripts/install-deps.sh

port=${BENCH_PORT:-47812}
out=build/bench
state=$out/wine
toolchain=$PWD/cmake/mingw-x86_64.cmake

# setup.exe, 64-bit, with the release's flags and the benchmark's server as its web host.
cmake -S . -B "$out" --toolchain "$toolchain" -DWEB_HOST="127.0.0.1:$port" -DBUILD_TESTING=OFF >/dev/null
# The benchmark's own programs are targets of the same build (bench/, built only on request).
cmake --build "$out" -j2 --target setup bareget bench_package desktop_hold uicost
tools=$out/bench

trap 'bash scripts/wine-session.sh stop "$state"' EXIT
session=$(bash scripts/wine-session.sh start "$state")
eval "$session"

status=0
/usr/bin/python3 bench/bench.py \
  --setup "$out/setup.exe" --bare "$tools/bareget.exe" --package "$tools/bench_package.exe" \
  --desktop-hold "$tools/desktop_hold.exe" --uicost "$tools/uicost.exe" \
  --state "$out/run" --port "$port" --results "$out/results.md" \
  --command "bash scripts/bench.sh${*:+ $*}" --load-before "$(cut -d' ' -f1-3 /proc/loadavg)" \
  "$@" || status=$?

# Where the shipped program's bytes go: the 32-bit release build, for the same host.
echo
bash scripts/release.sh --host "127.0.0.1:$port" --out "$out/release" || status=1
echo "bench.sh took $(( $(date +%s) - started )) s"
exit $status
