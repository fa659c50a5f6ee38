#!/bin/sh
# Builds the libFuzzer targets natively with clang and runs each for a
# bounded time from a seed corpus made here (valid values, OpenSSL's own
# signatures and key files of fresh keys), then prints the executions each
# ran and whether it found anything.
#   tests/fuzz/run.sh [SECONDS_EACH [BUILD_DIR]]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build=${2:-$root/build/fuzz}
command -v clang++ >/dev/null || { echo "clang is needed (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }

mkdir -p "$build"
# Absolute: the targets run from inside it, and their logs are named from it.
build=$(cd "$build" && pwd)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVO_BUILD_TESTS=OFF -DKELVO_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j2 --target files_value_fuzz der_signature_fuzz pem_key_fuzz \
    release_values_fuzz gzip_inflate_fuzz \
    >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }

seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/files_value" "$seeds/der_signature" "$seeds/pem_key" "$seeds/release_values" \
    "$seeds/gzip_inflate"
printf '6 5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03' >"$seeds/files_value/1"
printf '0 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855' >"$seeds/files_value/2"
printf '18446744073709551615 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855' >"$seeds/files_value/3"
printf '2027-03-10T14:00:00Z' >"$seeds/release_values/1"
printf '2000-02-29T23:59:59Z' >"$seeds/release_values/2"
printf '9999-12-31T23:59:59Z' >"$seeds/release_values/3"
printf '100' >"$seeds/release_values/4"
printf '25' >"$seeds/release_values/5"
# Settings (compress the payload first or not, the limits, the piece size,
# the damage), then the payload; one seed a gzip form made by gzip(1).
printf '\221\001\002\020\000line one of the update file\nline two of the update file\n' \
    >"$seeds/gzip_inflate/1"
printf '\223\002\002\003\121the same text twice, the same text twice' >"$seeds/gzip_inflate/2"
printf '\215\000\003\000\007ab' >"$seeds/gzip_inflate/3"
{ printf '\000\201\200\007\000'; printf 'Kelvo.dat contents\n' | gzip -9; } >"$seeds/gzip_inflate/4"
(
    cd "$seeds"
    openssl ecparam -name prime256v1 -genkey -noout -out pem_key/sec1
    openssl pkcs8 -topk8 -nocrypt -in pem_key/sec1 -out pem_key/pkcs8
    openssl ec -in pem_key/sec1 -pubout -out pem_key/public 2>/dev/null
    for i in 1 2 3 4 5 6 7 8; do
        echo "$i" | openssl dgst -sha256 -sign pem_key/sec1 -out "der_signature/$i"
    done
)

status=0
for name in files_value der_signature pem_key release_values gzip_inflate; do
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
    log=$build/$name.log
    if (cd "$build" && "./tests/fuzz/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/$name-" "$corpus" "$seeds/$name" >"$log" 2>&1); then
        result="no finding"
    else
        result="FINDING (see $log)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    printf '%-14s %6s s  %12s executions  %s\n' "$name" "$seconds" "${runs:-?}" "$result"
done
exit $status
