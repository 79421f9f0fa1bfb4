#!/usr/bin/env bash
# Builds the window and the command-line programs (all in build/src/) and
# starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build
cmake --build build -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting under a virtual X server (xvfb-run)."
  exec xvfb-run -a ./build/src/quillon "$@"
fi
exec ./build/src/quillon "$@"
