#!/usr/bin/env bash
# Checks the Winsock backend for real: cross-compiles the networking library and its
# Windows-capable tests with mingw-w64 and runs them under wine, on loopback only.
#
#   scripts/check-windows.sh            build into build-windows/ and run every test
#
# Installs what it needs (scripts/install-deps.sh --cross-windows). The wine prefix lives in
# the build directory, so ~/.wine is never touched; deleting build-windows/ starts afresh.
# Ends with "windows: N passed, N failed" (test cases) and a non-zero status on any failure.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-windows"
toolchain="$root/tests/windows/mingw-w64-posix.toolchain.cmake"
gtest_build="$build/googletest"
gtest_prefix="$build/googletest-prefix"
project_build="$build/brassmoor"
logs="$build/logs"
per_test_limit=120  # seconds; a receive that blocked would otherwise hang the run

# The executables that run under wine: the platform-independent networking tests, and
# the Winsock backend over loopback sockets.
tests=(
  net/net_datagram_test
  net/net_peer_table_test
  net/net_send_cadence_test
  net/net_socket_wait_test
  net/windows/net_winsock_link_test
)

started=$SECONDS
phase_started=$SECONDS
phase() {
  echo "== $1 (at $((SECONDS - started)) s)"
  phase_started=$SECONDS
}
phase_done() {
  echo "   done in $((SECONDS - phase_started)) s"
}

# A failed step shows the end of its log rather than pages of compiler output.
run_logged() {
  local log="$1"
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "FAILED: $*" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

mkdir -p "$logs"

phase "packages (mingw-w64, wine)"
run_logged "$logs/install-deps.log" "$root/scripts/install-deps.sh" --cross-windows
grep '^installing:' "$logs/install-deps.log" | sed 's/^/   /' || true
phase_done

# GoogleTest from Debian's sources, built with the cross compiler and installed into the
# build directory, where the project's find_package(GTest) picks it up.
phase "googletest for mingw-w64 (/usr/src/googletest)"
if [ ! -f "$gtest_build/CMakeCache.txt" ]; then
  run_logged "$logs/googletest-configure.log" \
    cmake -S /usr/src/googletest -B "$gtest_build" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest_prefix"
fi
run_logged "$logs/googletest-build.log" cmake --build "$gtest_build" -j2
run_logged "$logs/googletest-install.log" cmake --install "$gtest_build"
phase_done

# Linked statically, so the executables need no mingw runtime DLLs inside the wine prefix.
phase "cross build: networking library and tests"
run_logged "$logs/configure.log" \
  cmake -S "$root" -B "$project_build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRASSMOOR_BUILD_CLIENT=OFF -DBUILD_TESTING=ON \
    -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" -DCMAKE_EXE_LINKER_FLAGS=-static
targets=(brassmoor_net)
for t in "${tests[@]}"; do
  targets+=("$(basename "$t")")
done
run_logged "$logs/build.log" cmake --build "$project_build" -j2 --target "${targets[@]}"
if grep -q 'warning:' "$logs/build.log"; then
  echo "compiler warnings:"
  grep 'warning:' "$logs/build.log"
fi
phase_done

export WINEPREFIX="$build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: console programs need neither, and their installers would ask for a window.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Stops this prefix's wineserver and its services, which would otherwise linger a while.
stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
}
trap stop_wine EXIT

# A prefix left from an earlier run is used as it is; wine brings it up to date by itself.
phase "wine prefix $WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "   creating it (the first start takes a while)"
  run_logged "$logs/wineboot.log" wineboot --init
  # wineboot returns before the prefix's set-up has quite finished.
  run_logged "$logs/wineserver-wait.log" wineserver -w
fi
phase_done

phase "tests under wine"
passed=0
failed=0
for t in "${tests[@]}"; do
  name="$(basename "$t")"
  exe="$project_build/tests/$t.exe"
  log="$logs/$name.log"
  status=0
  timeout "$per_test_limit" wine "$exe" >"$log" 2>&1 || status=$?
  # Windows programs end their lines with CR LF.
  sed -i 's/\r$//' "$log"
  ran="$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | tail -n 1)"
  bad="$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$log" | tail -n 1)"
  ran="${ran:-0}"
  bad="${bad:-0}"
  if [ "$status" -eq 0 ] && [ "$ran" -gt 0 ] && [ "$bad" -eq 0 ]; then
    echo "   PASS $name.exe: $ran tests"
    sed -n 's/^\[       OK \] \(.*\) ([0-9]* ms)$/        ok  \1/p' "$log"
    passed=$((passed + ran))
  else
    if [ "$status" -eq 124 ]; then
      echo "   FAIL $name.exe: no end within ${per_test_limit} s"
    else
      echo "   FAIL $name.exe: exit status $status, $bad of $ran tests failed"
    fi
    sed 's/^/     | /' "$log"
    passed=$((passed + ran - bad))
    # A run that died or never reported counts as one failure of its own.
    if [ "$bad" -eq 0 ]; then
      bad=1
    fi
    failed=$((failed + bad))
  fi
done
phase_done

echo "whole check: $((SECONDS - started)) s; logs in $logs"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
