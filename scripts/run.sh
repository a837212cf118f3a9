#!/usr/bin/env bash
# The main job: sets up and builds Brassmoor, starts a local server with a few simulated
# players and runs the client against it; closing the client stops the server.
#
#   scripts/run.sh                 local server with simulated players, client joins it
#   scripts/run.sh 192.168.1.20    join the server at that address instead (no local server)
#
# Without a display it runs the same scene under a virtual X server for a few seconds and
# saves screenshots (into $SCREENSHOT_DIR, default ./screenshots).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
bots=${BOTS:-6}

echo "== building (the first run installs packages and takes a few minutes)"
"$root/scripts/build.sh" >"${TMPDIR:-/tmp}/brassmoor-build.log" 2>&1 || {
  tail -n 40 "${TMPDIR:-/tmp}/brassmoor-build.log"
  echo "build failed; the whole log is in ${TMPDIR:-/tmp}/brassmoor-build.log" >&2
  exit 1
}
client="$build_dir/src/app/brassmoor"
server="$build_dir/tools/server/brassmoor-server"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

address=${1:-}
if [ -z "$address" ]; then
  address=127.0.0.1
  # A small arena keeps the simulated players near the newcomer at the centre.
  "$server" --bind 127.0.0.1 --bots "$bots" --arena 15 &
  pids+=($!)
fi

if [ -n "${DISPLAY:-}" ]; then
  "$client" "$address"
  exit $?
fi

# No display: show the client working under a virtual X server and keep what it showed.
shots=${SCREENSHOT_DIR:-$PWD/screenshots}
mkdir -p "$shots"
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
pids+=($!)
for _ in $(seq 200); do [ -s "$fdfile" ] && break; sleep 0.05; done
[ -s "$fdfile" ] || { echo "the virtual X server did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$fdfile")"
rm -f "$fdfile"

echo "== no display: running the client under a virtual X server ($DISPLAY)"
"$client" "$address" &
client_pid=$!
pids+=("$client_pid")
for _ in $(seq 200); do
  xdotool search --name '^Brassmoor  \|' >/dev/null 2>&1 && break
  kill -0 "$client_pid" 2>/dev/null || { echo "the client ended early" >&2; exit 1; }
  sleep 0.05
done
# Give the first snapshots a moment, then take a picture a second for five seconds,
# turning the view to the left by about 60 degrees between pictures.
sleep 1
for i in 1 2 3 4 5; do
  import -display "$DISPLAY" -window root "$shots/brassmoor-$i.png"
  title=$(xdotool search --name '^Brassmoor' getwindowname 2>/dev/null | head -n1)
  echo "   $shots/brassmoor-$i.png   $title"
  for _ in 1 2 3 4; do
    xdotool mousemove_relative -- -120 0
    sleep 0.2
  done
  sleep 0.2
done
# Escape, held until the client sees it, ends it normally.
xdotool keydown Escape
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.05; done
xdotool keyup Escape
wait "$client_pid" && status=0 || status=$?
echo "== the client exited with status $status; screenshots are in $shots"
exit "$status"
