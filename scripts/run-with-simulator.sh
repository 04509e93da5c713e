#!/usr/bin/env bash
# Starts the projector simulator, then the console with COM1 on it: on a temporary link, or with
# "tcp" as the second argument on a free TCP port of 127.0.0.1 (as a serial server would serve
# it). The simulator stops when the console exits. QX200_COM1 set beforehand means real
# hardware: the console then starts on that device and no simulator is started.
set -euo pipefail
build=${1:-build}
mode=${2:-pty}

if [ -n "${QX200_COM1:-}" ]; then
  exec "$build/qx200-control"
fi

dir=$(mktemp -d /tmp/qx200-run.XXXXXX)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
if [ "$mode" = tcp ]; then
  "$build/qx200-sim" --tcp 127.0.0.1:0 --baud 19200 >"$dir/sim.out" &
  sim=$!
  # The simulator's first line names the port it took: "qx200-sim: serving on tcp:127.0.0.1:N".
  for _ in $(seq 100); do
    device=$(sed -n 's/^qx200-sim: serving on //p' "$dir/sim.out")
    [ -n "$device" ] && break
    sleep 0.05
  done
else
  device="$dir/COM1"
  "$build/qx200-sim" --link "$device" --baud 19200 &
  sim=$!
  for _ in $(seq 100); do
    [ -e "$device" ] && break
    sleep 0.05
  done
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  echo "No display: running the console under xvfb-run (close it with Ctrl+C)."
  xvfb-run -a "$build/qx200-control" --com1 "$device"
else
  "$build/qx200-control" --com1 "$device"
fi
