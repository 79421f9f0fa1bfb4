#!/usr/bin/env bash
# RFC 5424 messages from quillon-send to a real syslog-ng on loopback, over
# UDP and over TCP with octet counting; checks what the daemon parsed:
# facility, severity, host name, program, pid, msgid, structured data with
# escaped values, and the message, multi-line and numbered in order; PROXY
# headers into transport("proxied-tcp"). Last,
# docs/collectors/syslog-ng.conf as a user installs it, between quillon-send
# and quillon-recv.
# syslog-ng-core comes unpacked into FOLDER/root by scripts/fetch-syslog-ng.sh
# (scripts/test.sh runs it), never installed: that would remove rsyslog.
# Usage: syslog_ng_interop.sh PATH-TO-quillon-send FOLDER PATH-TO-quillon-recv
set -euo pipefail
usage="usage: syslog_ng_interop.sh PATH-TO-quillon-send FOLDER PATH-TO-quillon-recv"
sender=${1:?$usage}
folder=${2:?$usage}
receiver=${3:?$usage}
source "$(dirname "$0")/lib.sh"
need_executables "$sender" "$receiver"
need_jq
show_on_fail+=(parsed.log)

find_syslog_ng "$folder"

start_daemon() {
    udp_port=$1 tcp_port=$(($1 + 1))
    # An LF in MSG shows as '~', so a multi-line message stays on one line.
    cat > "$work/syslog-ng.conf" <<CONF
@version: $version
options { keep-hostname(yes); chain-hostnames(no); use-dns(no); dns-cache(no); stats-freq(0); };
source s_udp { syslog(ip("127.0.0.1") port($udp_port) transport("udp")); };
source s_tcp { syslog(ip("127.0.0.1") port($tcp_port) transport("tcp")); };
destination d_parsed {
    file("$work/parsed.log" template-escape(no)
         template("\${FACILITY_NUM}|\${LEVEL_NUM}|\${HOST}|\${PROGRAM}|\${PID}|\${MSGID}|\${SDATA}|\$(replace-delimiter '\n' '~' '\${MSG}')\n"));
};
log { source(s_udp); source(s_tcp); destination(d_parsed); };
CONF
    launch_syslog_ng
    await_probe probe
}

probe() {
    "$sender" --port "$udp_port" --format rfc5424 --message "interop probe udp" --quiet 2>/dev/null || true
    "$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 \
        --message "interop probe tcp" --quiet 2>/dev/null || true
    [ -n "$(lines_with "interop probe udp")" ] && [ -n "$(lines_with "interop probe tcp")" ]
}

start_on_free_ports 2 || fail "syslog-ng did not start and receive on loopback"
echo "syslog-ng $("$syslog_ng" --version | awk '/^Installer-Version/ {print $2}') listening on UDP $udp_port and TCP $tcp_port"
host=$(uname -n)

# Two SD elements whose values carry the escaped '"', '\' and ']'.
sd1='[test@32473 env="lab" q="a\"b\\c\]d"]' sd2='[x@1 n="1"]'
"$sender" --port "$udp_port" --format rfc5424 --facility local4 --level warning --hostname interop.host \
    --app-name iapp --procid 321 --msgid IDU --sd "$sd1" --sd "$sd2" --message "interop5424 udp" --quiet ||
    fail "quillon-send over UDP exited with $?"
expect_lines "interop5424 udp" 1 "20|4|interop.host|iapp|321|IDU|$sd1$sd2|interop5424 udp"
pass "RFC 5424 over UDP: host name, app name, procid, msgid, escaped structured data and message"

# Numbered, the machine's host name; nil values ("-") read as empty.
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --facility daemon \
    --level error --procid 4242 --message "Interop TCP: This is Syslog test message number ####" \
    --unlimited --count 50 --quiet || fail "quillon-send over TCP exited with $?"
expect_lines "Interop TCP:" 50 "$(numbered "3|3|$host|Quillon|4242|||Interop TCP: This is Syslog test message number " 50)"
pass "RFC 5424 over TCP with octet counting: 50 messages parsed and numbered 1 to 50 in order"

# Octet counting keeps the LF inside a message, syslog-ng drops the BOM, and
# the simulated source address is the host name.
printf 'interop5424 line one\nline two' > "$work/multi.txt"
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --priority 13 --bom \
    --source-address 10.1.2.3 --msgid ML --sd "$sd2" --procid 7 --multiline-file "$work/multi.txt" \
    --unlimited --count 3 --quiet || fail "quillon-send multi-line over TCP exited with $?"
line="1|5|10.1.2.3|Quillon|7|ML|$sd2|interop5424 line one~line two"
expect_lines "interop5424 line one" 3 "$line"$'\n'"$line"$'\n'"$line"
pass "RFC 5424 over TCP with octet counting: a multi-line message with a BOM, the source address as host name"
stop_daemon

# PROXY protocol v1 (syslog-ng 3.38 reads no other) into transport("proxied-tcp"):
# its macros show the client each header claimed and the address reached.
start_daemon() {
    proxy_port=$1
    cat > "$work/syslog-ng.conf" <<CONF
@version: $version
options { use-dns(no); dns-cache(no); stats-freq(0); };
source s_proxied { network(ip("127.0.0.1") port($proxy_port) transport("proxied-tcp") flags(syslog-protocol)); };
destination d_proxied {
    file("$work/parsed.log" template("\${PROXIED_SRCIP}|\${PROXIED_SRCPORT}|\${PROXIED_DSTIP}|\${PROXIED_DSTPORT}|\${MSG}\n"));
};
log { source(s_proxied); destination(d_proxied); };
CONF
    launch_syslog_ng
    await_probe probe_proxied
}
proxied() { # source message [flags...]
    local source=$1 message=$2
    shift 2
    "$sender" --transport tcp --framing lf --port "$proxy_port" --format rfc5424 --proxy-protocol v1 \
        --proxy-source "$source" --message "$message" --quiet "$@"
}
probe_proxied() {
    proxied 192.0.2.1 "proxied probe" 2>/dev/null || true
    [ -n "$(lines_with "proxied probe")" ]
}
start_on_free_ports 1 || fail "syslog-ng did not start with transport(\"proxied-tcp\")"
proxied 192.0.2.7:40000 "proxied four" || fail "quillon-send --proxy-protocol v1 exited with $?"
expect_lines "proxied four" 1 "192.0.2.7|40000|127.0.0.1|$proxy_port|proxied four"
proxied '[2001:db8::7]:40001' "proxied six" || fail "quillon-send --proxy-protocol v1 over IPv6 exited with $?"
expect_lines "proxied six" 1 "2001:db8::7|40001|::ffff:127.0.0.1|$proxy_port|proxied six"
proxied 10.20.0.0/16 "proxied range" --connections 8 --unlimited --count 80 ||
    fail "quillon-send --proxy-source 10.20.0.0/16 exited with $?"
wait_for_lines "proxied range" 80 || fail "$(count_lines_with "proxied range") of 80 proxied messages arrived"
[ "$(lines_with "proxied range" | grep -c '^10\.20\.[0-9]*\.[0-9]*|')" -eq 80 ] ||
    fail "proxied messages claimed clients outside 10.20.0.0/16: $(lines_with "proxied range" | head -3)"
[ "$(lines_with "proxied range" | cut -d'|' -f1 | sort -u | wc -l)" -gt 1 ] ||
    fail "8 sessions claimed one client: $(lines_with "proxied range" | head -3)"
pass "PROXY v1 into proxied-tcp: the claimed client, IPv4 and IPv6, in the daemon's macros; 8 sessions from a network"
stop_daemon

# The configurations of docs/collectors/, run as they stand after their
# placeholders are filled in and their copy to a file turned on, as their
# headers say: stamped RFC 5424 over TCP through each to quillon-recv and the file.
chain=2000
start_daemon() {
    listen_port=$1
    collector_config "$config" BIND=127.0.0.1 LISTEN_PORT="$listen_port" RECEIVER=127.0.0.1 \
        RECEIVER_PORT="$recv_port" WORK_DIR="$work/state" CHECK_FILE="$work/check.log"
    sed -i 's/^#copy //' "$work/$config"
    rm -rf "$work/state" "$work/check.log" "$work/persist"
    mkdir "$work/state"
    launch "$syslog_ng" -F --no-caps -f "$work/$config" --module-path="$modules" \
        --persist-file="$work/persist" --pidfile="$work/syslog-ng.pid" --control="$work/syslog-ng.ctl"
    await_probe probe_collector
}
probe_collector() {
    "$sender" --port "$listen_port" --format rfc5424 --message "docs probe" --quiet 2>/dev/null || true
    [ "$(count_lines_with "docs probe" check.log)" -gt 0 ]
}
for config in syslog-ng.conf syslog-ng-disk-buffer.conf; do
    start_json_receiver "$receiver" --expect "$chain" --idle 30
    start_on_free_ports 1 || fail "syslog-ng did not start with docs/collectors/$config: $(cat "$work/daemon.out")"
    "$sender" --port "$listen_port" --transport tcp --framing octet-count --format rfc5424 --stamp --run-id docs \
        --message "docs chained" --unlimited --count "$chain" --quiet || fail "quillon-send into docs/collectors/$config"
    expect_collector_chain "$receiver" "$chain" "docs/collectors/$config"
    stop_daemon
done
finish
