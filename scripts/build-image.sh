#!/usr/bin/env bash
# Builds the server's container image, dist/brassmoor-server-<version>-oci.tar (an OCI archive
# tagged localhost/brassmoor-server:<version>), from Debian's packages and this project's build.
#
# The server is an ordinary dynamically linked program, and its image holds the Debian runtime
# libraries it needs, unpacked by `mmdebstrap --variant=extract` (no package scripts, no dpkg, no
# apt, no shell: only the files), the way distroless images are made from Debian. A static program
# on an empty base would be smaller but cannot be: static glibc has no getaddrinfo or user look-ups,
# and the server links Debian's prometheus-cpp and civetweb as shared libraries. The packages are
# found from the program itself (every library it loads, owned by which package on this machine),
# so a new library in the server reaches the image without a change here.
#
# Reproducible: two builds of one commit give the same image digest, as long as Debian's archive
# serves the same package versions. Every time stamp comes from the commit (SOURCE_DATE_EPOCH),
# files are owned by root with fixed times, and no log, cache or apt state is kept. buildah and
# podman use a private configuration and storage in the build folder, never the machine's.
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'USAGE'
Usage: scripts/build-image.sh
Builds brassmoor-server for release, unpacks the Debian libraries it needs and writes the
container image dist/brassmoor-server-<version>-oci.tar, tagged localhost/brassmoor-server:<version>.
Needs root and Debian's archive (deb.debian.org, or $DEBIAN_MIRROR and $DEBIAN_SECURITY_MIRROR).
The build lives in build-image/ (or $BUILD_DIR), its private image storage in build-image/storage.
Load it with:  podman load -i dist/brassmoor-server-<version>-oci.tar
The last lines printed are the archive, its size and the image digest.
USAGE
  exit 0
fi
if [ "$#" -gt 0 ]; then
  echo "build-image.sh: unexpected argument '$1' (try --help)" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "build-image.sh: needs root (mmdebstrap and buildah run as root here)" >&2
  exit 1
fi

# The program is built against this system's libraries and run on Debian 12's (bookworm): on any
# other system it would find older or other libraries in its image and could not start.
os_id=$(. /etc/os-release 2>/dev/null && echo "${ID:-}:${VERSION_ID:-}")
if [ "$os_id" != "debian:12" ]; then
  os_name=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-}")
  echo "build-image.sh: the image holds Debian 12's libraries, so it is built on Debian 12, not on" \
    "${os_name:-this system (no /etc/os-release)}" >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-image}
dist_dir=$root/dist
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
# The image holds the program, its libraries and their licences: far less than this.
max_image_bytes=$((40 * 1000 * 1000))

"$root/scripts/install-deps.sh"
umask 022
version=$(sed -n 's/^project(Brassmoor VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ -z "$version" ]; then
  echo "build-image.sh: no version in project() of CMakeLists.txt" >&2
  exit 1
fi
revision=$(git -C "$root" rev-parse HEAD)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  revision="$revision-modified"
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
source_url=${BRASSMOOR_SOURCE_URL:-$(git -C "$root" config --get remote.origin.url || echo "https://brassmoor.invalid/source")}
image=localhost/brassmoor-server:$version
archive=$dist_dir/brassmoor-server-$version-oci.tar

# The program: Debian's compiler flags, as in the packages. The paths it records name neither the
# checkout nor the build folder, so that any checkout of a commit builds the same program (the
# build ID sums them up even once the debug information is stripped).
echo "== building brassmoor-server $version ($revision)"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags="$(dpkg-buildflags --get CPPFLAGS) -ffile-prefix-map=$root=/src -ffile-prefix-map=$build_dir/program=/build"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build_dir/program" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DBUILD_TESTING=OFF -DBRASSMOOR_BUILD_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build_dir/program" -j2 --target brassmoor-server >/dev/null
program=$build_dir/program/tools/server/brassmoor-server

# The Debian packages owning every library the program loads (dpkg records /usr/lib or /lib).
packages=()
while read -r library; do
  owner=$(dpkg -S "$library" 2>/dev/null || dpkg -S "${library#/usr}" 2>/dev/null \
          || dpkg -S "/usr$library" 2>/dev/null || true)
  if [ -z "$owner" ]; then
    echo "build-image.sh: no Debian package holds $library, which brassmoor-server loads" >&2
    exit 1
  fi
  packages+=("${owner%%:*}")
done < <(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\/.*ld-linux/ { print $1 }')
packages=($(printf '%s\n' "${packages[@]}" | sort -u))
echo "== unpacking ${packages[*]} (and what they depend on) from Debian's archive"

rm -rf "$build_dir/extract" "$build_dir/rootfs"
mmdebstrap --quiet --variant=extract --mode=root --format=directory \
  --include="$(IFS=,; echo "${packages[*]}")" bookworm "$build_dir/extract" \
  "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
  "deb $security_mirror bookworm-security main" </dev/null

# Only the shared libraries, the loader and the licences go into the image: no gconv modules,
# docs, apt or dpkg state, /dev or /etc of the unpacked tree.
rootfs=$build_dir/rootfs
mkdir -p "$rootfs/usr/games" "$rootfs/usr/share/doc/brassmoor-server"
(cd "$build_dir/extract" &&
  find lib lib64 usr/lib -maxdepth 2 \( -name '*.so*' -o -name 'ld-linux*' \) \( -type f -o -type l \) \
    ! -path '*/gconv/*' -print0 &&
  find usr/share/doc -mindepth 1 -maxdepth 2 \( -name copyright -o -type l \) -print0) |
  tar -C "$build_dir/extract" --null --no-recursion -T - -cf - | tar -C "$rootfs" -xpf -
strip --strip-all -o "$rootfs/usr/games/brassmoor-server" "$program"
cp "$root/packaging/linux/copyright" "$rootfs/usr/share/doc/brassmoor-server/copyright"
chown -R 0:0 "$rootfs"
find "$rootfs" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# The image, in private storage made afresh for each build; buildah commit fixes every time stamp.
# podman refuses a run root longer than 50 characters, so it lives in a short folder of its own
# rather than under the checkout, whose path may be of any length.
make_image() {
  local storage=(--root "$build_dir/storage/root" --runroot "$run_root" --storage-driver vfs)
  local container
  container=$(buildah "${storage[@]}" from --quiet --cni-config-dir "$build_dir/storage/networks" scratch)
  buildah "${storage[@]}" copy --quiet "$container" "$rootfs" / >/dev/null
  # Container defaults: every address, metrics on for the cluster's scraper; arguments in the
  # manifest or after `podman run IMAGE` add to these.
  buildah "${storage[@]}" config \
    --entrypoint '["/usr/games/brassmoor-server", "--bind", "0.0.0.0", "--metrics", "0.0.0.0:40124"]' \
    --cmd '[]' --user 65534:65534 --workingdir / \
    --port 40123/udp --port 40124/tcp --stop-signal SIGTERM \
    --label org.opencontainers.image.title=brassmoor-server \
    --label "org.opencontainers.image.description=Brassmoor game server: UDP 40123, metrics and health on TCP 40124" \
    --label "org.opencontainers.image.version=$version" \
    --label "org.opencontainers.image.revision=$revision" \
    --label "org.opencontainers.image.source=$source_url" \
    --label "org.opencontainers.image.licenses=LicenseRef-Brassmoor-all-rights-reserved" \
    --label "org.opencontainers.image.created=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)" \
    "$container"
  buildah "${storage[@]}" commit --quiet --format oci --omit-history --identity-label=false \
    --rm --timestamp "$SOURCE_DATE_EPOCH" "$container" "$image" >/dev/null
  podman "${storage[@]}" --tmpdir "$build_dir/storage/tmp" --network-config-dir "$build_dir/storage/networks" \
    save --quiet --format oci-archive -o "$archive" "$image"
}
export CONTAINERS_CONF=$root/packaging/container/containers.conf
run_root=$(mktemp -d /tmp/bm-run.XXXXXX)
trap 'rm -rf "$run_root"' EXIT
export build_dir rootfs version revision source_url image archive run_root
export -f make_image
rm -rf "$build_dir/storage"
mkdir -p "$dist_dir"
rm -f "$archive"
# As root, buildah and podman keep a cache of blob digests in /var/lib/containers whatever their
# storage: in a mount namespace of their own it lands in a throwaway /var/lib instead.
unshare -m --propagation private bash -euo pipefail -c 'mount -t tmpfs -o mode=755 tmpfs /var/lib && make_image'
digest=$(tar -xOf "$archive" index.json | sed -n 's/.*"digest":"\(sha256:[0-9a-f]*\)".*/\1/p')
size=$(stat -c %s "$archive")
if [ "$size" -gt "$max_image_bytes" ]; then
  echo "build-image.sh: the image is $size bytes, over the $max_image_bytes allowed" >&2
  exit 1
fi
echo "$archive"
echo "size $size bytes"
echo "digest $digest"
