#!/usr/bin/env python3
"""Serves a folder over HTTP/1.1 (kept-alive connections, one thread each) on 127.0.0.1,
answering every request after a fixed delay, like a site some distance away. Logs one line per
request to stdout: the monotonic time in seconds, the connection number and the path.
  delayed_site_server.py ROOT PORT DELAY_MS [BUSY_PATH]
A request for BUSY_PATH is answered "429 Too Many Requests" with "Retry-After: 1" the first
time, then served."""
import http.server, os, socketserver, sys, threading, time

root, port, delay = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) / 1000.0
busy_path = sys.argv[4] if len(sys.argv) > 4 else None
lock = threading.Lock()
connections = [0]
busy_told = [False]


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # The head and the body go out in separate writes: without this, Nagle's algorithm and the
    # client's delayed acknowledgement add 40 ms to every answer.
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        with lock:
            connections[0] += 1
            self.number = connections[0]

    def log_message(self, *args):
        pass

    def do_GET(self):
        time.sleep(delay)
        with lock:
            print(f"{time.monotonic():.3f} {self.number} {self.path}", flush=True)
            busy = self.path == busy_path and not busy_told[0]
            busy_told[0] = busy_told[0] or busy
        if busy:
            self.send_response(429)
            self.send_header("Retry-After", "1")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        super().do_GET()

    def translate_path(self, path):
        return os.path.join(root, path.split("?", 1)[0].lstrip("/"))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 64


Server(("127.0.0.1", port), Handler).serve_forever()
