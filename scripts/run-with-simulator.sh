#!/usr/bin/env bash
# Starts the projector simulator on a temporary link, then the console with COM1 on that link.
# The simulator stops when the console exits. QX200_COM1 set beforehand means real hardware:
# the console then starts on that device and no simulator is started.
set -euo pipefail
build=${1:-build}

if [ -n "${QX200_COM1:-}" ]; then
  exec "$build/qx200-control"
fi

dir=$(mktemp -d /tmp/qx200-run.XXXXXX)
link="$dir/COM1"
"$build/qx200-sim" --link "$link" --baud 19200 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 100); do
  [ -e "$link" ] && break
  sleep 0.05
done

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  echo "No display: running the console under xvfb-run (close it with Ctrl+C)."
  QX200_COM1="$link" xvfb-run -a "$build/qx200-control"
else
  QX200_COM1="$link" "$build/qx200-control"
fi
