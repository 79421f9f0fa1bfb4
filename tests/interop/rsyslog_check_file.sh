#!/usr/bin/env bash
# A real rsyslogd on loopback writes stamped messages to files, and
# quillon-recv --check-file reads the stamps back: RFC 5424 over TCP (octet
# counted) kept whole by the protocol-23 file format, and RFC 3164 with the
# token over UDP in the traditional format. One number left out must show
# as exactly one lost message. Then the whole chain: quillon-send --stamp
# into the daemon, its files checked.
# Usage: rsyslog_check_file.sh PATH-TO-quillon-recv PATH-TO-quillon-send
set -euo pipefail

receiver=${1:?usage: rsyslog_check_file.sh PATH-TO-quillon-recv PATH-TO-quillon-send}
sender=${2:?usage: rsyslog_check_file.sh PATH-TO-quillon-recv PATH-TO-quillon-send}
[ -x "$receiver" ] || { echo "FAIL: $receiver is not an executable"; exit 1; }
[ -x "$sender" ] || { echo "FAIL: $sender is not an executable"; exit 1; }
rsyslogd=$(command -v rsyslogd || true)
[ -n "$rsyslogd" ] || [ ! -x /usr/sbin/rsyslogd ] || rsyslogd=/usr/sbin/rsyslogd
[ -n "$rsyslogd" ] || { echo "FAIL: rsyslogd is not installed (scripts/deps.sh installs it)"; exit 1; }

work=$(mktemp -d)
daemon=
passed=0
count=200

cleanup() {
    if [ -n "$daemon" ] && kill -0 "$daemon" 2>/dev/null; then
        kill "$daemon" 2>/dev/null || true
        wait "$daemon" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- rsyslogd output"; cat "$work/rsyslogd.out" 2>/dev/null || true
    echo "--- files"; head -3 "$work"/*.log 2>/dev/null || true
    exit 1
}

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

lines_with() {
    local n
    n=$(grep -acF -- "$1" "$2" 2>/dev/null) || true
    echo "${n:-0}"
}

# rsyslogd writes asynchronously: wait until a file holds count lines with the text.
wait_for_lines() {
    for _ in $(seq 100); do
        [ "$(lines_with "$1" "$3")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

start_daemon() {
    udp_port=$1 tcp_port=$2
    # No DNS: the daemon would otherwise look up each sender's address.
    cat > "$work/rsyslog.conf" <<EOF
global(workDirectory="$work" net.enableDNS="off")
module(load="imudp")
module(load="imtcp")
input(type="imudp" address="127.0.0.1" port="$udp_port")
input(type="imtcp" address="127.0.0.1" port="$tcp_port")
if \$inputname == "imtcp" then {
    action(type="omfile" file="$work/rfc5424.log" template="RSYSLOG_SyslogProtocol23Format")
} else {
    action(type="omfile" file="$work/rfc3164.log" template="RSYSLOG_TraditionalFileFormat")
}
EOF
    "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" > "$work/rsyslogd.out" 2>&1 &
    daemon=$!
    for _ in $(seq 50); do
        kill -0 "$daemon" 2>/dev/null || return 1
        printf '<13>Jan  1 00:00:00 host probe: udp probe\n' > "/dev/udp/127.0.0.1/$udp_port" || true
        { printf '<13>1 - host probe - - - tcp probe\n' > "/dev/tcp/127.0.0.1/$tcp_port"; } 2>/dev/null || true
        if [ "$(lines_with "udp probe" "$work/rfc3164.log")" -gt 0 ] &&
            [ "$(lines_with "tcp probe" "$work/rfc5424.log")" -gt 0 ]; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

started=no
for _ in 1 2 3 4 5; do
    base=$((20000 + RANDOM % 20000 * 2))
    if start_daemon "$base" "$((base + 1))"; then
        started=yes
        break
    fi
    kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    daemon=
done
[ "$started" = yes ] || fail "rsyslogd did not start and receive on loopback"

# Stamped messages, number 17 of the UDP stream left out.
stamp_time() { date +%s%6N; }
{
    for i in $(seq "$count"); do
        message="<134>1 2024-05-01T12:00:00Z host app 42 - [quillon@32473 run=\"rs\" stream=\"1000000\" seq=\"$i\" t=\"$(stamp_time)\"] tcp stamped"
        printf '%d %s' "${#message}" "$message"
    done
} > "/dev/tcp/127.0.0.1/$tcp_port"
for i in $(seq "$count"); do
    [ "$i" -eq 17 ] && continue
    printf '<13>Jan  1 00:00:00 host app: udp stamped quillon=rs:0:%d:%s' "$i" "$(stamp_time)" \
        > "/dev/udp/127.0.0.1/$udp_port"
done
wait_for_lines "tcp stamped" "$count" "$work/rfc5424.log" || fail "not all TCP messages were written"
wait_for_lines "udp stamped" $((count - 1)) "$work/rfc3164.log" || fail "not all UDP messages were written"

summary=$("$receiver" --check-file "$work/rfc5424.log" --expect "$count") || fail "5424 file: $summary"
case "$summary" in
*"stamped: $count received, 0 lost, 0 duplicated, 0 out of order"*) pass "RFC 5424 stamps in the daemon's file" ;;
*) fail "RFC 5424 file: $summary" ;;
esac

status=0
summary=$("$receiver" --check-file "$work/rfc3164.log" --expect "$count") || status=$?
[ "$status" -eq 1 ] || fail "RFC 3164 file with a loss exited with $status"
case "$summary" in
*"stamped: $((count - 1)) received, 1 lost, 0 duplicated, 0 out of order"*) pass "RFC 3164 tokens: the one left out is lost" ;;
*) fail "RFC 3164 file: $summary" ;;
esac

# quillon-send's own stamps through the daemon: RFC 5424 octet counted over
# TCP, and RFC 3164 over UDP at a rate the daemon keeps up with.
chain=1000
"$sender" --port "$tcp_port" --transport tcp --format rfc5424 --framing octet-count --priority 134 \
    --message "tcp chained" --stamp --run-id chain5424 --unlimited --count "$chain" --quiet ||
    fail "quillon-send over TCP"
"$sender" --port "$udp_port" --priority 13 --message "udp chained" --stamp --run-id chain3164 \
    --rate 5000 --count "$chain" --quiet || fail "quillon-send over UDP"
wait_for_lines "tcp chained" "$chain" "$work/rfc5424.log" || fail "not all of quillon-send's TCP messages were written"
wait_for_lines "udp chained" "$chain" "$work/rfc3164.log" || fail "not all of quillon-send's UDP messages were written"

summary=$("$receiver" --check-file "$work/rfc5424.log" --expect $((count + chain))) || fail "chain 5424: $summary"
case "$summary" in
*"stamped: $((count + chain)) received, 0 lost, 0 duplicated, 0 out of order"*"run chain5424 stream 1 (shard 0): $chain received, 0 lost"*)
    pass "quillon-send --stamp over TCP, through the daemon's file" ;;
*) fail "chain 5424: $summary" ;;
esac
summary=$("$receiver" --check-file "$work/rfc3164.log" --allow-loss 1) || fail "chain 3164: $summary"
case "$summary" in
*"run chain3164 stream 1 (shard 0): $chain received, 0 lost, 0 duplicated, 0 out of order"*)
    pass "quillon-send --stamp over UDP, through the daemon's file" ;;
*) fail "chain 3164: $summary" ;;
esac

echo "$passed passed, 0 failed"
