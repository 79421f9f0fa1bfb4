#!/usr/bin/env bash
# Builds everything and runs every test.
#   --sanitize        builds the tests with AddressSanitizer and
#                     UndefinedBehaviorSanitizer, in build-asan/
#   --sanitize=thread builds the test programs that run threads (and the
#                     programs they start) with ThreadSanitizer, in
#                     build-tsan/, runs only those, and fails on any report
#                     not in scripts/tsan-suppressions.txt
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
sanitize=none
# Every test program whose code runs more than one thread: the sender's
# workers, the probe's receiver and watcher, the metrics endpoint, librelp's
# sessions, the TLS test server.
threaded=(test_load test_proof test_probe test_metrics test_transport test_cli_send test_cli_recv test_cli_probe)
check_loopback=no
no_skip=no
[ "${QUILLON_CHECK_LOOPBACK:-}" = 1 ] && check_loopback=yes
[ "${QUILLON_NO_SKIP:-}" = 1 ] && no_skip=yes
for argument in "$@"; do
  case $argument in
    --sanitize|--sanitize=address)
      sanitize=address
      build=build-asan
      flags=(-DQUILLON_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    --sanitize=thread)
      # Optimised: the tests' timeouts hold at ThreadSanitizer's slowdown.
      sanitize=thread
      build=build-tsan
      flags=(-DQUILLON_SANITIZE_THREAD=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_GUI=OFF
             -DQUILLON_BUILD_DOCS=OFF) ;;
    --check-loopback) check_loopback=yes ;;
    --no-skip) no_skip=yes ;;
    *) echo "usage: test.sh [--sanitize[=address|thread]] [--check-loopback] [--no-skip]" >&2; exit 2 ;;
  esac
done
bash scripts/deps.sh
cmake -S . -B "$build" -DQUILLON_BUILD_TESTS=ON "${flags[@]}"
targets=()
selection=()
if [ "$sanitize" = thread ]; then
  targets=(--target "${threaded[@]}")
  selection=(-R "^($(IFS='|'; echo "${threaded[*]}"))\$")
fi
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
# Set-up, like deps.sh's downloads: fetched before any trace starts.
[ "$sanitize" = thread ] || bash scripts/fetch-syslog-ng.sh "$build/tests/interop/syslog-ng"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1

runner=()
reports=
if [ "$sanitize" = thread ]; then
  # GCC 12's ThreadSanitizer cannot place its shadow memory in some
  # randomised layouts ("unexpected memory mapping"): then it runs with the
  # layout fixed.
  if ! "$build/tests/test_load" --gtest_list_tests > /dev/null 2> "$build/tsan-start.txt" &&
     grep -q 'unexpected memory mapping' "$build/tsan-start.txt"; then
    echo "test.sh: ThreadSanitizer needs address randomisation off here: setarch -R"
    runner=(setarch "$(uname -m)" -R)
  fi
  # QProcess's clone() must not reach the sanitizer: scripts/tsan-clone.c.
  cc -shared -fPIC -O2 -Wall -Wextra -o "$build/tsan-clone.so" scripts/tsan-clone.c -ldl
  export LD_PRELOAD=$PWD/$build/tsan-clone.so
  # Each process's reports, the programs' the tests start included, go to a
  # file of their own, so one a test does not look at still fails the run.
  reports=$PWD/$build/tsan-reports
  rm -rf "$reports"
  mkdir -p "$reports"
  export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan-suppressions.txt log_path=$reports/report second_deadlock_stack=1"
fi
if [ "$check_loopback" = yes ]; then
  runner+=(bash scripts/check-loopback.sh)
  [ "$no_skip" = yes ] && runner+=(--no-skip)
  runner+=(--)
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j2 "${selection[@]}" 2>&1 | tee "$log" || status=$?
if [ -n "$reports" ] && [ -n "$(ls -A "$reports")" ]; then
  cat "$reports"/*
  echo "test.sh: ThreadSanitizer reported in $(ls "$reports" | wc -l) processes," \
       "$(cat "$reports"/* | grep -c '^WARNING: ThreadSanitizer') warnings"
  exit 1
fi
[ "$status" = 0 ] || exit "$status"
# ctest lists the skipped tests under "The following tests did not run".
if [ "$no_skip" = yes ] && grep -q '(Skipped)$' "$log"; then
  echo "test.sh: tests were skipped, and --no-skip counts a skip as a failure:"
  grep '(Skipped)$' "$log"
  exit 1
fi
