#!/usr/bin/env bash
# quillon-send over TLS to a real rsyslogd and its OpenSSL stream driver on
# loopback, with certificates made here by the openssl command. Checks: RFC
# 3164 and RFC 5424 messages arrive octet-counted and parsed; an input that
# requires client certificates refuses a run without --cert (exit 1) and takes
# one with it; a server certificate from another CA fails with the verify
# reason; a --server-name the certificate does not carry fails.
# Usage: rsyslog_tls_interop.sh PATH-TO-quillon-send
set -euo pipefail
sender=${1:?usage: rsyslog_tls_interop.sh PATH-TO-quillon-send}
source "$(dirname "$0")/lib.sh"
need_executables "$sender"
find_rsyslogd
command -v openssl > /dev/null || skip "the openssl command is not installed (scripts/deps.sh installs it)"
driver=$(find /usr/lib /usr/lib64 -name lmnsd_ossl.so 2>/dev/null | head -1 || true)
[ -n "$driver" ] || skip "rsyslog's OpenSSL stream driver lmnsd_ossl.so is missing (package rsyslog-openssl, installed by scripts/deps.sh)"
pki=$work/pki
show_on_fail+=(parsed.log rfc5424.log send.err)

# A CA, a certificate it signs for "localhost" and 127.0.0.1, a client
# certificate, and another CA with a "localhost" certificate of its own.
make_certificates() {
    mkdir -p "$pki"
    local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes) ca
    for ca in ca other-ca; do
        openssl req -x509 "${key[@]}" -keyout "$pki/$ca.key" -out "$pki/$ca.pem" -days 2 -subj "/CN=Quillon $ca" \
            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    done
    issue() { # name CN extensions CA
        openssl req "${key[@]}" -keyout "$pki/$1.key" -out "$pki/$1.csr" -subj "/CN=$2"
        printf '%s\n' "$3" > "$pki/$1.ext"
        openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$4.pem" -CAkey "$pki/$4.key" -CAcreateserial \
            -days 2 -out "$pki/$1.pem" -extfile "$pki/$1.ext"
    }
    local server=$'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth'
    issue server localhost "$server" ca
    issue foreign localhost "$server" other-ca
    issue client quillon-client "extendedKeyUsage=clientAuth" ca
}

# Three TLS inputs: anonymous clients, clients with a certificate of our CA
# (x509/certvalid), and one whose server certificate comes from another CA.
start_daemon() {
    open_port=$1 mutual_port=$(($1 + 1)) foreign_port=$(($1 + 2))
    # No DNS: the daemon would otherwise look up each sender's address.
    cat > "$work/rsyslog.conf" <<CONF
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
$(rsyslog_field_logs)
CONF
    launch "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid"
    await_probe probe
}

probe() {
    send --port "$open_port" --rfc-header --message "probe open" || true
    send --port "$mutual_port" --rfc-header --message "probe mutual" --cert "$pki/client.pem" --key "$pki/client.key" || true
    send --port "$foreign_port" --rfc-header --message "probe foreign" --ca-file "$pki/other-ca.pem" || true
    [ -n "$(lines_with "probe open")" ] && [ -n "$(lines_with "probe mutual")" ] && [ -n "$(lines_with "probe foreign")" ]
}

# quillon-send over TLS to localhost trusting our CA (a later --ca-file wins),
# output to send.out, errors to send.err.
send() {
    "$sender" --transport tls --ca-file "$pki/ca.pem" --target localhost --quiet "$@" \
        > "$work/send.out" 2> "$work/send.err"
}

# A refused run: exit 1 and an error that matches the pattern.
expect_refused() { # pattern what send-arguments...
    local pattern=$1 what=$2 status=0
    shift 2
    send "$@" || status=$?
    [ "$status" = 1 ] || fail "$what: the run exited with $status, expected 1"
    [[ "$(cat "$work/send.err")" =~ ^$pattern$ ]] || fail "$what: '$(cat "$work/send.err")'"
}

make_certificates 2> "$work/openssl.err" || { cat "$work/openssl.err"; fail "openssl could not make the certificates"; }
start_on_free_ports 3 || fail "rsyslogd with its OpenSSL stream driver did not start and receive over TLS on loopback"
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
expect_lines "Interop TLS:" 50 "$(numbered "3|3|$host|Quillon| Interop TLS: This is Syslog test message number " 50)"
pass "TLS with octet counting by default: 50 RFC 3164 messages parsed and numbered 1 to 50 in order, TLSv1.3"

sd='[test@32473 env="lab" q="a\"b\\c\]d"]'
send --port "$open_port" --format rfc5424 --facility local4 --level warning --hostname interop.host \
    --app-name iapp --procid 321 --msgid IDT --sd "$sd" --message "interop5424 tls" ||
    fail "quillon-send RFC 5424 over TLS exited with $?"
expect_lines "interop5424 tls" 1 "20|4|interop.host|iapp|321|IDT|$sd|interop5424 tls" rfc5424.log
pass "RFC 5424 over TLS: host name, app name, procid, msgid, escaped structured data and message"

expect_refused "quillon-send: TLS handshake failed: the server requires a client certificate" "without --cert" \
    --port "$mutual_port" --rfc-header --message "interop no client cert"
send --port "$mutual_port" --rfc-header --message "interop with client cert" --cert "$pki/client.pem" \
    --key "$pki/client.key" || fail "with --cert the run exited with $?: $(cat "$work/send.err")"
wait_for_lines "interop with client cert" 1 || fail "the message sent with a client certificate did not arrive"
pass "client certificates required (x509/certvalid): without --cert exit 1 (the server requires a client certificate), with it delivered"

# rsyslog sends the other CA along, so the chain ends in a CA we do not trust.
expect_refused "quillon-send: TLS handshake failed: certificate verify failed: (self-signed certificate in certificate chain|unable to get local issuer certificate) \\(give the CA that signed it with --ca-file\\)" \
    "against another CA's certificate" --port "$foreign_port" --rfc-header --message "interop foreign"
pass "a server certificate from another CA: exit 1, $(sed 's/^quillon-send: //' "$work/send.err")"

expect_refused "quillon-send: TLS handshake failed: certificate verify failed: hostname mismatch \(the certificate is not for logs\.example\)" \
    "with a wrong --server-name" --port "$open_port" --rfc-header --message "interop wrong name" --server-name logs.example
[ -z "$(lines_with "interop no client cert")$(lines_with "interop foreign")$(lines_with "interop wrong name")" ] ||
    fail "a refused run's message arrived"
pass "a --server-name the certificate does not carry: exit 1, hostname mismatch"
finish
