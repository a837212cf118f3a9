#!/usr/bin/env bash
# Soaks the real client against the real server with 20 simulated players through brassmoor-relay
# at a bad network's settings (tests/soak), then prints the figures: title samples and the share
# showing all 20 others, the longest gap between title changes, memory growth, pose rates and the
# relay's and server's counters.
# Usage: scripts/soak.sh [SECONDS]   (default 60; the last 10 s are clean; 600 is a ten-minute run;
#        $BUILD_DIR overrides build/, $SOAK_SEED the relay's seed)
# As root the soak runs in a network namespace of its own, so it may run beside other tests.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
seconds=${1:-60}
case "$seconds" in
  -h | --help)
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
    exit 0
    ;;
esac
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 20 ]; then
  echo "soak: SECONDS must be a whole number of at least 20, not '$seconds' (try --help)" >&2
  exit 2
fi

"$root/scripts/build.sh" >/dev/null || exit 1
log="$build_dir/soak.log"
echo "soaking for $seconds s (log: $log)"
BRASSMOOR_CLIENT="$build_dir/src/app/brassmoor" BRASSMOOR_SERVER="$build_dir/tools/server/brassmoor-server" \
  BRASSMOOR_RELAY="$build_dir/tools/relay/brassmoor-relay" SOAK_SECONDS="$seconds" \
  SOAK_REPORT="$build_dir/soak-report.txt" \
  /usr/bin/python3 -m pytest -q -s -p no:cacheprovider "$root/tests/soak/soak_test.py" >"$log" 2>&1
status=$?
grep '^\[soak\]' "$log"
if [ $status -ne 0 ]; then
  echo "soak: FAILED; the end of $log:" >&2
  tail -n 40 "$log" >&2
else
  echo "soak: passed"
fi
exit $status
