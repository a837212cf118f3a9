#!/usr/bin/env bash
# Builds the container images of the server and the list twice and checks that both builds give
# the same digests, then runs them as a cluster would under podman (tests/container/image_test.py):
# the server's Kubernetes manifest played by `podman kube play`, the real game program against it
# through the hostPort, /metrics and /healthz, the server's confinement, and nothing left after
# `podman kube down`; the list's image answering /healthz and /v1/games, confined as its manifest asks.
#
#   scripts/check-image.sh     needs root; the client from build/ (or $BRASSMOOR_CLIENT)
#
# The test runs in a network namespace of its own (UDP port 40123 and TCP 40124 stay its own) and a
# mount namespace whose /run and /var/lib are throwaway, so podman's network state, locks and caches
# never reach the machine's.
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,13s/^# \{0,1\}//p' "$0"
  exit 0
fi
if [ "$#" -gt 0 ]; then
  echo "check-image.sh: unexpected argument '$1' (try --help)" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "check-image.sh: needs root, for mmdebstrap, buildah and podman" >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
image_build=${BUILD_DIR:-$root/build-image}
client=${BRASSMOOR_CLIENT:-$root/build/src/app/brassmoor}
if [ ! -x "$client" ]; then
  echo "check-image.sh: no game program at $client (run scripts/build.sh first)" >&2
  exit 1
fi
log=$(mktemp)
# podman refuses a run root longer than 50 characters: the test's is a short folder of its own,
# whatever the checkout's path.
run_root=$(mktemp -d /tmp/bm-run.XXXXXX)
trap 'rm -f "$log"; rm -rf "$run_root"' EXIT

# The second build starts from nothing in a folder of its own: the programs compiled again, the
# libraries fetched again, fresh image storage. Each build prints, per image, its archive, size and
# digest.
digests=()
for build in 1 2; do
  started=$SECONDS
  folder=$image_build
  if [ "$build" = 2 ]; then
    folder=$image_build/again
    rm -rf "$folder"
  fi
  if ! BUILD_DIR=$folder "$root/scripts/build-image.sh" >"$log" 2>&1; then
    echo "check-image.sh: building the image failed:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
  mapfile -t printed < <(tail -n 6 "$log")
  server_archive=${printed[0]}
  list_archive=${printed[3]}
  digests+=("${printed[2]#digest } ${printed[5]#digest }")
  echo "   build $build in $((SECONDS - started)) s: server ${printed[2]#digest }, ${printed[1]#size }," \
    "list ${printed[5]#digest }, ${printed[4]#size }"
done
if [ "${digests[0]}" != "${digests[1]}" ]; then
  echo "check-image.sh: two builds of one commit gave different images: ${digests[0]} / ${digests[1]}" >&2
  exit 1
fi

started=$SECONDS
BRASSMOOR_IMAGE_ARCHIVE="$server_archive" BRASSMOOR_LIST_IMAGE_ARCHIVE="$list_archive" \
  BRASSMOOR_PODMAN_DIR="$image_build/test-storage" BRASSMOOR_PODMAN_RUN_ROOT="$run_root" BRASSMOOR_CLIENT="$client" \
  unshare -n -m --propagation private sh -c '
  ip link set lo up && mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix &&
  mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix &&
  mount -t tmpfs -o mode=755 tmpfs /run && mount -t tmpfs -o mode=755 tmpfs /var/lib &&
  exec /usr/bin/python3 -m pytest -q -rA -p no:cacheprovider "$@"' check-image "$root/tests/container/image_test.py"
echo "   ran under podman in $((SECONDS - started)) s"
