#!/usr/bin/env bash
# The server at scale: builds brassmoor-server, the load generator, the bare reflector and the
# in-process benchmarks, then prints three tables: the server against the reflector for 64, 256,
# 1000 and 2000 clients (and 256 under a flood), a tick's cost without sockets for 1 000, 4 000 and
# 16 000 players, and the batched socket calls against plain loops. Generator and server each run
# pinned to a core of their own, inside a network namespace of their own (so other loopback users
# neither disturb nor are disturbed). Needs root (for the namespace) and 2 cores; takes about ten
# minutes with the default 60 s per run. Figures are measured and printed, never asserted.
# With --metrics-cost, only the server at 2000 clients with --metrics off, then on and scraped once a
# second: the two CPU figures side by side.
# Usage: scripts/bench-scale.sh [--seconds S] [--clients "64 256 1000 2000"] [--no-flood] [--metrics-cost [--repeat N]]
#        (BUILD_DIR overrides build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

case "${1:-}" in
  -h | --help)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  echo "bench-scale.sh: needs root for a network namespace of its own (unshare -n)" >&2
  exit 1
fi
if [ "$(nproc)" -lt 2 ]; then
  echo "bench-scale.sh: needs 2 cores, one for the generator and one for the server" >&2
  exit 1
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRASSMOOR_BUILD_BENCHMARKS=ON >/dev/null
build_log=$build_dir/bench-scale-build.log
if ! cmake --build "$build_dir" -j2 --target brassmoor-server brassmoor-load brassmoor-reflector \
  brassmoor_bench_tick_cost brassmoor_bench_batch_io >"$build_log" 2>&1; then
  cat "$build_log"
  exit 1
fi

# A client and a forged port each take a file descriptor.
ulimit -n "$(ulimit -Hn)"
echo "== The server against the bare reflector"
unshare -n sh -c 'ip link set lo up && exec "$@"' sh /usr/bin/python3 "$root/bench/bench_scale.py" \
  --server "$build_dir/tools/server/brassmoor-server" --reflector "$build_dir/bench/brassmoor-reflector" \
  --generator "$build_dir/bench/brassmoor-load" "$@"
case " $* " in *" --metrics-cost "*) exit 0 ;; esac
echo
echo "== A tick's cost without sockets (CPU time, every player a client, 204 entries each)"
taskset -c 1 "$build_dir/bench/brassmoor_bench_tick_cost"
echo
echo "== Batched socket calls against plain loops (loopback)"
unshare -n sh -c 'ip link set lo up && exec taskset -c 1 "$1"' sh "$build_dir/bench/brassmoor_bench_batch_io"
