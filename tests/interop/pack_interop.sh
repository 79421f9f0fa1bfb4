#!/usr/bin/env bash
# Every template pack, stamped, through a real rsyslogd and a real syslog-ng
# into quillon-recv and into a file quillon-recv --check-file reads: every
# stamp counted, nothing lost. Where the daemon has a parser of the pack's
# format its parsed field is forwarded instead of the message, so a record
# the parser could not read loses its stamp: rsyslog's mmjsonparse for json,
# syslog-ng's json-parser() for json and kv-parser() for cef, leef and
# firewall. apache and auth keep their stamps in the structured data.
# Usage: pack_interop.sh PATH-TO-quillon-send PATH-TO-quillon-recv SYSLOG-NG-FOLDER
set -euo pipefail
usage="usage: pack_interop.sh PATH-TO-quillon-send PATH-TO-quillon-recv SYSLOG-NG-FOLDER"
sender=${1:?$usage}
receiver=${2:?$usage}
folder=${3:?$usage}
source "$(dirname "$0")/lib.sh"
need_executables "$sender" "$receiver"
need_jq
find_rsyslogd
show_on_fail+=(check.log recv.err)
packs=(cef leef json apache firewall auth)
count=200
total=$((count * ${#packs[@]}))

# The header as both daemons forward it, then the pack's record or the field
# a parser read.
header5424='<%PRI%>1 %TIMESTAMP:::date-rfc3339% %HOSTNAME% %APP-NAME% %PROCID% %MSGID%'
rsyslog_conf() {
    cat <<CONF
global(workDirectory="$work" net.enableDNS="off")
module(load="imtcp")
module(load="mmjsonparse")
input(type="imtcp" address="127.0.0.1" port="$1")
input(type="imtcp" address="127.0.0.1" port="$(($1 + 1))" ruleset="probe")
ruleset(name="probe") { action(type="omfile" file="$work/probe.log") }
template(name="raw" type="string" string="$header5424 %STRUCTURED-DATA% %msg%")
template(name="rawline" type="string" string="$header5424 %STRUCTURED-DATA% %msg%\\n")
template(name="parsed" type="string" string="$header5424 - quillon=%\$!quillon%")
template(name="parsedline" type="string" string="$header5424 - quillon=%\$!quillon%\\n")
if \$msg startswith "{" then {
    action(type="mmjsonparse" cookie="")
    if \$parsesuccess == "OK" then {
        action(type="omfwd" target="127.0.0.1" port="$recv_port" protocol="tcp" TCP_Framing="octet-counted"
               template="parsed")
        action(type="omfile" file="$work/check-parsed.log" template="parsedline")
    }
    stop
}
action(type="omfwd" target="127.0.0.1" port="$recv_port" protocol="tcp" TCP_Framing="octet-counted" template="raw")
action(type="omfile" file="$work/check-raw.log" template="rawline")
CONF
}

# Each branch ends in a destination of its own: a record its parser could
# not read goes nowhere.
syslog_ng_conf() {
    local head='<${PRI}>1 ${ISODATE} ${HOST} ${PROGRAM} ${PID} ${MSGID}' branch field parser
    cat <<CONF
@version: $version
options { keep-hostname(yes); chain-hostnames(no); use-dns(no); dns-cache(no); stats-freq(0); };
source s_packs { syslog(ip("127.0.0.1") port($1) transport("tcp")); };
source s_probe { syslog(ip("127.0.0.1") port($(($1 + 1))) transport("tcp")); };
log { source(s_probe); destination { file("$work/probe.log"); }; };
CONF
    for branch in 'json~^[{]~json-parser(prefix(".p."))' 'leef~^LEEF:~kv-parser(prefix(".p.") pair-separator("\t"))' \
        'kv~^(CEF:|action=)~kv-parser(prefix(".p.") pair-separator(" "))' 'raw~.~'; do
        IFS='~' read -r name filter parser <<< "$branch"
        # ${MSG} ends in the stamp where the record keeps none (apache, auth: the SDATA).
        field='- quillon=${.p.quillon}' parser="parser { $parser; };"
        [ "$name" != raw ] || field='${SDATA} ${MSG}' parser=
        cat <<CONF
log {
    source(s_packs);
    filter { message("$filter"); };
    $parser
    destination { network("127.0.0.1" port($recv_port) transport("tcp") persist-name("$name") template("$head $field\n")); };
    destination { file("$work/check-$name.log" template("$head $field\n")); };
    flags(final);
};
CONF
    done
}
probe() {
    "$sender" --port "$(($port + 1))" --transport tcp --format rfc5424 --message "pack probe" --quiet 2>/dev/null || true
    [ "$(count_lines_with "pack probe" probe.log)" -gt 0 ]
}

# One daemon's table: each pack into it, then what quillon-recv and the
# file hold.
through() { # name
    start_json_receiver "$receiver" --expect "$total" --idle 30
    start_on_free_ports 2 || fail "$1 did not start and receive on loopback"
    for pack in "${packs[@]}"; do
        "$sender" --port "$port" --transport tcp --framing octet-count --format rfc5424 --pack "$pack" --stamp \
            --run-id "$pack" --seed 3 --unlimited --count "$count" --quiet || fail "$1: --pack $pack exited with $?"
    done
    local status=0
    wait "$recv" || status=$?
    [ "$status" -eq 0 ] && [ "$(json recv.json .received)" -eq "$total" ] && [ "$(json recv.json .lost)" -eq 0 ] ||
        fail "$1: quillon-recv exited with $status: $(cat "$work/recv.json" "$work/recv.err")"
    pass "$1: quillon-recv counted all $count stamps of each of ${packs[*]}, none lost"
    stop_daemon
    cat "$work"/check-*.log > "$work/check.log"
    "$receiver" --check-file "$work/check.log" --expect "$total" --json > "$work/check.json" ||
        fail "$1: --check-file exited with $?: $(cat "$work/check.json")"
    pass "$1: quillon-recv --check-file read all $total stamps in the daemon's file"
    rm -f "$work"/*.log
}

start_daemon() {
    port=$1
    rsyslog_conf "$port" > "$work/rsyslog.conf"
    launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
    await_probe probe
}
through rsyslog

find_syslog_ng "$folder"
for module in json-plugin kvformat; do
    [ -f "$modules/lib$module.so" ] || fail "syslog-ng's $module module is missing from $modules"
done
start_daemon() {
    port=$1
    syslog_ng_conf "$port" > "$work/syslog-ng.conf"
    launch_syslog_ng
    await_probe probe
}
through syslog-ng
finish
