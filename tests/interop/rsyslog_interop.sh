#!/usr/bin/env bash
# Sends with quillon-send to a real rsyslogd on loopback and checks what the
# daemon parsed: facility, severity, host name, tag and message of the RFC
# header option over UDP and over TCP with CR LF framing, the numbered
# template's sequence, a HEX= packet arriving byte for byte, and RFC 5424
# messages over UDP and over TCP with octet counting: every header field,
# structured data with escaped values, and a simulated source address as
# the host name.
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
    echo "--- parsed RFC 5424 messages"; cat -A "$work/rfc5424.log" 2>/dev/null || true
    exit 1
}

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

# Lines of a parsed log (default parsed.log) that contain a text, without the
# CR that CR LF framing leaves at the end of each TCP message.
lines_with() {
    grep -aF -- "$1" "$work/${2:-parsed.log}" 2>/dev/null | tr -d '\r' || true
}

# rsyslogd writes asynchronously: wait until the log holds count lines with the text.
wait_for_lines() {
    local text=$1 count=$2 log=${3:-parsed.log}
    for _ in $(seq 100); do
        [ "$(lines_with "$text" "$log" | wc -l)" -ge "$count" ] && return 0
        sleep 0.1
    done
    return 1
}

start_daemon() {
    udp_port=$1 tcp_port=$2
    # No DNS: the daemon would otherwise look up each sender's address.
    cat > "$work/rsyslog.conf" <<EOF
global(workDirectory="$work" parser.escapeControlCharactersOnReceive="off" net.enableDNS="off")
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
# Control characters in MSG show as #ddd, so a multi-line message stays on one line.
template(name="fields5424" type="string"
         string="%syslogfacility%|%syslogseverity%|%hostname%|%app-name%|%procid%|%msgid%|%structured-data%|%msg:::escape-cc%\n")
if \$protocol-version == "1" then {
    action(type="omfile" file="$work/rfc5424.log" template="fields5424")
    stop
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

# RFC 5424 over UDP: every header field, and two SD elements whose values
# carry the escaped '"', '\' and ']', which rsyslog keeps as they came.
sd1='[test@32473 env="lab" q="a\"b\\c\]d"]' sd2='[x@1 n="1"]'
"$sender" --port "$udp_port" --format rfc5424 --facility local4 --level warning --hostname interop.host \
    --app-name iapp --procid 321 --msgid IDU --sd "$sd1" --sd "$sd2" --message "interop5424 udp" --quiet ||
    fail "quillon-send RFC 5424 over UDP exited with $?"
wait_for_lines "interop5424 udp" 1 rfc5424.log || fail "the RFC 5424 UDP message did not arrive"
expected="20|4|interop.host|iapp|321|IDU|$sd1$sd2|interop5424 udp"
[ "$(lines_with "interop5424 udp" rfc5424.log)" = "$expected" ] ||
    fail "RFC 5424 over UDP parsed as '$(lines_with "interop5424 udp" rfc5424.log)', expected '$expected'"
pass "RFC 5424 over UDP: host name, app name, procid, msgid, escaped structured data and message"

# RFC 5424 over TCP with octet counting, numbered, with the machine's host
# name and the defaults: the count keeps 50 messages apart.
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --facility daemon \
    --level error --procid 4242 --message "Interop 5424 TCP: This is Syslog test message number ####" \
    --unlimited --count 50 --quiet || fail "quillon-send RFC 5424 over TCP exited with $?"
wait_for_lines "Interop 5424 TCP:" 50 rfc5424.log || fail "not all 50 RFC 5424 TCP messages arrived"
expected=$(for i in $(seq 50); do
    echo "3|3|$host|Quillon|4242|-|-|Interop 5424 TCP: This is Syslog test message number $i"
done)
[ "$(lines_with "Interop 5424 TCP:" rfc5424.log)" = "$expected" ] ||
    fail "the RFC 5424 TCP messages were not parsed as expected"
pass "RFC 5424 over TCP with octet counting: 50 messages parsed and numbered 1 to 50 in order"

# A multi-line message with a BOM from a simulated source address: octet
# counting keeps the LF inside the message; the address is the host name.
printf 'interop5424 line one\nline two' > "$work/multi.txt"
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --priority 13 --bom \
    --source-address 10.1.2.3 --msgid ML --sd "$sd2" --procid 7 --multiline-file "$work/multi.txt" \
    --unlimited --count 3 --quiet || fail "quillon-send multi-line RFC 5424 over TCP exited with $?"
wait_for_lines "interop5424 line one" 3 rfc5424.log || fail "not all 3 multi-line messages arrived"
expected=$(for i in 1 2 3; do echo "1|5|10.1.2.3|Quillon|7|ML|$sd2|"$'\xef\xbb\xbf'"interop5424 line one#010line two"; done)
[ "$(lines_with "interop5424 line one" rfc5424.log)" = "$expected" ] ||
    fail "multi-line RFC 5424 parsed as '$(lines_with "interop5424 line one" rfc5424.log)', expected '$expected'"
pass "RFC 5424 over TCP with octet counting: a multi-line message with a BOM, the source address as host name"

echo "$passed passed, 0 failed"
