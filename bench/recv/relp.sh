#!/usr/bin/env bash
# quillon-recv --listen relp on loopback, against a bare librelp receiver
# that answers and counts every message (bench/throughput/relploop.cpp):
#  - rate: quillon-send --transport relp --unlimited into each for the same
#    time, one session; acknowledged messages per second and quillon/bare;
#  - memory: the most quillon-recv held (VmHWM) for COUNT messages from
#    quillon-send, which reads its answers, and for a client that sends
#    COUNT messages and never reads one (it is paused, then closed by
#    --idle-timeout 2), with the messages each took.
#
# Usage: bash bench/recv/relp.sh [SECONDS]     (default 3 per run)
#   BUILD_DIR   build folder (default build-bench in the repository)
#   COUNT       messages of the memory runs (default 3000000)
#   SENDER, RECEIVER   a quillon-send and quillon-recv already built,
#               measured instead of building them
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
seconds=${1:-3}
count=${COUNT:-3000000}
tools=$build/recv-bench
mkdir -p "$tools"

sender=${SENDER:-$build/src/quillon-send}
recv=${RECEIVER:-$build/src/quillon-recv}
if [ -z "${SENDER:-}" ] || [ -z "${RECEIVER:-}" ]; then
    echo "Building quillon-send and quillon-recv (RelWithDebInfo, as they ship) in $build ..."
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_BENCH=ON > "$tools/cmake.log"
    cmake --build "$build" -j2 --target quillon-send quillon-recv >> "$tools/cmake.log"
fi
g++ -std=c++20 -O2 -Wall -Wextra -o "$tools/relploop" "$repo/bench/throughput/relploop.cpp" $(pkg-config --cflags --libs relp)

pid=
trap '[ -z "$pid" ] || kill "$pid" 2> /dev/null || true' EXIT

# Starts a receiver (bare, or quillon-recv with more flags); sets pid and port.
start() {
    local kind=$1
    shift
    : > "$tools/out"
    : > "$tools/err"
    if [ "$kind" = bare ]; then
        port=$((10000 + RANDOM % 20000))
        "$tools/relploop" recv "$port" > "$tools/out" 2> "$tools/err" &
    else
        "$recv" --listen relp --bind 127.0.0.1 --port 0 --json "$@" > "$tools/out" 2> "$tools/err" &
    fi
    pid=$!
    until grep -qE '^(ready|listening)' "$tools/out" "$tools/err" 2> /dev/null; do
        kill -0 "$pid" 2> /dev/null || { echo "the $kind receiver did not start"; exit 1; }
        sleep 0.02
    done
    [ "$kind" = bare ] || port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$tools/err")
}

peak_kib() { awk '/^VmHWM:/ {print $2}' "/proc/$pid/status"; }

# Stops the receiver; sets taken to the messages it counted.
stop() {
    kill -TERM "$pid"
    wait "$pid" || true
    pid=
    if [ -s "$tools/out" ] && head -c1 "$tools/out" | grep -q '{'; then
        taken=$(tail -1 "$tools/out" | jq -r .messages)
    else
        taken=$(awk '/^messages/ {print $2}' "$tools/out")
    fi
}

echo "Load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s per run"
declare -A rate
for kind in bare quillon-recv; do
    start "$kind"
    out=$("$sender" --transport relp --port "$port" --priority 13 --message "relp bench" --unlimited \
        --duration "$seconds" --json)
    stop
    read -r acknowledged elapsed < <(jq -r '"\(.acknowledged) \(.elapsed_seconds)"' <<< "$out")
    rate[$kind]=$(awk -v n="$acknowledged" -v t="$elapsed" 'BEGIN { printf "%.0f", n / t }')
    echo "  $kind: ${rate[$kind]} acknowledged messages/s ($taken taken)"
done
echo "relp receiver: quillon-recv/bare $(awk -v a="${rate[quillon-recv]}" -v b="${rate[bare]}" \
    'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"

echo
start quillon-recv
before=$(peak_kib)
"$sender" --transport relp --port "$port" --priority 13 --message "relp bench" --unlimited --count "$count" --quiet
clean=$(($(peak_kib) - before))
stop
echo "  quillon-send, $count messages, answers read: quillon-recv grew by $clean KiB, took $taken"

start quillon-recv --idle-timeout 2
before=$(peak_kib)
sent=$(python3 - "$port" "$count" << 'CLIENT'
import socket, sys
port, count = int(sys.argv[1]), int(sys.argv[2])
def frame(txnr, command, data):
    return b"%d %s %d %s\n" % (txnr, command, len(data), data)
client = socket.create_connection(("127.0.0.1", port))
client.settimeout(5)
sent = 0
try:
    client.sendall(frame(1, b"open", b"relp_version=0\ncommands=syslog"))
    while sent < count:
        client.sendall(b"".join(frame(sent + 2 + i, b"syslog", b"<13>relp bench") for i in range(10000)))
        sent += 10000
except OSError:
    pass
print(sent)
CLIENT
)
unread=$(($(peak_kib) - before))
stop
echo "  a client that never reads, $sent of $count messages sent: quillon-recv grew by $unread KiB, took $taken" \
    "(target: within 51200 KiB of the run above)"
