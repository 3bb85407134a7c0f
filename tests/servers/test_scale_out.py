"""nginx as load balancer and cache in front of two lighttpd CGI hosts.

nginx is configured with the snippet of docs/scale-out.md, the two hosts
with README.md's lighttpd snippet, all on free loopback ports. Checked: a
repeated GET is answered by the cache (MISS, then HIT, and the hosts' access
logs see it once) with the pixels the program draws; a POST, a failed
debug=1 request's error page and the help page are never cached; under
wrk load no request fails while one host is stopped mid-run; during a wrk
run of one repeated request the hosts see at most one request.
The requests per second of each run are printed, not checked: they depend
on the machine. The load tests run in the order written: the one that
stops a host comes after those that need both.

Options: --cgi PATH --out FOLDER [--seconds N]
"""

import os
import re
import subprocess
import sys
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import readme_snippets  # noqa: E402
import web_servers  # noqa: E402
from server_checks import http_request  # noqa: E402
from strixel_cgi import PNG_HEADER, Png, run_cgi  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402

DOC = os.path.join(os.path.dirname(os.path.dirname(HERE)), "docs",
                   "scale-out.md")
QUERY = "btype=7&data=STRIXEL-1234"
# EAN-13 takes digits only: the program fails, and with debug says why.
FAILING_DEBUG_QUERY = "btype=11&data=ABC&debug=1"

# Each request of a run asks for a barcode of its own (so no cache can
# answer it), half of them by POST when the script's second argument is
# "mixed"; done() prints the counts for the test to read.
WRK_SCRIPT = """
local thread_count = 0
function setup(thread)
  thread:set("id", thread_count)
  thread_count = thread_count + 1
end
function init(args)
  tag = args[1]
  mixed = args[2] == "mixed"
  counter = 0
end
function request()
  counter = counter + 1
  local data = "data=" .. tag .. "-" .. id .. "-" .. counter
  if mixed and counter % 2 == 0 then
    return wrk.format("POST", wrk.path,
      {["Content-Type"] = "application/x-www-form-urlencoded"}, data)
  end
  return wrk.format("GET", wrk.path .. "?" .. data)
end
function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    "RESULT requests=%d duration=%d connect=%d read=%d write=%d " ..
    "status=%d timeout=%d\\n", summary.requests, summary.duration,
    e.connect, e.read, e.write, e.status, e.timeout))
end
"""


class Host(web_servers.Lighttpd):
    """A CGI host: README's lighttpd snippet."""


class Balancer(web_servers.Server):
    """nginx with the snippet of docs/scale-out.md."""

    name = "balancer"

    def __init__(self, folder, cgi, hosts):
        super().__init__(folder, cgi)
        self.hosts = hosts

    def start(self):
        temp = os.path.join(self.folder, "temp")
        cache = os.path.join(self.folder, "cache")
        os.makedirs(temp)
        text = readme_snippets.snippet("scale-out", DOC)
        text = readme_snippets.substitute(text, "scale-out", [
            ("/var/lib/nginx/strixel", cache),
            ("127.0.0.1:8081", "127.0.0.1:%d" % self.hosts[0].port),
            ("127.0.0.1:8082", "127.0.0.1:%d" % self.hosts[1].port),
            ("listen 80 default_server;",
             "listen 127.0.0.1:%d default_server;" % self.port),
            ("listen [::]:80 default_server;", "")])
        conf = self.write("nginx.conf", """\
daemon off;
master_process off;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
events {{ worker_connections 256; }}
http {{
    # Which host each request went to ("-" when the cache answered);
    # unbuffered, so it can be counted at once.
    log_format hosts "$upstream_addr $request_uri";
    access_log {folder}/access.log hosts;
{temp_paths}
    # docs/scale-out.md:
{snippet}
}}
""".format(folder=self.folder,
           temp_paths=web_servers.nginx_temp_paths(temp),
           snippet=text))
        argv = ["nginx", "-p", self.folder, "-c", conf, "-e",
                os.path.join(self.folder, "error.log")]
        check = subprocess.run(argv + ["-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("nginx rejects its configuration: " +
                               check.stderr)
        process = self.spawn(argv, "nginx.out")
        web_servers.wait_for_port(self.port, process)

    def sent_to(self, host=None, query=None):
        """How many requests (of the query, if given) went to a host (to
        that one, if given)."""
        address = "127.0.0.1:%d" % host.port if host else "127.0.0.1:"

        def count():
            with open(os.path.join(self.folder, "access.log")) as f:
                return sum(1 for line in f if address in line and (
                    query is None or line.endswith("?" + query + "\n")))
        # nginx logs a request after its answer has gone out, so a client
        # can read the log before the line of its last request is in it:
        # count until two looks a moment apart agree.
        seen = count()
        for _ in range(20):
            time.sleep(0.1)
            again = count()
            if again == seen:
                break
            seen = again
        return seen


def sent_since(balancer, before, expected, seconds=5):
    """How many requests went to the hosts since `before` were counted,
    once nginx has logged the expected number: it writes a request's line
    after the answer, so the log may lag the answers by a moment."""
    deadline = time.monotonic() + seconds
    while (balancer.sent_to() - before < expected and
           time.monotonic() < deadline):
        time.sleep(0.05)
    return balancer.sent_to() - before


def request(port, method, path, body=None):
    """Status, content type, X-Cache-Status and body of one request."""
    return http_request(port, method, path, body, header="X-Cache-Status")


@pytest.fixture(scope="module")
def hosts(cgi, out):
    with Host(os.path.join(out, "host-a"), cgi) as a, \
            Host(os.path.join(out, "host-b"), cgi) as b:
        yield [a, b]


@pytest.fixture(scope="module")
def balancer(cgi, out, hosts):
    with Balancer(os.path.join(out, "balancer"), cgi, hosts) as balancer:
        yield balancer


@pytest.fixture(scope="module")
def repeated_get(cgi, balancer):
    """The same GET twice through the balancer: the image the program
    draws, the answers, and how many requests reached the hosts."""
    direct = run_cgi(cgi, {"method": "GET", "query": QUERY.encode()})
    drawn = Png(direct.output[len(PNG_HEADER):])
    before = balancer.sent_to()
    answers = [request(balancer.port, "GET", CGI_PATH + "?" + QUERY)
               for _ in range(2)]
    return drawn, answers, sent_since(balancer, before, 1)


@pytest.mark.parametrize("n", [0, 1], ids=["first", "repeated"])
def test_get_through_the_balancer_draws_as_the_program(repeated_get, n):
    drawn, answers, _ = repeated_get
    status, ctype, cache, body = answers[n]
    assert (status, ctype) == (200, "image/png"), cache
    assert (Png(body).raster, Png(body).width) == (drawn.raster, drawn.width)


def test_a_repeated_get_is_a_miss_then_a_hit_one_request_to_the_hosts(
        repeated_get):
    _, answers, sent = repeated_get
    assert [cache for _, _, cache, _ in answers] == ["MISS", "HIT"]
    assert sent == 1


# Answers with 200 that are no image: a failed request's debug page and the
# help page. Each must reach a host every time.
@pytest.mark.parametrize("query", [FAILING_DEBUG_QUERY, "help=1"],
                         ids=["a-failed-debug-request", "the-help-page"])
def test_never_cached_both_reach_a_host(balancer, query):
    before = balancer.sent_to()
    answers = [request(balancer.port, "GET", CGI_PATH + "?" + query)[:3]
               for _ in range(2)]
    for status, ctype, cache in answers:
        assert status == 200 and ctype.startswith("text/html"), answers
        assert cache != "HIT", answers
    assert sent_since(balancer, before, 2) == 2


def test_a_post_is_never_cached_both_reach_a_host(balancer):
    before = balancer.sent_to()
    statuses = []
    for _ in range(2):
        status, ctype, cache, _ = request(balancer.port, "POST", CGI_PATH,
                                          QUERY.encode())
        statuses.append((status, ctype, cache))
    assert statuses == [(200, "image/png", "")] * 2
    assert sent_since(balancer, before, 2) == 2


def start_wrk(port, seconds, path, script, *script_args):
    argv = ["wrk", "-t2", "-c8", "-d%ds" % seconds, "--timeout", "10s",
            "-s", script, "http://127.0.0.1:%d%s" % (port, path), "--"]
    return subprocess.Popen(argv + list(script_args), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)


def wrk_result(process, seconds):
    output, _ = process.communicate(timeout=seconds + 60)
    match = re.search(r"RESULT (.*)", output)
    if not match:
        raise RuntimeError("wrk printed no result: " + output[-500:])
    result = {k: int(v) for k, v in
              (pair.split("=") for pair in match.group(1).split())}
    result["rate"] = result["requests"] * 1e6 / max(result["duration"], 1)
    result["failed"] = sum(result[k] for k in
                           ("connect", "read", "write", "status", "timeout"))
    return result


def describe(result):
    return ("%d requests, %.0f/s, failed: connect %d read %d write %d "
            "status %d timeout %d" %
            (result["requests"], result["rate"], result["connect"],
             result["read"], result["write"], result["status"],
             result["timeout"]))


# The requests per second of each load run, noted at the end.
RATES = {}


@pytest.fixture(scope="module")
def seconds(pytestconfig):
    return pytestconfig.getoption("seconds") or 4


@pytest.fixture(scope="module")
def scripts(out, note):
    """wrk's scripts: requests of their own, and wrk's own request
    repeated (only the counts of the script)."""
    script = os.path.join(out, "requests.lua")
    with open(script, "w") as f:
        f.write(WRK_SCRIPT)
    repeat = os.path.join(out, "repeat.lua")
    with open(repeat, "w") as f:
        f.write(WRK_SCRIPT[WRK_SCRIPT.index("function done"):])
    yield script, repeat
    for name, rate in RATES.items():
        note("requests per second, %s: %.0f" % (name, rate))
    if "cached" in RATES and RATES.get("uncached"):
        note("the cache answers %.0f times the uncached rate" %
             (RATES["cached"] / RATES["uncached"]))


def test_uncached_load_two_hosts_no_request_fails(balancer, scripts,
                                                  seconds):
    uncached = wrk_result(start_wrk(balancer.port, seconds, CGI_PATH,
                                    scripts[0], "a"), seconds)
    RATES["uncached"] = uncached["rate"]
    assert uncached["failed"] == 0 and uncached["requests"] > 0, \
        describe(uncached)


def test_a_repeated_request_under_load_is_answered_by_the_cache(
        balancer, scripts, seconds):
    # Requests of the run before may still be on their way: count only
    # this run's request.
    before = balancer.sent_to(query=QUERY)
    cached = wrk_result(start_wrk(balancer.port, seconds,
                                  CGI_PATH + "?" + QUERY, scripts[1]),
                        seconds)
    RATES["cached"] = cached["rate"]
    assert cached["failed"] == 0 and cached["requests"] > 0, \
        describe(cached)
    assert balancer.sent_to(query=QUERY) == before


@pytest.fixture(scope="module")
def failover(balancer, hosts, scripts, seconds):
    """A run twice as long, the second host stopped half way: its result
    and how many requests the stopped host had seen."""
    process = start_wrk(balancer.port, 2 * seconds, CGI_PATH, scripts[0],
                        "b", "mixed")
    time.sleep(seconds)
    stopped_at = balancer.sent_to(hosts[1])
    hosts[1].stop()
    result = wrk_result(process, 2 * seconds)
    RATES["one host stopped mid-run"] = result["rate"]
    return result, stopped_at


def test_a_host_stopped_under_get_and_post_load_no_request_fails(failover):
    result, stopped_at = failover
    assert result["failed"] == 0, describe(result)
    assert stopped_at > 0, "the stopped host had seen no request"


def test_uncached_load_one_host_down_no_request_fails(balancer, scripts,
                                                      seconds, failover):
    one = wrk_result(start_wrk(balancer.port, seconds, CGI_PATH,
                               scripts[0], "c"), seconds)
    RATES["one host down"] = one["rate"]
    assert one["failed"] == 0 and one["requests"] > 0, describe(one)
