#!/usr/bin/env bash
# quillon-send into a real syslog-ng's unix-dgram() and unix-stream()
# sources on sockets of the test's own: RFC 3164 in the local form (no host
# name, so syslog-ng's own, and the tag read as the program) numbered in
# order, one message per datagram and LF framed on the stream, and RFC
# 5424 (flags(syslog-protocol)) with every header field and structured data.
# syslog-ng-core comes unpacked into FOLDER/root by scripts/fetch-syslog-ng.sh.
# Usage: syslog_ng_unix_interop.sh PATH-TO-quillon-send FOLDER
set -euo pipefail
sender=${1:?usage: syslog_ng_unix_interop.sh PATH-TO-quillon-send FOLDER}
folder=${2:?usage: syslog_ng_unix_interop.sh PATH-TO-quillon-send FOLDER}
source "$(dirname "$0")/lib.sh"
need_executables "$sender"
show_on_fail+=(parsed.log)

find_syslog_ng "$folder"

dgram=$work/dgram.sock stream=$work/stream.sock dgram5424=$work/dgram5424.sock stream5424=$work/stream5424.sock
cat > "$work/syslog-ng.conf" <<CONF
@version: $version
options { keep-hostname(yes); chain-hostnames(no); use-dns(no); dns-cache(no); stats-freq(0); };
source s_unix {
    unix-dgram("$dgram");
    unix-stream("$stream");
    unix-dgram("$dgram5424" flags(syslog-protocol));
    unix-stream("$stream5424" flags(syslog-protocol));
};
destination d_parsed {
    file("$work/parsed.log"
         template("\${FACILITY_NUM}|\${LEVEL_NUM}|\${HOST}|\${PROGRAM}|\${PID}|\${MSGID}|\${SDATA}|\${MSG}\n"));
};
log { source(s_unix); destination(d_parsed); };
CONF
launch_syslog_ng

probe() {
    "$sender" --transport unix-dgram --socket "$dgram" --rfc-header --message "interop probe" --quiet 2>/dev/null ||
        true
    [ -n "$(lines_with "interop probe")" ]
}
await_probe probe || fail "syslog-ng did not start and receive on $dgram"
echo "syslog-ng $("$syslog_ng" --version | awk '/^Installer-Version/ {print $2}') listening on $work/*.sock"
host=$(uname -n)

# Local sources add a [meta sequenceId="N"] element of their own.
expect_fields() { # text count expected
    wait_for_lines "$1" "$2" || fail "$(count_lines_with "$1") of $2 lines with '$1' arrived"
    sed -E 's/\[meta sequenceId="[0-9]+"\]//' "$work/parsed.log" > "$work/fields.log"
    expect_lines "$1" "$2" "$3" fields.log
}

for transport in unix-dgram unix-stream; do
    socket=$dgram
    [ "$transport" = unix-stream ] && socket=$stream
    "$sender" --transport "$transport" --socket "$socket" --rfc-header --facility daemon --level error \
        --message "Interop $transport: This is Syslog test message number ####" --unlimited --count 50 --quiet ||
        fail "quillon-send over $transport exited with $?"
    expect_fields "Interop $transport:" 50 \
        "$(numbered "3|3|$host|Quillon||||Interop $transport: This is Syslog test message number " 50)"
    pass "RFC 3164 over $transport: facility, severity, host, program, 50 messages in order"
done

sd1='[test@32473 env="lab" q="a\"b\\c\]d"]' sd2='[x@1 n="1"]'
for transport in unix-dgram unix-stream; do
    socket=$dgram5424
    [ "$transport" = unix-stream ] && socket=$stream5424
    "$sender" --transport "$transport" --socket "$socket" --format rfc5424 --facility local4 --level warning \
        --hostname interop.host --app-name iapp --procid 321 --msgid IDU --sd "$sd1" --sd "$sd2" \
        --message "Interop5424 $transport: This is Syslog test message number ####" --unlimited --count 20 --quiet ||
        fail "quillon-send RFC 5424 over $transport exited with $?"
    expect_fields "Interop5424 $transport:" 20 \
        "$(numbered "20|4|interop.host|iapp|321|IDU|$sd1$sd2|Interop5424 $transport: This is Syslog test message number " 20)"
    pass "RFC 5424 over $transport: host name, app name, procid, msgid, structured data, 20 in order"
done
finish
