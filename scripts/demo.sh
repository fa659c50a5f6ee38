#!/bin/sh
# The main job: one full update of a demo product, 1.0 to 1.1, signed with a
# demo key and served by an embedded update server on 127.0.0.1; then a 1.2
# with one served file tampered with, which the updater refuses.
#   scripts/demo.sh
# With a display (DISPLAY set) the updater's dialog is left to you; without
# one it runs on a virtual display and is clicked through, with screenshots.
# KELVO_DEMO_HEADLESS=1 forces the latter.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
demo=$build/demo
jobs=${KELVO_JOBS:-2}
mkdir -p "$build/logs"

"$root/scripts/setup.sh"

arch=$("$root/scripts/wine-arch.sh")
port=$("$root/scripts/free-port.sh")
host="127.0.0.1:$port"

echo "== building the publishing tool (native) and a demo key pair"
# The native tree as scripts/test.sh configures it, so the two share it.
if [ ! -f "$build/native/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DKELVO_WERROR=ON \
        -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
        >"$build/logs/demo-native.log" 2>&1 || { cat "$build/logs/demo-native.log"; exit 1; }
fi
cmake --build "$build/native" -j "$jobs" --target kelvo-publish >>"$build/logs/demo-native.log" 2>&1 ||
    { tail -30 "$build/logs/demo-native.log"; exit 1; }
publish=$build/native/tools/publish/kelvo-publish
# A new pair every run, in the build tree only: a private key is never part
# of the sources.
keys=$demo/keys
rm -rf "$keys"
mkdir -p "$keys"
"$publish" keygen "$keys/demo.pem" "$keys/demo.pub.pem" >"$build/logs/demo-keygen.log" 2>&1 ||
    { cat "$build/logs/demo-keygen.log"; exit 1; }
echo "   public key built into the updater: $keys/demo.pub.pem"

echo "== building (update server $host)"
cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKELVO_WINE_TESTS=OFF -DTOVANE_UPDATE_HOST="$host" \
    -DTOVANE_UPDATE_PUBLIC_KEYS="$keys/demo.pub.pem" >"$build/logs/demo-i686.log" 2>&1 ||
    { cat "$build/logs/demo-i686.log"; exit 1; }
cmake --build "$build/i686" -j "$jobs" --target Tovane qorinhid hidprobe >>"$build/logs/demo-i686.log" 2>&1 ||
    { tail -30 "$build/logs/demo-i686.log"; exit 1; }
if [ "$arch" = win32 ]; then
    run=$build/i686
else
    echo "   (this host cannot run 32-bit code: the demo runs the x86_64 build of the same sources)"
    run=$build/x86_64
    cmake -S "$root" -B "$run" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTOVANE_UPDATE_HOST="$host" \
        -DTOVANE_UPDATE_PUBLIC_KEYS="$keys/demo.pub.pem" >"$build/logs/demo-run.log" 2>&1 ||
        { cat "$build/logs/demo-run.log"; exit 1; }
fi
cmake --build "$run" -j "$jobs" --target Tovane kelvo_product kelvo_demo_driver hidprobe >>"$build/logs/demo-run.log" 2>&1 ||
    { tail -30 "$build/logs/demo-run.log"; exit 1; }
tovane=$run/updater/Tovane.exe
product=$run/tests/wine/kelvo_product.exe

headless=${KELVO_DEMO_HEADLESS:-}
if [ -z "${DISPLAY:-}" ]; then
    headless=1
fi

echo "== starting Wine ($arch)"
if [ -n "$headless" ]; then
    "$root/tests/harness/wine-session.sh" start "$demo/wine" "$arch"
else
    KELVO_DISPLAY=$DISPLAY "$root/tests/harness/wine-session.sh" start "$demo/wine" "$arch"
fi
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    "$root/tests/harness/wine-session.sh" stop "$demo/wine"
}
trap cleanup EXIT INT TERM
. "$demo/wine/env"

echo "== publishing Kelvo 1.1 on the update server, signed with the demo key"
site=$demo/server
updates=$site/UploadFile/Product_Soft/Kelvo
release=$demo/release
rm -rf "$site" "$release"
mkdir -p "$updates" "$release/1.1" "$release/1.2"
# The new build of the product: the same program with a marker appended, so
# the replaced file can be told from the old one.
cp "$product" "$release/1.1/Kelvo.exe"
printf '\r\nKelvo build 1.1\r\n' >>"$release/1.1/Kelvo.exe"
printf 'Kelvo 1.1 sample data\r\n' >"$release/1.1/Kelvo.dat"
printf 'Kelvo 1.1\n- faster start-up\n- new sample data\n' >"$release/1.1/notes.txt"
"$publish" publish --key "$keys/demo.pem" --version 1.1 --notes "$release/1.1/notes.txt" \
    "$updates" "$release/1.1/Kelvo.dat" "$release/1.1/Kelvo.exe" | sed 's/^/   /'
openssl dgst -sha256 -verify "$keys/demo.pub.pem" -signature "$updates/Version.txt.sig" \
    "$updates/Version.txt" | sed 's/^/   openssl: /'
python3 "$root/tests/harness/http_server.py" --root "$site" --port "$port" --lifetime 1800 \
    >"$demo/server.log" 2>&1 &
server_pid=$!
i=0
until python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null; do
    i=$((i + 1))
    [ $i -lt 50 ] || { echo "update server did not start"; cat "$demo/server.log"; exit 1; }
    sleep 0.1
done

echo "== preparing the demo product 1.0 in C:\\Kelvo and starting it"
progdir=$WINEPREFIX/drive_c/Kelvo
rm -rf "$progdir"
mkdir -p "$progdir"
cp "$product" "$progdir/Kelvo.exe"
printf 'Kelvo 1.0 sample data\r\n' >"$progdir/Kelvo.dat"
printf 'close' >"$progdir/product.mode"
printf '[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n' >"$progdir/Version.ini"
(cd "$progdir" && "$KELVO_WINE" 'C:\Kelvo\Kelvo.exe' >/dev/null 2>&1 &)
i=0
until [ -s "$progdir/started.log" ]; do
    i=$((i + 1))
    [ $i -lt 100 ] || { echo "the demo product did not start"; exit 1; }
    sleep 0.1
done
before=$(grep -E 'MainVer|SubVer' "$progdir/Version.ini" | tr -d '\r' | tr '\n' ' ')

artifacts=$demo/screenshots
rm -rf "$artifacts"
mkdir -p "$artifacts"
echo "== running Tovane.exe in C:\\Kelvo"
result=0
if [ -n "$headless" ]; then
    "$KELVO_WINE" "$run/tests/wine/kelvo_demo_driver.exe" "$tovane" "$progdir" "$artifacts" \
        >"$demo/driver.log" 2>&1 </dev/null || result=$?
    cat "$demo/driver.log"
else
    echo "   the update dialog is on your display: press Update, then OK"
    (cd "$progdir" && "$KELVO_WINE" "$(winepath -w "$tovane" 2>/dev/null || echo "$tovane")" >/dev/null 2>&1) || result=$?
fi

after=$(grep -E 'MainVer|SubVer' "$progdir/Version.ini" | tr -d '\r' | tr '\n' ' ')
# The updater asks Windows to start the product before it says "Update
# success"; the new process records its start a moment later, which may fall
# after the driver has ended.
i=0
starts=$(grep -c 'pid=' "$progdir/started.log" || true)
while [ "$starts" -lt 2 ] && [ $i -lt 150 ]; do
    sleep 0.1
    i=$((i + 1))
    starts=$(grep -c 'pid=' "$progdir/started.log" || true)
done
echo
echo "== what happened"
echo "version before: $before"
echo "version after:  $after"
for f in Kelvo.exe Kelvo.dat; do
    if cmp -s "$updates/$f" "$progdir/$f"; then
        echo "replaced:       $f (now the 1.1 file)"
    else
        echo "NOT replaced:   $f"
        result=1
    fi
done
if [ "$starts" -ge 2 ]; then
    echo "product:        closed for the update and started again ($starts starts recorded)"
else
    echo "product:        not started again ($starts starts recorded)"
    result=1
fi

echo
echo "== publishing Kelvo 1.2, signed, then changing one byte of the served Kelvo.dat"
printf 'Kelvo 1.2 sample data\r\n' >"$release/1.2/Kelvo.dat"
printf 'Kelvo 1.2\n- newer sample data\n' >"$release/1.2/notes.txt"
"$publish" publish --key "$keys/demo.pem" --version 1.2 --notes "$release/1.2/notes.txt" \
    "$updates" "$release/1.2/Kelvo.dat" | sed 's/^/   /'
# What an attacker between server and user could do: same size, one byte.
printf 'X' | dd of="$updates/Kelvo.dat" bs=1 seek=0 conv=notrunc 2>/dev/null
echo "   served Kelvo.dat now starts with: $(head -c 12 "$updates/Kelvo.dat")"
# The folder as it stands, the product's start log aside (it grows by itself).
folder_state() { (cd "$progdir" && find . -type f ! -name started.log | sort | xargs sha256sum); }
state_before=$(folder_state)
starts_before=$(grep -c 'pid=' "$progdir/started.log" || true)
version_before=$(grep -E 'MainVer|SubVer' "$progdir/Version.ini" | tr -d '\r' | tr '\n' ' ')

echo "== running Tovane.exe in C:\\Kelvo again"
if [ -n "$headless" ]; then
    refused=0
    "$KELVO_WINE" "$run/tests/wine/kelvo_demo_driver.exe" "$tovane" "$progdir" "$artifacts" refused \
        >"$demo/driver-refused.log" 2>&1 </dev/null || refused=$?
    cat "$demo/driver-refused.log"
    [ "$refused" -eq 0 ] || { echo "the tampered update was NOT refused"; result=1; }
else
    echo "   the update dialog is on your display: press Update; it refuses the file; then Close"
    (cd "$progdir" && "$KELVO_WINE" "$(winepath -w "$tovane" 2>/dev/null || echo "$tovane")" >/dev/null 2>&1) || true
fi

echo
echo "== what happened"
version_after=$(grep -E 'MainVer|SubVer' "$progdir/Version.ini" | tr -d '\r' | tr '\n' ' ')
echo "version before: $version_before"
echo "version after:  $version_after"
if [ "$(folder_state)" = "$state_before" ]; then
    echo "C:\\Kelvo:      unchanged (every file's SHA-256 as before)"
else
    echo "C:\\Kelvo:      CHANGED"
    result=1
fi
starts_after=$(grep -c 'pid=' "$progdir/started.log" || true)
if [ "$starts_after" -eq "$starts_before" ]; then
    echo "product:        left running, not stopped or restarted"
else
    echo "product:        restarted ($starts_after starts recorded)"
    result=1
fi
[ -n "$headless" ] && echo "screenshots:    $artifacts"
# Only the product processes this demo started: the ones it recorded.
for pid in $(sed -n 's/^pid=\([0-9]*\).*/\1/p' "$progdir/started.log"); do
    "$KELVO_WINE" taskkill /F /PID "$pid" >/dev/null 2>&1 </dev/null || true
done

echo
echo "== the HID library: hidprobe opens the virtual mouse (product 0x0001, vendor 0x845e)"
"$KELVO_WINE" "$run/qorinhid/hidprobe.exe" 0x0001 0x845e >"$demo/hidprobe.log" 2>&1 </dev/null || true
cat "$demo/hidprobe.log"
exit $result
