#!/bin/sh
# Throughput of the updater's DownloadFile under Wine against curl, on the
# same 256 MiB body from the same local server in the same run, and the
# updater's peak memory during the transfer.
#
#   bench/download.sh [BUILD_DIR [MIB]]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/kelvo-download-bench}
mib=${2:-256}
bytes=$((mib * 1024 * 1024))

arch=$("$root/scripts/wine-arch.sh")
toolchain=mingw-w64-x86_64.cmake
[ "$arch" = win32 ] && toolchain=mingw-w64-i686.cmake
command -v curl >/dev/null || { echo "curl is needed (apt-get install curl)" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=OFF >"$build.configure.log" 2>&1 ||
        { cat "$build.configure.log" >&2; exit 1; }
fi
cmake --build "$build" --target download_bench -j2 >"$build.build.log" 2>&1 ||
    { cat "$build.build.log" >&2; exit 1; }
bench=$build/bench/download/download_bench.exe

state=$build/bench-wine
site=$build/bench-site
rm -rf "$site"
mkdir -p "$site"
# A generated body: nothing of that size is written to disk on the server side.
printf '{"synthetic": %d}' "$bytes" >"$site/big.bin.fault"
port=$("$root/scripts/free-port.sh")
python3 "$root/tests/harness/http_server.py" --root "$site" --port "$port" --lifetime 900 \
    >"$build/bench-server.log" 2>&1 &
server=$!
"$root/tests/harness/wine-session.sh" start "$state" "$arch" >/dev/null
trap 'kill $server 2>/dev/null; "$root/tests/harness/wine-session.sh" stop "$state"' EXIT
url="http://127.0.0.1:$port/big.bin"
sleep 0.5

. "$state/env"
out=$state/drive-c-big.bin
rm -f "$out" "$build/curl.bin"
"$KELVO_WINE" "$bench" "$url" "Z:$(echo "$out" | tr / '\\\\')" >"$state/bench.out" 2>&1 </dev/null
updater=$(cat "$state/bench.out")
curl_s=$(curl -s -o "$build/curl.bin" -w '%{time_total}' "$url")
cmp -s "$out" "$build/curl.bin" || { echo "the two downloads differ" >&2; exit 1; }
rm -f "$out" "$build/curl.bin"

echo "$updater" | python3 -c '
import sys
fields = dict(kv.split("=") for kv in sys.stdin.read().split())
mib = int(fields["bytes"]) / 1048576.0
ours = float(fields["seconds"])
curl = float(sys.argv[1])
print("body: %.0f MiB, served by the same local server" % mib)
print("DownloadFile under Wine: %.2f s, %.1f MiB/s" % (ours, mib / ours))
print("curl:                    %.2f s, %.1f MiB/s" % (curl, mib / curl))
print("throughput ratio DownloadFile/curl: %.2f" % (curl / ours))
print("updater working set: %.1f MiB at start, %.1f MiB peak during the transfer" %
      (int(fields["start_working_set"]) / 1048576.0, int(fields["peak_working_set"]) / 1048576.0))
' "$curl_s"
