#!/usr/bin/env python3
"""Static files over TLS on 127.0.0.1 for the https tests, one port per
certificate, and one plain-http port as a redirect target.

  tls_server.py --root DIR --port-file FILE --cert NAME=CERT,KEY ... [--lifetime S]
                [--switch-port PORT]

Writes "NAME=PORT" lines (and "plain=PORT") to FILE once every port listens.
/redirect/<scheme>/<port>/<name> answers 302 to <scheme>://localhost:<port>/<name>.
--switch-port: one more TLS port, fixed (an updater built for it knows it),
whose certificate is the one named in DIR/tls.mode when a connection comes
(default "good"); with the mode "redirect" it sends every request on to the
same path on the plain port.
"""
import argparse
import http.server
import os
import ssl
import sys
import threading
import time


def read_mode(root):
    try:
        with open(os.path.join(root, "tls.mode")) as f:
            return f.read().strip() or "good"
    except OSError:
        return "good"


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.server.name, fmt % args))
        sys.stderr.flush()

    def do_GET(self):
        if self.server.name == "switch" and read_mode(self.directory) == "redirect":
            self.send_response(302)
            self.send_header("Location", "http://localhost:%d%s" % (self.server.plain_port, self.path))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        parts = self.path.split("/")
        if len(parts) == 5 and parts[1] == "redirect":
            self.send_response(302)
            self.send_header("Location", "%s://localhost:%s/%s" % (parts[2], parts[3], parts[4]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        super().do_GET()


def serve(root, name, context, port=0, plain_port=0):
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    server.name = name
    server.plain_port = plain_port
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
    parser.add_argument("--switch-port", type=int, default=0)
    args = parser.parse_args()
    plain = serve(args.root, "plain", None)
    lines = ["plain=%d" % plain]
    chains = {}
    contexts = {}
    for named_chain in args.cert:
        name, files = named_chain.split("=", 1)
        chains[name] = files.split(",", 1)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*chains[name])
        contexts[name] = context
        lines.append("%s=%d" % (name, serve(args.root, name, context)))
    if args.switch_port:
        def choose(sock, server_name, initial):
            mode = read_mode(args.root)
            # Proof for the tests that a client came, even when the
            # handshake then fails on the certificate.
            sys.stderr.write("switch hello %s %s\n" % (server_name, mode))
            sys.stderr.flush()
            sock.context = contexts.get(mode, contexts["good"])
        # A context of its own: the callback must not switch the "good" port.
        switch = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        switch.load_cert_chain(*chains["good"])
        switch.sni_callback = choose
        lines.append("switch=%d" % serve(args.root, "switch", switch, args.switch_port, plain))
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, args.port_file)
    # Bounded: a run that loses track of the server does not keep it for ever.
    time.sleep(args.lifetime)


if __name__ == "__main__":
    main()
