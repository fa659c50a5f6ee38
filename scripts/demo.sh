#!/bin/sh
# The main job: one full update of a demo product, 1.0 to 1.1, served by an
# embedded update server on 127.0.0.1.
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

echo "== building (update server $host)"
cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKELVO_WINE_TESTS=OFF -DTOVANE_UPDATE_HOST="$host" >"$build/logs/demo-i686.log" 2>&1 ||
    { cat "$build/logs/demo-i686.log"; exit 1; }
cmake --build "$build/i686" -j "$jobs" --target Tovane qorinhid hidprobe >>"$build/logs/demo-i686.log" 2>&1 ||
    { tail -30 "$build/logs/demo-i686.log"; exit 1; }
if [ "$arch" = win32 ]; then
    run=$build/i686
else
    echo "   (this host cannot run 32-bit code: the demo runs the x86_64 build of the same sources)"
    run=$build/x86_64
    cmake -S "$root" -B "$run" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTOVANE_UPDATE_HOST="$host" >"$build/logs/demo-run.log" 2>&1 ||
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

echo "== publishing Kelvo 1.1 on the update server"
site=$demo/server
updates=$site/UploadFile/Product_Soft/Kelvo
rm -rf "$site"
mkdir -p "$updates"
# The new build of the product: the same program with a marker appended, so
# the replaced file can be told from the old one.
cp "$product" "$updates/Kelvo.exe"
printf '\r\nKelvo build 1.1\r\n' >>"$updates/Kelvo.exe"
printf 'Kelvo 1.1 sample data\r\n' >"$updates/Kelvo.dat"
printf '[Programs]\r\nPrograms=Kelvo.dat?Kelvo.exe?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=1\r\nUpdateInof=Kelvo 1.1?- faster start-up?- new sample data\r\n' \
    >"$updates/Version.txt"
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
starts=$(grep -c 'pid=' "$progdir/started.log" || true)
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
