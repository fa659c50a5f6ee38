#!/bin/sh
# The build-time update host: accepted and refused values, as a table.
#   update_host_test.sh CMAKE SOURCE_DIR
cmake=$1
check=$2/cmake/UpdateHost.cmake
failures=0

expect() {
    want=$1
    host=$2
    out=$("$cmake" -DTOVANE_UPDATE_HOST="$host" -P "$check" 2>&1)
    rc=$?
    if [ "$want" = ok ] && [ $rc -ne 0 ]; then
        echo "FAIL: '$host' refused: $out"
        failures=$((failures + 1))
    elif [ "$want" = bad ] && [ $rc -eq 0 ]; then
        echo "FAIL: '$host' accepted"
        failures=$((failures + 1))
    elif [ "$want" = ok ] && ! echo "$out" | grep -q "http://$host/UploadFile/Product_Soft/Kelvo/"; then
        echo "FAIL: '$host' gave no base URL: $out"
        failures=$((failures + 1))
    fi
}

expect ok update.kelvo.com
expect ok 127.0.0.1:8080
expect ok localhost
expect ok a-b.example.org:65535
expect bad ""
expect bad "http://update.kelvo.com"
expect bad "update.kelvo.com/path"
expect bad "update kelvo.com"
expect bad "user@update.kelvo.com"
expect bad "update.kelvo.com:"
expect bad "update.kelvo.com:0"
expect bad "update.kelvo.com:65536"
expect bad "-bad.example.com"
expect bad "bad-.example.com"
expect bad "a..b"
echo "update host table: $failures failure(s)"
[ $failures -eq 0 ]
