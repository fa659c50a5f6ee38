#!/bin/sh
# Builds everything and runs every test: the native logic tests under the
# sanitizers, the checks of the shipped 32-bit binaries and of the release
# package (signed with a throw-away certificate), and the Wine tests, the
# 64-bit library flavour's under a 64-bit prefix of its own. The trees are
# built without update keys (the demo builds the same trees with its own):
# the tamper tests bring their keyed updater along.
#   scripts/test.sh            (build trees under build/)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
jobs=${KELVO_JOBS:-2}

"$root/scripts/setup.sh"

section() { printf '\n=== %s ===\n' "$*"; }
status=0
mkdir -p "$build/logs"

section "formatting"
"$root/scripts/check-format.sh" || status=1

section "native logic tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DKELVO_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    >"$build/logs/native-configure.log" 2>&1 || { cat "$build/logs/native-configure.log"; exit 1; }
cmake --build "$build/native" -j "$jobs"
(cd "$build/native" && ctest --output-on-failure) || status=1

section "fuzz targets of the trust parsers (libFuzzer, ${KELVO_FUZZ_SECONDS:-10} s each)"
"$root/tests/fuzz/run.sh" "${KELVO_FUZZ_SECONDS:-10}" "$build/fuzz" || status=1

arch=$("$root/scripts/wine-arch.sh")
port=$("$root/scripts/free-port.sh")
host="127.0.0.1:$port"
# The https update tests' server port, built into their variant of the updater.
tls_port=$("$root/scripts/free-port.sh")

# The x86_64 tree first: its library flavour joins the i686 package. Where
# 32-bit Wine runs, only that flavour and its HID tests are built (the updater
# is tested on i686); elsewhere the whole tree, which then carries every Wine
# test.
section "x86_64 build: the 64-bit Qorinhid.dll flavour"
cmake -S "$root" -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKELVO_WERROR=ON -DTOVANE_UPDATE_HOST="$host" \
    -DKELVO_TLS_TEST_PORT="$tls_port" -DTOVANE_UPDATE_PUBLIC_KEYS= \
    >"$build/logs/x86_64-configure.log" 2>&1 || { cat "$build/logs/x86_64-configure.log"; exit 1; }
if [ "$arch" = win32 ]; then
    cmake --build "$build/x86_64" -j "$jobs" --target qorinhid_flavour
else
    cmake --build "$build/x86_64" -j "$jobs"
fi

# A throw-away code-signing certificate, new each run and never committed:
# the package test signs with it and verifies against it.
section "throw-away code-signing certificate"
signing="$build/signing"
rm -rf "$signing"
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kelvo throw-away test signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$signing/key.pem" -out "$signing/cert.pem" \
    >"$signing/openssl.log" 2>&1 || { cat "$signing/openssl.log"; exit 1; }
echo "$signing/cert.pem"

section "shipped i686 binaries and the package"
i686_wine=OFF
[ "$arch" = win32 ] && i686_wine=ON
cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKELVO_WERROR=ON -DKELVO_WINE_TESTS=$i686_wine \
    -DTOVANE_UPDATE_HOST="$host" -DKELVO_TLS_TEST_PORT="$tls_port" \
    -DKELVO_X64_BUILD_DIR="$build/x86_64" -DTOVANE_UPDATE_PUBLIC_KEYS= \
    -DKELVO_SIGN_CERT="$signing/cert.pem" -DKELVO_SIGN_KEY="$signing/key.pem" \
    -DKELVO_SIGN_TEST_CA="$signing/cert.pem" >"$build/logs/i686-configure.log" 2>&1 ||
    { cat "$build/logs/i686-configure.log"; exit 1; }
cmake --build "$build/i686" -j "$jobs"

if [ "$arch" = win32 ]; then
    (cd "$build/i686" && ctest --output-on-failure) || status=1
    section "64-bit library flavour under a 64-bit prefix"
    (cd "$build/x86_64" && ctest -L hid --output-on-failure) || status=1
else
    section "this host cannot run 32-bit code: Wine tests use the x86_64 build of the same sources"
    (cd "$build/i686" && ctest --output-on-failure) || status=1
    (cd "$build/x86_64" && ctest --output-on-failure) || status=1
fi
echo
echo "screenshots: $(ls -d "$build"/*/artifacts 2>/dev/null | tr '\n' ' ')"
exit $status
