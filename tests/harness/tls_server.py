#!/usr/bin/env python3
"""Static files over TLS on 127.0.0.1 for the https tests, one port per
certificate, and one plain-http port as a redirect target.

  tls_server.py --root DIR --port-file FILE --cert NAME=CERT,KEY ... [--lifetime S]

Writes "NAME=PORT" lines (and "plain=PORT") to FILE once every port listens.
/redirect/<scheme>/<port>/<name> answers 302 to <scheme>://localhost:<port>/<name>.
"""
import argparse
import http.server
import os
import ssl
import sys
import threading
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.server.name, fmt % args))

    def do_GET(self):
        parts = self.path.split("/")
        if len(parts) == 5 and parts[1] == "redirect":
            self.send_response(302)
            self.send_header("Location", "%s://localhost:%s/%s" % (parts[2], parts[3], parts[4]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        super().do_GET()


def serve(root, name, context):
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.name = name
    if context is not None:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--cert", action="append", default=[])
    parser.add_argument("--lifetime", type=int, default=900)
    args = parser.parse_args()
    lines = ["plain=%d" % serve(args.root, "plain", None)]
    for spec in args.cert:
        name, files = spec.split("=", 1)
        cert, key = files.split(",", 1)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        lines.append("%s=%d" % (name, serve(args.root, name, context)))
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, args.port_file)
    # Bounded: a run that loses track of the server does not keep it for ever.
    time.sleep(args.lifetime)


if __name__ == "__main__":
    main()
