# Sourced by the benches that run Tovane.exe against a server on this
# machine: with $root, $build (made absolute here) and the targets to build
# in $targets, it builds the updater for a loopback port of its own, starts a
# Wine session (ended on exit, by the session's own ids) and, with
# KELVO_BENCH_BUSY=1, a shell loop that keeps one core busy. Sets $port,
# $arch and the session's environment.
mkdir -p "$build"
build=$(cd "$build" && pwd)

arch=$("$root/scripts/wine-arch.sh")
toolchain=mingw-w64-x86_64.cmake
[ "$arch" = win32 ] && toolchain=mingw-w64-i686.cmake
command -v curl >/dev/null || { echo "curl is needed (scripts/setup.sh installs it)" >&2; exit 1; }

# Tovane.exe knows its server at build time: keep the port of the last run
# while it is free.
port=$(cat "$build/port" 2>/dev/null || true)
if [ -z "$port" ] || ! python3 -c 'import socket,sys; s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(("127.0.0.1", int(sys.argv[1])))' "$port" 2>/dev/null; then
    port=$("$root/scripts/free-port.sh")
fi
echo "$port" >"$build/port"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=ON -DKELVO_WINE_TESTS=OFF \
    -DTOVANE_UPDATE_HOST="127.0.0.1:$port" >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; exit 1; }
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -j2 >"$build/build.log" 2>&1 ||
    { cat "$build/build.log" >&2; exit 1; }

state=$build/wine
busy=
if [ "${KELVO_BENCH_BUSY:-0}" = 1 ]; then
    sh -c 'while :; do :; done' &
    busy=$!
fi
"$root/tests/harness/wine-session.sh" start "$state" "$arch" >/dev/null
trap '[ -z "$busy" ] || kill $busy; "$root/tests/harness/wine-session.sh" stop "$state" >/dev/null' EXIT
. "$state/env"
