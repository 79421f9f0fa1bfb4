#!/usr/bin/env bash
# A real rsyslogd on loopback writes stamped messages to files, and
# quillon-recv --check-file reads the stamps back: RFC 5424 over TCP (octet
# counted) kept whole by the protocol-23 file format, and RFC 3164 with the
# token over UDP in the traditional format. One number left out must show
# as exactly one lost message. Then the whole chain: quillon-send --stamp
# into the daemon, its files checked; and RFC 3164 over TCP with its
# default CR LF into a daemon left at its defaults, which writes the CR as
# #015 after the token. Last, docs/collectors/rsyslog.conf as a user
# installs it, between quillon-send and quillon-recv.
# Usage: rsyslog_check_file.sh PATH-TO-quillon-recv PATH-TO-quillon-send
set -euo pipefail
receiver=${1:?usage: rsyslog_check_file.sh PATH-TO-quillon-recv PATH-TO-quillon-send}
sender=${2:?usage: rsyslog_check_file.sh PATH-TO-quillon-recv PATH-TO-quillon-send}
source "$(dirname "$0")/lib.sh"
need_executables "$receiver" "$sender"
need_jq
find_rsyslogd
count=200

start_daemon() {
    udp_port=$1 tcp_port=$(($1 + 1)) plain_port=$(($1 + 2))
    # No DNS: the daemon would otherwise look up each sender's address.
    cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work" net.enableDNS="off")
module(load="imudp")
module(load="imtcp")
input(type="imudp" address="127.0.0.1" port="$udp_port")
input(type="imtcp" address="127.0.0.1" port="$tcp_port")
input(type="imtcp" address="127.0.0.1" port="$plain_port" ruleset="defaults")
ruleset(name="defaults") {
    action(type="omfile" file="$work/defaults.log")
}
if \$inputname == "imtcp" then {
    action(type="omfile" file="$work/rfc5424.log" template="RSYSLOG_SyslogProtocol23Format")
} else {
    action(type="omfile" file="$work/rfc3164.log" template="RSYSLOG_TraditionalFileFormat")
}
CONF
    launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
    await_probe probe
}

probe() {
    printf '<13>Jan  1 00:00:00 host probe: udp probe\n' > "/dev/udp/127.0.0.1/$udp_port" || true
    { printf '<13>1 - host probe - - - tcp probe\n' > "/dev/tcp/127.0.0.1/$tcp_port"; } 2>/dev/null || true
    [ "$(count_lines_with "udp probe" rfc3164.log)" -gt 0 ] && [ "$(count_lines_with "tcp probe" rfc5424.log)" -gt 0 ]
}

# quillon-recv --check-file exits with status and its summary matches the
# pattern (where '*' stands for any text).
expect_summary() { # file pattern what status recv-arguments...
    local file=$1 pattern=$2 what=$3 expected=$4 summary status=0
    shift 4
    summary=$("$receiver" --check-file "$work/$file" "$@") || status=$?
    [ "$status" -eq "$expected" ] || fail "$what exited with $status: $summary"
    [[ "$summary" == *$pattern* ]] || fail "$what: $summary"
    pass "$what"
}

start_on_free_ports 3 || fail "rsyslogd did not start and receive on loopback"

# A count as the summary writes it, its thousands grouped.
grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<< "$1"; }

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
wait_for_lines "tcp stamped" "$count" rfc5424.log || fail "not all TCP messages were written"
wait_for_lines "udp stamped" $((count - 1)) rfc3164.log || fail "not all UDP messages were written"
expect_summary rfc5424.log "stamped: $count received, 0 lost, 0 duplicated, 0 out of order" \
    "RFC 5424 stamps in the daemon's file" 0 --expect "$count"
expect_summary rfc3164.log "stamped: $((count - 1)) received, 1 lost, 0 duplicated, 0 out of order" \
    "RFC 3164 tokens: the one left out is lost" 1 --expect "$count"

# quillon-send's own stamps through the daemon: RFC 5424 octet counted over
# TCP, and RFC 3164 over UDP at a rate the daemon keeps up with even on a
# machine busy with other tests (a faster burst can overflow its socket buffer).
chain=1000
"$sender" --port "$tcp_port" --transport tcp --format rfc5424 --framing octet-count --priority 134 \
    --message "tcp chained" --stamp --run-id chain5424 --unlimited --count "$chain" --quiet ||
    fail "quillon-send over TCP"
"$sender" --port "$udp_port" --priority 13 --message "udp chained" --stamp --run-id chain3164 \
    --rate 1000 --count "$chain" --quiet || fail "quillon-send over UDP"
wait_for_lines "tcp chained" "$chain" rfc5424.log || fail "not all of quillon-send's TCP messages were written"
wait_for_lines "udp chained" "$chain" rfc3164.log || fail "not all of quillon-send's UDP messages were written"
expect_summary rfc5424.log "stamped: $(grouped $((count + chain))) received, 0 lost, 0 duplicated, 0 out of order*run chain5424 stream 1 (shard 0): $(grouped $chain) received, 0 lost" \
    "quillon-send --stamp over TCP, through the daemon's file" 0 --expect $((count + chain))
expect_summary rfc3164.log "run chain3164 stream 1 (shard 0): $(grouped $chain) received, 0 lost, 0 duplicated, 0 out of order" \
    "quillon-send --stamp over UDP, through the daemon's file" 0 --allow-loss 1

"$sender" --port "$plain_port" --transport tcp --priority 13 --message "tcp escaped" --stamp --run-id escaped \
    --unlimited --count "$chain" --quiet || fail "quillon-send over TCP to the daemon's defaults"
wait_for_lines "tcp escaped" "$chain" defaults.log || fail "not all of quillon-send's TCP messages were written"
grep -q 'quillon=escaped:1:1:[0-9]*#015$' "$work/defaults.log" || fail "the daemon did not escape the CR as #015"
expect_summary defaults.log "stamped: $(grouped $chain) received, 0 lost, 0 duplicated, 0 out of order" \
    "RFC 3164 tokens escaped by the daemon's defaults" 0 --expect "$chain"
stop_daemon

# The configurations of docs/collectors/, run as they stand after their
# placeholders are filled in and their copy to a file turned on, as their
# headers say: both formats over TCP through each to quillon-recv and the file.
start_daemon() {
    listen_port=$1
    collector_config "$config" BIND=127.0.0.1 LISTEN_PORT="$listen_port" RECEIVER=127.0.0.1 \
        RECEIVER_PORT="$recv_port" WORK_DIR="$work/state" CHECK_FILE="$work/check.log"
    sed -i 's/^\( *\)#copy /\1/' "$work/$config"
    rm -rf "$work/state" "$work/check.log"
    mkdir "$work/state"
    launch "$rsyslogd" -n -f "$work/$config" -i "$work/rsyslogd.pid"
    await_probe probe_collector
}
probe_collector() {
    printf '<13>Jan  1 00:00:00 host probe: docs probe\n' > "/dev/udp/127.0.0.1/$listen_port" || true
    [ "$(count_lines_with "docs probe" check.log)" -gt 0 ]
}
for config in rsyslog.conf rsyslog-disk-queue.conf; do
    start_json_receiver "$receiver" --expect $((2 * chain)) --idle 30
    start_on_free_ports 1 || fail "rsyslogd did not start with docs/collectors/$config: $(cat "$work/daemon.out")"
    "$sender" --port "$listen_port" --transport tcp --framing octet-count --format rfc5424 --stamp \
        --run-id docs5424 --message "docs chained" --unlimited --count "$chain" --quiet ||
        fail "quillon-send RFC 5424 into docs/collectors/$config"
    "$sender" --port "$listen_port" --transport tcp --stamp --run-id docs3164 --message "docs chained" \
        --unlimited --count "$chain" --quiet || fail "quillon-send RFC 3164 into docs/collectors/$config"
    expect_collector_chain "$receiver" $((2 * chain)) "docs/collectors/$config"
    stop_daemon
done
finish
