#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: lintian, its fields and files,
# the menu entry and manual pages, then an install on this machine with apt-get, the installed
# programs started by name under a virtual X server, man finding the page, and a purge that
# leaves nothing behind. The machine's packages are put back as they were found.
#
#   scripts/check-package.sh     needs root (it installs and removes the package)
#
# Uses UDP port 40123 on loopback for a few seconds: run it where nothing else plays on that port
# (or inside a private network namespace: unshare -n).
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,11s/^# \{0,1\}//p' "$0"
  exit 0
fi
if [ "$#" -gt 0 ]; then
  echo "check-package.sh: unexpected argument '$1' (try --help)" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "check-package.sh: needs root, to install and remove the package" >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "$root/scripts/package-deb.sh" >"$log" 2>&1; then
  echo "check-package.sh: building the package failed:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
deb=$(tail -n 1 "$log")
echo "   built $deb in $((SECONDS - started)) s"
checked=$SECONDS
BRASSMOOR_DEB="$deb" /usr/bin/python3 -m pytest -q -rA -p no:cacheprovider "$root/tests/install/package_test.py"
echo "   checked in $((SECONDS - checked)) s"
