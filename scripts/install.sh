#!/usr/bin/env bash
# Builds the window and the three command-line programs and installs them,
# with their man pages and completion, under PREFIX (default /usr/local).
#   PREFIX=~/.local bash scripts/install.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build
cmake --build build -j"$(nproc)"
cmake --install build --prefix "${PREFIX:-/usr/local}"
