#!/bin/sh
# The update job as a user meets it, against its peer, on the same nginx in
# the same run: Tovane.exe under Wine, from the click on "Update" to "Update
# success" for one MIB-MiB file, against curl to a file plus one CopyFileA
# into the program folder.
# Rounds interleaved, order alternating; min and median of each, and the
# ratio peer/updater (1 = as fast as the peer). Also DownloadFile alone
# against curl alone, Tovane's peak working set during the job, and one job
# whose file is broken off three times on the way (bytes served / file size).
# Nothing is pinned to a CPU: on an idle 2-core VM Wine's small calls run
# slower than with the other core busy. KELVO_BENCH_BUSY=1 keeps one core
# busy with a shell loop for the whole run, for the second figure.
#
#   bench/download.sh [ROUNDS [MIB]]      build tree: $KELVO_BUILD_DIR/bench-download
# KELVO_BENCH_TOVANE=path times another Tovane.exe built for the same server
# (the port in the build tree's "port" file), e.g. an older revision.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
mib=${2:-256}
build=${KELVO_BUILD_DIR:-$root/build}/bench-download
targets="Tovane update_job_bench download_bench"
. "$root/bench/updater-bench.sh"

body=$build/big.dat
if [ "$(stat -c %s "$body" 2>/dev/null || echo 0)" != $((mib * 1048576)) ]; then
    head -c $((mib * 1048576)) /dev/urandom >"$body"
fi
# The body that the rounds run inside, once with nginx on the port itself
# and once behind the relay that breaks connections.
cat >"$build/rounds.sh" <<'ROUNDS'
set -eu
folder=$KELVO_HTTP_ROOT/UploadFile/Product_Soft/Kelvo
mkdir -p "$folder"
ln "$BODY" "$folder/big.dat"
printf '[Programs]\r\nPrograms=big.dat?\r\n[Kelvo]\r\nMainVer=2\r\nSubVer=0\r\nUpdateInof=bench\r\n' \
    >"$folder/Version.txt"
url=http://127.0.0.1:$KELVO_HTTP_PORT/UploadFile/Product_Soft/Kelvo/big.dat
temp=$TEMP_DIR
winz() { echo "Z:$1" | tr / '\\'; }
job() {
    prog=$BUILD/program
    rm -rf "$prog"
    mkdir -p "$prog"
    "$KELVO_WINE" "$BUILD/bench/download/update_job_bench.exe" job "$TOVANE" "$prog" \
        >"$BUILD/job.out" 2>&1 </dev/null || { cat "$BUILD/job.out" >&2; exit 1; }
    cmp -s "$prog/big.dat" "$BODY" || { echo "installed file differs" >&2; exit 1; }
    tr -d "\r" <"$BUILD/job.out"
}
peer() {
    prog=$BUILD/program
    rm -rf "$prog"
    mkdir -p "$prog"
    t=$(curl -s -o "$temp/curl.bin" -w '%{time_total}' "$url")
    "$KELVO_WINE" "$BUILD/bench/download/update_job_bench.exe" copy "$(winz "$temp/curl.bin")" \
        "$(winz "$prog/big.dat")" >"$BUILD/copy.out" 2>&1 </dev/null
    cmp -s "$prog/big.dat" "$BODY" || { echo "peer copy differs" >&2; exit 1; }
    rm -f "$temp/curl.bin"
    echo "curl=$t $(tr -d "\r" <"$BUILD/copy.out")"
}
alone() {
    out=$temp/alone.bin
    "$KELVO_WINE" "$BUILD/bench/download/download_bench.exe" "$url" "$(winz "$out")" \
        >"$BUILD/alone.out" 2>&1 </dev/null
    t=$(curl -s -o "$temp/curl.bin" -w '%{time_total}' "$url")
    rm -f "$out" "$temp/curl.bin"
    echo "$(tr -d "\r" <"$BUILD/alone.out") curl=$t"
}
if [ "$MODE" = speed ]; then
    i=0
    while [ $i -lt "$ROUNDS" ]; do
        if [ $((i % 2)) = 0 ]; then
            echo "job $(job)"
            echo "peer $(peer)"
        else
            echo "peer $(peer)"
            echo "job $(job)"
        fi
        echo "alone $(alone)"
        i=$((i + 1))
    done
else
    # Three connections for big.dat break, at a quarter, half and three
    # quarters of the file.
    size=$(stat -c %s "$BODY")
    printf '{"big.dat": [%d, %d, %d]}' $((size / 4)) $((size / 2)) $((size * 3 / 4)) \
        >"$KELVO_HTTP_ROOT/cut-rules.json"
    echo "cut $(job) served=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(sum(v for k, v in d.items() if k.endswith("/big.dat")))' "$KELVO_HTTP_ROOT/cut-rules.json.served")"
fi
ROUNDS

TEMP_DIR=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp | head -1)
export BODY="$body" BUILD="$build" ROUNDS="$rounds" TOVANE="${KELVO_BENCH_TOVANE:-$build/updater/Tovane.exe}" TEMP_DIR
export KELVO_WINE
MODE=speed KELVO_NGINX_DIRECT=1 "$root/tests/harness/with-nginx.sh" "$build/site" "$port" \
    sh "$build/rounds.sh" >"$build/speed.log"
# KELVO_BENCH_NO_CUT=1 leaves the broken-off job out (a build that cannot
# resume fails it).
: >"$build/cut.log"
if [ "${KELVO_BENCH_NO_CUT:-0}" != 1 ]; then
    MODE=cut "$root/tests/harness/with-nginx.sh" "$build/site" "$port" \
        sh "$build/rounds.sh" >"$build/cut.log"
fi

python3 - "$build/speed.log" "$build/cut.log" "$mib" "${KELVO_BENCH_BUSY:-0}" <<'REPORT'
import statistics, sys
rows = {"job": [], "peer": [], "alone": [], "cut": []}
for path in sys.argv[1:3]:
    for line in open(path):
        kind, *fields = line.split()
        rows[kind].append(dict(f.split("=") for f in fields))
mib = float(sys.argv[3])
job = [float(r["seconds"]) for r in rows["job"]]
peer = [float(r["curl"]) + float(r["seconds"]) for r in rows["peer"]]
alone = [float(r["seconds"]) for r in rows["alone"]]
alone_curl = [float(r["curl"]) for r in rows["alone"]]
def show(name, xs):
    print("%-44s min %6.3f s  median %6.3f s" % (name, min(xs), statistics.median(xs)))
print("%d rounds, %.0f MiB, one nginx on 127.0.0.1, nothing pinned, %s" %
      (len(job), mib, "one core kept busy" if sys.argv[4] == "1" else "machine otherwise idle"))
show("update job, click to \"Update success\"", job)
show("peer: curl + CopyFileA", peer)
print("ratio peer/updater: min %.2f  median %.2f   (goal >= 0.95)" %
      (min(peer) / min(job), statistics.median(peer) / statistics.median(job)))
show("DownloadFile alone", alone)
show("curl alone (same rounds)", alone_curl)
print("ratio curl/DownloadFile: min %.2f  median %.2f" %
      (min(alone_curl) / min(alone), statistics.median(alone_curl) / statistics.median(alone)))
check = [float(r["check_seconds"]) for r in rows["job"]]
show("check: start to release notes", check)
grow = [(int(r["peak_working_set"]) - int(r["start_working_set"])) / 1048576.0 for r in rows["job"]]
start = [int(r["start_working_set"]) / 1048576.0 for r in rows["job"]]
print("Tovane working set: %.1f MiB at the click, growth during the job max %.2f MiB "
      "(bound: 4 MiB + 1 MiB read buffer)" % (statistics.median(start), max(grow)))
for r in rows["cut"]:
    served = int(r["served"])
    print("cut three times: job %.3f s, bytes to the client %.4f x the file (bound 1.05)" %
          (float(r["seconds"]), served / (mib * 1048576)))
REPORT
