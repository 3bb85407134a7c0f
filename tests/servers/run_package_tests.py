#!/usr/bin/python3
"""The Debian package: lintian, then installed, served and removed.

lintian must report no error. Installing changes the system, so the rest
runs only in CI (CI=true) or when asked (STRIXEL_SYSTEM_TESTS=1): dpkg -i;
the program answers at /cgi-bin/strixel.cgi through Apache's stock
configuration after `a2enmod cgi` and through lighttpd's after
`lighty-enable-mod cgi`, each also with the packaged example configuration
added, and through nginx with the packaged example and fcgiwrap (started
by the README's lines for a machine without systemd where there is none);
dpkg -r and --purge leave no file behind. The servers run from copies of their stock
configurations that listen on a free loopback port, and are stopped by
their own process ids; the CGI modules enabled here are disabled again.

Usage: run_package_tests.py --deb PATH --cgi PATH --out FOLDER
"""

import argparse
import glob
import os
import pwd
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import readme_snippets  # noqa: E402
import web_servers  # noqa: E402
from run_server_tests import Results, http_request  # noqa: E402
from strixel_cgi import Png, run_cgi  # noqa: E402

PROGRAM = "/usr/lib/cgi-bin/strixel.cgi"
EXAMPLES = "/usr/share/doc/strixel/examples"
WWW = "/usr/share/strixel/www"
QUERY = "data=12345&btype=2"


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=600,
                          stdin=subprocess.DEVNULL, **kwargs)


def check_lintian(results, deb):
    done = run(["lintian", "--pedantic", deb])
    lines = [line for line in done.stdout.splitlines()
             if re.match(r"[EWIPX]: ", line)]
    for line in lines:
        print("  lintian " + line)
    errors = [line for line in lines if line.startswith("E: ")]
    results.check("lintian reports no error", done.returncode in (0, 2) and
                  not errors, "%d errors, exit %d" % (len(errors),
                                                      done.returncode))


def system_tests_asked():
    return (os.environ.get("CI") == "true" or
            os.environ.get("STRIXEL_SYSTEM_TESTS") == "1")


def check_serves(results, label, port, direct_png):
    status, ctype, body = http_request(port, "GET",
                                       web_servers.CGI_PATH + "?" + QUERY)
    same = False
    if status == 200 and ctype == "image/png":
        served = Png(body)
        same = ((served.width, served.height, served.raster) ==
                (direct_png.width, direct_png.height, direct_png.raster))
    results.check(label + ": the installed program draws the barcode", same,
                  "%d %s" % (status, ctype))
    if os.path.isdir(WWW):
        status, ctype, _ = http_request(port, "GET", "/strixel/")
        if "example" in label:
            results.check(label + ": the web page at /strixel/",
                          status == 200 and ctype.startswith("text/html"),
                          "%d %s" % (status, ctype))


class StockServer(web_servers.Server):
    """A server started from a copy of its stock configuration."""

    def __init__(self, folder, example=False):
        self.folder = os.path.abspath(folder)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        # The servers write their logs and sockets as www-data.
        user = pwd.getpwnam("www-data")
        os.chown(self.folder, user.pw_uid, user.pw_gid)
        self.port = web_servers.free_loopback_port()
        self.processes = []
        self.example = example


class StockApache(StockServer):
    name = "apache"

    def start(self):
        root = os.path.join(self.folder, "etc")
        shutil.copytree("/etc/apache2", root, symlinks=True)
        with open(os.path.join(root, "ports.conf"), "w") as f:
            f.write("Listen 127.0.0.1:%d\n" % self.port)
        if self.example:
            shutil.copy(os.path.join(EXAMPLES, "apache2.conf"),
                        os.path.join(root, "conf-enabled", "strixel.conf"))
        # What apache2ctl makes before it starts Apache: mod_cgid's socket
        # folder.
        os.makedirs(os.path.join(self.folder, "socks"))
        env = dict(os.environ, APACHE_RUN_USER="www-data",
                   APACHE_RUN_GROUP="www-data", APACHE_RUN_DIR=self.folder,
                   APACHE_LOCK_DIR=self.folder, APACHE_LOG_DIR=self.folder,
                   APACHE_PID_FILE=os.path.join(self.folder, "apache2.pid"),
                   LANG="C")
        argv = ["/usr/sbin/apache2", "-d", root, "-f", "apache2.conf"]
        check = run(argv + ["-t"], env=env)
        if check.returncode != 0:
            raise RuntimeError("apache rejects its configuration: " +
                               check.stderr)
        log = open(os.path.join(self.folder, "apache.out"), "wb")
        process = subprocess.Popen(argv + ["-DFOREGROUND"], env=env,
                                   stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT,
                                   start_new_session=True)
        log.close()
        self.processes.append(process)
        web_servers.wait_for_port(self.port, process)


class StockLighttpd(StockServer):
    name = "lighttpd"

    def start(self):
        with open("/etc/lighttpd/lighttpd.conf") as f:
            text = f.read()
        # Loopback and a free port only, and nothing written outside the
        # test's folder.
        replace = [
            (r'(?m)^server\.port\s*=.*$',
             'server.port = %d\nserver.bind = "127.0.0.1"' % self.port),
            (r'(?m)^server\.pid-file\s*=.*$',
             'server.pid-file = "%s/lighttpd.pid"' % self.folder),
            (r'(?m)^server\.errorlog\s*=.*$',
             'server.errorlog = "%s/error.log"' % self.folder),
            (r'(?m)^include_shell "/usr/share/lighttpd/use-ipv6.pl.*$', ''),
        ]
        for pattern, new in replace:
            text, count = re.subn(pattern, new.replace("\\", "\\\\"), text)
            if count != 1:
                raise RuntimeError("lighttpd.conf has no line " + pattern)
        if self.example:
            text += '\ninclude "%s/lighttpd.conf"\n' % EXAMPLES
        conf = self.write("lighttpd.conf", text)
        check = run(["lighttpd", "-tt", "-f", conf])
        if check.returncode != 0:
            raise RuntimeError("lighttpd rejects its configuration: " +
                               check.stderr + check.stdout)
        process = self.spawn(["lighttpd", "-D", "-f", conf], "lighttpd.out")
        web_servers.wait_for_port(self.port, process)


class ExampleNginx(StockServer):
    """nginx with the packaged example, its workers as www-data."""

    name = "nginx"

    def start(self):
        temp = os.path.join(self.folder, "temp")
        os.makedirs(temp)
        conf = self.write("nginx.conf", """\
daemon off;
user www-data;
pid {folder}/nginx.pid;
error_log {folder}/error.log info;
events {{ worker_connections 64; }}
http {{
    include /etc/nginx/mime.types;
    access_log {folder}/access.log;
{temp_paths}
    server {{
        listen 127.0.0.1:{port};
        include {examples}/nginx.conf;
    }}
}}
""".format(folder=self.folder,
           temp_paths=web_servers.nginx_temp_paths(temp),
           port=self.port,
           examples=EXAMPLES))
        argv = ["nginx", "-p", self.folder, "-c", conf, "-e",
                os.path.join(self.folder, "error.log")]
        check = run(argv + ["-t"])
        if check.returncode != 0:
            raise RuntimeError("nginx rejects its configuration: " +
                               check.stderr)
        process = self.spawn(argv, "nginx.out")
        web_servers.wait_for_port(self.port, process)


def enabled(pattern):
    return set(os.path.basename(p) for p in glob.glob(pattern))


def check_installed(results, deb):
    done = run(["dpkg", "-i", deb])
    results.check("dpkg -i installs the package", done.returncode == 0,
                  done.stderr.strip())
    depends = run(["dpkg-query", "-W", "-f=${Depends}", "strixel"]).stdout
    results.check("the package depends on nothing", depends.strip() == "",
                  depends)
    results.check("the program is installed executable",
                  os.access(PROGRAM, os.X_OK))
    listed = run(["dpkg", "-L", "strixel"]).stdout.split("\n")
    return [p for p in listed if p.startswith("/") and
            not os.path.isdir(p)]


def check_servers(results, out, direct_png):
    for server_class, enable, disable, pattern in (
            (StockApache, ["a2enmod", "cgi"], "a2dismod",
             "/etc/apache2/mods-enabled/cgi*.load"),
            (StockLighttpd, ["lighty-enable-mod", "cgi"],
             "lighty-disable-mod", "/etc/lighttpd/conf-enabled/*cgi.conf")):
        before = enabled(pattern)
        done = run(enable)
        results.check(" ".join(enable), done.returncode == 0,
                      done.stdout + done.stderr)
        try:
            for example in (False, True):
                label = "%s%s" % (server_class.name,
                                  " with the example" if example else "")
                folder = os.path.join(out, label.replace(" ", "-"))
                try:
                    with server_class(folder, example) as server:
                        check_serves(results, label, server.port, direct_png)
                except (RuntimeError, OSError) as e:
                    results.check(label + " starts", False, str(e))
        finally:
            for name in enabled(pattern) - before:
                module = re.sub(r"^\d+-|\.(load|conf)$", "", name)
                run([disable, module])
            results.check("%s's CGI module back as it was" % server_class.name,
                          enabled(pattern) == before)


def check_nginx(results, out, direct_png):
    socket = readme_snippets.FCGIWRAP_SOCKET
    # With systemd the socket unit opened the socket when fcgiwrap was
    # installed; without it, the README's lines start fcgiwrap, as written.
    by_hand = not os.path.isdir("/run/systemd/system")
    if by_hand:
        commands = readme_snippets.snippet("fcgiwrap-without-systemd")
        done = run(["bash", "-e", "-c", commands])
        results.check("README's fcgiwrap start without systemd",
                      done.returncode == 0,
                      done.stdout[-300:] + done.stderr[-300:])
    try:
        owner = ""
        if os.path.exists(socket):
            owner = run(["stat", "-c", "%U", socket]).stdout.strip()
        results.check("fcgiwrap's socket belongs to www-data",
                      owner == "www-data", owner or "no socket")
        label = "nginx with the example"
        try:
            with ExampleNginx(os.path.join(out, "nginx"), True) as server:
                check_serves(results, label, server.port, direct_png)
        except (RuntimeError, OSError) as e:
            results.check(label + " starts", False, str(e))
    finally:
        if by_hand:
            run(["service", "fcgiwrap", "stop"])


def check_removed(results, files):
    done = run(["dpkg", "-r", "strixel"])
    results.check("dpkg -r removes the package", done.returncode == 0,
                  done.stderr)
    done = run(["dpkg", "--purge", "strixel"])
    results.check("dpkg --purge purges it", done.returncode == 0, done.stderr)
    state = run(["dpkg-query", "-W", "-f=${db:Status-Status}", "strixel"])
    results.check("dpkg no longer knows the package",
                  state.returncode != 0 or
                  state.stdout in ("", "not-installed"),
                  state.stdout)
    left = [p for p in files + ["/usr/share/doc/strixel", "/usr/share/strixel"]
            if os.path.lexists(p)]
    results.check("no file of the package is left", not left, " ".join(left))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)

    results = Results()
    name = os.path.basename(args.deb)
    results.check("README installs " + name,
                  "apt install ./build/" + name in
                  readme_snippets.snippet("package"))
    check_lintian(results, args.deb)
    if not system_tests_asked():
        print("SKIP installing the package: it changes the system, so it "
              "runs only in CI (CI=true) or with STRIXEL_SYSTEM_TESTS=1")
    elif run(["dpkg-query", "-W", "strixel"]).returncode == 0:
        results.check("strixel is not installed before the test", False,
                      "remove it first: dpkg --purge strixel")
    else:
        direct = run_cgi(os.path.abspath(args.cgi),
                         {"method": "GET", "query": QUERY.encode()})
        direct_png = Png(direct.output[len(b"Content-type: image/png\n\n"):])
        files = check_installed(results, args.deb)
        try:
            check_servers(results, out, direct_png)
            check_nginx(results, out, direct_png)
        finally:
            check_removed(results, files)
    return results.finish("package")


if __name__ == "__main__":
    sys.exit(main())
