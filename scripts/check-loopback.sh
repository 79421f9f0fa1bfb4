#!/usr/bin/env bash
# Runs a command under strace and fails when any of its processes sends to an
# address outside loopback, DNS queries to the resolver included, or when the
# command fails. `bash scripts/test.sh --check-loopback` runs the tests
# through it. Where strace cannot trace (a container without ptrace) it says
# so and runs the command untraced, or fails with --no-skip.
#
# Usage: bash scripts/check-loopback.sh [--no-skip] [--] COMMAND [ARG...]
set -euo pipefail
no_skip=no
while [ $# -gt 0 ]; do
  case $1 in
    --no-skip) no_skip=yes; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: check-loopback.sh [--no-skip] [--] COMMAND [ARG...]" >&2; exit 2; }

bash "$(dirname "$0")/deps.sh" --strace
if ! strace -f -qq -e trace=none -o /dev/null true 2> /dev/null; then
  if [ "$no_skip" = yes ]; then
    echo "check-loopback: strace cannot trace here (ptrace not allowed), and --no-skip does not allow skipping the check"
    exit 1
  fi
  echo "check-loopback: skipped, strace cannot trace here (ptrace not allowed); running untraced"
  exec "$@"
fi

trace=$(mktemp -d)
trap 'rm -rf "$trace"' EXIT
# Each process writes its own file, so lines from threads never interleave.
status=0
strace -f -ff -qq -e trace=connect,sendto,sendmsg,sendmmsg -e signal=none -o "$trace/net" "$@" || status=$?

# Every IPv4 or IPv6 destination named in a call; local (AF_UNIX, netlink)
# sockets name none. A connected socket's later sends name none either, so
# connect shows where they go.
destinations=$(cat "$trace"/net.* |
  { grep -oE 'inet_addr\("[^"]*"\)|inet_pton\(AF_INET6?, "[^"]*"' || true; } |
  sed -E 's/.*"([^"]*)".*/\1/' | sort | uniq -c)
echo "Destinations contacted under the trace (count, address):"
echo "${destinations:-  none}"
# The wildcard addresses stay on this machine too: Linux takes 0.0.0.0 and ::
# as a destination for the host itself, and glibc's getaddrinfo connects a
# datagram socket to each address of a passive lookup (a daemon listening on
# every address) to sort them, which sends nothing.
outside=$(echo "$destinations" |
  awk '$2 != "" && $2 !~ /^127\./ && $2 != "::1" && $2 != "::ffff:127.0.0.1" && $2 != "0.0.0.0" && $2 != "::"')
# No test asks DNS, not even a resolver on loopback.
dns=$(cat "$trace"/net.* | grep -E 'htons\(53\)' || true)
if [ -n "$dns" ]; then
  echo "check-loopback: DNS was asked:"
  echo "$dns" | head -5
  exit 1
fi
if [ -n "$outside" ]; then
  echo "check-loopback: packets were sent to addresses outside loopback:"
  echo "$outside"
  grep -hE "\"($(echo "$outside" | awk '{print $2}' | paste -sd'|'))\"" "$trace"/net.* | head -5
  exit 1
fi
echo "check-loopback: every packet stayed on loopback, and none asked DNS"
exit "$status"
