#!/usr/bin/env bash
# Usage: scripts/bench.sh [DIR]
# Builds the project in release mode into DIR (default build-bench) and runs
# the benchmarks; bench/README.md says what each one measures. Benchmarks
# that need root say so and are skipped otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}
bash scripts/build.sh "$dir"

# --- agent status hook ---
# Whole-process time and peak memory of the hook against a minimal C floor.
echo "== agent status hook"
"$dir/bin/hook_bench" 300

# --- lease daemon ---
# The controller: a renewal against a bare run of the same stand-in tool, and
# the idle controller's CPU over 60 seconds.
echo "== lease controller"
"$dir/bin/lease_bench"

# --- lease service ---
echo "== lease service"
if [ "$(id -u)" -eq 0 ]; then
  python3 bench/service_bench.py "$dir"
else
  echo "skipped: needs root (mount namespace, trusted. attributes)"
fi
