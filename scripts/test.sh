#!/usr/bin/env bash
# Sets up, builds and runs every test (unit, GL under a virtual X server, black-box).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/build.sh"
ctest --test-dir "$build_dir" -j2 --output-on-failure
