#!/usr/bin/env bash
# Usage: scripts/build.sh DIR [cmake options...]
# Configures and builds the project into DIR with every core in use.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
