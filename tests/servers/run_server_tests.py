#!/usr/bin/python3
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

Usage: run_server_tests.py --cgi PATH --out FOLDER [--no-browser]
"""

import argparse
import html
import http.client
import os
import re
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

import web_servers  # noqa: E402
import readme_snippets  # noqa: E402
from web_servers import CGI_PATH  # noqa: E402
from strixel_cgi import (HTML_HEADER, POSTAL_CASES, TYPE_CASES,  # noqa: E402
                         BadResponse, Png, error_page, run_cgi)

# Types also sent by POST, as a form body.
POST_TYPES = (2, 7, 11, 15, 21)

# What a client gets when the program fails without debug and so writes
# nothing at all: (status, content type, a piece of the body).
EMPTY_CGI_ANSWERS = {
    "lighttpd": (500, "text/html", b"<h1>500 Internal Server Error</h1>"),
    "nginx": (502, "text/plain",
              b"An error occurred while reading CGI reply "
              b"(no response received)"),
    "apache": (500, "text/html; charset=iso-8859-1",
               b"<h1>Internal Server Error</h1>"),
}

# The failing requests of the error-page checks and the exit code each ends
# with when run directly.
FAILING_REQUESTS = [
    ("EAN-13 of letters", "btype=11&data=ABC", 6),
    ("POSTNET of letters", "btype=17&data=12A45", 6),
    ("PLANET in too small a box", "btype=18&data=12345678901&w=100", 5),
    ("no length for an empty text", "data=&quiet=0", 1),
    ("a box too small", "w=20&h=10", 5),
]


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def check(self, name, condition, detail=""):
        if condition:
            self.passed += 1
            print("PASS " + name)
        else:
            self.failed.append(name)
            print("FAIL %s%s" % (name, ": " + detail if detail else ""))
        return condition

    def finish(self, suite):
        """Lists the failed checks and the suite's closing line; the exit
        code of the suite."""
        for name in self.failed:
            print("FAILED: " + name)
        print("%s: %d passed, %d failed" % (suite, self.passed,
                                            len(self.failed)))
        return 1 if self.failed else 0


def http_request(port, method, path, body=None, header=None):
    """One request on 127.0.0.1:port: the status, the content type, the
    body, and with header also that response header ("" when absent)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    headers = {}
    if body is not None:
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    data = response.read()
    content_type = response.getheader("Content-Type", "")
    extra = response.getheader(header, "") if header else None
    connection.close()
    if header:
        return response.status, content_type, extra, data
    return response.status, content_type, data


def direct_output(cgi, query, method="GET"):
    if method == "GET":
        case = {"method": "GET", "query": query.encode()}
    else:
        body = query.encode()
        case = {"method": "POST", "body": body,
                "content_length": str(len(body))}
    return run_cgi(cgi, case)


def read_barcode(argv):
    try:
        done = subprocess.run(argv, capture_output=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    return done.stdout.decode("latin-1").strip()


def check_image_types(results, server, cgi, images):
    for case in TYPE_CASES:
        methods = ["GET"] + (["POST"] if case.btype in POST_TYPES else [])
        for method in methods:
            name = "%s %s type %d (%s)" % (server.name, method, case.btype,
                                          case.name)
            query = case.query()
            direct = direct_output(cgi, query, method)
            if direct.code != 0:
                results.check(name, False, "the program itself ends with %r" %
                              direct.code)
                continue
            if method == "GET":
                status, ctype, body = http_request(
                    server.port, "GET", CGI_PATH + "?" + query)
            else:
                status, ctype, body = http_request(
                    server.port, "POST", CGI_PATH, query.encode())
            if not results.check(name + ": 200 image/png",
                                 status == 200 and ctype == "image/png",
                                 "%d %s" % (status, ctype)):
                continue
            try:
                served = Png(body)
                drawn = Png(direct.output[len(b"Content-type: image/png\n\n"):])
            except BadResponse as e:
                results.check(name + ": PNG", False, str(e))
                continue
            results.check(name + ": PNG as drawn",
                          (served.width, served.height, served.raster) ==
                          (drawn.width, drawn.height, drawn.raster),
                          "served %dx%d, drawn %dx%d" %
                          (served.width, served.height, drawn.width,
                           drawn.height))
            path = os.path.join(images, "%s-%s-type%02d.png" %
                                (server.name, method.lower(), case.btype))
            with open(path, "wb") as f:
                f.write(body)
            if case.zbar is not None:
                got = read_barcode(["zbarimg", "--quiet", "--raw", path])
                results.check(name + ": zbar reads " + case.zbar,
                              got == case.zbar, "read %r" % got)
            if case.zxing is not None:
                got = read_barcode(["ZXingReader", "-bytes", path])
                results.check(name + ": ZXing reads " + case.zxing,
                              got == case.zxing, "read %r" % got)


def check_pages(results, server, cgi):
    help_direct = direct_output(cgi, "help=1").output
    status, ctype, body = http_request(server.port, "GET",
                                       CGI_PATH + "?help=1")
    results.check("%s help page" % server.name,
                  status == 200 and ctype == "text/html" and
                  HTML_HEADER + body == help_direct,
                  "%d %s" % (status, ctype))
    status, ctype, body = http_request(server.port, "POST", CGI_PATH,
                                       b"help")
    # "help" alone is no parameter: the default Code 128 image.
    results.check("%s POST of a bare 'help' draws the default" % server.name,
                  status == 200 and ctype == "image/png",
                  "%d %s" % (status, ctype))

    want_status, want_type, want_piece = EMPTY_CGI_ANSWERS[server.name]
    for label, query, _ in FAILING_REQUESTS:
        code = direct_output(cgi, query).code
        if not results.check("%s %s fails directly" % (server.name, label),
                             code not in (0, None), "exit code %r" % code):
            continue
        status, ctype, body = http_request(
            server.port, "GET", CGI_PATH + "?" + query + "&debug=1")
        results.check("%s %s with debug: error page %d" %
                      (server.name, label, code),
                      status == 200 and ctype == "text/html" and
                      HTML_HEADER + body == error_page(code),
                      "%d %s %r" % (status, ctype, body[:120]))
        for method in ("GET", "POST"):
            if method == "GET":
                answer = http_request(server.port, "GET",
                                      CGI_PATH + "?" + query)
            else:
                answer = http_request(server.port, "POST", CGI_PATH,
                                      query.encode())
            status, ctype, body = answer
            results.check("%s %s %s without debug: %d %s" %
                          (server.name, label, method, want_status, want_type),
                          status == want_status and ctype == want_type and
                          want_piece in body,
                          "%d %s %r" % (status, ctype, body[:120]))

    # Failures before the parameters are read write nothing even with
    # debug: an over-long request, a short POST body.
    long_query = "debug=1&data=" + "7" * 3600
    status, ctype, body = http_request(server.port, "GET",
                                       CGI_PATH + "?" + long_query)
    results.check("%s over-long request: %d" % (server.name, want_status),
                  status == want_status and want_piece in body,
                  "%d %s" % (status, ctype))
    status, ctype, body = http_request(server.port, "HEAD",
                                       CGI_PATH + "?data=1")
    results.check("%s HEAD: %d" % (server.name, want_status),
                  status == want_status, "%d %s" % (status, ctype))


# The Debian package's configuration holding each README snippet.
PACKAGED = {"lighttpd": "lighttpd/50-strixel.conf",
            "apache": "apache2/strixel.conf",
            "nginx": "nginx/strixel.conf"}


def code_lines(text):
    """The lines that are neither blank nor comments, without indent."""
    return [line.strip() for line in text.split("\n")
            if line.strip() and not line.strip().startswith("#")]


def check_examples(results):
    folder = os.path.join(os.path.dirname(os.path.dirname(HERE)),
                          "debian", "conf")
    for name, packaged in sorted(PACKAGED.items()):
        with open(os.path.join(folder, packaged)) as f:
            text = "\n".join(code_lines(f.read()))
        wanted = "\n".join(code_lines(readme_snippets.snippet(name)))
        results.check("debian/conf/%s holds README's %s snippet" %
                      (packaged, name), wanted in text)


# Characters that lighttpd writes as %XX in a query before the program sees
# it, three characters for one; a POST body is passed on as it is.
REENCODED_IN_QUERIES = '"<>{}|^`'


def long_text_request():
    """A request 50 characters under the length limit, half of its text
    characters that lighttpd re-encodes in a query."""
    prefix = "btype=7&h=20&text=0&data="
    text = ("Strixel" + REENCODED_IN_QUERIES) * 400
    return prefix + text[:3550 - len(prefix)]


def check_long_text(results, server, cgi):
    """A long text sent by POST, as README.md advises, reaches the program
    whole through the server."""
    query = long_text_request()
    direct = direct_output(cgi, query, "POST")
    name = "%s POST of a %d-character request" % (server.name, len(query))
    if not results.check(name + " draws directly", direct.code == 0,
                         "exit code %r" % direct.code):
        return
    status, ctype, body = http_request(server.port, "POST", CGI_PATH,
                                       query.encode())
    if not results.check(name + ": 200 image/png",
                         status == 200 and ctype == "image/png",
                         "%d %s" % (status, ctype)):
        return
    try:
        served = Png(body)
        drawn = Png(direct.output[len(b"Content-type: image/png\n\n"):])
    except BadResponse as e:
        results.check(name + ": PNG", False, str(e))
        return
    results.check(name + ": PNG as drawn", served.raster == drawn.raster)
    # The same text as a GET, for the record: behind lighttpd it reaches
    # the program re-encoded and over the limit.
    status, _, _ = http_request(server.port, "GET", CGI_PATH + "?" + query)
    print("note: %s GET of the same text: %d" % (server.name, status))


def check_server(results, server_class, cgi, out):
    folder = os.path.join(out, server_class.name)
    images = os.path.join(out, "images")
    os.makedirs(images, exist_ok=True)
    try:
        with server_class(folder, cgi) as server:
            print("== %s on 127.0.0.1:%d" % (server.name, server.port))
            check_image_types(results, server, cgi, images)
            check_pages(results, server, cgi)
            check_long_text(results, server, cgi)
    except (RuntimeError, OSError) as e:
        results.check("%s starts and serves" % server_class.name, False,
                      str(e))


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
        if comm == "strixel.cgi" and ppid == parent:
            count += 1
    return count


def check_concurrency_bound(results, cgi, out):
    """Three times as many clients at once as lighttpd's max-connections:
    every request is answered, and never more than that many programs run
    at the same time."""
    query = ("btype=20&h=600&fh=300&talign=3&data=" +
             "~1B~05~11~12~13~14~15~16~17~18~19" * 30)
    clients = 3 * BoundedLighttpd.bound
    folder = os.path.join(out, BoundedLighttpd.name)
    try:
        with BoundedLighttpd(folder, cgi) as server:
            print("== %s on 127.0.0.1:%d" % (server.name, server.port))
            parent = server.processes[0].pid
            statuses = []
            most = 0

            def client():
                for _ in range(2):
                    statuses.append(http_request(
                        server.port, "GET", CGI_PATH + "?" + query)[0])

            threads = [threading.Thread(target=client)
                       for _ in range(clients)]
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
            results.check("%s: %d concurrent clients all answered 200" %
                          (server.name, clients),
                          statuses == [200] * (2 * clients),
                          "statuses %r" % statuses)
            results.check("%s: at most %d programs at once" %
                          (server.name, server.bound),
                          0 < most <= server.bound, "%d at once" % most)
    except (RuntimeError, OSError) as e:
        results.check("%s starts and serves" % BoundedLighttpd.name, False,
                      str(e))


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


def check_browser(results, cgi, out):
    if chromium_binary() is None:
        results.check("chromium is installed", False)
        return
    folder = os.path.join(out, "lighttpd-browser")
    browser_out = os.path.join(out, "browser")
    os.makedirs(browser_out, exist_ok=True)
    requests = [(c.btype, c.query()) for c in TYPE_CASES]
    requests += [(t, "btype=%d&data=%s" % (t, d)) for t, _, d in POSTAL_CASES]
    requests.sort()
    figures = "\n".join(
        '<figure><img data-btype="%d" src="%s?%s" alt="type %d">'
        '<figcaption>%d</figcaption></figure>' %
        (t, CGI_PATH, html.escape(q), t, t) for t, q in requests)
    with web_servers.Lighttpd(folder, cgi) as server:
        with open(os.path.join(server.docroot, "types.html"), "w") as f:
            f.write(IMAGE_PAGE.format(figures=figures))
        expected = {}
        for t, q in requests:
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
        results.check("chromium reports every image", len(seen) ==
                      len(requests), "saw %d of %d; exit %d" %
                      (len(seen), len(requests), done.returncode))
        for t, _ in requests:
            state, w, h = seen.get(t, ("missing", 0, 0))
            results.check("chromium type %d loads at %s" %
                          (t, "%dx%d" % expected[t] if t in expected
                           else "the size of its PNG"),
                          state == "done" and (w, h) == expected.get(t),
                          "%s %dx%d" % (state, w, h))

        shot = os.path.join(browser_out, "types.png")
        if os.path.exists(shot):
            os.remove(shot)
        run_chromium(browser_out, "types-shot", [
            "--virtual-time-budget=20000", "--window-size=1280,2200",
            "--screenshot=" + shot, server.url("types.html")])
        results.check("chromium screenshot of the types page",
                      png_size(shot) == (1280, 2200), repr(png_size(shot)))

        done = run_chromium(browser_out, "help", [
            "--virtual-time-budget=5000", "--dump-dom",
            server.url(CGI_PATH + "?help=1")])
        dom = done.stdout.decode("utf-8", "replace")
        results.check("chromium renders the help page",
                      "<title>Strixel application</title>" in dom and
                      "Strixel Application. Version 1.3" in dom and
                      dom.count("<tr") == 26,
                      "rows %d" % dom.count("<tr"))
        shot = os.path.join(browser_out, "help.png")
        run_chromium(browser_out, "help-shot", [
            "--virtual-time-budget=5000", "--window-size=1000,1400",
            "--screenshot=" + shot, server.url(CGI_PATH + "?help=1")])
        results.check("chromium screenshot of the help page",
                      png_size(shot) == (1000, 1400), repr(png_size(shot)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--no-browser", action="store_true")
    args = parser.parse_args()
    cgi = os.path.abspath(args.cgi)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)

    results = Results()
    check_examples(results)
    check_server(results, web_servers.Lighttpd, cgi, out)
    check_server(results, web_servers.NginxFcgiwrap, cgi, out)
    check_server(results, web_servers.ApacheCgi, cgi, out)
    check_concurrency_bound(results, cgi, out)
    if not args.no_browser:
        print("== chromium")
        try:
            check_browser(results, cgi, out)
        except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
            results.check("chromium run", False, str(e))
    return results.finish("servers")


if __name__ == "__main__":
    sys.exit(main())
