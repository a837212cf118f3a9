#!/usr/bin/env bash
# The README's picture of the launcher's window: two named LAN games, each served from a network
# namespace of its own on a bridge, found by broadcast from a third, under a private virtual X server.
#
#   scripts/screenshot-launcher.sh [FILE]    needs root and a build in build/ (or $BUILD_DIR);
#                                             writes FILE (default docs/launcher.png)
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,6s/^# \{0,1\}//p' "$0"
  exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
out=$(realpath -m "${1:-$root/docs/launcher.png}")
if [ "$(id -u)" -ne 0 ]; then
  echo "screenshot-launcher.sh: needs root, for network namespaces" >&2
  exit 1
fi
if [ -z "${BRASSMOOR_SCREENSHOT_INSIDE:-}" ]; then
  exec env BRASSMOOR_SCREENSHOT_INSIDE=1 unshare -n -m --propagation private "$0" "$out"
fi

work=$(mktemp -d)
hosts=(bm-shot-a-$$ bm-shot-b-$$)
pids=()
cleanup() {
  # The last started first: the launcher before the X server it draws on.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  for host in "${hosts[@]}"; do ip netns del "$host" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
ip link add br0 type bridge
ip addr add 10.77.0.10/24 broadcast 10.77.0.255 dev br0
ip link set br0 up
for i in 0 1; do
  ip netns add "${hosts[$i]}"
  ip link add "bmshot$i" type veth peer name eth0 netns "${hosts[$i]}"
  ip link set "bmshot$i" master br0 up
  ip -n "${hosts[$i]}" addr add "10.77.0.$((i + 1))/24" broadcast 10.77.0.255 dev eth0
  ip -n "${hosts[$i]}" link set eth0 up
done
mkdir -p /tmp/.X11-unix && mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display") XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
ip netns exec "${hosts[0]}" "$build_dir/tools/server/brassmoor-server" --bots 5 --name "Friday LAN at Ana's" \
  >/dev/null &
pids+=($!)
ip netns exec "${hosts[1]}" "$build_dir/tools/server/brassmoor-server" --bots 2 --name "Workshop server" >/dev/null &
pids+=($!)
PATH=$build_dir/src/app:$PATH "$build_dir/tools/launcher/brassmoor-play" >"$work/found" &
pids+=($!)
for _ in $(seq 100); do [ "$(grep -c '^found' "$work/found")" -ge 2 ] && break; sleep 0.1; done
sleep 0.5  # a frame or two to draw what was found
import -window root -crop 760x460+0+0 "$out"
echo "wrote $out"
