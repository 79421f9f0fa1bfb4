#!/usr/bin/env bash
# Builds everything and runs every test. --sanitize builds the tests with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags=(-DQUILLON_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
bash scripts/deps.sh
cmake -S . -B "$build" -DQUILLON_BUILD_TESTS=ON "${flags[@]}"
cmake --build "$build" -j"$(nproc)"
bash scripts/fetch-syslog-ng.sh "$build/tests/interop/syslog-ng"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir "$build" --output-on-failure -j2
