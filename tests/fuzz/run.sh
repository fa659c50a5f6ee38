#!/bin/sh
# Builds the libFuzzer targets natively with clang and runs each for a
# bounded time from a seed corpus made here (valid values, OpenSSL's own
# signatures and key files of fresh keys, manifests in each encoding), then
# prints the executions each ran and whether it found anything. The corpus
# each grows stays in BUILD_DIR/corpus/<name>; a target with findings kept in
# the sources (tests/fuzz/corpus/<name>, which the INI differential test under
# Wine reads too) starts from those as well.
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
cmake --build "$build" -j2 --target files_value_fuzz der_signature_fuzz pem_key_fuzz ini_text_fuzz \
    release_values_fuzz gzip_inflate_fuzz \
    >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }

seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/files_value" "$seeds/der_signature" "$seeds/pem_key" "$seeds/ini_text" \
    "$seeds/release_values" "$seeds/gzip_inflate"
printf '6 5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03' >"$seeds/files_value/1"
printf '0 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855' >"$seeds/files_value/2"
printf '18446744073709551615 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855' >"$seeds/files_value/3"
# Manifests: GBK ("升级", "更新"), UTF-8, UTF-16LE and UTF-16BE, and one line
# of each reading rule (quotes, NUL, Ctrl-Z, CR alone, brackets, no '=').
manifest='[Programs]\r\nPrograms=Kelvo.exe?a.dll?\r\n[Kelvo]\r\nMainVer=2\r\nSubVer=15\r\n'
printf "$manifest"'UpdateInof=\270\374\320\302?ok\r\n[Files]\r\n\311\375\274\266.dll=1 ab\r\n' \
    >"$seeds/ini_text/gbk"
printf '\357\273\277'"$manifest"'UpdateInof=\346\233\264\346\226\260\r\n[Files]\r\nA.DLL=2 cd\r\n' \
    >"$seeds/ini_text/utf8"
printf '\377\376' >"$seeds/ini_text/utf16le"
printf "$manifest"'[Files]\r\nkelvo.exe=3 ef\r\n' | iconv -f UTF-8 -t UTF-16LE >>"$seeds/ini_text/utf16le"
printf '\376\377' >"$seeds/ini_text/utf16be"
printf "$manifest" | iconv -f UTF-8 -t UTF-16BE >>"$seeds/ini_text/utf16be"
printf 'k=0\r[ s ] x\n a = " q " \nb=\047y\047\nc=x\000y\nd\032=\0321\032\n;e=2\n[f\nf\n=g\n[S]\na=dup\n' \
    >"$seeds/ini_text/rules"
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
for name in files_value der_signature pem_key ini_text release_values gzip_inflate; do
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
    log=$build/$name.log
    kept=$root/tests/fuzz/corpus/$name
    [ -d "$kept" ] || kept=
    if (cd "$build" && "./tests/fuzz/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/$name-" "$corpus" "$seeds/$name" ${kept:+"$kept"} >"$log" 2>&1); then
        result="no finding"
    else
        result="FINDING (see $log)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    printf '%-14s %6s s  %12s executions  %s\n' "$name" "$seconds" "${runs:-?}" "$result"
done
exit $status
