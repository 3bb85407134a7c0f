"""strixel.cgi behind real web servers, and in Chromium.

lighttpd with mod_cgi, nginx with fcgiwrap and Apache with mod_cgi, each
configured with README.md's snippet for it (and the Debian package's
configurations must hold the same lines). Through each server, over HTTP
on a loopback port: one request of every barcode type (GET, and POST for
some) answers 200 with an image/png whose raster is the one the program
draws when run directly, and which the independent readers scan where they
know the symbology; the help page; a failing request with debug gets the
error page; a failing one without it gets what the server makes of a CGI
that writes nothing; a request near the length limit full of characters
that lighttpd re-encodes in a query arrives whole as a POST. lighttpd with
README.md's bound on concurrent requests answers three times as many
clients at once, never running more programs than the bound. Then headless
Chromium loads the help page and a page with one <img> per type from the
lighttpd server, and every image must load with the size of its PNG.

The checks shared with the FastCGI servers are in server_checks.py. Each
server runs for the tests of its own parameter, then stops.

Options: --cgi PATH --out FOLDER [--no-browser]
"""

import html
import os
import re
import shutil
import subprocess
import sys
import threading
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import readme_snippets  # noqa: E402
import web_servers  # noqa: E402
# The checks every server must pass, collected here with this module's
# servers.
from server_checks import (  # noqa: E402,F401
    direct_output, drawn_png, http_request,
    test_failing_request_fails_directly,
    test_failing_request_with_debug_gets_the_error_page,
    test_failing_request_without_debug_gets_the_servers_answer,
    test_head_gets_the_servers_answer, test_help_page,
    test_over_long_request_gets_the_servers_answer,
    test_post_of_a_bare_help_draws_the_default,
    test_type_answers_200_image_png, test_type_png_as_drawn,
    test_type_zbar_reads_the_served_image,
    test_type_zxing_reads_the_served_image)
from strixel_cgi import POSTAL_CASES, TYPE_CASES, Png  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402

SERVERS = [web_servers.Lighttpd, web_servers.NginxFcgiwrap,
           web_servers.ApacheCgi]


@pytest.fixture(scope="module", params=SERVERS, ids=lambda c: c.name)
def server(request, cgi, out):
    with request.param(os.path.join(out, request.param.name), cgi) as server:
        yield server


@pytest.fixture(scope="module")
def images(out):
    folder = os.path.join(out, "images")
    os.makedirs(folder, exist_ok=True)
    return folder


# --- The package's configurations --------------------------------------------

# The Debian package's configuration holding each README snippet.
PACKAGED = {"lighttpd": "lighttpd/50-strixel.conf",
            "apache": "apache2/strixel.conf",
            "nginx": "nginx/strixel.conf"}


def code_lines(text):
    """The lines that are neither blank nor comments, without indent."""
    return [line.strip() for line in text.split("\n")
            if line.strip() and not line.strip().startswith("#")]


@pytest.mark.parametrize("name", sorted(PACKAGED))
def test_debian_conf_holds_the_readme_snippet(name):
    folder = os.path.join(os.path.dirname(os.path.dirname(HERE)),
                          "debian", "conf")
    with open(os.path.join(folder, PACKAGED[name])) as f:
        text = "\n".join(code_lines(f.read()))
    wanted = "\n".join(code_lines(readme_snippets.snippet(name)))
    assert wanted in text, "debian/conf/%s" % PACKAGED[name]


# --- A long text by POST ----------------------------------------------------

# Characters that lighttpd writes as %XX in a query before the program sees
# it, three characters for one; a POST body is passed on as it is.
REENCODED_IN_QUERIES = '"<>{}|^`'


def long_text_request():
    """A request 50 characters under the length limit, half of its text
    characters that lighttpd re-encodes in a query."""
    prefix = "btype=7&h=20&text=0&data="
    text = ("Strixel" + REENCODED_IN_QUERIES) * 400
    return prefix + text[:3550 - len(prefix)]


@pytest.fixture(scope="module")
def long_post(server, cgi, note):
    """A long text sent by POST, as README.md advises: the program's own
    answer and the server's."""
    query = long_text_request()
    direct = direct_output(cgi, query, "POST")
    answer = http_request(server.port, "POST", CGI_PATH, query.encode())
    # The same text as a GET, for the record: behind lighttpd it reaches
    # the program re-encoded and over the limit.
    status = http_request(server.port, "GET", CGI_PATH + "?" + query)[0]
    note("%s GET of the %d-character text: %d" % (server.name, len(query),
                                                  status))
    return direct, answer


def test_long_post_draws_directly(long_post):
    direct = long_post[0]
    assert direct.code == 0


def test_long_post_answers_200_image_png(long_post):
    status, ctype, _ = long_post[1]
    assert (status, ctype) == (200, "image/png")


def test_long_post_reaches_the_program_whole(long_post):
    direct, (_, _, body) = long_post
    assert Png(body).raster == drawn_png(direct).raster


# --- Bounding concurrent CGI processes ---------------------------------------

class BoundedLighttpd(web_servers.Lighttpd):
    """lighttpd with README.md's bound on concurrent requests."""

    name = "lighttpd-bounded"
    bound = 2
    extra = "server.max-connections = %d\n" % bound


def cgi_children(parent):
    """How many strixel.cgi processes parent has started that still run."""
    count = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        # A program in the kernel's exit path, its files already closed
        # (or a zombie not yet reaped), has answered and runs no longer;
        # lighttpd may start the next before the last has quite gone.
        if (comm == "strixel.cgi" and ppid == parent and
                os.path.exists("/proc/%s/fd/1" % entry)):
            count += 1
    return count


CLIENTS = 3 * BoundedLighttpd.bound


@pytest.fixture(scope="module")
def crowd(cgi, out):
    """Three times as many clients at once as lighttpd's max-connections,
    two requests each: the statuses, and the most programs seen running at
    the same time."""
    query = ("btype=20&h=600&fh=300&talign=3&data=" +
             "~1B~05~11~12~13~14~15~16~17~18~19" * 30)
    folder = os.path.join(out, BoundedLighttpd.name)
    with BoundedLighttpd(folder, cgi) as server:
        parent = server.processes[0].pid
        statuses = []
        most = 0

        def client():
            for _ in range(2):
                statuses.append(http_request(
                    server.port, "GET", CGI_PATH + "?" + query)[0])

        threads = [threading.Thread(target=client) for _ in range(CLIENTS)]
        for t in threads:
            t.start()
        deadline = time.monotonic() + 120
        while any(t.is_alive() for t in threads):
            most = max(most, cgi_children(parent))
            if time.monotonic() > deadline:
                break
            time.sleep(0.005)
        for t in threads:
            t.join(timeout=60)
    return statuses, most


def test_bounded_lighttpd_answers_every_concurrent_client(crowd):
    statuses = crowd[0]
    assert statuses == [200] * (2 * CLIENTS)


def test_bounded_lighttpd_runs_at_most_its_bound_at_once(crowd):
    most = crowd[1]
    assert 0 < most <= BoundedLighttpd.bound, "%d at once" % most


# --- Chromium ---------------------------------------------------------------

IMAGE_PAGE = """<!DOCTYPE html>
<html><head><title>Strixel types</title>
<style>body {{ font-family: sans-serif; }} figure {{ display: inline-block;
margin: 6px; vertical-align: top; }} img {{ border: 1px solid #ccc; }}
</style></head>
<body>
<h1>One image per barcode type</h1>
{figures}
<pre id="sizes"></pre>
<script>
// Each image's own size once everything has loaded or failed.
function record() {{
  var lines = [];
  for (const img of document.querySelectorAll("img")) {{
    lines.push(img.dataset.btype + " " + (img.complete ? "done" : "pending") +
               " " + img.naturalWidth + " " + img.naturalHeight);
  }}
  document.getElementById("sizes").textContent = lines.join("\\n");
}}
window.addEventListener("load", record);
</script>
</body></html>
"""

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
    "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-proxy-server",
    "--disable-extensions", "--hide-scrollbars", "--mute-audio",
]


def chromium_binary():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


def run_chromium(out, name, args):
    profile = os.path.join(out, "chromium-profile-" + name)
    if os.path.exists(profile):
        shutil.rmtree(profile)
    os.makedirs(profile)
    env = dict(os.environ, HOME=profile)
    argv = ([chromium_binary()] + CHROMIUM_FLAGS +
            ["--user-data-dir=" + profile] + args)
    done = subprocess.run(argv, capture_output=True, timeout=180, env=env,
                          stdin=subprocess.DEVNULL)
    with open(os.path.join(out, "chromium-%s.log" % name), "wb") as f:
        f.write(done.stderr)
    return done


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24],
                                                               "big")


BROWSER_REQUESTS = sorted(
    [(c.btype, c.query()) for c in TYPE_CASES] +
    [(t, "btype=%d&data=%s" % (t, d)) for t, _, d in POSTAL_CASES])


@pytest.fixture(scope="module")
def browser_server(pytestconfig, cgi, out):
    """lighttpd serving a page with one <img> per type, and the folder of
    the browser's logs and screenshots."""
    if pytestconfig.getoption("no_browser"):
        pytest.skip("--no-browser")
    assert chromium_binary() is not None, "chromium is not installed"
    browser_out = os.path.join(out, "browser")
    os.makedirs(browser_out, exist_ok=True)
    figures = "\n".join(
        '<figure><img data-btype="%d" src="%s?%s" alt="type %d">'
        '<figcaption>%d</figcaption></figure>' %
        (t, CGI_PATH, html.escape(q), t, t) for t, q in BROWSER_REQUESTS)
    with web_servers.Lighttpd(os.path.join(out, "lighttpd-browser"),
                              cgi) as server:
        with open(os.path.join(server.docroot, "types.html"), "w") as f:
            f.write(IMAGE_PAGE.format(figures=figures))
        yield server, browser_out


@pytest.fixture(scope="module")
def types_page(browser_server):
    """The size of each type's PNG as served, and what Chromium reports
    of each image: {btype: (state, width, height)}; and its exit code."""
    server, browser_out = browser_server
    expected = {}
    for t, q in BROWSER_REQUESTS:
        status, ctype, body = http_request(server.port, "GET",
                                           CGI_PATH + "?" + q)
        if status == 200 and ctype == "image/png":
            expected[t] = (Png(body).width, Png(body).height)
    done = run_chromium(browser_out, "types", [
        "--virtual-time-budget=20000", "--dump-dom",
        server.url("types.html")])
    match = re.search(r'<pre id="sizes">(.*?)</pre>',
                      done.stdout.decode("utf-8", "replace"), re.S)
    seen = {}
    if match:
        for line in match.group(1).strip().splitlines():
            t, state, w, h = line.split()
            seen[int(t)] = (state, int(w), int(h))
    return expected, seen, done.returncode


def test_chromium_reports_every_image(types_page):
    _, seen, code = types_page
    assert len(seen) == len(BROWSER_REQUESTS), "exit %d" % code


@pytest.mark.parametrize("btype", [t for t, _ in BROWSER_REQUESTS])
def test_chromium_loads_the_type_at_the_size_of_its_png(types_page, btype):
    expected, seen, _ = types_page
    state, w, h = seen.get(btype, ("missing", 0, 0))
    assert btype in expected, "no PNG served"
    assert (state, (w, h)) == ("done", expected[btype])


def screenshot(browser_server, name, budget, size, path):
    server, browser_out = browser_server
    shot = os.path.join(browser_out, name + ".png")
    if os.path.exists(shot):
        os.remove(shot)
    run_chromium(browser_out, name + "-shot", [
        "--virtual-time-budget=%d" % budget, "--window-size=%d,%d" % size,
        "--screenshot=" + shot, server.url(path)])
    return png_size(shot) if os.path.exists(shot) else None


def test_chromium_screenshot_of_the_types_page(browser_server):
    size = (1280, 2200)
    assert screenshot(browser_server, "types", 20000, size,
                      "types.html") == size


def test_chromium_renders_the_help_page(browser_server):
    server, browser_out = browser_server
    done = run_chromium(browser_out, "help", [
        "--virtual-time-budget=5000", "--dump-dom",
        server.url(CGI_PATH + "?help=1")])
    dom = done.stdout.decode("utf-8", "replace")
    assert "<title>Strixel application</title>" in dom
    assert "Strixel Application. Version 1.3" in dom
    assert dom.count("<tr") == 26


def test_chromium_screenshot_of_the_help_page(browser_server):
    size = (1000, 1400)
    assert screenshot(browser_server, "help", 5000, size,
                      CGI_PATH + "?help=1") == size
