#!/bin/sh
# The build-time public keys: which key files configuration accepts, and the
# X||Y bytes it builds in, as a table.
#   update_keys_test.sh CMAKE SOURCE_DIR WORK_DIR
cmake=$1
check=$2/cmake/UpdateKeys.cmake
work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failures=0

openssl ecparam -name prime256v1 -genkey -noout -out a.pem
openssl ec -in a.pem -pubout -out a.pub.pem 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out b.pem
openssl ec -in b.pem -pubout -out b.pub.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:secp384r1 2>/dev/null | openssl pkey -pubout -out p384.pub.pem
openssl genpkey -algorithm ed25519 2>/dev/null | openssl pkey -pubout -out ed25519.pub.pem
openssl ec -in a.pem -pubout -conv_form compressed -out compressed.pub.pem 2>/dev/null
openssl pkey -pubin -in a.pub.pem -outform DER -out a.der
python3 - <<'PY'
import base64
der = bytearray(open("a.der", "rb").read())
der[-1] ^= 1
open("off-curve.pub.pem", "w").write("-----BEGIN PUBLIC KEY-----\n" + base64.b64encode(bytes(der)).decode() + "\n-----END PUBLIC KEY-----\n")
open("garbage.pub.pem", "w").write("-----BEGIN PUBLIC KEY-----\nnot base64 at all\n-----END PUBLIC KEY-----\n")
PY

# X||Y of a key as the header must carry it, from openssl's own DER.
xy() {
    openssl pkey -pubin -in "$1" -outform DER | tail -c 64 | od -An -v -tx1 |
        tr -s ' \n' ' ' | sed 's/^ //; s/ $//; s/\([0-9a-f][0-9a-f]\)/0x\1,/g; s/ //g'
}

expect() {
    want=$1
    keys=$2
    out=$("$cmake" -DTOVANE_UPDATE_PUBLIC_KEYS="$keys" -DTOVANE_UPDATE_KEYS_DIR="$work/gen" -P "$check" 2>&1)
    rc=$?
    case $want in
    ok)
        if [ $rc -ne 0 ]; then
            echo "FAIL: '$keys' refused: $out"
            failures=$((failures + 1))
            return
        fi
        count=0
        old_ifs=$IFS
        IFS=';'
        for k in $keys; do
            count=$((count + 1))
            if ! grep -q "{{$(xy "$k")}}" gen/tovane_update_keys.h; then
                echo "FAIL: '$k' not built in as X||Y"
                failures=$((failures + 1))
            fi
        done
        IFS=$old_ifs
        grep -q "TOVANE_BUILT_IN_KEY_COUNT $count\$" gen/tovane_update_keys.h ||
            { echo "FAIL: key count for '$keys'"; failures=$((failures + 1)); }
        ;;
    *)
        if [ $rc -eq 0 ]; then
            echo "FAIL: '$keys' accepted"
            failures=$((failures + 1))
        elif ! echo "$out" | tr '\n' ' ' | tr -s ' ' | grep -q "$want"; then
            echo "FAIL: '$keys': no '$want' in: $out"
            failures=$((failures + 1))
        fi
        ;;
    esac
}

expect ok ""
expect ok "$work/a.pub.pem"
expect ok "$work/a.pub.pem;$work/b.pub.pem"
expect "does not exist" "$work/missing.pem"
expect "does not exist" "$work"
expect "not a PEM public key" "$work/a.pem"
expect "not a P-256" "$work/p384.pub.pem"
expect "not a P-256" "$work/ed25519.pub.pem"
expect "not a P-256" "$work/compressed.pub.pem"
expect "not on the curve" "$work/off-curve.pub.pem"
expect "not a valid public key" "$work/garbage.pub.pem"
expect "does not exist" "$work/a.pub.pem;$work/missing.pem"
echo "update keys table: $failures failure(s)"
[ $failures -eq 0 ]
