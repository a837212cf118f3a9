#!/usr/bin/env bash
# Leak check: runs the sanitizer-built client (LeakSanitizer) under its own virtual X server for a
# few seconds while a fake server sends it snapshots, ends it with Escape, and fails when a leak is
# reported through the project's own sources (src/). Only third-party libraries are suppressed.
# Usage: scripts/check-leaks.sh [SECONDS]   (default 4; $BUILD_DIR overrides build-asan/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-asan}
seconds=${1:-4}

if [ -z "${BRASSMOOR_SKIP_BUILD:-}" ]; then
  "$root/scripts/check-sanitizers.sh" --build-only brassmoor
fi
# shellcheck source=../tests/robustness/sanitizer_env.sh
source "$root/tests/robustness/sanitizer_env.sh"
/usr/bin/python3 "$root/tests/robustness/leak_run.py" --client "$build_dir/src/app/brassmoor" \
  --source-root "$root/src" --seconds "$seconds"
