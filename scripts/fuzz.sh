#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in their
# own build directory and runs each in turn for a bounded time, seeded with its committed corpus:
#   snapshot  received bytes through snapshot acceptance, decoding and the peer-table drain (client)
#   server    scripted datagrams, clock steps, ticks and forgetting through pose acceptance and the
#             client registry (server)
#   selection worlds of players, NaN and ties included, through the grid that chooses each client's
#             nearest players, against looking at every player (server)
#   info      received bytes through the server's info-query answers and a search's answer collection
#   capture   bytes as a pcap file through the replayer's reader (a third of SECONDS: a small parser)
#   list      bytes as the list server's announcement body and as an entry found in its store
# Usage: scripts/fuzz.sh [SECONDS]   (each target this long, default 60; $BUILD_DIR overrides build-fuzz/)
# New inputs a target finds go to $BUILD_DIR/corpus-<target>, never into the committed seeds; a crash
# is written to $BUILD_DIR/<target>-crash-*, and the script fails once every target has run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}

case "$seconds" in
  -h | --help)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  '' | *[!0-9]* | 0)
    echo "fuzz.sh: SECONDS must be a whole number above 0, not '$seconds'" >&2
    exit 2
    ;;
esac

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBRASSMOOR_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j2 --target snapshot_fuzz server_fuzz info_fuzz capture_fuzz selection_fuzz list_fuzz game_list_fuzz

# Inputs found before there were two targets belong to the snapshot target.
if [ -d "$build_dir/corpus" ] && [ ! -e "$build_dir/corpus-snapshot" ]; then
  mv "$build_dir/corpus" "$build_dir/corpus-snapshot"
fi

# The targets run two at a time (one a core), each writing to a log of its own that is printed
# whole when it ends, so two targets' lines never mix.
failed=()
running=()
# finish_one: waits for the oldest target still running and prints its log.
finish_one() {
  local entry=${running[0]} name
  running=("${running[@]:1}")
  name=${entry#*:}
  if ! wait "${entry%%:*}"; then failed+=("$name"); fi
  cat "$build_dir/fuzz-$name.log"
}
# run_target NAME SEEDS SECONDS [DICTIONARY]
run_target() {
  local name=$1 seeds=$2 time=$3 dictionary=()
  if [ -n "${4:-}" ]; then dictionary=(-dict="$4"); fi
  if [ "${#running[@]}" -ge 2 ]; then finish_one; fi
  mkdir -p "$build_dir/corpus-$name"
  # -max_len: a datagram is at most 4096 bytes (the receive buffer), a server script or a capture
  # as long. -print_final_stats prints the executions, their rate and the coverage at the end.
  (echo "== fuzzing $name for $time s"
   cd "$build_dir" && exec "./tests/fuzz/${name}_fuzz" -max_total_time="$time" -max_len=4096 \
    -print_final_stats=1 "${dictionary[@]}" -artifact_prefix="$build_dir/$name-" \
    "$build_dir/corpus-$name" "$seeds") >"$build_dir/fuzz-$name.log" 2>&1 &
  running+=("$!:$name")
}
trap 'kill "${running[@]%%:*}" 2>/dev/null' EXIT
run_target snapshot "$root/tests/fuzz/corpus" "$seconds" "$root/tests/fuzz/snapshot.dict"
run_target server "$root/tests/fuzz/server_corpus" "$seconds" "$root/tests/fuzz/server.dict"
run_target info "$root/tests/fuzz/info_corpus" "$seconds" "$root/tests/fuzz/info.dict"
run_target selection "$root/tests/fuzz/selection_corpus" "$seconds"
run_target list "$root/tests/fuzz/list_corpus" "$seconds"
# A list of games may be up to 1 MiB; a few KiB already nest and repeat whatever it likes.
run_target game_list "$root/tests/fuzz/game_list_corpus" "$seconds"
# The shortest last: the targets end in the order they start.
run_target capture "$root/tests/fuzz/capture_corpus" "$(( seconds >= 3 ? seconds / 3 : 1 ))"
while [ "${#running[@]}" -gt 0 ]; do finish_one; done
trap - EXIT

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz.sh: ${failed[*]} failed; the input is in $build_dir/<target>-crash-*" >&2
  exit 1
fi
