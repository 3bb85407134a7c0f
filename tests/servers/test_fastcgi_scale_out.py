"""nginx as load balancer and cache in front of two FastCGI hosts.

nginx is configured with the FastCGI snippet of docs/scale-out.md, each
host is the program's worker pool on a loopback TCP port started by the
document's spawn-fcgi lines. Checked: a repeated GET is answered by the
cache with the pixels the program draws; a POST is never cached; a request
the program fails is answered 502 after one host only, and leaves no host
out; under wrk load no request fails while one host is stopped mid-run.
The cache tests are those of test_scale_out.py, run against this balancer.

Options: --cgi PATH --out FOLDER [--seconds N]
"""

import os
import signal
import subprocess
import sys
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import fastcgi_servers  # noqa: E402
import readme_snippets  # noqa: E402
import test_scale_out as scale  # noqa: E402
import web_servers  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402
# The same cache tests, collected here again with this module's balancer.
from test_scale_out import (  # noqa: E402,F401
    repeated_get, test_a_post_is_never_cached_both_reach_a_host,
    test_a_repeated_get_is_a_miss_then_a_hit_one_request_to_the_hosts,
    test_get_through_the_balancer_draws_as_the_program,
    test_never_cached_both_reach_a_host)


class Host:
    """A worker pool on 127.0.0.1:port, by docs/scale-out.md's lines."""

    def __init__(self, folder, program):
        os.makedirs(folder, exist_ok=True)
        self.port = web_servers.free_loopback_port()
        self.pid_path = os.path.join(folder, "pool.pid")
        lines = readme_snippets.substitute(
            readme_snippets.snippet("fastcgi-host-without-systemd",
                                    scale.DOC),
            "fastcgi-host-without-systemd",
            [("FCGI_WEB_SERVER_ADDRS=10.0.0.10",
              "FCGI_WEB_SERVER_ADDRS=127.0.0.1"),
             ("-a 10.0.0.11 -p 9000", "-a 127.0.0.1 -p %d" % self.port),
             ("/run/strixel-fastcgi.pid", self.pid_path),
             (fastcgi_servers.PROGRAM, program)])
        done = subprocess.run(["bash", "-e", "-c", lines],
                              capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError("the host's spawn-fcgi lines fail: " +
                               done.stderr + done.stdout)
        with open(self.pid_path) as f:
            self.pid = int(f.read())

    def stop(self):
        if self.pid:
            try:
                os.kill(self.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            for _ in range(100):
                try:
                    os.kill(self.pid, 0)
                except ProcessLookupError:
                    break
                time.sleep(0.1)
            self.pid = None


class Balancer(scale.Balancer):
    def start(self):
        temp = os.path.join(self.folder, "temp")
        cache = os.path.join(self.folder, "cache")
        os.makedirs(temp)
        name = "scale-out-fastcgi"
        text = readme_snippets.substitute(
            readme_snippets.snippet(name, scale.DOC), name, [
                ("/var/lib/nginx/strixel-fastcgi", cache),
                ("10.0.0.11:9000", "127.0.0.1:%d" % self.hosts[0].port),
                ("10.0.0.12:9000", "127.0.0.1:%d" % self.hosts[1].port),
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
    log_format hosts "$upstream_addr $request_uri";
    access_log {folder}/access.log hosts;
{temp_paths}
    # docs/scale-out.md:
{snippet}
}}
""".format(folder=self.folder,
           temp_paths=web_servers.nginx_temp_paths(temp), snippet=text))
        argv = ["nginx", "-p", self.folder, "-c", conf, "-e",
                os.path.join(self.folder, "error.log")]
        check = subprocess.run(argv + ["-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("nginx rejects its configuration: " +
                               check.stderr)
        process = self.spawn(argv, "nginx.out")
        web_servers.wait_for_port(self.port, process)

    def last_upstreams(self):
        with open(os.path.join(self.folder, "access.log")) as f:
            return f.read().splitlines()[-1].split(" ")[0]


@pytest.fixture(scope="module")
def program():
    """The program copied where the hosts' unprivileged user reaches it."""
    root = fastcgi_servers.own_root()
    program = os.path.join(root, "strixel.cgi")
    yield program
    subprocess.run(["rm", "-rf", root])


@pytest.fixture(scope="module")
def hosts(cgi, out, program):
    subprocess.run(["cp", cgi, program], check=True)
    os.chmod(program, 0o755)
    started = []
    try:
        for i in (1, 2):
            started.append(Host(os.path.join(out, "host%d" % i), program))
        yield started
    finally:
        for host in started:
            host.stop()


@pytest.fixture(scope="module")
def balancer(cgi, out, hosts):
    with Balancer(os.path.join(out, "balancer"), cgi, hosts) as balancer:
        yield balancer


@pytest.fixture(scope="module")
def failed_request(balancer):
    """A request the program fails: its status and the hosts it went to."""
    query = "btype=11&data=abc"
    status, _, _, _ = scale.request(balancer.port, "GET",
                                    CGI_PATH + "?" + query)
    return status, balancer.last_upstreams()


def test_a_request_the_program_fails_is_502_from_one_host_only(
        failed_request):
    status, upstreams = failed_request
    assert status == 502
    assert "," not in upstreams, upstreams


def test_after_a_failed_request_both_hosts_still_get_requests(
        balancer, failed_request):
    seen = set()
    for n in range(6):
        scale.request(balancer.port, "GET", CGI_PATH + "?data=after%d" % n)
        seen.add(balancer.last_upstreams())
    assert len(seen) == 2, seen


def test_get_and_post_under_load_one_host_stopped_no_request_fails(
        pytestconfig, balancer, hosts, out, note):
    seconds = pytestconfig.getoption("seconds") or 6
    script = os.path.join(out, "requests.lua")
    with open(script, "w") as f:
        f.write(scale.WRK_SCRIPT)
    wrk = scale.start_wrk(balancer.port, seconds, CGI_PATH, script,
                          "fcgi", "mixed")
    time.sleep(seconds / 3)
    hosts[1].stop()
    result = scale.wrk_result(wrk, seconds)
    note("fastcgi load, one host stopped mid-run: " + scale.describe(result))
    assert result["failed"] == 0 and result["requests"] > 0, \
        scale.describe(result)
