#!/usr/bin/env bash
# Sends with quillon-send over TLS to a real rsyslogd and its OpenSSL stream
# driver on loopback, with certificates this script makes with the openssl
# command (nothing private is kept in the repository). Checks: RFC 3164 and
# RFC 5424 messages arrive octet-counted and parsed (facility, severity, host
# name, tag or header fields, message, numbered in order); an input that
# requires client certificates refuses a run without --cert (exit 1) and takes
# one with it; a server certificate from another CA fails with the verify
# reason; a --server-name the certificate does not carry fails.
# Usage: rsyslog_tls_interop.sh PATH-TO-quillon-send
set -euo pipefail

sender=${1:?usage: rsyslog_tls_interop.sh PATH-TO-quillon-send}
[ -x "$sender" ] || { echo "FAIL: $sender is not an executable"; exit 1; }
rsyslogd=$(command -v rsyslogd || true)
[ -n "$rsyslogd" ] || [ ! -x /usr/sbin/rsyslogd ] || rsyslogd=/usr/sbin/rsyslogd
[ -n "$rsyslogd" ] || { echo "FAIL: rsyslogd is not installed (scripts/deps.sh installs it)"; exit 1; }
command -v openssl > /dev/null || { echo "FAIL: the openssl command is not installed (scripts/deps.sh installs it)"; exit 1; }
driver=$(find /usr/lib /usr/lib64 -name lmnsd_ossl.so 2>/dev/null | head -1 || true)
[ -n "$driver" ] || { echo "FAIL: rsyslog's OpenSSL stream driver lmnsd_ossl.so is missing (package rsyslog-openssl, installed by scripts/deps.sh)"; exit 1; }

work=$(mktemp -d)
pki=$work/pki
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
    echo "--- last quillon-send errors"; cat "$work/send.err" 2>/dev/null || true
    exit 1
}

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

# A CA, a certificate it signs for "localhost" and 127.0.0.1, a client
# certificate, and another CA with a "localhost" certificate of its own.
make_certificates() {
    mkdir -p "$pki"
    local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${key[@]}" -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 \
        -subj "/CN=Quillon interop CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl req -x509 "${key[@]}" -keyout "$pki/other-ca.key" -out "$pki/other-ca.pem" -days 2 \
        -subj "/CN=Quillon other CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign"
    issue() { # name CN extensions CA
        openssl req "${key[@]}" -keyout "$pki/$1.key" -out "$pki/$1.csr" -subj "/CN=$2"
        printf '%s\n' "$3" > "$pki/$1.ext"
        openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$4.pem" -CAkey "$pki/$4.key" -CAcreateserial \
            -days 2 -out "$pki/$1.pem" -extfile "$pki/$1.ext"
    }
    local server="subjectAltName=DNS:localhost,IP:127.0.0.1
extendedKeyUsage=serverAuth"
    issue server localhost "$server" ca
    issue foreign localhost "$server" other-ca
    issue client quillon-client "extendedKeyUsage=clientAuth" ca
}

# Lines of a parsed log (default parsed.log) that contain a text.
lines_with() {
    grep -aF -- "$1" "$work/${2:-parsed.log}" 2>/dev/null || true
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

# Three TLS inputs: anonymous clients, clients with a certificate of our CA
# (x509/certvalid), and one whose server certificate comes from another CA.
start_daemon() {
    open_port=$1 mutual_port=$2 foreign_port=$3
    # No DNS: the daemon would otherwise look up each sender's address.
    cat > "$work/rsyslog.conf" <<EOF
global(workDirectory="$work" parser.escapeControlCharactersOnReceive="off" net.enableDNS="off"
       defaultNetstreamDriver="ossl"
       defaultNetstreamDriverCAFile="$pki/ca.pem"
       defaultNetstreamDriverCertFile="$pki/server.pem"
       defaultNetstreamDriverKeyFile="$pki/server.key")
module(load="imtcp" streamDriver.name="ossl" streamDriver.mode="1" streamDriver.authMode="anon")
input(type="imtcp" address="127.0.0.1" port="$open_port")
input(type="imtcp" address="127.0.0.1" port="$mutual_port" streamDriver.authMode="x509/certvalid")
input(type="imtcp" address="127.0.0.1" port="$foreign_port"
      streamDriver.caFile="$pki/other-ca.pem" streamDriver.certFile="$pki/foreign.pem"
      streamDriver.keyFile="$pki/foreign.key")
template(name="fields" type="string"
         string="%syslogfacility%|%syslogseverity%|%hostname%|%programname%|%msg%\n")
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
        send --port "$open_port" --rfc-header --message "probe open" || true
        send --port "$mutual_port" --rfc-header --message "probe mutual" --cert "$pki/client.pem" --key "$pki/client.key" || true
        send --port "$foreign_port" --rfc-header --message "probe foreign" --ca-file "$pki/other-ca.pem" || true
        if [ -n "$(lines_with "probe open")" ] && [ -n "$(lines_with "probe mutual")" ] &&
            [ -n "$(lines_with "probe foreign")" ]; then
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

# quillon-send over TLS to localhost trusting our CA (a later --ca-file wins);
# its output goes to send.out, its errors to send.err; returns its exit status.
send() {
    "$sender" --transport tls --ca-file "$pki/ca.pem" --target localhost --quiet "$@" \
        > "$work/send.out" 2> "$work/send.err"
}

make_certificates 2> "$work/openssl.err" || { cat "$work/openssl.err"; fail "openssl could not make the certificates"; }

# Ports picked at random from a high range; a taken one shows as a failed start.
started=no
for _ in 1 2 3 4 5; do
    base=$((20000 + RANDOM % 13000 * 3))
    if start_daemon "$base" "$((base + 1))" "$((base + 2))"; then
        started=yes
        break
    fi
    stop_daemon
    rm -f "$work/parsed.log"
done
[ "$started" = yes ] || fail "rsyslogd with its OpenSSL stream driver did not start and receive over TLS on loopback"
echo "rsyslogd $("$rsyslogd" -v | head -1 | awk '{print $2}') with TLS on ports $open_port (anonymous clients)," \
    "$mutual_port (client certificates required), $foreign_port (another CA)"

host=$(uname -n)

# RFC 3164 with the RFC header, octet-counted by default, numbered: daemon (3), error (3).
"$sender" --transport tls --ca-file "$pki/ca.pem" --target localhost --port "$open_port" --rfc-header \
    --facility daemon --level error --message "Interop TLS: This is Syslog test message number ####" \
    --unlimited --count 50 --json > "$work/send.out" 2> "$work/send.err" || fail "quillon-send over TLS exited with $?"
for field in '"framing":"octet-count"' '"transport":"tls"' '"tls_version":"TLSv1.3"'; do
    grep -qF "$field" "$work/send.out" || fail "the summary lacks $field: $(cat "$work/send.out")"
done
wait_for_lines "Interop TLS:" 50 || fail "not all 50 TLS messages arrived"
expected=$(for i in $(seq 50); do echo "3|3|$host|Quillon| Interop TLS: This is Syslog test message number $i"; done)
[ "$(lines_with "Interop TLS:")" = "$expected" ] || fail "the TLS messages were not parsed as expected"
pass "TLS with octet counting by default: 50 RFC 3164 messages parsed and numbered 1 to 50 in order, TLSv1.3"

# RFC 5424 over TLS with every header field and structured data.
sd='[test@32473 env="lab" q="a\"b\\c\]d"]'
send --port "$open_port" --format rfc5424 --facility local4 --level warning --hostname interop.host \
    --app-name iapp --procid 321 --msgid IDT --sd "$sd" --message "interop5424 tls" ||
    fail "quillon-send RFC 5424 over TLS exited with $?"
wait_for_lines "interop5424 tls" 1 rfc5424.log || fail "the RFC 5424 TLS message did not arrive"
expected="20|4|interop.host|iapp|321|IDT|$sd|interop5424 tls"
[ "$(lines_with "interop5424 tls" rfc5424.log)" = "$expected" ] ||
    fail "RFC 5424 over TLS parsed as '$(lines_with "interop5424 tls" rfc5424.log)', expected '$expected'"
pass "RFC 5424 over TLS: host name, app name, procid, msgid, escaped structured data and message"

# Client certificates required: refused without one, taken with it.
status=0
send --port "$mutual_port" --rfc-header --message "interop no client cert" || status=$?
[ "$status" = 1 ] || fail "without --cert the run exited with $status, expected 1"
[ "$(cat "$work/send.err")" = "quillon-send: TLS handshake failed: the server requires a client certificate" ] ||
    fail "without --cert the error was '$(cat "$work/send.err")'"
send --port "$mutual_port" --rfc-header --message "interop with client cert" --cert "$pki/client.pem" --key "$pki/client.key" ||
    fail "with --cert the run exited with $?: $(cat "$work/send.err")"
wait_for_lines "interop with client cert" 1 || fail "the message sent with a client certificate did not arrive"
[ -z "$(lines_with "interop no client cert")" ] || fail "the message sent without a client certificate arrived"
pass "client certificates required (x509/certvalid): without --cert exit 1 (the server requires a client certificate), with it delivered"

# A server certificate from another CA.
status=0
send --port "$foreign_port" --rfc-header --message "interop foreign" || status=$?
[ "$status" = 1 ] || fail "against another CA's certificate the run exited with $status, expected 1"
# rsyslog sends the other CA along, so the chain ends in a CA we do not trust.
reason=$(cat "$work/send.err")
[[ "$reason" =~ ^"quillon-send: TLS handshake failed: certificate verify failed: "(self-signed certificate in certificate chain|unable to get local issuer certificate)$ ]] ||
    fail "against another CA's certificate: '$reason'"
pass "a server certificate from another CA: exit 1, ${reason#quillon-send: }"

# A server name the certificate does not carry.
status=0
send --port "$open_port" --rfc-header --message "interop wrong name" --server-name logs.example || status=$?
[ "$status" = 1 ] || fail "with a wrong --server-name the run exited with $status, expected 1"
expected="quillon-send: TLS handshake failed: certificate verify failed: hostname mismatch (the certificate is not for logs.example)"
[ "$(cat "$work/send.err")" = "$expected" ] || fail "with a wrong --server-name: '$(cat "$work/send.err")'"
[ -z "$(lines_with "interop foreign")$(lines_with "interop wrong name")" ] || fail "a refused run's message arrived"
pass "a --server-name the certificate does not carry: exit 1, hostname mismatch"

echo "$passed passed, 0 failed"
