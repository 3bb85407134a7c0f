"""Real web servers serving strixel.cgi on a free loopback port.

Each server is configured with README.md's snippet for it, which serves the
program at /cgi-bin/strixel.cgi, inside a generated configuration under its
own folder; it listens on 127.0.0.1 only, runs in the foreground as a child
of the test and is stopped by its own process id.
"""

import os
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import time

import readme_snippets

# Where every server answers with the program.
CGI_PATH = "/cgi-bin/strixel.cgi"


def nginx_temp_paths(temp):
    """nginx's temporary folders under temp, for an nginx.conf's http block:
    the compiled-in ones belong to the system's nginx."""
    return "\n".join("    %s_temp_path %s/%s;" % (kind, temp, folder)
                     for kind, folder in (("client_body", "body"),
                                          ("fastcgi", "fastcgi"),
                                          ("proxy", "proxy"),
                                          ("uwsgi", "uwsgi"),
                                          ("scgi", "scgi")))


def free_loopback_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, seconds=20):
    """Waits, a bounded number of times, until the port accepts."""
    for _ in range(int(seconds * 10)):
        if process.poll() is not None:
            raise RuntimeError("server exited with %r" % process.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("nothing listens on port %d" % port)


def stop_process(process):
    if process is None or process.poll() is not None:
        return
    os.kill(process.pid, signal.SIGTERM)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        os.kill(process.pid, signal.SIGKILL)
        process.wait(timeout=10)


def prepare_folders(folder, cgi):
    """An empty document root and a CGI folder holding the program."""
    docroot = os.path.join(folder, "docroot")
    cgi_folder = os.path.join(folder, "cgi-bin")
    os.makedirs(docroot, exist_ok=True)
    os.makedirs(cgi_folder, exist_ok=True)
    target = os.path.join(cgi_folder, "strixel.cgi")
    shutil.copy2(cgi, target)
    os.chmod(target, 0o755)
    return docroot, cgi_folder


def reachable_by_others(path):
    """Whether a user of no group of the owner can reach files in path."""
    path = os.path.abspath(path)
    while True:
        if not os.stat(path).st_mode & stat.S_IXOTH:
            return False
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent


class Server:
    name = "server"

    def __init__(self, folder, cgi):
        self.folder = os.path.abspath(folder)
        if os.path.exists(self.folder):
            shutil.rmtree(self.folder)
        os.makedirs(self.folder)
        self.docroot, self.cgi_folder = prepare_folders(self.folder, cgi)
        self.port = free_loopback_port()
        self.processes = []

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path.lstrip("/"))

    def spawn(self, argv, log_name):
        log = open(os.path.join(self.folder, log_name), "wb")
        # A session of its own: Apache's prefork parent signals its whole
        # process group when it stops.
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT,
                                   cwd=self.folder, start_new_session=True)
        log.close()
        self.processes.append(process)
        return process

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        # The web server first, then what it talks to.
        for process in reversed(self.processes):
            stop_process(process)
        if getattr(self, "own_root", None):
            shutil.rmtree(self.own_root, ignore_errors=True)

    def write(self, name, text):
        path = os.path.join(self.folder, name)
        with open(path, "w") as f:
            f.write(text)
        return path


class Lighttpd(Server):
    """lighttpd with mod_cgi, configured by README.md's snippet."""

    name = "lighttpd"
    # Extra lines of the configuration, such as an access log.
    extra = ""

    def start(self):
        conf = self.write("lighttpd.conf", """\
server.document-root = "{docroot}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{folder}/error.log"
server.upload-dirs = ("{folder}")
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html", ".png" => "image/png")
{extra}
# README.md's snippet:
{snippet}""".format(docroot=self.docroot, port=self.port, folder=self.folder,
                    extra=self.extra,
                    snippet=readme_snippets.configured("lighttpd",
                                                       self.cgi_folder)))
        check = subprocess.run(["lighttpd", "-tt", "-f", conf],
                               capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("lighttpd rejects its configuration: " +
                               check.stderr + check.stdout)
        process = self.spawn(["lighttpd", "-D", "-f", conf], "lighttpd.out")
        wait_for_port(self.port, process)


class NginxFcgiwrap(Server):
    """nginx handing the program to fcgiwrap, by README.md's snippet."""

    name = "nginx"

    def start(self):
        socket_path = os.path.join(self.folder, "fcgiwrap.sock")
        # One process, no preforked children: stopping it by its pid stops
        # all of it.
        wrapper = self.spawn(["fcgiwrap", "-s",
                              "unix:" + socket_path], "fcgiwrap.out")
        for _ in range(100):
            if os.path.exists(socket_path) or wrapper.poll() is not None:
                break
            time.sleep(0.1)
        if not os.path.exists(socket_path):
            raise RuntimeError("fcgiwrap made no socket")
        temp = os.path.join(self.folder, "temp")
        os.makedirs(temp, exist_ok=True)
        conf = self.write("nginx.conf", """\
daemon off;
master_process off;
pid {folder}/nginx.pid;
error_log {folder}/error.log info;
events {{ worker_connections 64; }}
http {{
    access_log {folder}/access.log;
{temp_paths}
    types {{ text/html html; image/png png; }}
    server {{
        listen 127.0.0.1:{port};
        root {docroot};
        index index.html;
        # README.md's snippet:
{snippet}
    }}
}}
""".format(folder=self.folder,
           temp_paths=nginx_temp_paths(temp),
           port=self.port,
           docroot=self.docroot,
           snippet=readme_snippets.configured("nginx", self.cgi_folder,
                                              socket_path)))
        argv = ["nginx", "-p", self.folder, "-c", conf, "-e",
                os.path.join(self.folder, "error.log")]
        check = subprocess.run(argv + ["-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("nginx rejects its configuration: " +
                               check.stderr)
        process = self.spawn(argv, "nginx.out")
        wait_for_port(self.port, process)


class ApacheCgi(Server):
    """Apache httpd (prefork) with mod_cgi, by README.md's snippet."""

    name = "apache"

    def start(self):
        modules = "/usr/lib/apache2/modules"
        # Started as root, Apache runs its children, and so the CGI, as an
        # unprivileged user; it must be able to reach the program.
        user = ""
        if os.geteuid() == 0:
            user = "User nobody\nGroup nogroup\n"
            if not reachable_by_others(self.folder):
                self.own_root = tempfile.mkdtemp(prefix="strixel-apache-")
                os.chmod(self.own_root, 0o755)
                for name in ("docroot", "cgi-bin"):
                    shutil.copytree(os.path.join(self.folder, name),
                                    os.path.join(self.own_root, name))
                self.docroot = os.path.join(self.own_root, "docroot")
                self.cgi_folder = os.path.join(self.own_root, "cgi-bin")
        conf = self.write("apache.conf", """\
ServerRoot "{folder}"
ServerName 127.0.0.1
Listen 127.0.0.1:{port}
DefaultRuntimeDir "{folder}"
PidFile "{folder}/apache.pid"
ErrorLog "{folder}/error.log"
LogLevel info
{user}LoadModule mpm_prefork_module {modules}/mod_mpm_prefork.so
LoadModule authz_core_module {modules}/mod_authz_core.so
LoadModule mime_module {modules}/mod_mime.so
LoadModule alias_module {modules}/mod_alias.so
LoadModule cgi_module {modules}/mod_cgi.so
StartServers 1
MinSpareServers 1
MaxSpareServers 2
MaxRequestWorkers 4
TypesConfig /dev/null
AddType text/html .html
DocumentRoot "{docroot}"
<Directory "{docroot}">
    Require all granted
</Directory>
# README.md's snippet:
{snippet}""".format(folder=self.folder, port=self.port, docroot=self.docroot,
                    modules=modules, user=user,
                    snippet=readme_snippets.configured("apache",
                                                       self.cgi_folder)))
        argv = ["/usr/sbin/apache2", "-f", conf]
        check = subprocess.run(argv + ["-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("apache rejects its configuration: " +
                               check.stderr)
        process = self.spawn(argv + ["-DFOREGROUND"], "apache.out")
        wait_for_port(self.port, process)
