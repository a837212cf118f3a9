#!/usr/bin/env bash
# Builds the container images of the game server and of the list server,
# dist/brassmoor-server-<version>-oci.tar and dist/brassmoor-list-<version>-oci.tar (OCI archives
# tagged localhost/brassmoor-server:<version> and localhost/brassmoor-list:<version>), from Debian's
# packages and this project's build.
#
# Each program is an ordinary dynamically linked program, and its image holds the Debian runtime
# libraries it loads, unpacked by `mmdebstrap --variant=extract` (no package scripts, no dpkg, no
# apt, no shell: only the files), the way distroless images are made from Debian. A static program
# on an empty base would be smaller but cannot be: static glibc has no getaddrinfo or user look-ups,
# and the programs link Debian's prometheus-cpp, civetweb, libcurl and hiredis as shared libraries.
# The libraries are found from each program itself (every library it loads, owned by which package
# on this machine), so a new library reaches the image without a change here. Both programs are
# built in one run and the union of their packages is unpacked once; each image then takes only the
# libraries its own program loads, with their packages' copyright files.
#
# The server may announce itself over HTTPS (--list-server), so its image carries the certificate
# authorities of Debian's ca-certificates as the bundle update-ca-certificates would make of them
# (whose script the extract does not run). The list makes no TLS connection and has none.
#
# Reproducible: two builds of one commit give the same image digest, as long as Debian's archive
# serves the same package versions. Every time stamp comes from the commit (SOURCE_DATE_EPOCH),
# files are owned by root with fixed times, and no log, cache or apt state is kept. buildah and
# podman use a private configuration and storage in the build folder, never the machine's.
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'USAGE'
Usage: scripts/build-image.sh
Builds brassmoor-server and brassmoor-list for release, unpacks the Debian libraries they need and
writes two container images:
  dist/brassmoor-server-<version>-oci.tar   tagged localhost/brassmoor-server:<version>
  dist/brassmoor-list-<version>-oci.tar     tagged localhost/brassmoor-list:<version>
Needs root and Debian's archive (deb.debian.org, or $DEBIAN_MIRROR and $DEBIAN_SECURITY_MIRROR).
The build lives in build-image/ (or $BUILD_DIR), its private image storage in build-image/storage.
Load one with:  podman load -i dist/brassmoor-server-<version>-oci.tar
The last six lines printed are, for the server's image and then the list's, the archive, its size
and the image digest.
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
# Each image holds a program, its libraries and their licences: far less than this.
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

# The programs: Debian's compiler flags, as in the packages. The paths they record name neither the
# checkout nor the build folder, so that any checkout of a commit builds the same programs (the
# build ID sums them up even once the debug information is stripped).
echo "== building brassmoor-server and brassmoor-list $version ($revision)"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags="$(dpkg-buildflags --get CPPFLAGS) -ffile-prefix-map=$root=/src -ffile-prefix-map=$build_dir/program=/build"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  # No base folder, whatever ccache's own configuration says: with one, ccache hands the compiler the
  # sources' paths relative to the build folder, which the prefix maps above do not catch, and a
  # build in another folder gives another program.
  export CCACHE_BASEDIR=
fi
cmake -S "$root" -B "$build_dir/program" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DBUILD_TESTING=OFF -DBRASSMOOR_BUILD_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build_dir/program" -j2 --target brassmoor-server brassmoor-list >/dev/null
server_program=$build_dir/program/tools/server/brassmoor-server
list_program=$build_dir/program/tools/list/brassmoor-list

# Every library a program loads, the loader first, as this machine's loader finds them.
loaded_libraries() {
  ldd "$1" | awk '$1 ~ /^\/.*ld-linux/ { print $1 } $2 == "=>" && $3 ~ /^\// { print $3 }'
}
# The Debian packages owning every library a program loads (dpkg records /usr/lib or /lib).
library_packages() {
  local library owner
  while read -r library; do
    owner=$(dpkg -S "$library" 2>/dev/null || dpkg -S "${library#/usr}" 2>/dev/null \
            || dpkg -S "/usr$library" 2>/dev/null || true)
    if [ -z "$owner" ]; then
      echo "build-image.sh: no Debian package holds $library, which $(basename "$1") loads" >&2
      return 1
    fi
    echo "${owner%%:*}"
  done < <(loaded_libraries "$1") | sort -u
}
# (Each found apart first: a failure inside an array's assignment would not stop the script.)
found=$(library_packages "$server_program")
server_packages=($found ca-certificates)
found=$(library_packages "$list_program")
list_packages=($found)
packages=($(printf '%s\n' "${server_packages[@]}" "${list_packages[@]}" | sort -u))
echo "== unpacking ${packages[*]} (and what they depend on) from Debian's archive"

extract=$build_dir/extract
rm -rf "$extract" "$build_dir"/rootfs-*
mmdebstrap --quiet --variant=extract --mode=root --format=directory \
  --include="$(IFS=,; echo "${packages[*]}")" bookworm "$extract" \
  "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
  "deb $security_mirror bookworm-security main" </dev/null

# A path of the unpacked tree as this machine names it (with or without /usr, which are one here),
# and every link on the way to its file: each path printed relative to the tree.
unpacked_chain() {
  local path=$1 candidate target
  for candidate in "$path" "/usr$path" "${path#/usr}"; do
    if [ -e "$extract$candidate" ] || [ -L "$extract$candidate" ]; then
      path=$candidate
      while [ -L "$extract$path" ]; do
        echo "${path#/}"
        target=$(readlink "$extract$path")
        case $target in
          /*) path=$target ;;
          *) path=$(realpath -m -s "$(dirname "$path")/$target") ;;
        esac
      done
      echo "${path#/}"
      return 0
    fi
  done
  echo "build-image.sh: $path is not in the unpacked packages" >&2
  return 1
}

# One image's tree: the stripped program, the libraries it loads (links and files, nothing else:
# no gconv modules, docs, apt or dpkg state, /dev or /etc of the unpacked tree) and the copyright
# files of their packages.
make_rootfs() {
  local name=$1 program=$2 library package
  shift 2
  local tree=$build_dir/rootfs-$name
  mkdir -p "$tree/usr/games" "$tree/usr/share/doc/$name"
  {
    while read -r library; do
      unpacked_chain "$library"
    done < <(loaded_libraries "$program")
    for package in "$@"; do
      unpacked_chain "/usr/share/doc/$package/copyright"
    done
  } | sort -u | tar -C "$extract" --no-recursion -T - -cf - | tar -C "$tree" -xpf -
  strip --strip-all -o "$tree/usr/games/$name" "$program"
  cp "$root/packaging/linux/copyright" "$tree/usr/share/doc/$name/copyright"
}
make_rootfs brassmoor-server "$server_program" "${server_packages[@]}"
make_rootfs brassmoor-list "$list_program" "${list_packages[@]}"

# The server's certificate authorities, as update-ca-certificates bundles them by default: every
# certificate of the package, in the C locale's order of their paths, each ending in a newline.
certificates=$build_dir/rootfs-brassmoor-server/etc/ssl/certs
mkdir -p "$certificates"
(cd "$extract/usr/share/ca-certificates" && find . -type f -name '*.crt' | LC_ALL=C sort |
  while read -r certificate; do sed -e '$a\' "$certificate"; done) >"$certificates/ca-certificates.crt"
if ! grep -q -- '-----BEGIN CERTIFICATE-----' "$certificates/ca-certificates.crt"; then
  echo "build-image.sh: ca-certificates gave no certificate for the server's image" >&2
  exit 1
fi
for tree in "$build_dir"/rootfs-*; do
  chown -R 0:0 "$tree"
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
done

# The images, in private storage made afresh for each build; buildah commit fixes every time stamp.
# podman refuses a run root longer than 50 characters, so it lives in a short folder of its own
# rather than under the checkout, whose path may be of any length.
# make_image NAME DESCRIPTION ENTRYPOINT PORT...: localhost/NAME:VERSION from rootfs-NAME, saved as
# dist/NAME-VERSION-oci.tar.
make_image() {
  local name=$1 description=$2 entrypoint=$3 port ports=()
  shift 3
  for port in "$@"; do
    ports+=(--port "$port")
  done
  local image=localhost/$name:$version archive=$dist_dir/$name-$version-oci.tar
  local storage=(--root "$build_dir/storage/root" --runroot "$run_root" --storage-driver vfs)
  local container
  container=$(buildah "${storage[@]}" from --quiet --cni-config-dir "$build_dir/storage/networks" scratch)
  buildah "${storage[@]}" copy --quiet "$container" "$build_dir/rootfs-$name" / >/dev/null
  buildah "${storage[@]}" config \
    --entrypoint "$entrypoint" --cmd '[]' --user 65534:65534 --workingdir / \
    "${ports[@]}" --stop-signal SIGTERM \
    --label "org.opencontainers.image.title=$name" \
    --label "org.opencontainers.image.description=$description" \
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
# Container defaults: every address, the server's metrics on for the cluster's scraper; arguments in
# the manifest or after `podman run IMAGE` add to these.
make_images() {
  make_image brassmoor-server "Brassmoor game server: UDP 40123, metrics and health on TCP 40124" \
    '["/usr/games/brassmoor-server", "--bind", "0.0.0.0", "--metrics", "0.0.0.0:40124"]' 40123/udp 40124/tcp
  make_image brassmoor-list "Brassmoor list server: HTTP on TCP 8080, games checked over UDP 40123" \
    '["/usr/games/brassmoor-list", "--listen", "0.0.0.0:8080"]' 8080/tcp
}
export CONTAINERS_CONF=$root/packaging/container/containers.conf
run_root=$(mktemp -d /tmp/bm-run.XXXXXX)
trap 'rm -rf "$run_root"' EXIT
export build_dir version revision source_url dist_dir run_root
export -f make_image make_images
rm -rf "$build_dir/storage"
mkdir -p "$dist_dir"
rm -f "$dist_dir/brassmoor-server-$version-oci.tar" "$dist_dir/brassmoor-list-$version-oci.tar"
# As root, buildah and podman keep a cache of blob digests in /var/lib/containers whatever their
# storage: in a mount namespace of their own it lands in a throwaway /var/lib instead.
unshare -m --propagation private bash -euo pipefail -c 'mount -t tmpfs -o mode=755 tmpfs /var/lib && make_images'
for name in brassmoor-server brassmoor-list; do
  archive=$dist_dir/$name-$version-oci.tar
  digest=$(tar -xOf "$archive" index.json | sed -n 's/.*"digest":"\(sha256:[0-9a-f]*\)".*/\1/p')
  size=$(stat -c %s "$archive")
  if [ "$size" -gt "$max_image_bytes" ]; then
    echo "build-image.sh: the image $name is $size bytes, over the $max_image_bytes allowed" >&2
    exit 1
  fi
  echo "$archive"
  echo "size $size bytes"
  echo "digest $digest"
done
