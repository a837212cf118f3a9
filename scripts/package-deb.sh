#!/usr/bin/env bash
# Builds the Debian package dist/brassmoor_<version>_amd64.deb with CPack, from a release build
# of the client and server in build-deb/ (or $BUILD_DIR) installed under /usr.
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'USAGE'
Usage: scripts/package-deb.sh
Builds the client and server for installing under /usr and writes the Debian package to
dist/brassmoor_<version>_amd64.deb. The build lives in build-deb/ (or $BUILD_DIR).
Install it with: apt-get install ./dist/brassmoor_<version>_amd64.deb
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

# CPack stages the install inside the build directory; only the package goes to dist/.
rm -f "$build_dir"/brassmoor_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
mkdir -p "$dist_dir"
shopt -s nullglob
packages=("$build_dir"/brassmoor_*.deb)
if [ "${#packages[@]}" -ne 1 ]; then
  echo "package-deb.sh: cpack did not leave exactly one package in $build_dir" >&2
  exit 1
fi
cp "${packages[0]}" "$dist_dir/"
echo "$dist_dir/$(basename "${packages[0]}")"
