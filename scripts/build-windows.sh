#!/usr/bin/env bash
# Builds the Windows programs with mingw-w64 and writes the two releases into dist/: the portable
# brassmoor-<version>-win64.zip and the installer brassmoor-<version>-win64-setup.exe (NSIS).
#
#   scripts/build-windows.sh            the programs, the zip and the installer
#   scripts/build-windows.sh --tests    the same, plus GoogleTest and the tests that
#                                       scripts/check-windows.sh runs under wine
#
# Everything goes into build-windows/ (or $WINDOWS_BUILD_DIR): GLFW 3.3.8, Dear ImGui 1.86 and
# miniupnpc 2.2.4 from Debian's glfw3, imgui and miniupnpc source packages, built static; the project built static, so the
# programs need nothing but Windows' own DLLs (checked with objdump). Every program carries the
# icon and a version resource. Installs what it needs first (scripts/install-deps.sh --cross-windows). A second run
# reuses what the first fetched and built.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${WINDOWS_BUILD_DIR:-$root/build-windows}"
toolchain="$root/cmake/mingw-w64-posix.toolchain.cmake"
logs="$build/logs"
glfw_version=3.3.8

with_tests=0
case "${1:-}" in
  "") ;;
  --tests) with_tests=1 ;;
  -h | --help)
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
    exit 0
    ;;
  *)
    echo "build-windows: unknown option '$1' (try --help)" >&2
    exit 2
    ;;
esac

# shellcheck source=steps.sh
source "$root/scripts/steps.sh"

mkdir -p "$logs"

phase "packages (mingw-w64, wine)"
run_logged "$logs/install-deps.log" "$root/scripts/install-deps.sh" --cross-windows
grep '^installing:' "$logs/install-deps.log" | sed 's/^/   /' || true
phase_done

# --- GLFW from Debian's source package -------------------------------------------------------

glfw_source="$build/glfw-source/glfw3-$glfw_version"
glfw_build="$build/glfw"
glfw_prefix="$build/glfw-prefix"

# The archive and suite of the machine's own Debian sources (the main suite, not -updates or
# -security), as apt itself reads them from sources.list or sources.list.d.
debian_archive() {
  apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
    awk '$2 !~ /[-\/]/ { print; exit }'
}

# Debian's source packages come through an apt configuration of its own inside the build folder:
# its own sources list (one deb-src line), state and cache. The machine's apt configuration is
# read (keys, proxies) but never changed. apt checks the Sources index against the archive's
# signed Release file with the machine's archive keys, and every downloaded file against the
# hashes in that index; dpkg-source then checks them against the .dsc once more as it unpacks.
apt="$build/apt"
apt_options=(
  -o "Dir::Etc::SourceList=$apt/sources.list"
  -o "Dir::Etc::SourceParts=-"
  -o "Dir::State=$apt/state"
  -o "Dir::Cache=$apt/cache"
)
apt_updated=0

# fetch_debian_source PACKAGE FOLDER: unpacks Debian's source package PACKAGE into FOLDER; the
# Sources index is fetched once a run, when the first package is.
fetch_debian_source() {
  local package="$1" folder="$2"
  if [ "$apt_updated" -eq 0 ]; then
    local archive suite
    read -r archive suite < <(debian_archive) || true
    if [ -z "${archive:-}" ] || [ -z "${suite:-}" ]; then
      echo "build-windows: no Debian archive found in this machine's apt sources" >&2
      exit 1
    fi
    echo "   deb-src $archive $suite main"
    mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial"
    echo "deb-src $archive $suite main" >"$apt/sources.list"
    chown_for_apt "$apt/state/lists/partial" "$apt/cache/archives/partial"
    # Without --error-on=any a failed download is only a warning, and the source is then "not found".
    run_logged "$logs/apt-update.log" apt-get "${apt_options[@]}" update --error-on=any
    apt_updated=1
  fi
  mkdir -p "$folder"
  chown_for_apt "$folder"
  (cd "$folder" && run_logged "$logs/$package-apt-source.log" apt-get "${apt_options[@]}" source "$package")
}

# apt downloads as its unprivileged user when run as root; let it write where it downloads.
chown_for_apt() {
  if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
    chown _apt "$@"
  fi
}

# source_package PACKAGE WHAT FOLDER SOURCE MARKER: Debian's source package PACKAGE unpacked into
# FOLDER, unless SOURCE/MARKER is there from before; it must unpack as SOURCE (WHAT, the version
# this script builds), or the script stops.
source_package() {
  local package="$1" what="$2" folder="$3" source="$4" marker="$5"
  if [ -f "$source/$marker" ]; then
    echo "   source fetched before: $source"
    return
  fi
  fetch_debian_source "$package" "$folder"
  if [ ! -f "$source/$marker" ]; then
    echo "build-windows: Debian's $package source package is not $what:" >&2
    ls "$folder" >&2
    exit 1
  fi
}

# cmake_install NAME SOURCE BUILD PREFIX MARKER [OPTION...]: configures SOURCE for mingw-w64 with the
# OPTIONs, builds it in BUILD and installs it into PREFIX, unless PREFIX/MARKER is there from before.
cmake_install() {
  local name="$1" source="$2" build_folder="$3" prefix="$4" marker="$5"
  shift 5
  if [ -f "$prefix/$marker" ]; then
    echo "   built before: $prefix"
    return
  fi
  run_logged "$logs/$name-configure.log" \
    cmake -S "$source" -B "$build_folder" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  run_logged "$logs/$name-build.log" cmake --build "$build_folder" -j2
  run_logged "$logs/$name-install.log" cmake --install "$build_folder"
}

phase "GLFW $glfw_version for mingw-w64 (Debian source package glfw3)"
source_package glfw3 "GLFW $glfw_version" "$build/glfw-source" "$glfw_source" CMakeLists.txt
cmake_install glfw "$glfw_source" "$glfw_build" "$glfw_prefix" lib/cmake/glfw3/glfw3Config.cmake \
  -DBUILD_SHARED_LIBS=OFF -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF
phase_done

# --- Dear ImGui from Debian's source package, against that GLFW ---------------------------------

imgui_version=1.86
imgui_source="$build/imgui-source/imgui-$imgui_version+ds"
imgui_objects="$build/imgui"
imgui_prefix="$build/imgui-prefix"
# What the launcher's window uses: the core, tables, widgets and drawing (with the stb font and
# rectangle packing that ImGui carries), and the GLFW and OpenGL 3 backends. The OpenGL 3 backend
# loads GL itself.
imgui_files=(imgui.cpp imgui_draw.cpp imgui_tables.cpp imgui_widgets.cpp
  backends/imgui_impl_glfw.cpp backends/imgui_impl_opengl3.cpp)

phase "Dear ImGui $imgui_version for mingw-w64 (Debian source package imgui)"
source_package imgui "Dear ImGui $imgui_version" "$build/imgui-source" "$imgui_source" imgui.h
if [ ! -f "$imgui_prefix/lib/libimgui.a" ]; then
  rm -rf "$imgui_objects" "$imgui_prefix"
  mkdir -p "$imgui_objects" "$imgui_prefix/lib" "$imgui_prefix/include/imgui/backends"
  # Two at a time, like the rest of the build; each object named after its source file.
  printf '%s\n' "${imgui_files[@]}" |
    run_logged "$logs/imgui-build.log" xargs -P 2 -I {} sh -c \
      'x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -g -I"$1" -I"$2/include" -c "$1/{}" -o "$3/$(basename {} .cpp).o"' \
      sh "$imgui_source" "$glfw_prefix" "$imgui_objects"
  run_logged "$logs/imgui-archive.log" x86_64-w64-mingw32-ar rcs "$imgui_prefix/lib/libimgui.a" "$imgui_objects"/*.o
  # The headers laid out as Debian's libimgui-dev has them: include/imgui, include/imgui/backends.
  cp "$imgui_source"/*.h "$imgui_prefix/include/imgui/"
  cp "$imgui_source"/backends/imgui_impl_glfw.h "$imgui_source"/backends/imgui_impl_opengl3*.h \
    "$imgui_prefix/include/imgui/backends/"
else
  echo "   built before: $imgui_prefix"
fi
phase_done

# --- miniupnpc from Debian's source package, for the launcher's port mapping --------------------

# NAT-PMP's libnatpmp is another source package, not built here: the Windows launcher asks routers
# through UPnP IGD alone.
miniupnpc_version=2.2.4
miniupnpc_source="$build/miniupnpc-source/miniupnpc-$miniupnpc_version"
miniupnpc_build="$build/miniupnpc"
miniupnpc_prefix="$build/miniupnpc-prefix"

phase "miniupnpc $miniupnpc_version for mingw-w64 (Debian source package miniupnpc)"
source_package miniupnpc "miniupnpc $miniupnpc_version" "$build/miniupnpc-source" "$miniupnpc_source" CMakeLists.txt
cmake_install miniupnpc "$miniupnpc_source" "$miniupnpc_build" "$miniupnpc_prefix" lib/libminiupnpc.a \
  -DUPNPC_BUILD_STATIC=ON -DUPNPC_BUILD_SHARED=OFF -DUPNPC_BUILD_TESTS=OFF -DUPNPC_BUILD_SAMPLE=OFF
phase_done

# --- GoogleTest, for the tests only ----------------------------------------------------------

gtest_build="$build/googletest"
gtest_prefix="$build/googletest-prefix"
testing_options=(-DBUILD_TESTING=OFF)
if [ "$with_tests" -eq 1 ]; then
  # Debian's GoogleTest sources, built with the cross compiler into the build folder, where the
  # project's find_package(GTest) picks them up.
  phase "googletest for mingw-w64 (/usr/src/googletest)"
  if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    run_logged "$logs/googletest-configure.log" \
      cmake -S /usr/src/googletest -B "$gtest_build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest_prefix"
    run_logged "$logs/googletest-build.log" cmake --build "$gtest_build" -j2
    run_logged "$logs/googletest-install.log" cmake --install "$gtest_build"
  else
    echo "   built before: $gtest_prefix"
  fi
  phase_done
  testing_options=(-DBUILD_TESTING=ON -DGTest_DIR="$gtest_prefix/lib/cmake/GTest")
fi

# --- The project ------------------------------------------------------------------------------

project_build="$build/brassmoor"
phase "cross build: the programs, the zip, the installer$([ "$with_tests" -eq 1 ] && echo ", tests")"
# A folder configured with another toolchain file (an older layout of this script) cannot be
# configured again; start it afresh.
if [ -f "$project_build/CMakeCache.txt" ] &&
  ! grep -qsF "include(\"$toolchain\")" "$project_build"/CMakeFiles/*/CMakeSystem.cmake; then
  rm -rf "$project_build"
fi
# -static takes libstdc++, libgcc and winpthread into the executables.
run_logged "$logs/configure.log" \
  cmake -S "$root" -B "$project_build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRASSMOOR_BUILD_CLIENT=ON -DBRASSMOOR_BUILD_BENCHMARKS=OFF \
    -Dglfw3_DIR="$glfw_prefix/lib/cmake/glfw3" -DBRASSMOOR_IMGUI_PREFIX="$imgui_prefix" \
    -DBRASSMOOR_MINIUPNPC_PREFIX="$miniupnpc_prefix" \
    -DCMAKE_EXE_LINKER_FLAGS=-static "${testing_options[@]}"
# The releases build every program they ship; the replayer, which they do not ship, is built to
# keep it compiling for Windows.
targets=(windows_release brassmoor-replay)
if [ "$with_tests" -eq 1 ]; then
  targets+=(windows_tests netsh_recorder)
fi
run_logged "$logs/build.log" cmake --build "$project_build" -j2 --target "${targets[@]}"
if grep -q 'warning:' "$logs/build.log"; then
  echo "compiler warnings:"
  grep 'warning:' "$logs/build.log"
fi
phase_done

phase "release"
# Only DLLs that every Windows has; anything else (a mingw runtime, a GLFW DLL) would have to
# travel with the programs.
system_dlls='^(kernel32|user32|gdi32|shell32|ws2_32|iphlpapi|winhttp|msvcrt|advapi32|ole32|oleaut32|imm32|winmm|opengl32|comdlg32|shlwapi|version|dwmapi|setupapi|cfgmgr32)\.dll$'
zip_name="$(cat "$project_build/package/zip-name.txt")"
installer_name="$(cat "$project_build/package/installer-name.txt")"
for exe in "$project_build/package/${zip_name%.zip}"/*.exe; do
  headers="$(x86_64-w64-mingw32-objdump -p "$exe")"
  # The launcher is a GUI program (subsystem 2: no console window from the Start menu); the
  # others are console programs (3), which a console's Ctrl+C reaches.
  subsystem="$(echo "$headers" | awk '$1 == "Subsystem" { print $2 + 0 }')"
  expected=3
  [ "$(basename "$exe")" = brassmoor-play.exe ] && expected=2
  if [ "$subsystem" != "$expected" ]; then
    echo "build-windows: $(basename "$exe") has subsystem ${subsystem:-none}, not $expected" >&2
    exit 1
  fi
  dlls="$(echo "$headers" | sed -n 's/^\tDLL Name: //p')"
  foreign="$(echo "$dlls" | tr 'A-Z' 'a-z' | grep -Ev "$system_dlls" || true)"
  if [ -n "$foreign" ]; then
    echo "build-windows: $(basename "$exe") needs DLLs that Windows does not have:" $foreign >&2
    exit 1
  fi
  echo "   $(basename "$exe") (subsystem $subsystem) imports only" $dlls
done
mkdir -p "$root/dist"
for name in "$zip_name" "$installer_name"; do
  cp "$project_build/package/$name" "$root/dist/$name"
  echo "   wrote dist/$name ($(stat -c %s "$root/dist/$name") bytes)"
done
phase_done
echo "windows build: $((SECONDS - started)) s"
