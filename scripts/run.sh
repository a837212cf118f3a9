#!/usr/bin/env bash
# Sets up, builds and runs the client. Arguments go to the client (a server's IPv4 address).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/build.sh"
exec "$build_dir/src/app/brassmoor" "$@"
