#!/usr/bin/env bash
# Runs the whole test suite under strace and fails when any process sends
# to an address outside loopback, DNS queries to the resolver included.
# Builds first, like scripts/test.sh. Skips (exit 0, with a message) where
# strace cannot trace, e.g. in a container without ptrace.
#
# Usage: bash scripts/check-loopback.sh [BUILD_DIR]     (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

bash scripts/deps.sh --strace
if ! strace -f -qq -e trace=none -o /dev/null true 2> /dev/null; then
  echo "check-loopback: skipped, strace cannot trace here (ptrace not allowed)"
  exit 0
fi
cmake -S . -B "$build" -DQUILLON_BUILD_TESTS=ON > /dev/null
cmake --build "$build" -j"$(nproc)"

# The syslog-ng interop test's package is fetched before the trace: that
# download is set-up, like deps.sh's.
bash scripts/fetch-syslog-ng.sh "$build/tests/interop/syslog-ng"

trace=$(mktemp -d)
trap 'rm -rf "$trace"' EXIT
export QT_QPA_PLATFORM=offscreen
# Each process writes its own file, so lines from threads never interleave.
strace -f -ff -qq -e trace=connect,sendto,sendmsg,sendmmsg -e signal=none -o "$trace/net" \
  ctest --test-dir "$build" --output-on-failure -j2 > "$trace/ctest.log" 2>&1 || {
  cat "$trace/ctest.log"
  echo "check-loopback: the tests failed under strace"
  exit 1
}
grep -E 'tests passed|Total Test time' "$trace/ctest.log"

# Every IPv4 or IPv6 destination named in a call; local (AF_UNIX, netlink)
# sockets name none. A connected socket's later sends name none either, so
# connect shows where they go.
destinations=$(cat "$trace"/net.* |
  grep -oE 'inet_addr\("[^"]*"\)|inet_pton\(AF_INET6?, "[^"]*"' |
  sed -E 's/.*"([^"]*)".*/\1/' | sort | uniq -c)
echo "Destinations contacted by the test run (count, address):"
echo "${destinations:-  none}"
outside=$(echo "$destinations" | awk '$2 != "" && $2 !~ /^127\./ && $2 != "::1" && $2 != "::ffff:127.0.0.1"')
# No test asks DNS, not even a resolver on loopback.
dns=$(cat "$trace"/net.* | grep -E 'htons\(53\)' || true)
if [ -n "$dns" ]; then
  echo "check-loopback: the tests asked DNS:"
  echo "$dns" | head -5
  exit 1
fi
if [ -n "$outside" ]; then
  echo "check-loopback: the tests sent to addresses outside loopback:"
  echo "$outside"
  grep -hE "\"($(echo "$outside" | awk '{print $2}' | paste -sd'|'))\"" "$trace"/net.* | head -5
  exit 1
fi
echo "check-loopback: every packet of the test run stayed on loopback, and none asked DNS"
