#!/bin/sh
# Benchmarks Qorin_UsbFindHIDDev against direct SetupAPI/HID calls under Wine.
#
#   bench/hid_find.sh [BUILD_DIR [ITERATIONS]]
#
# Configures BUILD_DIR when it holds no build yet (i686 when this host can
# run 32-bit Wine, x86_64 otherwise), builds hid_find_bench, runs it in a Wine
# session of its own and stops the session again.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/kelvo-hid-bench}
iterations=${2:-200}

arch=$("$root/scripts/wine-arch.sh")
toolchain=mingw-w64-x86_64.cmake
[ "$arch" = win32 ] && toolchain=mingw-w64-i686.cmake

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        -DKELVO_BUILD_TESTS=OFF >"$build.configure.log" 2>&1 ||
        { cat "$build.configure.log" >&2; exit 1; }
fi
cmake --build "$build" --target hid_find_bench -j2 >"$build.build.log" 2>&1 ||
    { cat "$build.build.log" >&2; exit 1; }
bench=$(find "$build" -name hid_find_bench.exe | head -n 1)
[ -n "$bench" ] || { echo "hid_find_bench.exe not built" >&2; exit 1; }
# A given build dir decides the architecture of the run.
if grep -q '^CMAKE_TOOLCHAIN_FILE.*x86_64' "$build/CMakeCache.txt"; then
    arch=win64
elif grep -q '^CMAKE_TOOLCHAIN_FILE.*i686' "$build/CMakeCache.txt"; then
    arch=win32
fi

state="$build/bench-wine"
"$root/tests/harness/wine-session.sh" start "$state" "$arch"
trap '"$root/tests/harness/wine-session.sh" stop "$state"' EXIT

# Output to a file: Wine's helper processes keep an inherited pipe open.
status=0
"$root/tests/harness/wine-run.sh" "$state" "$bench" "$iterations" \
    >"$state/bench.out" 2>&1 </dev/null || status=$?
cat "$state/bench.out"
exit $status
