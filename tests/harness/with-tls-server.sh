#!/bin/sh
# Runs a command with the https test servers up on 127.0.0.1, and stops them
# afterwards. Makes, in STATE, a test CA with a certificate for "localhost",
# a second (untrusted) CA with another one for "localhost", and one of the
# first CA for another name. Nothing of it leaves STATE.
#   with-tls-server.sh STATE [--switch-port PORT] command...
# The command sees KELVO_TLS_ROOT and KELVO_HTTP_ROOT (both the served
# folder, the latter for the updater's test fixture), KELVO_TLS_CA (the
# test CA, DER), KELVO_TLS_GOOD_CERT (the certificate it issued for
# "localhost", DER), and KELVO_TLS_PORT_GOOD, _UNTRUSTED, _WRONGNAME, _PLAIN.
# With --switch-port, PORT serves the certificate named in
# KELVO_TLS_ROOT/tls.mode (good, untrusted, wrongname) or, for "redirect",
# sends each request on to plain http (tls_server.py).
set -eu
state=$1
shift
switch=
if [ "${1:-}" = --switch-port ]; then
    switch="--switch-port $2"
    shift 2
fi
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$state"
mkdir -p "$state/root"
state=$(cd "$state" && pwd)

cert() { # name ca-name subject-alt-name
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -subj "/CN=$3" -keyout "$state/$1.key" -out "$state/$1.csr" 2>>"$state/openssl.log"
    printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" \
        >"$state/$1.ext"
    openssl x509 -req -in "$state/$1.csr" -CA "$state/$2.pem" -CAkey "$state/$2.key" \
        -CAcreateserial -days 2 -extfile "$state/$1.ext" -out "$state/$1.pem" 2>>"$state/openssl.log"
}
for ca in ca other-ca; do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "/CN=Kelvo throw-away test $ca" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$state/$ca.key" -out "$state/$ca.pem" 2>>"$state/openssl.log"
done
cert good ca localhost
cert untrusted other-ca localhost
cert wrongname ca wrong.example
openssl x509 -in "$state/ca.pem" -outform DER -out "$state/ca.der"
openssl x509 -in "$state/good.pem" -outform DER -out "$state/good.der"

# shellcheck disable=SC2086
python3 "$here/tls_server.py" --root "$state/root" --port-file "$state/ports" $switch \
    --cert "good=$state/good.pem,$state/good.key" \
    --cert "untrusted=$state/untrusted.pem,$state/untrusted.key" \
    --cert "wrongname=$state/wrongname.pem,$state/wrongname.key" >"$state/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT INT TERM
i=0
while [ ! -s "$state/ports" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $server 2>/dev/null; then
        echo "https test server did not start" >&2
        cat "$state/server.log" >&2
        exit 1
    fi
    sleep 0.1
done
port() { sed -n "s/^$1=//p" "$state/ports"; }
KELVO_TLS_ROOT=$state/root
KELVO_HTTP_ROOT=$state/root
KELVO_TLS_CA=$state/ca.der
KELVO_TLS_GOOD_CERT=$state/good.der
KELVO_TLS_PORT_GOOD=$(port good)
KELVO_TLS_PORT_UNTRUSTED=$(port untrusted)
KELVO_TLS_PORT_WRONGNAME=$(port wrongname)
KELVO_TLS_PORT_PLAIN=$(port plain)
export KELVO_TLS_ROOT KELVO_HTTP_ROOT KELVO_TLS_CA KELVO_TLS_GOOD_CERT KELVO_TLS_PORT_GOOD KELVO_TLS_PORT_UNTRUSTED \
    KELVO_TLS_PORT_WRONGNAME KELVO_TLS_PORT_PLAIN
"$@"
