#!/usr/bin/python3
"""nginx as load balancer and cache in front of two FastCGI hosts.

nginx is configured with the FastCGI snippet of docs/scale-out.md, each
host is the program's worker pool on a loopback TCP port started by the
document's spawn-fcgi lines. Checked: a repeated GET is answered by the
cache with the pixels the program draws; a POST is never cached; a request
the program fails is answered 502 after one host only, and leaves no host
out; under wrk load no request fails while one host is stopped mid-run.

Usage: run_fastcgi_scale_out.py --cgi PATH --out FOLDER [--seconds N]
"""

import argparse
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import fastcgi_servers  # noqa: E402
import readme_snippets  # noqa: E402
import run_scale_out_tests as scale  # noqa: E402
import web_servers  # noqa: E402
from run_server_tests import Results  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402


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
                ("/var/cache/nginx/strixel-fastcgi", cache),
                ("10.0.0.11:9000", "127.0.0.1:%d" % self.hosts[0].port),
                ("10.0.0.12:9000", "127.0.0.1:%d" % self.hosts[1].port),
                ("listen 80;", "listen 127.0.0.1:%d;" % self.port)])
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


def check_failure(results, balancer):
    query = "btype=11&data=abc"
    status, ctype, cache, body = scale.request(balancer.port, "GET",
                                               CGI_PATH + "?" + query)
    upstreams = balancer.last_upstreams()
    results.check("a request the program fails: 502 from one host only",
                  status == 502 and "," not in upstreams,
                  "%d, upstreams %s" % (status, upstreams))
    seen = set()
    for n in range(6):
        scale.request(balancer.port, "GET", CGI_PATH + "?data=after%d" % n)
        seen.add(balancer.last_upstreams())
    results.check("after it, both hosts still get requests", len(seen) == 2,
                  repr(seen))


def check_load(results, balancer, hosts, out, seconds):
    script = os.path.join(out, "requests.lua")
    with open(script, "w") as f:
        f.write(scale.WRK_SCRIPT)
    wrk = scale.start_wrk(balancer.port, seconds, CGI_PATH, script,
                          "fcgi", "mixed")
    time.sleep(seconds / 3)
    hosts[1].stop()
    result = scale.wrk_result(wrk, seconds)
    print("load, one host stopped mid-run: " + scale.describe(result))
    results.check("GET and POST under load, one host stopped mid-run: no "
                  "request fails", result["failed"] == 0 and
                  result["requests"] > 0, scale.describe(result))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seconds", type=int, default=6)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    results = Results()
    root = fastcgi_servers.own_root()
    program = os.path.join(root, "strixel.cgi")
    subprocess.run(["cp", os.path.abspath(args.cgi), program], check=True)
    os.chmod(program, 0o755)
    hosts = []
    try:
        hosts = [Host(os.path.join(out, "host%d" % i), program)
                 for i in (1, 2)]
        with Balancer(os.path.join(out, "balancer"), args.cgi,
                      hosts) as balancer:
            scale.check_cache(results, balancer, os.path.abspath(args.cgi))
            check_failure(results, balancer)
            check_load(results, balancer, hosts, out, args.seconds)
    except (RuntimeError, OSError) as e:
        results.check("balancer and FastCGI hosts start", False, str(e))
    finally:
        for host in hosts:
            host.stop()
        subprocess.run(["rm", "-rf", root])
    return results.finish("fastcgi scale-out")


if __name__ == "__main__":
    sys.exit(main())
