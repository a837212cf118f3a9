#!/usr/bin/env bash
# The README's picture of the list server's page: four named games on documentation addresses of a
# private network namespace, each announcing itself to brassmoor-list, the page taken by headless Chromium.
#
#   scripts/screenshot-list.sh [FILE]    needs root and a build in build/ (or $BUILD_DIR);
#                                         writes FILE (default docs/list-page.png)
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,6s/^# \{0,1\}//p' "$0"
  exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
out=$(realpath -m "${1:-$root/docs/list-page.png}")
if [ "$(id -u)" -ne 0 ]; then
  echo "screenshot-list.sh: needs root, for a network namespace" >&2
  exit 1
fi
if [ -z "${BRASSMOOR_SCREENSHOT_INSIDE:-}" ]; then
  exec env BRASSMOOR_SCREENSHOT_INSIDE=1 unshare -n "$0" "$out"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
for address in 198.51.100.20 198.51.100.21 203.0.113.7 203.0.113.42; do ip addr add "$address/32" dev lo; done
"$build_dir/tools/list/brassmoor-list" --listen 127.0.0.1:8080 >"$work/list" &
pids+=($!)
games=("198.51.100.20|Friday LAN at Ana's|5" "203.0.113.7|Workshop server|2" "198.51.100.21|Nordic night – casual|8"
  "203.0.113.42|<Late shift> & friends|1")
for game in "${games[@]}"; do
  IFS='|' read -r address name bots <<<"$game"
  "$build_dir/tools/server/brassmoor-server" --bind "$address" --bots "$bots" --name "$name" >/dev/null &
  pids+=($!)
done
for _ in $(seq 100); do grep -q '^listening on' "$work/list" && break; sleep 0.1; done
for game in "${games[@]}"; do
  address=${game%%|*}
  # Each game announces from its own address, as a server on its own machine would.
  for _ in $(seq 50); do
    curl -s --interface "$address" -X POST -d '{}' http://127.0.0.1:8080/v1/announce | grep -q '"listed":true' && break
    sleep 0.1
  done
done
for _ in $(seq 50); do [ "$(curl -s http://127.0.0.1:8080/v1/games | grep -o '"address"' | wc -l)" -ge 4 ] && break; sleep 0.1; done
chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" --hide-scrollbars \
  --window-size=820,420 --screenshot="$out" http://127.0.0.1:8080/ 2>/dev/null
echo "wrote $out"
