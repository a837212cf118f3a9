#!/usr/bin/env bash
# Sets up, builds and runs every test: unit, GL and black-box tests (under private virtual X
# servers), then the sanitizer build with its leak check, a bounded run of each fuzz target (30 s
# each, or $FUZZ_SECONDS), and the Windows build (mingw-w64, the zip, the installer) with its unit,
# black-box and installer tests run under wine.
# Last, the two Debian packages are built, checked, installed, run and purged, and the server's
# service is run under a real systemd in a throwaway container (scripts/check-package.sh); and the
# server's container image is built twice (one digest) and run under podman (scripts/check-image.sh).
# Usage: scripts/test.sh            everything
#        scripts/test.sh --quick    only the main build's tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/build.sh"
rm -f "$build_dir/soak-report.txt"
ctest --test-dir "$build_dir" -j2 --output-on-failure
# The soak's figures (tests/soak) for the log: CTest shows a passing test's output to nobody.
if [ -f "$build_dir/soak-report.txt" ]; then
  cat "$build_dir/soak-report.txt"
fi
if [ "${1:-}" = "--quick" ]; then
  exit 0
fi

echo "== sanitizers (AddressSanitizer, UndefinedBehaviorSanitizer, leak check)"
BUILD_DIR= "$root/scripts/check-sanitizers.sh"
echo "== fuzzing the snapshot drain, the server's registry and its choice of players, the list's input, ${FUZZ_SECONDS:-30} s each"
BUILD_DIR= "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-30}"
echo "== the Windows programs under wine"
BUILD_DIR= "$root/scripts/check-windows.sh"
echo "== the Debian packages (lintian, metainfo, units, install, run, purge; the service under systemd)"
BUILD_DIR= "$root/scripts/check-package.sh"
echo "== the container image (two builds, one digest; the Kubernetes manifest under podman)"
BUILD_DIR= BRASSMOOR_CLIENT="$build_dir/src/app/brassmoor" "$root/scripts/check-image.sh"
