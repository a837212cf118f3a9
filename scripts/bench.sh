#!/usr/bin/env bash
# Builds the benchmarks and prints every figure: the per-frame work, the datagrams, what --metrics and
# each pose cost the server (no display needed), then the frame cost under a private virtual X
# server, against a bare clear-and-swap loop and against glretrace replaying traces of the real
# client (recorded first, with apitrace), and the start-up time.
# Speeds are printed, never asserted. BUILD_DIR picks the build directory (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRASSMOOR_BUILD_BENCHMARKS=ON >/dev/null
# The build's progress goes to a log, shown only when the build fails.
build_log=$build_dir/bench-build.log
if ! cmake --build "$build_dir" -j2 --target brassmoor brassmoor_bench_frame_work brassmoor_bench_datagrams brassmoor_bench_metrics \
  brassmoor_bench_pose_intake brassmoor_bench_frame >"$build_log" 2>&1; then
  cat "$build_log"
  exit 1
fi

bench_dir=$build_dir/bench
echo
echo "== Work per frame outside the GL"
"$bench_dir/brassmoor_bench_frame_work"
echo
echo "== Datagrams and the loopback drain"
"$bench_dir/brassmoor_bench_datagrams"
echo
echo "== What --metrics costs: the tick loop's copy of its figures, one scrape's text"
"$bench_dir/brassmoor_bench_metrics"
echo
echo "== What the server's loop spends on each pose it takes, at 2000 clients"
"$bench_dir/brassmoor_bench_pose_intake"
echo
echo "== Recording the real client's GL calls with apitrace (0, 16 and 204 others)"
trace_dir=$build_dir/bench/gl-traces
/usr/bin/python3 "$root/bench/record_gl_traces.py" --client "$build_dir/src/app/brassmoor" --out "$trace_dir"
echo
echo "== Frame cost under Xvfb (1280x720)"
# Interleaving the repetitions spreads any busy moment of the machine over every case.
"$root/scripts/with-xvfb.sh" "$bench_dir/brassmoor_bench_frame" --benchmark_enable_random_interleaving=true \
  --replay-traces="$trace_dir"
echo
echo "== Start-up to the first frame"
/usr/bin/python3 "$root/bench/bench_startup.py" --client "$build_dir/src/app/brassmoor" --runs 9
