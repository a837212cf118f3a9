#!/usr/bin/env bash
# The list server at 10 000 games: builds brassmoor-list and the benchmark's games (brassmoor-list-load),
# then, with the games in memory and then in Redis, prints the announcements a second (every game
# announcing itself from its own 127.x address, 128 at once, twice), the list's CPU while it rechecks
# every game every 10 s, and GET /v1/games under wrk beside nginx serving the same bytes from a file.
# Everything runs in a network namespace of its own. Needs root (for the namespace); takes about four
# minutes. Figures are measured and printed, never asserted.
# Usage: scripts/bench-list.sh [bench/bench_list.py's options, e.g. --stores memory --seconds 60]
#        (BUILD_DIR overrides build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

case "${1:-}" in
  -h | --help)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "bench-list.sh: needs root for a network namespace of its own (unshare -n)" >&2
  exit 1
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRASSMOOR_BUILD_BENCHMARKS=ON >/dev/null
build_log=$build_dir/bench-list-build.log
if ! cmake --build "$build_dir" -j2 --target brassmoor-list brassmoor-list-load >"$build_log" 2>&1; then
  cat "$build_log"
  exit 1
fi

# A game takes a file descriptor.
ulimit -n "$(ulimit -Hn)"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run"
if [ -r /proc/pressure/cpu ]; then
  echo "tasks waiting for a CPU before the run: $(head -n 1 /proc/pressure/cpu)"
fi
unshare -n sh -c 'ip link set lo up && exec "$@"' sh /usr/bin/python3 "$root/bench/bench_list.py" \
  --list "$build_dir/tools/list/brassmoor-list" --load "$build_dir/bench/brassmoor-list-load" "$@"
