#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that breaks chosen connections, for putting a
stock server behind a flaky link.

  cut_proxy.py --port N --upstream PORT --rules FILE [--port-file F]

FILE (JSON, read again for every connection; missing means no cuts) maps
the end of a request path to a list of byte counts: connection i whose
first request path ends that way is reset after that many bytes from the
server (headers included); later connections pass whole.
  {"Kelvo.exe": [1500000, 2500000]}
Bytes relayed to clients per path are kept in FILE.served as JSON.
"""
import argparse
import json
import os
import socket
import struct
import sys
import threading
import time

BLOCK = 256 * 1024


class Relay:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.connections = {}  # rule key -> connections seen
        self.served = {}  # path -> bytes to clients

    def rules(self):
        try:
            with open(self.args.rules) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def limit_for(self, path):
        for key, cuts in self.rules().items():
            if path.endswith(key):
                with self.lock:
                    n = self.connections.get(key, 0)
                    self.connections[key] = n + 1
                return int(cuts[n]) if n < len(cuts) else None
        return None

    def count(self, path, n):
        with self.lock:
            self.served[path] = self.served.get(path, 0) + n
            tmp = self.args.rules + ".served.tmp"
            with open(tmp, "w") as f:
                json.dump(self.served, f)
            os.replace(tmp, self.args.rules + ".served")

    def handle(self, client):
        try:
            upstream = socket.create_connection(("127.0.0.1", self.args.upstream), timeout=10)
        except OSError:
            client.close()
            return
        upstream.settimeout(None)
        first = client.recv(65536)
        if not first:
            client.close()
            upstream.close()
            return
        line = first.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        path = line[1] if len(line) > 1 else "?"
        limit = self.limit_for(path)
        upstream.sendall(first)
        pump = threading.Thread(target=self.pump_up, args=(client, upstream), daemon=True)
        pump.start()
        sent = 0
        try:
            while True:
                data = upstream.recv(BLOCK)
                if not data:
                    break
                if limit is not None and sent + len(data) >= limit:
                    data = data[: limit - sent]
                    client.sendall(data)
                    sent += len(data)
                    # Let the client read what was sent: a reset discards
                    # data still unread in its buffer.
                    time.sleep(0.3)
                    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                      struct.pack("ii", 1, 0))
                    # The other direction lets go of the socket first: a
                    # close while it still reads would send no reset.
                    client.shutdown(socket.SHUT_RD)
                    pump.join(5)
                    break
                client.sendall(data)
                sent += len(data)
        except OSError:
            pass
        finally:
            self.count(path, sent)
            client.close()
            upstream.close()

    @staticmethod
    def pump_up(client, upstream):
        try:
            while True:
                data = client.recv(BLOCK)
                if not data:
                    break
                upstream.sendall(data)
        except OSError:
            pass
        try:
            upstream.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--upstream", type=int, required=True)
    ap.add_argument("--rules", required=True)
    ap.add_argument("--port-file")
    args = ap.parse_args()
    relay = Relay(args)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(64)
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(listener.getsockname()[1]))
        os.replace(args.port_file + ".tmp", args.port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay.handle, args=(client,), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
