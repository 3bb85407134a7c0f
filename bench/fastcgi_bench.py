"""Part g of bench/run: the FastCGI mode side by side with CGI.

  g1. requests per second of the default and the EAN-13 request through
      lighttpd + mod_cgi, nginx + the program's FastCGI worker pool and
      lighttpd + mod_fastcgi, taking turns (wrk on 127.0.0.1);
  g2. CPU time per request in each, of the program (for mod_cgi every
      process from fork to exit, read from lighttpd's reaped children) and
      of the web server;
  g3. an idle worker's resident memory after the default request and after
      each of the costliest requests;
  g4. 64 concurrent costliest requests through nginx + the worker pool: how
      many are answered, in what time, and the workers' peak resident
      memory together.
"""

import os
import re
import socket
import statistics
import subprocess
import threading
import time
import http.client

WORKERS = 4
# wrk turns per server and request, alternating between the servers so
# that a change of the machine's load falls on all; the median counts.
TURNS = 6
CGI_PATH = "/cgi-bin/strixel.cgi"
# The costliest requests known (bench/hostile): a long text spread over a
# huge font (CPU), and a raster at the 64 MiB cap (memory).
COSTLIEST = [
    ("spread text", "btype=7&xdim=1&talign=3&fh=350&h=570&data=" + "W" * 3558),
    ("raster cap", "h=23&xdim=8841"),
]
TICK = os.sysconf("SC_CLK_TCK")


def log(message):
    print(message, file=os.sys.stderr, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid, children=False):
    """utime + stime of a process (with children: of its reaped children)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    first = 13 if children else 11
    return (int(fields[first]) + int(fields[first + 1])) / TICK


def rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def processes_of(program):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink("/proc/%s/exe" % entry) == program:
                    found.append(int(entry))
            except OSError:
                pass
    return found


def wait_for(url_port, process, what):
    for _ in range(200):
        if process.poll() is not None:
            raise RuntimeError("%s exited" % what)
        try:
            with socket.create_connection(("127.0.0.1", url_port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("%s does not listen" % what)


class Servers:
    """lighttpd + mod_cgi, lighttpd + mod_fastcgi and nginx + the pool, each
    with its own copy of the program so that its processes can be told
    apart."""

    def __init__(self, program, out):
        self.out = os.path.join(out, "fastcgi")
        os.makedirs(self.out, exist_ok=True)
        self.processes = []
        self.copies = {}
        for name in ("cgi", "lighttpd-fastcgi", "pool"):
            copy = os.path.join(self.out, "strixel-%s.cgi" % name)
            subprocess.run(["cp", program, copy], check=True)
            self.copies[name] = copy

    def spawn(self, argv, **kwargs):
        process = subprocess.Popen(argv, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def start(self):
        self.ports = {}
        # lighttpd + mod_cgi
        port = free_port()
        conf = os.path.join(self.out, "lighttpd-cgi.conf")
        with open(conf, "w") as f:
            f.write('server.modules = ("mod_alias", "mod_cgi")\n'
                    'server.bind = "127.0.0.1"\nserver.port = %d\n'
                    'server.document-root = "%s"\nserver.max-connections = 256\n'
                    'alias.url = ("%s" => "%s")\ncgi.assign = (".cgi" => "")\n'
                    % (port, self.out, CGI_PATH, self.copies["cgi"]))
        self.cgi_server = self.spawn(["lighttpd", "-D", "-f", conf])
        wait_for(port, self.cgi_server, "lighttpd + mod_cgi")
        self.ports["lighttpd + mod_cgi"] = port
        # lighttpd + mod_fastcgi
        port = free_port()
        conf = os.path.join(self.out, "lighttpd-fastcgi.conf")
        with open(conf, "w") as f:
            f.write('server.modules = ("mod_fastcgi")\n'
                    'server.bind = "127.0.0.1"\nserver.port = %d\n'
                    'server.document-root = "%s"\nserver.max-connections = 256\n'
                    'fastcgi.server = ("%s" => (("socket" => "%s", '
                    '"bin-path" => "%s", "max-procs" => %d, '
                    '"check-local" => "disable")))\n'
                    % (port, self.out, CGI_PATH,
                       os.path.join(self.out, "lighttpd.sock"),
                       self.copies["lighttpd-fastcgi"], WORKERS))
        self.fastcgi_lighttpd = self.spawn(["lighttpd", "-D", "-f", conf])
        wait_for(port, self.fastcgi_lighttpd, "lighttpd + mod_fastcgi")
        self.ports["lighttpd + mod_fastcgi"] = port
        # the pool, and nginx in front of it
        path = os.path.join(self.out, "pool.sock")
        if os.path.exists(path):
            os.unlink(path)
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(path)
        listener.listen(256)
        self.pool = self.spawn([self.copies["pool"]], stdin=listener.fileno(),
                               env={"STRIXEL_FASTCGI_WORKERS": str(WORKERS)})
        listener.close()
        port = free_port()
        temp = os.path.join(self.out, "nginx-temp")
        os.makedirs(temp, exist_ok=True)
        conf = os.path.join(self.out, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""daemon off;
master_process off;
pid %(out)s/nginx.pid;
error_log %(out)s/nginx-error.log;
events { worker_connections 512; }
http {
    access_log off;
    client_body_temp_path %(temp)s/body;
    fastcgi_temp_path %(temp)s/fastcgi;
    proxy_temp_path %(temp)s/proxy;
    uwsgi_temp_path %(temp)s/uwsgi;
    scgi_temp_path %(temp)s/scgi;
    server {
        listen 127.0.0.1:%(port)d;
        location = %(path)s {
            include /etc/nginx/fastcgi_params;
            fastcgi_pass unix:%(socket)s;
            fastcgi_read_timeout 300s;
        }
    }
}
""" % {"out": self.out, "temp": temp, "port": port, "path": CGI_PATH,
                "socket": path})
        self.nginx = self.spawn(["nginx", "-p", self.out, "-c", conf])
        wait_for(port, self.nginx, "nginx")
        self.ports["nginx + FastCGI"] = port

    def program_cpu(self, name):
        """CPU seconds the program has used so far behind server name."""
        if name == "lighttpd + mod_cgi":
            return cpu_seconds(self.cgi_server.pid, children=True)
        copy = self.copies["pool" if name == "nginx + FastCGI"
                           else "lighttpd-fastcgi"]
        return sum(cpu_seconds(p) for p in processes_of(copy))

    def server_cpu(self, name):
        process = {"lighttpd + mod_cgi": self.cgi_server,
                   "lighttpd + mod_fastcgi": self.fastcgi_lighttpd,
                   "nginx + FastCGI": self.nginx}[name]
        return cpu_seconds(process.pid)

    def workers(self):
        return [p for p in processes_of(self.copies["pool"])
                if p != self.pool.pid]

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def wrk(port, query, seconds):
    """(requests per second, requests) of one wrk turn."""
    url = "http://127.0.0.1:%d%s?%s" % (port, CGI_PATH, query)
    text = subprocess.run(["wrk", "-t1", "-c4", "-d%ds" % seconds,
                           "--timeout", "10s", url], stdout=subprocess.PIPE,
                          check=True, universal_newlines=True).stdout
    rate = re.search(r"Requests/sec:\s*([0-9.]+)", text)
    total = re.search(r"([0-9]+) requests in", text)
    if "Non-2xx" in text or not rate or not total:
        raise RuntimeError("wrk reported failed requests for %s:\n%s" %
                           (url, text))
    return float(rate.group(1)), int(total.group(1))


def measure_rps(servers, requests, seconds):
    rows = []
    for name, query in requests:
        log("g1. requests per second: %s" % name)
        rates = {s: [] for s in servers.ports}
        program = {s: 0.0 for s in servers.ports}
        server = {s: 0.0 for s in servers.ports}
        count = {s: 0 for s in servers.ports}
        turn = max(2, seconds // 4)
        for _ in range(TURNS):
            for s, port in servers.ports.items():
                p0, s0 = servers.program_cpu(s), servers.server_cpu(s)
                rate, total = wrk(port, query, turn)
                rates[s].append(rate)
                program[s] += servers.program_cpu(s) - p0
                server[s] += servers.server_cpu(s) - s0
                count[s] += total
        rows.append({"name": name,
                     "rps": {s: statistics.median(v)
                             for s, v in rates.items()},
                     "program_ms": {s: 1000 * program[s] / count[s]
                                    for s in count},
                     "server_ms": {s: 1000 * server[s] / count[s]
                                   for s in count}})
    return rows


def fastcgi_get(socket_path, query):
    done = subprocess.run(["cgi-fcgi", "-bind", "-connect", socket_path],
                          env={"REQUEST_METHOD": "GET", "QUERY_STRING": query},
                          stdout=subprocess.PIPE)
    return done.returncode


def measure_idle_rss(program, out):
    """An idle worker's RSS after the default request, after each costliest
    request, and after the default request again."""
    log("g3. idle worker memory")
    path = os.path.join(out, "fastcgi", "rss.sock")
    if os.path.exists(path):
        os.unlink(path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(8)
    worker = subprocess.Popen([program], stdin=listener.fileno(), env={})
    listener.close()
    rows = []
    try:
        for name, query in [("default", "")] + COSTLIEST + [
                ("default again", "")]:
            code = fastcgi_get(path, query)
            time.sleep(0.2)
            rows.append((name, code, rss_kib(worker.pid)))
    finally:
        worker.terminate()
        worker.wait(timeout=20)
    return rows


def measure_overload(servers, count=64):
    """count concurrent costliest requests through nginx + the pool."""
    log("g4. %d concurrent costliest requests" % count)
    port = servers.ports["nginx + FastCGI"]
    statuses = []
    lock = threading.Lock()
    peak = [0]
    done = threading.Event()

    def sample():
        while not done.is_set():
            total = sum(rss_kib(p) for p in servers.workers())
            peak[0] = max(peak[0], total)
            time.sleep(0.02)

    def send(query):
        try:
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=300)
            c.request("GET", CGI_PATH + "?" + query)
            r = c.getresponse()
            body = r.read()
            ok = r.status == 200 and body[:8] == b"\x89PNG\r\n\x1a\n"
            result = r.status if ok else "%d, %d bytes" % (r.status, len(body))
        except (OSError, http.client.HTTPException) as e:
            result = repr(e)
        with lock:
            statuses.append(result)

    sampler = threading.Thread(target=sample)
    sampler.start()
    threads = [threading.Thread(target=send, args=(COSTLIEST[i % 2][1],))
               for i in range(count)]
    start = time.time()
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=600)
    seconds = time.time() - start
    done.set()
    sampler.join()
    # One request's peak, for the bound: a fresh process per request kind.
    return {"count": count, "answered": statuses.count(200),
            "others": [s for s in statuses if s != 200][:5],
            "seconds": seconds, "peak_kib": peak[0]}


def one_request_peak(program, wrapper):
    """The peak RSS of one costliest request in a CGI process."""
    peaks = []
    for _, query in COSTLIEST:
        env = {"REQUEST_METHOD": "GET", "QUERY_STRING": query}
        done = subprocess.run([wrapper, program], env=env,
                              stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, universal_newlines=True)
        numbers = re.findall(r"[0-9]+", done.stderr)
        peaks.append(int(numbers[-1]) if numbers else 0)
    return max(peaks)


def measure(program, out, requests, seconds, wrapper):
    servers = Servers(program, out)
    try:
        servers.start()
        rps = measure_rps(servers, requests, seconds)
        overload = measure_overload(servers)
    finally:
        servers.stop()
    idle = measure_idle_rss(program, out)
    overload["one_kib"] = one_request_peak(program, wrapper)
    return {"rps": rps, "idle": idle, "overload": overload,
            "servers": list(servers.ports)}


def report(e):
    names = e["servers"]
    lines = ["### g. FastCGI side by side with CGI", "",
             "g1. Requests per second (wrk, 1 thread, 4 connections, "
             "127.0.0.1, median of %d alternating turns; %d workers for "
             "either FastCGI server):" % (TURNS, WORKERS), "",
             "| Request | " + " | ".join(names) +
             " | nginx / mod_cgi | mod_fastcgi / mod_cgi |",
             "|---|" + "---|" * (len(names) + 2)]
    for row in e["rps"]:
        r = row["rps"]
        lines.append("| %s | %s | %.2f | %.2f |" % (
            row["name"], " | ".join("%.0f" % r[n] for n in names),
            r["nginx + FastCGI"] / r["lighttpd + mod_cgi"],
            r["lighttpd + mod_fastcgi"] / r["lighttpd + mod_cgi"]))
    lines += ["", "Target: at least 3 times the requests per second of "
              "lighttpd + mod_cgi.", "",
              "g2. CPU time per request during those turns: the program "
              "(with mod_cgi every process from fork to exit, from "
              "lighttpd's reaped children; with FastCGI the workers) and "
              "the web server's own process:", "",
              "| Request | " + " | ".join("%s: program | %s: server" % (n, n)
                                         for n in names) + " |",
              "|---|" + "---|---|" * len(names)]
    for row in e["rps"]:
        lines.append("| %s | %s |" % (row["name"], " | ".join(
            "%.3f ms | %.3f ms" % (row["program_ms"][n], row["server_ms"][n])
            for n in names)))
    lines += ["", "g3. Resident memory of an idle FastCGI worker after each "
              "request (target: after the costliest within 2 MB of after "
              "the default):", "", "| After | Exit status | RSS |",
              "|---|---|---|"]
    for name, code, kib in e["idle"]:
        lines.append("| %s | %d | %d KiB |" % (name, code, kib))
    o = e["overload"]
    lines += ["", "g4. %d concurrent costliest requests (half each of %s) "
              "through nginx + FastCGI, %d workers: %d answered with an "
              "image in %.1f s%s; the workers' peak resident memory together "
              "%.1f MiB (%d workers x one request's peak of %.1f MiB = %.1f "
              "MiB)." % (o["count"], " and ".join(n for n, _ in COSTLIEST),
                         WORKERS, o["answered"], o["seconds"],
                         "" if not o["others"] else
                         " (others: %r)" % o["others"],
                         o["peak_kib"] / 1024, WORKERS, o["one_kib"] / 1024,
                         WORKERS * o["one_kib"] / 1024), ""]
    return lines
