#!/bin/sh
# Runs a command with a stock nginx serving ROOT on 127.0.0.1, behind a relay
# on PORT that can break chosen connections (cut_proxy.py, rules in
# ROOT/cut-rules.json), and stops both afterwards, by their ids.
#   with-nginx.sh ROOT PORT command...
# With KELVO_NGINX_DIRECT=1 nginx itself listens on PORT and no relay runs.
# The configuration, logs and temporary files live in ROOT.nginx/. The
# command sees KELVO_HTTP_PORT, KELVO_HTTP_ROOT and KELVO_NGINX_PORT (nginx
# itself, no relay); the access log (uri, status, body bytes, Range) is
# ROOT/nginx-access.log.
set -eu
root=$1
port=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "nginx is needed (scripts/setup.sh installs nginx-light)" >&2; exit 1; }
rm -rf "$root" "$root.nginx"
mkdir -p "$root" "$root.nginx/tmp"
root=$(cd "$root" && pwd)
conf=$root.nginx
direct=${KELVO_NGINX_DIRECT:-0}
if [ "$direct" = 1 ]; then
    nginx_port=$port
else
    nginx_port=$("$here/../../scripts/free-port.sh")
fi
user_line=
[ "$(id -u)" = 0 ] && user_line="user root;"
cat >"$conf/nginx.conf" <<CONF
$user_line
daemon off;
master_process off;
worker_processes 1;
pid $conf/nginx.pid;
error_log $conf/error.log;
events { worker_connections 128; }
http {
    log_format served '\$uri \$status \$body_bytes_sent "\$http_range" "\$http_if_range"';
    access_log $root/nginx-access.log served;
    client_body_temp_path $conf/tmp/body;
    proxy_temp_path $conf/tmp/proxy;
    fastcgi_temp_path $conf/tmp/fastcgi;
    uwsgi_temp_path $conf/tmp/uwsgi;
    scgi_temp_path $conf/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    # One request per connection, so that the relay knows which file a
    # connection carries.
    keepalive_timeout 0;
    server {
        listen 127.0.0.1:$nginx_port;
        root $root;
    }
}
CONF
"$nginx" -e "$conf/error.log" -p "$conf" -c "$conf/nginx.conf" >"$conf/stdout.log" 2>&1 &
server=$!
pids=$server
if [ "$direct" = 1 ]; then
    echo "$port" >"$conf/relay.port"
else
    python3 "$here/cut_proxy.py" --port "$port" --upstream "$nginx_port" \
        --rules "$root/cut-rules.json" --port-file "$conf/relay.port" >"$conf/relay.log" 2>&1 &
    pids="$pids $!"
fi
trap 'kill $pids 2>/dev/null || true; wait $pids 2>/dev/null || true' EXIT INT TERM
i=0
until [ -s "$conf/relay.port" ] && curl -s -o /dev/null "http://127.0.0.1:$nginx_port/"; do
    i=$((i + 1))
    # shellcheck disable=SC2086
    if [ $i -gt 100 ] || ! kill -0 $pids 2>/dev/null; then
        echo "nginx or its relay did not start" >&2
        cat "$conf/error.log" "$conf/relay.log" >&2 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
done
KELVO_HTTP_PORT=$(cat "$conf/relay.port")
KELVO_HTTP_ROOT=$root
KELVO_NGINX_PORT=$nginx_port
export KELVO_HTTP_PORT KELVO_HTTP_ROOT KELVO_NGINX_PORT
"$@"
