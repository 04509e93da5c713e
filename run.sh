#!/usr/bin/env bash
# Installs what is missing, builds, and starts the console against the projector simulator.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
exec make run
