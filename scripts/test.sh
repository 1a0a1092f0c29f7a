#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the release build,
# the Apple branch cross-built for both Mac architectures (not run: there is
# no Mac here), the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzz target. Tests that
# need root (mount namespaces, "trusted." attributes, other users) run when
# this is started as root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)

echo "== release build"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Apple cross build, both Mac architectures"
bash tools/apple-check/cross-build.sh build-apple

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESK_SANITIZE=ON -DVESK_BUILD_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz targets (short run)"
bash scripts/build.sh build-fuzz -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVESK_FUZZ=ON -DVESK_BUILD_TESTS=OFF \
  -DVESK_BUILD_BENCHMARKS=OFF
for target in build-fuzz/fuzz/*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  seeds=()
  for d in agent-bridge lease-daemon; do
    [ -d "$d/fuzz/seeds/$name" ] && seeds+=("$d/fuzz/seeds/$name")
  done
  "$target" -max_total_time="${FUZZ_SECONDS:-30}" -timeout=10 \
    -rss_limit_mb=2048 "$corpus" "${seeds[@]}"
  rm -rf "$corpus"
done
echo "all tests passed"
