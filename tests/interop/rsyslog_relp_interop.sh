#!/usr/bin/env bash
# RELP both ways with a real rsyslogd, each with the receiving side stopped
# and started again in the middle of the run:
#  - quillon-send --transport relp --reconnect into rsyslog's imrelp, which
#    writes what it took to a file that quillon-recv --check-file reads: every
#    message the sender counted as acknowledged is there, and no more are lost
#    than the sender left unacknowledged at the break (which fails its run);
#  - quillon-send over TCP into rsyslog, whose omrelp forwards to
#    quillon-recv --listen relp: each receiver acknowledged every message it
#    took, and rsyslog sent again what the stopped one had not acknowledged,
#    so nothing is lost;
#  - quillon-send --transport relp-tls into imrelp over TLS (librelp's
#    OpenSSL driver on both sides): delivered with the server's name checked,
#    refused when the certificate does not carry the name given.
# Usage: rsyslog_relp_interop.sh PATH-TO-quillon-send PATH-TO-quillon-recv
set -euo pipefail
sender=${1:?usage: rsyslog_relp_interop.sh PATH-TO-quillon-send PATH-TO-quillon-recv}
receiver=${2:?usage: rsyslog_relp_interop.sh PATH-TO-quillon-send PATH-TO-quillon-recv}
source "$(dirname "$0")/lib.sh"
need_executables "$sender" "$receiver"
need_jq
find_rsyslogd
for module in imrelp omrelp; do
    compgen -G "/usr/lib/*/rsyslog/$module.so" > /dev/null ||
        skip "rsyslog's $module is not installed (scripts/deps.sh installs rsyslog-relp)"
done
show_on_fail+=(relp.log send.json send.err recv1.json recv2.json recv.err)
receivers=()
trap 'stop_daemon; for r in "${receivers[@]}"; do kill "$r" 2>/dev/null || true; done; rm -rf "$work"' EXIT

# A CA, the daemon's certificate for localhost and a client certificate.
pki=$work/pki
mkdir -p "$pki"
key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${key[@]}" -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 -subj "/CN=RELP test CA" 2> /dev/null
for peer in server client; do
    openssl req "${key[@]}" -keyout "$pki/$peer.key" -out "$pki/$peer.csr" -subj "/CN=$peer" 2> /dev/null
    openssl x509 -req -in "$pki/$peer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial -days 2 \
        -out "$pki/$peer.pem" -extfile <(echo "subjectAltName=DNS:localhost") 2> /dev/null
done

start_daemon() {
    relp_port=$1 tcp_port=$(($1 + 1)) recv_port=$(($1 + 2)) tls_port=$(($1 + 3))
    cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work" net.enableDNS="off")
module(load="imrelp" tls.tlslib="openssl")
module(load="imtcp")
module(load="omrelp")
input(type="imrelp" address="127.0.0.1" port="$relp_port" ruleset="written")
input(type="imtcp" address="127.0.0.1" port="$tcp_port" ruleset="forwarded")
input(type="imrelp" address="127.0.0.1" port="$tls_port" ruleset="written" tls="on" tls.cacert="$pki/ca.pem"
      tls.mycert="$pki/server.pem" tls.myprivkey="$pki/server.key")
ruleset(name="written") {
    action(type="omfile" file="$work/relp.log" template="RSYSLOG_TraditionalFileFormat")
}
ruleset(name="forwarded" queue.type="LinkedList") {
    action(type="omrelp" target="127.0.0.1" port="$recv_port" timeout="2"
           action.resumeRetryCount="-1" action.resumeInterval="1")
}
CONF
    launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
    await_probe probe
}

probe() {
    "$sender" --transport relp --port "$relp_port" --message "relp probe" --quiet 2>/dev/null || true
    [ "$(count_lines_with "relp probe" relp.log)" -gt 0 ]
}

start_on_free_ports 4 || fail "rsyslogd did not start and take RELP on loopback"

tls=(--transport relp-tls --port "$tls_port" --ca-file "$pki/ca.pem" --cert "$pki/client.pem" --key "$pki/client.key")
"$sender" "${tls[@]}" --server-name localhost --message "relp over tls" --unlimited --count 100 --json \
    > "$work/send.json" 2> "$work/send.err" || fail "quillon-send --transport relp-tls exited with $?"
[ "$(json send.json .acknowledged)" -eq 100 ] || fail "not every message over RELP and TLS was acknowledged"
wait_for_lines "relp over tls" 100 relp.log || fail "not every message over RELP and TLS was written"
status=0
"$sender" "${tls[@]}" --server-name other.example --message "relp wrong name" --quiet 2> "$work/send.err" || status=$?
[ "$status" -eq 1 ] && grep -q "does not carry the name other.example" "$work/send.err" ||
    fail "a certificate without the name given was taken (exit status $status)"
pass "quillon-send into imrelp over TLS: 100 acknowledged with the server's name checked, a wrong name refused"

# The daemon is stopped a second into a run of four and started again half
# a second later on the same port.
count=8000
"$sender" --transport relp --port "$relp_port" --reconnect --priority 13 --message "relp chained" --stamp \
    --run-id relpin --rate 2000 --count "$count" --json > "$work/send.json" 2> "$work/send.err" &
sending=$!
sleep 1
stop_daemon
sleep 0.5
launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
status=0
wait "$sending" || status=$?
sent=$(json send.json .sent) acknowledged=$(json send.json .acknowledged) unknown=$(json send.json .unknown_fate)
[ "$status" -eq $((unknown > 0 ? 1 : 0)) ] || fail "quillon-send over RELP exited with $status, $unknown of unknown fate"
[ "$(json send.json .reconnects)" -ge 1 ] || fail "quillon-send never reconnected"
[ $((acknowledged + unknown)) -eq "$sent" ] || fail "$acknowledged acknowledged and $unknown unknown of $sent sent"
wait_for_lines "relp chained" "$acknowledged" relp.log || fail "not every acknowledged message was written"
stop_daemon # writes what it holds
check=$("$receiver" --check-file "$work/relp.log" --expect "$count" --json) || true
lost=$(jq -r .lost <<< "$check") received=$(jq -r .received <<< "$check")
[ "$received" -ge "$acknowledged" ] && [ "$lost" -le "$unknown" ] ||
    fail "$received of $count received, $lost lost; $acknowledged acknowledged, $unknown unacknowledged: $check"
pass "quillon-send into imrelp across a restart: $acknowledged acknowledged all written, $lost lost of $unknown unacknowledged"

# omrelp into quillon-recv, stopped after a second and started again.
launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
await_probe probe || fail "rsyslogd did not start again"
start_receiver() { # number
    "$receiver" --listen relp --bind 127.0.0.1 --port "$recv_port" --output "$work/got$1.log" --json \
        --idle 3 > "$work/recv$1.json" 2>> "$work/recv.err" &
    receivers+=($!)
    for _ in $(seq 50); do grep -q "listening on relp" "$work/recv.err" 2> /dev/null && return 0; sleep 0.1; done
    return 1
}
start_receiver 1 || fail "quillon-recv did not listen on RELP"
"$sender" --transport tcp --port "$tcp_port" --priority 13 --message "relp forwarded" --stamp --run-id relpout \
    --rate 2000 --count "$count" --quiet &
sending=$!
sleep 1
kill -TERM "${receivers[0]}"
wait "${receivers[0]}" || true
: > "$work/recv.err"
start_receiver 2 || fail "quillon-recv did not listen on RELP again"
wait "$sending" || fail "quillon-send over TCP exited with $?"
wait "${receivers[1]}" || true
for n in 1 2; do
    [ "$(json "recv$n.json" .acknowledged)" -eq "$(json "recv$n.json" .messages)" ] ||
        fail "receiver $n did not acknowledge every message it took"
done
cat "$work/got1.log" "$work/got2.log" > "$work/got.log"
check=$("$receiver" --check-file "$work/got.log" --expect "$count" --allow-duplicates --json) ||
    fail "omrelp into quillon-recv lost messages across the restart: $check"
pass "omrelp into quillon-recv across a restart: $(json recv1.json .acknowledged) + $(json recv2.json .acknowledged) acknowledged, none lost"
finish
