#!/usr/bin/env bash
# Builds everything and runs every test.
#   --sanitize        builds the tests with AddressSanitizer and
#                     UndefinedBehaviorSanitizer, in build-asan/
#   --check-loopback  runs the tests under strace (scripts/check-loopback.sh)
#                     and fails if any packet leaves loopback or any test asks DNS
#   --no-skip         fails when a test was skipped (an interop daemon or a tool
#                     missing), or when strace cannot trace: what CI runs
# QUILLON_CHECK_LOOPBACK=1 and QUILLON_NO_SKIP=1 in the environment do the same
# as the last two flags, so CI can run this very command.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
flags=()
check_loopback=no
no_skip=no
[ "${QUILLON_CHECK_LOOPBACK:-}" = 1 ] && check_loopback=yes
[ "${QUILLON_NO_SKIP:-}" = 1 ] && no_skip=yes
for argument in "$@"; do
  case $argument in
    --sanitize)
      build=build-asan
      flags=(-DQUILLON_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    --check-loopback) check_loopback=yes ;;
    --no-skip) no_skip=yes ;;
    *) echo "usage: test.sh [--sanitize] [--check-loopback] [--no-skip]" >&2; exit 2 ;;
  esac
done
bash scripts/deps.sh
cmake -S . -B "$build" -DQUILLON_BUILD_TESTS=ON "${flags[@]}"
cmake --build "$build" -j"$(nproc)"
# Set-up, like deps.sh's downloads: fetched before any trace starts.
bash scripts/fetch-syslog-ng.sh "$build/tests/interop/syslog-ng"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1

runner=()
if [ "$check_loopback" = yes ]; then
  runner=(bash scripts/check-loopback.sh)
  [ "$no_skip" = yes ] && runner+=(--no-skip)
  runner+=(--)
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j2 2>&1 | tee "$log"
# ctest lists the skipped tests under "The following tests did not run".
if [ "$no_skip" = yes ] && grep -q '(Skipped)$' "$log"; then
  echo "test.sh: tests were skipped, and --no-skip counts a skip as a failure:"
  grep '(Skipped)$' "$log"
  exit 1
fi
