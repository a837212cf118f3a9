#!/usr/bin/env bash
# Builds the snapshot fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in its own build directory and runs it for a bounded time, seeded with tests/fuzz/corpus.
# Usage: scripts/fuzz.sh [SECONDS]   (default 30; $BUILD_DIR overrides build-fuzz/)
# New inputs found go to $BUILD_DIR/corpus, never into the committed seeds; a crash is written
# to $BUILD_DIR/crash-* and the script fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-fuzz}
seconds=${1:-30}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBRASSMOOR_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j2 --target snapshot_fuzz

mkdir -p "$build_dir/corpus"
cd "$build_dir"
# -max_len: the client receives into a 4096-byte buffer, so no datagram it reads is longer.
# -print_final_stats prints the executions, their rate and the coverage at the end.
./tests/fuzz/snapshot_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -dict="$root/tests/fuzz/snapshot.dict" -artifact_prefix="$build_dir/" "$build_dir/corpus" "$root/tests/fuzz/corpus"
