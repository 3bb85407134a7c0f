#!/usr/bin/python3
"""The Debian package: built twice, linted, installed, served and purged.

Always: the repository's files are copied and built into a source package
(dpkg-source -b), which is unpacked at another path; the README's build
lines (its `package` snippet, less the apt-get lines) run in both trees,
and the two .deb files must be identical byte for byte; lintian
--pedantic -I -E on the binary and the source package must report nothing
that is not overridden (its whole output is printed).

Installing changes the system, so the rest runs only in CI (CI=true) or
when asked (STRIXEL_SYSTEM_TESTS=1), and only with strixel not installed.
The README's and docs/scale-out.md's lines run as written, with bash, on
the system's own servers, each moved for the test to a free loopback port
(Apache's ports.conf, lighttpd.conf and nginx's default site are edited and
put back afterwards): the package snippet builds and installs the package,
which must enable itself in Apache; the apache-package, lighttpd-package
and nginx-package snippets, with fcgiwrap started by the README's lines for
a machine without systemd; then the scale-out hosts and balancer. Through
each server the installed program must draw what the built one draws, and
the try page must load. Then `apt-get purge` must leave nothing of the
package in /etc or /usr, and the servers' enabled modules and
configurations as they were before.

Usage: run_package_tests.py --cgi PATH --out FOLDER
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import readme_snippets  # noqa: E402
import web_servers  # noqa: E402
from run_server_tests import Results, http_request  # noqa: E402
from strixel_cgi import PNG_HEADER, Png, run_cgi  # noqa: E402

DOC = os.path.join(ROOT, "docs", "scale-out.md")
DEB = "strixel_1.3_amd64.deb"
DSC = "strixel_1.3.dsc"
QUERY = "data=12345&btype=2"
FAILING_DEBUG_QUERY = "btype=11&data=ABC&debug=1"

# The servers' configurations the test moves to free ports, and the folders
# whose enabled entries must be as before once the package is purged.
APACHE_PORTS = "/etc/apache2/ports.conf"
LIGHTTPD_CONF = "/etc/lighttpd/lighttpd.conf"
NGINX_SITE = "/etc/nginx/sites-available/default"
NGINX_SITE_LINK = "/etc/nginx/sites-enabled/default"
ENABLED = ["/etc/apache2/mods-enabled", "/etc/apache2/conf-enabled",
           "/etc/lighttpd/conf-enabled", "/etc/nginx/sites-enabled",
           "/etc/nginx/conf.d"]


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=900,
                          stdin=subprocess.DEVNULL, **kwargs)


def bash(results, label, commands, cwd=None, env=None):
    """Runs pasted lines with bash -e; a check that they succeed."""
    done = run(["bash", "-e", "-c", commands], cwd=cwd, env=env)
    results.check(label, done.returncode == 0,
                  (done.stdout[-800:] + done.stderr[-800:]).strip())
    return done.returncode == 0


def copy_sources(target):
    """The repository's files (tracked and new, not ignored) in target."""
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    listed = subprocess.run(
        ["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
        capture_output=True, check=True).stdout.decode().split("\0")
    for name in listed:
        source = os.path.join(ROOT, name)
        if name and os.path.isfile(source):
            os.makedirs(os.path.join(target, os.path.dirname(name)),
                        exist_ok=True)
            shutil.copy2(source, os.path.join(target, name))


def package_lines(build, build_dep=False, install=False):
    """The README's package lines: those that build (with apt-get build-dep
    if asked), or the one that installs."""
    picked = []
    for line in readme_snippets.snippet("package").strip().split("\n"):
        if line.startswith("apt-get build-dep"):
            wanted = build_dep
        elif line.startswith("apt-get install"):
            wanted = install
        else:
            wanted = build
        if wanted:
            picked.append(line)
    return "\n".join(picked)


def check_builds(results, out, with_apt):
    """Two builds at different paths; the path of the first .deb."""
    debs = []
    first = os.path.join(out, "one", "strixel")
    copy_sources(first)
    # The source package, and the second build from it: the same sources,
    # whatever changes in the repository meanwhile.
    done = run(["dpkg-source", "-b", "strixel"], cwd=os.path.dirname(first))
    dsc = os.path.join(os.path.dirname(first), DSC)
    results.check("dpkg-source -b builds the source package",
                  done.returncode == 0 and os.path.isfile(dsc),
                  done.stdout[-500:] + done.stderr[-500:])
    second = os.path.join(out, "two", "deeper", "strixel")
    shutil.rmtree(os.path.dirname(second), ignore_errors=True)
    os.makedirs(os.path.dirname(second))
    done = run(["dpkg-source", "-x", dsc, second])
    results.check("dpkg-source -x unpacks it", done.returncode == 0,
                  done.stdout[-500:] + done.stderr[-500:])
    for folder in ("one", os.path.join("two", "deeper")):
        source = os.path.join(out, folder, "strixel")
        # The README's lines as written; apt-get waits for a lock another
        # installation holds instead of failing.
        env = dict(os.environ, APT_CONFIG=os.path.join(out, "apt.conf"))
        ok = bash(results, "README's package lines in %s" % folder,
                  package_lines(True, with_apt and not debs), cwd=source,
                  env=env)
        deb = os.path.join(os.path.dirname(source), DEB)
        results.check("the build writes " + DEB, ok and os.path.isfile(deb))
        debs.append(deb)
    same = all(os.path.isfile(d) for d in debs) and \
        open(debs[0], "rb").read() == open(debs[1], "rb").read()
    results.check("two builds at different paths, from the repository's "
                  "files and from the source package, give the same .deb",
                  same)
    return debs[0]


def check_lintian(results, deb):
    changes = deb[:-len(".deb")] + ".changes"
    dsc = os.path.join(os.path.dirname(deb), DSC)
    done = run(["lintian", "--pedantic", "-I", "-E", "--show-overrides",
                changes, dsc])
    print("lintian --pedantic -I -E --show-overrides (complete output):")
    for line in (done.stdout + done.stderr).splitlines():
        print("  " + line)
    tags = [line for line in done.stdout.splitlines()
            if re.match(r"[EWIPX]: ", line)]
    results.check("lintian reports nothing but overridden tags",
                  done.returncode == 0 and not tags,
                  "%d tags, exit %d" % (len(tags), done.returncode))


def system_tests_asked():
    return (os.environ.get("CI") == "true" or
            os.environ.get("STRIXEL_SYSTEM_TESTS") == "1")


def check_serves(results, label, port, drawn):
    try:
        status, ctype, body = http_request(port, "GET",
                                           "/cgi-bin/strixel.cgi?" + QUERY)
        same = status == 200 and ctype == "image/png" and (
            (Png(body).width, Png(body).raster) == (drawn.width, drawn.raster))
        results.check(label + ": the installed program draws the barcode",
                      same, "%d %s" % (status, ctype))
        status, ctype, body = http_request(port, "GET", "/strixel/")
        results.check(label + ": the try page at /strixel/",
                      status == 200 and ctype.startswith("text/html") and
                      b"strixel.cgi" in body, "%d %s" % (status, ctype))
    except OSError as e:
        results.check(label + " answers", False, str(e))


class SystemState:
    """Files the test changes, put back as they were by restore()."""

    def __init__(self):
        self.saved = {}

    def save(self, path):
        if path in self.saved:
            return
        if os.path.islink(path):
            self.saved[path] = ("link", os.readlink(path))
        elif os.path.isfile(path):
            with open(path, "rb") as f:
                self.saved[path] = ("file", f.read())
        else:
            self.saved[path] = ("absent", None)

    def edit(self, path, pattern, new, count=1):
        self.save(path)
        with open(path) as f:
            text = f.read()
        text, done = re.subn(pattern, new.replace("\\", "\\\\"), text)
        if done != count:
            raise RuntimeError("%s: %d lines match %s" % (path, done, pattern))
        with open(path, "w") as f:
            f.write(text)

    def restore(self):
        for path, (kind, content) in self.saved.items():
            if os.path.lexists(path):
                os.remove(path)
            if kind == "link":
                os.symlink(content, path)
            elif kind == "file":
                with open(path, "wb") as f:
                    f.write(content)


def enabled_entries():
    return {folder: sorted(os.listdir(folder)) for folder in ENABLED
            if os.path.isdir(folder)}


def service_stop(name):
    run(["service", name, "stop"])


def check_apache(results, state, port, drawn):
    results.check("the package enabled its Apache configuration",
                  os.path.exists("/etc/apache2/conf-enabled/strixel.conf"))
    results.check("the package enabled Apache's CGI module",
                  bool(glob.glob("/etc/apache2/mods-enabled/cgi*.load")))
    # Beside Debian's serve-cgi-bin, which a2enmod cgi turned on.
    done = run(["apache2ctl", "-t"])
    results.check("apache2ctl -t: no AH00671 beside serve-cgi-bin",
                  done.returncode == 0 and "AH00671" not in done.stderr,
                  done.stderr.strip())
    state.save("/etc/apache2/conf-enabled/serve-cgi-bin.conf")
    try:
        if bash(results, "README's apache-package lines",
                readme_snippets.snippet("apache-package")):
            check_serves(results, "Apache", port, drawn)
    finally:
        service_stop("apache2")


def check_lighttpd(results, state, port, drawn):
    state.edit(LIGHTTPD_CONF, r"(?m)^server\.port\s*=.*$",
               'server.port = %d\nserver.bind = "127.0.0.1"' % port)
    state.edit(LIGHTTPD_CONF,
               r'(?m)^include_shell "/usr/share/lighttpd/use-ipv6.pl.*$', "")
    try:
        # Not running yet: the lines must start it.
        if bash(results, "README's lighttpd-package lines (lighttpd stopped)",
                readme_snippets.snippet("lighttpd-package")):
            check_serves(results, "lighttpd", port, drawn)
        # Beside 10-cgi.conf, which runs all of /usr/lib/cgi-bin.
        cgi_link = "/etc/lighttpd/conf-enabled/10-cgi.conf"
        state.save(cgi_link)
        if not os.path.lexists(cgi_link):
            os.symlink("../conf-available/10-cgi.conf", cgi_link)
        done = run(["service", "lighttpd", "force-reload"])
        results.check("lighttpd reloads with 10-cgi.conf enabled too",
                      done.returncode == 0, done.stdout + done.stderr)
        time.sleep(0.5)
        check_serves(results, "lighttpd with 10-cgi.conf", port, drawn)
    finally:
        service_stop("lighttpd")


def check_nginx(results, state, port, drawn):
    state.edit(NGINX_SITE, r"(?m)^\tlisten 80 default_server;$",
               "\tlisten 127.0.0.1:%d default_server;" % port)
    state.edit(NGINX_SITE, r"(?m)^\tlisten \[::\]:80 default_server;\n", "")
    by_hand = not os.path.isdir("/run/systemd/system")
    try:
        if by_hand:
            bash(results, "README's fcgiwrap start without systemd",
                 readme_snippets.snippet("fcgiwrap-without-systemd"))
        if bash(results, "README's nginx-package lines",
                readme_snippets.snippet("nginx-package")):
            check_serves(results, "nginx", port, drawn)
    finally:
        service_stop("nginx")
        # README.Debian: the include line goes before the package does.
        with open(NGINX_SITE) as f:
            text = f.read()
        with open(NGINX_SITE, "w") as f:
            f.write(text.replace("\tinclude snippets/strixel.conf;\n", ""))
        if by_hand:
            service_stop("fcgiwrap")


def check_scale_out(results, state, port, drawn):
    """docs/scale-out.md's lines: two hosts, the balancer, its cache."""
    host_ports = [web_servers.free_loopback_port() for _ in range(2)]
    moved = [("8081", str(host_ports[0])), ("8082", str(host_ports[1]))]
    hosts = readme_snippets.substitute(
        readme_snippets.snippet("scale-out-hosts", DOC), "scale-out-hosts",
        moved)
    balancer = readme_snippets.substitute(
        readme_snippets.snippet("scale-out", DOC), "scale-out", moved + [
            ("listen 80 default_server;",
             "listen 127.0.0.1:%d default_server;" % port),
            ("listen [::]:80 default_server;", "")])
    conf = "/etc/nginx/conf.d/strixel-balancer.conf"
    host_files = ["/etc/lighttpd/strixel-%d.conf" % p for p in host_ports]
    for path in [conf, NGINX_SITE_LINK] + host_files:
        state.save(path)
    try:
        if not bash(results, "scale-out doc: the two hosts start", hosts):
            return
        with open(conf, "w") as f:
            f.write(balancer)
        if not bash(results, "scale-out doc: the balancer starts",
                    readme_snippets.snippet("scale-out-enable", DOC)):
            return
        answers = []
        for query in (QUERY, QUERY, FAILING_DEBUG_QUERY, FAILING_DEBUG_QUERY):
            status, ctype, cache, body = http_request(
                port, "GET", "/cgi-bin/strixel.cgi?" + query,
                header="X-Cache-Status")
            answers.append((status, ctype, cache))
        image = answers[:2] == [(200, "image/png", "MISS"),
                                (200, "image/png", "HIT")]
        results.check("scale-out doc: an image MISS, then HIT", image,
                      repr(answers[:2]))
        results.check("scale-out doc: a debug error page is never a HIT",
                      all(a[0] == 200 and a[1].startswith("text/html") and
                          a[2] != "HIT" for a in answers[2:]),
                      repr(answers[2:]))
    finally:
        service_stop("nginx")
        for p in host_ports:
            pid_file = "/run/lighttpd-strixel-%d.pid" % p
            if os.path.exists(pid_file):
                with open(pid_file) as f:
                    pid = f.read().strip()
                if pid:
                    run(["kill", pid])
                # lighttpd, no longer root when it ends, only empties it.
                os.remove(pid_file)
        shutil.rmtree("/var/lib/nginx/strixel", ignore_errors=True)


def check_purged(results, files, before):
    done = run(["apt-get", "purge", "-y", "strixel"])
    results.check("apt-get purge strixel", done.returncode == 0,
                  done.stdout[-500:] + done.stderr[-500:])
    state = run(["dpkg-query", "-W", "-f=${db:Status-Status}", "strixel"])
    results.check("dpkg no longer knows the package",
                  state.returncode != 0 or
                  state.stdout in ("", "not-installed"), state.stdout)
    left = [p for p in files if os.path.lexists(p)]
    results.check("no file of the package is left", not left, " ".join(left))
    named = run(["grep", "-rl", "strixel", "/etc"]).stdout.split()
    named += run(["find", "/usr", "-name", "*strixel*"]).stdout.split()
    named += [p for p in ("/var/lib/strixel",) if os.path.lexists(p)]
    results.check("nothing of it in /etc or /usr (nor /var/lib/strixel)",
                  not named, " ".join(named))
    after = enabled_entries()
    changed = {k: (before[k], after.get(k)) for k in before
               if before[k] != after.get(k)}
    results.check("the servers' enabled modules and configurations as "
                  "before", not changed, repr(changed))


def check_system(results, out, deb, cgi):
    direct = run_cgi(cgi, {"method": "GET", "query": QUERY.encode()})
    drawn = Png(direct.output[len(PNG_HEADER):])
    before = enabled_entries()
    state = SystemState()
    port = web_servers.free_loopback_port()
    files = []
    try:
        # Apache listens on the test's port before the package's
        # installation may start or restart it.
        state.edit(APACHE_PORTS, r"(?m)^Listen 80$",
                   "Listen 127.0.0.1:%d" % port)
        source = os.path.join(os.path.dirname(deb), "strixel")  # as built
        env = dict(os.environ, APT_CONFIG=os.path.join(out, "apt.conf"))
        if not bash(results, "README's package lines install it",
                    package_lines(False, install=True), cwd=source,
                    env=env):
            return
        depends = run(["dpkg-query", "-W", "-f=${Depends}", "strixel"]).stdout
        results.check("the package depends on the shared FreeType and "
                      "libpng, not brotli",
                      "libfreetype6" in depends and "libpng16" in depends and
                      "brotli" not in depends, depends)
        files = [p for p in run(["dpkg", "-L", "strixel"]).stdout.split("\n")
                 if p.startswith("/") and not os.path.isdir(p)]
        for check in (check_apache, check_lighttpd, check_nginx,
                      check_scale_out):
            try:
                check(results, state, port, drawn)
            except (RuntimeError, OSError) as e:
                results.check(check.__name__, False, str(e))
    finally:
        state.restore()
        check_purged(results, files, before)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "apt.conf"), "w") as f:
        f.write('DPkg::Lock::Timeout "600";\n')

    results = Results()
    system = system_tests_asked()
    installed = run(["dpkg-query", "-W", "-f=${db:Status-Status}",
                     "strixel"]).stdout
    if system and installed not in ("", "not-installed"):
        results.check("strixel is not installed before the test", False,
                      "remove it first: apt-get purge strixel")
        return results.finish("package")
    deb = check_builds(results, out, system)
    if os.path.isfile(deb):
        check_lintian(results, deb)
    if not system:
        print("SKIP installing the package: it changes the system, so it "
              "runs only in CI (CI=true) or with STRIXEL_SYSTEM_TESTS=1")
    elif os.path.isfile(deb):
        check_system(results, out, deb, os.path.abspath(args.cgi))
    return results.finish("package")


if __name__ == "__main__":
    sys.exit(main())
