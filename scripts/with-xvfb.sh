#!/usr/bin/env bash
# Runs a command under a private virtual X server (Mesa's llvmpipe gives it a real
# OpenGL core context) and stops the server afterwards, whatever the command did.
# Usage: scripts/with-xvfb.sh COMMAND [ARGS...]
set -euo pipefail

fdfile=$(mktemp)
# -displayfd picks a free display number itself, so parallel runs never collide.
# -noreset: without it the server resets when its last client disconnects, and a program that
# calls glfwTerminate and then glfwInit again can meet it mid-reset and get no window.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$fdfile" 2>/dev/null &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$fdfile"
}
trap cleanup EXIT

deadline=$((SECONDS + 20))
while [ ! -s "$fdfile" ]; do
  if ! kill -0 "$xvfb_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
    echo "with-xvfb: the virtual X server did not start" >&2
    exit 1
  fi
  sleep 0.05
done
DISPLAY=":$(head -n1 "$fdfile")"
export DISPLAY
"$@"
