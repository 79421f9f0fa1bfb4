#!/usr/bin/env bash
# quillon-send into a real rsyslogd's imuxsock on Unix datagram sockets of
# the test's own (imuxsock takes datagrams only). With the parser chain
# (UseSpecialParser off, ParseHostname on, IgnoreTimestamp off) every field
# the sender wrote is kept: RFC 3164 numbered in order, RFC 5424 header
# fields and structured data, a HEX= packet byte for byte. With imuxsock's
# defaults, as for /dev/log, facility, severity, tag and text are kept but
# the host name is rsyslog's own and the time stamp the time of arrival: the
# sender writes the local header there (no host name, "Quillon:").
# Usage: rsyslog_unix_interop.sh PATH-TO-quillon-send
set -euo pipefail
sender=${1:?usage: rsyslog_unix_interop.sh PATH-TO-quillon-send}
source "$(dirname "$0")/lib.sh"
need_executables "$sender"
find_rsyslogd
show_on_fail+=(parsed.log rfc5424.log local.log)
parsed=$work/parsed.sock local=$work/local.sock

cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work" parser.escapeControlCharactersOnReceive="off" net.enableDNS="off")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$parsed" RateLimit.Interval="0" UseSpecialParser="off" ParseHostname="on"
      IgnoreTimestamp="off")
input(type="imuxsock" Socket="$local" RateLimit.Interval="0" ruleset="local")
template(name="local" type="string"
         string="%syslogfacility%|%syslogseverity%|%hostname%|%programname%|%timereported:::date-rfc3339%|%msg%\n")
ruleset(name="local") {
    action(type="omfile" file="$work/local.log" template="local")
}
$(rsyslog_raw_log)
$(rsyslog_field_logs)
CONF
launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"

probe() {
    "$sender" --transport unix-dgram --socket "$parsed" --rfc-header --message "interop probe" --quiet 2>/dev/null ||
        true
    [ -n "$(lines_with "interop probe")" ]
}
await_probe probe || fail "rsyslogd did not start and receive on $parsed"
[ -S "$local" ] || fail "rsyslogd made no socket at $local"
echo "rsyslogd $("$rsyslogd" -v | head -1 | awk '{print $2}') listening on $parsed and $local"
host=$(uname -n)

"$sender" --transport unix-dgram --socket "$parsed" --rfc-header --facility daemon --level error \
    --message "Interop unix: This is Syslog test message number ####" --unlimited --count 50 --quiet ||
    fail "quillon-send over unix-dgram exited with $?"
expect_lines "Interop unix:" 50 "$(numbered "3|3|$host|Quillon| Interop unix: This is Syslog test message number " 50)"
pass "RFC 3164 over a Unix datagram socket: facility, severity, host, tag, 50 messages in order"

sd1='[test@32473 env="lab" q="a\"b\\c\]d"]' sd2='[x@1 n="1"]'
"$sender" --transport unix-dgram --socket "$parsed" --format rfc5424 --facility local4 --level warning \
    --hostname interop.host --app-name iapp --procid 321 --msgid IDU --sd "$sd1" --sd "$sd2" \
    --message "interop5424 unix" --quiet || fail "quillon-send RFC 5424 over unix-dgram exited with $?"
expect_lines "interop5424 unix" 1 "20|4|interop.host|iapp|321|IDU|$sd1$sd2|interop5424 unix" rfc5424.log
pass "RFC 5424 over a Unix datagram socket: host name, app name, procid, msgid, structured data and message"

expect_hex_packet "$sender" --transport unix-dgram --socket "$parsed"

# imuxsock's own parser: the sender's host name goes, and so does its
# second-precision time stamp (the arrival time has microseconds).
"$sender" --transport unix-dgram --socket "$local" --rfc-header --facility local4 --level warning \
    --source-address 10.1.2.3 --message "interop local" --quiet || fail "quillon-send to $local exited with $?"
wait_for_lines "interop local" 1 local.log || fail "nothing arrived on $local"
line=$(lines_with "interop local" local.log)
rewritten="20|4|$host|Quillon|"
[[ "$line" == "$rewritten"*"| Original Address=10.1.2.3 interop local" ]] ||
    fail "imuxsock's defaults gave '$line'"
[[ "$line" =~ \|[0-9T:-]+\.[0-9]{6} ]] || fail "the time stamp was not the arrival time: '$line'"
pass "imuxsock defaults: facility, severity, tag and text kept; host and time stamp are rsyslog's"
finish
