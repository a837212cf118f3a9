#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Brassmoor needs.
# Idempotent: when everything is already there it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  # The combining marks a server's name is checked against (tools/common/combining_marks.py).
  unicode-data
  libglfw3-dev libgl1-mesa-dev libgl1-mesa-dri python3-glad
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev llvm-14
  # The launcher's window (Dear ImGui; libstb0 comes with it) and the font it draws in.
  libimgui-dev fonts-dejavu-core
  # The desktop's message box for a failure nobody's terminal shows (the launcher's test looks for it).
  zenity
  xvfb xauth x11-utils xdotool python3-xlib python3-pytest imagemagick apitrace
  # The Debian packages: icon rendering, manual pages, packaging, their checks and the install test;
  # the software-centre check, and the container with a real systemd for the service's test.
  librsvg2-bin man-db dpkg-dev lintian desktop-file-utils dpkg-repack
  appstream systemd-container iproute2 procps
  # Captures read back through the Wireshark dissector in the traffic tests.
  tshark
  # The server's container image (scripts/build-image.sh) and its test under podman: Debian's
  # libraries unpacked by mmdebstrap, the image made by buildah, run by podman with runc, CNI's
  # bridge and port mapping (iptables) and catatonit in the pause container of `podman kube play`;
  # the test reads the manifests with python3-yaml.
  mmdebstrap buildah podman runc catatonit iptables containernetworking-plugins python3-yaml
  # The server's --metrics and sidecar calls (prometheus-cpp's text format, civetweb's HTTP server
  # and client), and Debian's Prometheus and promtool, which scrape and lint it in the tests.
  prometheus-cpp-dev libcivetweb-dev prometheus
  # HTTP and HTTPS to list servers (the server's announcements, the launcher's lists), and the JSON
  # their answers are read from.
  libcurl4-openssl-dev nlohmann-json3-dev
  # The list server: Redis's client library, and in its tests a real Redis, headless Chromium
  # rendering its page and curl announcing from a game server's namespace.
  libhiredis-dev redis-server chromium curl
  # The launcher asks the home router to forward the hosted game's port (UPnP IGD, NAT-PMP); its
  # test runs Debian's miniupnpd on nftables in a router namespace.
  libminiupnpc-dev libnatpmp-dev miniupnpd-nftables nftables
  # The list's benchmark (scripts/bench-list.sh): wrk, against the list and against nginx serving the
  # same bytes.
  wrk nginx
)

# Optional, only with --cross-windows: the mingw-w64 compiler, the icon writer and NSIS for the
# Windows build (scripts/build-windows.sh), and wine (64-bit only) to run its tests
# (scripts/check-windows.sh). Nothing else needs them.
optional_cross_windows=(g++-mingw-w64-x86-64 icoutils nsis wine wine64 libwine)
if [ "${1:-}" = "--cross-windows" ]; then
  packages+=("${optional_cross_windows[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
