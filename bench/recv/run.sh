#!/usr/bin/env bash
# quillon-recv against the bare counting receiver of bench/throughput (a
# recvmmsg loop for UDP, a read loop for TCP), each fed on loopback by
# quillon-send --stamp --unlimited for the same time: RFC 5424 over UDP, and
# RFC 5424 octet counted over TCP (RFC 3164 with CR LF where quillon-send has
# no --format). quillon-recv checks every stamp; the bare loop only counts.
#
# Prints for each receiver what it received, the rate over the sender's time
# (wall clock), the CPU seconds the receiver used, and messages per CPU
# second: what one core checks when the machine is shared. "keyed" is
# quillon-recv --stamp-key fed by quillon-send --stamp-key: every stamp
# carries its MAC, and every MAC is checked.
#
# Usage: bash bench/recv/run.sh [SECONDS]     (default 5 per run)
#   BUILD_DIR   build folder (default build-bench in the repository)
#   ROUNDS      runs per receiver and transport; the best one counts (default 1)
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
seconds=${1:-5}
rounds=${ROUNDS:-1}
tools=$build/recv-bench
mkdir -p "$tools"

echo "Building quillon-send and quillon-recv (RelWithDebInfo, as they ship) in $build ..."
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_BENCH=ON > "$tools/cmake.log"
cmake --build "$build" -j2 --target quillon-send quillon-recv >> "$tools/cmake.log"
sender=$build/src/quillon-send
recv=$build/src/quillon-recv
g++ -std=c++20 -O2 -Wall -Wextra -o "$tools/bare" "$repo/bench/throughput/receiver.cpp" -lssl -lcrypto

format_udp=()
format_tcp=(--crlf)
bare_framing=()
if "$sender" --help | grep -q -- '--format'; then
    format_udp=(--format rfc5424)
    format_tcp=(--format rfc5424 --framing octet-count)
    bare_framing=(octet-count)
fi
ticks=$(getconf CLK_TCK)
key=$tools/stamp.key
echo "a benchmark secret of some length" > "$key"

pid=
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2> /dev/null || true
}
trap cleanup EXIT

# CPU seconds the process has used so far (user and system).
cpu_of() {
    awk -v t="$ticks" '{ printf "%.2f", ($14 + $15) / t }' "/proc/$1/stat"
}

# Starts a receiver on a free port; sets pid and port.
start() {
    local kind=$1 transport=$2
    for _ in 1 2 3 4 5; do
        port=$((10000 + RANDOM % 20000))
        # Emptied here: the receiver's own redirection comes later, in its process.
        : > "$tools/out"
        if [ "$kind" = bare ]; then
            "$tools/bare" "$transport" "$port" "${bare_framing[@]}" > "$tools/out" 2> "$tools/err" &
        else
            keyed=()
            [ "$kind" = keyed ] && keyed=(--stamp-key "$key")
            "$recv" --listen "$transport" --bind 127.0.0.1 --port "$port" --json "${keyed[@]}" > "$tools/out" \
                2> "$tools/err" &
        fi
        pid=$!
        for _ in $(seq 50); do
            # quillon-recv --json says where it listens on standard error.
            grep -qE '^(ready|listening)' "$tools/out" "$tools/err" 2> /dev/null && return 0
            kill -0 "$pid" 2> /dev/null || break
            sleep 0.02
        done
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    echo "the $kind receiver could not start"
    exit 1
}

# One run: prints "sent seconds received cpu checked".
run_once() {
    local kind=$1 transport=$2 flags out sent elapsed cpu received checked
    start "$kind" "$transport"
    flags=(--stamp --unlimited --duration "$seconds" --priority 13 --json --port "$port" --transport "$transport")
    if [ "$transport" = tcp ]; then
        flags+=("${format_tcp[@]}")
    else
        flags+=("${format_udp[@]}")
    fi
    [ "$kind" = keyed ] && flags+=(--stamp-key "$key")
    out=$("$sender" "${flags[@]}")
    read -r sent elapsed < <(jq -r '"\(.sent) \(.elapsed_seconds)"' <<< "$out")
    # What the kernel still holds is taken before the figures are read.
    sleep 0.5
    cpu=$(cpu_of "$pid")
    kill -TERM "$pid"
    wait "$pid" || true
    pid=
    if [ "$kind" = bare ]; then
        received=$(awk '/^messages/ {print $2}' "$tools/out")
        checked=0
    else
        read -r received checked < <(tail -1 "$tools/out" | jq -r '"\(.messages) \(.received)"')
    fi
    echo "$sent $elapsed $received $cpu $checked"
}

declare -A rate percpu count cpus
echo "Load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s per run," \
    "$rounds round(s); quillon-send ${format_tcp[*]} over TCP, ${format_udp[*]:-rfc3164} over UDP"
for round in $(seq "$rounds"); do
    for transport in udp tcp; do
        for kind in bare quillon-recv keyed; do
            read -r sent elapsed received cpu checked <<< "$(run_once "$kind" "$transport")"
            per=$(awk -v n="$received" -v t="$elapsed" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }')
            core=$(awk -v n="$received" -v c="$cpu" 'BEGIN { printf "%.0f", (c > 0 ? n / c : 0) }')
            echo "  round $round: $transport $kind: $sent sent, $received received ($checked stamps checked)" \
                "in $elapsed s, $cpu CPU s: $per/s, $core per CPU second"
            if [ "$per" -gt "${rate[$transport,$kind]:-0}" ]; then
                rate[$transport,$kind]=$per
                percpu[$transport,$kind]=$core
                count[$transport,$kind]=$received
                cpus[$transport,$kind]=$cpu
            fi
        done
    done
done

printf '\n%-9s %-13s %12s %12s %9s %14s\n' transport receiver received "received/s" "CPU s" "per CPU s"
for transport in udp tcp; do
    for kind in bare quillon-recv keyed; do
        printf '%-9s %-13s %12s %12s %9s %14s\n' "$transport" "$kind" "${count[$transport,$kind]}" \
            "${rate[$transport,$kind]}" "${cpus[$transport,$kind]}" "${percpu[$transport,$kind]}"
    done
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo
for transport in udp tcp; do
    echo "$transport: quillon-recv/bare received $(ratio "${rate[$transport,quillon-recv]}" "${rate[$transport,bare]}")," \
        "per CPU second $(ratio "${percpu[$transport,quillon-recv]}" "${percpu[$transport,bare]}");" \
        "keyed/plain received $(ratio "${rate[$transport,keyed]}" "${rate[$transport,quillon-recv]}")," \
        "per CPU second $(ratio "${percpu[$transport,keyed]}" "${percpu[$transport,quillon-recv]}")"
done
