#!/bin/sh
# Runs a command with the test HTTP server up on 127.0.0.1, and stops the
# server afterwards, whatever the command's result.
#   with-http-server.sh ROOT PORT command...
# PORT 0 takes a free port. The command sees KELVO_HTTP_PORT, KELVO_HTTP_ROOT
# and KELVO_CLOSED_PORT (a port on which nothing listens).
set -eu
root=$1
port=$2
shift 2
here=$(dirname "$0")
rm -rf "$root"
mkdir -p "$root"
root=$(cd "$root" && pwd)
portfile="$root.port"
rm -f "$portfile"
python3 "$here/http_server.py" --root "$root" --port "$port" --port-file "$portfile" \
    >"$root.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT INT TERM
i=0
while [ ! -s "$portfile" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $server 2>/dev/null; then
        echo "test HTTP server did not start" >&2
        cat "$root.log" >&2
        exit 1
    fi
    sleep 0.1
done
KELVO_HTTP_PORT=$(cat "$portfile")
KELVO_HTTP_ROOT=$root
KELVO_CLOSED_PORT=$("$here/../../scripts/free-port.sh")
export KELVO_HTTP_PORT KELVO_HTTP_ROOT KELVO_CLOSED_PORT
"$@"
