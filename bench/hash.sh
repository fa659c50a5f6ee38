#!/bin/sh
# SHA-256 throughput of the updater's file hashing (HashFile over CNG) under
# Wine against sha256sum on the same 256 MiB file, interleaved over several
# rounds, as ratios (min and median); and the time the checks add to an
# update of 100 MiB (hashing it, plus one manifest signature check).
#
#   bench/hash.sh [BUILD_DIR [MIB [ROUNDS]]]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/kelvo-hash-bench}
mib=${2:-256}
rounds=${3:-5}

arch=$("$root/scripts/wine-arch.sh")
toolchain=mingw-w64-x86_64.cmake
[ "$arch" = win32 ] && toolchain=mingw-w64-i686.cmake
mkdir -p "$build"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=OFF >"$build.configure.log" 2>&1 ||
        { cat "$build.configure.log" >&2; exit 1; }
fi
cmake --build "$build" --target hash_bench -j2 >"$build.build.log" 2>&1 ||
    { cat "$build.build.log" >&2; exit 1; }
bench=$build/bench/hash/hash_bench.exe

data=$build/hash-bench-data
rm -rf "$data"
mkdir -p "$data"
head -c $((mib * 1024 * 1024)) /dev/urandom >"$data/big.bin"
# A manifest signed the way a vendor signs it, for the signature check's cost.
openssl ecparam -name prime256v1 -genkey -noout -out "$data/key.pem"
openssl ec -in "$data/key.pem" -pubout -out "$data/public.pem" 2>/dev/null
printf '[Programs]\r\nPrograms=Kelvo.exe?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=1\r\n' >"$data/Version.txt"
openssl dgst -sha256 -sign "$data/key.pem" -out "$data/Version.txt.sig" "$data/Version.txt"

state=$build/bench-wine
"$root/tests/harness/wine-session.sh" start "$state" "$arch" >/dev/null
trap '"$root/tests/harness/wine-session.sh" stop "$state"' EXIT
. "$state/env"
win() { echo "Z:$1" | tr / '\\\\'; }

results=$data/results
: >"$results"
i=0
while [ $i -lt "$rounds" ]; do
    i=$((i + 1))
    # Same file, each side warm from the page cache of the round before.
    "$KELVO_WINE" "$bench" "$(win "$data/big.bin")" "$(win "$data/Version.txt")" \
        "$(win "$data/Version.txt.sig")" "$(win "$data/public.pem")" >"$data/ours.out" 2>&1 </dev/null
    start=$(date +%s%N)
    theirs=$(sha256sum "$data/big.bin" | cut -d' ' -f1)
    end=$(date +%s%N)
    # The Windows console ends its line with CR LF.
    echo "$(tr -d '\r' <"$data/ours.out") peer_ns=$((end - start)) peer_sha256=$theirs" >>"$results"
done

python3 - "$results" "$mib" <<'PY'
import statistics, sys
rows = [dict(kv.split("=", 1) for kv in line.split()) for line in open(sys.argv[1]) if line.strip()]
mib = float(sys.argv[2])
for r in rows:
    if r["sha256"] != r["peer_sha256"]:
        sys.exit("digests differ: %s vs %s" % (r["sha256"], r["peer_sha256"]))
ours = [mib / float(r["seconds"]) for r in rows]
peer = [mib / (int(r["peer_ns"]) / 1e9) for r in rows]
ratio = [o / p for o, p in zip(ours, peer)]
verify = [float(r["verify_seconds"]) for r in rows]
print("file: %.0f MiB, %d interleaved rounds, digests equal" % (mib, len(rows)))
print("HashFile under Wine: min %.1f, median %.1f MiB/s" % (min(ours), statistics.median(ours)))
print("sha256sum:           min %.1f, median %.1f MiB/s" % (min(peer), statistics.median(peer)))
print("throughput ratio HashFile/sha256sum: min %.2f, median %.2f" % (min(ratio), statistics.median(ratio)))
add = [100.0 / o + v for o, v in zip(ours, verify)]
print("signature check: median %.2f ms" % (statistics.median(verify) * 1000))
print("added to a 100 MiB update (hash 100 MiB + signature): min %.2f s, median %.2f s"
      % (min(add), statistics.median(add)))
PY
