#!/usr/bin/env bash
# Checks the Windows programs for real, under wine: builds them and their tests with mingw-w64
# (scripts/build-windows.sh --tests), runs every unit test under wine, unpacks the zip into an
# empty folder and runs the client's black-box tests against the brassmoor.exe and
# brassmoor-server.exe found there, on private virtual X servers: alone, with each other, and
# with the Linux programs. Then the installer, in a fresh prefix of its own
# (tests/windows/installer_test.py): install, update, the installed launcher, uninstall.
#
#   scripts/check-windows.sh
#
# Installs what it needs. The wine prefix lives in build-windows/ (or $WINDOWS_BUILD_DIR), so
# ~/.wine is never touched; deleting build-windows/wineprefix starts with a fresh one. As root
# the black-box tests run in a network of their own (tests/windows/private_network.py).
# Ends with "windows: N passed, N failed" (unit test cases and black-box tests) and a non-zero
# status on any failure.
set -euo pipefail

case "${1:-}" in
  "") ;;
  -h | --help)
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
    exit 0
    ;;
  *)
    echo "check-windows: unknown option '$1' (try --help)" >&2
    exit 2
    ;;
esac

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${WINDOWS_BUILD_DIR:-$root/build-windows}"
linux_build="${BUILD_DIR:-$root/build}"
project_build="$build/brassmoor"
logs="$build/logs"
per_test_limit=120    # seconds; a receive that blocked would otherwise hang the run
blackbox_limit=900    # seconds for all the black-box tests together
installer_limit=600   # seconds for the installer's tests

# shellcheck source=steps.sh
source "$root/scripts/steps.sh"

WINDOWS_BUILD_DIR="$build" "$root/scripts/build-windows.sh" --tests
mkdir -p "$logs"

# The mixed pairs play the Windows programs against the Linux ones.
phase "Linux client and server ($linux_build)"
run_logged "$logs/linux-configure.log" cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_logged "$logs/linux-build.log" cmake --build "$linux_build" -j2 --target brassmoor brassmoor-server
phase_done

export WINEPREFIX="$build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: the programs need neither, and their installers would ask for a window.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Stops this prefix's wineserver and its services, which would otherwise linger a while.
stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
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

passed=0
failed=0

# tally_pytest LOG STATUS LIMIT: shows a pytest run's verdicts and adds them to the counts; a run
# that failed without saying why (or ran out of time) shows the end of its log and counts as a failure.
tally_pytest() {
  local log="$1" status="$2" limit="$3" summary ok bad
  sed -n 's/^.*::\(test_[^ ]*\) \(PASSED\|FAILED\|ERROR\).*$/   \2 \1/p' "$log"
  # pytest's last line: "== 13 passed, 4 deselected in 80.12s ==", with failures and errors counted too.
  summary="$(tail -n 1 "$log")"
  count() {
    echo "$summary" | awk -v word="$1" '{ for (i = 2; i <= NF; i++) if ($i ~ "^" word) n += $(i - 1) } END { print n + 0 }'
  }
  ok="$(count passed)"
  bad=$(($(count failed) + $(count error)))
  if [ "$status" -ne 0 ] || [ "$ok" -eq 0 ]; then
    [ "$status" -eq 124 ] && echo "   FAIL: no end within ${limit} s"
    tail -n 150 "$log" | sed 's/^/     | /'
    [ "$bad" -eq 0 ] && bad=1
  fi
  echo "   $summary"
  passed=$((passed + ok))
  failed=$((failed + bad))
}

phase "unit tests under wine"
while read -r exe; do
  name="$(basename "$exe" .exe)"
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
done <"$project_build/windows-tests.txt"
phase_done

# The release as a player gets it: the zip unpacked into an empty folder.
phase "black-box tests under wine, from the unpacked zip"
zip_name="$(cat "$project_build/package/zip-name.txt")"
unpacked="$build/unpacked"
rm -rf "$unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$root/dist/$zip_name")
release="$unpacked/${zip_name%.zip}"
# The unit tests' wineserver started without a display and outside the tests' network.
stop_wine
status=0
BRASSMOOR_LAUNCHERS=windows \
  BRASSMOOR_WINDOWS_CLIENT="$release/brassmoor.exe" BRASSMOOR_WINDOWS_SERVER="$release/brassmoor-server.exe" \
  BRASSMOOR_CLIENT="$linux_build/src/app/brassmoor" BRASSMOOR_SERVER="$linux_build/tools/server/brassmoor-server" \
  timeout "$blackbox_limit" /usr/bin/python3 "$root/tests/windows/private_network.py" \
  /usr/bin/python3 -m pytest -v -p no:cacheprovider "$root/tests/blackbox" >"$logs/blackbox.log" 2>&1 || status=$?
tally_pytest "$logs/blackbox.log" "$status" "$blackbox_limit"
phase_done

# The installer as a player runs it, in a prefix of its own made afresh: a silent install over an
# older version, the installed programs, and a silent uninstall (tests/windows/installer_test.py).
phase "the installer under wine, in a fresh prefix"
status=0
WINEPREFIX="$build/installer-prefix" \
  BRASSMOOR_INSTALLER="$root/dist/$(cat "$project_build/package/installer-name.txt")" \
  BRASSMOOR_NSIS_SCRIPT="$project_build/package/brassmoor.nsi" BRASSMOOR_STAGE_DIR="$release" \
  BRASSMOOR_VERSION="$(sed -n 's/^brassmoor-\(.*\)-win64\.zip$/\1/p' "$project_build/package/zip-name.txt")" \
  BRASSMOOR_NETSH_RECORDER="$(cat "$project_build/netsh-recorder.txt")" \
  BRASSMOOR_SERVER="$linux_build/tools/server/brassmoor-server" \
  timeout "$installer_limit" /usr/bin/python3 "$root/tests/windows/private_network.py" \
  /usr/bin/python3 -m pytest -v -p no:cacheprovider "$root/tests/windows/installer_test.py" \
  >"$logs/installer.log" 2>&1 || status=$?
tally_pytest "$logs/installer.log" "$status" "$installer_limit"
phase_done

echo "whole check: $((SECONDS - started)) s; logs in $logs"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
