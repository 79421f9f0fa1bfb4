#!/usr/bin/env bash
# What the metrics endpoint costs: quillon-send --unlimited over TCP (RFC 5424,
# octet counting, 256-byte messages) to the counting receiver, without and
# with --metrics-listen, scraped once a second as Prometheus would, in
# alternating rounds. Prints both rates of each round, their ratio, and the
# median ratio (the endpoint must stay within 2%).
#
# Usage: bash bench/throughput/metrics.sh [SECONDS]     (default 3 per run)
#   BUILD_DIR   build folder (default build-bench in the repository)
#   ROUNDS      runs with and without the endpoint (default 5)
#   SENDER      a quillon-send already built, measured instead of building one
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
seconds=${1:-3}
rounds=${ROUNDS:-5}
tools=$build/throughput
mkdir -p "$tools"
sender=${SENDER:-}
if [ -z "$sender" ]; then
    echo "Building quillon-send (RelWithDebInfo, as it ships) in $build ..."
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_TESTS=OFF > "$tools/cmake.log"
    cmake --build "$build" -j2 --target quillon-send >> "$tools/cmake.log"
    sender=$build/src/quillon-send
fi
g++ -std=c++20 -O2 -Wall -Wextra -o "$tools/receiver" "$repo/bench/throughput/receiver.cpp" -lssl -lcrypto

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done; }
trap cleanup EXIT

# Sets port to where the receiver listens (another port if one was taken).
start_receiver() {
    for _ in 1 2 3 4 5; do
        port=$((10000 + RANDOM % 20000))
        "$tools/receiver" tcp "$port" octet-count > "$tools/receiver.out" 2> "$tools/receiver.err" &
        receiver=$!
        for _ in $(seq 50); do
            grep -q ready "$tools/receiver.out" 2> /dev/null && return 0
            kill -0 "$receiver" 2> /dev/null || break
            sleep 0.02
        done
        kill "$receiver" 2> /dev/null || true
        wait "$receiver" 2> /dev/null || true
    done
    echo "the receiver could not start"
    exit 1
}

# GET /metrics once a second, from the address the sender prints, until the
# run is over; ready once started, so its own start costs the run nothing.
# Writes how many answers came.
scrape() {
    python3 - "$tools" > "$tools/scrapes" << 'EOF'
import os, re, sys, time, urllib.request
tools, scrapes, where = sys.argv[1], 0, None
open(os.path.join(tools, "scraper.ready"), "w").close()
while not os.path.exists(os.path.join(tools, "send.done")):
    if where is None:
        found = re.search(r"metrics on (http://\S+)", open(os.path.join(tools, "send.err")).read())
        where = found and found.group(1)
    if where:
        try:
            urllib.request.urlopen(where, timeout=1).read()
            scrapes += 1
        except OSError:
            pass
    time.sleep(1 if where else 0.01)
print(scrapes)
EOF
}

# One run: prints its messages per second.
run_once() {
    start_receiver
    pids=("$receiver")
    local flags=(--priority 13 --unlimited --duration "$seconds" --json --port "$port" --transport tcp
        --format rfc5424 --framing octet-count --message "$(head -c 200 /dev/zero | tr '\0' x)")
    rm -f "$tools/send.done" "$tools/scraper.ready"
    : > "$tools/send.err"
    if [ "$1" = on ]; then
        flags+=(--metrics-listen 0)
        scrape &
        pids+=($!)
        until [ -e "$tools/scraper.ready" ]; do sleep 0.01; done
    fi
    "$sender" "${flags[@]}" > "$tools/send.json" 2> "$tools/send.err"
    touch "$tools/send.done"
    [ "$1" = off ] || wait "${pids[1]}"
    kill -TERM "$receiver"
    wait "$receiver" || true
    jq -r '.sent / .elapsed_seconds | floor' "$tools/send.json"
}

# Rounds alternate, so a machine whose load changes weighs on both alike; the
# median of the rounds' ratios is the figure.
ratios=()
echo "Load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s per run"
for round in $(seq "$rounds"); do
    off=$(run_once off)
    on=$(run_once on)
    ratio=$(awk -v off="$off" -v on="$on" 'BEGIN { printf "%.3f", on / off }')
    ratios+=("$ratio")
    echo "round $round: endpoint off $off MPS, on $on MPS ($(cat "$tools/scrapes") scrapes): on/off $ratio"
done
printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END {
    m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "median on/off %.3f over %d rounds (target >= 0.98)\n", m, NR }'
