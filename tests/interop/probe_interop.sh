#!/usr/bin/env bash
# quillon-probe against collectors on loopback: a real rsyslogd (imudp in,
# omfwd out by TCP with octet counting to the probe's receiver), whose CPU
# and memory it watches, and a relay that forwards only up to a fixed rate,
# which it must find within its precision.
# Usage: probe_interop.sh PATH-TO-quillon-probe
set -euo pipefail
probe=${1:?usage: probe_interop.sh PATH-TO-quillon-probe}
source "$(dirname "$0")/lib.sh"
need_executables "$probe"
need_jq
command -v python3 > /dev/null || skip "python3 is not installed (scripts/deps.sh installs it)"
show_on_fail+=(probe.err ready.log)

# --- A relay forwarding at most 3000 a second: the probe finds that rate.
relay_rate=3000 precision=0.1
relay_port() { sed -n 's/^listening on //p' "$work/relay.out"; }
for _ in 1 2 3; do
    receive_port=$(random_port 1)
    python3 "$(dirname "$0")/../support/rate_relay.py" "$relay_rate" "$receive_port" > "$work/relay.out" &
    daemon=$!
    for _ in $(seq 50); do [ -n "$(relay_port)" ] && break; sleep 0.1; done
    [ -n "$(relay_port)" ] || fail "the relay did not start"
    status=0
    "$probe" --target 127.0.0.1 --port "$(relay_port)" --receive "udp:$receive_port" --start-rate 1000 \
        --max-rate 64000 --step-seconds 1 --drain-seconds 0.5 --precision "$precision" --json \
        > "$work/relay.json" 2> "$work/probe.err" || status=$?
    stop_daemon
    [ "$status" = 2 ] && grep -q "in use" "$work/probe.err" && continue
    break
done
[ "$status" = 0 ] || fail "quillon-probe against the relay exited with $status"
found=$(json relay.json .max_sustainable_mps)
[ "$(json relay.json .limited_by)" = loss ] || fail "the relay's limit was not loss: $(cat "$work/relay.json")"
# A 1 s step passes the rate and the bucket's burst (a fiftieth of it); the
# sender's start takes a little of each step, so it offers a little less. A
# machine so busy that the relay itself falls behind must make the probe say
# its answer is not sure.
confidence=$(json relay.json .confidence)
[ "$(json relay.json "($relay_rate * 1.02) as \$r | .max_sustainable_mps as \$f |
    \$r * (1 - $precision) * 0.95 <= \$f and \$f <= \$r * 1.1")" = true ] || [ "$confidence" = low ] ||
    fail "found $found MPS against a relay of $relay_rate, with confidence $confidence"
pass "relay of $relay_rate MPS: found $found MPS, confidence $confidence ($(json relay.json '.steps | length') steps)"

# --- rsyslog: UDP in, TCP with octet counting out to the probe.
find_rsyslogd
start_daemon() {
    udp_port=$1 receive_port=$(($1 + 1))
    cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work" net.enableDNS="off")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="$udp_port")
if \$rawmsg contains "probe-ready" then {
    action(type="omfile" file="$work/ready.log")
    stop
}
action(type="omfwd" target="127.0.0.1" port="$receive_port" protocol="tcp" TCP_Framing="octet-counted"
       action.resumeRetryCount="-1" action.resumeInterval="1")
CONF
    launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
    await_probe ready
}
ready() {
    echo "<13>probe-ready" > "/dev/udp/127.0.0.1/$udp_port"
    [ -s "$work/ready.log" ]
}
start_on_free_ports 2 || fail "rsyslogd did not start and receive on loopback"
"$probe" --target 127.0.0.1 --port "$udp_port" --receive "tcp:$receive_port" --watch-pid "$daemon" \
    --start-rate 2000 --max-rate 32000 --step-seconds 1 --drain-seconds 1 --precision 0.25 --max-loss 0.01 \
    --json > "$work/rsyslog.json" 2> "$work/probe.err" || fail "quillon-probe against rsyslogd exited with $?"
found=$(json rsyslog.json .max_sustainable_mps)
by=$(json rsyslog.json .limited_by)
[ "$(json rsyslog.json '.max_sustainable_mps > 0')" = true ] || fail "no rate held: $(cat "$work/probe.err")"
[ "$(json rsyslog.json '[.steps[].processes[] | .name == "rsyslogd" and .rss_bytes > 0] | all')" = true ] ||
    fail "the steps do not show rsyslogd's memory"
[ "$(json rsyslog.json '([.steps[].processes | length] | add) > 0 and (.watch_samples | length) > 0')" = true ] ||
    fail "rsyslogd was not watched"
cpu=$(json rsyslog.json '[.steps[].processes[].cpu_percent] | max')
pass "rsyslogd sustains $found MPS (limited by $by), up to $cpu% CPU"
sed 's/^/  /' "$work/probe.err"
finish
