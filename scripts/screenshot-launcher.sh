#!/usr/bin/env bash
# The README's picture of the launcher's window: two named LAN games, each served from a network
# namespace of its own on a bridge, found by broadcast; and two games on the "Internet" behind a
# router namespace, listed by a real brassmoor-list on a real Redis, under a private virtual X server.
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
router=bm-shot-router-$$
internet=(bm-shot-list-$$ bm-shot-c-$$ bm-shot-d-$$)
list_url=http://198.51.100.10:8080
pids=()
cleanup() {
  # The last started first: the launcher before the X server it draws on.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  for host in "${hosts[@]}" "${internet[@]}" "$router"; do ip netns del "$host" 2>/dev/null || true; done
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
# The Internet: this side 203.0.113.0/24 through a router to 198.51.100.0/24, where the list and the
# public games are.
ip netns add "$router"
ip netns exec "$router" sysctl -q net.ipv4.ip_forward=1
ip link add bmshotw type veth peer name eth0 netns "$router"
ip addr add 203.0.113.50/24 dev bmshotw
ip link set bmshotw up
ip route add default via 203.0.113.1
ip -n "$router" addr add 203.0.113.1/24 dev eth0
ip -n "$router" link set eth0 up
ip -n "$router" link add br1 type bridge
ip -n "$router" addr add 198.51.100.1/24 dev br1
ip -n "$router" link set br1 up
for i in 0 1 2; do
  ip netns add "${internet[$i]}"
  ip -n "$router" link add "v$i" type veth peer name eth0 netns "${internet[$i]}"
  ip -n "$router" link set "v$i" master br1 up
  ip -n "${internet[$i]}" addr add "198.51.100.$((10 * i + 10))/24" dev eth0
  ip -n "${internet[$i]}" link set eth0 up
  ip -n "${internet[$i]}" link set lo up
  ip -n "${internet[$i]}" route add default via 198.51.100.1
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
ip netns exec "${internet[0]}" redis-server --port 0 --unixsocket "$work/redis.sock" --save '' --dir "$work" \
  >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/redis.sock" ] && break; sleep 0.1; done
ip netns exec "${internet[0]}" "$build_dir/tools/list/brassmoor-list" --listen 198.51.100.10:8080 \
  --redis "unix:$work/redis.sock" >/dev/null &
pids+=($!)
sleep 0.5
ip netns exec "${internet[1]}" "$build_dir/tools/server/brassmoor-server" --bots 7 --name "Across the sea" \
  --list-server "$list_url" >/dev/null &
pids+=($!)
ip netns exec "${internet[2]}" "$build_dir/tools/server/brassmoor-server" --bots 1 --name "Night owls" \
  --list-server "$list_url" >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ "$(curl -s "$list_url/v1/games" | grep -o '"address"' | wc -l)" -ge 2 ] && break; sleep 0.1; done
PATH=$build_dir/src/app:$PATH "$build_dir/tools/launcher/brassmoor-play" --list-server "$list_url" >"$work/found" &
pids+=($!)
for _ in $(seq 100); do [ "$(grep -c '^found' "$work/found")" -ge 4 ] && break; sleep 0.1; done
sleep 0.5  # a frame or two to draw what was found
import -window root -crop 860x520+0+0 "$out"
echo "wrote $out"
