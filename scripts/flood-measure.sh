#!/usr/bin/env bash
# Measures the client under a loopback datagram flood: frames and poses per second before, during
# and after, the longest frame gap, the send rate achieved, kernel drops and memory. Runs the flood
# test of tests/robustness with its figures shown, once with one sender and once with two.
# Usage: scripts/flood-measure.sh [SECONDS]   (flood length per profile, default 8;
#        $BUILD_DIR overrides build/, $BRASSMOOR_FLOOD_PROFILES picks profiles, e.g. "full")
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh" || exit 1
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build_dir" -j2 --target brassmoor >/dev/null || exit 1

selection=()
if [ -n "${BRASSMOOR_FLOOD_PROFILES:-}" ]; then
  selection=(-k "$(echo "$BRASSMOOR_FLOOD_PROFILES" | sed 's/ \+/ or /g')")
fi
status=0
for senders in 1 2; do
  echo "=== $senders sender process(es) on $(nproc) cores ==="
  # Assertions may fail when two senders hold the client's frames back; the figures still print.
  BRASSMOOR_CLIENT="$build_dir/src/app/brassmoor" BRASSMOOR_FLOOD_SENDERS=$senders \
    BRASSMOOR_FLOOD_SECONDS=${1:-8} /usr/bin/python3 -m pytest -q -s -p no:cacheprovider \
    "${selection[@]}" "$root/tests/robustness/flood_test.py" 2>&1 | grep -E '^\[flood|^ *(before|flood|after|rss):|passed|failed|Error' \
    || status=1
done
exit $status
