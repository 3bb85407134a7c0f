"""Real web servers serving the program's FastCGI mode on a loopback port.

Each server is configured with README.md's FastCGI snippet for it, at the
same /cgi-bin/strixel.cgi as the CGI servers of web_servers.py:

  lighttpd       mod_fastcgi, which starts and replaces the workers itself;
  apache-fcgid   Apache with mod_fcgid, which does the same;
  nginx          fastcgi_pass to the program's own worker pool, started
                 the way the systemd units in systemd/ start it (or by the
                 README's spawn-fcgi lines);
  apache-proxy   Apache with mod_proxy_fcgi to that pool (which README.md
                 advises against: see test_fastcgi.py).

Everything listens on 127.0.0.1 or on sockets in the server's folder, runs
as a child of the test and is stopped by its process id.
"""

import configparser
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

import readme_snippets
import web_servers
from web_servers import Server, nginx_temp_paths, wait_for_port

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
UNITS = os.path.join(ROOT, "systemd")
PROGRAM = readme_snippets.CGI_FOLDER + "/strixel.cgi"
POOL_SOCKET = "/run/strixel/fastcgi.socket"
POOL_PID = "/run/strixel/fastcgi.pid"
# Sends one CGI request, from its environment and standard input, to a
# FastCGI socket.
CGI_FCGI = "/usr/bin/cgi-fcgi"


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


def unit(name):
    """A systemd unit file as {section: {key: value}} (last value wins)."""
    parser = configparser.ConfigParser(strict=False, interpolation=None)
    parser.optionxform = str
    parser.read(os.path.join(UNITS, name))
    return {s: dict(parser[s]) for s in parser.sections()}


def processes_of(program):
    """The process ids running the executable at path program."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink("/proc/%s/exe" % entry) == program:
                    found.append(int(entry))
            except OSError:
                pass
    return sorted(found)


def wait_for_socket(path, seconds=20):
    for _ in range(int(seconds * 10)):
        if os.path.exists(path):
            return
        time.sleep(0.1)
    raise RuntimeError("no socket at " + path)


def own_root():
    """A folder that the unprivileged users of the servers can reach."""
    folder = tempfile.mkdtemp(prefix="strixel-fcgi-")
    os.chmod(folder, 0o755)
    return folder


class WorkerPool:
    """The program's own worker pool on a Unix socket, started as the
    systemd units start it: their listening socket as standard input,
    their ExecStart and their Environment lines."""

    def __init__(self, server, program, socket_path):
        socket_unit = unit("strixel-fastcgi.socket")
        service = unit("strixel-fastcgi.service")
        if socket_unit["Socket"]["ListenStream"] != POOL_SOCKET:
            raise RuntimeError("the socket unit no longer listens on " +
                               POOL_SOCKET)
        if service["Service"]["ExecStart"] != PROGRAM:
            raise RuntimeError("the service unit no longer starts " + PROGRAM)
        if service["Service"].get("StandardInput") != "socket":
            raise RuntimeError("the service unit does not hand its socket "
                               "over as standard input")
        env = {"PATH": "/usr/bin:/bin"}
        name, value = service["Service"]["Environment"].split("=", 1)
        env[name] = value
        self.workers = int(env.get("STRIXEL_FASTCGI_WORKERS", "0"))
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(socket_path)
        os.chmod(socket_path, 0o666)
        listener.listen(int(socket_unit["Socket"].get("Backlog", "128")))
        log = open(os.path.join(server.folder, "pool.out"), "wb")
        self.process = subprocess.Popen([program], stdin=listener.fileno(),
                                        stdout=log, stderr=subprocess.STDOUT,
                                        env=env, start_new_session=True)
        log.close()
        listener.close()
        server.processes.append(self.process)
        self.pid = self.process.pid


class SpawnFcgiPool:
    """The pool started by README.md's spawn-fcgi lines."""

    def __init__(self, server, program, socket_path):
        folder = os.path.dirname(socket_path)
        pid_path = os.path.join(folder, "fastcgi.pid")
        lines = readme_snippets.substitute(
            readme_snippets.snippet("fastcgi-without-systemd"),
            "fastcgi-without-systemd",
            [("apt-get install spawn-fcgi", "true"),
             ("mkdir -p /run/strixel", "mkdir -p " + folder),
             (POOL_SOCKET, socket_path), (POOL_PID, pid_path),
             (PROGRAM, program)])
        done = subprocess.run(["bash", "-e", "-c", lines],
                              capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError("README's spawn-fcgi lines fail: " +
                               done.stderr + done.stdout)
        with open(pid_path) as f:
            self.pid = int(f.read())
        self.workers = 4
        server.pids.append(self.pid)
        wait_for_socket(socket_path)


class FastCgiServer(Server):
    def __init__(self, folder, cgi):
        super().__init__(folder, cgi)
        self.pids = []  # started by others (spawn-fcgi): stopped by pid
        # The servers' unprivileged users must reach the program and the
        # sockets.
        self.own_root = own_root()
        self.program = os.path.join(self.own_root, "strixel.cgi")
        shutil.copy2(cgi, self.program)
        os.chmod(self.program, 0o755)
        self.socket_folder = os.path.join(self.own_root, "run")
        os.makedirs(self.socket_folder)
        os.chmod(self.socket_folder, 0o777)

    def stop(self):
        for pid in self.pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for pid in self.pids:
            for _ in range(100):
                try:
                    os.kill(pid, 0)
                except ProcessLookupError:
                    break
                time.sleep(0.1)
        super().stop()

    def workers(self):
        """The process ids of the program's workers now running: the
        processes of this server's own copy of the program, but the pool's
        parent."""
        parent = getattr(getattr(self, "pool", None), "pid", None)
        return [pid for pid in processes_of(self.program) if pid != parent]


class NginxFastCgi(FastCgiServer):
    """nginx passing the requests to the program's worker pool."""

    name = "nginx-fastcgi"
    pool_class = WorkerPool

    def start(self):
        socket_path = os.path.join(self.socket_folder, "fastcgi.socket")
        self.pool = self.pool_class(self, self.program, socket_path)
        wait_for_socket(socket_path)
        temp = os.path.join(self.folder, "temp")
        os.makedirs(temp, exist_ok=True)
        snippet = readme_snippets.substitute(
            readme_snippets.snippet("nginx-fastcgi"), "nginx-fastcgi",
            [(POOL_SOCKET, socket_path)])
        conf = self.write("nginx.conf", """\
daemon off;
master_process off;
pid {folder}/nginx.pid;
error_log {folder}/error.log info;
events {{ worker_connections 256; }}
http {{
    access_log {folder}/access.log;
{temp_paths}
    types {{ text/html html; image/png png; }}
    server {{
        listen 127.0.0.1:{port};
        root {docroot};
        # README.md's snippet:
{snippet}
    }}
}}
""".format(folder=self.folder, temp_paths=nginx_temp_paths(temp),
           port=self.port, docroot=self.docroot, snippet=snippet))
        argv = ["nginx", "-p", self.folder, "-c", conf, "-e",
                os.path.join(self.folder, "error.log")]
        check = subprocess.run(argv + ["-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("nginx rejects its configuration: " +
                               check.stderr)
        process = self.spawn(argv, "nginx.out")
        wait_for_port(self.port, process)



class NginxSpawnFcgi(NginxFastCgi):
    name = "nginx-spawn-fcgi"
    pool_class = SpawnFcgiPool


class LighttpdFastCgi(FastCgiServer):
    """lighttpd with mod_fastcgi starting the workers."""

    name = "lighttpd-fastcgi"

    def start(self):
        snippet = readme_snippets.substitute(
            readme_snippets.snippet("lighttpd-fastcgi"), "lighttpd-fastcgi",
            [(PROGRAM, self.program),
             ("/run/lighttpd/strixel-fastcgi.socket",
              os.path.join(self.socket_folder, "strixel-fastcgi.socket"))])
        conf = self.write("lighttpd.conf", """\
server.document-root = "{docroot}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{folder}/error.log"
server.upload-dirs = ("{folder}")
server.max-connections = 512
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html", ".png" => "image/png")
# README.md's snippet:
{snippet}""".format(docroot=self.docroot, port=self.port, folder=self.folder,
                    snippet=snippet))
        check = subprocess.run(["lighttpd", "-tt", "-f", conf],
                               capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("lighttpd rejects its configuration: " +
                               check.stderr + check.stdout)
        self.process = self.spawn(["lighttpd", "-D", "-f", conf],
                                  "lighttpd.out")
        wait_for_port(self.port, self.process)



APACHE_BASE = """\
ServerRoot "{folder}"
ServerName 127.0.0.1
Listen 127.0.0.1:{port}
DefaultRuntimeDir "{folder}"
PidFile "{folder}/apache.pid"
ErrorLog "{folder}/error.log"
LogLevel info
{user}LoadModule mpm_event_module {modules}/mod_mpm_event.so
LoadModule authz_core_module {modules}/mod_authz_core.so
LoadModule mime_module {modules}/mod_mime.so
LoadModule alias_module {modules}/mod_alias.so
{more_modules}
StartServers 1
ServerLimit 2
ThreadsPerChild 64
MaxRequestWorkers 128
TypesConfig /dev/null
AddType text/html .html
DocumentRoot "{docroot}"
<Directory "{docroot}">
    Require all granted
</Directory>
{extra}
# README.md's snippet:
{snippet}"""


class ApacheServer(FastCgiServer):
    modules = ""
    extra = ""

    def snippet(self):
        raise NotImplementedError

    def start(self):
        self.prepare()
        modules = "/usr/lib/apache2/modules"
        user = ""
        if os.geteuid() == 0:
            user = "User www-data\nGroup www-data\n"
        conf = self.write("apache.conf", APACHE_BASE.format(
            folder=self.folder, port=self.port, docroot=self.docroot,
            modules=modules, user=user,
            more_modules=self.modules.format(modules=modules),
            extra=self.extra.format(folder=self.socket_folder),
            snippet=self.snippet()))
        argv = ["/usr/sbin/apache2", "-f", conf]
        check = subprocess.run(argv + ["-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("apache rejects its configuration: " +
                               check.stderr)
        self.process = self.spawn(argv + ["-DFOREGROUND"], "apache.out")
        wait_for_port(self.port, self.process)

    def prepare(self):
        pass


class ApacheFcgid(ApacheServer):
    """Apache with mod_fcgid starting the workers."""

    name = "apache-fcgid"
    modules = "LoadModule fcgid_module {modules}/mod_fcgid.so"
    extra = ("FcgidIPCDir {folder}/fcgid\n"
             "FcgidProcessTableFile {folder}/fcgid_shm\n")

    def prepare(self):
        os.makedirs(os.path.join(self.socket_folder, "fcgid"))
        os.chmod(os.path.join(self.socket_folder, "fcgid"), 0o777)

    def snippet(self):
        return readme_snippets.substitute(
            readme_snippets.snippet("apache-fcgid"), "apache-fcgid",
            [(PROGRAM, self.program),
             (readme_snippets.CGI_FOLDER, self.own_root)])


class ApacheProxyFcgi(ApacheServer):
    """Apache with mod_proxy_fcgi passing the requests to the pool."""

    name = "apache-proxy-fcgi"
    modules = ("LoadModule proxy_module {modules}/mod_proxy.so\n"
               "LoadModule proxy_fcgi_module {modules}/mod_proxy_fcgi.so")

    def prepare(self):
        self.socket_path = os.path.join(self.socket_folder, "fastcgi.socket")
        self.pool = WorkerPool(self, self.program, self.socket_path)
        wait_for_socket(self.socket_path)

    def snippet(self):
        # Not a README snippet: README.md advises against this module, and
        # the test shows why (an empty answer becomes an empty 200).
        return ("<Location /cgi-bin/strixel.cgi>\n"
                "  SetHandler \"proxy:unix:%s|fcgi://localhost/\"\n"
                "</Location>\n" % self.socket_path)

