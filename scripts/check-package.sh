#!/usr/bin/env bash
# Builds the two Debian packages and checks them as players and hosts meet them: lintian, their
# fields and files, the menu entry, the software-centre entry, the manual pages, the service's units
# (systemd-analyze verify and security); then an install on this machine with apt-get, the installed
# programs started by name under a virtual X server, and a purge that leaves nothing behind; and the
# service under a real systemd in a throwaway container, played against by the real client.
# The machine's packages are put back as they were found.
#
#   scripts/check-package.sh     needs root (it installs and removes the packages)
#
# The checks run in a private network namespace of their own, so UDP port 40123 stays theirs.
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
  echo "check-package.sh: needs root, to install and remove the packages" >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "$root/scripts/package-deb.sh" >"$log" 2>&1; then
  echo "check-package.sh: building the packages failed:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
client_deb=$(tail -n 2 "$log" | head -n 1)
server_deb=$(tail -n 1 "$log")
echo "   built $client_deb and $server_deb in $((SECONDS - started)) s"
checked=$SECONDS
# The container of the service test shares the network namespace it is started from. In a network
# of their own the virtual X servers are all display :0, so they get a folder of sockets of their own.
BRASSMOOR_DEB="$client_deb" BRASSMOOR_SERVER_DEB="$server_deb" unshare -n -m --propagation private sh -c '
  ip link set lo up && mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix &&
  mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix &&
  exec /usr/bin/python3 -m pytest -q -rA -p no:cacheprovider "$@"' check-package \
  "$root/tests/install/package_test.py" "$root/tests/install/service_test.py"
echo "   checked in $((SECONDS - checked)) s"
