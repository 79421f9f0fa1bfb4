#!/usr/bin/env bash
# Sends with quillon-send to a real rsyslogd on loopback and checks what the
# daemon parsed: facility, severity, host name, tag and message of the RFC
# header option over UDP and over TCP with CR LF framing, the numbered
# template's sequence, and a HEX= packet arriving byte for byte.
# Usage: rsyslog_interop.sh PATH-TO-quillon-send
set -euo pipefail

sender=${1:?usage: rsyslog_interop.sh PATH-TO-quillon-send}
[ -x "$sender" ] || { echo "FAIL: $sender is not an executable"; exit 1; }
rsyslogd=$(command -v rsyslogd || true)
[ -n "$rsyslogd" ] || [ ! -x /usr/sbin/rsyslogd ] || rsyslogd=/usr/sbin/rsyslogd
[ -n "$rsyslogd" ] || { echo "FAIL: rsyslogd is not installed (scripts/deps.sh installs it)"; exit 1; }

work=$(mktemp -d)
daemon=
passed=0

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
    echo "--- parsed messages"; cat -A "$work/parsed.log" 2>/dev/null || true
    exit 1
}

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

# Lines of the parsed log that contain a text, without the CR that CR LF
# framing leaves at the end of each TCP message.
lines_with() {
    grep -aF -- "$1" "$work/parsed.log" 2>/dev/null | tr -d '\r' || true
}

# rsyslogd writes asynchronously: wait until the log holds count lines with the text.
wait_for_lines() {
    local text=$1 count=$2
    for _ in $(seq 100); do
        [ "$(lines_with "$text" | wc -l)" -ge "$count" ] && return 0
        sleep 0.1
    done
    return 1
}

start_daemon() {
    udp_port=$1 tcp_port=$2
    cat > "$work/rsyslog.conf" <<EOF
global(workDirectory="$work" parser.escapeControlCharactersOnReceive="off")
module(load="imudp")
module(load="imtcp")
input(type="imudp" address="127.0.0.1" port="$udp_port")
input(type="imtcp" address="127.0.0.1" port="$tcp_port")
template(name="fields" type="string"
         string="%syslogfacility%|%syslogseverity%|%hostname%|%programname%|%msg%\n")
template(name="raw" type="string" string="%rawmsg%\n")
if \$rawmsg contains "hexcheck" then {
    action(type="omfile" file="$work/raw.log" template="raw")
}
*.* action(type="omfile" file="$work/parsed.log" template="fields")
EOF
    rm -f "$work/rsyslogd.pid"
    "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" > "$work/rsyslogd.out" 2>&1 &
    daemon=$!
    # Ready when a probe has come through each input.
    for _ in $(seq 50); do
        kill -0 "$daemon" 2>/dev/null || return 1
        "$sender" --port "$udp_port" --rfc-header --message "interop probe udp" --quiet || true
        "$sender" --transport tcp --crlf --port "$tcp_port" --rfc-header --message "interop probe tcp" \
            --quiet 2>/dev/null || true
        if [ -n "$(lines_with "interop probe udp")" ] && [ -n "$(lines_with "interop probe tcp")" ]; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

stop_daemon() {
    kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    daemon=
}

# Ports picked at random from a high range; a taken one shows as a failed start.
started=no
for _ in 1 2 3 4 5; do
    base=$((20000 + RANDOM % 20000 * 2))
    if start_daemon "$base" "$((base + 1))"; then
        started=yes
        break
    fi
    stop_daemon
    rm -f "$work/parsed.log"
done
[ "$started" = yes ] || fail "rsyslogd did not start and receive on loopback"
echo "rsyslogd $("$rsyslogd" -v | head -1 | awk '{print $2}') listening on UDP $udp_port and TCP $tcp_port"

host=$(uname -n)

# RFC header over UDP: facility local4 (20), warning (4).
"$sender" --port "$udp_port" --rfc-header --facility local4 --level warning \
    --message "interop udp rfc" --quiet || fail "quillon-send over UDP exited with $?"
wait_for_lines "interop udp rfc" 1 || fail "the UDP message did not arrive"
expected="20|4|$host|Quillon| interop udp rfc"
[ "$(lines_with "interop udp rfc")" = "$expected" ] ||
    fail "UDP parsed as '$(lines_with "interop udp rfc")', expected '$expected'"
pass "UDP with RFC header: facility, severity, host, tag and message"

# RFC header over TCP with CR LF framing, numbered template: daemon (3), error (3).
"$sender" --transport tcp --crlf --port "$tcp_port" --rfc-header --facility daemon --level error \
    --message "Interop TCP: This is Syslog test message number ####" --unlimited --count 50 --quiet ||
    fail "quillon-send over TCP exited with $?"
wait_for_lines "Interop TCP:" 50 || fail "not all 50 TCP messages arrived"
expected=$(for i in $(seq 50); do echo "3|3|$host|Quillon| Interop TCP: This is Syslog test message number $i"; done)
[ "$(lines_with "Interop TCP:")" = "$expected" ] || fail "the TCP messages were not parsed as expected"
pass "TCP with CR LF framing: 50 messages framed, parsed and numbered 1 to 50 in order"

# The numbered template over UDP keeps its sequence too.
"$sender" --port "$udp_port" --rfc-header --priority 13 \
    --message "Interop UDP: This is Syslog test message number ####" --rate 2000 --count 20 --quiet ||
    fail "quillon-send numbered over UDP exited with $?"
wait_for_lines "Interop UDP:" 20 || fail "not all 20 numbered UDP messages arrived"
expected=$(for i in $(seq 20); do echo "1|5|$host|Quillon| Interop UDP: This is Syslog test message number $i"; done)
[ "$(lines_with "Interop UDP:")" = "$expected" ] || fail "the numbered UDP messages were not parsed as expected"
pass "UDP numbered template: 1 to 20 in order"

# A HEX= packet: the daemon receives exactly the decoded bytes, high bytes and tab included.
printf '<165>hexcheck raw \xe9\xff\t~end' > "$work/expected.raw"
hex=$(od -An -v -tx1 "$work/expected.raw" | tr -d ' \n')
"$sender" --port "$udp_port" --message "HEX=$hex" --quiet || fail "quillon-send with HEX= exited with $?"
for _ in $(seq 100); do [ -s "$work/raw.log" ] && break; sleep 0.1; done
printf '\n' >> "$work/expected.raw"
cmp -s "$work/raw.log" "$work/expected.raw" ||
    fail "HEX= packet arrived as $(od -An -c "$work/raw.log" 2>/dev/null | tr -s ' ')"
pass "HEX= packet arrived byte for byte"

echo "$passed passed, 0 failed"
