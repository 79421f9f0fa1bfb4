#!/usr/bin/env bash
# Sends RFC 5424 messages with quillon-send to a real syslog-ng on loopback,
# over UDP and over TCP with octet counting, and checks what the daemon
# parsed: facility, severity, host name, program, pid, msgid, structured data
# with escaped values, and the message, multi-line and numbered in order.
#
# syslog-ng-core is unpacked from its Debian package into a folder of the
# test's own: installing it would remove rsyslog. Its libraries come from
# scripts/deps.sh.
# Usage: syslog_ng_interop.sh PATH-TO-quillon-send [FOLDER-FOR-THE-PACKAGE]
set -euo pipefail

sender=${1:?usage: syslog_ng_interop.sh PATH-TO-quillon-send [FOLDER-FOR-THE-PACKAGE]}
[ -x "$sender" ] || { echo "FAIL: $sender is not an executable"; exit 1; }
work=$(mktemp -d)
package=${2:-$work/package}
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
    echo "--- syslog-ng output"; cat "$work/syslog-ng.out" 2>/dev/null || true
    echo "--- parsed messages"; cat -A "$work/parsed.log" 2>/dev/null || true
    exit 1
}

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

# Fetched once into the package folder; a fresh machine's package lists may
# need an update first.
root=$package/root
if [ ! -x "$root/usr/sbin/syslog-ng" ]; then
    mkdir -p "$package"
    rm -rf "$package"/syslog-ng-core_*.deb "$root" "$package/unpacking"
    if ! (cd "$package" && apt-get download syslog-ng-core > "$work/apt.out" 2>&1); then
        if [ "$(id -u)" -eq 0 ]; then
            apt-get update -qq >> "$work/apt.out" 2>&1 || true
            (cd "$package" && apt-get download syslog-ng-core >> "$work/apt.out" 2>&1) || true
        fi
    fi
    deb=$(ls "$package"/syslog-ng-core_*.deb 2>/dev/null | head -1 || true)
    [ -n "$deb" ] || { cat "$work/apt.out"; fail "apt-get download syslog-ng-core failed"; }
    dpkg-deb -x "$deb" "$package/unpacking" || fail "dpkg-deb could not unpack $deb"
    mv "$package/unpacking" "$root"
fi
syslog_ng=$root/usr/sbin/syslog-ng
modules=$(ls -d "$root"/usr/lib/syslog-ng/[0-9]* 2>/dev/null | head -1 || true)
[ -n "$modules" ] || fail "no module folder in $root/usr/lib/syslog-ng"
export LD_LIBRARY_PATH=$root/usr/lib/syslog-ng${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
if ldd "$syslog_ng" "$modules/libafsocket.so" | grep -q "not found"; then
    ldd "$syslog_ng" "$modules/libafsocket.so" | grep "not found"
    fail "syslog-ng is missing libraries (scripts/deps.sh installs them)"
fi
version=$("$syslog_ng" --version | awk '/^Config version/ {print $3}')
[ -n "$version" ] || fail "$syslog_ng does not run"

# Lines of the parsed log that contain a text.
lines_with() {
    grep -aF -- "$1" "$work/parsed.log" 2>/dev/null || true
}

# syslog-ng writes asynchronously: wait until the log holds count lines with the text.
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
    # An LF in MSG shows as '~', so a multi-line message stays on one line.
    cat > "$work/syslog-ng.conf" <<EOF
@version: $version
options { keep-hostname(yes); chain-hostnames(no); use-dns(no); dns-cache(no); stats-freq(0); };
source s_udp { syslog(ip("127.0.0.1") port($udp_port) transport("udp")); };
source s_tcp { syslog(ip("127.0.0.1") port($tcp_port) transport("tcp")); };
destination d_parsed {
    file("$work/parsed.log" template-escape(no)
         template("\${FACILITY_NUM}|\${LEVEL_NUM}|\${HOST}|\${PROGRAM}|\${PID}|\${MSGID}|\${SDATA}|\$(replace-delimiter '\n' '~' '\${MSG}')\n"));
};
log { source(s_udp); source(s_tcp); destination(d_parsed); };
EOF
    "$syslog_ng" -F --no-caps -f "$work/syslog-ng.conf" --module-path="$modules" --persist-file="$work/persist" \
        --pidfile="$work/syslog-ng.pid" --control="$work/syslog-ng.ctl" > "$work/syslog-ng.out" 2>&1 &
    daemon=$!
    # Ready when a probe has come through each source.
    for _ in $(seq 50); do
        kill -0 "$daemon" 2>/dev/null || return 1
        "$sender" --port "$udp_port" --format rfc5424 --message "interop probe udp" --quiet 2>/dev/null || true
        "$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 \
            --message "interop probe tcp" --quiet 2>/dev/null || true
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
[ "$started" = yes ] || fail "syslog-ng did not start and receive on loopback"
echo "syslog-ng $("$syslog_ng" --version | awk '/^Installer-Version/ {print $2}') listening on UDP $udp_port and TCP $tcp_port"

host=$(uname -n)

# Over UDP: every header field, and two SD elements whose values carry the
# escaped '"', '\' and ']'. Nil values ("-") read as empty.
sd1='[test@32473 env="lab" q="a\"b\\c\]d"]' sd2='[x@1 n="1"]'
"$sender" --port "$udp_port" --format rfc5424 --facility local4 --level warning --hostname interop.host \
    --app-name iapp --procid 321 --msgid IDU --sd "$sd1" --sd "$sd2" --message "interop5424 udp" --quiet ||
    fail "quillon-send over UDP exited with $?"
wait_for_lines "interop5424 udp" 1 || fail "the UDP message did not arrive"
expected="20|4|interop.host|iapp|321|IDU|$sd1$sd2|interop5424 udp"
[ "$(lines_with "interop5424 udp")" = "$expected" ] ||
    fail "UDP parsed as '$(lines_with "interop5424 udp")', expected '$expected'"
pass "RFC 5424 over UDP: host name, app name, procid, msgid, escaped structured data and message"

# Over TCP with octet counting, numbered, the machine's host name.
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --facility daemon \
    --level error --procid 4242 --message "Interop TCP: This is Syslog test message number ####" \
    --unlimited --count 50 --quiet || fail "quillon-send over TCP exited with $?"
wait_for_lines "Interop TCP:" 50 || fail "not all 50 TCP messages arrived"
expected=$(for i in $(seq 50); do
    echo "3|3|$host|Quillon|4242|||Interop TCP: This is Syslog test message number $i"
done)
[ "$(lines_with "Interop TCP:")" = "$expected" ] || fail "the TCP messages were not parsed as expected"
pass "RFC 5424 over TCP with octet counting: 50 messages parsed and numbered 1 to 50 in order"

# A multi-line message with a BOM from a simulated source address: octet
# counting keeps the LF inside the message, syslog-ng drops the BOM, and the
# address is the host name.
printf 'interop5424 line one\nline two' > "$work/multi.txt"
"$sender" --transport tcp --framing octet-count --port "$tcp_port" --format rfc5424 --priority 13 --bom \
    --source-address 10.1.2.3 --msgid ML --sd "$sd2" --procid 7 --multiline-file "$work/multi.txt" \
    --unlimited --count 3 --quiet || fail "quillon-send multi-line over TCP exited with $?"
wait_for_lines "interop5424 line one" 3 || fail "not all 3 multi-line messages arrived"
expected=$(for i in 1 2 3; do echo "1|5|10.1.2.3|Quillon|7|ML|$sd2|interop5424 line one~line two"; done)
[ "$(lines_with "interop5424 line one")" = "$expected" ] ||
    fail "multi-line parsed as '$(lines_with "interop5424 line one")', expected '$expected'"
pass "RFC 5424 over TCP with octet counting: a multi-line message with a BOM, the source address as host name"

echo "$passed passed, 0 failed"
