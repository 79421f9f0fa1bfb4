# Shared by the interop scripts, sourced after `set -euo pipefail`: a work
# folder removed at exit with the daemon stopped, checks that count PASS
# lines, and waits on the daemon's logs, which it writes asynchronously.
# A script whose daemon is missing skips with exit status 77, which ctest
# counts as skipped (SKIP_RETURN_CODE); scripts/test.sh --no-skip fails then.
work=$(mktemp -d)
daemon=
passed=0
show_on_fail=(daemon.out) # files of $work that fail prints
strip_cr=no               # yes: lines_with drops the CR that CR LF framing leaves

stop_daemon() {
    if [ -n "$daemon" ]; then
        kill "$daemon" 2>/dev/null || true
        wait "$daemon" 2>/dev/null || true
        daemon=
    fi
}
trap 'stop_daemon; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    local file
    for file in "${show_on_fail[@]}"; do
        echo "--- $file"
        head -100 "$work/$file" 2>/dev/null | cat -A || true
    done
    exit 1
}

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

finish() { echo "$passed passed, 0 failed"; }

# Something the test needs from the machine is missing: nothing was tested.
skip() {
    echo "SKIP: $*"
    exit 77
}

# A value from a JSON document in a file of $work, by jq filter:
#   json send.json .acknowledged
json() { jq -r "$2" "$work/$1"; }

need_jq() { command -v jq > /dev/null || skip "jq is not installed (scripts/deps.sh installs it)"; }

need_executables() {
    local file
    for file; do [ -x "$file" ] || { echo "FAIL: $file is not an executable"; exit 1; }; done
}

find_rsyslogd() {
    rsyslogd=$(command -v rsyslogd || true)
    [ -n "$rsyslogd" ] || [ ! -x /usr/sbin/rsyslogd ] || rsyslogd=/usr/sbin/rsyslogd
    [ -n "$rsyslogd" ] || skip "rsyslogd is not installed (scripts/deps.sh installs it)"
}

# Lines of a log in $work (default parsed.log) that contain a text.
lines_with() {
    local lines
    lines=$(grep -aF -- "$1" "$work/${2:-parsed.log}" 2>/dev/null) || true
    if [ "$strip_cr" = yes ]; then printf '%s' "$lines" | tr -d '\r'; else printf '%s' "$lines"; fi
}

count_lines_with() {
    local n
    n=$(grep -acF -- "$1" "$work/${2:-parsed.log}" 2>/dev/null) || true
    echo "${n:-0}"
}

# Until the log holds count lines with the text: 10 s at most.
wait_for_lines() { # text count [log]
    for _ in $(seq 100); do
        [ "$(count_lines_with "$1" "${3:-}")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

# Waits for count lines with the text, then compares them with expected.
expect_lines() { # text count expected [log]
    wait_for_lines "$1" "$2" "${4:-}" || fail "$(count_lines_with "$1" "${4:-}") of $2 lines with '$1' arrived"
    local got
    got=$(lines_with "$1" "${4:-}")
    [ "$got" = "$3" ] || fail "the lines with '$1' read"$'\n'"$got"$'\n'"expected"$'\n'"$3"
}

# Lines PREFIX1 to PREFIXcount.
numbered() { for i in $(seq "$2"); do echo "$1$i"; done; }

# The rsyslog configuration line that keeps a HEX= packet's raw bytes in raw.log.
rsyslog_raw_log() {
    printf '%s\n' "template(name=\"raw\" type=\"string\" string=\"%rawmsg%\\n\")" \
        "if \$rawmsg contains \"hexcheck\" then { action(type=\"omfile\" file=\"$work/raw.log\" template=\"raw\") }"
}

# Sends a HEX= packet with the sender's flags given; the daemon must keep
# exactly the decoded bytes, high bytes and tab included.
expect_hex_packet() { # sender flags...
    printf '<165>hexcheck raw \xe9\xff\t~end' > "$work/expected.raw"
    "$@" --message "HEX=$(od -An -v -tx1 "$work/expected.raw" | tr -d ' \n')" --quiet ||
        fail "quillon-send with HEX= exited with $?"
    wait_for_lines hexcheck 1 raw.log || fail "the HEX= packet did not arrive"
    printf '\n' >> "$work/expected.raw"
    cmp -s "$work/raw.log" "$work/expected.raw" ||
        fail "HEX= packet arrived as $(od -An -c "$work/raw.log" 2>/dev/null | tr -s ' ')"
    pass "HEX= packet arrived byte for byte"
}

# Sets syslog_ng, modules and version from FOLDER/root, where
# scripts/fetch-syslog-ng.sh unpacked syslog-ng-core (installing it would
# remove rsyslog); skips when it is not there or lacks libraries.
find_syslog_ng() { # folder
    local root=$1/root
    syslog_ng=$root/usr/sbin/syslog-ng
    [ -x "$syslog_ng" ] || skip "syslog-ng is not unpacked in $root: run bash scripts/fetch-syslog-ng.sh $1"
    modules=$(ls -d "$root"/usr/lib/syslog-ng/[0-9]* 2>/dev/null | head -1 || true)
    [ -n "$modules" ] || fail "no module folder in $root/usr/lib/syslog-ng"
    export LD_LIBRARY_PATH=$root/usr/lib/syslog-ng${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
    if ldd "$syslog_ng" "$modules/libafsocket.so" | grep -q "not found"; then
        ldd "$syslog_ng" "$modules/libafsocket.so" | grep "not found"
        skip "syslog-ng is missing libraries (scripts/deps.sh installs them)"
    fi
    version=$("$syslog_ng" --version | awk '/^Config version/ {print $3}')
    [ -n "$version" ] || fail "$syslog_ng does not run"
}

# Runs syslog-ng in the foreground on $work/syslog-ng.conf, its state in $work.
launch_syslog_ng() {
    launch "$syslog_ng" -F --no-caps -f "$work/syslog-ng.conf" --module-path="$modules" \
        --persist-file="$work/persist" --pidfile="$work/syslog-ng.pid" --control="$work/syslog-ng.ctl"
}

# rsyslog configuration that writes what the daemon parsed, a field per
# column: RFC 5424 messages to rfc5424.log, the others to parsed.log.
# Control characters in MSG show as #ddd, so a multi-line message stays on one line.
rsyslog_field_logs() {
    cat <<CONF
template(name="fields" type="string"
         string="%syslogfacility%|%syslogseverity%|%hostname%|%programname%|%msg%\\n")
template(name="fields5424" type="string"
         string="%syslogfacility%|%syslogseverity%|%hostname%|%app-name%|%procid%|%msgid%|%structured-data%|%msg:::escape-cc%\\n")
if \$protocol-version == "1" then {
    action(type="omfile" file="$work/rfc5424.log" template="fields5424")
    stop
}
*.* action(type="omfile" file="$work/parsed.log" template="fields")
CONF
}

# Runs the daemon's command line in the background, output to daemon.out.
launch() {
    "$@" > "$work/daemon.out" 2>&1 &
    daemon=$!
}

# Until a probe command succeeds while the daemon runs: 5 s at most. A
# daemon that could not bind one of its ports may run on without it, and a
# probe need not reach every port, so its own bind errors count as a failure.
await_probe() {
    for _ in $(seq 50); do
        kill -0 "$daemon" 2>/dev/null || return 1
        if "$@"; then
            ! grep -qiE 'address already in use|could not (create|activate)' "$work/daemon.out"
            return
        fi
        sleep 0.1
    done
    return 1
}

# Prints a random port from which span ports are free of the kernel's
# ephemeral range, where the other tests' own sockets take theirs.
random_port() { # span
    local low
    low=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
    [ "$low" -gt 12000 ] || low=61000
    echo $((10000 + RANDOM % ((low - 10000) / $1) * $1))
}

# Calls start_daemon BASE (the script's) with ports BASE to BASE+span-1; a
# taken port shows as a failed start, so up to five bases are tried.
start_on_free_ports() { # span
    for _ in 1 2 3 4 5; do
        base=$(random_port "$1")
        start_daemon "$base" && return 0
        stop_daemon
        rm -f "$work"/*.log
    done
    return 1
}

# A configuration of docs/collectors/ as a user installs it: the placeholders
# its header documents replaced by the values given, nothing else changed.
collector_config() { # file NAME=value...
    local file=$1 edits=() pair
    shift
    for pair; do edits+=(-e "s|@${pair%%=*}@|${pair#*=}|g"); done
    sed "${edits[@]}" "$(dirname "${BASH_SOURCE[0]}")/../../docs/collectors/$file" > "$work/$file"
    ! grep -n '@[A-Z_]*@' "$work/$file" || fail "docs/collectors/$file has placeholders its test does not fill"
}

# Starts quillon-recv (path, then its flags) on a free TCP port of loopback,
# its JSON summary in recv.json; sets recv and recv_port.
start_json_receiver() { # receiver flags...
    "$@" --listen tcp --bind 127.0.0.1 --port 0 --json > "$work/recv.json" 2> "$work/recv.err" &
    recv=$!
    for _ in $(seq 100); do
        recv_port=$(sed -n 's/^listening on tcp 127\.0\.0\.1://p' "$work/recv.err")
        [ -n "$recv_port" ] && return 0
        kill -0 "$recv" 2> /dev/null || break
        sleep 0.1
    done
    fail "quillon-recv did not listen: $(cat "$work/recv.err")"
}

# The docs/collectors configuration's chain after count stamped messages of
# a run went through it: quillon-recv got them all, and so did the file.
expect_collector_chain() { # receiver count what
    local status=0
    wait "$recv" || status=$?
    [ "$status" -eq 0 ] && [ "$(json recv.json .received)" -eq "$2" ] && [ "$(json recv.json .lost)" -eq 0 ] ||
        fail "$3: quillon-recv exited with $status: $(cat "$work/recv.json" "$work/recv.err")"
    [ "$(json recv.json '.connection_framing | .lf + .crlf + .nul')" -eq 0 ] ||
        fail "$3: the daemon forwarded without octet counts: $(json recv.json .connection_framing)"
    pass "$3: quillon-recv received all $2 stamped messages, octet counted"
    "$1" --check-file "$work/check.log" --expect "$2" --json > "$work/check.json" ||
        fail "$3: --check-file exited with $?: $(cat "$work/check.json")"
    [ "$(json check.json .received)" -eq "$2" ] || fail "$3: the file held $(json check.json .received) stamps"
    pass "$3: quillon-recv --check-file read all $2 stamps in the daemon's file"
}
