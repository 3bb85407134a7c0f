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
   page, the error pages, failures without debug, the length limit (the
   checks of server_checks.py, shared with the CGI servers).
3. Under load through each server: a worker killed in the middle (no other
   request fails, the worker is replaced), and hostile requests mixed in
   (the costliest requests, a POST whose body never comes): every ordinary
   request is answered.

Each server runs for the tests of its own parameter, then stops; -k with a
server's name (nginx-fastcgi, apache-fcgid, ...) runs one.

Options: --cgi PATH --out FOLDER [--requests N]
"""

import http.client
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import fastcgi_servers  # noqa: E402
from fastcgi_servers import CGI_FCGI, without_time_stamps  # noqa: E402
# The checks every server must pass, collected here with this module's
# servers.
from server_checks import (  # noqa: E402,F401
    http_request, test_failing_request_fails_directly,
    test_failing_request_with_debug_gets_the_error_page,
    test_failing_request_without_debug_gets_the_servers_answer,
    test_head_gets_the_servers_answer, test_help_page,
    test_over_long_request_gets_the_servers_answer,
    test_post_of_a_bare_help_draws_the_default,
    test_type_answers_200_image_png, test_type_png_as_drawn,
    test_type_zbar_reads_the_served_image,
    test_type_zxing_reads_the_served_image)
from strixel_cgi import TYPE_CASES  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402

# The costliest requests known (bench/hostile): a long text spread over a
# huge font, and a raster at the 64 MiB cap.
COSTLIEST = [
    "btype=7&xdim=1&talign=3&fh=350&h=570&data=" + "W" * 3558,
    "h=23&xdim=8841",
]


# --- The units ---------------------------------------------------------------

def test_systemd_analyze_verify_accepts_the_units(cgi):
    """systemd's own check of the units, with the program where they say."""
    if not os.path.exists("/usr/bin/systemd-analyze"):
        pytest.skip("no systemd-analyze")
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
    finally:
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))
        os.rmdir(folder)
    assert done.returncode == 0 and not done.stderr.strip(), \
        done.stderr[-400:]


# --- Carry-over --------------------------------------------------------------

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


@pytest.fixture(scope="module")
def carry_over(pytestconfig, cgi, out, note):
    """Requests in a shuffled order through a pool of two workers against a
    fresh CGI process each: the requests that differ, the fresh answers'
    exit codes counted, how many fresh answers are SVG documents, and how
    many requests there were, and how many distinct."""
    count = pytestconfig.getoption("requests")
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
    note("carry-over: %d requests (%d distinct; codes %s, %d SVG)" %
         (len(order), len(fresh), sorted(codes.items()), svgs))
    return differing, codes, svgs, count


def test_carry_over_every_answer_as_by_a_fresh_cgi_process(carry_over):
    differing = carry_over[0]
    assert not differing, "%d differ, first: %r" % (len(differing),
                                                     differing[:1])


def test_carry_over_set_has_images_svg_documents_pages_and_failures(
        carry_over):
    _, codes, svgs, count = carry_over
    assert len(codes) >= 4, codes
    assert codes.get(0, 0) > count // 4, codes
    assert svgs > count // 10, "%d SVG" % svgs


# --- Servers -----------------------------------------------------------------

SERVERS = [fastcgi_servers.NginxFastCgi, fastcgi_servers.LighttpdFastCgi,
           fastcgi_servers.ApacheFcgid, fastcgi_servers.ApacheProxyFcgi,
           fastcgi_servers.NginxSpawnFcgi]


@pytest.fixture(scope="module", params=SERVERS, ids=lambda c: c.name)
def server(request, cgi, out):
    with request.param(os.path.join(out, request.param.name), cgi) as server:
        yield server


@pytest.fixture(scope="module")
def images(out):
    folder = os.path.join(out, "images")
    os.makedirs(folder, exist_ok=True)
    return folder


# --- Load --------------------------------------------------------------------

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


def test_workers_are_running(server):
    assert wait_for_workers(server, 1), "none"


@pytest.fixture(scope="module")
def killed_worker(server):
    """A worker killed under load: the workers before and after, the one
    killed, the load's statuses and its failures near the killing and in
    all."""
    before = wait_for_workers(server, 1)
    assert before, "no workers running"
    with Load(server.port, 6, ORDINARY) as load:
        time.sleep(1.5)
        victim = server.workers()[0]
        os.kill(victim, signal.SIGKILL)
        killed_at = time.time()
        time.sleep(2.5)
    after = wait_for_workers(server, len(before))
    lost = [f for f in load.failures if abs(f[0] - killed_at) < 2]
    return before, after, victim, load, lost


def test_a_worker_killed_under_load_loses_no_other_request(killed_worker):
    # The request the killed worker was drawing, if any, is lost with it;
    # no other.
    _, _, _, load, lost = killed_worker
    assert len(load.failures) <= 1, load.failures[:5]
    assert len(lost) == len(load.failures), load.failures[:5]
    assert len(load.statuses) > 50, "%d requests" % len(load.statuses)


def test_the_killed_worker_is_replaced(killed_worker):
    before, after, victim, _, _ = killed_worker
    assert victim not in after and len(after) >= len(before), \
        "before %r, after %r" % (before, after)


def stalled_post(port):
    """Opens a POST that announces a body and never sends it; the socket,
    for the caller to close."""
    connection = socket.create_connection(("127.0.0.1", port), timeout=10)
    connection.sendall(b"POST " + CGI_PATH.encode() + b" HTTP/1.1\r\n"
                       b"Host: 127.0.0.1\r\nContent-Length: 100\r\n"
                       b"Content-Type: application/x-www-form-urlencoded\r\n"
                       b"\r\ndata=1")
    return connection


@pytest.fixture(scope="module")
def hostile_in_load(server, killed_worker):
    """Ordinary load with the costliest requests and stalled POSTs mixed
    in (after the killed worker, on a full pool again): the load, and the
    statuses of the costliest requests."""
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
    return load, costly


def test_with_hostile_requests_mixed_in_every_ordinary_one_is_answered(
        hostile_in_load):
    load = hostile_in_load[0]
    assert not load.failures, load.failures[:5]
    assert len(load.statuses) > 20, "%d requests" % len(load.statuses)


def test_the_costliest_requests_are_answered(hostile_in_load):
    costly = hostile_in_load[1]
    assert costly == [200] * len(COSTLIEST)
