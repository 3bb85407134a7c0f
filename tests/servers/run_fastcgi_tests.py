#!/usr/bin/python3
"""The program's FastCGI mode, alone and behind real web servers.

1. Carry-over: a large randomised set of requests (types, sizes, angles,
   font heights, text on and off, debug on and off, PNG and SVG, failures,
   help, POST, over-long requests) goes through cgi-fcgi to a pool of
   workers, in a shuffled order, and every answer must be the one a fresh
   CGI process gives: the same bytes (the PNG's time stamps aside) and the
   same code.
2. Servers, each configured by README.md's FastCGI snippet: lighttpd with
   mod_fastcgi, Apache with mod_fcgid, nginx and Apache (mod_proxy_fcgi) in
   front of the program's own pool, started as the systemd units in
   systemd/ start it and by README.md's spawn-fcgi lines. Through each: one
   request of every type as drawn by the program run directly, the help
   page, the error pages, failures without debug, the length limit.
3. Under load through each server: a worker killed in the middle (no other
   request fails, the worker is replaced), and hostile requests mixed in
   (the costliest requests, a POST whose body never comes): every ordinary
   request is answered.

Usage: run_fastcgi_tests.py --cgi PATH --out FOLDER [--requests N]
"""

import argparse
import os
import random
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import http.client

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import fastcgi_servers  # noqa: E402
import run_server_tests  # noqa: E402
from run_server_tests import Results, http_request  # noqa: E402
from strixel_cgi import TYPE_CASES  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402

CGI_FCGI = "/usr/bin/cgi-fcgi"

# What a client gets when a request fails without debug and the program so
# writes nothing (the FastCGI request ends with an empty answer).
EMPTY_ANSWERS = {
    "lighttpd-fastcgi": (500, "text/html",
                         b"<h1>500 Internal Server Error</h1>"),
    "nginx-fastcgi": (502, "text/html", b"502 Bad Gateway"),
    "nginx-spawn-fcgi": (502, "text/html", b"502 Bad Gateway"),
    "apache-fcgid": (500, "text/html; charset=iso-8859-1",
                     b"<h1>Internal Server Error</h1>"),
    # A failure reported as success: why README.md advises mod_fcgid.
    "apache-proxy-fcgi": (200, "", b""),
}
run_server_tests.EMPTY_CGI_ANSWERS.update(EMPTY_ANSWERS)

# The costliest requests known (bench/hostile): a long text spread over a
# huge font, and a raster at the 64 MiB cap.
COSTLIEST = [
    "btype=7&xdim=1&talign=3&fh=350&h=570&data=" + "W" * 3558,
    "h=23&xdim=8841",
]


# --- Running requests ---------------------------------------------------------

def run_cgi(argv, method, text):
    """One CGI run of argv: (exit code, output)."""
    env = {"REQUEST_METHOD": method}
    body = b""
    if method == "POST":
        body = text
        env["CONTENT_LENGTH"] = str(len(text))
    else:
        env["QUERY_STRING"] = text.decode("latin-1")
    done = subprocess.run(argv, env=env, input=body, capture_output=True,
                          timeout=120)
    return done.returncode, done.stdout


def without_time_stamps(output):
    """A response with the PNG's tIME chunk and its time text left out: the
    only bytes two runs of the same request may differ in."""
    start = output.find(b"\x89PNG\r\n\x1a\n")
    if start < 0:
        return output
    kept = [output[:start + 8]]
    at = start + 8
    while at + 8 <= len(output):
        length, kind = struct.unpack(">I4s", output[at:at + 8])
        chunk = output[at:at + 12 + length]
        at += 12 + length
        if kind == b"tIME":
            continue
        if kind == b"tEXt" and chunk[8:].startswith(b"Creation Time\0"):
            continue
        kept.append(chunk)
    return b"".join(kept) + output[at:]


def random_request(rng):
    """(method, request text) of a random request."""
    case = rng.choice(TYPE_CASES)
    params = [case.query()]
    if rng.random() < 0.15:
        params = ["btype=%d&data=%s" % (case.btype,
                                        rng.choice(["abc", "", "~~", "%FF"]))]
    elif rng.random() < 0.06:
        # The postal types, and modules too wide for an image (3) or for
        # the symbol's length to be computed (1), unless a fixed size wins.
        params = [rng.choice(["btype=17&data=12345",
                              "btype=18&data=12345678901", "xdim=20000",
                              "xdim=99999999999"])]
    if rng.random() < 0.5:
        params.append("w=%d" % rng.choice([1, 50, 200, 333, 699, 700]))
    if rng.random() < 0.5:
        params.append("h=%d" % rng.choice([1, 20, 80, 200, 450, 699]))
    params.append("angle=%d" % rng.choice([0, 90, 180, 270, 45]))
    if rng.random() < 0.6:
        params.append("fh=%d" % rng.choice([0, 1, 8, 14, 30, 90]))
    if rng.random() < 0.5:
        params.append("text=%d" % rng.choice([0, 1]))
    if rng.random() < 0.3:
        params.append("talign=%d" % rng.randrange(0, 7))
    if rng.random() < 0.3:
        params.append("xdim=%d" % rng.choice([1, 2, 3, 5]))
    if rng.random() < 0.2:
        params.append("tcolor=%06x&fcolor=%06x&bcolor=%06x" %
                      (rng.randrange(1 << 24), rng.randrange(1 << 24),
                       rng.randrange(1 << 24)))
    if rng.random() < 0.3:
        params.append("debug=1")
    if rng.random() < 0.25:
        params.append("fmt=svg")
    rng.shuffle(params)
    text = "&".join(params)
    roll = rng.random()
    if roll < 0.03:
        text = "help=1&" + text
    elif roll < 0.06:
        text = "debug=1&data=" + "7" * 3600  # over the length limit
    method = "POST" if rng.random() < 0.25 else "GET"
    return method, text.encode("latin-1")


def check_carry_over(results, cgi, out, count):
    """Requests in a shuffled order through a pool of two workers against a
    fresh CGI process each."""
    rng = random.Random(20261208)
    requests = [random_request(rng) for _ in range(count)]
    # Each request comes twice, in different company.
    order = requests + requests
    rng.shuffle(order)
    folder = tempfile.mkdtemp(prefix="strixel-carry-")
    path = os.path.join(folder, "strixel.sock")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(16)
    pool = subprocess.Popen([cgi], stdin=listener.fileno(),
                            env={"STRIXEL_FASTCGI_WORKERS": "2"})
    listener.close()
    fresh = {}
    differing = []
    codes = {}
    svgs = 0
    try:
        for method, text in order:
            key = (method, text)
            if key not in fresh:
                fresh[key] = run_cgi([cgi], method, text)
            code, output = run_cgi([CGI_FCGI, "-bind", "-connect", path],
                                   method, text)
            want_code, want_output = fresh[key]
            codes[want_code] = codes.get(want_code, 0) + 1
            svgs += want_output.startswith(b"Content-type: image/svg+xml")
            if (code != want_code or without_time_stamps(output) !=
                    without_time_stamps(want_output)):
                differing.append((method, text, code, want_code))
    finally:
        os.kill(pool.pid, signal.SIGTERM)
        pool.wait(timeout=30)
        os.unlink(path)
        os.rmdir(folder)
    with open(os.path.join(out, "carry-over-differences.txt"), "w") as f:
        for method, text, code, want in differing:
            f.write("%s %s: %d, fresh CGI %d\n" % (method, text[:200], code,
                                                   want))
    results.check("carry-over: %d requests (%d distinct; codes %s) answered "
                  "as by fresh CGI processes" %
                  (len(order), len(fresh), sorted(codes.items())),
                  not differing, "%d differ, first: %r" %
                  (len(differing), differing[:1]))
    results.check("carry-over: the set has images, SVG documents among them, "
                  "pages and failures",
                  len(codes) >= 4 and codes.get(0, 0) > count // 4 and
                  svgs > count // 10, "%r, %d SVG" % (codes, svgs))


# --- Load ---------------------------------------------------------------------

class Load:
    """Threads sending requests to a server until stopped; records every
    answer's status."""

    def __init__(self, port, threads, queries):
        self.port = port
        self.queries = queries
        self.statuses = []
        self.failures = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.threads = [threading.Thread(target=self.run, args=(i,))
                        for i in range(threads)]

    def run(self, index):
        n = index
        while not self.stopping.is_set():
            query = self.queries[n % len(self.queries)]
            n += len(self.threads)
            try:
                status, ctype, body = http_request(
                    self.port, "GET", CGI_PATH + "?" + query)
                ok = status == 200 and ctype == "image/png"
            except (OSError, http.client.HTTPException) as e:
                status, ok = repr(e), False
            with self.lock:
                self.statuses.append(status)
                if not ok:
                    self.failures.append((time.time(), query, status))

    def __enter__(self):
        for t in self.threads:
            t.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        for t in self.threads:
            t.join(timeout=180)


ORDINARY = ["data=%d&btype=%d" % (n, t) for n in range(100, 120)
            for t in (7, 2, 0)]


def wait_for_workers(server, count, seconds=20):
    workers = server.workers()
    for _ in range(seconds * 10):
        if len(workers) >= count:
            break
        time.sleep(0.1)
        workers = server.workers()
    return workers


def check_killed_worker(results, server):
    name = server.name
    before = wait_for_workers(server, 1)
    if not results.check("%s has workers running" % name, before, "none"):
        return
    with Load(server.port, 6, ORDINARY) as load:
        time.sleep(1.5)
        victim = server.workers()[0]
        os.kill(victim, signal.SIGKILL)
        killed_at = time.time()
        time.sleep(2.5)
    after = wait_for_workers(server, len(before))
    # The request the killed worker was drawing, if any, is lost with it;
    # no other.
    lost = [f for f in load.failures if abs(f[0] - killed_at) < 2]
    results.check("%s: a worker killed under load (%d requests) loses no "
                  "other request" % (name, len(load.statuses)),
                  len(load.failures) <= 1 and len(lost) == len(load.failures)
                  and len(load.statuses) > 50,
                  "failures %r" % load.failures[:5])
    results.check("%s: the killed worker is replaced" % name,
                  victim not in after and len(after) >= len(before),
                  "before %r, after %r" % (before, after))


def stalled_post(port):
    """Opens a POST that announces a body and never sends it; the socket,
    for the caller to close."""
    connection = socket.create_connection(("127.0.0.1", port), timeout=10)
    connection.sendall(b"POST " + CGI_PATH.encode() + b" HTTP/1.1\r\n"
                       b"Host: 127.0.0.1\r\nContent-Length: 100\r\n"
                       b"Content-Type: application/x-www-form-urlencoded\r\n"
                       b"\r\ndata=1")
    return connection


def check_hostile_in_load(results, server):
    name = server.name
    costly = []

    def send_costly():
        for query in COSTLIEST:
            try:
                costly.append(http_request(server.port, "GET",
                                           CGI_PATH + "?" + query)[0])
            except (OSError, http.client.HTTPException) as e:
                costly.append(repr(e))

    with Load(server.port, 4, ORDINARY) as load:
        stalled = [stalled_post(server.port) for _ in range(2)]
        hostile = threading.Thread(target=send_costly)
        hostile.start()
        hostile.join(timeout=120)
        time.sleep(1)
    for connection in stalled:
        connection.close()
    results.check("%s: with the costliest requests and stalled POSTs mixed "
                  "in, all %d ordinary requests are answered" %
                  (name, len(load.statuses)),
                  not load.failures and len(load.statuses) > 20,
                  "failures %r" % load.failures[:5])
    results.check("%s: the costliest requests are answered" % name,
                  costly == [200] * len(COSTLIEST), repr(costly))


# --- Servers ------------------------------------------------------------------

SERVERS = [fastcgi_servers.NginxFastCgi, fastcgi_servers.LighttpdFastCgi,
           fastcgi_servers.ApacheFcgid, fastcgi_servers.ApacheProxyFcgi,
           fastcgi_servers.NginxSpawnFcgi]


def check_server(results, server_class, cgi, out):
    folder = os.path.join(out, server_class.name)
    images = os.path.join(out, "images")
    os.makedirs(images, exist_ok=True)
    try:
        with server_class(folder, cgi) as server:
            print("== %s on 127.0.0.1:%d" % (server.name, server.port))
            run_server_tests.check_image_types(results, server, cgi, images)
            run_server_tests.check_pages(results, server, cgi)
            check_killed_worker(results, server)
            check_hostile_in_load(results, server)
    except (RuntimeError, OSError) as e:
        results.check("%s starts and serves" % server_class.name, False,
                      str(e))


def check_units(results, cgi):
    """systemd's own check of the units, with the program where they say."""
    if not os.path.exists("/usr/bin/systemd-analyze"):
        return
    folder = tempfile.mkdtemp(prefix="strixel-units-")
    try:
        for name in ("strixel-fastcgi.socket", "strixel-fastcgi.service"):
            with open(os.path.join(fastcgi_servers.UNITS, name)) as f:
                text = f.read().replace(fastcgi_servers.PROGRAM, cgi)
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
        done = subprocess.run(
            ["systemd-analyze", "verify",
             os.path.join(folder, "strixel-fastcgi.socket"),
             os.path.join(folder, "strixel-fastcgi.service")],
            capture_output=True, text=True, timeout=60)
        results.check("systemd-analyze verify accepts the units",
                      done.returncode == 0 and not done.stderr.strip(),
                      done.stderr[-400:])
    finally:
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))
        os.rmdir(folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--requests", type=int, default=600)
    parser.add_argument("--only", default="",
                        help="comma-separated server names")
    args = parser.parse_args()
    cgi = os.path.abspath(args.cgi)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    results = Results()
    check_units(results, cgi)
    if not args.only:
        check_carry_over(results, cgi, out, args.requests)
    for server_class in SERVERS:
        if args.only and server_class.name not in args.only.split(","):
            continue
        check_server(results, server_class, cgi, out)
    return results.finish("fastcgi")


if __name__ == "__main__":
    sys.exit(main())
