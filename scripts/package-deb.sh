#!/usr/bin/env bash
# Builds the two Debian packages with CPack, from one release build in build-deb/ (or $BUILD_DIR)
# installed under /usr: dist/brassmoor_<version>_amd64.deb for players and
# dist/brassmoor-server_<version>_amd64.deb for hosts.
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'USAGE'
Usage: scripts/package-deb.sh
Builds the programs for installing under /usr and writes two Debian packages:
  dist/brassmoor_<version>_amd64.deb         the game, its launcher and menu entry (players)
  dist/brassmoor-server_<version>_amd64.deb  the server as a system service, and the relay (hosts)
The build lives in build-deb/ (or $BUILD_DIR); the last two lines printed name the packages.
Install with: apt-get install ./dist/brassmoor_<version>_amd64.deb
USAGE
  exit 0
fi
if [ "$#" -gt 0 ]; then
  echo "package-deb.sh: unexpected argument '$1' (try --help)" >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-deb}
dist_dir=$root/dist

"$root/scripts/install-deps.sh"
# Debian's own compiler and linker flags (optimisation, hardening), as its packages are built;
# from the source folder, so the recorded paths are relative to it.
cd "$root"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DBUILD_TESTING=OFF -DBRASSMOOR_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" -j2

# CPack stages the install inside the build directory; only the packages go to dist/.
rm -f "$build_dir"/brassmoor*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
mkdir -p "$dist_dir"
for name in brassmoor brassmoor-server; do
  package=$(find "$build_dir" -maxdepth 1 -name "${name}_*.deb")
  if [ -z "$package" ] || [ "$(printf '%s\n' "$package" | wc -l)" -ne 1 ]; then
    echo "package-deb.sh: cpack did not write exactly one package $name into $build_dir" >&2
    exit 1
  fi
  cp "$package" "$dist_dir/"
  echo "$dist_dir/$(basename "$package")"
done
