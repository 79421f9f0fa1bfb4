#!/usr/bin/env bash
# Load shapes on loopback, measured by the receiver: quillon-send --ramp and
# --steps over TCP into quillon-recv --stats-file, each second's messages
# beside the target the sender's own --stats-file gives for its second; then
# the per-second spread of --rate 100000 over UDP as the sender paced it
# (target: standard deviation under 1% of the rate) and as the receiver
# counted it. Prints figures only.
#
# Usage: bash bench/throughput/shapes.sh [SECONDS]   (default 10 for --rate)
#   BUILD_DIR   build folder (default build-bench in the repository)
#   SENDER, RECEIVER   quillon-send and quillon-recv already built, used
#               instead of building them
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
seconds=${1:-10}
out=$build/throughput/shapes
mkdir -p "$out"

sender=${SENDER:-}
receiver=${RECEIVER:-}
if [ -z "$sender" ] || [ -z "$receiver" ]; then
    echo "Building quillon-send and quillon-recv (RelWithDebInfo) in $build ..."
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_BENCH=ON -DQUILLON_BUILD_TESTS=OFF > "$out/cmake.log"
    cmake --build "$build" -j2 --target quillon-send quillon-recv >> "$out/cmake.log"
    sender=$build/src/quillon-send
    receiver=$build/src/quillon-recv
fi

# One JSON key's number from each line of a stats file.
column() { jq -r ".$1" "$2"; }

# Runs quillon-recv for as long as the sender, then prints each second.
# $1: transport; the rest: the sender's flags.
measure() {
    local transport=$1
    shift
    rm -f "$out/recv.jsonl" "$out/send.jsonl" "$out/recv.out"
    "$receiver" --listen "$transport" --bind 127.0.0.1 --port 0 --idle 4 --quiet \
        --stats-file "$out/recv.jsonl" > "$out/recv.out" &
    local pid=$!
    until grep -q '^listening on' "$out/recv.out" 2> /dev/null; do sleep 0.05; done
    local port
    port=$(sed -nE 's/^listening on .*:([0-9]+)$/\1/p' "$out/recv.out")
    "$sender" --transport "$transport" --port "$port" --message "shape ####" --quiet \
        --stats-file "$out/send.jsonl" "$@" || true
    wait "$pid" || true
}

# Per second: the sender's target and sent, the receiver's count. The
# receiver's seconds start when it listens, a moment before the sender's.
table() {
    printf '%6s %12s %12s %12s\n' second target_mps sent_mps received_mps
    paste <(column target_mps "$out/send.jsonl") <(column mps "$out/send.jsonl") \
        <(column mps "$out/recv.jsonl") | head -n "$(wc -l < "$out/send.jsonl")" |
        awk '{ printf "%6d %12.0f %12.0f %12.0f\n", NR, $1, $2, $3 }'
}

# Mean, standard deviation and their ratio over the full seconds with messages
# but the first and last (the receiver's straddle the start and end).
spread() {
    jq -r 'select(.full) | .mps' "$1" | awk '$1 > 0' | awk -v what="$2" '
        { v[NR] = $1 }
        END {
            n = 0; s = 0; q = 0
            for (i = 2; i < NR; ++i) { n++; s += v[i] }
            if (n < 2) { print what ": too few seconds"; exit }
            m = s / n
            for (i = 2; i < NR; ++i) q += (v[i] - m) ^ 2
            sd = sqrt(q / (n - 1))
            printf "%-34s mean %10.0f MPS, stddev %8.1f MPS (%.3f%%) over %d s\n", what, m, sd, 100 * sd / m, n
        }'
}

echo
echo "== --ramp 1000:50000:8 over TCP, then 2 s at 50000"
measure tcp --ramp 1000:50000:8 --duration 10
table
echo
echo "== --steps 5000x3,40000x3,0x2,10000x3 over TCP"
measure tcp --steps 5000x3,40000x3,0x2,10000x3
table
echo
echo "== --rate 100000 for $seconds s over UDP"
measure udp --rate 100000 --duration "$seconds" --json > "$out/summary.json"
spread "$out/send.jsonl" "sent (the sender's seconds)"
spread "$out/recv.jsonl" "received (the receiver's seconds)"
echo "the sender's summary: $(jq -r '[{rate_stddev_mps, rate_stddev_ratio, rate_sender_bound_seconds, target_mps} |
    to_entries[] | "\(.key):\(.value)"] | join(" ")' "$out/summary.json")"
