#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (clang) into build-asan/,
# runs the tests through CTest under the sanitizers, then the leak check of the real client.
# Usage: scripts/check-sanitizers.sh                  build, test, leak check
#        scripts/check-sanitizers.sh --build-only [TARGET...]
# $BUILD_DIR overrides build-asan/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-asan}

# Undefined behaviour stops the program instead of being reported and carried on.
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBRASSMOOR_BUILD_BENCHMARKS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
if [ "${1:-}" = "--build-only" ]; then
  shift
  targets=()
  for target in "$@"; do
    targets+=(--target "$target")
  done
  cmake --build "$build_dir" -j2 "${targets[@]}"
  exit 0
fi
cmake --build "$build_dir" -j2

# shellcheck source=../tests/robustness/sanitizer_env.sh
source "$root/tests/robustness/sanitizer_env.sh"
# The flood test measures the ordinary build's frame rates; under the sanitizers it would only be
# slow. The soak measures memory growth, which AddressSanitizer's quarantine of freed memory makes.
ctest --test-dir "$build_dir" -j2 --output-on-failure --timeout 300 -E '^(robustness_flood|soak)$'
BRASSMOOR_SKIP_BUILD=1 "$root/scripts/check-leaks.sh"
