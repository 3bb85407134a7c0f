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
the try page must load. The FastCGI units must be installed but not
enabled, and the installed program, started as they start it, must answer
through cgi-fcgi as it does as a CGI. Then `apt-get purge` must leave
nothing of the package in /etc or /usr, and the servers' enabled modules
and configurations as they were before.

The tests run in the order written: the builds, then (in CI) one class per
server, each server stopped when its class ends (they share one port),
then the purge. Options: --cgi PATH --out FOLDER
"""

import glob
import configparser
import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import readme_snippets  # noqa: E402
import web_servers  # noqa: E402
from fastcgi_servers import CGI_FCGI, without_time_stamps  # noqa: E402
from server_checks import http_request  # noqa: E402
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


def bash(commands, cwd=None, env=None):
    """Runs pasted lines with bash -e."""
    return run(["bash", "-e", "-c", commands], cwd=cwd, env=env)


def output_end(done):
    return (done.stdout[-800:] + done.stderr[-800:]).strip()


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


@pytest.fixture(scope="module")
def system():
    """Whether the tests that change the system run; they need strixel
    not installed."""
    asked = system_tests_asked()
    installed = run(["dpkg-query", "-W", "-f=${db:Status-Status}",
                     "strixel"]).stdout
    if asked and installed not in ("", "not-installed"):
        pytest.fail("strixel is installed before the test: remove it first "
                    "(apt-get purge strixel)")
    return asked


@pytest.fixture(scope="module")
def apt_env(out):
    """apt-get waits for a lock another installation holds instead of
    failing."""
    conf = os.path.join(out, "apt.conf")
    with open(conf, "w") as f:
        f.write('DPkg::Lock::Timeout "600";\n')
    return dict(os.environ, APT_CONFIG=conf)


FOLDERS = ["one", os.path.join("two", "deeper")]


@pytest.fixture(scope="module")
def builds(out, system, apt_env):
    """Two builds at different paths: the runs of dpkg-source -b and -x,
    and by folder the run of the README's lines and the .deb's path."""
    first = os.path.join(out, "one", "strixel")
    copy_sources(first)
    # The source package, and the second build from it: the same sources,
    # whatever changes in the repository meanwhile.
    packed = run(["dpkg-source", "-b", "strixel"],
                 cwd=os.path.dirname(first))
    dsc = os.path.join(os.path.dirname(first), DSC)
    second = os.path.join(out, "two", "deeper", "strixel")
    shutil.rmtree(os.path.dirname(second), ignore_errors=True)
    os.makedirs(os.path.dirname(second))
    unpacked = run(["dpkg-source", "-x", dsc, second])
    built = {}
    for n, folder in enumerate(FOLDERS):
        source = os.path.join(out, folder, "strixel")
        # The README's lines as written, apt-get build-dep in the first.
        done = bash(package_lines(True, system and n == 0), cwd=source,
                    env=apt_env)
        built[folder] = (done, os.path.join(os.path.dirname(source), DEB))
    return {"packed": packed, "dsc": dsc, "unpacked": unpacked,
            "built": built}


def test_dpkg_source_builds_the_source_package(builds):
    packed = builds["packed"]
    assert packed.returncode == 0, output_end(packed)
    assert os.path.isfile(builds["dsc"])


def test_dpkg_source_unpacks_it(builds):
    assert builds["unpacked"].returncode == 0, output_end(builds["unpacked"])


@pytest.mark.parametrize("folder", FOLDERS)
def test_readme_package_lines_build(builds, folder):
    done, _ = builds["built"][folder]
    assert done.returncode == 0, output_end(done)


@pytest.mark.parametrize("folder", FOLDERS)
def test_the_build_writes_the_deb(builds, folder):
    done, deb = builds["built"][folder]
    assert done.returncode == 0 and os.path.isfile(deb), deb


def test_two_builds_from_the_files_and_the_source_package_give_one_deb(
        builds):
    debs = [deb for _, deb in builds["built"].values()]
    assert all(os.path.isfile(d) for d in debs), debs
    with open(debs[0], "rb") as one, open(debs[1], "rb") as two:
        assert one.read() == two.read()


def test_lintian_reports_nothing_but_overridden_tags(builds, note):
    _, deb = builds["built"][FOLDERS[0]]
    assert os.path.isfile(deb), "no package to lint"
    changes = deb[:-len(".deb")] + ".changes"
    dsc = os.path.join(os.path.dirname(deb), DSC)
    done = run(["lintian", "--pedantic", "-I", "-E", "--show-overrides",
                changes, dsc])
    note("lintian --pedantic -I -E --show-overrides (complete output):")
    for line in (done.stdout + done.stderr).splitlines():
        note("  " + line)
    tags = [line for line in done.stdout.splitlines()
            if re.match(r"[EWIPX]: ", line)]
    assert done.returncode == 0 and not tags, \
        "%d tags, exit %d" % (len(tags), done.returncode)


# --- Installed on the system (CI only) --------------------------------------

def system_tests_asked():
    return (os.environ.get("CI") == "true" or
            os.environ.get("STRIXEL_SYSTEM_TESTS") == "1")


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


class Installed:
    """The package installed by the README's lines, the servers moved to
    the test's port; purge() puts the system back and removes it."""

    def __init__(self, out, cgi, deb, apt_env):
        direct = run_cgi(cgi, {"method": "GET", "query": QUERY.encode()})
        self.drawn = Png(direct.output[len(PNG_HEADER):])
        self.before = enabled_entries()
        self.state = SystemState()
        self.port = web_servers.free_loopback_port()
        self.files = []
        self.purged = None
        # Apache listens on the test's port before the package's
        # installation may start or restart it.
        self.state.edit(APACHE_PORTS, r"(?m)^Listen 80$",
                        "Listen 127.0.0.1:%d" % self.port)
        source = os.path.join(os.path.dirname(deb), "strixel")  # as built
        self.install = bash(package_lines(False, install=True), cwd=source,
                            env=apt_env)
        if self.install.returncode == 0:
            self.files = [
                p for p in run(["dpkg", "-L", "strixel"]).stdout.split("\n")
                if p.startswith("/") and not os.path.isdir(p)]

    def purge(self):
        """The system as it was, the package purged; the purge's run."""
        if self.purged is None:
            self.state.restore()
            self.purged = run(["apt-get", "purge", "-y", "strixel"])
        return self.purged


@pytest.fixture(scope="module")
def installed(system, builds, out, cgi, apt_env):
    if not system:
        pytest.skip("installing the package changes the system, so it runs "
                    "only in CI (CI=true) or with STRIXEL_SYSTEM_TESTS=1")
    _, deb = builds["built"][FOLDERS[0]]
    if not os.path.isfile(deb):
        pytest.fail("no package was built")
    ctx = Installed(out, cgi, deb, apt_env)
    try:
        yield ctx
    finally:
        ctx.purge()


@pytest.fixture(scope="module")
def package(installed):
    """The installed package; fails the tests that need it when the
    README's lines did not install it."""
    if installed.install.returncode != 0:
        pytest.fail("the package is not installed")
    return installed


def test_readme_package_lines_install_it(installed):
    assert installed.install.returncode == 0, output_end(installed.install)


def test_the_package_depends_on_the_shared_freetype_and_libpng_not_brotli(
        package):
    depends = run(["dpkg-query", "-W", "-f=${Depends}", "strixel"]).stdout
    assert "libfreetype6" in depends and "libpng16" in depends, depends
    assert "brotli" not in depends, depends


def serves_the_barcode(package):
    status, ctype, body = http_request(package.port, "GET",
                                       "/cgi-bin/strixel.cgi?" + QUERY)
    assert (status, ctype) == (200, "image/png")
    assert (Png(body).width, Png(body).raster) == \
        (package.drawn.width, package.drawn.raster), \
        "the installed program draws another image"


def serves_the_try_page(package):
    status, ctype, body = http_request(package.port, "GET", "/strixel/")
    assert status == 200 and ctype.startswith("text/html"), \
        "%d %s" % (status, ctype)
    assert b"strixel.cgi" in body


class TestApache:
    @pytest.fixture(scope="class")
    def lines(self, package):
        """The README's apache-package lines, run beside Debian's
        serve-cgi-bin, which a2enmod cgi turned on; Apache is stopped
        when the class ends."""
        package.state.save("/etc/apache2/conf-enabled/serve-cgi-bin.conf")
        try:
            yield bash(readme_snippets.snippet("apache-package"))
        finally:
            service_stop("apache2")

    def test_the_package_enabled_its_apache_configuration(self, package):
        assert os.path.exists("/etc/apache2/conf-enabled/strixel.conf")

    def test_the_package_enabled_apaches_cgi_module(self, package):
        assert glob.glob("/etc/apache2/mods-enabled/cgi*.load")

    def test_apache2ctl_t_no_ah00671_beside_serve_cgi_bin(self, package):
        done = run(["apache2ctl", "-t"])
        assert done.returncode == 0, done.stderr.strip()
        assert "AH00671" not in done.stderr, done.stderr.strip()

    def test_readme_apache_package_lines(self, lines):
        assert lines.returncode == 0, output_end(lines)

    def test_the_installed_program_draws_the_barcode(self, package, lines):
        serves_the_barcode(package)

    def test_the_try_page_at_strixel(self, package, lines):
        serves_the_try_page(package)


class TestLighttpd:
    @pytest.fixture(scope="class")
    def lines(self, package):
        """The README's lighttpd-package lines, with lighttpd not running
        yet: they must start it. Stopped when the class ends."""
        package.state.edit(
            LIGHTTPD_CONF, r"(?m)^server\.port\s*=.*$",
            'server.port = %d\nserver.bind = "127.0.0.1"' % package.port)
        package.state.edit(
            LIGHTTPD_CONF,
            r'(?m)^include_shell "/usr/share/lighttpd/use-ipv6.pl.*$', "")
        try:
            yield bash(readme_snippets.snippet("lighttpd-package"))
        finally:
            service_stop("lighttpd")

    @pytest.fixture(scope="class")
    def with_10_cgi(self, package, lines):
        """Beside 10-cgi.conf, which runs all of /usr/lib/cgi-bin: the
        run of lighttpd's reload."""
        cgi_link = "/etc/lighttpd/conf-enabled/10-cgi.conf"
        package.state.save(cgi_link)
        if not os.path.lexists(cgi_link):
            os.symlink("../conf-available/10-cgi.conf", cgi_link)
        done = run(["service", "lighttpd", "force-reload"])
        time.sleep(0.5)
        return done

    def test_readme_lighttpd_package_lines_lighttpd_stopped(self, lines):
        assert lines.returncode == 0, output_end(lines)

    def test_the_installed_program_draws_the_barcode(self, package, lines):
        serves_the_barcode(package)

    def test_the_try_page_at_strixel(self, package, lines):
        serves_the_try_page(package)

    def test_lighttpd_reloads_with_10_cgi_conf_enabled_too(self,
                                                           with_10_cgi):
        assert with_10_cgi.returncode == 0, \
            with_10_cgi.stdout + with_10_cgi.stderr

    def test_with_10_cgi_the_installed_program_draws_the_barcode(
            self, package, with_10_cgi):
        serves_the_barcode(package)

    def test_with_10_cgi_the_try_page_at_strixel(self, package, with_10_cgi):
        serves_the_try_page(package)


class TestNginx:
    @pytest.fixture(scope="class")
    def by_hand(self):
        return not os.path.isdir("/run/systemd/system")

    @pytest.fixture(scope="class")
    def lines(self, package, by_hand):
        """fcgiwrap started by the README's lines for a machine without
        systemd (where that is one), then the nginx-package lines: the run
        of each. Stopped when the class ends, the include line taken out
        before the package goes (README.Debian)."""
        package.state.edit(NGINX_SITE, r"(?m)^\tlisten 80 default_server;$",
                           "\tlisten 127.0.0.1:%d default_server;" %
                           package.port)
        package.state.edit(NGINX_SITE,
                           r"(?m)^\tlisten \[::\]:80 default_server;\n", "")
        try:
            fcgiwrap = None
            if by_hand:
                fcgiwrap = bash(
                    readme_snippets.snippet("fcgiwrap-without-systemd"))
            yield fcgiwrap, bash(readme_snippets.snippet("nginx-package"))
        finally:
            service_stop("nginx")
            with open(NGINX_SITE) as f:
                text = f.read()
            with open(NGINX_SITE, "w") as f:
                f.write(text.replace("\tinclude snippets/strixel.conf;\n",
                                     ""))
            if by_hand:
                service_stop("fcgiwrap")

    def test_readme_fcgiwrap_start_without_systemd(self, lines, by_hand):
        if not by_hand:
            pytest.skip("systemd starts fcgiwrap here")
        assert lines[0].returncode == 0, output_end(lines[0])

    def test_readme_nginx_package_lines(self, lines):
        assert lines[1].returncode == 0, output_end(lines[1])

    def test_the_installed_program_draws_the_barcode(self, package, lines):
        serves_the_barcode(package)

    def test_the_try_page_at_strixel(self, package, lines):
        serves_the_try_page(package)


class TestScaleOut:
    """docs/scale-out.md's lines: two hosts, the balancer, its cache."""

    @pytest.fixture(scope="class")
    def started(self, package):
        """The runs of the hosts' and the balancer's lines (None when the
        hosts did not start), and the answers to an image and to a debug
        error page, each asked twice."""
        state, port = package.state, package.port
        host_ports = [web_servers.free_loopback_port() for _ in range(2)]
        moved = [("8081", str(host_ports[0])), ("8082", str(host_ports[1]))]
        hosts = readme_snippets.substitute(
            readme_snippets.snippet("scale-out-hosts", DOC),
            "scale-out-hosts", moved)
        balancer = readme_snippets.substitute(
            readme_snippets.snippet("scale-out", DOC), "scale-out",
            moved + [("listen 80 default_server;",
                      "listen 127.0.0.1:%d default_server;" % port),
                     ("listen [::]:80 default_server;", "")])
        conf = "/etc/nginx/conf.d/strixel-balancer.conf"
        host_files = ["/etc/lighttpd/strixel-%d.conf" % p for p in host_ports]
        for path in [conf, NGINX_SITE_LINK] + host_files:
            state.save(path)
        result = {"hosts": None, "balancer": None, "answers": []}
        try:
            result["hosts"] = bash(hosts)
            if result["hosts"].returncode == 0:
                with open(conf, "w") as f:
                    f.write(balancer)
                result["balancer"] = bash(
                    readme_snippets.snippet("scale-out-enable", DOC))
            if result["balancer"] and result["balancer"].returncode == 0:
                for query in (QUERY, QUERY, FAILING_DEBUG_QUERY,
                              FAILING_DEBUG_QUERY):
                    status, ctype, cache, _ = http_request(
                        port, "GET", "/cgi-bin/strixel.cgi?" + query,
                        header="X-Cache-Status")
                    result["answers"].append((status, ctype, cache))
            yield result
        finally:
            service_stop("nginx")
            for p in host_ports:
                pid_file = "/run/lighttpd-strixel-%d.pid" % p
                if os.path.exists(pid_file):
                    with open(pid_file) as f:
                        pid = f.read().strip()
                    if pid:
                        run(["kill", pid])
                    # lighttpd, no longer root when it ends, only empties
                    # it.
                    os.remove(pid_file)
            shutil.rmtree("/var/lib/nginx/strixel", ignore_errors=True)

    def test_the_two_hosts_start(self, started):
        assert started["hosts"].returncode == 0, output_end(started["hosts"])

    def test_the_balancer_starts(self, started):
        assert started["balancer"] is not None, "the hosts did not start"
        assert started["balancer"].returncode == 0, \
            output_end(started["balancer"])

    def test_an_image_miss_then_hit(self, started):
        assert started["answers"][:2] == [(200, "image/png", "MISS"),
                                          (200, "image/png", "HIT")]

    def test_a_debug_error_page_is_never_a_hit(self, started):
        answers = started["answers"][2:]
        assert len(answers) == 2, "the balancer did not answer"
        for status, ctype, cache in answers:
            assert status == 200 and ctype.startswith("text/html"), answers
            assert cache != "HIT", answers


class TestFastCgi:
    """The worker pool's units installed and not enabled; the installed
    program started as its service unit says answers through cgi-fcgi what
    it answers as a CGI, PNG, SVG and failure alike."""

    @pytest.fixture(scope="class")
    def units(self, installed):
        return {os.path.basename(p): p for p in
                glob.glob("/lib/systemd/system/strixel-fastcgi.*") +
                glob.glob("/usr/lib/systemd/system/strixel-fastcgi.*")}

    @pytest.fixture(scope="class")
    def pool(self, units):
        """The installed pool on a socket of its own, as the unit starts it."""
        if "strixel-fastcgi.service" not in units:
            pytest.fail("no service unit: %r" % units)
        unit = configparser.ConfigParser(strict=False, interpolation=None)
        unit.optionxform = str
        unit.read(units["strixel-fastcgi.service"])
        program = unit["Service"]["ExecStart"]
        name, value = unit["Service"]["Environment"].split("=", 1)
        folder = tempfile.mkdtemp(prefix="strixel-package-fcgi-")
        path = os.path.join(folder, "fastcgi.socket")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(path)
        listener.listen(16)
        started = subprocess.Popen([program], stdin=listener.fileno(),
                                   env={"PATH": "/usr/bin:/bin", name: value})
        listener.close()
        yield program, path
        started.terminate()
        started.wait(timeout=30)
        shutil.rmtree(folder, ignore_errors=True)

    def test_the_package_installs_the_fastcgi_units(self, units):
        assert sorted(units) == ["strixel-fastcgi.service",
                                 "strixel-fastcgi.socket"], units

    def test_the_fastcgi_units_are_not_enabled(self, installed):
        enabled = glob.glob("/etc/systemd/system/*/strixel-fastcgi.*")
        assert not enabled, enabled

    # (request, how the CGI's answer starts)
    @pytest.mark.parametrize("query,start", [
        (QUERY, b"Content-type: image/png"),
        (QUERY + "&fmt=svg", b"Content-type: image/svg+xml"),
        (FAILING_DEBUG_QUERY, b"Content-type: text/html"),
        ("btype=11&data=ABC", b""),
    ])
    def test_the_installed_program_over_fastcgi_answers_as_over_cgi(
            self, pool, query, start):
        program, path = pool
        answers = [subprocess.run(
            argv, capture_output=True, timeout=60, stdin=subprocess.DEVNULL,
            env={"REQUEST_METHOD": "GET", "QUERY_STRING": query})
            for argv in ([program], [CGI_FCGI, "-bind", "-connect", path])]
        cgi, fcgi = [(a.returncode, without_time_stamps(a.stdout))
                     for a in answers]
        assert cgi == fcgi, "exit %d, CGI %d" % (fcgi[0], cgi[0])
        assert cgi[1].startswith(start)
        assert (start != b"") == (cgi[1] != b"")


class TestPurge:
    """apt-get purge, once the servers' files are as they were."""

    def test_apt_get_purge_strixel(self, installed):
        done = installed.purge()
        assert done.returncode == 0, output_end(done)

    def test_dpkg_no_longer_knows_the_package(self, installed):
        installed.purge()
        state = run(["dpkg-query", "-W", "-f=${db:Status-Status}",
                     "strixel"])
        assert state.returncode != 0 or \
            state.stdout in ("", "not-installed"), state.stdout

    def test_no_file_of_the_package_is_left(self, installed):
        installed.purge()
        left = [p for p in installed.files if os.path.lexists(p)]
        assert not left

    def test_nothing_of_it_in_etc_or_usr_nor_var_lib_strixel(self,
                                                             installed):
        installed.purge()
        named = run(["grep", "-rl", "strixel", "/etc"]).stdout.split()
        named += run(["find", "/usr", "-name", "*strixel*"]).stdout.split()
        named += [p for p in ("/var/lib/strixel",) if os.path.lexists(p)]
        assert not named

    def test_the_servers_enabled_modules_and_configurations_as_before(
            self, installed):
        installed.purge()
        after = enabled_entries()
        changed = {k: (installed.before[k], after.get(k))
                   for k in installed.before
                   if installed.before[k] != after.get(k)}
        assert not changed
