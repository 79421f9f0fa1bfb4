#!/usr/bin/env bash
# quillon-send to a real rsyslogd on loopback; checks what the daemon parsed:
# the RFC header option over UDP and over TCP with CR LF framing, the numbered
# template's sequence, a HEX= packet byte for byte, and RFC 5424 over UDP and
# over TCP with octet counting: every header field, escaped structured data,
# a simulated source address as the host name.
# Usage: rsyslog_interop.sh PATH-TO-quillon-send
set -euo pipefail
sender=${1:?usage: rsyslog_interop.sh PATH-TO-quillon-send}
source "$(dirname "$0")/lib.sh"
need_executables "$sender"
find_rsyslogd
show_on_fail+=(parsed.log rfc5424.log)
strip_cr=yes

start_daemon() {
    udp_port=$1 tcp_port=$(($1 + 1))
    # No DNS: the daemon would otherwise look up each sender's address.
    cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work" parser.escapeControlCharactersOnReceive="off" net.enableDNS="off")
module(load="imudp")
module(load="imtcp")
input(type="imudp" address="127.0.0.1" port="$udp_port")
input(type="imtcp" address="127.0.0.1" port="$tcp_port")
$(rsyslog_raw_log)
$(rsyslog_field_logs)
CONF
    launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
    await_probe probe
}

probe() {
    "$sender" --port "$udp_port" --rfc-header --message "interop probe udp" --quiet || true
    "$sender" --transport tcp --crlf --port "$tcp_port" --rfc-header --message "interop probe tcp" \
        --quiet 2>/dev/null || true
    [ -n "$(lines_with "interop probe udp")" ] && [ -n "$(lines_with "interop probe tcp")" ]
}

start_on_free_ports 2 || fail "rsyslogd did not start and receive on loopback"
echo "rsyslogd $("$rsyslogd" -v | head -1 | awk '{print $2}') listening on UDP $udp_port and TCP $tcp_port"
host=$(uname -n)

# RFC header over UDP: facility local4 (20), warning (4).
"$sender" --port "$udp_port" --rfc-header --facility local4 --level warning \
    --message "interop udp rfc" --quiet || fail "quillon-send over UDP exited with $?"
expect_lines "interop udp rfc" 1 "20|4|$host|Quillon| interop udp rfc"
pass "UDP with RFC header: facility, severity, host, tag and message"

# RFC header over TCP with CR LF framing, numbered template: daemon (3), error (3).
"$sender" --transport tcp --crlf --port "$tcp_port" --rfc-header --facility daemon --level error \
    --message "Interop TCP: This is Syslog test message number ####" --unlimited --count 50 --quiet ||
    fail "quillon-send over TCP exited with $?"
expect_lines "Interop TCP:" 50 "$(numbered "3|3|$host|Quillon| Interop TCP: This is Syslog test message number " 50)"
pass "TCP with CR LF framing: 50 messages framed, parsed and numbered 1 to 50 in order"

"$sender" --port "$udp_port" --rfc-header --priority 13 \
    --message "Interop UDP: This is Syslog test message number ####" --rate 2000 --count 20 --quiet ||
    fail "quillon-send numbered over UDP exited with $?"
expect_lines "Interop UDP:" 20 "$(numbered "1|5|$host|Quillon| Interop UDP: This is Syslog test message number " 20)"
pass "UDP numbered template: 1 to 20 in order"

expect_hex_packet "$sender" --port "$udp_port"

# Two SD elements whose values carry the escaped '"', '\' and ']', which rsyslog keeps as they came.
sd1='[test@32473 env="lab" q="a\"b\\c\]d"]' sd2='[x@1 n="1"]'
"$sender" --port "$udp_port" --format rfc5424 --facility local4 --level warning --hostname interop.host \
    --app-name iapp --procid 321 --msgid IDU --sd "$sd1" --sd "$sd2" --message "interop5424 udp" --quiet ||
    fail "quillon-send RFC 5424 over UDP exited with $?"
expect_lines "interop5424 udp" 1 "20|4|interop.host|iapp|321|IDU|$sd1$sd2|interop5424 udp" rfc5424.log
pass "RFC 5424 over UDP: host name, app name, procid, msgid, escaped structured data and message"

# Octet counting keeps 50 messages apart; the machine's host name and the defaults.
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --facility daemon \
    --level error --procid 4242 --message "Interop 5424 TCP: This is Syslog test message number ####" \
    --unlimited --count 50 --quiet || fail "quillon-send RFC 5424 over TCP exited with $?"
expect_lines "Interop 5424 TCP:" 50 \
    "$(numbered "3|3|$host|Quillon|4242|-|-|Interop 5424 TCP: This is Syslog test message number " 50)" rfc5424.log
pass "RFC 5424 over TCP with octet counting: 50 messages parsed and numbered 1 to 50 in order"

# Octet counting keeps the LF inside a message; the simulated source address is the host name.
printf 'interop5424 line one\nline two' > "$work/multi.txt"
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --priority 13 --bom \
    --source-address 10.1.2.3 --msgid ML --sd "$sd2" --procid 7 --multiline-file "$work/multi.txt" \
    --unlimited --count 3 --quiet || fail "quillon-send multi-line RFC 5424 over TCP exited with $?"
line="1|5|10.1.2.3|Quillon|7|ML|$sd2|"$'\xef\xbb\xbf'"interop5424 line one#010line two"
expect_lines "interop5424 line one" 3 "$line"$'\n'"$line"$'\n'"$line" rfc5424.log
pass "RFC 5424 over TCP with octet counting: a multi-line message with a BOM, the source address as host name"
finish
