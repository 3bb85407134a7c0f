#!/usr/bin/python3
"""nginx as load balancer and cache in front of two lighttpd CGI hosts.

nginx is configured with the snippet of docs/scale-out.md, the two hosts
with README.md's lighttpd snippet, all on free loopback ports. Checked: a
repeated GET is answered by the cache (MISS, then HIT, and the hosts' access
logs see it once) with the pixels the program draws; a POST, a failed
debug=1 request's error page and the help page are never cached; under
wrk load no request fails while one host is stopped mid-run; during a wrk
run of one repeated request the hosts see at most one request.
The requests per second of each run are printed, not checked: they depend
on the machine.

Usage: run_scale_out_tests.py --cgi PATH --out FOLDER [--seconds N]
"""

import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import readme_snippets  # noqa: E402
import web_servers  # noqa: E402
from run_server_tests import Results, http_request  # noqa: E402
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
        with open(os.path.join(self.folder, "access.log")) as f:
            return sum(1 for line in f if address in line and
                       (query is None or line.endswith("?" + query + "\n")))


def request(port, method, path, body=None):
    """Status, content type, X-Cache-Status and body of one request."""
    return http_request(port, method, path, body, header="X-Cache-Status")


def check_cache(results, balancer, cgi):
    direct = run_cgi(cgi, {"method": "GET", "query": QUERY.encode()})
    drawn = Png(direct.output[len(PNG_HEADER):])
    before = balancer.sent_to()
    statuses = []
    for _ in range(2):
        status, ctype, cache, body = request(balancer.port, "GET",
                                             CGI_PATH + "?" + QUERY)
        statuses.append(cache)
        same = status == 200 and ctype == "image/png" and (
            Png(body).raster, Png(body).width) == (drawn.raster, drawn.width)
        results.check("GET through the balancer (%s) draws as the program" %
                      cache, same, "%d %s" % (status, ctype))
    results.check("a repeated GET: MISS, then HIT, one request to the hosts",
                  statuses == ["MISS", "HIT"] and
                  balancer.sent_to() - before == 1,
                  "%r, hosts saw %d" % (statuses, balancer.sent_to() - before))
    # Answers with 200 that are no image: a failed request's debug page and
    # the help page. Each must reach a host every time.
    for label, query in (("a failed debug=1 request", FAILING_DEBUG_QUERY),
                         ("the help page", "help=1")):
        before = balancer.sent_to()
        answers = [request(balancer.port, "GET", CGI_PATH + "?" + query)[:3]
                   for _ in range(2)]
        results.check("%s is never cached: both reach a host" % label,
                      all(status == 200 and ctype.startswith("text/html") and
                          cache != "HIT" for status, ctype, cache in answers)
                      and balancer.sent_to() - before == 2,
                      "%r, hosts saw %d" % (answers,
                                            balancer.sent_to() - before))
    before = balancer.sent_to()
    statuses = []
    for _ in range(2):
        status, ctype, cache, _ = request(balancer.port, "POST", CGI_PATH,
                                          QUERY.encode())
        statuses.append((status, ctype, cache))
    results.check("a POST is never cached: both reach a host",
                  statuses == [(200, "image/png", "")] * 2 and
                  balancer.sent_to() - before == 2,
                  "%r, hosts saw %d" % (statuses, balancer.sent_to() - before))


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


def check_load(results, balancer, hosts, out, seconds):
    script = os.path.join(out, "requests.lua")
    with open(script, "w") as f:
        f.write(WRK_SCRIPT)
    # wrk's own request, repeated: only the counts of the script.
    repeat = os.path.join(out, "repeat.lua")
    with open(repeat, "w") as f:
        f.write(WRK_SCRIPT[WRK_SCRIPT.index("function done"):])
    port = balancer.port
    rates = {}

    uncached = wrk_result(start_wrk(port, seconds, CGI_PATH, script, "a"),
                          seconds)
    rates["uncached"] = uncached["rate"]
    results.check("uncached load, two hosts: no request fails",
                  uncached["failed"] == 0 and uncached["requests"] > 0,
                  describe(uncached))

    # Requests of the run before may still be on their way: count only
    # this run's request.
    before = balancer.sent_to(query=QUERY)
    cached = wrk_result(start_wrk(port, seconds, CGI_PATH + "?" + QUERY,
                                  repeat), seconds)
    rates["cached"] = cached["rate"]
    results.check("a repeated request under load: answered by the cache",
                  cached["failed"] == 0 and cached["requests"] > 0 and
                  balancer.sent_to(query=QUERY) == before,
                  "%s; hosts saw %d" % (describe(cached),
                                        balancer.sent_to(query=QUERY) -
                                        before))

    # Twice as long, and the second host stopped half way.
    process = start_wrk(port, 2 * seconds, CGI_PATH, script, "b", "mixed")
    time.sleep(seconds)
    stopped_at = balancer.sent_to(hosts[1])
    hosts[1].stop()
    failover = wrk_result(process, 2 * seconds)
    rates["one host stopped mid-run"] = failover["rate"]
    results.check("a host stopped under GET and POST load: no request fails",
                  failover["failed"] == 0 and stopped_at > 0,
                  "%s; the stopped host had seen %d" % (describe(failover),
                                                        stopped_at))

    one = wrk_result(start_wrk(port, seconds, CGI_PATH, script, "c"),
                     seconds)
    rates["one host down"] = one["rate"]
    results.check("uncached load, one host down: no request fails",
                  one["failed"] == 0 and one["requests"] > 0, describe(one))
    return rates


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seconds", type=int, default=4)
    args = parser.parse_args()
    cgi = os.path.abspath(args.cgi)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)

    results = Results()
    rates = {}
    try:
        with Host(os.path.join(out, "host-a"), cgi) as a, \
                Host(os.path.join(out, "host-b"), cgi) as b, \
                Balancer(os.path.join(out, "balancer"), cgi,
                         [a, b]) as balancer:
            check_cache(results, balancer, cgi)
            rates = check_load(results, balancer, [a, b], out, args.seconds)
    except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
        results.check("the balancer and its hosts start and serve", False,
                      str(e))
    for name, rate in rates.items():
        print("requests per second, %s: %.0f" % (name, rate))
    if "cached" in rates and rates.get("uncached"):
        print("the cache answers %.0f times the uncached rate" %
              (rates["cached"] / rates["uncached"]))
    return results.finish("scale-out")


if __name__ == "__main__":
    sys.exit(main())
